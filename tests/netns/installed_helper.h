// The route helper as the package installs it, for tests that run as root in
// the namespace of netns-run.sh: a copy of the built quillon-route,
// root:GROUP 0750 with cap_net_admin+ep (a file capability works in any
// network namespace of the initial user namespace), its lock directory in
// /run, and test users in and outside GROUP. The users and their group are
// made with groupadd/useradd in an overlay over /etc of this test's mount
// namespace, and vanish with it, as does its /run (netns-run.sh).
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quillon::netns {

// The group that may run the helper copy.
inline constexpr char kRouteGroup[] = "qroute-users";

struct TestUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

struct InstalledHelper {
  bool attempted = false;
  bool ready = false;
  std::string directory;  // the helper copy and the overlay's layers; mode 0755
  std::string helper;     // the helper copy
  TestUser member, second, outsider;  // qroute-a and qroute-b in the group, qroute-x not
};

// The one installed helper of this test program: made by the first call
// inside the namespace (failures are reported to the running test), then
// the same each time; outside the namespace nothing is made (not ready).
// Removed when the program ends.
InstalledHelper& InstallHelper();

// A test of the installed helper: in the namespace, with the machine as
// the baseline leaves it and nobody holding the routing lease.
class InstalledHelperTest : public ::testing::Test {
 protected:
  const InstalledHelper& machine = InstallHelper();
  void SetUp() override;
};

// Runs `body` in a child process as `user` (its groups, gid and uid), with
// standard input and output from `in` and `out` when they are >= 0; the
// child's exit code (126: the switch failed, -1: killed).
int AsUser(const TestUser& user, int in, int out, const std::function<void()>& body);

// The argument vector that runs `argv` as `user` through setpriv, with
// the user's groups.
std::vector<std::string> AsUserCommand(const TestUser& user, std::vector<std::string> argv);

// Quillon's routes (protocol 77) of the main table, as "DST via GW", sorted.
std::vector<std::string> QuillonRoutes();

}  // namespace quillon::netns
