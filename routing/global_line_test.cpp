#include "routing/global_line.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "platform/fake/test_window.h"
#include "routing/config_paths.h"

namespace quillon::routing {
namespace {

using platform::AnswerCancel;
using platform::AnswerOk;
using platform::Control;
using platform::FakeSystem;
using platform::FakeUi;
using Box = FakeUi::Box;
using Texts = std::vector<std::string>;

constexpr const char* kStore = "/q/分流器配置/qj.ini";
const Box kConfirm{"是否确认修改本机默认全局网卡配置？", 1, "注意"};
const Box kDone{"操作已完成,如果配置没生效，请重启需要分流的应用即可。", 0, "注意"};

class GlobalLineTest : public ::testing::Test {
 protected:
  GlobalLineTest() : ui(platform::TestWindowSpec()) {
    sys.directories.insert("/q/分流器配置");
    sys.gatewayText = "192.0.2.1;198.51.100.1;203.0.113.1;";
  }
  std::string Stored(const std::string& gw) { return sys.IniValue(kStore, gw, "id").value_or("(none)"); }
  // Route requests, discoveries and writes of the store ("write G=M"), in
  // the order they happened.
  Texts RouteCalls() {
    const std::string write = std::string("IniWrite ") + kStore + " [";
    Texts out;
    for (const auto& c : sys.calls) {
      if (c.rfind("add default", 0) == 0 || c == "delete default" || c == "DiscoverGateways") out.push_back(c);
      if (c.rfind(write, 0) == 0) {
        std::string rest = c.substr(write.size());  // "G] id=M"
        out.push_back("write " + rest.replace(rest.find("] id="), 5, "="));
      }
    }
    return out;
  }
  FakeSystem sys;
  FakeUi ui;
};

TEST_F(GlobalLineTest, ApplyGivesTheChosenLineMetricOneAndTheOthersTheirPositions) {
  ui.texts[Control::组合框2] = "198.51.100.1";
  ui.answers = {AnswerOk, AnswerOk};
  ApplyGlobalLine(sys, ui);
  // Each line's value is stored right after its route request.
  EXPECT_EQ(RouteCalls(), (Texts{"delete default", "DiscoverGateways", "add default 192.0.2.1 metric 100",
                                 "write 192.0.2.1=100", "add default 198.51.100.1 metric 1", "write 198.51.100.1=1",
                                 "add default 203.0.113.1 metric 200", "write 203.0.113.1=200"}));
  EXPECT_EQ(Stored("192.0.2.1"), "100");
  EXPECT_EQ(Stored("198.51.100.1"), "1");
  EXPECT_EQ(Stored("203.0.113.1"), "200");
  EXPECT_EQ(ui.boxes, (std::vector<Box>{kConfirm, kDone}));
}

TEST_F(GlobalLineTest, ApplyDiscoversBeforeTheDeleteWhereDiscoveryReadsTheRoutingTable) {
  sys.discoveryReadsRoutingTable = true;
  ui.texts[Control::组合框2] = "192.0.2.1";
  ui.answers = {AnswerOk, AnswerOk};
  ApplyGlobalLine(sys, ui);
  EXPECT_EQ(RouteCalls(), (Texts{"DiscoverGateways", "delete default", "add default 192.0.2.1 metric 1",
                                 "write 192.0.2.1=1", "add default 198.51.100.1 metric 150",
                                 "write 198.51.100.1=150", "add default 203.0.113.1 metric 200",
                                 "write 203.0.113.1=200"}));
}

TEST_F(GlobalLineTest, ApplyWithATextThatMatchesNoLineGivesNobodyMetricOne) {
  ui.texts[Control::组合框2] = "192.0.2.9";
  ui.answers = {AnswerOk, AnswerOk};
  ApplyGlobalLine(sys, ui);
  EXPECT_EQ(RouteCalls(), (Texts{"delete default", "DiscoverGateways", "add default 192.0.2.1 metric 100",
                                 "write 192.0.2.1=100", "add default 198.51.100.1 metric 150",
                                 "write 198.51.100.1=150", "add default 203.0.113.1 metric 200",
                                 "write 203.0.113.1=200"}));
  EXPECT_EQ(ui.boxes.back(), kDone);
}

TEST_F(GlobalLineTest, ApplyHandlesAGatewayListedTwiceAtEachPosition) {
  sys.gatewayText = "192.0.2.1;198.51.100.1;192.0.2.1;198.51.100.1;";
  ui.texts[Control::组合框2] = "192.0.2.1";
  ui.answers = {AnswerOk, AnswerOk};
  ApplyGlobalLine(sys, ui);
  EXPECT_EQ(sys.routeRequests, (Texts{"delete default", "add default 192.0.2.1 metric 1",
                                      "add default 198.51.100.1 metric 150", "add default 192.0.2.1 metric 1",
                                      "add default 198.51.100.1 metric 250"}));
  EXPECT_EQ(Stored("192.0.2.1"), "1");
  EXPECT_EQ(Stored("198.51.100.1"), "250");
}

TEST_F(GlobalLineTest, ApplyWithoutAChosenLineOnlyComplains) {
  ui.answers = {AnswerOk};
  ApplyGlobalLine(sys, ui);
  EXPECT_EQ(ui.boxes, (std::vector<Box>{{"请选择需要设置的线路", 0, "异常"}}));
  EXPECT_TRUE(sys.routeRequests.empty());
  EXPECT_EQ(sys.discoveries, 0);
}

TEST_F(GlobalLineTest, ApplyCancelledChangesNothing) {
  ui.texts[Control::组合框2] = "192.0.2.1";
  ui.answers = {AnswerCancel};
  ApplyGlobalLine(sys, ui);
  EXPECT_EQ(ui.boxes, (std::vector<Box>{kConfirm}));
  EXPECT_TRUE(sys.routeRequests.empty());
  EXPECT_EQ(sys.inis.count(kStore), 0u);
}

TEST_F(GlobalLineTest, ApplyWithNoLinesDeletesTheDefaultRoutesAndWritesNothing) {
  sys.gatewayText = "";
  ui.texts[Control::组合框2] = "192.0.2.1";
  ui.answers = {AnswerOk, AnswerOk};
  ApplyGlobalLine(sys, ui);
  EXPECT_EQ(sys.routeRequests, (Texts{"delete default"}));
  EXPECT_EQ(sys.inis.count(kStore), 0u);
  EXPECT_EQ(ui.boxes.back(), kDone);
}

TEST_F(GlobalLineTest, ApplyNeverRoutesThroughAGatewayThatIsNotAUnicastAddress) {
  sys.gatewayText = "fe80::1;192.0.2.1 & calc;192.0.2.1;10.0.0.01;0.0.0.0;";
  ui.texts[Control::组合框2] = "192.0.2.1";
  ui.answers = {AnswerOk, AnswerOk};
  ApplyGlobalLine(sys, ui);
  EXPECT_EQ(sys.routeRequests, (Texts{"delete default", "add default 192.0.2.1 metric 1"}));
  // The store still records every line, as it always has.
  EXPECT_EQ(Stored("fe80::1"), "100");
  EXPECT_EQ(Stored("192.0.2.1 & calc"), "150");
  EXPECT_EQ(Stored("0.0.0.0"), "300");
}

TEST_F(GlobalLineTest, RestoreFillsTheSelectorsAndPutsTheStoredRoutesBack) {
  sys.IniWrite(kStore, "192.0.2.1", "id", "100");
  sys.IniWrite(kStore, "198.51.100.1", "id", "1");
  sys.IniWrite(kStore, "203.0.113.1", "id", "200");
  RestoreGlobalLine(sys, ui);
  EXPECT_EQ(sys.routeRequests, (Texts{"add default 192.0.2.1 metric 100", "add default 198.51.100.1 metric 1",
                                      "add default 203.0.113.1 metric 200"}));
  EXPECT_EQ(ui.texts[Control::组合框2], "198.51.100.1");
  const Texts lines{"192.0.2.1", "198.51.100.1", "203.0.113.1"};
  EXPECT_EQ(ui.comboItems[Control::组合框1], lines);
  EXPECT_EQ(ui.comboItems[Control::组合框2], lines);
  EXPECT_EQ(ui.comboItems[Control::组合框4], (Texts{"不更改分配线路", "192.0.2.1", "198.51.100.1", "203.0.113.1"}));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(GlobalLineTest, RestoreWithTwoStoredOnesPresetsTheLaterLine) {
  sys.IniWrite(kStore, "192.0.2.1", "id", "1");
  sys.IniWrite(kStore, "203.0.113.1", "id", "1");
  RestoreGlobalLine(sys, ui);
  EXPECT_EQ(sys.routeRequests, (Texts{"add default 192.0.2.1 metric 1", "add default 203.0.113.1 metric 1"}));
  EXPECT_EQ(ui.texts[Control::组合框2], "203.0.113.1");
}

TEST_F(GlobalLineTest, RestoreTakesOnlyMetricTextsAndSkipsTheRest) {
  sys.gatewayText = "192.0.2.1;198.51.100.1;203.0.113.1;192.0.2.9;192.0.2.8;192.0.2.7;192.0.2.6;";
  sys.IniWrite(kStore, "192.0.2.1", "id", "120abc");  // digits then letters: no metric at all
  sys.IniWrite(kStore, "198.51.100.1", "id", "5");    // hand-edited: metric 5, no preset
  sys.IniWrite(kStore, "203.0.113.1", "id", "0");
  sys.IniWrite(kStore, "192.0.2.9", "id", "-3");
  sys.IniWrite(kStore, "192.0.2.8", "id", "abc");
  sys.IniWrite(kStore, "192.0.2.7", "id", "10000");  // more than four digits
  // 192.0.2.6 has no stored value at all
  RestoreGlobalLine(sys, ui);
  EXPECT_EQ(sys.routeRequests, (Texts{"add default 198.51.100.1 metric 5"}));
  EXPECT_EQ(ui.texts[Control::组合框2], "");
  EXPECT_EQ(ui.comboItems[Control::组合框1].size(), 7u);  // every line is still offered
}

TEST_F(GlobalLineTest, RestoreWithNoLinesOffersOnlyTheKeepItem) {
  sys.gatewayText = "";
  RestoreGlobalLine(sys, ui);
  EXPECT_TRUE(sys.routeRequests.empty());
  EXPECT_EQ(ui.comboItems[Control::组合框4], (Texts{"不更改分配线路"}));
  EXPECT_TRUE(ui.comboItems[Control::组合框1].empty());
  EXPECT_TRUE(ui.comboItems[Control::组合框2].empty());
}

TEST_F(GlobalLineTest, RestoreWritesNothing) {
  sys.IniWrite(kStore, "192.0.2.1", "id", "1");
  const auto before = sys.inis;
  sys.calls.clear();
  RestoreGlobalLine(sys, ui);
  for (const auto& c : sys.calls) EXPECT_EQ(c.rfind("IniWrite", 0), std::string::npos) << c;
  EXPECT_EQ(sys.inis.at(kStore).size(), before.at(kStore).size());
}

}  // namespace
}  // namespace quillon::routing
