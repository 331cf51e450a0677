// The route helper's work on the kernel's main routing table (netlink,
// NETLINK_ROUTE, its messages built and parsed here): what the table says
// before a plan, which requests of the plan the rules accept, and the
// changes that apply the accepted rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/route_plan.h"

namespace quillon::helper {

using platform::Ipv4;
using platform::Prefix;

// One IPv4 route of a table dump, as far as the helper looks at it.
struct TableRoute {
  Prefix destination;     // 0.0.0.0/0 for a default route
  std::uint32_t table = 0;
  std::uint8_t protocol = 0;
  std::uint8_t scope = 0;
  std::uint8_t type = 0;
  std::uint8_t tos = 0;
  std::uint32_t priority = 0;  // the metric
  int nexthops = 0;            // 0: none (a blackhole); more than 1: multipath
  Ipv4 gateway = 0;            // of a route of one next hop; 0: none
  // The route's message in the dump's blocks: sent back as a delete
  // request, it names exactly this route.
  std::uint32_t block = 0;
  std::uint32_t message = 0;
  std::uint32_t length = 0;
};

// The IPv4 routes of every table, read in one dump. A dump that the kernel
// reports as interrupted by a change is read again.
struct RouteDump {
  std::vector<TableRoute> routes;
  // The messages of the routes, one after the other, in blocks that are
  // never moved once filled.
  std::vector<std::string> blocks;
  std::string_view Message(const TableRoute& r) const { return std::string_view(blocks[r.block]).substr(r.message, r.length); }
};

// The machine as a plan finds it, read once before anything changes.
struct Machine {
  // The lines: every gateway of an IPv4 default route of the main table.
  std::vector<Ipv4> lines;
  // The networks of this machine's own IPv4 addresses: each address's
  // subnet, and its /24.
  std::vector<Prefix> ownNetworks;
  // The table as it was read for the above; a plan that changes no default
  // route finds its split routes in it.
  RouteDump table;
};

// False, with `reason`, when the table or the addresses cannot be read.
bool ReadMachine(Machine& machine, std::string& reason);

// Why the rules refuse a request (one line), or nothing when they accept
// it: a network of length 8..32 outside 0.x, 127.x and 224.x and above that
// overlaps none of the machine's own networks; a gateway that is a line;
// a default route's metric 1..9999.
std::string RouteRefusal(const platform::RouteRequest& request, const Machine& machine);
std::string DefaultRefusal(const platform::DefaultRouteRequest& request, const Machine& machine);

// Why the kernel refuses this helper's changes (it lacks cap_net_admin),
// with the command that gives it the right; one line.
std::string NoRightsReason();

// Applies the plan's accepted requests and counts what changed into
// `report`; a refused request adds one refusal line. Sets the outcome
// NoRights (and stops) when the kernel refuses for want of rights.
void ApplyPlan(const platform::RoutePlan& plan, Machine& machine, platform::RouteReport& report);

}  // namespace quillon::helper
