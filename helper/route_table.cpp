#include "helper/route_table.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace quillon::helper {

namespace {

using platform::DefaultRouteRequest;
using platform::Ipv4Text;
using platform::MaskOf;
using platform::PrefixText;
using platform::RoutePlan;
using platform::RouteReport;
using platform::RouteRequest;

// Requests sent in one message to the kernel before their answers are
// read: their acknowledgements (36 bytes each) fit the socket's buffer
// many times over.
constexpr std::size_t kBatch = 512;

// A NETLINK_ROUTE socket of the helper's own: table dumps, and batches of
// requests, each acknowledged.
class Netlink {
 public:
  Netlink() {
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) return;
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    // An error's acknowledgement without a copy of the request.
    const int one = 1;
    setsockopt(fd_, SOL_NETLINK, NETLINK_CAP_ACK, &one, sizeof one);
    const int buffer = 1 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  }
  ~Netlink() {
    if (fd_ >= 0) close(fd_);
  }
  Netlink(const Netlink&) = delete;
  Netlink& operator=(const Netlink&) = delete;

  bool Open() const { return fd_ >= 0; }

  // Asks for a dump of `type` and hands each message of the answer to
  // `each`. False when it cannot be read; `interrupted` when the kernel says
  // the table changed while it was read.
  bool Dump(std::uint16_t type, const void* body, std::size_t size, const std::function<void(const nlmsghdr*)>& each,
            bool& interrupted) {
    interrupted = false;
    std::string request(NLMSG_LENGTH(size), '\0');
    auto* header = reinterpret_cast<nlmsghdr*>(request.data());
    header->nlmsg_len = static_cast<std::uint32_t>(request.size());
    header->nlmsg_type = type;
    header->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    header->nlmsg_seq = ++seq_;
    std::memcpy(NLMSG_DATA(header), body, size);
    if (!Send(request)) return false;
    for (;;) {
      const ssize_t n = Receive();
      if (n < 0) return false;
      std::size_t left = static_cast<std::size_t>(n);
      for (auto* h = reinterpret_cast<const nlmsghdr*>(in_.data()); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
        if (h->nlmsg_seq != seq_) continue;
        if (h->nlmsg_flags & NLM_F_DUMP_INTR) interrupted = true;
        if (h->nlmsg_type == NLMSG_DONE) return true;
        if (h->nlmsg_type == NLMSG_ERROR) return false;
        each(h);
      }
    }
  }

  // Puts a request (a whole message, its sequence number and flags set
  // here) in the batch; its place in the answers of the next Flush.
  std::size_t Queue(std::string_view message, std::uint16_t type, std::uint16_t flags) {
    const std::size_t at = out_.size();
    out_.append(message);
    out_.resize(at + NLMSG_ALIGN(message.size()), '\0');
    auto* header = reinterpret_cast<nlmsghdr*>(out_.data() + at);
    header->nlmsg_len = static_cast<std::uint32_t>(message.size());
    header->nlmsg_type = type;
    header->nlmsg_flags = static_cast<std::uint16_t>(flags | NLM_F_REQUEST | NLM_F_ACK);
    header->nlmsg_seq = ++seq_;
    header->nlmsg_pid = 0;
    if (queued_ == 0) first_ = seq_;
    return queued_++;
  }

  // Sends the batch and reads every request's answer: 0 when it was done,
  // else the error number the kernel gave, negated. False when the socket
  // failed (every answer is then -EIO).
  bool Flush(std::vector<int>& answers) {
    answers.assign(queued_, -EIO);
    const std::size_t expected = queued_;
    std::size_t answered = 0;
    bool ok = expected == 0 || Send(out_);
    out_.clear();
    queued_ = 0;
    while (ok && answered < expected) {
      const ssize_t n = Receive();
      if (n < 0) {
        ok = false;
        break;
      }
      std::size_t left = static_cast<std::size_t>(n);
      for (auto* h = reinterpret_cast<const nlmsghdr*>(in_.data()); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
        if (h->nlmsg_type != NLMSG_ERROR || h->nlmsg_len < NLMSG_LENGTH(sizeof(int))) continue;
        const std::uint32_t index = h->nlmsg_seq - first_;
        if (index >= expected) continue;
        int error = 0;
        std::memcpy(&error, NLMSG_DATA(h), sizeof error);
        answers[index] = error;
        ++answered;
      }
    }
    return ok;
  }

