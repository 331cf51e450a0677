// The global line end to end: the real routines with the real netlink
// backend, and the routing table of the namespace made by
// netns-run.sh read back with `ip -j route`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lines/lines.h"
#include "routing/config_paths.h"
#include "routing/global_line.h"
#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

using Texts = std::vector<std::string>;

class NetnsGlobalLine : public NamespaceTest {
 protected:
  std::string Stored(const std::string& gateway) {
    return sys_->IniRead(routing::ConfigFile(*sys_, routing::kGlobalLineStoreName), gateway, "id", "(none)");
  }
  void Apply(const std::string& line) {
    const routing::AppliedGlobalLine applied = routing::ApplyGlobalLine(*sys_, line);
    EXPECT_EQ(applied.routes.outcome, platform::RouteReport::Outcome::Done) << applied.routes.reason;
  }
  // The lines a start offers, and the one it takes for the global line.
  struct Offered {
    Texts lines;
    std::string global;
  };
  Offered Restore() {
    Offered offered;
    for (const auto& l : routing::RestoreGlobalLine(*sys_).lines) {
      offered.lines.push_back(l.gateway);
      if (l.global) offered.global = l.gateway;
    }
    return offered;
  }
  const Texts kLines{"192.0.2.1", "198.51.100.1", "203.0.113.1"};
};

TEST_F(NetnsGlobalLine, ApplyPutsOneDefaultRoutePerLineAndRestorePutsThemBack) {
  Apply("198.51.100.1");
  const std::vector<DefaultRoute> chosenSecond{
      {"192.0.2.1", "v0", 100}, {"198.51.100.1", "v1", 1}, {"203.0.113.1", "v2", 200}};
  EXPECT_EQ(DefaultRoutes(), chosenSecond);
  EXPECT_EQ(Stored("192.0.2.1"), "100");
  EXPECT_EQ(Stored("198.51.100.1"), "1");
  EXPECT_EQ(Stored("203.0.113.1"), "200");

  // The same choice again: still one route per line.
  Apply("198.51.100.1");
  EXPECT_EQ(DefaultRoutes(), chosenSecond);

  // A restart: the routes set here are gone, and the lines have only the
  // default routes their network configuration gives them. The start puts the
  // stored ones back beside those and fills the selectors.
  RestoreBaseline();  // default routes v0 metric 30, v1 20, v2 10
  const std::vector<DefaultRoute> restored{{"192.0.2.1", "v0", 30},    {"192.0.2.1", "v0", 100},
                                           {"198.51.100.1", "v1", 1},  {"198.51.100.1", "v1", 20},
                                           {"203.0.113.1", "v2", 10}, {"203.0.113.1", "v2", 200}};
  const Offered offered = Restore();
  EXPECT_EQ(DefaultRoutes(), restored);
  EXPECT_EQ(offered.global, "198.51.100.1");
  EXPECT_EQ(offered.lines, kLines);
  // The store is only read at start.
  EXPECT_EQ(Stored("192.0.2.1"), "100");
  EXPECT_EQ(Stored("198.51.100.1"), "1");
  EXPECT_EQ(Stored("203.0.113.1"), "200");

  // A second start in the same boot adds nothing twice.
  Restore();
  EXPECT_EQ(DefaultRoutes(), restored);
}

TEST_F(NetnsGlobalLine, AGatewayWithTwoDefaultRoutesIsOneLine) {
  // A network manager keeps its own default route beside the one restored.
  IpOk({"route", "add", "default", "via", "198.51.100.1", "metric", "5"});
  EXPECT_EQ(Restore().lines, kLines);

  Apply("198.51.100.1");
  EXPECT_EQ(DefaultRoutes(), (std::vector<DefaultRoute>{
                                 {"192.0.2.1", "v0", 100}, {"198.51.100.1", "v1", 1}, {"203.0.113.1", "v2", 200}}));
  EXPECT_EQ(Stored("192.0.2.1"), "100");
  EXPECT_EQ(Stored("198.51.100.1"), "1");
  EXPECT_EQ(Stored("203.0.113.1"), "200");
}

