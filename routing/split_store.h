// The split store http.ini: one section per destination, named by it, with
// the keys xl (the line, a gateway text), zt (status: "1" enabled, anything
// else disabled) and bz (note). Read and written only through the INI
// services; no other key is ever written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/ui.h"

namespace quillon::routing {

struct SplitEntry {
  std::string destination;  // the section name
  std::string line;         // xl
  std::string status;       // zt
  std::string note;         // bz
  bool operator==(const SplitEntry&) const = default;
};

inline void PrintTo(const SplitEntry& e, std::ostream* os) {
  *os << "SplitEntry{\"" << e.destination << "\", xl=\"" << e.line << "\", zt=\"" << e.status << "\", bz=\""
      << e.note << "\"}";
}

inline constexpr char kEnabled[] = "1";
inline constexpr char kDisabled[] = "-1";

// Every section of the store in file order (a name the file holds twice is
// listed twice), with xl, zt and bz read in that order; missing keys read as
// empty texts. The section names are read once.
std::vector<SplitEntry> ReadSplitStore(platform::System& sys, const std::string& store);

// Writes xl, then bz, then zt into the entry's section (other keys of the
// section stay). True when all three writes succeeded.
bool WriteSplitEntry(platform::System& sys, const std::string& store, const SplitEntry& entry);

// The 分流设置 text: "开启" for the status "1" exactly, "关闭" for any other.
std::string StatusText(const std::string& status);

// The list's six columns.
enum Column { kNumberColumn = 0, kDestinationColumn, kLineColumn, kConnectionColumn, kStatusColumn, kNoteColumn };

// A row of the list: number, destination, line, connection name, status
// text, note.
platform::Row SplitRow(const std::string& number, const SplitEntry& entry, const std::string& connectionName);

}  // namespace quillon::routing
