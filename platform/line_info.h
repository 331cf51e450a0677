// One network adapter as the system reports it. A line is known by the text
// of its gateway.
#pragma once

#include <ostream>
#include <string>

namespace quillon::platform {

struct LineInfo {
  std::string AdapterName;     // system name (a GUID in braces on Windows, the interface name on Linux)
  std::string Description;     // 线路描述
  std::string ConnectionName;  // 线路名称; filled only by FindLineByGateway
  std::string IpAddress;       // 本地IP: first IPv4 address
  std::string SubnetMask;      // 子网掩码: that address's mask, dotted
  std::string Gateway;         // 网关IP: first default gateway; the line's identity

  bool operator==(const LineInfo&) const = default;
};

inline void PrintTo(const LineInfo& l, std::ostream* os) {
  *os << "LineInfo{name=\"" << l.AdapterName << "\", desc=\"" << l.Description << "\", conn=\""
      << l.ConnectionName << "\", ip=\"" << l.IpAddress << "\", mask=\"" << l.SubnetMask
      << "\", gw=\"" << l.Gateway << "\"}";
}

}  // namespace quillon::platform
