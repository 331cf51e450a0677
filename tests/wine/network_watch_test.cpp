// WatchNetwork on Windows (network_watch.h), under Wine, inside the private
// namespace of wine-run.sh. Wine 8 accepts both registrations without giving
// a handle and never reports a change; WatchNetwork must then fail cleanly.
// What the binding makes of a notification is checked by handing it what the
// system's callbacks would, while a veth line's link goes down and up.
#include "platform/win32/win32_system.h"

#include "platform/win32/network_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "veth_lines.h"

namespace quillon::platform {

void PrintTo(const NetworkEvent& e, std::ostream* out) {
  *out << "{kind " << e.kind << ", " << PrefixText(e.prefix) << " via " << Ipv4Text(e.gateway) << ", protocol "
       << e.protocol << "}";
}

namespace {

// The line qa0 up again with its default route, which the kernel dropped
// with the link. (Wine takes an interface's operational state from its
// administrative one: a link without carrier still reads as up.)
constexpr char kLineBack[] = "ip link set qa0 up && ip route replace default via 192.0.2.1 dev qa0 metric 100";

// Waits up to ten seconds for `condition`.
template <class Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 100; ++i) {
    if (condition()) return true;
    Sleep(100);
  }
  return condition();
}

// The interface that holds `address` (network byte order), as the
// notifications name it.
MIB_IPINTERFACE_ROW InterfaceWithAddress(std::uint32_t address) {
  MIB_IPINTERFACE_ROW row{};
  row.Family = AF_INET;
  ULONG size = 64 * 1024;
  std::vector<unsigned char> buffer(size);
  auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  if (GetAdaptersAddresses(AF_INET, 0, nullptr, adapters, &size) != ERROR_SUCCESS) return row;
  for (const IP_ADAPTER_ADDRESSES* a = adapters; a != nullptr; a = a->Next) {
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      if (reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr == address) {
        row.InterfaceLuid = a->Luid;
        row.InterfaceIndex = a->IfIndex;
      }
    }
  }
  return row;
}

bool IsUp(const MIB_IPINTERFACE_ROW& watched) {
  MIB_IF_ROW2 row{};
  row.InterfaceLuid = watched.InterfaceLuid;
  return GetIfEntry2(&row) == NO_ERROR && row.OperStatus == IfOperStatusUp;
}

class NetworkWatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lines_ = wine::MakeTwoLines(); }
  static void TearDownTestSuite() {
    if (lines_.privateNamespace) wine::RemoveTwoLines();
  }
  void SetUp() override {
    ASSERT_TRUE(lines_.shellStarted) << "Wine could not start the Linux shell";
    ASSERT_TRUE(lines_.privateNamespace) << "not inside the private namespace of wine-run.sh";
    ASSERT_TRUE(lines_.linesReady) << "could not set up the veth lines";
  }
  int LinkUps() {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const NetworkEvent& e : events_) count += e.kind == NetworkEvent::LinkUp ? 1 : 0;
    return count;
  }

  static inline wine::LinesSetup lines_;
  std::mutex mutex_;
  std::vector<NetworkEvent> events_;
  win32::NetworkWatch watch_{[this](const NetworkEvent& e) {
    std::lock_guard lock(mutex_);
    events_.push_back(e);
  }};
};

// Where the system delivers notifications, the line coming back is reported
// through them; where it does not (Wine 8), nothing is left registered.
TEST_F(NetworkWatchTest, WatchingEitherReportsALineComingBackOrFailsCleanly) {
  Win32System system;
  std::atomic<int> linkUps{0};
  const bool watching = system.WatchNetwork([&](const NetworkEvent& e) {
    if (e.kind == NetworkEvent::LinkUp) ++linkUps;
  });
  if (!watching) {
    std::printf("WatchNetwork: the system reports no changes here; only the binding is checked\n");
    EXPECT_FALSE(system.WatchNetwork({}));
    return;
  }
  const MIB_IPINTERFACE_ROW qa0 = InterfaceWithAddress(wine::Ipv4(192, 0, 2, 10));
  ASSERT_TRUE(wine::RunShell("ip link set qa0 down"));
  ASSERT_TRUE(WaitFor([&] { return !IsUp(qa0); }));
  ASSERT_TRUE(wine::RunShell(kLineBack));
  EXPECT_TRUE(WaitFor([&] { return linkUps > 0; })) << "no LinkUp for a line that came back";
}

