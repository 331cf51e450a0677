// Benchmark of split routing with the real logic and the Linux backend:
// a full pass on a fresh table, a steady pass, a reload of the list, the
// resident memory of the process, the phases of a pass, and (optionally) the
// per-process procedure on a sample of the store: one lookup process per
// entry, and per answer address one "ip route del" and one "ip route add"
// process, one after the other, as the Windows commands do it.
//
//   quillon_bench_split --home DIR [--per-process K] [--no-phases]
//
// It changes routes, so it runs only inside a private network namespace
// (bench/split-bench.sh makes one). Results go to standard output as
// "key=value" lines; bench/split-bench.sh turns them into a table.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "app/split_rows.h"
#include "platform/safety.h"
#include "platform/system_factory.h"
#include "routing/config_paths.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"

extern char** environ;

namespace {

using namespace quillon;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of the whole process (every thread, user and system) in ms.
double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// A field of /proc/self/status in kB (VmRSS, VmHWM), or -1.
long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  const std::string prefix = std::string(field) + ":";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  }
  return -1;
}

std::string LinkTarget(const char* path) {
  char buf[256];
  const ssize_t n = readlink(path, buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// Starts `argv` with its standard output going to `outFd` (or /dev/null when
// -1) and its error output to /dev/null; returns the pid or -1.
pid_t Spawn(const std::vector<std::string>& argv, int outFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a program to its end; its exit code (-1 when it could not start).
// With `out`, its standard output is collected there.
int Run(const std::vector<std::string>& argv, std::string* out = nullptr) {
  int fds[2] = {-1, -1};
  if (out && pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = Spawn(argv, out ? fds[1] : -1);
  if (out) {
    close(fds[1]);
    out->clear();
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out->append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
  }
  return pid < 0 ? -1 : Wait(pid);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// `ip -4 monitor route` in the background. Mark() makes a change of its own
// (a route to 10.255.255.0/24 on lo, added and deleted) and waits until the
// monitor has printed it, so that everything the kernel reported before the
// mark is in the file; Since() counts the monitor's lines between the last
// two marks, the marks' own lines left out.
class RouteMonitor {
 public:
  explicit RouteMonitor(std::string path) : path_(std::move(path)) {
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    pid_ = Spawn({"ip", "-4", "monitor", "route"}, fd);
    close(fd);
  }
  ~RouteMonitor() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      Wait(pid_);
    }
    unlink(path_.c_str());
  }
  bool Mark() {
    static const char* kMark = "10.255.255.0/24";
    if (pid_ <= 0) return false;
    const auto end = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      Run({"ip", "route", "add", kMark, "dev", "lo"});
      Run({"ip", "route", "del", kMark, "dev", "lo"});
      const std::string text = ReadText(path_);
      std::size_t marks = 0;
      for (std::size_t at = text.find(kMark, seen_); at != std::string::npos; at = text.find(kMark, at + 1)) ++marks;
      if (marks >= 2) {
        // Both mark lines are complete once the second has its line break.
        const std::size_t last = text.rfind(kMark);
        const std::size_t lineEnd = text.find('\n', last);
        if (lineEnd != std::string::npos) {
          since_ = 0;
          std::istringstream lines(text.substr(seen_, lineEnd + 1 - seen_));
          for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.find(kMark) == std::string::npos) ++since_;
          }
          seen_ = lineEnd + 1;
          return true;
        }
      }
      if (Clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  long Since() const { return since_; }

 private:
  std::string path_;
  pid_t pid_ = -1;
  std::size_t seen_ = 0;
  long since_ = 0;
};

void PrintChanges(const char* name, const platform::RouteReport& c) {
  std::printf("%s_added=%d\n%s_replaced=%d\n%s_deleted=%d\n%s_kept=%d\n", name, c.added, name, c.replaced, name,
              c.deleted, name, c.kept);
}

// The per-process procedure on the first `sample` entries: for each entry a
// `getent ahostsv4 NAME` process, and for each answer address an
// `ip route del NET/24` process and an `ip route add NET/24 via LINE`
// process, each waited for before the next starts.
void PerProcess(const std::vector<routing::SplitEntry>& entries, std::size_t sample) {
  sample = std::min(sample, entries.size());
  long processes = 0, addresses = 0;
  const auto start = Clock::now();
  double lookupMs = 0;
  for (std::size_t i = 0; i < sample; ++i) {
    const routing::SplitEntry& e = entries[i];
    const auto lookupStart = Clock::now();
    std::string out;
    Run({"getent", "ahostsv4", e.destination}, &out);
    lookupMs += MsSince(lookupStart);
    ++processes;
    // getent prints each address once per socket type; each counts once.
    std::vector<std::string> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      const std::string address = line.substr(0, line.find_first_of(" \t"));
      if (!address.empty() && std::find(found.begin(), found.end(), address) == found.end()) found.push_back(address);
    }
    for (const std::string& address : found) {
      const auto value = platform::ParseIpv4(address);
      if (!value) continue;
      const std::string network = platform::Ipv4Text(platform::Network24(*value).network);
      ++addresses;
      Run({"ip", "route", "del", network + "/24"});
      Run({"ip", "route", "add", network + "/24", "via", e.line});
      processes += 2;
    }
  }
  const double ms = MsSince(start);
  std::printf("perprocess_sample=%zu\nperprocess_ms=%.1f\nperprocess_lookup_ms=%.1f\nperprocess_processes=%ld\n"
              "perprocess_addresses=%ld\n",
              sample, ms, lookupMs, processes, addresses);
}

// The phases of a pass timed apart, with the same calls the router makes:
// reading the store, the lookups (as many at once as the router runs), and
// the route pass on the answers.
void Phases(platform::System& sys) {
  auto start = Clock::now();
  routing::SplitStore store = routing::SplitStore::Main(sys);
  const std::vector<routing::SplitEntry> entries = store.Entries();
  std::printf("phase_store_read_ms=%.1f\n", MsSince(start));

  start = Clock::now();
  const double cpuStart = CpuMs();
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.destination);
  const std::vector<platform::Lookup> answers = sys.LookupHosts(names, routing::ConfigFile(sys, routing::kResolveLogName));
  std::printf("phase_lookups_ms=%.1f\nphase_lookups_cpu_ms=%.1f\n", MsSince(start), CpuMs() - cpuStart);

  start = Clock::now();
  const std::vector<platform::Prefix> own = routing::OwnNetworks(sys);
  std::printf("phase_adapters_ms=%.1f\n", MsSince(start));
  start = Clock::now();
  std::vector<routing::PassEntry> pass;
  pass.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) pass.push_back({entries[i], answers[i], true});
  const platform::RoutePlan plan = routing::PlanSplitRoutes(pass, own);
  const double requestsMs = MsSince(start);
  const auto finishStart = Clock::now();
  sys.ApplyRoutePlan(plan);
  std::printf("phase_answers_ms=%.1f\nphase_netlink_ms=%.1f\n", requestsMs, MsSince(finishStart));
}

