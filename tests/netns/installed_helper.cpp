#include "tests/netns/installed_helper.h"

#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

bool Run(const std::vector<std::string>& argv) {
  const ProgramRun run = RunProgram(argv);
  if (run.code != 0) ADD_FAILURE() << argv[0] << " failed (" << run.code << "): " << run.err;
  return run.code == 0;
}

bool MakeUser(const std::string& name, bool inGroup, TestUser& user) {
  std::vector<std::string> argv{"useradd", "-M", "-N", "-l", "-s", "/usr/sbin/nologin"};
  if (inGroup) argv.insert(argv.end(), {"-G", kRouteGroup});
  argv.push_back(name);
  if (!Run(argv)) return false;
  const passwd* entry = getpwnam(name.c_str());
  if (entry == nullptr) return false;
  user = TestUser{name, entry->pw_uid, entry->pw_gid, {}};
  int count = 32;
  user.groups.resize(static_cast<std::size_t>(count));
  if (getgrouplist(name.c_str(), user.gid, user.groups.data(), &count) < 0) return false;
  user.groups.resize(static_cast<std::size_t>(count));
  return true;
}

void Prepare(InstalledHelper& machine) {
  char pattern[] = "/tmp/quillon-helper-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  machine.directory = pattern;
  chmod(pattern, 0755);
  const std::string up = machine.directory + "/etc-up", work = machine.directory + "/etc-work";
  std::filesystem::create_directory(up);
  std::filesystem::create_directory(work);
  const std::string layers = "lowerdir=/etc,upperdir=" + up + ",workdir=" + work;
  ASSERT_EQ(mount("overlay", "/etc", "overlay", 0, layers.c_str()), 0) << "an overlay over /etc: " << std::strerror(errno);

  ASSERT_TRUE(Run({"groupadd", kRouteGroup}));
  ASSERT_TRUE(MakeUser("qroute-a", true, machine.member));
  ASSERT_TRUE(MakeUser("qroute-b", true, machine.second));
  ASSERT_TRUE(MakeUser("qroute-x", false, machine.outsider));
  const group* routers = getgrnam(kRouteGroup);
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

InstalledHelper& Machine() {
  static InstalledHelper machine;
  return machine;
}

class MachineCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (Machine().directory.empty()) return;
    umount2("/etc", MNT_DETACH);
    std::filesystem::remove_all(Machine().directory);
  }
};
[[maybe_unused]] ::testing::Environment* const cleanup = ::testing::AddGlobalTestEnvironment(new MachineCleanup);

}  // namespace

InstalledHelper& InstallHelper() {
  InstalledHelper& machine = Machine();
  // Never over the machine's own /etc and users.
  if (!machine.attempted && WhyNotInsideNamespace().empty()) {
    machine.attempted = true;
    Prepare(machine);
  }
  return machine;
}

int AsUser(const TestUser& user, int in, int out, const std::function<void()>& body) {
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

std::vector<std::string> AsUserCommand(const TestUser& user, std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"setpriv", "--reuid=" + std::to_string(user.uid), "--regid=" + std::to_string(user.gid),
                             "--init-groups", "--"});
  return argv;
}

std::vector<std::string> QuillonRoutes() {
  Json all;
  const IpResult r = Ip({"-j", "-4", "route", "show", "table", "main", "proto", "77"});
  EXPECT_TRUE(r.ok && ParseJson(r.out, all)) << r.out;
  std::vector<std::string> out;
  for (const Json& route : all.items) {
    const Json* dst = route.Find("dst");
    const Json* gateway = route.Find("gateway");
    out.push_back((dst ? dst->text : "?") + " via " + (gateway ? gateway->text : "-"));
  }
  std::sort(out.begin(), out.end());
  return out;
}

void InstalledHelperTest::SetUp() {
  QUILLON_REQUIRE_NAMESPACE();
  ASSERT_TRUE(machine.ready) << "the test users or the helper could not be made";
  RestoreBaseline();
  unlink("/run/quillon/owner");  // nobody routes
}

}  // namespace quillon::netns
