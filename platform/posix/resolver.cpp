// Many lookups at once through one c-ares channel per call, driven by poll
// on the calling thread.
#include "platform/posix/resolver.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <unordered_set>

#include "platform/ipv4.h"
#include "platform/safety.h"

namespace quillon::platform {

namespace {

// ares_library_init is not safe to call from several threads at once; it
// runs once for the process and is never undone.
bool LibraryReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = ares_library_init(ARES_LIB_INIT_ALL) == ARES_SUCCESS; });
  return ready;
}

// Receive buffer asked for the channel's UDP socket (the kernel caps it at
// net.core.rmem_max, then doubles it): room for every answer in flight even
// while this thread is busy with others.
constexpr int kReceiveBuffer = 1 << 20;

// The hosts file that c-ares reads (it ignores CARES_HOSTS unless asked to).
constexpr const char* kHostsPath = "/etc/hosts";

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

bool ReadHostsNames(const std::string& path, std::unordered_set<std::string>& names) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    // c-ares reads a line up to a comment or a NUL byte.
    const std::size_t end = line.find_first_of(std::string("#\0", 2));
    if (end != std::string::npos) line.resize(end);
    bool address = true;  // the first word is the address
    for (std::size_t at = 0; at < line.size();) {
      while (at < line.size() && IsBlank(line[at])) ++at;
      const std::size_t start = at;
      while (at < line.size() && !IsBlank(line[at])) ++at;
      if (at == start) break;
      if (address) {
        address = false;
        continue;
      }
      std::string name = line.substr(start, at - start);
      std::transform(name.begin(), name.end(), name.begin(), AsciiLower);
      names.insert(std::move(name));
    }
  }
  return !in.bad();
}

bool MayBeHostsName(const std::string& name, const std::unordered_set<std::string>& names) {
  std::string key = name;
  std::transform(key.begin(), key.end(), key.begin(), AsciiLower);
  if (names.count(key) > 0) return true;
  if (!key.empty() && key.back() == '.') key.pop_back();
  // c-ares answers "localhost" from the file, or else by itself.
  if (key == "localhost" || (key.size() > 10 && key.compare(key.size() - 10, 10, ".localhost") == 0))
    return true;
  return names.count(key) > 0;
}

namespace {

// Batches running in this process, and their questions in flight: the
// servers see at most about kLookupsInFlight at once however many threads
// look names up.
std::atomic<std::size_t> g_running{0};
std::atomic<std::size_t> g_inFlight{0};

// One batch: the channel, its sockets, and the questions in flight.
class Batch {
 public:
  Batch(const std::vector<std::string>& names, std::vector<Lookup>& results)
      : names_(names), results_(results) {}
  ~Batch() {
    if (channel_ != nullptr) ares_destroy(channel_);  // ends what is still in flight (none after Run)
  }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // Reads the resolver configuration; false when no channel can be made.
  // `lookups` replaces the configured order of sources ("b" DNS, "f" the
  // hosts file) when not null.
  bool Open(const char* lookups) {
    if (!LibraryReady()) return false;
    ares_options options{};
    int mask = ARES_OPT_FLAGS | ARES_OPT_SOCK_STATE_CB | ARES_OPT_SOCK_RCVBUF;
    // The socket stays open while the batch lasts, also when every question
    // has its answer for a moment.
    options.flags = ARES_FLAG_STAYOPEN;
    // c-ares 1.18 reads servers, search list and ndots from resolv.conf but
    // not "options timeout:N attempts:N" (it keeps 5 s and 4 tries, each
    // round twice as long: over a minute for a server that never answers).
    // The system resolver's own reading of them (RES_OPTIONS included,
    // limited to 30 s and 5 attempts, 5 s and 2 when unset) is passed on.
    struct __res_state state {};
    // res_nclose only after a successful res_ninit: a failed one may leave
    // descriptor 0 in the state as its socket.
    if (res_ninit(&state) == 0) {
      options.timeout = state.retrans > 0 ? state.retrans * 1000 : 5000;
      options.tries = state.retry > 0 ? state.retry : 1;
      mask |= ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES;
      res_nclose(&state);
    }
    if (lookups != nullptr) {
      options.lookups = const_cast<char*>(lookups);
      mask |= ARES_OPT_LOOKUPS;
    }
    options.sock_state_cb = &Batch::SocketState;
    options.sock_state_cb_data = this;
    options.socket_receive_buffer_size = kReceiveBuffer;
    if (ares_init_options(&channel_, &options, mask) != ARES_SUCCESS) {
      channel_ = nullptr;
      return false;
    }
    slots_.resize(kLookupsInFlight);
    for (Slot& slot : slots_) {
      slot.batch = this;
      free_.push_back(&slot);
    }
    return true;
  }

