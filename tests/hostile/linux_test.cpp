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

#include "platform/system_factory.h"
#include "routing/config_paths.h"
#include "tests/hostile/hostile_corpus.h"
#include "tests/netns/netns_support.h"

namespace quillon::hostile {
namespace {

using platform::System;

// Hands every call to the real backend and records the requests that reach
// the system; the gateway discovery answers what the driver sets.
class SpySystem final : public System {
 public:
  explicit SpySystem(System& inner) : inner_(inner) {}

  std::vector<std::string> lookups;
  std::vector<std::pair<std::string, std::string>> routes;    // network, line
  std::vector<std::pair<std::string, std::string>> defaults;  // gateway, metric
  std::string gatewayText;

  std::string ProgramDirectory() override { return inner_.ProgramDirectory(); }
  std::string PathSeparator() const override { return inner_.PathSeparator(); }
  bool FileExists(const std::string& p) override { return inner_.FileExists(p); }
  bool CreateDirectory(const std::string& p) override { return inner_.CreateDirectory(p); }
  platform::ByteArray FileRead(const std::string& p) override { return inner_.FileRead(p); }
  bool FileDelete(const std::string& p) override { return inner_.FileDelete(p); }
  std::vector<std::string> IniSections(const std::string& f) override { return inner_.IniSections(f); }
  std::string RegistryReadText(int r, const std::string& p, const std::string& d) override {
    return inner_.RegistryReadText(r, p, d);
  }
  bool StartWorker(std::function<void()> routine) override {
    routine();  // one thread: the records need no lock
    return true;
  }
  std::vector<platform::LineInfo> ListAdapters() override { return inner_.ListAdapters(); }
  std::string ConnectionName(const std::string& a) override { return inner_.ConnectionName(a); }
  std::string DiscoverGatewayText() override { return gatewayText; }
  bool DiscoveryReadsRoutingTable() const override { return true; }
  bool DeleteDefaultRoutes() override { return inner_.DeleteDefaultRoutes(); }
  bool AddDefaultRoute(const std::string& g, const std::string& m) override {
    defaults.emplace_back(g, m);
    return inner_.AddDefaultRoute(g, m);
  }
  LookupAnswer LookupHost(const std::string& d, const std::string& log) override {
    lookups.push_back(d);
    return inner_.LookupHost(d, log);
  }
  bool LookupsMayOverlap() const override { return false; }
  std::unique_ptr<RoutePass> BeginRoutePass() override {
    class Pass final : public RoutePass {
     public:
      Pass(SpySystem& spy, std::unique_ptr<RoutePass> inner) : spy_(spy), inner_(std::move(inner)) {}
      void RouteNetwork(const std::string& n, const std::string& l) override {
        spy_.routes.emplace_back(n, l);
        inner_->RouteNetwork(n, l);
      }
      RouteChanges Finish() override { return inner_->Finish(); }

     private:
      SpySystem& spy_;
      std::unique_ptr<RoutePass> inner_;
    };
    return std::make_unique<Pass>(*this, inner_.BeginRoutePass());
  }

 protected:
  platform::ByteArray FetchHttp(const std::string& url) override { return inner_.HttpGetText(url); }
  std::string ReadProfileString(const std::string& f, const std::string& s, const std::string& k,
                                const std::string& d) override {
    return inner_.IniRead(f, s, k, d);
  }
  bool WriteProfileEntry(const std::string& f, const std::string& s, const std::optional<std::string>& k,
                         const std::optional<std::string>& v) override {
    return inner_.IniWrite(f, s, k, v);
  }
  bool WriteProfileValues(const std::string& f, const std::vector<IniValue>& v) override {
    return inner_.IniWriteMany(f, v);
  }

 private:
  System& inner_;
};

TEST(HostileInput, NothingButCheckedTextsReachTheSystem) {
  QUILLON_REQUIRE_NAMESPACE();
  const auto cases = LoadHostileCases(QUILLON_TEST_DATA "/hostile/cases.txt");
  ASSERT_GE(cases.size(), 60u);
  char pattern[] = "/tmp/quillon-hostile-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const auto inner = platform::MakeSystem(pattern);
  ASSERT_TRUE(inner->CreateDirectory(routing::ConfigDirectory(*inner)));
  SpySystem spy(*inner);
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
