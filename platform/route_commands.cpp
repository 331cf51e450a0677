#include "platform/route_commands.h"

namespace quillon::platform {

std::string DeleteDefaultRoutesCommand() { return "cmd /C route delete 0.0.0.0"; }

std::string AddDefaultRouteCommand(const std::string& gateway, const std::string& metric) {
  return kAddDefaultRoutePrefix + gateway + " metric " + metric;
}

std::string ConnectionNameRegistryPath(const std::string& adapterName) {
  return "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" +
         adapterName + "\\Connection\\Name";
}

}  // namespace quillon::platform
