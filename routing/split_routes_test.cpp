#include "routing/split_routes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "platform/fake/test_window.h"
#include "routing/config_paths.h"

namespace quillon::routing {
namespace {

using platform::Control;
using platform::FakeSystem;
using platform::FakeUi;
using Texts = std::vector<std::string>;

constexpr char kStore[] = "/q/分流器配置/http.ini";

// A lookup answer as the tool prints it, the DNS server's address first.
std::string Answer(const std::string& name, const Texts& addresses) {
  std::string text = "服务器:  UnKnown\r\nAddress:  192.0.2.53\r\n\r\n非权威应答:\r\n名称:    " + name + "\r\nAddresses:  ";
  for (const auto& a : addresses) text += a + "\r\n\t  ";
  return text;
}
const std::string kNoAnswer = "服务器:  UnKnown\r\nAddress:  192.0.2.53\r\n\r\n*** UnKnown 找不到 x: Non-existent domain\r\n";

TEST(ExtractAnswerAddresses, TakesOnlyTheAnswerAfterTheMarker) {
  EXPECT_EQ(ExtractAnswerAddresses(Answer("a.test", {"198.18.1.5", "198.18.2.7"}), "a.test"),
            (AnswerAddresses{true, {"198.18.1.5", "198.18.2.7"}}));
  EXPECT_EQ(ExtractAnswerAddresses(kNoAnswer, "a.test"), (AnswerAddresses{false, {}}));
  EXPECT_EQ(ExtractAnswerAddresses("", "a.test"), (AnswerAddresses{false, {}}));
  // An address as destination counts without any answer; so does one inside a URL.
  EXPECT_EQ(ExtractAnswerAddresses(kNoAnswer, "198.18.3.9"), (AnswerAddresses{true, {"198.18.3.9"}}));
  EXPECT_EQ(ExtractAnswerAddresses("", "http://198.18.3.9/x"), (AnswerAddresses{true, {"198.18.3.9"}}));
  EXPECT_EQ(ExtractAnswerAddresses("", "http://a.test/x"), (AnswerAddresses{false, {}}));
  // The answer ends at a second marker: the IP marker's destination is not read then.
  EXPECT_EQ(ExtractAnswerAddresses(Answer("r.test", {"198.18.4.4"}), "198.18.3.9").addresses, Texts{"198.18.4.4"});
  // An English system labels the answer "Name:".
  EXPECT_EQ(ExtractAnswerAddresses("Server:  x\r\nAddress:  192.0.2.53\r\n\r\nName:    e.test\r\nAddress:  198.18.5.5\r\n",
                                   "e.test"),
            (AnswerAddresses{true, {"198.18.5.5"}}));
}

TEST(NetworkOf, KeepsThreePartsAndEndsInZero) {
  EXPECT_EQ(NetworkOf("198.18.1.5"), "198.18.1.0");
  EXPECT_EQ(NetworkOf("198.18.1"), "");
  EXPECT_EQ(NetworkOf("1.2.3.4.5"), "");
}

class RouteAllEntriesTest : public ::testing::Test {
 protected:
  RouteAllEntriesTest() : ui(platform::TestWindowSpec()), router(sys, ui) {
    sys.directories.insert("/q/分流器配置");
    sys.adapters = {{"v0", "veth", "", "192.0.2.2", "255.255.255.0", "192.0.2.1"}};
  }
  void Store(const std::string& dest, const std::string& line, const std::string& status = "1",
             const std::string& note = "") {
    ASSERT_TRUE(WriteSplitEntry(sys, kStore, {dest, line, status, note}));
  }
  FakeSystem sys;
  FakeUi ui;
  SplitRouter router;
};

TEST_F(RouteAllEntriesTest, RoutesEachAnswerNetworkInStoreOrder) {
  sys.lookups = {{"multi.test", Answer("multi.test", {"198.18.1.5", "198.18.1.6", "198.18.2.7"})},
                 {"nosuch.test", kNoAnswer},
                 {"198.18.3.9", kNoAnswer},
                 {"off.test", Answer("off.test", {"198.18.4.1"})},
                 {"noline.test", Answer("noline.test", {"198.18.5.1"})},
                 {"badline.test", Answer("badline.test", {"198.18.6.1"})},
                 {"odd.test", Answer("odd.test", {"0.0.0.7", "192.0.2.77", "224.1.1.1", "198.18.7.1"})}};
  Store("multi.test", "198.51.100.1");
  Store("nosuch.test", "198.51.100.1");
  Store("198.18.3.9", "203.0.113.1");
  Store("off.test", "203.0.113.1", "-1");
  Store("noline.test", "");
  Store("badline.test", "203.0.113.1&calc");
  Store("odd.test", "192.0.2.1");
  sys.inis[kStore].push_back({"multi.test", {{"xl", "192.0.2.1"}}});  // a second section of that name: routed once
  router.RouteAllEntries();
  EXPECT_EQ(sys.routeRequests,
            (Texts{"delete 198.18.1.0", "add 198.18.1.0 198.51.100.1", "delete 198.18.1.0",
                   "add 198.18.1.0 198.51.100.1", "delete 198.18.2.0", "add 198.18.2.0 198.51.100.1",
                   "delete 198.18.3.0", "add 198.18.3.0 203.0.113.1",
                   // disabled, without a line, with a line that is no gateway: deletes only
                   "delete 198.18.4.0", "delete 198.18.5.0", "delete 198.18.6.0",
                   // 0.0.0.0, the machine's own network and multicast are never routed
                   "delete 198.18.7.0", "add 198.18.7.0 192.0.2.1"}));
  EXPECT_EQ(sys.routePasses, 1);
  EXPECT_EQ(std::count(sys.lookedUp.begin(), sys.lookedUp.end(), "multi.test"), 1);
  EXPECT_EQ(std::count_if(sys.calls.begin(), sys.calls.end(), [](const std::string& c) { return c.rfind("IniSections", 0) == 0; }), 1)
      << "the section names are read once per run";
  EXPECT_EQ(router.WorkingList().size(), 7u);
  EXPECT_EQ(ui.texts[Control::透明标签4], "") << "the status label is cleared after each destination";
}

TEST_F(RouteAllEntriesTest, SkipsUnsafeEntriesAndLookupsThatDidNotStart) {
  sys.lookupsNotStarted = {"down.test"};
  Store("a.test&echo x>pwned", "192.0.2.1");
  Store("-d2", "192.0.2.1");
  Store("bar.test", "192.0.2.1", "1", "a|b");  // a "|" in any field
  Store("down.test", "192.0.2.1");
  router.RouteAllEntries();
  EXPECT_EQ(sys.lookedUp, Texts{"down.test"});
  EXPECT_TRUE(sys.routeRequests.empty());
}

TEST_F(RouteAllEntriesTest, AnEmptyStoreRunsNothing) {
  router.RouteAllEntries();
  EXPECT_TRUE(sys.lookedUp.empty());
  EXPECT_EQ(sys.routePasses, 0);
  EXPECT_TRUE(router.WorkingList().empty());
}

TEST_F(RouteAllEntriesTest, LookupsAtOnceGiveTheSameRequestsInStoreOrder) {
  sys.lookupsMayOverlap = true;
  for (int i = 0; i < 100; ++i) {
    const std::string name = "n" + std::to_string(i) + ".test";
    sys.lookups[name] = Answer(name, {"198.18." + std::to_string(i) + ".1"});
    Store(name, "192.0.2.1");
  }
  router.RouteAllEntries();
  ASSERT_EQ(sys.routeRequests.size(), 200u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(sys.routeRequests[2 * i + 1], "add 198.18." + std::to_string(i) + ".0 192.0.2.1");
  }
}

}  // namespace
}  // namespace quillon::routing
