#include "platform/route_commands.h"

namespace quillon::platform {

std::string DeleteDefaultRoutesCommand() { return "cmd /C route delete 0.0.0.0"; }

std::string AddDefaultRouteCommand(const std::string& gateway, const std::string& metric) {
  return kAddDefaultRoutePrefix + gateway + " metric " + metric;
}

std::string LookupCommand(const std::string& destination, const std::string& logPath) {
  return "cmd /C nslookup " + destination + " >\"" + logPath;
}

std::string DeleteNetworkRouteCommand(const std::string& network) { return "cmd /C route delete " + network; }

std::string AddNetworkRouteCommand(const std::string& network, const std::string& line) {
  return "cmd /C route add " + network + " mask 255.255.255.0 " + line;
}

std::string LookupAnswerText(const std::string& name, const std::vector<std::string>& addresses) {
  if (addresses.empty()) return {};
  std::string text = "名称:    " + name + "\n";
  text += addresses.size() == 1 ? "Address:  " : "Addresses:  ";
  for (std::size_t i = 0; i < addresses.size(); ++i) text += (i == 0 ? "" : "\t  ") + addresses[i] + "\n";
  return text;
}

std::string ConnectionNameRegistryPath(const std::string& adapterName) {
  return "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" +
         adapterName + "\\Connection\\Name";
}

}  // namespace quillon::platform
