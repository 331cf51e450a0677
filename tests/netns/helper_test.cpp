// The route helper as it is installed: a copy of the built quillon-route,
// root:GROUP 0750 with cap_net_admin+ep, run by test users inside the
// namespace of netns-run.sh (a file capability works in any network
// namespace of the initial user namespace). The users and their group are
// made with groupadd/useradd in an overlay over /etc of this test's mount
// namespace, and vanish with it, as does its /run (netns-run.sh).
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/route_helper_client.h"
#include "platform/route_plan.h"
#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

using platform::DefaultRouteRequest;
using platform::Ipv4;
using platform::Prefix;
using platform::RoutePlan;
using platform::RouteReport;
using platform::RouteRequest;
using Texts = std::vector<std::string>;
using Outcome = RouteReport::Outcome;

constexpr char kGroup[] = "qroute-users";
constexpr Ipv4 kLine0 = 0xC0000201u;  // 192.0.2.1
constexpr Ipv4 kLine1 = 0xC6336401u;  // 198.51.100.1
constexpr Ipv4 kLine2 = 0xCB007101u;  // 203.0.113.1

Ipv4 Address(const char* text) { return *platform::ParseIpv4(text); }
RouteRequest Route(const char* network, int length, Ipv4 gateway) { return {Prefix{Address(network), length}, gateway}; }
RoutePlan Routes(std::vector<RouteRequest> routes) {
  RoutePlan plan;
  plan.routes = std::move(routes);
  return plan;
}

struct User {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

// What the whole binary shares: the users, the installed helper copy and
// the private /etc. Made once, by the first test that runs.
struct Machine {
  bool attempted = false;
  bool ready = false;
  std::string directory;  // the helper copy and the overlay's layers
  std::string helper;
  User member, second, outsider;
};
Machine machine;

bool Run(const std::vector<std::string>& argv) {
  const ProgramRun run = RunProgram(argv);
  if (run.code != 0) ADD_FAILURE() << argv[0] << " failed (" << run.code << "): " << run.err;
  return run.code == 0;
}

bool MakeUser(const std::string& name, bool inGroup, User& user) {
  std::vector<std::string> argv{"useradd", "-M", "-N", "-l", "-s", "/usr/sbin/nologin"};
  if (inGroup) argv.insert(argv.end(), {"-G", kGroup});
  argv.push_back(name);
  if (!Run(argv)) return false;
  const passwd* entry = getpwnam(name.c_str());
  if (entry == nullptr) return false;
  user = User{name, entry->pw_uid, entry->pw_gid, {}};
  int count = 32;
  user.groups.resize(static_cast<std::size_t>(count));
  if (getgrouplist(name.c_str(), user.gid, user.groups.data(), &count) < 0) return false;
  user.groups.resize(static_cast<std::size_t>(count));
  return true;
}

void Prepare() {
  char pattern[] = "/tmp/quillon-helper-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  machine.directory = pattern;
  chmod(pattern, 0755);
  const std::string up = machine.directory + "/etc-up", work = machine.directory + "/etc-work";
  std::filesystem::create_directory(up);
  std::filesystem::create_directory(work);
  const std::string layers = "lowerdir=/etc,upperdir=" + up + ",workdir=" + work;
  ASSERT_EQ(mount("overlay", "/etc", "overlay", 0, layers.c_str()), 0) << "an overlay over /etc: " << std::strerror(errno);

  ASSERT_TRUE(Run({"groupadd", kGroup}));
  ASSERT_TRUE(MakeUser("qroute-a", true, machine.member));
  ASSERT_TRUE(MakeUser("qroute-b", true, machine.second));
  ASSERT_TRUE(MakeUser("qroute-x", false, machine.outsider));
  const group* routers = getgrnam(kGroup);
  ASSERT_NE(routers, nullptr);

  // As the package installs them: the helper, then its lock directory.
  machine.helper = machine.directory + "/quillon-route";
  std::filesystem::copy_file(QUILLON_ROUTE_HELPER_BUILT, machine.helper);
  ASSERT_EQ(chown(machine.helper.c_str(), 0, routers->gr_gid), 0);
  ASSERT_EQ(chmod(machine.helper.c_str(), 0750), 0);
  ASSERT_TRUE(Run({"setcap", "cap_net_admin+ep", machine.helper}));
  ASSERT_EQ(mkdir("/run/quillon", 0770), 0);
  ASSERT_EQ(chown("/run/quillon", 0, routers->gr_gid), 0);
  ASSERT_EQ(chmod("/run/quillon", 0770), 0);
  machine.ready = true;
}

class MachineCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (machine.directory.empty()) return;
    umount2("/etc", MNT_DETACH);
    std::filesystem::remove_all(machine.directory);
  }
};
[[maybe_unused]] ::testing::Environment* const cleanup = ::testing::AddGlobalTestEnvironment(new MachineCleanup);

