// The route helper as it is installed (tests/netns/installed_helper.h):
// the client and raw bytes, run by test users inside the namespace of
// netns-run.sh.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/route_helper_client.h"
#include "platform/route_plan.h"
#include "tests/netns/installed_helper.h"
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

class NetnsHelper : public InstalledHelperTest {
 protected:

  // The plan through the client, as `user` (the helper named by
  // QUILLON_ROUTE_HELPER).
  RouteReport Apply(const TestUser& user, const RoutePlan& plan) {
    return Collect(user, -1, [&] {
      setenv(platform::kRouteHelperVariable, machine.helper.c_str(), 1);
      const std::string text = platform::WriteReport(platform::ApplyThroughHelper(plan));
      if (write(1, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(1);
    });
  }

  // Any bytes straight to the helper, as `user`.
  RouteReport Send(const TestUser& user, const std::string& bytes) {
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

  RouteReport Collect(const TestUser& user, int in, const std::function<void()>& body) {
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
