// The IP Helper's change notifications (NotifyIpInterfaceChange,
// NotifyRouteChange2) turned into the NetworkEvents of System::WatchNetwork.
// Only the Windows backend and its tests include this header.
//
// The binding reports what happened and judges nothing: when a pass starts,
// and how a burst of events folds into one, is the routing logic's business.
#pragma once

#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/network_event.h"

namespace quillon::platform::win32 {

class NetworkWatch {
 public:
  using Handler = std::function<void(const NetworkEvent&)>;

  explicit NetworkWatch(Handler onEvent);
  // Cancels the registrations; a callback that runs meanwhile ends first.
  ~NetworkWatch();
  NetworkWatch(const NetworkWatch&) = delete;
  NetworkWatch& operator=(const NetworkWatch&) = delete;

  // Notes which interfaces are up now, then registers for the changes of
  // IPv4 interfaces and IPv4 routes. False, with nothing left registered,
  // when the system refuses either or gives no handle for it (Wine's
  // stand-ins of both succeed without one and never report anything).
  bool Start();

  // What the system's callbacks hand over, on a thread of the system's;
  // each does a few reads and calls the handler, one call at a time.
  //
  // An interface that was added or changed reports LinkUp when its
  // operational state has turned up since the last report about it (an
  // interface first seen up counts as turned up); the loopback never does.
  void InterfaceChanged(const MIB_IPINTERFACE_ROW& row, MIB_NOTIFICATION_TYPE type);
  // A new IPv4 default route (0.0.0.0/0) reports RouteAdded with its gateway
  // (0 for none) and the system's protocol number of the route. Every other
  // route change reports nothing: on Windows each pass deletes and adds its
  // own /24 routes, and reporting those would start the next pass.
  void RouteChanged(const MIB_IPFORWARD_ROW2& row, MIB_NOTIFICATION_TYPE type);

 private:
  void Report(const NetworkEvent& event);

  Handler onEvent_;
  std::mutex mutex_;  // guards up_ and makes the handler's calls one at a time
  std::map<std::uint64_t, bool> up_;  // by interface LUID: up at the last look
  HANDLE interfaceNotification_ = nullptr;
  HANDLE routeNotification_ = nullptr;
};

}  // namespace quillon::platform::win32
