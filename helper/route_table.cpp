#include "helper/route_table.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "platform/posix/netlink_support.h"

namespace quillon::helper {

namespace {

using namespace platform::netlink;
using platform::DefaultRouteRequest;
using platform::Ipv4Text;
using platform::MaskOf;
using platform::PrefixText;
using platform::RoutePlan;
using platform::RouteReport;
using platform::RouteRequest;

std::optional<Ipv4> AddressOf(nl_addr* a) {
  if (a == nullptr || nl_addr_get_family(a) != AF_INET || nl_addr_get_len(a) != 4) return std::nullopt;
  std::uint32_t raw = 0;
  std::memcpy(&raw, nl_addr_get_binary_addr(a), 4);
  return ntohl(raw);
}

Addr AddressObject(Ipv4 value, int prefixLength) {
  const in_addr a{htonl(value)};
  Addr addr(nl_addr_build(AF_INET, &a, sizeof a));
  if (addr) nl_addr_set_prefixlen(addr.get(), prefixLength);
  return addr;
}

bool IsMainIpv4(rtnl_route* r) { return rtnl_route_get_family(r) == AF_INET && rtnl_route_get_table(r) == RT_TABLE_MAIN; }

// The network a route leads to; 0.0.0.0/0 for a default route.
std::optional<Prefix> DestinationOf(rtnl_route* r) {
  nl_addr* dst = rtnl_route_get_dst(r);  // not referenced for us
  if (dst == nullptr || nl_addr_get_prefixlen(dst) == 0) return Prefix{0, 0};
  const std::optional<Ipv4> network = AddressOf(dst);
  const int length = static_cast<int>(nl_addr_get_prefixlen(dst));
  if (!network || length > 32) return std::nullopt;
  return Prefix{*network & MaskOf(length), length};
}

// The gateway of a route of one next hop, else nothing.
std::optional<Ipv4> SingleGateway(rtnl_route* r) {
  if (rtnl_route_get_nnexthops(r) != 1) return std::nullopt;
  return AddressOf(rtnl_route_nh_get_gateway(rtnl_route_nexthop_n(r, 0)));
}

std::string GatewayText(rtnl_route* r) {
  const std::optional<Ipv4> gateway = SingleGateway(r);
  return gateway ? " via " + Ipv4Text(*gateway) : std::string();
}

// A route the system made for a connected network (an address of this
// machine lies in it): such a network is left alone.
bool IsConnectedRoute(rtnl_route* r) {
  return rtnl_route_get_protocol(r) == RTPROT_KERNEL || rtnl_route_get_scope(r) == RT_SCOPE_LINK;
}

bool IsQuillons(rtnl_route* r) { return rtnl_route_get_protocol(r) == platform::kRouteProtocol; }

// Exactly the route that a plan puts in place: Quillon's, unicast, metric
// 0, TOS 0, one next hop through `gateway`.
bool IsPlanRoute(rtnl_route* r, Ipv4 gateway) {
  return IsQuillons(r) && rtnl_route_get_type(r) == RTN_UNICAST && rtnl_route_get_priority(r) == 0 &&
         rtnl_route_get_tos(r) == 0 && SingleGateway(r) == gateway;
}

// A route of the main table to `prefix` through `gateway`, marked as
// Quillon's.
Route MakeRoute(const Prefix& prefix, Ipv4 gateway, std::uint32_t priority) {
  Route route(rtnl_route_alloc());
  Addr dst = AddressObject(prefix.network, prefix.length);
  Addr gw = AddressObject(gateway, 32);
  Nexthop nh(rtnl_route_nh_alloc());
  if (!route || !dst || !gw || !nh) return nullptr;
  rtnl_route_set_family(route.get(), AF_INET);
  rtnl_route_set_table(route.get(), RT_TABLE_MAIN);
  rtnl_route_set_scope(route.get(), RT_SCOPE_UNIVERSE);
  rtnl_route_set_type(route.get(), RTN_UNICAST);
  rtnl_route_set_protocol(route.get(), platform::kRouteProtocol);
  rtnl_route_set_priority(route.get(), priority);
  if (rtnl_route_set_dst(route.get(), dst.get()) < 0) return nullptr;  // takes its own reference
  rtnl_route_nh_set_gateway(nh.get(), gw.get());                         // takes its own reference
  rtnl_route_add_nexthop(route.get(), nh.release());                     // the route owns it now
  return route;
}

std::string Describe(const RouteRequest& r) {
  return "route " + PrefixText(r.prefix) + (r.gateway == 0 ? std::string(" remove") : " via " + Ipv4Text(r.gateway));
}

std::string Describe(const DefaultRouteRequest& d) {
  return "default " + Ipv4Text(d.gateway) + " metric " + std::to_string(d.metric);
}

std::string LineRefusal(Ipv4 gateway, const Machine& machine) {
  if (std::find(machine.lines.begin(), machine.lines.end(), gateway) != machine.lines.end()) return {};
  return "the gateway " + Ipv4Text(gateway) + " is not a line (no default route of the main table goes through it)";
}

// The changes of one plan on one netlink socket, and the report they fill.
class Changes {
 public:
  Changes(nl_sock* sock, RouteReport& report) : sock_(sock), report_(report) {}

