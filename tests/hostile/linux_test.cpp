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

  for (const auto& d : spy.lookups) EXPECT_TRUE(LooksLikePlainDestination(d)) << d;
  for (const auto& [network, line] : spy.routes) {
    EXPECT_TRUE(LooksLikeDottedAddress(network)) << network;
    EXPECT_TRUE(line.empty() || LooksLikeDottedAddress(line)) << line;
  }
  for (const auto& [gateway, metric] : spy.defaults) {
    EXPECT_TRUE(LooksLikeDottedAddress(gateway)) << gateway;
    EXPECT_TRUE(!metric.empty() && metric.find_first_not_of("0123456789") == std::string::npos) << metric;
  }
  // The checked texts did get through: the driver reached the system.
  EXPECT_FALSE(spy.routes.empty());
  EXPECT_FALSE(spy.defaults.empty());

  int reached = 0;
  for (const HostileCase& c : cases) {
    const bool asDestination =
        c.refusedAsDestination && std::count(spy.lookups.begin(), spy.lookups.end(), c.text) > 0;
    const bool asLine = c.refusedAsLine &&
                        (std::any_of(spy.routes.begin(), spy.routes.end(), [&](const auto& r) { return r.second == c.text; }) ||
                         std::any_of(spy.defaults.begin(), spy.defaults.end(), [&](const auto& r) { return r.first == c.text; }));
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
