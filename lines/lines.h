// Lines: the machine's adapters, the lookup of a line by its gateway, the
// details of a line, and the discovery of the gateways that form the lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/line_info.h"
#include "platform/system.h"

namespace quillon::lines {

using platform::LineInfo;

// The first adapter whose gateway equals `gateway` (byte for byte), with its
// connection name; when none matches, the last adapter of the list (with its
// connection name); when there are no adapters, an all-empty record.
LineInfo FindLineByGateway(platform::System& sys, const std::string& gateway);

// The adapter list read once, giving for any number of lines the connection
// name that FindLineByGateway would give (a reload of the split list asks for
// every row): one read of the adapters, and at most one connection-name read
// per adapter, made when first needed.
class LineDirectory {
 public:
  explicit LineDirectory(platform::System& sys);
  // FindLineByGateway(sys, gateway).ConnectionName, as of the construction.
  std::string ConnectionNameOf(const std::string& gateway);

 private:
  platform::System& sys_;
  std::vector<LineInfo> adapters_;
  std::vector<std::optional<std::string>> names_;
  std::unordered_map<std::string, std::size_t> firstByGateway_;
};

// The details of every adapter whose gateway is `gateway`, one five-line
// block each (gateway, local address, mask, connection name, description),
// run together; empty when none has it.
std::string LineDetails(platform::System& sys, const std::string& gateway);

// The gateways of the machine's lines, in the system's order (the line list).
std::vector<std::string> DiscoverGateways(platform::System& sys);

}  // namespace quillon::lines
