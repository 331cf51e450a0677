// Lookups through the system resolver, and the split list's network routes
// through netlink (libnl-route-3). Nothing here runs a program or a shell.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/route.h>
#include <netlink/socket.h>
#include <linux/rtnetlink.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/netlink_support.h"
#include "platform/posix/posix_system.h"
#include "platform/answer_rule.h"
#include "platform/safety.h"

namespace quillon::platform {

using namespace netlink;

Lookup PosixSystem::LookupHost(const std::string& destination, const std::string&, bool) {
  Lookup answer;
  if (!IsSafeDestination(destination)) return answer;
  answer.started = true;
  // gethostbyname2_r asks the same resolver as getaddrinfo (the hosts line of
  // nsswitch.conf, resolv.conf) and keeps the order of the answer. getaddrinfo
  // sorts an answer of several addresses by the destination selection rules,
  // which costs it a netlink dump of the machine's addresses and a socket
  // connect per address, for an order that nothing here uses.
  hostent entry{};
  hostent* found = nullptr;
  int error = 0;
  std::vector<char> buffer(2048);
  int rc = 0;
  while ((rc = gethostbyname2_r(destination.c_str(), AF_INET, &entry, buffer.data(), buffer.size(), &found,
                                &error)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (rc == 0 && found != nullptr && found->h_addrtype == AF_INET && found->h_length == 4) {
    answer.answered = true;
    for (char** a = found->h_addr_list; *a != nullptr; ++a) {
      std::uint32_t raw = 0;
      std::memcpy(&raw, *a, 4);
      const Ipv4 address = ntohl(raw);
      if (std::find(answer.addresses.begin(), answer.addresses.end(), address) == answer.addresses.end()) {
        answer.addresses.push_back(address);
      }
    }
    return answer;
  }
  // No answer: an address written in the destination itself still counts,
  // as the IP marker rule of the lookup tool's output makes it count.
  const std::vector<std::string> own = DestinationAddresses(destination);
  answer.answered = !own.empty();
  answer.addresses = AddressValues(own);
  return answer;
}

std::vector<Lookup> PosixSystem::LookupHosts(const std::vector<std::string>& destinations, const std::string& log,
                                         const std::function<void(std::size_t)>&) {
  // The resolver blocks for each name: up to kConcurrentLookups at once.
  constexpr std::size_t kConcurrentLookups = 32;
  std::vector<Lookup> answers(destinations.size());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < destinations.size(); i = next++) answers[i] = LookupHost(destinations[i], log, true);
  };
  const std::size_t count = std::min(kConcurrentLookups, destinations.size());
  std::vector<std::thread> threads;
  try {
    for (std::size_t t = 1; t < count; ++t) threads.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads than asked: the ones there share the work.
  }
  work();
  for (auto& t : threads) t.join();
  return answers;
}

namespace {

Addr AddressObject(std::uint32_t value, int prefixLength) {
  const in_addr a{htonl(value)};
  Addr addr(nl_addr_build(AF_INET, &a, sizeof a));
  if (addr) nl_addr_set_prefixlen(addr.get(), prefixLength);
  return addr;
}

// A route of the main table whose destination is exactly a /24 network:
// the kind a pass adds, replaces or deletes.
bool IsNetworkRoute(rtnl_route* r, std::uint32_t& network) {
  if (rtnl_route_get_family(r) != AF_INET || rtnl_route_get_table(r) != RT_TABLE_MAIN) return false;
  nl_addr* dst = rtnl_route_get_dst(r);
  if (dst == nullptr || nl_addr_get_prefixlen(dst) != 24 || nl_addr_get_len(dst) != 4) return false;
  std::uint32_t raw = 0;
  std::memcpy(&raw, nl_addr_get_binary_addr(dst), 4);
  network = ntohl(raw);
  return true;
}

// A route the system made for a connected network (an address of this
// machine lies in it): the pass leaves such a network alone.
bool IsConnectedRoute(rtnl_route* r) {
  return rtnl_route_get_protocol(r) == RTPROT_KERNEL || rtnl_route_get_scope(r) == RT_SCOPE_LINK;
}

// Exactly the route that a pass puts in place: unicast, metric 0, TOS 0,
// one next hop through `gateway`.
bool IsPassRoute(rtnl_route* r, std::uint32_t gateway) {
  if (rtnl_route_get_type(r) != RTN_UNICAST || rtnl_route_get_priority(r) != 0 || rtnl_route_get_tos(r) != 0 ||
      rtnl_route_get_nnexthops(r) != 1) {
    return false;
  }
  nl_addr* gw = rtnl_route_nh_get_gateway(rtnl_route_nexthop_n(r, 0));
  if (gw == nullptr || nl_addr_get_family(gw) != AF_INET || nl_addr_get_len(gw) != 4) return false;
  std::uint32_t raw = 0;
  std::memcpy(&raw, nl_addr_get_binary_addr(gw), 4);
  return ntohl(raw) == gateway;
}

// The route a pass adds: to network/24 through gateway, metric 0.
Route MakePassRoute(std::uint32_t network, std::uint32_t gateway) {
  Route route(rtnl_route_alloc());
  Addr dst = AddressObject(network, 24);
  Addr gw = AddressObject(gateway, 32);
  Nexthop nh(rtnl_route_nh_alloc());
  if (!route || !dst || !gw || !nh) return nullptr;
  rtnl_route_set_family(route.get(), AF_INET);
  rtnl_route_set_table(route.get(), RT_TABLE_MAIN);
  rtnl_route_set_scope(route.get(), RT_SCOPE_UNIVERSE);
  rtnl_route_set_type(route.get(), RTN_UNICAST);
  rtnl_route_set_protocol(route.get(), RTPROT_STATIC);
  rtnl_route_set_priority(route.get(), 0);
  if (rtnl_route_set_dst(route.get(), dst.get()) < 0) return nullptr;  // takes its own reference
  rtnl_route_nh_set_gateway(nh.get(), gw.get());                         // takes its own reference
  rtnl_route_add_nexthop(route.get(), nh.release());                     // the route owns it now
  return route;
}

// Counts a request's answer: done, or refused for want of rights (the
// process lacks CAP_NET_ADMIN). True when done.
bool Count(int answer, int& done, RouteReport& changes) {
  if (answer == 0) ++done;
  if (answer == -NLE_PERM) {
    ++changes.refused;
    changes.outcome = RouteReport::Outcome::NoRights;
  }
  return answer == 0;
}

class NetlinkRoutePass {
 public:
  void RouteNetwork(const RouteRequest& r) {
    if (!IsRoutablePrefix(r.prefix) || r.prefix.length != 24) return;
    const std::uint32_t key = r.prefix.network;
    if (wanted_.emplace(key, 0).second) order_.push_back(key);
    // The later request for a network decides, as the later commands would.
    wanted_[key] = IsGatewayAddress(r.gateway) ? r.gateway : 0;
  }