 private:
  bool Send(const std::string& bytes) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
      const ssize_t n = sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
      if (n >= 0) return static_cast<std::size_t>(n) == bytes.size();
      if (errno != EINTR) return false;
    }
  }
  // One datagram into in_ (grown when the kernel's was larger); its size.
  ssize_t Receive() {
    for (;;) {
      const ssize_t n = recv(fd_, nullptr, 0, MSG_PEEK | MSG_TRUNC);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      if (static_cast<std::size_t>(n) > in_.size()) in_.resize(static_cast<std::size_t>(n));
      const ssize_t got = recv(fd_, in_.data(), in_.size(), 0);
      if (got < 0 && errno == EINTR) continue;
      return got;
    }
  }

  int fd_ = -1;
  std::uint32_t seq_ = 0;
  std::uint32_t first_ = 0;
  std::size_t queued_ = 0;
  std::string out_;
  std::vector<char> in_ = std::vector<char>(1 << 16);
};

// A request's message: header, fixed part and attributes.
class Message {
 public:
  template <typename Fixed>
  explicit Message(const Fixed& fixed) : bytes_(NLMSG_LENGTH(sizeof fixed), '\0') {
    std::memcpy(bytes_.data() + NLMSG_HDRLEN, &fixed, sizeof fixed);
    bytes_.resize(NLMSG_ALIGN(bytes_.size()), '\0');
  }
  void Attribute(std::uint16_t type, const void* data, std::size_t size) {
    rtattr a{};
    a.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    a.rta_type = type;
    bytes_.append(reinterpret_cast<const char*>(&a), sizeof a);
    bytes_.append(static_cast<const char*>(data), size);
    bytes_.resize(NLMSG_ALIGN(bytes_.size()), '\0');
  }
  void Address(std::uint16_t type, Ipv4 value) {
    const std::uint32_t raw = htonl(value);
    Attribute(type, &raw, sizeof raw);
  }
  void Number(std::uint16_t type, std::uint32_t value) { Attribute(type, &value, sizeof value); }
  std::string_view Bytes() {
    auto* header = reinterpret_cast<nlmsghdr*>(bytes_.data());
    header->nlmsg_len = static_cast<std::uint32_t>(bytes_.size());
    return bytes_;
  }

 private:
  std::string bytes_;
};

Ipv4 AddressOf(const rtattr* a) {
  std::uint32_t raw = 0;
  std::memcpy(&raw, RTA_DATA(a), sizeof raw);
  return ntohl(raw);
}

bool IsAddress(const rtattr* a) { return RTA_PAYLOAD(a) == 4; }

// The gateways of the next hops of RTA_MULTIPATH, 0 for a hop without one.
std::vector<Ipv4> MultipathGateways(const rtattr* multipath) {
  std::vector<Ipv4> gateways;
  std::size_t left = RTA_PAYLOAD(multipath);
  for (auto* hop = static_cast<const rtnexthop*>(RTA_DATA(multipath)); RTNH_OK(hop, static_cast<int>(left));) {
    Ipv4 gateway = 0;
    int size = hop->rtnh_len - static_cast<int>(sizeof(rtnexthop));
    for (auto* a = reinterpret_cast<const rtattr*>(RTNH_DATA(hop)); RTA_OK(a, size); a = RTA_NEXT(a, size)) {
      if (a->rta_type == RTA_GATEWAY && IsAddress(a)) gateway = AddressOf(a);
    }
    gateways.push_back(gateway);
    const std::size_t step = RTNH_ALIGN(hop->rtnh_len);
    if (step >= left) break;
    left -= step;
    hop = reinterpret_cast<const rtnexthop*>(reinterpret_cast<const char*>(hop) + step);
  }
  return gateways;
}

