#include "platform/route_plan.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace quillon::platform {
namespace {

constexpr Ipv4 kLine = 0xC6336401u;  // 198.51.100.1

RoutePlan SamplePlan() {
  RoutePlan plan;
  plan.clear = true;
  plan.replaceDefaults = true;
  plan.defaults = {{0xCB007101u, 10}, {kLine, 9999}};
  plan.routes = {{Prefix{0xC6120100u, 24}, kLine, false},
                 {Prefix{0x24000000u, 10}, 0xC0000201u, true},
                 {Prefix{0xC6120700u, 24}, 0, false},
                 {Prefix{0x01020304u, 32}, 0, true}};
  return plan;
}

bool Reads(const std::string& text, std::string* why = nullptr) {
  RoutePlan plan;
  std::string reason;
  const bool ok = ReadPlan(text, plan, reason);
  EXPECT_TRUE(ok || (!reason.empty() && reason.find('\n') == std::string::npos)) << reason;
  if (why) *why = reason;
  return ok;
}

TEST(RoutePlan, TheWrittenPlanReadsBackTheSame) {
  const std::string text = WritePlan(SamplePlan());
  EXPECT_EQ(text,
            "quillon-route-plan 1\nclear\nreplace-defaults\ndefault 203.0.113.1 metric 10\n"
            "default 198.51.100.1 metric 9999\nroute 198.18.1.0/24 via 198.51.100.1\n"
            "route 36.0.0.0/10 via 192.0.2.1 entry\nroute 198.18.7.0/24 remove\n"
            "route 1.2.3.4/32 remove entry\nend\n");
  RoutePlan back;
  std::string reason;
  ASSERT_TRUE(ReadPlan(text, back, reason)) << reason;
  EXPECT_EQ(back, SamplePlan());
  ASSERT_TRUE(ReadPlan(WritePlan(RoutePlan{}), back, reason)) << reason;
  EXPECT_EQ(back, RoutePlan{});
  // What the format takes and the helper's rule refuses: /0, metric 0.
  EXPECT_TRUE(Reads("quillon-route-plan 1\ndefault 0.0.0.0 metric 0\nroute 0.0.0.0/0 via 10.0.0.1\nend\n"));
}

TEST(RoutePlan, EveryCutOfAPlanIsRefused) {
  const std::string text = WritePlan(SamplePlan());
  for (std::size_t n = 0; n < text.size(); ++n) EXPECT_FALSE(Reads(text.substr(0, n))) << n;
  std::string why;
  EXPECT_FALSE(Reads(text.substr(0, text.rfind("end")), &why));
  EXPECT_NE(why.find("cut short"), std::string::npos) << why;
}

TEST(RoutePlan, AnythingButTheExactFormatIsRefused) {
  const std::string head = "quillon-route-plan 1\n";
  for (const std::string& body : std::initializer_list<std::string>{
           "route 198.18.1.0/24 via 198.51.100.1\r\n",    // CR
           "\n",                                          // blank line
           "route  198.18.1.0/24 via 198.51.100.1\n",     // two blanks
           "route 198.18.1.0/24 via 198.51.100.1 \n",     // trailing blank
           "route\t198.18.1.0/24 via 198.51.100.1\n",
           "route 198.18.1.1/24 via 198.51.100.1\n",      // host bits
           "route 198.18.1.0/33 via 198.51.100.1\n",
           "route 198.18.1.0/024 via 198.51.100.1\n",
           "route 198.18.01.0/24 via 198.51.100.1\n",
           "route 198.18.1.0/24 via 0.0.0.0\n",           // spelt "remove"
           "route 198.18.1.0/24 via\n",
           "route 198.18.1.0/24 remove now\n",
           "route 198.18.1.0/24 via 198.51.100.1 entry entry\n",
           "ROUTE 198.18.1.0/24 remove\n",
           "default 198.51.100.1 metric 010\n",
           "default 198.51.100.1 metric 4294967296\n",
           "default 198.51.100.1\n",
           "route 198.18.1.0/24 remove\ndefault 198.51.100.1 metric 1\n",  // out of order
           "replace-defaults\nclear\n",
           "clear\nclear\n",
           std::string("clear\0\n", 7),
       }) {
    EXPECT_FALSE(Reads(head + body + "end\n")) << body;
  }
  for (const std::string& whole : std::initializer_list<std::string>{"", "quillon-route-plan 2\nend\n", "quillon-route-plan 1\r\nend\n",
                                  "quillon-route-plan 1\nend\nend\n", "quillon-route-plan 1\nend\n\n",
                                  "quillon-route-plan 1\nend", "\xEF\xBB\xBFquillon-route-plan 1\nend\n"}) {
    EXPECT_FALSE(Reads(whole)) << whole;
  }
}

TEST(RoutePlan, EachLimitIsKept) {
  std::string why;
  // Bytes: refused before it is read.
  EXPECT_FALSE(Reads(std::string(kPlanMaxBytes + 1, 'x'), &why));
  EXPECT_NE(why.find("longer than"), std::string::npos) << why;
  // One line.
  EXPECT_FALSE(Reads("quillon-route-plan 1\nroute " + std::string(kPlanMaxLine, '1') + "\nend\n", &why));
  EXPECT_NE(why.find("longer than"), std::string::npos) << why;
  // Default routes.
  std::string defaults = "quillon-route-plan 1\n";
  for (std::size_t i = 0; i < kPlanMaxDefaults; ++i) defaults += "default 192.0.2.1 metric " + std::to_string(i + 1) + "\n";
  EXPECT_TRUE(Reads(defaults + "end\n"));
  EXPECT_FALSE(Reads(defaults + "default 192.0.2.1 metric 1\nend\n", &why));
  EXPECT_NE(why.find("more than"), std::string::npos) << why;
  // Routes: the shortest request, once more than the limit allows; the
  // refusal names that line (the header is line 1), so every route before
  // it was taken.
  const std::string line = "route 1.0.0.0/8 remove\n";
  std::string block;
  for (int i = 0; i < 1024; ++i) block += line;
  std::string routes = "quillon-route-plan 1\n";
  routes.reserve(routes.size() + (kPlanMaxRoutes + 1) * line.size() + 4);
  for (std::size_t i = 0; i < kPlanMaxRoutes / 1024; ++i) routes += block;
  EXPECT_FALSE(Reads(routes + line + "end\n", &why));
  EXPECT_EQ(why, "line " + std::to_string(kPlanMaxRoutes + 2) + ": more than " + std::to_string(kPlanMaxRoutes) + " routes");
}

TEST(RouteReport, TheWrittenReportReadsBackTheSame) {
  RouteReport report;
  report.added = 3;
  report.replaced = 1;
  report.deleted = 2;
  report.kept = 2147483647;
  report.refused = 2;
  report.refusals = {"route 2.0.0.0/7 via 192.0.2.1: the prefix is shorter than /8", "线路 电信: non-ASCII bytes"};
  report.outcome = RouteReport::Outcome::Busy;
  report.reason = "user alice routes now";
  const std::string text = WriteReport(report);
  RouteReport back;
  std::string reason;
  ASSERT_TRUE(ReadReport(text, back, reason)) << reason;
  EXPECT_EQ(back, report);
  ASSERT_TRUE(ReadReport(WriteReport(RouteReport{}), back, reason)) << reason;
  EXPECT_EQ(back, RouteReport{});

  // A control character cannot break a line; the refusals are capped.
  report.reason = "two\nlines";
  report.refusals.assign(kReportMaxRefusals + 5, "x");
  ASSERT_TRUE(ReadReport(WriteReport(report), back, reason)) << reason;
  EXPECT_EQ(back.reason, "two?lines");
  EXPECT_EQ(back.refusals.size(), kReportMaxRefusals);
}

TEST(RouteReport, AnythingButTheExactFormatIsRefused) {
  const std::string good = WriteReport(RouteReport{});
  RouteReport report;
  std::string reason;
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(ReadReport(good.substr(0, n), report, reason)) << n;
  for (const std::string& bad : std::initializer_list<std::string>{
           "quillon-route-report 1\noutcome fine\nadded 0\nreplaced 0\ndeleted 0\nkept 0\nrefused 0\nreason\nend\n",
           "quillon-route-report 1\noutcome done\nadded -1\nreplaced 0\ndeleted 0\nkept 0\nrefused 0\nreason\nend\n",
           "quillon-route-report 1\noutcome done\nadded 0\nreplaced 0\ndeleted 0\nkept 2147483648\nrefused 0\nreason\nend\n",
           "quillon-route-report 1\noutcome done\nreplaced 0\nadded 0\ndeleted 0\nkept 0\nrefused 0\nreason\nend\n",
           "quillon-route-report 1\noutcome done\nadded 0\nreplaced 0\ndeleted 0\nkept 0\nrefused 0\nend\n",
           "quillon-route-report 1\noutcome done\nadded 0\nreplaced 0\ndeleted 0\nkept 0\nrefused 0\nreason\nrefusal x\nend\n",
           "quillon-route-report 1\noutcome done\nadded 0\nreplaced 0\ndeleted 0\nkept 0\nrefused 0\nreason \nend\n",
           "quillon-route-report 1\noutcome done\nadded 0\nreplaced 0\ndeleted 0\nkept 0\nrefused 0\nrefusal a\tb\nreason\nend\n",
       }) {
    EXPECT_FALSE(ReadReport(bad, report, reason)) << bad;
  }
}

}  // namespace
}  // namespace quillon::platform
