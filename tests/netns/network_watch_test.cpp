// The network watcher (platform/posix/network_watch.h) against the
// namespace's kernel: links taken down and up with `ip` and flapped with
// ioctl, addresses and routes added and deleted. A marker route (added and
// deleted) shows when every event before it has been reported.
#include "platform/posix/network_watch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipv4.h"
#include "platform/route_plan.h"
#include "tests/netns/netns_support.h"

namespace quillon::platform {
// Printed in failures as the watcher's event.
inline void PrintTo(const NetworkEvent& e, std::ostream* os) {
  static const char* kinds[] = {"LinkUp", "AddressAdded", "RouteAdded", "RouteDeleted"};
  *os << kinds[e.kind];
  if (e.kind >= NetworkEvent::RouteAdded) {
    *os << " " << PrefixText(e.prefix) << " via " << Ipv4Text(e.gateway) << " proto " << e.protocol;
  }
}
}  // namespace quillon::platform

namespace quillon::netns {
namespace {

using platform::NetworkEvent;
using platform::NetworkWatch;
using ::testing::Each;
using ::testing::ElementsAre;

constexpr char kMarker[] = "198.18.255.0/24";

NetworkEvent Kind(NetworkEvent::Kind kind) {
  NetworkEvent e;
  e.kind = kind;
  return e;
}

NetworkEvent Route(NetworkEvent::Kind kind, const char* prefix, const char* gateway, int protocol) {
  NetworkEvent e = Kind(kind);
  const std::string text = prefix;
  const std::size_t slash = text.find('/');
  e.prefix = {*platform::ParseIpv4(text.substr(0, slash)), std::stoi(text.substr(slash + 1))};
  e.gateway = *gateway ? *platform::ParseIpv4(gateway) : 0;
  e.protocol = protocol;
  return e;
}

// What the watcher reported, as its thread reports it; Hold() makes the
// next report wait until Release().
class Events {
 public:
  void Add(const NetworkEvent& e) {
    std::unique_lock lock(mutex_);
    events_.push_back(e);
    changed_.notify_all();
    changed_.wait(lock, [&] { return !held_; });
  }
  // Waits until `done` holds for what was reported, at most 20 s.
  bool WaitFor(const std::function<bool(const std::vector<NetworkEvent>&)>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return done(events_); });
  }
  // Makes a route change that nobody else makes (a protocol number of its
  // own each time) and waits until the watcher has reported it; then gives
  // what was reported before it and forgets all of it.
  std::vector<NetworkEvent> UpToMarker() {
    const int protocol = 200 + marks_++ % 50;
    Ip({"route", "add", kMarker, "dev", "lo", "proto", std::to_string(protocol)});
    Ip({"route", "del", kMarker, "dev", "lo", "proto", std::to_string(protocol)});
    const NetworkEvent added = Route(NetworkEvent::RouteAdded, kMarker, "", protocol);
    const NetworkEvent deleted = Route(NetworkEvent::RouteDeleted, kMarker, "", protocol);
    EXPECT_TRUE(WaitFor([&](const std::vector<NetworkEvent>& all) {
      return std::find(all.begin(), all.end(), deleted) != all.end();
    })) << "the watcher did not report the marker route";
    std::lock_guard lock(mutex_);
    std::vector<NetworkEvent> before(events_.begin(), std::find(events_.begin(), events_.end(), added));
    events_.clear();
    return before;
  }
  void Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<NetworkEvent> events_;
  bool held_ = false;
  int marks_ = 0;
};

// The operational state `ip` shows for a link ("UP", "DOWN", ...).
std::string OperState(const std::string& link) {
  Json all;
  const IpResult r = Ip({"-j", "link", "show", "dev", link});
  if (!r.ok || !ParseJson(r.out, all) || all.items.empty()) return {};
  const Json* state = all.items[0].Find("operstate");
  return state != nullptr ? state->text : std::string();
}

// Waits until v3 and its peer p3 are both up and running, or both not.
bool PairIs(bool running) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    const bool v3 = OperState("v3") == "UP", p3 = OperState("p3") == "UP";
    if (v3 == running && p3 == running) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Takes v3 down and up `times` times as fast as the kernel lets.
void Flap(int times) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(s, 0);
  ifreq request{};
  std::strcpy(request.ifr_name, "v3");
  ASSERT_EQ(ioctl(s, SIOCGIFFLAGS, &request), 0);
  for (int i = 0; i < times; ++i) {
    request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
    ASSERT_EQ(ioctl(s, SIOCSIFFLAGS, &request), 0);
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ASSERT_EQ(ioctl(s, SIOCSIFFLAGS, &request), 0);
  }
  close(s);
}