// One route message of a dump; false for a route that is not IPv4 or names
// no readable destination. `gateways` gets every next hop's gateway.
bool ParseRoute(const nlmsghdr* h, TableRoute& route, std::vector<Ipv4>& gateways) {
  if (h->nlmsg_type != RTM_NEWROUTE || h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return false;
  const auto* r = static_cast<const rtmsg*>(NLMSG_DATA(h));
  if (r->rtm_family != AF_INET || r->rtm_dst_len > 32) return false;
  route = TableRoute{};
  route.table = r->rtm_table;
  route.protocol = r->rtm_protocol;
  route.scope = r->rtm_scope;
  route.type = r->rtm_type;
  route.tos = r->rtm_tos;
  gateways.clear();
  bool destination = r->rtm_dst_len == 0, hop = false;
  Ipv4 network = 0, gateway = 0;
  int size = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(rtmsg)));
  for (auto* a = RTM_RTA(r); RTA_OK(a, size); a = RTA_NEXT(a, size)) {
    switch (a->rta_type) {
      case RTA_TABLE:
        if (RTA_PAYLOAD(a) == 4) std::memcpy(&route.table, RTA_DATA(a), 4);
        break;
      case RTA_DST:
        if (IsAddress(a)) {
          network = AddressOf(a);
          destination = true;
        }
        break;
      case RTA_PRIORITY:
        if (RTA_PAYLOAD(a) == 4) std::memcpy(&route.priority, RTA_DATA(a), 4);
        break;
      case RTA_GATEWAY:
        if (IsAddress(a)) gateway = AddressOf(a);
        hop = true;
        break;
      case RTA_OIF:
      case RTA_FLOW:
        hop = true;
        break;
      case RTA_MULTIPATH:
        gateways = MultipathGateways(a);
        break;
    }
  }
  if (!destination) return false;
  const int length = r->rtm_dst_len;
  route.destination = length == 0 ? Prefix{0, 0} : Prefix{network & MaskOf(length), length};
  if (gateways.empty() && hop) gateways.push_back(gateway);
  route.nexthops = static_cast<int>(gateways.size());
  route.gateway = gateways.size() == 1 ? gateways[0] : 0;
  return true;
}

bool ReadTable(Netlink& netlink, RouteDump& dump) {
  // A dump interrupted by a change is read again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    dump.routes.clear();
    dump.blocks.clear();
    rtmsg request{};
    request.rtm_family = AF_INET;
    bool interrupted = false;
    std::vector<Ipv4> gateways;
    const bool read = netlink.Dump(
        RTM_GETROUTE, &request, sizeof request,
        [&](const nlmsghdr* h) {
          TableRoute route;
          if (!ParseRoute(h, route, gateways)) return;
          constexpr std::size_t kBlock = 1 << 20;
          if (dump.blocks.empty() || dump.blocks.back().size() + h->nlmsg_len > dump.blocks.back().capacity()) {
            dump.blocks.emplace_back().reserve(std::max<std::size_t>(kBlock, h->nlmsg_len));
          }
          std::string& block = dump.blocks.back();
          route.block = static_cast<std::uint32_t>(dump.blocks.size() - 1);
          route.message = static_cast<std::uint32_t>(block.size());
          route.length = h->nlmsg_len;
          block.append(reinterpret_cast<const char*>(h), h->nlmsg_len);
          dump.routes.push_back(route);
        },
        interrupted);
    if (!read) return false;
    if (!interrupted) return true;
  }
  return false;
}

bool IsMainIpv4(const TableRoute& r) { return r.table == RT_TABLE_MAIN; }

// A route the system made for a connected network (an address of this
// machine lies in it): such a network is left alone.
bool IsConnectedRoute(const TableRoute& r) { return r.protocol == RTPROT_KERNEL || r.scope == RT_SCOPE_LINK; }

bool IsQuillons(const TableRoute& r) { return r.protocol == platform::kRouteProtocol; }

// Exactly the route that a plan puts in place: Quillon's, unicast, metric
// 0, TOS 0, one next hop through `gateway`.
bool IsPlanRoute(const TableRoute& r, Ipv4 gateway) {
  return IsQuillons(r) && r.type == RTN_UNICAST && r.priority == 0 && r.tos == 0 && r.nexthops == 1 &&
         r.gateway == gateway;
}

std::string GatewayText(const TableRoute& r) {
  return r.nexthops == 1 && r.gateway != 0 ? " via " + Ipv4Text(r.gateway) : std::string();
}

