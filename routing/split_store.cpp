#include "routing/split_store.h"

namespace quillon::routing {

std::vector<SplitEntry> ReadSplitStore(platform::System& sys, const std::string& store) {
  std::vector<SplitEntry> entries;
  for (std::string& name : sys.IniSections(store)) {
    SplitEntry e;
    e.line = sys.IniRead(store, name, "xl");
    e.status = sys.IniRead(store, name, "zt");
    e.note = sys.IniRead(store, name, "bz");
    e.destination = std::move(name);
    entries.push_back(std::move(e));
  }
  return entries;
}

bool WriteSplitEntry(platform::System& sys, const std::string& store, const SplitEntry& entry) {
  const bool line = sys.IniWrite(store, entry.destination, "xl", entry.line);
  const bool note = sys.IniWrite(store, entry.destination, "bz", entry.note);
  const bool status = sys.IniWrite(store, entry.destination, "zt", entry.status);
  return line && note && status;
}

std::string StatusText(const std::string& status) { return status == kEnabled ? "开启" : "关闭"; }

platform::Row SplitRow(const std::string& number, const SplitEntry& entry, const std::string& connectionName) {
  return {number, entry.destination, entry.line, connectionName, StatusText(entry.status), entry.note};
}

}  // namespace quillon::routing