class NetnsNetworkWatch : public NamespaceTest {
 protected:
  // A watcher whose events go to events_, with everything it saw at its
  // start (the baseline being put back) reported and forgotten.
  void Start(int receiveBuffer = NetworkWatch::kReceiveBuffer) {
    watch_ = std::make_unique<NetworkWatch>([this](const NetworkEvent& e) { events_.Add(e); }, receiveBuffer);
    ASSERT_TRUE(watch_->Watching());
    ASSERT_TRUE(PairIs(true));
    events_.UpToMarker();
  }
  void TearDown() override {
    events_.Release();
    watch_.reset();  // stops its thread: a hang here fails the suite
    Ip({"link", "set", "v3", "up"});
    NamespaceTest::TearDown();
  }

  Events events_;
  std::unique_ptr<NetworkWatch> watch_;
};

TEST_F(NetnsNetworkWatch, ALinkThatComesBackIsReportedOnceForEachEndOfThePair) {
  Start();
  if (!Ready()) return;
  IpOk({"link", "set", "v3", "down"});
  ASSERT_TRUE(PairIs(false));
  EXPECT_THAT(events_.UpToMarker(), ::testing::IsEmpty());

  IpOk({"link", "set", "v3", "up"});
  ASSERT_TRUE(PairIs(true));
  // A change of a link that stays up is no transition.
  IpOk({"link", "set", "v3", "mtu", "1400"});
  IpOk({"link", "set", "v3", "mtu", "1500"});
  // v3 and its peer p3 (whose carrier came back) are up and running again.
  EXPECT_THAT(events_.UpToMarker(), ElementsAre(Kind(NetworkEvent::LinkUp), Kind(NetworkEvent::LinkUp)));
}

// Quillon's own additions are dropped before they are queued; their
// deletion still shows.
TEST_F(NetnsNetworkWatch, AddressesAndRoutesOfTheMainTableWithGatewayAndProtocol) {
  Start();
  if (!Ready()) return;
  IpOk({"addr", "add", "198.18.7.1/24", "dev", "v3"});
  IpOk({"route", "add", "198.18.9.0/24", "via", "192.0.2.1", "proto",
        std::to_string(platform::kRouteProtocol)});
  IpOk({"route", "add", "198.18.9.0/24", "via", "192.0.2.1", "table", "100"});  // not the main table
  IpOk({"route", "del", "198.18.9.0/24", "via", "192.0.2.1", "proto",
        std::to_string(platform::kRouteProtocol)});
  IpOk({"route", "add", "default", "via", "198.51.100.1", "metric", "99"});

  EXPECT_THAT(
      events_.UpToMarker(),
      ElementsAre(Kind(NetworkEvent::AddressAdded),
                  Route(NetworkEvent::RouteAdded, "198.18.7.0/24", "", 2),  // the address's network
                  Route(NetworkEvent::RouteDeleted, "198.18.9.0/24", "192.0.2.1", platform::kRouteProtocol),
                  Route(NetworkEvent::RouteAdded, "0.0.0.0/0", "198.51.100.1", 3)));
}

TEST_F(NetnsNetworkWatch, AFlappingLinkIsFollowedAndAnOverflowedQueueIsReportedAndRecovered) {
  Start();
  if (!Ready()) return;
  Flap(100);
  ASSERT_TRUE(PairIs(true));
  const std::vector<NetworkEvent> flaps = events_.UpToMarker();
  EXPECT_THAT(flaps, Each(Kind(NetworkEvent::LinkUp)));
  EXPECT_GE(flaps.size(), 1u);
  EXPECT_EQ(watch_->Overflows(), 0u);

  // A small queue, and a callback that holds the thread while the link
  // flaps: the kernel drops messages.
  watch_.reset();
  Start(16 << 10);
  if (!Ready()) return;
  events_.Hold();
  IpOk({"route", "add", "198.18.254.0/24", "dev", "lo"});
  ASSERT_TRUE(events_.WaitFor([](const std::vector<NetworkEvent>& all) { return !all.empty(); }));
  Flap(100);
  ASSERT_TRUE(PairIs(true));
  events_.Release();
  EXPECT_THAT(events_.UpToMarker(), ::testing::Contains(Kind(NetworkEvent::LinkUp)));  // what was lost
  EXPECT_GE(watch_->Overflows(), 1u);

  // The link states were read again: the next transition counts as before.
  IpOk({"link", "set", "v3", "down"});
  ASSERT_TRUE(PairIs(false));
  EXPECT_THAT(events_.UpToMarker(), ::testing::IsEmpty());
  IpOk({"link", "set", "v3", "up"});
  ASSERT_TRUE(PairIs(true));
  EXPECT_THAT(events_.UpToMarker(), ElementsAre(Kind(NetworkEvent::LinkUp), Kind(NetworkEvent::LinkUp)));
}

}  // namespace
}  // namespace quillon::netns
