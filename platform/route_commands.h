// The exact Windows command lines for the default routes and the registry
// path of a connection name. Plain text functions, the same on every build,
// so their bytes are tested everywhere; only the Windows backend runs them.
#pragma once

#include <string>

namespace quillon::platform {

// "cmd /C route delete 0.0.0.0": removes the default routes of every gateway.
std::string DeleteDefaultRoutesCommand();

// The prefix of every default-route command: 39 characters, two blanks after
// "add" and one at the end.
inline constexpr char kAddDefaultRoutePrefix[] = "cmd /C route add  0.0.0.0 mask 0.0.0.0 ";

// kAddDefaultRoutePrefix + gateway + " metric " + metric. Both texts go in
// whole, as given (a stored metric such as "120abc" is not trimmed).
std::string AddDefaultRouteCommand(const std::string& gateway, const std::string& metric);

// The registry path (key path, a backslash, the value name) of the connection
// name of the adapter with this AdapterName.
std::string ConnectionNameRegistryPath(const std::string& adapterName);

}  // namespace quillon::platform
