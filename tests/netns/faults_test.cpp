// Passes over a failing network, inside the namespace: the DNS server gone
// in the middle of a pass, a line's interface removed in the middle of one, a
// gateway that is on no link, a config directory that cannot be written.
// Each pass ends with nothing to tell the user (no refusal), the window's own
// work (a reload of the list) goes on meanwhile, and once the fault is mended
// the next pass routes everything again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/forwarding_system.h"
#include "routing/config_paths.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"
#include "routing/split_workers.h"
#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

using Texts = std::vector<std::string>;

Texts SplitRoutes() {
  Texts out;
  for (const std::string& t : RouteTexts()) {
    if (t.rfind("198.18.", 0) == 0) out.push_back(t.substr(0, t.find(" dev ")));
  }
  return out;
}

const Texts kAllRouted{"198.18.1.0/24 via 192.0.2.1", "198.18.2.0/24 via 198.51.100.1",
                       "198.18.3.0/24 via 203.0.113.1", "198.18.4.0/24 via 192.0.2.1"};

class NetnsFaults : public NamespaceTest {
 protected:
  void SetUp() override {
    NamespaceTest::SetUp();
    if (!Ready()) return;
    spy_ = std::make_unique<platform::ForwardingSystem>(*sys_);
    store_ = std::make_unique<routing::SplitStore>(*sys_, routing::ConfigFile(*sys_, routing::kSplitStoreName));
    router_ = std::make_unique<routing::SplitRouter>(*spy_, *store_);
    workers_ = std::make_unique<routing::SplitWorkers>(
        *spy_, *router_, routing::SplitWorkers::PassHooks{{}, {}, [](const platform::RouteReport& r) {
          EXPECT_EQ(r.outcome, platform::RouteReport::Outcome::Done) << r.reason;
        }});
    StartDns();
    for (const auto& [name, line] : {std::pair{"a.example.test", "192.0.2.1"}, {"b.example.test", "198.51.100.1"},
                                     {"c.example.test", "203.0.113.1"}, {"d.example.test", "192.0.2.1"}}) {
      ASSERT_TRUE(store_->Write({name, line, "1", ""}));
    }
  }
  void TearDown() override {
    workers_.reset();
    router_.reset();
    NamespaceTest::TearDown();
  }
  void StartDns() {
    dns_.reset();
    dns_ = std::make_unique<TestDns>(std::map<std::string, Texts>{{"a.example.test", {"198.18.1.1"}},
                                                                  {"b.example.test", {"198.18.2.1"}},
                                                                  {"c.example.test", {"198.18.3.1"}},
                                                                  {"d.example.test", {"198.18.4.1"}}});
    ASSERT_TRUE(dns_->Ready());
  }
  // Runs a pass on a worker, as enable and disable do; `during` runs at the
  // second lookup, which waits for it. Meanwhile the window thread (here)
  // reloads the list, which must not wait for the pass.
  void PassWith(const std::function<void()>& during) {
    std::mutex m;
    std::condition_variable cv;
    bool atLookup = false, release = false;
    std::atomic<int> lookups{0};
    spy_->beforeLookup = [&](const std::string&) {
      if (++lookups != 2) return;
      std::unique_lock<std::mutex> hold(m);
      atLookup = true;
      cv.notify_all();
      cv.wait(hold, [&] { return release; });
    };
    workers_->StartRouteAll();
    {
      std::unique_lock<std::mutex> hold(m);
      ASSERT_TRUE(cv.wait_for(hold, std::chrono::seconds(30), [&] { return atLookup; }));
    }
    EXPECT_TRUE(workers_->Busy());
    EXPECT_EQ(store_->Entries().size(), 4u);  // the window's own reload goes on
    if (during) during();
    {
      std::lock_guard<std::mutex> hold(m);
      release = true;
    }
    cv.notify_all();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (workers_->Busy() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(workers_->Busy()) << "the pass did not end";
    spy_->beforeLookup = nullptr;
  }

  std::unique_ptr<platform::ForwardingSystem> spy_;
  std::unique_ptr<routing::SplitStore> store_;
  std::unique_ptr<routing::SplitRouter> router_;
  std::unique_ptr<routing::SplitWorkers> workers_;
  std::unique_ptr<TestDns> dns_;
};

TEST_F(NetnsFaults, TheDnsServerGoneInTheMiddleOfAPass) {
  PassWith([&] { dns_.reset(); });
  const Texts partial = SplitRoutes();
  EXPECT_LT(partial.size(), kAllRouted.size()) << "the names looked up after the server went have no route";
  StartDns();
  PassWith(nullptr);
  EXPECT_EQ(SplitRoutes(), kAllRouted);
}

TEST_F(NetnsFaults, ALinesInterfaceRemovedInTheMiddleOfAPass) {
  PassWith([] { IpOk({"link", "del", "v2"}); });
  EXPECT_THAT(SplitRoutes(), ::testing::Not(::testing::Contains("198.18.3.0/24 via 203.0.113.1")));
  EXPECT_THAT(SplitRoutes(), ::testing::Contains("198.18.2.0/24 via 198.51.100.1"));
  // Mended: the interface, its address and its default route are back (the
  // routes go only through lines: gateways of a default route).
  IpOk({"link", "add", "v2", "type", "veth", "peer", "name", "p2"});
  IpOk({"link", "set", "v2", "up"});
  IpOk({"link", "set", "p2", "up"});
  IpOk({"addr", "add", "203.0.113.2/24", "dev", "v2"});
  IpOk({"route", "add", "default", "via", "203.0.113.1", "metric", "10"});
  PassWith(nullptr);
  EXPECT_EQ(SplitRoutes(), kAllRouted);
}

TEST_F(NetnsFaults, AGatewayOnNoLinkAndAReadOnlyConfigDirectory) {
  PassWith(nullptr);
  ASSERT_EQ(SplitRoutes(), kAllRouted);
  // 192.0.2.1 is on no link now: its networks lose their routes, the others stay.
  IpOk({"addr", "flush", "dev", "v0"});
  PassWith(nullptr);
  EXPECT_EQ(SplitRoutes(), (Texts{"198.18.2.0/24 via 198.51.100.1", "198.18.3.0/24 via 203.0.113.1"}));
  IpOk({"addr", "add", "192.0.2.2/24", "dev", "v0"});
  IpOk({"route", "add", "default", "via", "192.0.2.1", "metric", "30"});

  // A config directory that cannot be written (read-only, even for root):
  // the store is still read and every route comes back.
  const std::string config = routing::ConfigDirectory(*sys_);
  ASSERT_EQ(mount(config.c_str(), config.c_str(), nullptr, MS_BIND, nullptr), 0);
  ASSERT_EQ(mount(nullptr, config.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
  EXPECT_FALSE(store_->Write({"e.example.test", "192.0.2.1", "1", ""}));
  PassWith(nullptr);
  EXPECT_EQ(SplitRoutes(), kAllRouted);
  ASSERT_EQ(umount(config.c_str()), 0);
}

}  // namespace
}  // namespace quillon::netns
