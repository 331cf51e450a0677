// Runs the route helper: a plan on its standard input, a report on its
// standard output. The plan goes through a socket (sent with MSG_NOSIGNAL,
// so a helper that stops reading cannot kill this process with SIGPIPE),
// the report comes back through a pipe, and one poll loop does both, so a
// plan larger than the buffers cannot deadlock with the helper's answer.
#include "platform/posix/route_helper_client.h"

#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/posix/posix_system.h"

namespace quillon::platform {

namespace {

RouteReport Failure(RouteReport::Outcome outcome, std::string reason) {
  RouteReport report;
  report.outcome = outcome;
  report.reason = std::move(reason);
  return report;
}

RouteReport Failed(std::string reason) { return Failure(RouteReport::Outcome::Failed, std::move(reason)); }

std::string UserName() {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    return found->pw_name;
  return std::to_string(getuid());
}

// The group that may run the helper: its file's group, "quillon" as the
// package installs it (also when the file's group is root or unknown).
std::string HelperGroup(const std::string& helper) {
  struct stat st{};
  if (stat(helper.c_str(), &st) != 0 || st.st_gid == 0) return "quillon";
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->gr_name)
    return found->gr_name;
  return "quillon";
}

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

// Waits for the helper's end; its wait status, or -1 when it is unknown
// (SIGCHLD ignored: the kernel reaped it).
int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

// The plan without requests that cannot change the helper's outcome. The
// helper routes a network by its last accepted request, and whether it
// accepts a request depends on the request's network and gateway alone:
// of the requests alike in both, the last one stands for all (a split list
// of 100,000 names often asks for one network many times).
RoutePlan WithoutRepeats(const RoutePlan& plan) {
  // An open-addressing set of the requests kept, by their place in the
  // plan, at most half full: 4 bytes a slot, no allocation per request.
  const auto same = [](const RouteRequest& a, const RouteRequest& b) {
    return a.prefix == b.prefix && a.prefixEntry == b.prefixEntry && a.gateway == b.gateway;
  };
  constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  std::size_t capacity = 16;
  while (capacity < 2 * plan.routes.size()) capacity *= 2;
  std::vector<std::uint32_t> slots(capacity, kEmpty);
  std::vector<bool> keep(plan.routes.size(), false);
  std::size_t kept = 0;
  for (std::size_t i = plan.routes.size(); i-- > 0;) {
    const RouteRequest& r = plan.routes[i];
    const std::uint64_t key = std::uint64_t{r.prefix.network} << 16 |
                              (static_cast<std::uint64_t>(static_cast<std::uint8_t>(r.prefix.length)) << 8) |
                              (r.prefixEntry ? 2u : 0u);
    const std::uint64_t h = (key ^ (std::uint64_t{r.gateway} << 32 | r.gateway)) * 0x9E3779B97F4A7C15ull;
    for (std::size_t at = (h >> 20) & (capacity - 1);; at = (at + 1) & (capacity - 1)) {
      std::uint32_t& slot = slots[at];
      if (slot == kEmpty) {
        slot = static_cast<std::uint32_t>(i);
        keep[i] = true;
        ++kept;
        break;
      }
      if (same(plan.routes[slot], r)) break;
    }
  }
  RoutePlan compact;
  compact.replaceDefaults = plan.replaceDefaults;
  compact.defaults = plan.defaults;
  compact.clear = plan.clear;
  compact.routes.reserve(kept);
  for (std::size_t i = 0; i < plan.routes.size(); ++i) {
    if (keep[i]) compact.routes.push_back(plan.routes[i]);
  }
  return compact;
}

}  // namespace

std::string FindRouteHelper(std::vector<std::string>* looked) {
  const char* named = std::getenv(kRouteHelperVariable);
  if (named != nullptr && named[0] != '\0') {
    if (looked) looked->push_back(named);
    return named;
  }
  const std::string exe = ExecutablePath();
  if (exe.empty()) return {};
  const std::filesystem::path directory = std::filesystem::path(exe).parent_path();
  for (const char* relative : {"../lib/quillon/quillon-route", "../helper/quillon-route"}) {
    const std::string candidate = (directory / relative).lexically_normal().string();
    if (looked) looked->push_back(candidate);
    struct stat st{};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return candidate;
  }
  return {};
}

