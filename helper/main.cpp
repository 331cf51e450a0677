// quillon-route: the one program of Quillon that may change routes. It is
// installed root:quillon 0750 with cap_net_admin+ep; the window, the command
// line and the service hold no right and hand it their route plan.
//
//   quillon-route < PLAN > REPORT
//
// Reads one route plan (platform/route_plan.h) on standard input, applies
// the requests its rules accept to the main routing table and answers with
// a report on standard output. Exit 0 whenever it answered, refusals and
// refused plans included; non-zero only when it could not answer.
//
// It trusts nothing of its caller: the environment is cleared before any
// library reads it, no locale is loaded, the plan is read within the
// format's limits, every request is checked against the table as it is,
// and the whole run has a deadline.
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "helper/route_table.h"
#include "helper/routing_lease.h"
#include "platform/route_plan.h"

namespace {

using quillon::platform::RoutePlan;
using quillon::platform::RouteReport;

// The dynamic linker runs an executable's pre-initialisation functions
// before the constructors of the shared libraries it loads, which may read
// the environment: it goes first. At this
// point the C library has not yet taken `environment` as its environ (its
// own constructor does that), so the list itself is emptied; clearenv()
// here would be undone.
void ClearEnvironment(int, char**, char** environment) {
  if (environment != nullptr) environment[0] = nullptr;
}
[[gnu::used, gnu::section(".preinit_array")]] void (*const kClearEnvironmentFirst)(int, char**, char**) =
    &ClearEnvironment;

// A plan of 10,000 routes takes about a tenth of a second; a helper still
// at work after this is ended by SIGALRM (the client waits a little longer).
constexpr unsigned kDeadlineSeconds = 100;

enum class Input { Read, TooLong, Failed };

// Standard input to its end, but never more than one byte past the limit.
Input ReadInput(std::string& text) {
  const std::size_t limit = quillon::platform::kPlanMaxBytes;
  // Room for the longest plan at once: pages are only made as the text
  // fills them, and the text is never copied to grow.
  text.reserve(limit + 1);
  char buffer[1 << 16];
  while (true) {
    const std::size_t room = limit + 1 - text.size();
    const ssize_t n = read(STDIN_FILENO, buffer, room < sizeof buffer ? room : sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Input::Failed;
    if (n == 0) return Input::Read;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > limit) return Input::TooLong;
  }
}

bool HasNetAdmin() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_NET_ADMIN / 32].effective & (1u << (CAP_NET_ADMIN % 32))) != 0;
}

RouteReport Refused(RouteReport::Outcome outcome, std::string reason) {
  RouteReport report;
  report.outcome = outcome;
  report.reason = std::move(reason);
  return report;
}

RouteReport Run() {
  std::string text;
  switch (ReadInput(text)) {
    case Input::Read:
      break;
    case Input::TooLong:
      return Refused(RouteReport::Outcome::Failed,
                     "the route plan is longer than " + std::to_string(quillon::platform::kPlanMaxBytes) + " bytes");
    case Input::Failed:
      return Refused(RouteReport::Outcome::Failed, "the route plan cannot be read from standard input");
  }
  RoutePlan plan;
  std::string reason;
  if (!quillon::platform::ReadPlan(text, plan, reason)) {
    return Refused(RouteReport::Outcome::Failed, "the route plan is refused: " + reason);
  }
  std::string().swap(text);

  const bool changesNothing = !plan.clear && !plan.replaceDefaults && plan.defaults.empty() && plan.routes.empty();
  if (changesNothing) return RouteReport{};
  if (!HasNetAdmin()) return Refused(RouteReport::Outcome::NoRights, quillon::helper::NoRightsReason());

  quillon::helper::RoutingLease lease;
  bool busy = false;
  if (!lease.Lock(reason, busy)) {
    return Refused(busy ? RouteReport::Outcome::Busy : RouteReport::Outcome::Failed, reason);
  }
  const uid_t caller = getuid();
  const bool onlyClears = plan.clear && !plan.replaceDefaults && plan.defaults.empty() && plan.routes.empty();
  if (onlyClears) {
    lease.Release(caller);
  } else if (!lease.Claim(caller, reason)) {
    return Refused(RouteReport::Outcome::Busy, reason);
  }

  // The lines and the machine's own networks as they are before the plan
  // changes anything (a plan may delete the default routes).
  quillon::helper::Machine machine;
  if (!quillon::helper::ReadMachine(machine, reason)) return Refused(RouteReport::Outcome::Failed, reason);
  RouteReport report;
  quillon::helper::ApplyPlan(plan, machine, report);
  return report;
}

}  // namespace

int main(int argc, char**) {
  clearenv();
  umask(007);
  // Standard input, output and error exist, so that no socket of ours
  // takes their place.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) return 1;
  }
  // What the caller blocked or ignored must not undo the deadline.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGALRM, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  alarm(kDeadlineSeconds);
  if (argc > 1) {
    std::fputs("usage: quillon-route < PLAN (a route plan on standard input; it answers with a report)\n", stderr);
    return 2;
  }
  return quillon::helper::WriteAll(STDOUT_FILENO, quillon::platform::WriteReport(Run())) ? 0 : 1;
}
