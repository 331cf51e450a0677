// Owning handles and sockets for libnl-route-3, shared by the netlink files
// of the Linux backend. Every call opens a socket of its own, so calls from
// several threads need no lock.
#pragma once

#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <netlink/socket.h>
#include <sys/socket.h>

#include <memory>

namespace quillon::platform::netlink {

struct SocketCloser {
  void operator()(nl_sock* s) const { nl_socket_free(s); }
};
struct CacheFreer {
  void operator()(nl_cache* c) const { nl_cache_free(c); }
};
struct AddrPutter {
  void operator()(nl_addr* a) const { nl_addr_put(a); }
};
struct RoutePutter {
  void operator()(rtnl_route* r) const { rtnl_route_put(r); }
};
struct LinkPutter {
  void operator()(rtnl_link* l) const { rtnl_link_put(l); }
};
struct NexthopFreer {
  void operator()(rtnl_nexthop* n) const { rtnl_route_nh_free(n); }
};

using Socket = std::unique_ptr<nl_sock, SocketCloser>;
using Cache = std::unique_ptr<nl_cache, CacheFreer>;
using Addr = std::unique_ptr<nl_addr, AddrPutter>;
using Route = std::unique_ptr<rtnl_route, RoutePutter>;
using Link = std::unique_ptr<rtnl_link, LinkPutter>;
using Nexthop = std::unique_ptr<rtnl_nexthop, NexthopFreer>;

// A connected NETLINK_ROUTE socket, or null.
inline Socket OpenRouteSocket() {
  Socket sock(nl_socket_alloc());
  if (!sock) return nullptr;
  if (nl_connect(sock.get(), NETLINK_ROUTE) < 0) return nullptr;
  return sock;
}

// The IPv4 routes of every table, read from the kernel now.
inline Cache RouteCache(nl_sock* sock) {
  nl_cache* c = nullptr;
  if (rtnl_route_alloc_cache(sock, AF_INET, 0, &c) < 0) return nullptr;
  return Cache(c);
}

}  // namespace quillon::platform::netlink
