// The exact Windows command lines for lookups, network routes and default
// routes, and the registry path of a connection name. Plain text functions, the same on every build,
// so their bytes are tested everywhere; only the Windows backend runs them.
#pragma once

#include <string>
#include <vector>

#include "platform/route_plan.h"

namespace quillon::platform {

// "cmd /C route delete 0.0.0.0": removes the default routes of every gateway.
std::string DeleteDefaultRoutesCommand();

// The prefix of every default-route command: 39 characters, two blanks after
// "add" and one at the end.
inline constexpr char kAddDefaultRoutePrefix[] = "cmd /C route add  0.0.0.0 mask 0.0.0.0 ";

// kAddDefaultRoutePrefix + gateway + " metric " + metric. Both texts go in
// whole, as given (a stored metric such as "120abc" is not trimmed).
std::string AddDefaultRouteCommand(const std::string& gateway, const std::string& metric);

// "cmd /C nslookup " + destination + " >\"" + logPath: the lookup's output
// goes to the resolve log. The quotation mark before the path is not closed;
// the command interpreter takes the rest of the line as the path.
std::string LookupCommand(const std::string& destination, const std::string& logPath);

// "cmd /C route delete " + network: removes every route to the network.
std::string DeleteNetworkRouteCommand(const std::string& network);

// "cmd /C route add " + network + " mask 255.255.255.0 " + line.
std::string AddNetworkRouteCommand(const std::string& network, const std::string& line);

// A prefix entry's commands: the same shape with the prefix's own mask,
// "cmd /C route delete A.B.C.D mask M" and
// "cmd /C route add A.B.C.D mask M " + line.
std::string DeletePrefixRouteCommand(const Prefix& prefix);
std::string AddPrefixRouteCommand(const Prefix& prefix, const std::string& line);

// The command lines of a plan, in the order they run: per route request its
// delete, then its add when it names a line; then the default routes' delete
// (when the plan replaces them) and one add per default route. Requests that
// fail the safety rules give no command.
std::vector<std::string> RoutePlanCommands(const RoutePlan& plan);

// The registry path (key path, a backslash, the value name) of the connection
// name of the adapter with this AdapterName.
std::string ConnectionNameRegistryPath(const std::string& adapterName);

}  // namespace quillon::platform
