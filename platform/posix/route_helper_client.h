// The Linux side of applying a route plan: the program holds no right to
// change routes; it hands the plan to the route helper quillon-route (the
// one program installed with cap_net_admin, root:quillon 0750) and reads
// its report.
#pragma once

#include <string>
#include <vector>

#include "platform/route_plan.h"

namespace quillon::platform {

// The environment variable that names the helper, for programs that run
// from elsewhere in a build tree (tests). The helper gains no right from
// it: it runs as the user, with the rights its file gives it.
inline constexpr char kRouteHelperVariable[] = "QUILLON_ROUTE_HELPER";
// How long a helper may take to answer before it is stopped.
inline constexpr int kRouteHelperSeconds = 120;

// The helper's path: QUILLON_ROUTE_HELPER when it is set (and not empty);
// else, beside the running program (/proc/self/exe, in DIR/PROGRAM),
// DIR/../lib/quillon/quillon-route (an installed or unpacked package) or
// DIR/../helper/quillon-route (the build tree: app/quillon and
// helper/quillon-route). Empty when there is none; `looked` gets the
// places tried.
std::string FindRouteHelper(std::vector<std::string>* looked = nullptr);

// Starts the helper (no shell, an empty environment), writes the plan to
// its standard input while it reads the report from its standard output,
// and waits for it, at most kRouteHelperSeconds. Every failure is a report:
// no helper, a helper that does not answer, ends without a report or
// answers with a malformed one: Failed; a helper the user may not run
// (not in its group): NoRights, "you are not in the group quillon: sudo
// adduser USER quillon, then log in again".
RouteReport ApplyThroughHelper(const RoutePlan& plan);

// The same with the helper at `helper`.
RouteReport ApplyThroughHelper(const std::string& helper, const RoutePlan& plan);

}  // namespace quillon::platform