RouteReport ApplyThroughHelper(const RoutePlan& plan) {
  std::vector<std::string> looked;
  const std::string helper = FindRouteHelper(&looked);
  if (helper.empty()) {
    std::string places;
    for (const std::string& p : looked) places += (places.empty() ? "" : ", ") + p;
    return Failed("the route helper quillon-route was not found (looked for " + places + "); set " +
                  kRouteHelperVariable + " to its path");
  }
  return ApplyThroughHelper(helper, plan);
}

RouteReport ApplyThroughHelper(const std::string& helper, const RoutePlan& plan) {
  if (plan.routes.size() > kPlanMaxRoutes || plan.defaults.size() > kPlanMaxDefaults)
    return Failed("the route plan has more routes than the route helper takes");
  std::string text = WritePlan(WithoutRepeats(plan));
  if (text.size() > kPlanMaxBytes) return Failed("the route plan is longer than the route helper takes");

  int input[2];
  int output[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0)
    return Failed(std::string("cannot start the route helper: ") + std::strerror(errno));
  Fd toHelper(input[0]), helperIn(input[1]);
  if (pipe2(output, O_CLOEXEC) != 0) return Failed(std::string("cannot start the route helper: ") + std::strerror(errno));
  Fd fromHelper(output[0]), helperOut(output[1]);

  // The helper gets the plan socket and the report pipe as standard input
  // and output, keeps standard error, and nothing else of ours: no other
  // descriptor, no environment, no blocked or ignored signal.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, helperIn.fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, helperOut.fd, STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int s : {SIGPIPE, SIGALRM, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char* argv[] = {const_cast<char*>(helper.c_str()), nullptr};
  char* environment[] = {nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, helper.c_str(), &actions, &attributes, argv, environment);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned == EACCES || spawned == EPERM) {
    const std::string group = HelperGroup(helper);
    return Failure(RouteReport::Outcome::NoRights, "you are not in the group " + group + ": sudo adduser " +
                                                       UserName() + " " + group + ", then log in again");
  }
  if (spawned != 0) return Failed("cannot start the route helper " + helper + ": " + std::strerror(spawned));
  helperIn.Close();
  helperOut.Close();
  fcntl(toHelper.fd, F_SETFL, O_NONBLOCK);
  fcntl(fromHelper.fd, F_SETFL, O_NONBLOCK);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kRouteHelperSeconds);
  std::size_t sent = 0;
  std::string report;
  bool tooLong = false;
  bool late = false;
  while (fromHelper.fd >= 0) {
    // All sent (or the helper stopped reading): it sees the end of the plan.
    if (toHelper.fd >= 0 && sent == text.size()) toHelper.Close();
    pollfd fds[2] = {{fromHelper.fd, POLLIN, 0}, {toHelper.fd, POLLOUT, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      late = true;
      break;
    }
    const int ready = poll(fds, toHelper.fd >= 0 ? 2 : 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (toHelper.fd >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = send(toHelper.fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        toHelper.Close();  // the helper reads no more: its answer says why
      }
    }
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
      char buffer[65536];
      const ssize_t n = read(fromHelper.fd, buffer, sizeof buffer);
      if (n > 0) {
        report.append(buffer, static_cast<std::size_t>(n));
        if (report.size() > kReportMaxBytes) {
          tooLong = true;
          break;
        }
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        fromHelper.Close();
      }
    }
  }
  const bool answered = fromHelper.fd < 0;
  if (!answered) kill(pid, SIGKILL);
  const int status = Reap(pid);
  // The plan comes at the end of a pass, which leaves megabytes of
  // temporaries behind (at 100,000 entries: the store as read, the plan and
  // its text). The program lives on between passes: their pages go back to
  // the system now instead of staying resident until the next pass.
  std::string().swap(text);
  malloc_trim(0);

  if (late) return Failed("the route helper did not answer within " + std::to_string(kRouteHelperSeconds) + " s");
  if (tooLong) return Failed("the route helper's report is longer than " + std::to_string(kReportMaxBytes) + " bytes");
  if (!answered) return Failed(std::string("the route helper's report cannot be read: ") + std::strerror(errno));
  if (status != -1 && WIFSIGNALED(status))
    return Failed("the route helper ended by signal " + std::to_string(WTERMSIG(status)) + " without an answer");
  if (status != -1 && WEXITSTATUS(status) != 0)
    return Failed("the route helper ended with exit code " + std::to_string(WEXITSTATUS(status)) + " without an answer");
  RouteReport result;
  std::string reason;
  if (!ReadReport(report, result, reason)) return Failed("the route helper's answer is malformed: " + reason);
  return result;
}

}  // namespace quillon::platform
