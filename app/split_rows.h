// The rows of the split list as the window's list and the command line show
// them: number, destination, line, connection name, status text, note.
#pragma once

#include <string>
#include <vector>

#include "lines/lines.h"
#include "platform/ui.h"
#include "routing/split_store.h"

namespace quillon::app {

// The 分流设置 text: "开启" for the status "1" exactly, "关闭" for any other.
std::string StatusText(const std::string& status);

platform::Row SplitRow(const std::string& number, const routing::SplitEntry& entry, const std::string& connectionName);

// One row per entry, numbered from 1, with the connection name of each line.
platform::ListRows SplitRows(const std::vector<routing::SplitEntry>& entries, lines::LineDirectory& lines);

}  // namespace quillon::app
