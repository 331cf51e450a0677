// A route plan: what a pass over the split list, the global line or a clear
// asks of the routing table, and what came of it. On Linux a plan travels
// to the route helper (helper/) in a small, versioned line format with hard
// limits; the Windows backend turns it into the route commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipv4.h"

namespace quillon::platform {

// The routing protocol number that marks the routes Quillon makes (named
// "quillon" in /etc/iproute2/rt_protos.d/quillon.conf of the package).
inline constexpr int kRouteProtocol = 77;

// One network's route. Requests for the same prefix: the last one decides.
struct RouteRequest {
  Prefix prefix;
  // The line (a gateway) the prefix goes through; 0: Quillon's routes to
  // the prefix go, and nobody else's.
  Ipv4 gateway = 0;
  // Made for a prefix entry (A.B.C.D/N): the Windows commands then name the
  // mask in the delete too. A /24 of an answer address keeps the commands
  // "route delete N" and "route add N mask 255.255.255.0 G".
  bool prefixEntry = false;
  bool operator==(const RouteRequest&) const = default;
};

// A default route (0.0.0.0/0) through a line, with its metric.
struct DefaultRouteRequest {
  Ipv4 gateway = 0;
  std::uint32_t metric = 0;  // 1..9999
  bool operator==(const DefaultRouteRequest&) const = default;
};

struct RoutePlan {
  std::vector<RouteRequest> routes;  // in order
  // Every IPv4 default route of the main table goes before `defaults` are
  // added (the global line); otherwise they are added beside those there.
  bool replaceDefaults = false;
  std::vector<DefaultRouteRequest> defaults;  // in order
  // Every route that carries kRouteProtocol goes, and nothing else.
  bool clear = false;
  bool operator==(const RoutePlan&) const = default;
};

// What the routing table made of a plan.
struct RouteReport {
  int added = 0;     // routes added where the prefix had none
  int replaced = 0;  // routes put in place of others
  int deleted = 0;   // routes removed
  int kept = 0;      // prefixes whose route was already right
  int refused = 0;   // requests refused one by one (see `refusals`)
  // One line per refused request: what it was and why.
  std::vector<std::string> refusals;
  // The whole plan was refused and nothing changed: `reason` says why in one
  // line, and how to fix it where the user can.
  enum class Outcome { Done, NoRights, Busy, Failed } outcome = Outcome::Done;
  std::string reason;
  bool operator==(const RouteReport&) const = default;
};

// Limits of the line format: a plan over them is refused whole.
inline constexpr std::size_t kPlanMaxBytes = 32u << 20;
inline constexpr std::size_t kPlanMaxRoutes = 1u << 20;
inline constexpr std::size_t kPlanMaxDefaults = 256;

// The plan as the helper reads it on its standard input.
std::string WritePlan(const RoutePlan& plan);
// False, with `reason` (one line), for text that is not a whole plan of this
// version within the limits; `plan` is then unspecified.
bool ReadPlan(std::string_view text, RoutePlan& plan, std::string& reason);

// The report as the helper writes it on its standard output.
std::string WriteReport(const RouteReport& report);
bool ReadReport(std::string_view text, RouteReport& report, std::string& reason);

}  // namespace quillon::platform
