// The route plan and report formats (platform/route_plan) on arbitrary
// bytes: the route helper reads a plan from any member of its group, the
// client reads the helper's report.
//
// Input: the text, read once as a plan and once as a report. Invariants: a
// text that reads is exactly what the writer writes for what was read (the
// formats have one spelling); a refusal has a reason of one line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/route_plan.h"

namespace {

using namespace quillon::platform;

[[noreturn]] void Fail(const char* what, int line) {
  std::fprintf(stderr, "fuzz_plan: invariant failed at line %d: %s\n", line, what);
  std::abort();
}
#define CHECK(condition) \
  do {                   \
    if (!(condition)) Fail(#condition, __LINE__); \
  } while (0)

bool OneLine(const std::string& reason) { return !reason.empty() && reason.find('\n') == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string reason;
  RoutePlan plan;
  if (ReadPlan(text, plan, reason)) {
    CHECK(WritePlan(plan) == text);
    CHECK(plan.routes.size() <= kPlanMaxRoutes && plan.defaults.size() <= kPlanMaxDefaults);
  } else {
    CHECK(OneLine(reason));
  }
  reason.clear();
  RouteReport report;
  if (ReadReport(text, report, reason)) {
    CHECK(WriteReport(report) == text);
    CHECK(report.refusals.size() <= kReportMaxRefusals);
  } else {
    CHECK(OneLine(reason));
  }
  return 0;
}