// A route of the main table to `prefix` through `gateway`, marked as
// Quillon's.
std::string MakeRoute(const Prefix& prefix, Ipv4 gateway, std::uint32_t priority) {
  rtmsg r{};
  r.rtm_family = AF_INET;
  r.rtm_dst_len = static_cast<unsigned char>(prefix.length);
  r.rtm_table = RT_TABLE_MAIN;
  r.rtm_protocol = platform::kRouteProtocol;
  r.rtm_scope = RT_SCOPE_UNIVERSE;
  r.rtm_type = RTN_UNICAST;
  Message m(r);
  m.Number(RTA_TABLE, RT_TABLE_MAIN);
  m.Address(RTA_DST, prefix.network);
  m.Number(RTA_PRIORITY, priority);
  m.Address(RTA_GATEWAY, gateway);
  return std::string(m.Bytes());
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
// Changes go to the kernel in batches, in the order they were queued; each
// is answered on its own.
class Changes {
 public:
  Changes(Netlink& netlink, RouteReport& report) : netlink_(netlink), report_(report) {}

  // Whether the kernel refused a change for want of rights: nothing more
  // is tried.
  bool Stopped() const { return report_.outcome == RouteReport::Outcome::NoRights; }

  // A new route (flags: NLM_F_CREATE, with NLM_F_REPLACE or not); `done`
  // gets the kernel's answer (0 done, else a negated error number) at the
  // next Flush. A refusal other than "exists" is reported.
  void Add(std::string route, int flags, std::string what, std::function<void(int)> done) {
    netlink_.Queue(route, RTM_NEWROUTE, static_cast<std::uint16_t>(flags));
    pending_.push_back({std::move(what), std::move(done), true, {}});
  }

  // Deletes a route as the dump showed it (its own message, sent back as a
  // delete request, names exactly it); counts it when it went. One that
  // went away in the meantime (or was just replaced) is no failure.
  void Delete(const RouteDump& dump, const TableRoute& route, std::string what) {
    netlink_.Queue(dump.Message(route), RTM_DELROUTE, 0);
    pending_.push_back({std::move(what), {}, false, GatewayText(route)});
  }

  // Sends what is queued and takes the answers; also every kBatch changes.
  void Flush() {
    std::vector<int> answers;
    netlink_.Flush(answers);
    std::vector<Pending> pending;
    pending.swap(pending_);
    for (std::size_t i = 0; i < pending.size(); ++i) {
      const int answer = Checked(answers[i]);
      Pending& p = pending[i];
      if (p.add) {
        if (answer != 0 && answer != -EEXIST && !Stopped()) Refuse(p.what + ": the kernel refused it: " + Error(answer));
        if (p.done) p.done(answer);
      } else if (answer == 0) {
        ++report_.deleted;
      } else if (answer != -ESRCH && !Stopped()) {
        Refuse(p.what + ": could not remove its route" + p.gateway + ": " + Error(answer));
      }
    }
  }
  bool Full() const { return pending_.size() >= kBatch; }

  void Refuse(const std::string& line) {
    ++report_.refused;
    if (report_.refusals.size() < platform::kReportMaxRefusals) report_.refusals.push_back(line);
  }

  RouteReport& Report() { return report_; }
  Netlink& Socket() { return netlink_; }

 private:
  struct Pending {
    std::string what;
    std::function<void(int)> done;
    bool add;
    std::string gateway;  // a delete's route, " via G" or nothing
  };

  static std::string Error(int answer) { return std::strerror(-answer); }

  int Checked(int answer) {
    if (answer == -EPERM || answer == -EACCES) {
      report_.outcome = RouteReport::Outcome::NoRights;
      report_.reason = NoRightsReason();
    }
    return answer;
  }

  Netlink& netlink_;
  RouteReport& report_;
  std::vector<Pending> pending_;
};

bool Read(Changes& changes, RouteDump& dump) {
  if (ReadTable(changes.Socket(), dump)) return true;
  changes.Report().outcome = RouteReport::Outcome::Failed;
  changes.Report().reason = "the routing table cannot be read";
  return false;
}

// Every route of the main table that carries Quillon's protocol number goes.
void Clear(Changes& changes) {
  RouteDump dump;
  if (!Read(changes, dump)) return;
  for (const TableRoute& r : dump.routes) {
    if (!IsMainIpv4(r) || !IsQuillons(r)) continue;
    changes.Delete(dump, r, "clear " + PrefixText(r.destination));
    if (changes.Full()) changes.Flush();
    if (changes.Stopped()) return;
  }
  changes.Flush();
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
    RouteDump dump;
    if (!Read(changes, dump)) return;
    for (const TableRoute& r : dump.routes) {
      if (IsMainIpv4(r) && r.destination == Prefix{0, 0}) changes.Delete(dump, r, "replace-defaults");
    }
    changes.Flush();
    if (changes.Stopped()) return;
  }
  RouteReport& report = changes.Report();
  for (const DefaultRouteRequest& d : accepted) {
    changes.Add(MakeRoute(Prefix{0, 0}, d.gateway, d.metric), NLM_F_CREATE, Describe(d), [&report](int answer) {
      if (answer == 0) ++report.added;
      if (answer == -EEXIST) ++report.kept;
    });
  }
  changes.Flush();
}

