// The client of the route helper against stand-ins (small scripts): what
// it makes of a helper that cannot be run, answers nonsense, answers too
// much, ends without an answer, or reads a large plan while it answers.
// The real helper is tested in tests/netns (helper_test.cpp).
#include "platform/posix/route_helper_client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quillon::platform {
namespace {

class RouteHelperClient : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-client-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Script(const std::string& name, const std::string& body, mode_t mode = 0755) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), mode);
    return path;
  }

  static RoutePlan Plan(std::size_t routes) {
    RoutePlan plan;
    for (std::size_t i = 0; i < routes; ++i)
      plan.routes.push_back({Prefix{0x0A000000u + static_cast<Ipv4>(i << 8), 24}, 0xC0000201u, false});
    return plan;
  }

  std::string dir_;
};

TEST_F(RouteHelperClient, AHelperTheUserMayNotRunIsNoRightsWithTheFix) {
  const RouteReport report = ApplyThroughHelper(Script("quillon-route", "exit 0\n", 0640), Plan(1));
  EXPECT_EQ(report.outcome, RouteReport::Outcome::NoRights);
  EXPECT_EQ(report.reason.rfind("you are not in the group ", 0), 0u) << report.reason;
  EXPECT_NE(report.reason.find(", then log in again"), std::string::npos) << report.reason;
}

TEST_F(RouteHelperClient, NoHelperNoAnswerAndNonsenseAreFailures) {
  setenv(kRouteHelperVariable, (dir_ + "/missing").c_str(), 1);
  RouteReport report = ApplyThroughHelper(Plan(1));
  unsetenv(kRouteHelperVariable);
  EXPECT_EQ(report.outcome, RouteReport::Outcome::Failed);
  EXPECT_NE(report.reason.find(dir_ + "/missing"), std::string::npos) << report.reason;

  report = ApplyThroughHelper(Script("ends", "exit 3\n"), Plan(1));
  EXPECT_EQ(report.outcome, RouteReport::Outcome::Failed);
  EXPECT_NE(report.reason.find("exit code 3"), std::string::npos) << report.reason;

  // The plan echoed back is no report.
  report = ApplyThroughHelper("/bin/cat", Plan(3));
  EXPECT_EQ(report.outcome, RouteReport::Outcome::Failed);
  EXPECT_NE(report.reason.find("malformed"), std::string::npos) << report.reason;
}

TEST_F(RouteHelperClient, ALargePlanGoesInWhileTheAnswerComesOut) {
  // Megabytes each way at once (more than a report may hold): neither side
  // may wait for the other.
  const RoutePlan large = Plan(80000);
  ASSERT_GT(WritePlan(large).size(), kReportMaxBytes);
  RouteReport report = ApplyThroughHelper("/bin/cat", large);
  EXPECT_EQ(report.outcome, RouteReport::Outcome::Failed);
  EXPECT_NE(report.reason.find("longer than"), std::string::npos) << report.reason;

  RouteReport answer;
  answer.kept = 20000;
  std::string text = WriteReport(answer);
  const std::string helper = Script("reads-all", "/bin/cat >/dev/null\nprintf '" + text + "'\n");
  report = ApplyThroughHelper(helper, Plan(20000));  // far more than a pipe holds
  EXPECT_EQ(report, answer) << report.reason;
}

}  // namespace
}  // namespace quillon::platform
