// Owning handles and sockets for libnl-route-3, shared by the netlink files
// of the Linux backend. Every call opens a socket of its own, so calls from
// several threads need no lock.
#pragma once

#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/errno.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <netlink/socket.h>
#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

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

// The dotted text of an IPv4 address; empty for none or another family.
inline std::string Ipv4Text(nl_addr* a) {
  if (!a || nl_addr_get_family(a) != AF_INET || nl_addr_get_len(a) != 4) return {};
  char buf[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, nl_addr_get_binary_addr(a), buf, sizeof buf)) return {};
  return buf;
}

// A connected NETLINK_ROUTE socket, or null.
inline Socket OpenRouteSocket() {
  Socket sock(nl_socket_alloc());
  if (!sock) return nullptr;
  if (nl_connect(sock.get(), NETLINK_ROUTE) < 0) return nullptr;
  return sock;
}

// The IPv4 routes of every table, read from the kernel now, one object per
// route of the dump. A route cache would cost about five times as much on a
// large table (each object hashed and compared with the others), and would
// keep only one of two routes that differ in nothing but their next hops
// ("ip route append"). With `dstLength` 0 to 32, only routes to prefixes of
// that length are parsed: the others (tens of thousands of split routes,
// when the caller wants the default routes) are passed over in their raw
// form. False when the dump could not be read.
inline bool ReadRoutes(nl_sock* sock, std::vector<Route>& routes, int dstLength = -1) {
  struct Collect {
    std::vector<Route>* routes;
    int dstLength;
    static int Message(nl_msg* msg, void* arg) {
      const Collect& into = *static_cast<const Collect*>(arg);
      nlmsghdr* header = nlmsg_hdr(msg);
      if (into.dstLength >= 0) {
        if (!nlmsg_valid_hdr(header, sizeof(rtmsg))) return NL_SKIP;
        if (static_cast<const rtmsg*>(nlmsg_data(header))->rtm_dst_len != into.dstLength) return NL_SKIP;
      }
      rtnl_route* route = nullptr;
      if (rtnl_route_parse(header, &route) < 0 || route == nullptr) return NL_SKIP;
      into.routes->emplace_back(route);
      return NL_OK;
    }
  };
  Collect collect{&routes, dstLength};
  // A dump that the kernel reports as interrupted by a change is read again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    routes.clear();
    rtmsg request{};
    request.rtm_family = AF_INET;
    if (nl_send_simple(sock, RTM_GETROUTE, NLM_F_DUMP, &request, sizeof request) < 0) return false;
    nl_cb* base = nl_socket_get_cb(sock);
    nl_cb* cb = base ? nl_cb_clone(base) : nullptr;
    if (base) nl_cb_put(base);
    if (!cb) return false;
    nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, &Collect::Message, &collect);
    const int rc = nl_recvmsgs(sock, cb);
    nl_cb_put(cb);
    if (rc >= 0) return true;
    if (rc != -NLE_DUMP_INTR) return false;
  }
  return false;
}

}  // namespace quillon::platform::netlink
