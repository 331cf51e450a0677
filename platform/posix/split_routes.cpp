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
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/netlink_support.h"
#include "platform/posix/posix_system.h"
#include "platform/route_commands.h"
#include "platform/safety.h"

namespace quillon::platform {

using namespace netlink;

System::LookupAnswer PosixSystem::LookupHost(const std::string& destination, const std::string&) {
  LookupAnswer answer;
  if (!IsSafeDestination(destination)) return answer;
  answer.started = true;
  // gethostbyname2_r asks the same resolver as getaddrinfo (the hosts line of
  // nsswitch.conf, resolv.conf) and keeps the order of the answer, as the
  // lookup tool prints it. getaddrinfo sorts an answer of several addresses
  // by the destination selection rules, which costs it a netlink dump of the
  // machine's addresses and a socket connect per address: about a third of
  // the time of each lookup, for an order that nothing here uses.
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
  if (rc != 0 || found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4) return answer;
  std::vector<std::string> addresses;
  for (char** a = found->h_addr_list; *a != nullptr; ++a) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, *a, text, sizeof text) == nullptr) continue;
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) addresses.emplace_back(text);
  }
  answer.output = LookupAnswerText(destination, addresses);
  return answer;
}

namespace {

// Host-order value of a dotted IPv4 text that has passed the rules.
std::uint32_t AddressValue(const std::string& text) {
  in_addr a{};
  inet_pton(AF_INET, text.c_str(), &a);
  return ntohl(a.s_addr);
}

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
bool Count(int answer, int& done, System::RouteChanges& changes) {
  if (answer == 0) ++done;
  if (answer == -NLE_PERM) ++changes.refused;
  return answer == 0;
}

class NetlinkRoutePass final : public System::RoutePass {
 public:
  void RouteNetwork(const std::string& network, const std::string& line) override {
    if (!IsNetworkText(network)) return;
    const std::uint32_t key = AddressValue(network);
    if (wanted_.emplace(key, 0).second) order_.push_back(key);
    // The later request for a network decides, as the later commands would.
    wanted_[key] = IsGatewayText(line) ? AddressValue(line) : 0;
  }

  System::RouteChanges Finish() override {
    System::RouteChanges changes;
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

std::unique_ptr<System::RoutePass> PosixSystem::BeginRoutePass() { return std::make_unique<NetlinkRoutePass>(); }

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

std::string PosixSystem::NetworkRoute(const std::string& network) {
  if (!IsNetworkText(network)) return {};
  Socket sock = OpenRouteSocket();
  std::vector<Route> routes;
  if (!sock || !ReadRoutes(sock.get(), routes)) return {};
  const std::uint32_t wanted = AddressValue(network);
  for (const Route& r : routes) {
    std::uint32_t found = 0;
    if (!IsNetworkRoute(r.get(), found) || found != wanted || rtnl_route_get_nnexthops(r.get()) < 1) continue;
    std::string gateway = Ipv4Text(rtnl_route_nh_get_gateway(rtnl_route_nexthop_n(r.get(), 0)));
    if (!gateway.empty()) return gateway;
  }
  return {};
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

std::string PosixSystem::RouteRightsAdvice() {
  const std::string exe = ExecutablePath();
  return "sudo setcap cap_net_admin+ep " + (exe.empty() ? std::string("quillon") : exe);
}

}  // namespace quillon::platform
