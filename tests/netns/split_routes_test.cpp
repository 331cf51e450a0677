// Split routing end to end: the real routing logic and workers with the
// netlink backend and the system resolver, a dnsmasq on the namespace's
// loopback answering test names, and the namespace's routing table read
// back with `ip -j route` and watched with `ip monitor route`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "routing/config_paths.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"
#include "routing/split_workers.h"
#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

using routing::SplitEntry;
using Texts = std::vector<std::string>;

// Lines of the namespace: v0 192.0.2.1, v1 198.51.100.1, v2 203.0.113.1.
constexpr char kLine0[] = "192.0.2.1";
constexpr char kLine1[] = "198.51.100.1";
constexpr char kLine2[] = "203.0.113.1";

// The routes of the test networks (198.18.0.0/15), as "DST via GW".
Texts SplitRoutes() {
  Texts out;
  for (const std::string& t : RouteTexts()) {
    if (t.rfind("198.18.", 0) != 0 && t.rfind("198.19.", 0) != 0) continue;
    out.push_back(t.substr(0, t.find(" dev ")));
  }
  return out;
}

class NetnsSplitRoutes : public RouterNamespaceTest {
 protected:
  // Starts the test DNS with the names every test knows, and `more`.
  void StartDns(std::map<std::string, Texts> more = {}) {
    more["multi.example.test"] = {"198.18.1.5", "198.18.1.6", "198.18.2.7"};
    more["one.example.test"] = {"198.18.1.9"};
    more["three.example.test"] = {"198.18.3.3"};
    dns_ = std::make_unique<TestDns>(more);
    ASSERT_TRUE(dns_->Ready()) << "dnsmasq did not answer";
  }

  std::unique_ptr<TestDns> dns_;
};

TEST_F(NetnsSplitRoutes, ANameIsRoutedThroughItsLineAndTheLaterEntryDecidesASharedNetwork) {
  StartDns();
  Store("multi.example.test", kLine1);   // three addresses in two /24 networks
  Store("nosuch.example.test", kLine0);  // does not resolve: changes nothing
  Store("198.18.4.20", kLine2);          // an address: routed without any answer
  router_->RouteAllEntries();
  EXPECT_EQ(SplitRoutes(), (Texts{"198.18.1.0/24 via 198.51.100.1", "198.18.2.0/24 via 198.51.100.1",
                                  "198.18.4.0/24 via 203.0.113.1"}));

  // A later entry whose answer shares 198.18.1.0/24 takes it to its line;
  // once that one is disabled, the network goes back to the enabled one's
  // line: a disabled entry never takes away what an enabled one asks for.
  Store("one.example.test", kLine2);
  router_->RouteAllEntries();
  EXPECT_EQ(SplitRoutes(), (Texts{"198.18.1.0/24 via 203.0.113.1", "198.18.2.0/24 via 198.51.100.1",
                                  "198.18.4.0/24 via 203.0.113.1"}));
  Store("three.example.test", kLine0);
  ASSERT_TRUE(store_->SetStatus("one.example.test", routing::kDisabled));
  router_->RouteAllEntries();
  EXPECT_EQ(SplitRoutes(), (Texts{"198.18.1.0/24 via 198.51.100.1", "198.18.2.0/24 via 198.51.100.1",
                                  "198.18.3.0/24 via 192.0.2.1", "198.18.4.0/24 via 203.0.113.1"}));
}

