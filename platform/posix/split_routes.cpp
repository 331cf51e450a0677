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
#include "platform/posix/route_helper_client.h"
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
  if (!sock || !ReadRoutes(sock.get(), routes)) return 0;
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