  // Whether the kernel refused a change for want of rights: nothing more
  // is tried.
  bool Stopped() const { return report_.outcome == RouteReport::Outcome::NoRights; }

  // The kernel's answer to a request (0: done).
  int Add(const Route& route, int flags, const std::string& what) {
    if (!route) {
      Refuse(what + ": out of memory");
      return -NLE_NOMEM;
    }
    const int answer = Checked(rtnl_route_add(sock_, route.get(), flags));
    if (answer != 0 && answer != -NLE_EXIST && !Stopped()) {
      Refuse(what + ": the kernel refused it: " + nl_geterror(answer));
    }
    return answer;
  }

  // Deletes a route as the table showed it; counts it when it went. One
  // that went away in the meantime (or was just replaced) is no failure.
  void Delete(rtnl_route* route, const std::string& what) {
    const int answer = Checked(rtnl_route_delete(sock_, route, 0));
    if (answer == 0) {
      ++report_.deleted;
    } else if (answer != -NLE_OBJ_NOTFOUND && !Stopped()) {
      Refuse(what + ": could not remove its route" + GatewayText(route) + ": " + nl_geterror(answer));
    }
  }

  void Refuse(const std::string& line) {
    ++report_.refused;
    if (report_.refusals.size() < platform::kReportMaxRefusals) report_.refusals.push_back(line);
  }

  RouteReport& Report() { return report_; }
  nl_sock* Sock() { return sock_; }

 private:
  int Checked(int answer) {
    if (answer == -NLE_PERM || answer == -NLE_NOACCESS) {
      report_.outcome = RouteReport::Outcome::NoRights;
      report_.reason = NoRightsReason();
    }
    return answer;
  }

