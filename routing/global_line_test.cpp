#include "routing/global_line.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_home.h"

namespace quillon::routing {
namespace {

using platform::FakeHome;
using Texts = std::vector<std::string>;

constexpr char kAdd[] = "cmd /C route add  0.0.0.0 mask 0.0.0.0 ";
constexpr char kDelete[] = "cmd /C route delete 0.0.0.0";

class GlobalLineTest : public ::testing::Test {
 protected:
  GlobalLineTest() { home.sys.gatewayText = "192.0.2.1;198.51.100.1;203.0.113.1;"; }
  std::string Stored(const std::string& gw) { return home.Value(gw, "id", FakeHome::kGlobalStore); }
  void Store(const std::string& gw, const std::string& metric) {
    home.Section(FakeHome::kGlobalStore, gw, {{"id", metric}});
  }
  FakeHome home;
  Texts& commands = home.sys.commands;
};

TEST_F(GlobalLineTest, ApplyGivesTheChosenLineMetricOneAndTheOthersTheirPositions) {
  ApplyGlobalLine(home.sys, "198.51.100.1");
  EXPECT_EQ(commands, (Texts{kDelete, kAdd + std::string("192.0.2.1 metric 100"), kAdd + std::string("198.51.100.1 metric 1"),
                             kAdd + std::string("203.0.113.1 metric 200")}));
  EXPECT_EQ(Stored("192.0.2.1"), "100");
  EXPECT_EQ(Stored("198.51.100.1"), "1");
  EXPECT_EQ(Stored("203.0.113.1"), "200");
  // A text that is no line: nobody gets metric 1.
  ApplyGlobalLine(home.sys, "192.0.2.9");
  EXPECT_EQ(commands.back(), kAdd + std::string("203.0.113.1 metric 200"));
  EXPECT_EQ(Stored("198.51.100.1"), "150");
}

TEST_F(GlobalLineTest, ApplyTakesEveryPositionAndRoutesOnlyThroughGateways) {
  home.sys.gatewayText = "192.0.2.1;198.51.100.1;192.0.2.1;fe80::1;192.0.2.1 & calc;10.0.0.01;0.0.0.0;";
  ApplyGlobalLine(home.sys, "192.0.2.1");
  EXPECT_EQ(commands, (Texts{kDelete, kAdd + std::string("192.0.2.1 metric 1"), kAdd + std::string("198.51.100.1 metric 150"),
                             kAdd + std::string("192.0.2.1 metric 1")}));
  // The store records every line, the later position's value last.
  EXPECT_EQ(Stored("fe80::1"), "250");
  EXPECT_EQ(Stored("192.0.2.1 & calc"), "300");
  EXPECT_EQ(Stored("0.0.0.0"), "400");
  // No lines at all: the default routes still go, nothing is written.
  home.sys.gatewayText = "";
  commands.clear();
  home.sys.inis.clear();
  ApplyGlobalLine(home.sys, "192.0.2.1");
  EXPECT_EQ(commands, Texts{kDelete});
  EXPECT_EQ(home.sys.inis.count(FakeHome::kGlobalStore), 0u);
}

TEST_F(GlobalLineTest, RestorePutsBackTheStoredRoutesAndWritesNothing) {
  Store("192.0.2.1", "100");
  Store("198.51.100.1", "1");
  Store("203.0.113.1", "1");
  const auto before = home.sys.inis;
  const RestoredLines restored = RestoreGlobalLine(home.sys);
  EXPECT_EQ(commands, (Texts{kAdd + std::string("192.0.2.1 metric 100"), kAdd + std::string("198.51.100.1 metric 1"),
                             kAdd + std::string("203.0.113.1 metric 1")}));
  ASSERT_EQ(restored.lines.size(), 3u);
  EXPECT_FALSE(restored.lines[0].global);
  EXPECT_TRUE(restored.lines[1].global);
  EXPECT_TRUE(restored.lines[2].global);
  EXPECT_EQ(restored.lines[2].gateway, "203.0.113.1");
  EXPECT_EQ(home.sys.inis.at(FakeHome::kGlobalStore).size(), before.at(FakeHome::kGlobalStore).size());
}

TEST_F(GlobalLineTest, RestoreTakesOnlyMetricTexts) {
  home.sys.gatewayText = "192.0.2.1;198.51.100.1;203.0.113.1;192.0.2.9;192.0.2.8;192.0.2.7;192.0.2.6;";
  Store("192.0.2.1", "120abc");  // digits then letters: no metric at all
  Store("198.51.100.1", "5");    // hand-edited: metric 5, not the global line
  Store("203.0.113.1", "0");
  Store("192.0.2.9", "-3");
  Store("192.0.2.8", "abc");
  Store("192.0.2.7", "10000");   // more than four digits
  // 192.0.2.6 has no stored value at all
  const RestoredLines restored = RestoreGlobalLine(home.sys);
  EXPECT_EQ(commands, (Texts{kAdd + std::string("198.51.100.1 metric 5")}));
  EXPECT_EQ(restored.lines.size(), 7u);  // every line is still offered
  for (const auto& l : restored.lines) EXPECT_FALSE(l.global) << l.gateway;
  home.sys.gatewayText = "";
  EXPECT_TRUE(RestoreGlobalLine(home.sys).lines.empty());
}

}  // namespace
}  // namespace quillon::routing
