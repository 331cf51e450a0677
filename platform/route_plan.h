// A route plan: what a pass over the split list, the global line or a clear
// asks of the routing table, and what came of it. On Linux a plan travels
// to the route helper (helper/) in a small, versioned line format with hard
// limits; the Windows backend turns it into the route commands.
#pragma once

#include <cstddef>
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
  // One line per refused request: what it was and why (at most
  // kReportMaxRefusals lines; `refused` counts them all).
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
// The longest line of a plan, without its line feed (the longest request,
// "route 255.255.255.255/32 via 255.255.255.255 entry", has 50 bytes).
inline constexpr std::size_t kPlanMaxLine = 64;
// A report holds at most this many refusal lines, each at most
// kReportMaxLine bytes, and at most kReportMaxBytes in all.
inline constexpr std::size_t kReportMaxRefusals = 1000;
inline constexpr std::size_t kReportMaxLine = 1024;
inline constexpr std::size_t kReportMaxBytes = 2u << 20;

// The plan as the helper reads it on its standard input. Every line ends
// with a line feed; the lines come in this order:
//
//   quillon-route-plan 1                    the format and its version
//   clear                                   at most once
//   replace-defaults                        at most once
//   default 203.0.113.1 metric 10           0..kPlanMaxDefaults
//   route 198.18.1.0/24 via 198.51.100.1    0..kPlanMaxRoutes, in order;
//   route 36.0.0.0/10 via 192.0.2.1 entry   "entry": a prefix entry's;
//   route 198.18.7.0/24 remove              "remove": gateway 0
//   end                                     nothing may follow
//
// Addresses are dotted without leading zeros, a route's network has no
// host bit set (its length 0..32), a metric is a decimal number without
// leading zeros that fits 32 bits. The format takes any address or metric
// of that form: which gateways, networks and metrics may reach the table
// is the helper's rule, which refuses them one request at a time.
// WritePlan's text is the only text ReadPlan takes for a plan; a plan
// whose prefix has a host bit set or a length over 32 is written as it is
// and refused whole by the reader.
std::string WritePlan(const RoutePlan& plan);
// False, with `reason` (one line), for text that is not a whole plan of this
// version within the limits; `plan` is then unspecified.
bool ReadPlan(std::string_view text, RoutePlan& plan, std::string& reason);

// The report as the helper writes it on its standard output:
//
//   quillon-route-report 1
//   outcome done                            done, no-rights, busy or failed
//   added 1
//   replaced 0
//   deleted 2
//   kept 40
//   refused 1
//   refusal route 2.0.0.0/7 via 192.0.2.1: ...   0..kReportMaxRefusals
//   reason                                  "reason TEXT" when there is one
//   end
//
// Counts are decimal 0..2147483647 without leading zeros; a text holds no
// control character. WriteReport puts '?' for a control character, cuts a
// line at kReportMaxLine bytes and writes the first kReportMaxRefusals
// refusals.
std::string WriteReport(const RouteReport& report);
bool ReadReport(std::string_view text, RouteReport& report, std::string& reason);

}  // namespace quillon::platform
