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
#include "platform/posix/network_watch.h"
#include "platform/posix/resolver.h"
#include "platform/posix/route_helper_client.h"
#include "platform/safety.h"

namespace quillon::platform {

using namespace netlink;

namespace {

// No answer: an address written in the destination itself still counts, as
// the IP marker rule of the lookup tool's output makes it count.
Lookup WithOwnAddresses(const std::string& destination, Lookup answer) {
  if (!answer.started || answer.answered) return answer;
  const std::vector<std::string> own = DestinationAddresses(destination);
  answer.answered = !own.empty();
  answer.addresses = AddressValues(own);
  return answer;
}

}  // namespace

Lookup PosixSystem::LookupHost(const std::string& destination, const std::string&, bool) {
  return WithOwnAddresses(destination, Resolve(destination));
}

// All at once through c-ares, each answer with its TTL.
std::vector<Lookup> PosixSystem::LookupHosts(const std::vector<std::string>& destinations, const std::string&,
                                             const std::function<void(std::size_t)>&) {
  std::vector<Lookup> answers = ResolveAll(destinations);
  for (std::size_t i = 0; i < answers.size(); ++i) answers[i] = WithOwnAddresses(destinations[i], std::move(answers[i]));
  return answers;
}

PosixSystem::~PosixSystem() = default;

bool PosixSystem::WatchNetwork(std::function<void(const NetworkEvent&)> onEvent) {
  std::lock_guard<std::mutex> hold(watchLock_);
  watch_.reset();
  watch_ = std::make_unique<NetworkWatch>(std::move(onEvent));
  return watch_->Watching();
}

// The helper changes the routes; this program holds no right to.
RouteReport PosixSystem::ApplyRoutePlan(const RoutePlan& plan) { return ApplyThroughHelper(plan); }

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
  if (!sock || !ReadRoutes(sock.get(), routes, prefix.length)) return 0;
  for (const Route& route : routes) {
    rtnl_route* r = route.get();
    nl_addr* dst = rtnl_route_get_dst(r);
    if (rtnl_route_get_family(r) != AF_INET || rtnl_route_get_table(r) != RT_TABLE_MAIN || dst == nullptr ||
        nl_addr_get_prefixlen(dst) != static_cast<unsigned>(prefix.length) || rtnl_route_get_nnexthops(r) < 1 ||
        ParseIpv4(Ipv4Text(dst)) != prefix.network) {
      continue;
    }
    if (const auto gateway = ParseIpv4(Ipv4Text(rtnl_route_nh_get_gateway(rtnl_route_nexthop_n(r, 0))))) return *gateway;
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
