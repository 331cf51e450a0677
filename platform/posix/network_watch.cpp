// The network watcher: one NETLINK_ROUTE socket, read in batches by a
// thread that sleeps in poll on the socket and an eventfd.
#include "platform/posix/network_watch.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/ipv4.h"
#include "platform/route_plan.h"
#include "platform/posix/netlink_support.h"

namespace quillon::platform {

namespace {

// Interface index -> up and running.
using LinkStates = std::unordered_map<int, bool>;

NetworkEvent Event(NetworkEvent::Kind kind) {
  NetworkEvent event;
  event.kind = kind;
  return event;
}

bool UpAndRunning(unsigned flags) { return (flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0; }

// The state of every link now, from a dump on a socket of its own; empty
// when it cannot be read (every link then counts as down until it reports).
LinkStates ReadLinkStates() {
  LinkStates states;
  netlink::Socket sock = netlink::OpenRouteSocket();
  nl_cache* cache = nullptr;
  if (!sock || rtnl_link_alloc_cache(sock.get(), AF_UNSPEC, &cache) < 0) return states;
  const netlink::Cache owned(cache);
  for (nl_object* o = nl_cache_get_first(cache); o != nullptr; o = nl_cache_get_next(o)) {
    auto* link = reinterpret_cast<rtnl_link*>(o);
    states[rtnl_link_get_ifindex(link)] = UpAndRunning(rtnl_link_get_flags(link));
  }
  return states;
}

// An IPv4 route of the main table as an event (libnl reads the attributes:
// the table beyond 255, the destination, the next hops of a multipath
// route); false for any other route.
bool RouteEvent(nlmsghdr* message, NetworkEvent& event) {
  rtnl_route* parsed = nullptr;
  if (rtnl_route_parse(message, &parsed) < 0 || parsed == nullptr) return false;
  const netlink::Route route(parsed);
  if (rtnl_route_get_family(parsed) != AF_INET || rtnl_route_get_table(parsed) != RT_TABLE_MAIN) return false;
  event.kind = message->nlmsg_type == RTM_NEWROUTE ? NetworkEvent::RouteAdded : NetworkEvent::RouteDeleted;
  nl_addr* dst = rtnl_route_get_dst(parsed);
  const int length = dst != nullptr ? static_cast<int>(nl_addr_get_prefixlen(dst)) : 0;
  event.prefix.length = length < 0 ? 0 : length > 32 ? 32 : length;
  std::uint32_t raw = 0;
  if (dst != nullptr && nl_addr_get_len(dst) == 4) std::memcpy(&raw, nl_addr_get_binary_addr(dst), 4);
  event.prefix.network = ntohl(raw) & MaskOf(event.prefix.length);
  event.protocol = rtnl_route_get_protocol(parsed);
  if (rtnl_route_get_nnexthops(parsed) > 0) {
    nl_addr* gw = rtnl_route_nh_get_gateway(rtnl_route_nexthop_n(parsed, 0));
    if (gw != nullptr && nl_addr_get_family(gw) == AF_INET && nl_addr_get_len(gw) == 4) {
      std::memcpy(&raw, nl_addr_get_binary_addr(gw), 4);
      event.gateway = ntohl(raw);
    }
  }
  return true;
}

// The events of one datagram from the kernel, in order.
void Read(char* data, int length, LinkStates& links, const NetworkWatch::Callback& report) {
  for (auto* message = reinterpret_cast<nlmsghdr*>(data); NLMSG_OK(message, length);
       message = NLMSG_NEXT(message, length)) {
    switch (message->nlmsg_type) {
      case RTM_NEWLINK:
      case RTM_DELLINK: {
        ifinfomsg info{};
        if (message->nlmsg_len < NLMSG_LENGTH(sizeof info)) break;
        std::memcpy(&info, NLMSG_DATA(message), sizeof info);
        if (info.ifi_family != AF_UNSPEC) break;  // a bridge port's view of the link
        if (message->nlmsg_type == RTM_DELLINK) {
          links.erase(info.ifi_index);
          break;
        }
        const bool up = UpAndRunning(info.ifi_flags);
        bool& was = links[info.ifi_index];
        if (up && !was) report(Event(NetworkEvent::LinkUp));
        was = up;
        break;
      }
      case RTM_NEWADDR: {
        ifaddrmsg info{};
        if (message->nlmsg_len < NLMSG_LENGTH(sizeof info)) break;
        std::memcpy(&info, NLMSG_DATA(message), sizeof info);
        if (info.ifa_family == AF_INET) report(Event(NetworkEvent::AddressAdded));
        break;
      }
      case RTM_NEWROUTE:
      case RTM_DELROUTE: {
        NetworkEvent event;
        if (RouteEvent(message, event)) report(event);
        break;
      }
      default:
        break;
    }
  }
}

// A socket filter that drops the kernel's notice of each route added with
// Quillon's own protocol before it is queued: a pass that adds 40,000
// routes would otherwise wake this thread 40,000 times for nothing (those
// never ask for a pass) and could overflow the socket. A deleted route of
// ours still comes through: one that goes away by hand must come back.
// The kernel sends one route notice a datagram, so the first message's
// header is the whole of it.
bool DropOwnRouteAdds(int socket) {
  constexpr std::uint32_t kTypeAt = offsetof(nlmsghdr, nlmsg_type);
  constexpr std::uint32_t kProtocolAt = NLMSG_HDRLEN + offsetof(rtmsg, rtm_protocol);
  sock_filter code[] = {
      // A half word is loaded in network order: compare with the type so.
      BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kTypeAt),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, htons(RTM_NEWROUTE), 0, 2),
      BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kProtocolAt),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(kRouteProtocol), 1, 0),
      BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),  // keep all of it
      BPF_STMT(BPF_RET | BPF_K, 0),            // drop it
  };
  const sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
  return ::setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

}  // namespace