  RouteReport Finish() {
    RouteReport changes;
    if (order_.empty()) return changes;
    Socket sock = OpenRouteSocket();
    if (!sock) return changes;
    std::vector<Route> routes;
    if (!ReadRoutes(sock.get(), routes)) return changes;

    // The table's routes to the networks of this pass, read once.
    std::unordered_map<std::uint32_t, std::vector<Route>> existing;
    for (Route& route : routes) {
      std::uint32_t network = 0;
      if (IsNetworkRoute(route.get(), network) && wanted_.count(network) > 0) {
        existing[network].push_back(std::move(route));
      }
    }

    for (const std::uint32_t network : order_) {
      const std::uint32_t gateway = wanted_[network];
      std::vector<Route>& have = existing[network];
      if (std::any_of(have.begin(), have.end(), [](const Route& r) { return IsConnectedRoute(r.get()); })) continue;
      if (gateway == 0) {
        for (const Route& r : have) Count(rtnl_route_delete(sock.get(), r.get(), 0), changes.deleted, changes);
        continue;
      }
      if (have.size() == 1 && IsPassRoute(have.front().get(), gateway)) {
        ++changes.kept;
        continue;
      }
      // One request puts the new route in place of the one with the same
      // metric, so the network is never without a route; the others go.
      const Route route = MakePassRoute(network, gateway);
      int added = 0;
      const bool put =
          route && Count(rtnl_route_add(sock.get(), route.get(), NLM_F_CREATE | NLM_F_REPLACE), added, changes);
      bool replacedOne = false;
      for (const Route& r : have) {
        if (put && !replacedOne && rtnl_route_get_priority(r.get()) == 0 && rtnl_route_get_tos(r.get()) == 0) {
          replacedOne = true;
          continue;
        }
        // Without the new route (a gateway on no connected network) the
        // network is left without a route, as "route delete" would leave it.
        Count(rtnl_route_delete(sock.get(), r.get(), 0), changes.deleted, changes);
      }
      if (put) (replacedOne ? changes.replaced : changes.added) += 1;
    }
    return changes;
  }

 private:
  std::unordered_map<std::uint32_t, std::uint32_t> wanted_;  // network -> gateway (0: none)
  std::vector<std::uint32_t> order_;                          // networks in first-request order
};

}  // namespace

RouteReport PosixSystem::ApplyRoutePlan(const RoutePlan& plan) {
  NetlinkRoutePass pass;
  for (const RouteRequest& r : plan.routes) pass.RouteNetwork(r);
  RouteReport report = pass.Finish();
  if (plan.replaceDefaults) DeleteDefaultRoutes();
  for (const DefaultRouteRequest& d : plan.defaults) {
    if (AddDefaultRoute(d.gateway, d.metric)) ++report.added;
  }
  if (report.outcome == RouteReport::Outcome::NoRights) {
    const std::string exe = ExecutablePath();
    report.reason = "sudo setcap cap_net_admin+ep " + (exe.empty() ? std::string("quillon") : exe);
  }
  return report;
}

bool PosixSystem::LockRouting(const std::string& path) {
  if (routingLock_ >= 0) return true;
  // Like the stores, the lock file is never reached through a link: one
  // planted in its place would have the open make another user's file.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);  // a read-only config directory
  if (fd < 0) return true;  // no lock file at all: nobody else can hold it either
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  routingLock_ = fd;
  return true;
}

Ipv4 PosixSystem::RouteGateway(const Prefix& prefix) {
  Socket sock = OpenRouteSocket();
  std::vector<Route> routes;
  if (!sock || !ReadRoutes(sock.get(), routes)) return 0;
  for (const Route& r : routes) {
    std::uint32_t found = 0;
    if (prefix.length != 24 || !IsNetworkRoute(r.get(), found) || found != prefix.network ||
        rtnl_route_get_nnexthops(r.get()) < 1) {
      continue;
    }
    const std::optional<Ipv4> gateway = ParseIpv4(Ipv4Text(rtnl_route_nh_get_gateway(rtnl_route_nexthop_n(r.get(), 0))));
    if (gateway) return *gateway;
  }
  return 0;
}

bool PosixSystem::RunUntilStopSignal(const std::function<void()>& start) {
  // Blocked in this thread before `start` makes any: every thread started
  // after inherits the mask, so the signal waits here for sigwait.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  if (start) start();
  int received = 0;
  while (sigwait(&stop, &received) != 0) {
  }
  return true;
}

}  // namespace quillon::platform
