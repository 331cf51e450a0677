#include "lines/lines.h"

namespace quillon::lines {

LineInfo FindLineByGateway(platform::System& sys, const std::string& gateway) {
  LineInfo current;
  for (const LineInfo& adapter : sys.ListAdapters()) {
    current = adapter;
    current.ConnectionName = sys.ConnectionName(adapter.AdapterName);
    if (current.Gateway == gateway) return current;
  }
  // No match: the last adapter visited (or the empty record) is the answer.
  return current;
}

LineDirectory::LineDirectory(platform::System& sys)
    : sys_(sys), adapters_(sys.ListAdapters()), names_(adapters_.size()) {
  for (std::size_t i = 0; i < adapters_.size(); ++i) firstByGateway_.emplace(adapters_[i].Gateway, i);
}

std::string LineDirectory::ConnectionNameOf(const std::string& gateway) {
  if (adapters_.empty()) return {};
  const auto it = firstByGateway_.find(gateway);
  // No match: the last adapter, as FindLineByGateway answers.
  const std::size_t i = it == firstByGateway_.end() ? adapters_.size() - 1 : it->second;
  if (!names_[i]) names_[i] = sys_.ConnectionName(adapters_[i].AdapterName);
  return *names_[i];
}

std::string LineDetails(platform::System& sys, const std::string& gateway) {
  std::string details;
  for (const LineInfo& adapter : sys.ListAdapters()) {
    if (adapter.Gateway != gateway) continue;
    // Every block names the connection of the first adapter with this
    // gateway, as the lookup by gateway finds it.
    const LineInfo line = FindLineByGateway(sys, gateway);
    details += "网关IP：" + adapter.Gateway + "\r\n本地IP：" + adapter.IpAddress + "\r\n子网掩码：" +
               adapter.SubnetMask + "\r\n线路名称：" + line.ConnectionName + "\r\n线路描述：" +
               adapter.Description;
  }
  return details;
}

std::vector<std::string> DiscoverGateways(platform::System& sys) {
  return platform::TextSplit(sys.DiscoverGatewayText(), ";");
}

}  // namespace quillon::lines