NetworkWatch::NetworkWatch(Callback onEvent, int receiveBuffer) : onEvent_(std::move(onEvent)) {
  socket_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (socket_ < 0 || wake_ < 0) return;
  // Beyond net.core.rmem_max only with CAP_NET_ADMIN; else as much as that.
  if (::setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0) {
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
  // Without the filter the notices are read and passed over one by one.
  DropOwnRouteAdds(socket_);
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return;
  try {
    thread_ = std::thread(&NetworkWatch::Run, this);
  } catch (const std::system_error&) {
    // No thread: Watching() says so.
  }
}

NetworkWatch::~NetworkWatch() {
  if (thread_.joinable()) {
    stopping_ = true;
    const std::uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    thread_.join();
  }
  if (socket_ >= 0) ::close(socket_);
  if (wake_ >= 0) ::close(wake_);
}

void NetworkWatch::Run() {
  pthread_setname_np(pthread_self(), "quillon-netwatch");
  // Read after subscribing: a change in between shows in both, and a link
  // that came up is reported at most once more.
  LinkStates links = ReadLinkStates();

  // Up to kBatch datagrams a call; a notification is one message of a few
  // KiB, well under kDatagram.
  constexpr int kBatch = 32;
  constexpr std::size_t kDatagram = 32 << 10;
  std::vector<char> buffer(kBatch * kDatagram);
  mmsghdr messages[kBatch];
  iovec parts[kBatch];
  sockaddr_nl senders[kBatch];
  // Reads what is queued (without waiting): the number of datagrams, 0 when
  // none, -1 when the kernel dropped messages.
  auto receive = [&]() -> int {
    for (int i = 0; i < kBatch; ++i) {
      parts[i] = iovec{buffer.data() + i * kDatagram, kDatagram};
      messages[i] = mmsghdr{};
      messages[i].msg_hdr.msg_name = &senders[i];
      messages[i].msg_hdr.msg_namelen = sizeof senders[i];
      messages[i].msg_hdr.msg_iov = &parts[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    for (;;) {
      const int n = ::recvmmsg(socket_, messages, kBatch, MSG_DONTWAIT, nullptr);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      return errno == ENOBUFS ? -1 : 0;  // EAGAIN: all read
    }
  };
  // Messages were lost: what is still queued is older than the loss and
  // goes unread (a state it shows may since have changed without a message
  // that says so); the link states are read again, and one event stands
  // for all of it.
  auto lost = [&] {
    ++overflows_;
    while (!stopping_ && receive() != 0) {
    }
    links = ReadLinkStates();
    onEvent_(NetworkEvent{});
  };

  pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
  while (!stopping_) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    while (!stopping_) {
      const int n = receive();
      if (n < 0) {
        lost();
        continue;
      }
      for (int i = 0; i < n; ++i) {
        if (senders[i].nl_pid != 0) continue;                    // only the kernel speaks here
        if ((messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0) {  // a message larger than kDatagram
          lost();
          break;
        }
        Read(buffer.data() + i * kDatagram, static_cast<int>(messages[i].msg_len), links, onEvent_);
      }
      if (n < kBatch) break;
    }
  }
}

}  // namespace quillon::platform