TEST_F(NetnsGlobalLine, RestoreWithoutAnyDefaultRouteFindsNoLines) {
  Apply("198.51.100.1");
  // Here the lines are read from the routing table: with no default route
  // at all there is no line, so nothing is put back and only the keep item
  // is offered.
  IpOk({"-4", "route", "flush", "table", "main", "exact", "0.0.0.0/0"});
  const Offered offered = Restore();
  EXPECT_THAT(DefaultRoutes(), ::testing::IsEmpty());
  EXPECT_TRUE(offered.lines.empty());
  EXPECT_EQ(offered.global, "");
}

TEST_F(NetnsGlobalLine, AnotherChoiceMovesMetricOneAndAHandEditedStoreIsRefusedSafely) {
  Apply("203.0.113.1");
  EXPECT_EQ(DefaultRoutes(), (std::vector<DefaultRoute>{
                                 {"192.0.2.1", "v0", 100}, {"198.51.100.1", "v1", 150}, {"203.0.113.1", "v2", 1}}));

  // A text that is no line: every line gets (p+1)*50, none metric 1.
  Apply("192.0.2.77");
  EXPECT_EQ(DefaultRoutes(), (std::vector<DefaultRoute>{
                                 {"192.0.2.1", "v0", 100}, {"198.51.100.1", "v1", 150}, {"203.0.113.1", "v2", 200}}));
  EXPECT_EQ(Stored("203.0.113.1"), "200");

  // Hand-edited store: a metric with letters after its digits is refused as
  // the route tool refuses it; 5 is used as it stands, without presetting 组合框2.
  const std::string store = routing::ConfigFile(*sys_, routing::kGlobalLineStoreName);
  ASSERT_TRUE(sys_->IniWrite(store, "192.0.2.1", std::string("id"), std::string("120abc")));
  ASSERT_TRUE(sys_->IniWrite(store, "198.51.100.1", std::string("id"), std::string("5")));
  ASSERT_TRUE(sys_->IniWrite(store, "203.0.113.1", std::string("id"), std::string("0")));
  RestoreBaseline();  // default routes v0 metric 30, v1 20, v2 10
  const Offered offered = Restore();
  EXPECT_EQ(DefaultRoutes(), (std::vector<DefaultRoute>{{"192.0.2.1", "v0", 30},
                                                        {"198.51.100.1", "v1", 5},
                                                        {"198.51.100.1", "v1", 20},
                                                        {"203.0.113.1", "v2", 10}}));
  EXPECT_EQ(offered.global, "");
  EXPECT_EQ(offered.lines, kLines);
}

TEST_F(NetnsGlobalLine, LinesSeeTheInterfacesWithTheirConnectionNames) {
  Texts names;
  for (const auto& a : sys_->ListAdapters()) {
    names.push_back(a.AdapterName);
    EXPECT_EQ(a.ConnectionName, "") << a.AdapterName;
  }
  EXPECT_EQ(names, (Texts{"p0", "v0", "p1", "v1", "p2", "v2", "p3", "v3"}));

  const auto second = lines::FindLineByGateway(*sys_, "198.51.100.1");
  EXPECT_EQ(second.AdapterName, "v1");
  EXPECT_EQ(second.ConnectionName, "电信 线路");
  EXPECT_EQ(second.IpAddress, "198.51.100.2");
  EXPECT_EQ(lines::FindLineByGateway(*sys_, "192.0.2.1").ConnectionName, "v0");
  // No line has this gateway: the last adapter, with its name; the empty
  // text finds the first adapter without a gateway.
  const auto none = lines::FindLineByGateway(*sys_, "192.0.2.77");
  EXPECT_EQ(none.AdapterName, "v3");
  EXPECT_EQ(none.ConnectionName, "v3");
  EXPECT_EQ(lines::FindLineByGateway(*sys_, "").AdapterName, "p0");

  EXPECT_EQ(lines::LineDetails(*sys_, "198.51.100.1"),
            "网关IP：198.51.100.1\r\n本地IP：198.51.100.2\r\n子网掩码：255.255.255.0\r\n"
            "线路名称：电信 线路\r\n线路描述：veth");
}

}  // namespace
}  // namespace quillon::netns
