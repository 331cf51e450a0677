// WatchNetwork on Windows: the IP Helper's notifications of IPv4 interfaces
// and routes, read and passed on as NetworkEvents (network_watch.h).
//
// The backend header comes before <windows.h>, whose CreateDirectory macro
// would otherwise rename a member of the class.
#include "platform/win32/win32_system.h"

#include "platform/win32/network_watch.h"

#include <memory>
#include <utility>

namespace quillon::platform {
namespace win32 {
namespace {

// The interface's state now: whether it is up, and whether it is the
// loopback, which never reports.
struct InterfaceState {
  bool known = false;
  bool up = false;
  bool loopback = false;
};

InterfaceState ReadInterface(const NET_LUID& luid, NET_IFINDEX index) {
  MIB_IF_ROW2 row{};
  row.InterfaceLuid = luid;
  row.InterfaceIndex = index;  // used when the LUID is 0
  InterfaceState state;
  if (GetIfEntry2(&row) != NO_ERROR) return state;
  state.known = true;
  state.up = row.OperStatus == IfOperStatusUp;
  state.loopback = row.Type == IF_TYPE_SOFTWARE_LOOPBACK;
  return state;
}

void WINAPI OnInterfaceChange(PVOID context, PMIB_IPINTERFACE_ROW row, MIB_NOTIFICATION_TYPE type) {
  if (context != nullptr && row != nullptr) static_cast<NetworkWatch*>(context)->InterfaceChanged(*row, type);
}

void WINAPI OnRouteChange(PVOID context, PMIB_IPFORWARD_ROW2 row, MIB_NOTIFICATION_TYPE type) {
  if (context != nullptr && row != nullptr) static_cast<NetworkWatch*>(context)->RouteChanged(*row, type);
}

}  // namespace

NetworkWatch::NetworkWatch(Handler onEvent) : onEvent_(std::move(onEvent)) {}

NetworkWatch::~NetworkWatch() {
  // Never called from a callback: CancelMibChangeNotify2 waits for the
  // callbacks in progress.
  if (routeNotification_ != nullptr) CancelMibChangeNotify2(routeNotification_);
  if (interfaceNotification_ != nullptr) CancelMibChangeNotify2(interfaceNotification_);
}

bool NetworkWatch::Start() {
  // What is up now, before the first notification can arrive: an interface
  // that is up already reports nothing until it has been down.
  PMIB_IF_TABLE2 table = nullptr;
  if (GetIfTable2(&table) == NO_ERROR && table != nullptr) {
    std::lock_guard lock(mutex_);
    for (ULONG i = 0; i < table->NumEntries; ++i) {
      up_[table->Table[i].InterfaceLuid.Value] = table->Table[i].OperStatus == IfOperStatusUp;
    }
    FreeMibTable(table);
  }

  HANDLE interfaces = nullptr;
  if (NotifyIpInterfaceChange(AF_INET, OnInterfaceChange, this, FALSE, &interfaces) != NO_ERROR ||
      interfaces == nullptr) {
    return false;
  }
  HANDLE routes = nullptr;
  if (NotifyRouteChange2(AF_INET, OnRouteChange, this, FALSE, &routes) != NO_ERROR || routes == nullptr) {
    CancelMibChangeNotify2(interfaces);
    return false;
  }
  interfaceNotification_ = interfaces;
  routeNotification_ = routes;
  return true;
}

void NetworkWatch::InterfaceChanged(const MIB_IPINTERFACE_ROW& row, MIB_NOTIFICATION_TYPE type) {
  const std::uint64_t key = row.InterfaceLuid.Value;
  if (type == MibDeleteInstance) {
    std::lock_guard lock(mutex_);
    up_.erase(key);
    return;
  }
  // The row holds little more than the interface's identity; its state is
  // read afresh.
  const InterfaceState now = ReadInterface(row.InterfaceLuid, row.InterfaceIndex);
  if (!now.known) return;
  bool turnedUp = false;
  {
    std::lock_guard lock(mutex_);
    const auto found = up_.find(key);
    turnedUp = now.up && (found == up_.end() || !found->second);
    up_[key] = now.up;
  }
  if (turnedUp && !now.loopback && type != MibInitialNotification) {
    NetworkEvent event;
    event.kind = NetworkEvent::LinkUp;
    Report(event);
  }
}

void NetworkWatch::RouteChanged(const MIB_IPFORWARD_ROW2& row, MIB_NOTIFICATION_TYPE type) {
  if (type != MibAddInstance) return;
  const IP_ADDRESS_PREFIX& destination = row.DestinationPrefix;
  if (destination.Prefix.si_family != AF_INET || destination.PrefixLength != 0) return;
  NetworkEvent event;
  event.kind = NetworkEvent::RouteAdded;
  event.prefix = Prefix{0, 0};
  event.gateway = row.NextHop.si_family == AF_INET ? ntohl(row.NextHop.Ipv4.sin_addr.s_addr) : 0;
  event.protocol = static_cast<int>(row.Protocol);
  Report(event);
}

void NetworkWatch::Report(const NetworkEvent& event) {
  std::lock_guard lock(mutex_);
  if (onEvent_) onEvent_(event);
}

}  // namespace win32

bool Win32System::WatchNetwork(std::function<void(const NetworkEvent&)> onEvent) {
  // One watch at a time: an earlier one stops before the new one starts.
  networkWatch_.reset();
  if (!onEvent) return false;
  auto watch = std::make_shared<win32::NetworkWatch>(std::move(onEvent));
  if (!watch->Start()) return false;
  networkWatch_ = std::move(watch);
  return true;
}

}  // namespace quillon::platform
