// What a pass does, end to end: the real routing logic, workers and network
// watcher with the Linux backend and the route helper, a dnsmasq whose
// answers carry TTLs and which logs every question it gets, and the
// namespace's lines taken down and up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
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

using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

constexpr char kLine0[] = "192.0.2.1";
constexpr char kLine1[] = "198.51.100.1";

// How long a test waits for what a pass or the watcher should bring.
constexpr int kWaitSeconds = 20;

bool Routed(const std::string& route) {
  for (const std::string& t : RouteTexts()) {
    if (t.rfind(route + " dev ", 0) == 0) return true;
  }
  return false;
}

// CPU time of this process so far.
Clock::duration Cpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return std::chrono::seconds(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         std::chrono::microseconds(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// dnsmasq answering host records with their own TTLs ("name,address,ttl"),
// every question written to its log.
class LoggedDns {
 public:
  explicit LoggedDns(const Texts& hostRecords) : log_(MakeLog()) {
    Texts extra{"--log-queries", "--log-facility=" + log_};
    for (const std::string& r : hostRecords) extra.push_back("--host-record=" + r);
    // The first record only makes TestDns wait until the server answers.
    dns_ = std::make_unique<TestDns>(std::map<std::string, Texts>{{"ready.example.test", {"198.18.250.1"}}}, extra);
  }
  ~LoggedDns() {
    dns_.reset();
    std::filesystem::remove_all(std::filesystem::path(log_).parent_path());
  }
  bool Ready() const { return dns_->Ready(); }
  // How often `name` was asked.
  int Asked(const std::string& name) const {
    const std::string text = ReadFileText(log_);
    const std::string what = "query[A] " + name + " ";
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

 private:
  static std::string MakeLog() {
    char pattern[] = "/tmp/quillon-dnslog-XXXXXX";
    return mkdtemp(pattern) != nullptr ? std::string(pattern) + "/queries.log" : std::string();
  }
  std::string log_;
  std::unique_ptr<TestDns> dns_;
};

class NetnsPasses : public RouterNamespaceTest {
 protected:
  void TearDown() override {
    workers_.reset();
    router_.reset();
    Ip({"link", "set", "v0", "up"}, true);
    RouterNamespaceTest::TearDown();
  }
  // The re-apply worker and the watcher, with no second full pass while the
  // test runs: every later pass is one the network's events asked for.
  void StartWorkers() {
    routing::SplitWorkers::PassHooks hooks;
    hooks.reload = [this] {
      ++fullPasses_;
      return true;
    };
    hooks.routed = [this](const platform::RouteReport&) { ++passes_; };
    workers_ = std::make_unique<routing::SplitWorkers>(*sys_, *router_, hooks);
    workers_->pauseMs = 600000;
    ASSERT_TRUE(workers_->StartReapply());
    ASSERT_TRUE(WaitFor([&] { return passes_ == 1; }, kWaitSeconds));
  }
  int RoutePasses() const { return passes_ - fullPasses_; }
  // Whether no pass starts or runs for `window` (a pass the last change asked
  // for starts within 150 ms, and at most 0.5 s after the last one).
  bool QuietFor(std::chrono::milliseconds window) {
    const int before = passes_;
    const auto end = Clock::now() + window;
    while (Clock::now() < end) {
      if (workers_->Busy() || passes_ != before) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  // A line's link goes down and up; its default route comes back as a
  // network manager would put it back.
  static void Bounce(const std::string& link, const std::string& gateway, const std::string& metric) {
    IpOk({"link", "set", link, "down"});
    IpOk({"link", "set", link, "up"});
    ASSERT_TRUE(WaitFor([&] { return Ip({"route", "add", "default", "via", gateway, "metric", metric}, true).ok; }, kWaitSeconds));
  }

  std::unique_ptr<routing::SplitWorkers> workers_;
  std::atomic<int> passes_{0};
  std::atomic<int> fullPasses_{0};
};

TEST_F(NetnsPasses, TheTtlDecidesWhichNamesAFullPassLooksUp) {
  LoggedDns dns({"now.example.test,198.18.1.1,0", "hour.example.test,198.18.2.1,3600"});
  ASSERT_TRUE(dns.Ready());
  Store("now.example.test", kLine0);
  Store("hour.example.test", kLine1);
  router_->RouteAllEntries();
  router_->RouteAllEntries();
  router_->RouteAllEntries();
  ASSERT_TRUE(WaitFor([&] { return dns.Asked("now.example.test") == 3; }, kWaitSeconds)) << dns.Asked("now.example.test");
  EXPECT_EQ(dns.Asked("hour.example.test"), 1);
  EXPECT_TRUE(Routed("198.18.1.0/24 via 192.0.2.1"));
  EXPECT_TRUE(Routed("198.18.2.0/24 via 198.51.100.1"));
}

TEST_F(NetnsPasses, ABouncedLineAndADeletedRouteComeBackWithoutALookupAndNothingElseFollows) {
  LoggedDns dns({"a.example.test,198.18.1.1,3600", "b.example.test,198.18.2.1,3600"});
  ASSERT_TRUE(dns.Ready());
  Store("a.example.test", kLine0);
  Store("b.example.test", kLine1);
  StartWorkers();
  ASSERT_TRUE(Routed("198.18.1.0/24 via 192.0.2.1"));
  // The pass's own changes ask for no other pass.
  EXPECT_TRUE(QuietFor(std::chrono::milliseconds(1500)));
  EXPECT_EQ(RoutePasses(), 0);

  Bounce("v0", kLine0, "30");
  ASSERT_TRUE(WaitFor([] { return Routed("198.18.1.0/24 via 192.0.2.1"); }, kWaitSeconds)) << "the bounced line's route";
  EXPECT_TRUE(Routed("198.18.2.0/24 via 198.51.100.1"));

  IpOk({"route", "del", "198.18.2.0/24", "via", kLine1});
  ASSERT_TRUE(WaitFor([] { return Routed("198.18.2.0/24 via 198.51.100.1"); }, kWaitSeconds)) << "the deleted route";
  EXPECT_GE(RoutePasses(), 2);
  EXPECT_EQ(fullPasses_, 1);
  EXPECT_EQ(dns.Asked("a.example.test"), 1);
  EXPECT_EQ(dns.Asked("b.example.test"), 1);
  EXPECT_TRUE(QuietFor(std::chrono::milliseconds(1500)));
}

TEST_F(NetnsPasses, AFlappingLineCostsAFewPassesAndLeavesTheProcessIdle) {
  LoggedDns dns({"a.example.test,198.18.1.1,3600"});
  ASSERT_TRUE(dns.Ready());
  Store("a.example.test", kLine0);
  StartWorkers();

  // v0 down and up 100 times as fast as the kernel lets (each time its
  // default route and the split route go), then its default route back.
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(s, 0);
  ifreq request{};
  std::strcpy(request.ifr_name, "v0");
  ASSERT_EQ(ioctl(s, SIOCGIFFLAGS, &request), 0);
  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i) {
    request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
    ASSERT_EQ(ioctl(s, SIOCSIFFLAGS, &request), 0);
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ASSERT_EQ(ioctl(s, SIOCSIFFLAGS, &request), 0);
  }
  close(s);
  ASSERT_TRUE(WaitFor([&] { return Ip({"route", "add", "default", "via", kLine0, "metric", "30"}, true).ok; }, kWaitSeconds));
  ASSERT_TRUE(WaitFor([] { return Routed("198.18.1.0/24 via 192.0.2.1"); }, kWaitSeconds));
  ASSERT_TRUE(WaitFor([&] { return QuietFor(std::chrono::milliseconds(1000)); }, kWaitSeconds));
  // At most a pass every 250 ms while it flapped, and one after.
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_LE(RoutePasses(), 4 * seconds + 4) << "in " << seconds << " s";
  const Clock::duration cpu = Cpu();
  EXPECT_TRUE(QuietFor(std::chrono::milliseconds(1000)));
  EXPECT_LT(Cpu() - cpu, std::chrono::milliseconds(100)) << "busy while nothing changes";
  EXPECT_EQ(dns.Asked("a.example.test"), 1);
}

TEST_F(NetnsPasses, AFullPassWithNothingDueStillSeesWhatAnotherProcessWroteToTheStore) {
  LoggedDns dns({"a.example.test,198.18.1.1,3600", "b.example.test,198.18.2.1,3600"});
  ASSERT_TRUE(dns.Ready());
  Store("a.example.test", kLine0);
  router_->RouteAllEntries();
  router_->RouteAllEntries();
  ASSERT_TRUE(Routed("198.18.1.0/24 via 192.0.2.1"));
  // Another process's store object (the window's, the command line's).
  routing::SplitStore other(*sys_, store_->Path());
  ASSERT_TRUE(other.Write({"b.example.test", kLine1, routing::kEnabled, ""}));
  router_->RouteAllEntries();
  EXPECT_TRUE(Routed("198.18.2.0/24 via 198.51.100.1"));
  ASSERT_TRUE(other.SetStatus("b.example.test", routing::kDisabled));
  router_->RouteAllEntries({}, routing::SplitRouter::Pass::RoutesOnly);
  EXPECT_FALSE(Routed("198.18.2.0/24 via 198.51.100.1"));
  EXPECT_EQ(dns.Asked("a.example.test"), 1);
  EXPECT_EQ(dns.Asked("b.example.test"), 1);
}

TEST_F(NetnsPasses, AnAnswerThatChangesAddsItsNetworksAndKeepsTheOldOnes) {
  Store("turn.example.test", kLine1);
  {
    LoggedDns dns({"turn.example.test,198.18.5.1,0"});
    ASSERT_TRUE(dns.Ready());
    router_->RouteAllEntries();
  }
  ASSERT_TRUE(Routed("198.18.5.0/24 via 198.51.100.1"));
  LoggedDns rotated({"turn.example.test,198.18.6.1,0"});
  ASSERT_TRUE(rotated.Ready());
  router_->RouteAllEntries();
  EXPECT_TRUE(Routed("198.18.5.0/24 via 198.51.100.1"));
  EXPECT_TRUE(Routed("198.18.6.0/24 via 198.51.100.1"));
}

}  // namespace
}  // namespace quillon::netns