// The split routes, as a difference to the table without a gap.
void ApplyRoutes(Changes& changes, const RouteDump& table, const std::vector<RouteRequest>& accepted) {
  // The last request for a prefix decides; prefixes in first-request order.
  std::vector<RouteRequest> wanted;
  std::unordered_map<std::uint64_t, std::size_t> index;
  index.reserve(accepted.size());
  const auto key = [](const Prefix& p) { return std::uint64_t{p.network} << 8 | static_cast<std::uint64_t>(p.length); };
  for (const RouteRequest& r : accepted) {
    const auto [at, fresh] = index.emplace(key(r.prefix), wanted.size());
    if (fresh) {
      wanted.push_back(r);
    } else {
      wanted[at->second] = r;
    }
  }

  // The table's routes to each wanted prefix: have[first[i]..first[i+1]).
  std::vector<std::uint32_t> owner(table.routes.size(), UINT32_MAX);
  std::vector<std::uint32_t> first(wanted.size() + 1, 0);
  for (std::size_t r = 0; r < table.routes.size(); ++r) {
    const TableRoute& route = table.routes[r];
    if (!IsMainIpv4(route)) continue;
    if (const auto at = index.find(key(route.destination)); at != index.end()) {
      owner[r] = static_cast<std::uint32_t>(at->second);
      ++first[at->second + 1];
    }
  }
  for (std::size_t i = 0; i < wanted.size(); ++i) first[i + 1] += first[i];
  std::vector<std::uint32_t> have(first.back());
  {
    std::vector<std::uint32_t> fill(first.begin(), first.end() - 1);
    for (std::size_t r = 0; r < table.routes.size(); ++r) {
      if (owner[r] != UINT32_MAX) have[fill[owner[r]]++] = static_cast<std::uint32_t>(r);
    }
  }

  RouteReport& report = changes.Report();
  // In batches: the adds (and replacements) of a batch first, then the
  // deletes that follow a successful one, so a prefix is never without a
  // route and keeps its old routes when the kernel refuses the new one.
  std::vector<int> added(wanted.size(), 0);
  for (std::size_t start = 0; start < wanted.size() && !changes.Stopped(); start += kBatch) {
    const std::size_t end = std::min(wanted.size(), start + kBatch);
    std::vector<std::size_t> plan(end - start, SIZE_MAX);  // the plan's route among have, per prefix
    std::vector<bool> skip(end - start, false);
    for (std::size_t i = start; i < end; ++i) {
      const RouteRequest& w = wanted[i];
      const auto from = have.begin() + first[i], to = have.begin() + first[i + 1];
      if (std::any_of(from, to, [&](std::uint32_t r) { return IsConnectedRoute(table.routes[r]); })) {
        skip[i - start] = true;
        continue;
      }
      if (w.gateway == 0) continue;
      const auto found = std::find_if(from, to, [&](std::uint32_t r) { return IsPlanRoute(table.routes[r], w.gateway); });
      if (found != to) {
        plan[i - start] = *found;
        ++report.kept;
        continue;
      }
      // One request puts the new route in place of the one of the same
      // metric and TOS (the kernel replaces the first such route).
      const bool fresh = from == to;
      changes.Add(MakeRoute(w.prefix, w.gateway, 0), NLM_F_CREATE | NLM_F_REPLACE, Describe(w),
                  [&report, &added, i, fresh](int answer) {
                    added[i] = answer == 0 ? 1 : -1;
                    if (answer == 0) (fresh ? report.added : report.replaced) += 1;
                  });
    }
    changes.Flush();
    if (changes.Stopped()) return;
    for (std::size_t i = start; i < end; ++i) {
      if (skip[i - start] || added[i] < 0) continue;
      const RouteRequest& w = wanted[i];
      for (std::uint32_t k = first[i]; k < first[i + 1]; ++k) {
        const TableRoute& r = table.routes[have[k]];
        // A removal: Quillon's routes go, nobody else's. Otherwise the
        // other routes to the prefix go: the one just replaced is no longer
        // there (its delete finds nothing), and none of them matches the
        // plan's route: each differs from it in protocol, type, metric, TOS
        // or next hop, all of which its delete request names.
        if (w.gateway == 0 ? !IsQuillons(r) : have[k] == plan[i - start]) continue;
        changes.Delete(table, r, Describe(w));
      }
    }
    changes.Flush();
  }
}

}  // namespace

