// The netlink backend of lines, gateway discovery and default routes,
// against the real kernel inside the namespace made by netns-run.sh.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_system.h"
#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

using platform::LineInfo;
using platform::PosixSystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class NetnsLines : public ::testing::Test {
 protected:
  void SetUp() override {
    QUILLON_REQUIRE_NAMESPACE();
    RestoreBaseline();
  }
  // Every default route removed; true when the plan went through.
  bool DeleteDefaults() {
    platform::RoutePlan plan;
    plan.replaceDefaults = true;
    return sys.ApplyRoutePlan(plan).outcome == platform::RouteReport::Outcome::Done;
  }
  // A default route through a line added beside the others; true when it was.
  bool AddDefault(const std::string& gateway, std::uint32_t metric) {
    platform::RoutePlan plan;
    plan.defaults.push_back({platform::ParseIpv4(gateway).value(), metric});
    return sys.ApplyRoutePlan(plan).added == 1;
  }
  PosixSystem sys;
};

LineInfo Line(const char* name, const char* ip, const char* mask, const char* gw) {
  LineInfo l;
  l.AdapterName = name;
  l.Description = "veth";
  l.IpAddress = ip;
  l.SubnetMask = mask;
  l.Gateway = gw;
  return l;
}

LineInfo Bare(const char* name) { return Line(name, "", "", ""); }

TEST_F(NetnsLines, ListAdaptersGivesEveryInterfaceButTheLoopbackInIndexOrder) {
  // v3 and the peers p0..p3 have no IPv4 address and are listed all the
  // same; v0's secondary address 192.0.2.3 is not its first one.
  EXPECT_THAT(sys.ListAdapters(),
              ElementsAre(Bare("p0"), Line("v0", "192.0.2.2", "255.255.255.0", "192.0.2.1"), Bare("p1"),
                          Line("v1", "198.51.100.2", "255.255.255.0", "198.51.100.1"), Bare("p2"),
                          Line("v2", "203.0.113.2", "255.255.255.0", "203.0.113.1"), Bare("p3"), Bare("v3")));
}

TEST_F(NetnsLines, ListAdaptersReadsTheSystemAfreshWithGatewayOfLowestMetric) {
  // An address without a default route: listed, gateway empty, mask of its
  // own prefix length.
  IpOk({"addr", "add", "192.0.2.130/25", "dev", "v3"});
  // A second default route on v1 with a lower metric becomes its gateway; a
  // default route without gateway is no gateway at all.
  IpOk({"route", "add", "default", "via", "198.51.100.254", "metric", "15"});
  IpOk({"route", "add", "default", "dev", "v2", "metric", "5"});
  // v2 loses its default route.
  IpOk({"route", "del", "default", "via", "203.0.113.1", "metric", "10"});

  EXPECT_THAT(sys.ListAdapters(),
              ElementsAre(Bare("p0"), Line("v0", "192.0.2.2", "255.255.255.0", "192.0.2.1"), Bare("p1"),
                          Line("v1", "198.51.100.2", "255.255.255.0", "198.51.100.254"), Bare("p2"),
                          Line("v2", "203.0.113.2", "255.255.255.0", ""), Bare("p3"),
                          Line("v3", "192.0.2.130", "255.255.255.128", "")));

  // The interface's only address goes away: the interface stays, bare.
  IpOk({"addr", "del", "192.0.2.130/25", "dev", "v3"});
  EXPECT_EQ(sys.ListAdapters().back(), Bare("v3"));
}

TEST_F(NetnsLines, ConnectionNameIsTheAliasOrTheName) {
  EXPECT_EQ(sys.ConnectionName("v1"), "电信 线路");
  EXPECT_EQ(sys.ConnectionName("v0"), "v0");
  EXPECT_EQ(sys.ConnectionName("v3"), "v3");
  EXPECT_EQ(sys.ConnectionName("nosuch0"), "");
  EXPECT_EQ(sys.ConnectionName(""), "");
  EXPECT_EQ(sys.ConnectionName("a-name-longer-than-ifnamsiz"), "");

  IpOk({"link", "set", "v2", "alias", "联通"});
  EXPECT_EQ(sys.ConnectionName("v2"), "联通");
  IpOk({"link", "set", "v2", "alias", ""});
  EXPECT_EQ(sys.ConnectionName("v2"), "v2");
}

TEST_F(NetnsLines, DiscoveryOrdersByInterfaceThenMetricAndIsFreshEachTime) {
  // The kernel lists the baseline by metric (v2, v1, v0); the discovery
  // goes by interface.
  EXPECT_EQ(sys.DiscoverGatewayText(), "192.0.2.1;198.51.100.1;203.0.113.1;");
  EXPECT_EQ(sys.DiscoverGatewayText(), "192.0.2.1;198.51.100.1;203.0.113.1;");

  // Two more on v1: one of a higher metric added before one of a lower one.
  IpOk({"route", "add", "default", "via", "198.51.100.253", "metric", "40"});
  IpOk({"route", "add", "default", "via", "198.51.100.254", "metric", "15"});
  // Without a gateway (left out), and in another table (left out).
  IpOk({"route", "add", "default", "dev", "v0", "metric", "1"});
  IpOk({"route", "add", "default", "via", "192.0.2.9", "table", "100"});
  EXPECT_EQ(sys.DiscoverGatewayText(),
            "192.0.2.1;198.51.100.254;198.51.100.1;198.51.100.253;203.0.113.1;");

  IpOk({"-4", "route", "flush", "table", "main", "exact", "0.0.0.0/0"});
  EXPECT_EQ(sys.DiscoverGatewayText(), "");
}