  // The order of sources the channel asks ("fb": the hosts file, then DNS).
  std::string Lookups() const {
    ares_options options{};
    int mask = 0;
    if (ares_save_options(channel_, &options, &mask) != ARES_SUCCESS) return {};
    std::string lookups = (mask & ARES_OPT_LOOKUPS) && options.lookups ? options.lookups : "";
    ares_destroy_options(&options);
    return lookups;
  }

  // Asks for every name in `indexes` (positions in names), at most
  // kLookupsInFlight at a time, and returns when all have their answer.
  void Run(const std::vector<std::size_t>& indexes) {
    indexes_ = &indexes;
    next_ = 0;
    ++g_running;
    TopUp();
    while (free_.size() < slots_.size()) Wait();
    --g_running;
  }

 private:
  // Starts questions while this batch is under its share of the budget
  // (kLookupsInFlight split evenly between the batches running) and the
  // process under the whole budget; a batch with nothing in flight may
  // always start one, so none waits for ever. Each answer calls it again,
  // so the server is kept busy without waiting for a whole round of
  // answers. An answer that comes at once (the hosts file, a bad name)
  // frees its slot inside Start: the loop here takes it, with no recursion.
  void TopUp() {
    if (starting_) return;
    starting_ = true;
    while (!failed_ && next_ < indexes_->size()) {
      const std::size_t mine = slots_.size() - free_.size();
      const std::size_t share =
          std::max<std::size_t>(1, kLookupsInFlight / std::max<std::size_t>(1, g_running));
      if (mine >= share || (mine > 0 && g_inFlight >= kLookupsInFlight)) break;
      Start((*indexes_)[next_++]);
    }
    starting_ = false;
  }

  struct Slot {
    Batch* batch = nullptr;
    std::size_t index = 0;
  };

  void Start(std::size_t index) {
    Slot* slot = free_.back();
    free_.pop_back();
    ++g_inFlight;
    slot->index = index;
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_INET;
    // Without it, an answer of several addresses is sorted by the address
    // selection rules (a socket connected per address); the answer's own
    // order is the one wanted.
    hints.ai_flags = ARES_AI_NOSORT;
    ares_getaddrinfo(channel_, names_[index].c_str(), nullptr, &hints, &Batch::Answered, slot);
  }

  // Waits for the sockets or the next timeout and lets c-ares work.
  void Wait() {
    timeval most{1, 0};
    timeval left{};
    const timeval* t = ares_timeout(channel_, &most, &left);
    const int ms = static_cast<int>(t->tv_sec * 1000 + (t->tv_usec + 999) / 1000);
    // The callbacks may change sockets_ while c-ares works: poll a copy.
    std::vector<pollfd> ready = sockets_;
    const int n = poll(ready.data(), ready.size(), ms);
    if (n < 0) {
      if (errno == EINTR) return;
      // Nothing can be waited for: every question still open fails now.
      failed_ = true;
      ares_cancel(channel_);
      return;
    }
    if (n == 0) {
      ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // timeouts and retries
      return;
    }
    for (const pollfd& p : ready) {
      if (p.revents == 0) continue;
      const bool readable = (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
      const bool writable = (p.revents & (POLLOUT | POLLERR | POLLHUP)) != 0;
      ares_process_fd(channel_, readable ? p.fd : ARES_SOCKET_BAD, writable ? p.fd : ARES_SOCKET_BAD);
    }
  }

  static void SocketState(void* data, ares_socket_t fd, int readable, int writable) {
    auto& sockets = static_cast<Batch*>(data)->sockets_;
    auto it = std::find_if(sockets.begin(), sockets.end(), [fd](const pollfd& p) { return p.fd == fd; });
    if (!readable && !writable) {
      if (it != sockets.end()) sockets.erase(it);
      return;
    }
    if (it == sockets.end()) it = sockets.insert(sockets.end(), pollfd{fd, 0, 0});
    it->events = static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0));
  }

