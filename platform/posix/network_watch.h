// The machine's network changes as the kernel reports them: a NETLINK_ROUTE
// socket of its own, subscribed to the link, IPv4 address and IPv4 route
// groups (listening needs no rights), read on a thread of its own and
// turned into platform::NetworkEvent. Linux backend only.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

#include "platform/network_event.h"

namespace quillon::platform {

// What the watcher reports, in the kernel's order:
//   LinkUp        an interface became up and running (IFF_UP and IFF_RUNNING:
//                 administratively up, with carrier, not dormant) after not
//                 being so, once per transition; links that are up when the
//                 watcher starts are not reported;
//   AddressAdded  an IPv4 address was added to an interface (or its
//                 lifetime renewed: the kernel reports both alike);
//   RouteAdded / RouteDeleted
//                 an IPv4 route of the main table, with its prefix, its
//                 first next hop's gateway (0 for none) and its protocol
//                 number. A route that replaces another comes as RouteAdded
//                 alone. The routes the kernel drops itself when an
//                 interface goes down or loses its address come with no
//                 RouteDeleted (IPv4 does not report them); LinkUp and
//                 AddressAdded tell when they can be put back.
// When the socket's queue overflowed (the kernel dropped messages), one
// NetworkEvent{} (a LinkUp, every other field as it is by default) stands
// for whatever was lost, the link states are read again, and the watch
// goes on.
class NetworkWatch {
 public:
  using Callback = std::function<void(const NetworkEvent&)>;

  // Receive buffer asked for the socket: room for bursts of thousands of
  // messages (a link flapping) while the thread is busy. Without the right
  // to exceed net.core.rmem_max the kernel gives at most that, doubled.
  static constexpr int kReceiveBuffer = 4 << 20;

  // Opens the socket, reads the current link states and starts the thread,
  // which calls `onEvent` for each event. The callback runs on that thread:
  // it must be quick (hand the event on), must not throw, and must not
  // destroy the watcher. Watching() tells whether all of that worked.
  explicit NetworkWatch(Callback onEvent, int receiveBuffer = kReceiveBuffer);
  // Wakes the thread, waits for it (at most one callback in progress) and
  // closes the socket.
  ~NetworkWatch();
  NetworkWatch(const NetworkWatch&) = delete;
  NetworkWatch& operator=(const NetworkWatch&) = delete;

  bool Watching() const { return thread_.joinable(); }
  // How often the socket's queue overflowed so far.
  std::size_t Overflows() const { return overflows_; }

 private:
  void Run();

  Callback onEvent_;
  int socket_ = -1;
  int wake_ = -1;  // an eventfd: written once to stop the thread
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> overflows_{0};
  std::thread thread_;
};

}  // namespace quillon::platform
