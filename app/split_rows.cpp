#include "app/split_rows.h"

#include "app/messages.h"
#include "platform/text.h"

namespace quillon::app {

std::string StatusText(const std::string& status) { return status == routing::kEnabled ? kEnabledText : kDisabledText; }

platform::Row SplitRow(const std::string& number, const routing::SplitEntry& entry, const std::string& connectionName) {
  return {number, entry.destination, entry.line, connectionName, StatusText(entry.status), entry.note};
}

platform::ListRows SplitRows(const std::vector<routing::SplitEntry>& entries, lines::LineDirectory& lines) {
  platform::ListRows rows;
  rows.reserve(entries.size());
  for (const routing::SplitEntry& e : entries) {
    // The cells of SplitRow, with no row of strings made on the way.
    const std::string number = platform::ToText(static_cast<int>(rows.size()) + 1);
    const std::string connection = lines.ConnectionNameOf(e.line);
    rows.Append({number, e.destination, e.line, connection,
                 e.status == routing::kEnabled ? kEnabledText : kDisabledText, e.note});
  }
  return rows;
}

}  // namespace quillon::app