// LinkUp once when the line's link has come back, not while it stays up or
// stays down; an interface first seen up counts as come back.
TEST_F(NetworkWatchTest, ALineReportsLinkUpWhenItComesBack) {
  const MIB_IPINTERFACE_ROW qa0 = InterfaceWithAddress(wine::Ipv4(192, 0, 2, 10));
  ASSERT_NE(qa0.InterfaceLuid.Value, 0u);
  ASSERT_TRUE(IsUp(qa0));
  watch_.Start();  // notes what is up now, whether or not it registers

  watch_.InterfaceChanged(qa0, MibParameterNotification);
  EXPECT_EQ(LinkUps(), 0) << "up all along";
  ASSERT_TRUE(wine::RunShell("ip link set qa0 down"));
  ASSERT_TRUE(WaitFor([&] { return !IsUp(qa0); }));
  watch_.InterfaceChanged(qa0, MibParameterNotification);
  EXPECT_EQ(LinkUps(), 0) << "went down";
  ASSERT_TRUE(wine::RunShell(kLineBack));
  ASSERT_TRUE(WaitFor([&] { return IsUp(qa0); }));
  watch_.InterfaceChanged(qa0, MibParameterNotification);
  EXPECT_EQ(LinkUps(), 1) << "came back";
  watch_.InterfaceChanged(qa0, MibParameterNotification);
  EXPECT_EQ(LinkUps(), 1) << "stayed up";

  watch_.InterfaceChanged(qa0, MibDeleteInstance);
  watch_.InterfaceChanged(qa0, MibAddInstance);
  EXPECT_EQ(LinkUps(), 2) << "an interface that appears up";
}

MIB_IPFORWARD_ROW2 Route(const char* destination, int length, const char* gateway, int family = AF_INET) {
  MIB_IPFORWARD_ROW2 row{};
  row.DestinationPrefix.Prefix.si_family = static_cast<ADDRESS_FAMILY>(family);
  row.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr = inet_addr(destination);
  row.DestinationPrefix.PrefixLength = static_cast<UINT8>(length);
  row.NextHop.si_family = static_cast<ADDRESS_FAMILY>(family);
  row.NextHop.Ipv4.sin_addr.s_addr = inet_addr(gateway);
  row.Protocol = static_cast<NL_ROUTE_PROTOCOL>(MIB_IPPROTO_NETMGMT);  // as route.exe makes them
  return row;
}

// A new IPv4 default route is reported with its gateway; the /24 routes
// that every pass deletes and adds, changes and removals, and IPv6 are not.
TEST(NetworkWatch, OnlyANewIPv4DefaultRouteIsReported) {
  std::vector<NetworkEvent> events;
  win32::NetworkWatch watch([&](const NetworkEvent& e) { events.push_back(e); });
  watch.RouteChanged(Route("198.18.1.0", 24, "192.0.2.1"), MibAddInstance);
  watch.RouteChanged(Route("198.18.1.0", 24, "192.0.2.1"), MibDeleteInstance);
  watch.RouteChanged(Route("0.0.0.0", 0, "192.0.2.1"), MibDeleteInstance);
  watch.RouteChanged(Route("0.0.0.0", 0, "192.0.2.1"), MibParameterNotification);
  watch.RouteChanged(Route("0.0.0.0", 0, "0.0.0.0", AF_INET6), MibAddInstance);
  EXPECT_TRUE(events.empty());

  watch.RouteChanged(Route("0.0.0.0", 0, "198.51.100.1"), MibAddInstance);
  watch.RouteChanged(Route("0.0.0.0", 0, "0.0.0.0"), MibAddInstance);  // on-link, no gateway
  NetworkEvent viaGateway;
  viaGateway.kind = NetworkEvent::RouteAdded;
  viaGateway.prefix = Prefix{0, 0};
  viaGateway.gateway = *ParseIpv4("198.51.100.1");
  viaGateway.protocol = MIB_IPPROTO_NETMGMT;
  NetworkEvent onLink = viaGateway;
  onLink.gateway = 0;
  EXPECT_EQ(events, (std::vector<NetworkEvent>{viaGateway, onLink}));
}

}  // namespace
}  // namespace quillon::platform