TEST_F(NetnsSplitRoutes, DisablingRemovesTheRoutesAndASteadyPassChangesNothing) {
  StartDns();
  Store("multi.example.test", kLine1);
  Store("three.example.test", kLine2);
  router_->RouteAllEntries();
  ASSERT_EQ(SplitRoutes().size(), 3u);

  RouteMonitor monitor;
  ASSERT_TRUE(monitor.Mark());
  const platform::RouteReport steady = router_->RouteAllEntries();
  ASSERT_TRUE(monitor.Mark());
  EXPECT_THAT(monitor.Since(), ::testing::IsEmpty()) << "a pass with nothing changed touched the table";
  EXPECT_EQ(steady.added + steady.replaced + steady.deleted, 0);
  EXPECT_EQ(steady.kept, 3);

  ASSERT_TRUE(store_->SetStatus("multi.example.test", routing::kDisabled));
  router_->RouteAllEntries();
  EXPECT_EQ(SplitRoutes(), (Texts{"198.18.3.0/24 via 203.0.113.1"}));
  // A deleted entry's routes stay; so do routes to networks no answer names.
  ASSERT_TRUE(store_->Remove("three.example.test"));
  IpOk({"route", "add", "198.18.9.0/24", "via", kLine0});
  router_->RouteAllEntries();
  EXPECT_EQ(SplitRoutes(), (Texts{"198.18.3.0/24 via 203.0.113.1", "198.18.9.0/24 via 192.0.2.1"}));
}

TEST_F(NetnsSplitRoutes, AWrongRouteIsReplacedWithoutAGapAndOwnNetworksAreLeftAlone) {
  StartDns({{"lan.example.test", {"192.0.2.77", "198.18.6.1"}}});
  IpOk({"route", "add", "198.18.1.0/24", "via", kLine2});               // wrong gateway, metric 0
  IpOk({"route", "add", "198.18.2.0/24", "via", kLine2, "metric", "50"});  // another metric
  IpOk({"route", "append", "198.18.2.0/24", "via", kLine0, "metric", "50"});  // and one beside it
  Store("multi.example.test", kLine1);
  Store("lan.example.test", kLine2);  // 192.0.2.0/24 is v0's own network
  RouteMonitor monitor;
  ASSERT_TRUE(monitor.Mark());
  router_->RouteAllEntries();
  ASSERT_TRUE(monitor.Mark());
  EXPECT_EQ(SplitRoutes(), (Texts{"198.18.1.0/24 via 198.51.100.1", "198.18.2.0/24 via 198.51.100.1",
                                  "198.18.6.0/24 via 203.0.113.1"}));
  // The monitor saw the new route come, and the old one never go first.
  const Texts seen = monitor.Since();
  EXPECT_THAT(seen, ::testing::Contains(::testing::HasSubstr("198.18.1.0/24 via 198.51.100.1")));
  EXPECT_THAT(seen, ::testing::Not(::testing::Contains(::testing::HasSubstr("Deleted 198.18.1.0/24"))));
  EXPECT_THAT(RouteTexts(), ::testing::Contains("192.0.2.0/24 dev v0 metric 0"));
}

TEST_F(NetnsSplitRoutes, AnAddWhileAPassRunsLosesNothing) {
  // Enough names that the pass takes a while, and five more to add.
  std::map<std::string, Texts> names;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "bulk" + std::to_string(i) + ".example.test";
    names[name] = {"198.19." + std::to_string(i % 250) + ".1"};
  }
  for (int i = 0; i < 5; ++i) names["new" + std::to_string(i) + ".example.test"] = {"198.18.20" + std::to_string(i) + ".1"};
  StartDns(names);
  for (int i = 0; i < 300; ++i) Store("bulk" + std::to_string(i) + ".example.test", kLine0);

  routing::SplitWorkers workers(*sys_, *router_, {});
  ASSERT_TRUE(workers.StartReapply());
  for (int i = 0; i < 5; ++i) {
    const std::string name = "new" + std::to_string(i) + ".example.test";
    EXPECT_EQ(router_->AddEntry({name, kLine1, "新"}).result, routing::AddOutcome::Stored) << name;
  }
  workers.Stop();
  while (workers.Busy()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  router_->RouteAllEntries();
  const std::vector<SplitEntry> entries = store_->Entries();
  EXPECT_EQ(entries.size(), 305u);
  const Texts routes = SplitRoutes();
  for (int i = 0; i < 5; ++i) {
    const std::string name = "new" + std::to_string(i) + ".example.test";
    EXPECT_EQ(std::count(entries.begin(), entries.end(), SplitEntry{name, kLine1, "1", "新"}), 1) << name;
    EXPECT_THAT(routes, ::testing::Contains("198.18.20" + std::to_string(i) + ".0/24 via 198.51.100.1"));
  }
}

}  // namespace
}  // namespace quillon::netns
