#include "platform/route_commands.h"

#include "platform/safety.h"

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

std::string DeletePrefixRouteCommand(const Prefix& prefix) {
  return DeleteNetworkRouteCommand(Ipv4Text(prefix.network)) + " mask " + MaskText(prefix.length);
}

std::string AddPrefixRouteCommand(const Prefix& prefix, const std::string& line) {
  return "cmd /C route add " + Ipv4Text(prefix.network) + " mask " + MaskText(prefix.length) + " " + line;
}

std::vector<std::string> RoutePlanCommands(const RoutePlan& plan) {
  std::vector<std::string> commands;
  for (const RouteRequest& r : plan.routes) {
    if (!IsRoutablePrefix(r.prefix) || (!r.prefixEntry && r.prefix.length != 24)) continue;
    const std::string line = IsGatewayAddress(r.gateway) ? Ipv4Text(r.gateway) : std::string();
    if (r.prefixEntry) {
      commands.push_back(DeletePrefixRouteCommand(r.prefix));
      if (!line.empty()) commands.push_back(AddPrefixRouteCommand(r.prefix, line));
    } else {
      const std::string network = Ipv4Text(r.prefix.network);
      commands.push_back(DeleteNetworkRouteCommand(network));
      if (!line.empty()) commands.push_back(AddNetworkRouteCommand(network, line));
    }
  }
  if (plan.replaceDefaults) commands.push_back(DeleteDefaultRoutesCommand());
  for (const DefaultRouteRequest& d : plan.defaults) {
    if (!IsGatewayAddress(d.gateway) || d.metric < 1 || d.metric > 9999) continue;
    commands.push_back(AddDefaultRouteCommand(Ipv4Text(d.gateway), std::to_string(d.metric)));
  }
  return commands;
}

std::string ConnectionNameRegistryPath(const std::string& adapterName) {
  return "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" +
         adapterName + "\\Connection\\Name";
}

}  // namespace quillon::platform
