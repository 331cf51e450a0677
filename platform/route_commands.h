// The exact Windows command lines for lookups, network routes and default
// routes, and the registry path of a connection name. Plain text functions, the same on every build,
// so their bytes are tested everywhere; only the Windows backend runs them.
#pragma once

#include <string>
#include <vector>

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

// An answer as the lookup tool prints it: "名称:    " and the name, then
// "Address:  " and the address, or "Addresses:  " and each address on a line
// of its own. Used where the system has no such tool: the answer rules read
// it like the tool's own output.
std::string LookupAnswerText(const std::string& name, const std::vector<std::string>& addresses);

// The registry path (key path, a backslash, the value name) of the connection
// name of the adapter with this AdapterName.
std::string ConnectionNameRegistryPath(const std::string& adapterName);

}  // namespace quillon::platform