int Usage() {
  std::fprintf(stderr, "usage: quillon_bench_split --home DIR [--per-process K] [--no-phases]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const long rssStartKb = StatusKb("VmRSS");
  std::string home;
  std::size_t perProcess = 0;
  bool phases = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (a == "--per-process" && i + 1 < argc) {
      perProcess = std::strtoul(argv[++i], nullptr, 10);
    } else if (a == "--no-phases") {
      phases = false;
    } else {
      return Usage();
    }
  }
  if (home.empty()) return Usage();
  // Every pass changes routes: never on the machine's own table.
  const std::string self = LinkTarget("/proc/self/ns/net");
  if (self.empty() || self == LinkTarget("/proc/1/ns/net")) {
    std::fprintf(stderr, "quillon_bench_split: not inside a private network namespace (run bench/split-bench.sh)\n");
    return 1;
  }

  // The empty program state: the System, the window (in memory here) and
  // the router, before any pass.
  const std::unique_ptr<platform::System> sys = platform::MakeSystem(home);
  routing::SplitStore store = routing::SplitStore::Main(*sys);
  routing::SplitRouter router(*sys, store);
  if (!sys->FileExists(store.Path())) {
    std::fprintf(stderr, "quillon_bench_split: no split store at %s\n", store.Path().c_str());
    return 1;
  }
  const long rssEmptyKb = StatusKb("VmRSS");

  auto monitorOwner = std::make_unique<RouteMonitor>(home + "/monitor.log");
  RouteMonitor& monitor = *monitorOwner;
  if (!monitor.Mark()) {
    std::fprintf(stderr, "quillon_bench_split: ip monitor did not start\n");
    return 1;
  }

  auto start = Clock::now();
  double cpuStart = CpuMs();
  const platform::RouteReport full = router.RouteAllEntries();
  const double fullMs = MsSince(start);
  const double fullCpuMs = CpuMs() - cpuStart;
  if (!monitor.Mark()) return 1;
  const long fullSeen = monitor.Since();

  start = Clock::now();
  cpuStart = CpuMs();
  const platform::RouteReport steady = router.RouteAllEntries();
  const double steadyMs = MsSince(start);
  const double steadyCpuMs = CpuMs() - cpuStart;
  if (!monitor.Mark()) return 1;
  const long steadySeen = monitor.Since();
  monitorOwner.reset();  // what follows is timed without it

  start = Clock::now();
  // The window's reload: the store read, and its rows built.
  std::size_t rows = 0;
  {
    lines::LineDirectory lines(*sys);
    rows = app::SplitRows(store.Entries(), lines).size();
  }
  const double reloadMs = MsSince(start);
  const long rssAfterKb = StatusKb("VmRSS");
  const long hwmKb = StatusKb("VmHWM");

  std::printf("entries=%zu\nrows=%zu\n", rows, rows);
  std::printf("full_ms=%.1f\nfull_cpu_ms=%.1f\n", fullMs, fullCpuMs);
  PrintChanges("full", full);
  std::printf("full_monitor_changes=%ld\n", fullSeen);
  std::printf("steady_ms=%.1f\nsteady_cpu_ms=%.1f\n", steadyMs, steadyCpuMs);
  PrintChanges("steady", steady);
  std::printf("steady_monitor_changes=%ld\n", steadySeen);
  std::printf("reload_ms=%.1f\n", reloadMs);
  std::printf("rss_start_kb=%ld\nrss_empty_kb=%ld\nrss_after_kb=%ld\nrss_peak_kb=%ld\n", rssStartKb, rssEmptyKb,
              rssAfterKb, hwmKb);
  std::fflush(stdout);

  if (phases) Phases(*sys);
  if (perProcess > 0) PerProcess(store.Entries(), perProcess);
  return 0;
}
