// Adapters, gateway discovery and default routes through rtnetlink
// (libnl-route-3). Every call opens its own netlink socket, so calls from
// several threads need no lock; nothing here runs a program or a shell.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <netlink/socket.h>
#include <linux/rtnetlink.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/netlink_support.h"
#include "platform/posix/posix_system.h"
#include "platform/safety.h"

namespace quillon::platform {

using namespace netlink;

namespace {

Cache LinkCache(nl_sock* sock) {
  nl_cache* c = nullptr;
  if (rtnl_link_alloc_cache(sock, AF_UNSPEC, &c) < 0) return nullptr;
  return Cache(c);
}

Cache AddrCache(nl_sock* sock) {
  nl_cache* c = nullptr;
  if (rtnl_addr_alloc_cache(sock, &c) < 0) return nullptr;
  return Cache(c);
}


// An IPv4 route of the main table to 0.0.0.0/0.
bool IsMainDefaultRoute(rtnl_route* r) {
  if (rtnl_route_get_family(r) != AF_INET) return false;
  if (rtnl_route_get_table(r) != RT_TABLE_MAIN) return false;
  nl_addr* dst = rtnl_route_get_dst(r);  // not referenced for us
  return dst == nullptr || nl_addr_get_prefixlen(dst) == 0;
}

// One gateway of a default route, with what orders it.
struct DefaultGateway {
  int ifindex;
  std::uint32_t metric;
  std::string gateway;
};

// Every gateway of the main table's IPv4 default routes, ordered by
// interface index, then by metric; routes that tie keep the kernel's order.
// A multipath route gives one entry per next hop.
std::vector<DefaultGateway> DefaultGateways(nl_sock* sock) {
  std::vector<DefaultGateway> found;
  std::vector<Route> routes;
  if (!ReadRoutes(sock, routes, 0)) return found;
  for (const Route& route : routes) {
    rtnl_route* r = route.get();
    if (!IsMainDefaultRoute(r)) continue;
    const std::uint32_t metric = rtnl_route_get_priority(r);
    const int n = rtnl_route_get_nnexthops(r);
    for (int i = 0; i < n; ++i) {
      rtnl_nexthop* nh = rtnl_route_nexthop_n(r, i);
      std::string gw = Ipv4Text(rtnl_route_nh_get_gateway(nh));
      if (gw.empty()) continue;
      found.push_back({rtnl_route_nh_get_ifindex(nh), metric, std::move(gw)});
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const DefaultGateway& a, const DefaultGateway& b) {
    if (a.ifindex != b.ifindex) return a.ifindex < b.ifindex;
    return a.metric < b.metric;
  });
  return found;
}

// What the system knows of the device behind an interface: its driver from
// sysfs (physical devices), else the link kind (veth, bridge, ...).
std::string DeviceDescription(rtnl_link* link) {
  const char* name = rtnl_link_get_name(link);
  if (name && *name) {
    const std::string path = std::string("/sys/class/net/") + name + "/device/driver";
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n > 0) {
      std::string t(target, static_cast<std::size_t>(n));
      const auto slash = t.find_last_of('/');
      std::string driver = slash == std::string::npos ? t : t.substr(slash + 1);
      if (!driver.empty()) return driver;
    }
  }
  const char* kind = rtnl_link_get_type(link);
  return kind ? kind : std::string();
}

}  // namespace

std::vector<LineInfo> PosixSystem::ListAdapters() {
  std::vector<LineInfo> result;
  Socket sock = OpenRouteSocket();
  if (!sock) return result;
  Cache links = LinkCache(sock.get());
  Cache addrs = AddrCache(sock.get());
  if (!links || !addrs) return result;

  // The first IPv4 address of each interface, in the kernel's order.
  struct FirstAddress {
    std::string ip;
    int prefixLength;
  };
  std::map<int, FirstAddress> firstAddress;
  nl_cache_foreach(
      addrs.get(),
      [](nl_object* obj, void* arg) {
        auto* a = reinterpret_cast<rtnl_addr*>(obj);
        if (rtnl_addr_get_family(a) != AF_INET) return;
        std::string ip = Ipv4Text(rtnl_addr_get_local(a));
        if (ip.empty()) return;
        auto* m = static_cast<std::map<int, FirstAddress>*>(arg);
        m->emplace(rtnl_addr_get_ifindex(a), FirstAddress{std::move(ip), rtnl_addr_get_prefixlen(a)});
      },
      &firstAddress);

  // The first gateway of each interface: its default route of lowest metric.
  std::map<int, std::string> gateways;
  for (auto& g : DefaultGateways(sock.get())) gateways.emplace(g.ifindex, std::move(g.gateway));

  // Every interface but the loopback, in index order; one without an IPv4
  // address or a gateway is listed with those fields empty.
  std::vector<Link> interfaces;
  nl_cache_foreach(
      links.get(),
      [](nl_object* obj, void* arg) {
        nl_object_get(obj);
        static_cast<std::vector<Link>*>(arg)->emplace_back(reinterpret_cast<rtnl_link*>(obj));
      },
      &interfaces);
  std::sort(interfaces.begin(), interfaces.end(), [](const Link& a, const Link& b) {
    return rtnl_link_get_ifindex(a.get()) < rtnl_link_get_ifindex(b.get());
  });
  for (const Link& link : interfaces) {
    if (rtnl_link_get_flags(link.get()) & IFF_LOOPBACK) continue;
    const int ifindex = rtnl_link_get_ifindex(link.get());
    LineInfo info;
    const char* name = rtnl_link_get_name(link.get());
    info.AdapterName = name ? name : "";
    info.Description = DeviceDescription(link.get());
    if (auto it = firstAddress.find(ifindex); it != firstAddress.end()) {
      info.IpAddress = it->second.ip;
      info.SubnetMask = MaskText(it->second.prefixLength);
    }
    if (auto it = gateways.find(ifindex); it != gateways.end()) info.Gateway = it->second;
    result.push_back(std::move(info));
  }
  return result;
}

std::string PosixSystem::ConnectionName(const std::string& adapterName) {
  if (adapterName.empty() || adapterName.size() >= IFNAMSIZ) return {};
  Socket sock = OpenRouteSocket();
  if (!sock) return {};
  rtnl_link* raw = nullptr;
  if (rtnl_link_get_kernel(sock.get(), 0, adapterName.c_str(), &raw) < 0 || !raw) return {};
  Link link(raw);
  const char* alias = rtnl_link_get_ifalias(link.get());
  if (alias && *alias) return alias;
  const char* name = rtnl_link_get_name(link.get());
  return name ? name : adapterName;
}

// Each gateway once, at its first position: a gateway often has two
// default routes (one a network manager keeps, one restored from the global
// line store), and it is still one line.
std::string PosixSystem::DiscoverGatewayText() {
  Socket sock = OpenRouteSocket();
  if (!sock) return {};
  std::string text;
  std::set<std::string> seen;
  for (const auto& g : DefaultGateways(sock.get())) {
    if (seen.insert(g.gateway).second) text += g.gateway + ";";
  }
  return text;
}

}  // namespace quillon::platform