// Runs `body` in a child process as `user`, with standard input and output
// from `in` and `out` (when given); the child's exit code.
int AsUser(const User& user, int in, int out, const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (in >= 0) dup2(in, 0);
    if (out >= 0) dup2(out, 1);
    if (setgroups(user.groups.size(), user.groups.data()) != 0 || setresgid(user.gid, user.gid, user.gid) != 0 ||
        setresuid(user.uid, user.uid, user.uid) != 0) {
      _exit(126);
    }
    body();
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class NetnsHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    QUILLON_REQUIRE_NAMESPACE();
    if (!machine.attempted) {
      machine.attempted = true;
      Prepare();
    }
    ASSERT_TRUE(machine.ready) << "the test users or the helper could not be made";
    RestoreBaseline();
    unlink("/run/quillon/owner");  // nobody routes
  }

  // The plan through the client, as `user` (the helper named by
  // QUILLON_ROUTE_HELPER).
  RouteReport Apply(const User& user, const RoutePlan& plan) {
    return Collect(user, -1, [&] {
      setenv(platform::kRouteHelperVariable, machine.helper.c_str(), 1);
      const std::string text = platform::WriteReport(platform::ApplyThroughHelper(plan));
      if (write(1, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(1);
    });
  }

  // Any bytes straight to the helper, as `user`.
  RouteReport Send(const User& user, const std::string& bytes) {
    const std::string path = machine.directory + "/plan";
    std::ofstream(path, std::ios::binary) << bytes;
    const int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const RouteReport report = Collect(user, in, [&] {
      execl(machine.helper.c_str(), machine.helper.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    });
    close(in);
    return report;
  }

  RouteReport Collect(const User& user, int in, const std::function<void()>& body) {
    const std::string path = machine.directory + "/report";
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int code = AsUser(user, in, out, body);
    close(out);
    RouteReport report;
    std::string reason;
    const std::string text = ReadFileText(path);
    EXPECT_EQ(code, 0) << text;
    EXPECT_TRUE(platform::ReadReport(text, report, reason)) << reason << ": " << text;
    return report;
  }
};

// Quillon's routes (protocol 77) of the main table, as "DST via GW".
Texts QuillonRoutes() {
  Json all;
  const IpResult r = Ip({"-j", "-4", "route", "show", "table", "main", "proto", "77"});
  EXPECT_TRUE(r.ok && ParseJson(r.out, all)) << r.out;
  Texts out;
  for (const Json& route : all.items) {
    const Json* dst = route.Find("dst");
    const Json* gateway = route.Find("gateway");
    out.push_back((dst ? dst->text : "?") + " via " + (gateway ? gateway->text : "-"));
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(NetnsHelper, OnlyMembersOfTheGroupRouteAndTheyRouteThroughALine) {
  const RoutePlan plan = Routes({Route("198.18.1.0", 24, kLine1), Route("10.20.0.0", 16, kLine2)});
  const Texts before = RouteTexts();
  const RouteReport refused = Apply(machine.outsider, plan);
  EXPECT_EQ(refused.outcome, Outcome::NoRights);
  EXPECT_EQ(refused.reason, "you are not in the group qroute-users: sudo adduser qroute-x qroute-users, then log in again");
  EXPECT_EQ(RouteTexts(), before);

  const RouteReport done = Apply(machine.member, plan);
  EXPECT_EQ(done.outcome, Outcome::Done) << done.reason;
  EXPECT_EQ(done.added, 2);
  EXPECT_EQ(QuillonRoutes(), (Texts{"10.20.0.0/16 via 203.0.113.1", "198.18.1.0/24 via 198.51.100.1"}));
}

TEST_F(NetnsHelper, HostilePlansChangeNothingAndEachRequestIsRefusedInOneLine) {
  const Texts before = RouteTexts();
  RoutePlan plan;
  plan.defaults = {{kLine0, 0}, {kLine0, 10000}, {Address("192.0.2.77"), 5}};
  plan.routes = {Route("198.18.1.0", 24, Address("192.0.2.77")),  // not a line
                 Route("0.0.0.0", 0, kLine1),     Route("2.0.0.0", 7, kLine1),    Route("224.1.2.0", 24, kLine1),
                 Route("127.0.0.0", 8, kLine1),   Route("0.1.2.0", 24, kLine1),   Route("198.51.100.0", 24, kLine2),
                 Route("198.51.0.0", 16, kLine2), Route("192.0.2.3", 32, kLine2)};  // the machine's own networks
  const RouteReport report = Apply(machine.member, plan);
  EXPECT_EQ(report.outcome, Outcome::Done) << report.reason;
  EXPECT_EQ(report.refused, 12);
  ASSERT_EQ(report.refusals.size(), 12u);
  EXPECT_EQ(report.refusals[0], "default 192.0.2.1 metric 0: the metric 0 is outside 1..9999");
  EXPECT_EQ(report.refusals[3],
            "route 198.18.1.0/24 via 192.0.2.77: the gateway 192.0.2.77 is not a line (no default route of the main "
            "table goes through it)");
  EXPECT_EQ(report.refusals[11], "route 192.0.2.3/32 via 203.0.113.1: it overlaps this machine's own network 192.0.2.0/24");
  EXPECT_EQ(report.added + report.replaced + report.deleted + report.kept, 0);

  // Text that is no whole plan is refused whole, in one line.
  const std::string good = platform::WritePlan(Routes({Route("198.18.1.0", 24, kLine1)}));
  const std::string cut = good.substr(0, good.size() - 4);
  std::string oversized = good.substr(0, good.size() - 4);
  while (oversized.size() <= platform::kPlanMaxBytes) oversized += "route 198.18.1.0/24 via 198.51.100.1\n";
  for (const std::string& text : {cut, oversized, std::string("GET / HTTP/1.0\r\n\r\n")}) {
    const RouteReport whole = Send(machine.member, text);
    EXPECT_EQ(whole.outcome, Outcome::Failed);
    EXPECT_EQ(whole.reason.rfind("the route plan is", 0), 0u) << whole.reason;
  }
  EXPECT_EQ(RouteTexts(), before);
}

TEST_F(NetnsHelper, ASteadyPlanChangesNothingInTheKernel) {
  const RoutePlan plan = Routes({Route("198.18.1.0", 24, kLine1), Route("36.0.0.0", 10, kLine2), Route("198.18.2.0", 24, 0)});
  ASSERT_EQ(Apply(machine.member, plan).added, 2);
  RouteMonitor monitor;
  ASSERT_TRUE(monitor.Mark());
  const RouteReport again = Apply(machine.member, plan);
  EXPECT_EQ(again.kept, 2);
  EXPECT_EQ(again.added + again.replaced + again.deleted + again.refused, 0);
  ASSERT_TRUE(monitor.Mark());
  EXPECT_EQ(monitor.Since(), Texts{});
}

TEST_F(NetnsHelper, ARemovalTakesOnlyQuillonsRoutesAndAnEntryReplacesAForeignOneWithoutAGap) {
  IpOk({"route", "add", "198.18.5.0/24", "via", "192.0.2.1"});
  ASSERT_EQ(Apply(machine.member, Routes({Route("198.18.6.0", 24, kLine0)})).added, 1);
  const RouteReport removed = Apply(machine.member, Routes({Route("198.18.5.0", 24, 0), Route("198.18.6.0", 24, 0)}));
  EXPECT_EQ(removed.deleted, 1);
  EXPECT_EQ(QuillonRoutes(), Texts{});
  const Texts routes = RouteTexts();
  EXPECT_NE(std::find(routes.begin(), routes.end(), "198.18.5.0/24 via 192.0.2.1 dev v0 metric 0"), routes.end());

  RouteMonitor monitor;
  ASSERT_TRUE(monitor.Mark());
  const RouteReport replaced = Apply(machine.member, Routes({Route("198.18.5.0", 24, kLine2)}));
  EXPECT_EQ(replaced.replaced, 1);
  ASSERT_TRUE(monitor.Mark());
  EXPECT_EQ(QuillonRoutes(), Texts{"198.18.5.0/24 via 203.0.113.1"});
  for (const std::string& line : monitor.Since()) EXPECT_NE(line.rfind("Deleted", 0), 0u) << line;
  const Texts after = RouteTexts();
  EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const std::string& t) { return t.rfind("198.18.5.0/24", 0) == 0; }), 1);
}

TEST_F(NetnsHelper, ClearRemovesExactlyQuillonsRoutes) {
  IpOk({"route", "add", "198.18.5.0/24", "via", "192.0.2.1"});
  ASSERT_EQ(Apply(machine.member, Routes({Route("198.18.6.0", 24, kLine0), Route("10.0.0.0", 8, kLine1)})).added, 2);
  const std::vector<DefaultRoute> defaults = DefaultRoutes();
  RoutePlan clear;
  clear.clear = true;
  const RouteReport report = Apply(machine.member, clear);
  EXPECT_EQ(report.deleted, 2);
  EXPECT_EQ(QuillonRoutes(), Texts{});
  const Texts routes = RouteTexts();
  EXPECT_NE(std::find(routes.begin(), routes.end(), "198.18.5.0/24 via 192.0.2.1 dev v0 metric 0"), routes.end());
  EXPECT_EQ(DefaultRoutes(), defaults);
}

TEST_F(NetnsHelper, TheGlobalLineGivesExactlyTheDefaultRoutesOfThePlan) {
  RoutePlan plan;
  plan.replaceDefaults = true;
  plan.defaults = {{kLine1, 5}, {kLine2, 6}, {kLine0, 7}};
  const RouteReport report = Apply(machine.member, plan);
  EXPECT_EQ(report.outcome, Outcome::Done) << report.reason;
  EXPECT_EQ(report.deleted, 3);
  EXPECT_EQ(report.added, 3);
  EXPECT_EQ(DefaultRoutes(), (std::vector<DefaultRoute>{
                                 {"192.0.2.1", "v0", 7}, {"198.51.100.1", "v1", 5}, {"203.0.113.1", "v2", 6}}));
  EXPECT_EQ(QuillonRoutes(), (Texts{"default via 192.0.2.1", "default via 198.51.100.1", "default via 203.0.113.1"}));

  // No acceptable default route: the default routes stay.
  plan.defaults = {{Address("192.0.2.77"), 1}};
  const RouteReport refused = Apply(machine.member, plan);
  EXPECT_EQ(refused.refused, 2);
  EXPECT_EQ(DefaultRoutes().size(), 3u);
}

TEST_F(NetnsHelper, OneUserRoutesAtATime) {
  ASSERT_EQ(Apply(machine.member, Routes({Route("198.18.1.0", 24, kLine1)})).added, 1);
  const RouteReport busy = Apply(machine.second, Routes({Route("198.18.2.0", 24, kLine1)}));
  EXPECT_EQ(busy.outcome, Outcome::Busy);
  EXPECT_EQ(busy.reason.rfind("user qroute-a routes on this machine (its last route plan ", 0), 0u) << busy.reason;
  EXPECT_EQ(QuillonRoutes(), Texts{"198.18.1.0/24 via 198.51.100.1"});
  // The owner goes on; its clear ends the lease, and the other user routes.
  EXPECT_EQ(Apply(machine.member, Routes({Route("198.18.1.0", 24, kLine1)})).kept, 1);
  RoutePlan clear;
  clear.clear = true;
  EXPECT_EQ(Apply(machine.member, clear).deleted, 1);
  EXPECT_EQ(Apply(machine.second, Routes({Route("198.18.2.0", 24, kLine1)})).added, 1);
  EXPECT_EQ(QuillonRoutes(), Texts{"198.18.2.0/24 via 198.51.100.1"});
}

}  // namespace
}  // namespace quillon::netns