  nl_sock* sock_;
  RouteReport& report_;
};

bool Read(Changes& changes, std::vector<Route>& routes) {
  if (ReadRoutes(changes.Sock(), routes)) return true;
  changes.Report().outcome = RouteReport::Outcome::Failed;
  changes.Report().reason = "the routing table cannot be read";
  return false;
}

// Every route of the main table that carries Quillon's protocol number goes.
void Clear(Changes& changes) {
  std::vector<Route> routes;
  if (!Read(changes, routes)) return;
  for (const Route& r : routes) {
    if (!IsMainIpv4(r.get()) || !IsQuillons(r.get())) continue;
    const std::optional<Prefix> dst = DestinationOf(r.get());
    changes.Delete(r.get(), "clear " + (dst ? PrefixText(*dst) : std::string("?")));
    if (changes.Stopped()) return;
  }
}

// The default routes: every IPv4 default route of the main table goes
// first (each in a request of its own, named in full: a delete request
// removes one matching route) when the plan replaces them, then the
// accepted ones are added in order, each beside those there
// (NLM_F_CREATE without NLM_F_EXCL: the very same route is not made twice).
void ApplyDefaults(Changes& changes, const RoutePlan& plan, const std::vector<DefaultRouteRequest>& accepted) {
  if (plan.replaceDefaults) {
    if (!plan.defaults.empty() && accepted.empty()) {
      // Deleting them with nothing to put in their place would leave the
      // machine without a default route.
      changes.Refuse("replace-defaults: no default route of the plan is acceptable, so the default routes stay");
      return;
    }
    std::vector<Route> routes;
    if (!Read(changes, routes)) return;
    for (const Route& r : routes) {
      if (!IsMainIpv4(r.get()) || DestinationOf(r.get()) != Prefix{0, 0}) continue;
      changes.Delete(r.get(), "replace-defaults");
      if (changes.Stopped()) return;
    }
  }
  for (const DefaultRouteRequest& d : accepted) {
    const int answer = changes.Add(MakeRoute(Prefix{0, 0}, d.gateway, d.metric), NLM_F_CREATE, Describe(d));
    if (changes.Stopped()) return;
    if (answer == 0) ++changes.Report().added;
    if (answer == -NLE_EXIST) ++changes.Report().kept;
  }
}

// The split routes, as a difference to the table without a gap.
void ApplyRoutes(Changes& changes, const std::vector<RouteRequest>& accepted) {
  // The last request for a prefix decides; prefixes in first-request order.
  std::vector<RouteRequest> wanted;
  std::unordered_map<std::uint64_t, std::size_t> index;
  const auto key = [](const Prefix& p) { return std::uint64_t{p.network} << 8 | static_cast<std::uint64_t>(p.length); };
  for (const RouteRequest& r : accepted) {
    const auto [at, fresh] = index.emplace(key(r.prefix), wanted.size());
    if (fresh) {
      wanted.push_back(r);
    } else {
      wanted[at->second] = r;
    }
  }

  // The table's routes to the wanted prefixes, read once.
  std::vector<Route> routes;
  if (!Read(changes, routes)) return;
  std::vector<std::vector<Route>> existing(wanted.size());
  for (Route& route : routes) {
    if (!IsMainIpv4(route.get())) continue;
    const std::optional<Prefix> dst = DestinationOf(route.get());
    if (!dst) continue;
    if (const auto at = index.find(key(*dst)); at != index.end()) existing[at->second].push_back(std::move(route));
  }

  RouteReport& report = changes.Report();
  for (std::size_t i = 0; i < wanted.size() && !changes.Stopped(); ++i) {
    const RouteRequest& w = wanted[i];
    const std::vector<Route>& have = existing[i];
    const std::string what = Describe(w);
    if (std::any_of(have.begin(), have.end(), [](const Route& r) { return IsConnectedRoute(r.get()); })) continue;
    if (w.gateway == 0) {
      // A removal: Quillon's routes go, nobody else's.
      for (const Route& r : have) {
        if (IsQuillons(r.get())) changes.Delete(r.get(), what);
        if (changes.Stopped()) return;
      }
      continue;
    }
    const auto plan = std::find_if(have.begin(), have.end(), [&](const Route& r) { return IsPlanRoute(r.get(), w.gateway); });
    if (plan != have.end()) {
      ++report.kept;
    } else {
      // One request puts the new route in place of the one of the same
      // metric and TOS (the kernel replaces the first such route), so the
      // prefix is never without a route. When the kernel refuses it, the
      // old routes stay.
      const int answer = changes.Add(MakeRoute(w.prefix, w.gateway, 0), NLM_F_CREATE | NLM_F_REPLACE, what);
      if (answer != 0) continue;
      (have.empty() ? report.added : report.replaced) += 1;
    }
    // The other routes to the prefix go. The one just replaced is no longer
    // there (its delete finds nothing), and none of them matches the plan's
    // route: each differs from it in protocol, type, metric, TOS or next hop,
    // all of which a delete request names.
    for (const Route& r : have) {
      if (plan != have.end() && r.get() == plan->get()) continue;
      changes.Delete(r.get(), what);
      if (changes.Stopped()) return;
    }
  }
}

}  // namespace

bool ReadMachine(Machine& machine, std::string& reason) {
  machine = Machine{};
  Socket sock = OpenRouteSocket();
  std::vector<Route> routes;
  if (!sock || !ReadRoutes(sock.get(), routes)) {
    reason = "the routing table cannot be read";
    return false;
  }
  for (const Route& route : routes) {
    rtnl_route* r = route.get();
    if (!IsMainIpv4(r) || DestinationOf(r) != Prefix{0, 0}) continue;
    for (int i = 0; i < rtnl_route_get_nnexthops(r); ++i) {
      const std::optional<Ipv4> gateway = AddressOf(rtnl_route_nh_get_gateway(rtnl_route_nexthop_n(r, i)));
      if (gateway) machine.lines.push_back(*gateway);
    }
  }
  nl_cache* raw = nullptr;
  if (rtnl_addr_alloc_cache(sock.get(), &raw) < 0 || raw == nullptr) {
    reason = "the addresses of this machine cannot be read";
    return false;
  }
  const Cache addresses(raw);
  nl_cache_foreach(
      addresses.get(),
      [](nl_object* object, void* arg) {
        auto* a = reinterpret_cast<rtnl_addr*>(object);
        if (rtnl_addr_get_family(a) != AF_INET) return;
        const std::optional<Ipv4> local = AddressOf(rtnl_addr_get_local(a));
        const int length = rtnl_addr_get_prefixlen(a);
        if (!local || length < 0 || length > 32) return;
        auto& own = *static_cast<std::vector<Prefix>*>(arg);
        own.push_back(Prefix{*local & MaskOf(length), length});
        own.push_back(platform::Network24(*local));
      },
      &machine.ownNetworks);
  return true;
}

std::string RouteRefusal(const RouteRequest& request, const Machine& machine) {
  const Prefix& p = request.prefix;
  const Ipv4 first = p.network >> 24;
  if (p.length < 8 || p.length > 32) return "the prefix length is outside 8..32";
  if (first == 0 || first == 127 || first >= 224) return "networks in 0.x, 127.x and 224.x and above are never routed";
  for (const Prefix& own : machine.ownNetworks) {
    if (p.Overlaps(own)) return "it overlaps this machine's own network " + PrefixText(own);
  }
  return request.gateway == 0 ? std::string() : LineRefusal(request.gateway, machine);
}

std::string DefaultRefusal(const DefaultRouteRequest& request, const Machine& machine) {
  if (request.metric < 1 || request.metric > 9999) return "the metric " + std::to_string(request.metric) + " is outside 1..9999";
  return LineRefusal(request.gateway, machine);
}

std::string NoRightsReason() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string self = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : "quillon-route";
  return "the route helper " + self + " has no right to change routes: sudo setcap cap_net_admin+ep " + self;
}