  static void Answered(void* arg, int status, int, ares_addrinfo* result) {
    Slot* slot = static_cast<Slot*>(arg);
    Batch& batch = *slot->batch;
    Lookup& out = batch.results_[slot->index];
    if (status == ARES_SUCCESS && result != nullptr) {
      out.answered = true;
      bool first = true;
      auto keep = [&](int ttl) {
        const std::uint32_t seconds = ttl > 0 ? static_cast<std::uint32_t>(ttl) : 0u;
        out.ttl = first ? seconds : std::min(out.ttl, seconds);
        first = false;
      };
      for (const ares_addrinfo_node* node = result->nodes; node != nullptr; node = node->ai_next) {
        if (node->ai_family != AF_INET || node->ai_addr == nullptr ||
            node->ai_addrlen < static_cast<ares_socklen_t>(sizeof(sockaddr_in))) {
          continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, node->ai_addr, sizeof address);
        const Ipv4 value = ntohl(address.sin_addr.s_addr);
        if (std::find(out.addresses.begin(), out.addresses.end(), value) == out.addresses.end()) {
          out.addresses.push_back(value);
        }
        keep(node->ai_ttl);
      }
      // An answer through aliases lasts no longer than its shortest alias.
      for (const ares_addrinfo_cname* alias = result->cnames; alias != nullptr; alias = alias->next)
        keep(alias->ttl);
    }
    if (result != nullptr) ares_freeaddrinfo(result);
    batch.free_.push_back(slot);
    --g_inFlight;
    batch.TopUp();
  }

  const std::vector<std::string>& names_;
  std::vector<Lookup>& results_;
  ares_channel channel_ = nullptr;
  std::vector<pollfd> sockets_;  // c-ares's sockets and what it waits for on each
  std::vector<Slot> slots_;      // one per question in flight, never moved after Open
  std::vector<Slot*> free_;
  const std::vector<std::size_t>* indexes_ = nullptr;  // the names to ask, by position
  std::size_t next_ = 0;                               // the next of them to start
  bool starting_ = false;
  bool failed_ = false;
};

}  // namespace

std::vector<Lookup> ResolveAll(const std::vector<std::string>& names) {
  std::vector<Lookup> results(names.size());
  std::vector<std::size_t> asked;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!IsSafeDestination(names[i])) continue;
    if (const auto address = ParseIpv4(names[i])) {
      results[i] = Lookup{true, true, {*address}, 0};
      continue;
    }
    asked.push_back(i);
  }
  if (asked.empty()) return results;
  Batch configured(names, results);
  if (!configured.Open(nullptr)) return results;
  for (const std::size_t i : asked) results[i].started = true;

  // c-ares reads the whole hosts file again for every name it asks. Only
  // names the file may hold need that: the others go to a second channel
  // with the same configuration that skips the file (and, where the
  // configuration asks the file alone, fail as they would there).
  const std::string lookups = configured.Lookups();
  const std::size_t file = lookups.find('f');
  std::unordered_set<std::string> fileNames;
  if (file == std::string::npos || !ReadHostsNames(kHostsPath, fileNames)) {
    configured.Run(asked);
    return results;
  }
  std::vector<std::size_t> inFile, rest;
  for (const std::size_t i : asked) (MayBeHostsName(names[i], fileNames) ? inFile : rest).push_back(i);
  configured.Run(inFile);
  std::string withoutFile = lookups;
  withoutFile.erase(file, 1);
  if (rest.empty() || withoutFile.empty()) return results;
  Batch dns(names, results);
  if (dns.Open(withoutFile.c_str())) {
    dns.Run(rest);
  } else {
    configured.Run(rest);
  }
  return results;
}

Lookup Resolve(const std::string& name) { return ResolveAll({name}).front(); }

}  // namespace quillon::platform