bool ReadMachine(Machine& machine, std::string& reason) {
  machine = Machine{};
  Netlink netlink;
  if (!netlink.Open() || !ReadTable(netlink, machine.table)) {
    reason = "the routing table cannot be read";
    return false;
  }
  std::vector<Ipv4> gateways;
  for (const TableRoute& route : machine.table.routes) {
    if (!IsMainIpv4(route) || route.destination != Prefix{0, 0}) continue;
    TableRoute again;
    const auto* h = reinterpret_cast<const nlmsghdr*>(machine.table.Message(route).data());
    if (!ParseRoute(h, again, gateways)) continue;
    for (const Ipv4 g : gateways) {
      if (g != 0) machine.lines.push_back(g);
    }
  }
  ifaddrmsg request{};
  request.ifa_family = AF_INET;
  bool interrupted = false;
  const bool read = netlink.Dump(
      RTM_GETADDR, &request, sizeof request,
      [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return;
        const auto* a = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
        if (a->ifa_family != AF_INET || a->ifa_prefixlen > 32) return;
        std::optional<Ipv4> local, address;
        int size = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(ifaddrmsg)));
        for (auto* attr = IFA_RTA(a); RTA_OK(attr, size); attr = RTA_NEXT(attr, size)) {
          if (attr->rta_type == IFA_LOCAL && IsAddress(attr)) local = AddressOf(attr);
          if (attr->rta_type == IFA_ADDRESS && IsAddress(attr)) address = AddressOf(attr);
        }
        if (!local) local = address;
        if (!local) return;
        machine.ownNetworks.push_back(Prefix{*local & MaskOf(a->ifa_prefixlen), a->ifa_prefixlen});
        machine.ownNetworks.push_back(platform::Network24(*local));
      },
      interrupted);
  if (!read) {
    reason = "the addresses of this machine cannot be read";
    return false;
  }
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

void ApplyPlan(const RoutePlan& plan, Machine& machine, RouteReport& report) {
  Netlink netlink;
  if (!netlink.Open()) {
    report.outcome = RouteReport::Outcome::Failed;
    report.reason = "no netlink socket could be opened";
    return;
  }
  Changes changes(netlink, report);
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
  routes.reserve(plan.routes.size());
  for (const RouteRequest& r : plan.routes) {
    const std::string why = RouteRefusal(r, machine);
    if (why.empty()) {
      routes.push_back(r);
    } else {
      changes.Refuse(Describe(r) + ": " + why);
    }
  }
  // The table read with the machine serves the split routes unless the
  // plan changed it first.
  bool changed = false;
  if (plan.clear) {
    Clear(changes);
    changed = true;
  }
  if (!changes.Stopped() && report.outcome == RouteReport::Outcome::Done && (plan.replaceDefaults || !defaults.empty())) {
    ApplyDefaults(changes, plan, defaults);
    changed = true;
  }
  if (changes.Stopped() || report.outcome != RouteReport::Outcome::Done || routes.empty()) return;
  if (changed && !Read(changes, machine.table)) return;
  ApplyRoutes(changes, machine.table, routes);
}

}  // namespace quillon::helper