void ApplyPlan(const RoutePlan& plan, const Machine& machine, RouteReport& report) {
  Socket sock = OpenRouteSocket();
  if (!sock) {
    report.outcome = RouteReport::Outcome::Failed;
    report.reason = "no netlink socket could be opened";
    return;
  }
  Changes changes(sock.get(), report);
  std::vector<DefaultRouteRequest> defaults;
  for (const DefaultRouteRequest& d : plan.defaults) {
    const std::string why = DefaultRefusal(d, machine);
    if (why.empty()) {
      defaults.push_back(d);
    } else {
      changes.Refuse(Describe(d) + ": " + why);
    }
  }
  std::vector<RouteRequest> routes;
  for (const RouteRequest& r : plan.routes) {
    const std::string why = RouteRefusal(r, machine);
    if (why.empty()) {
      routes.push_back(r);
    } else {
      changes.Refuse(Describe(r) + ": " + why);
    }
  }
  if (plan.clear) Clear(changes);
  if (!changes.Stopped() && report.outcome == RouteReport::Outcome::Done && (plan.replaceDefaults || !defaults.empty()))
    ApplyDefaults(changes, plan, defaults);
  if (!changes.Stopped() && report.outcome == RouteReport::Outcome::Done && !routes.empty()) ApplyRoutes(changes, routes);
}

}  // namespace quillon::helper