TEST_F(NetnsLines, DiscoveryListsEachNextHopOfAMultipathRoute) {
  IpOk({"-4", "route", "flush", "table", "main", "exact", "0.0.0.0/0"});
  IpOk({"route", "add", "default", "metric", "50", "nexthop", "via", "203.0.113.1", "nexthop", "via",
        "192.0.2.1"});
  IpOk({"route", "add", "default", "via", "198.51.100.1", "metric", "60"});
  EXPECT_EQ(sys.DiscoverGatewayText(), "192.0.2.1;198.51.100.1;203.0.113.1;");
}

TEST_F(NetnsLines, DeleteDefaultRoutesRemovesEveryDefaultRouteOfTheMainTableOnly) {
  IpOk({"route", "add", "default", "via", "198.51.100.254", "metric", "15"});
  IpOk({"route", "add", "default", "dev", "v0", "metric", "7"});
  IpOk({"route", "add", "default", "metric", "70", "nexthop", "via", "203.0.113.1", "nexthop", "via",
        "192.0.2.1"});
  IpOk({"route", "add", "default", "via", "192.0.2.9", "table", "100"});
  IpOk({"route", "add", "203.0.113.128/25", "via", "192.0.2.1"});
  // A route appended beside one of the same metric is a route of its own.
  IpOk({"route", "append", "default", "via", "192.0.2.1", "metric", "15"});
  ASSERT_EQ(DefaultRoutes().size(), 8u);
  const auto others = [] {
    std::vector<std::string> kept;
    for (auto& t : RouteTexts())
      if (t.rfind("default", 0) != 0) kept.push_back(t);
    return kept;
  }();

  EXPECT_TRUE(DeleteDefaults());
  EXPECT_THAT(DefaultRoutes(), IsEmpty());
  EXPECT_EQ(RouteTexts(), others);  // the network routes stay
  EXPECT_EQ(DefaultRoutes("100"), (std::vector<DefaultRoute>{{"192.0.2.9", "v0", 0}}));

  // Nothing left to delete is no failure.
  EXPECT_TRUE(DeleteDefaults());
  EXPECT_THAT(DefaultRoutes(), IsEmpty());
}

TEST_F(NetnsLines, TheGlobalLinesPlanReplacesEveryDefaultRouteAndAddsNothingTwice) {
  platform::RoutePlan plan;
  plan.replaceDefaults = true;
  plan.defaults = {{0xC0000201u, 100}, {0xC6336401u, 1}, {0xCB007101u, 200}};
  EXPECT_EQ(sys.ApplyRoutePlan(plan).added, 3);
  const std::vector<DefaultRoute> three{
      {"192.0.2.1", "v0", 100}, {"198.51.100.1", "v1", 1}, {"203.0.113.1", "v2", 200}};
  EXPECT_EQ(DefaultRoutes(), three);
  EXPECT_EQ(sys.DiscoverGatewayText(), "192.0.2.1;198.51.100.1;203.0.113.1;");
  // The very same routes again, beside the ones there: nothing twice.
  plan.replaceDefaults = false;
  EXPECT_EQ(sys.ApplyRoutePlan(plan).added, 0);
  EXPECT_EQ(DefaultRoutes(), three);
  // A line with another metric comes beside the others.
  EXPECT_TRUE(AddDefault("192.0.2.1", 150));
  EXPECT_EQ(DefaultRoutes().size(), 4u);
}

TEST_F(NetnsLines, CallsFromSeveralThreadsAtOnceAgree) {
  const auto lines = sys.ListAdapters();
  const auto text = sys.DiscoverGatewayText();
  ASSERT_EQ(lines.size(), 8u);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        if (sys.ListAdapters() != lines) ++mismatches[static_cast<std::size_t>(t)];
        if (sys.DiscoverGatewayText() != text) ++mismatches[static_cast<std::size_t>(t)];
        if (sys.ConnectionName("v1") != "电信 线路") ++mismatches[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(NetnsJson, ReadsIpOutput) {
  Json j;
  ASSERT_TRUE(ParseJson(R"([{"dst":"default","gateway":"192.0.2.1","metric":5,"flags":[]},)"
                        R"({"dst":"x\u00e9","nexthops":[{"gateway":"a"}],"b":true,"n":null}])",
                        j));
  ASSERT_EQ(j.items.size(), 2u);
  EXPECT_EQ(j.items[0].Find("gateway")->text, "192.0.2.1");
  EXPECT_EQ(j.items[0].Find("metric")->number, 5);
  EXPECT_EQ(j.items[1].Find("dst")->text, "x\xC3\xA9");
  EXPECT_EQ(j.items[1].Find("nexthops")->items[0].Find("gateway")->text, "a");
  EXPECT_FALSE(ParseJson("[{\"a\":1}", j));
  EXPECT_FALSE(ParseJson("[1] x", j));
}

}  // namespace
}  // namespace quillon::netns
