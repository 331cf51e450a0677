// The hostile-input corpus on Linux, inside the private namespace of
// netns-run.sh with the real backend: nothing but a checked destination
// reaches the resolver, and nothing but a dotted IPv4 line, a routable
// network and a metric of digits reaches a netlink request. The harness
// (no-process.sh) checks that no other program is started at all.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/fake/forwarding_system.h"
#include "platform/safety.h"
#include "platform/system_factory.h"
#include "routing/config_paths.h"
#include "tests/hostile/hostile_corpus.h"
#include "tests/netns/netns_support.h"

namespace quillon::hostile {
namespace {

TEST(HostileInput, NothingButCheckedTextsReachTheSystem) {
  QUILLON_REQUIRE_NAMESPACE();
  const auto cases = LoadHostileCases(QUILLON_TEST_DATA "/hostile/cases.txt");
  ASSERT_GE(cases.size(), 60u);
  char pattern[] = "/tmp/quillon-hostile-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const auto inner = platform::MakeSystem(pattern);
  ASSERT_TRUE(inner->CreateDirectory(routing::ConfigDirectory(*inner)));
  // One thread: workers run at once, and the records need no lock.
  struct Spy final : platform::ForwardingSystem {
    using ForwardingSystem::ForwardingSystem;
    bool StartWorker(std::function<void()> routine) override {
      routine();
      return true;
    }
  } spy(*inner);
  FeedEveryWayIn(spy, cases, [&](const std::string& text) { spy.gatewayText = text; });
  std::filesystem::remove_all(pattern);

  // Route plans hold values: what may reach a netlink request is what the
  // rules let into them.
  int routes = 0, defaults = 0;
  std::vector<std::string> gateways;
  for (const platform::RoutePlan& plan : spy.plans) {
    for (const platform::RouteRequest& r : plan.routes) {
      EXPECT_TRUE(platform::IsRoutablePrefix(r.prefix)) << platform::PrefixText(r.prefix);
      EXPECT_TRUE(r.gateway == 0 || platform::IsGatewayAddress(r.gateway)) << platform::Ipv4Text(r.gateway);
      if (r.gateway != 0) gateways.push_back(platform::Ipv4Text(r.gateway));
      ++routes;
    }
    for (const platform::DefaultRouteRequest& d : plan.defaults) {
      EXPECT_TRUE(platform::IsGatewayAddress(d.gateway)) << platform::Ipv4Text(d.gateway);
      EXPECT_TRUE(d.metric >= 1 && d.metric <= 9999) << d.metric;
      gateways.push_back(platform::Ipv4Text(d.gateway));
      ++defaults;
    }
  }
  for (const auto& d : spy.lookups) EXPECT_TRUE(LooksLikePlainDestination(d)) << d;
  // The checked texts did get through: the driver reached the system.
  EXPECT_GT(routes, 0);
  EXPECT_GT(defaults, 0);

  int reached = 0;
  for (const HostileCase& c : cases) {
    const bool asDestination =
        c.refusedAsDestination && std::count(spy.lookups.begin(), spy.lookups.end(), c.text) > 0;
    const bool asLine = c.refusedAsLine && std::count(gateways.begin(), gateways.end(), c.text) > 0;
    if (asDestination || asLine) {
      ++reached;
      ADD_FAILURE() << "reached the system: " << c.note;
    }
  }
  std::printf("hostile input (Linux): %zu cases tried through 4 ways in, %d reached a lookup or a route\n",
              cases.size(), reached);
}

}  // namespace
}  // namespace quillon::hostile
