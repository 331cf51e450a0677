// The split store http.ini: one section per destination, named by it, with
// the keys xl (the line, a gateway text), zt (status: "1" enabled, anything
// else disabled) and bz (note). Prepared split files that others make have
// the same layout, plus wz, which marks a layout this version does not take.
// This file is the one place that knows those keys.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/system.h"

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

// One section of a file in the split store's layout, as it stands in the file.
struct StoredSection {
  SplitEntry entry;
  bool otherLayout = false;  // wz holds a value: a layout this version does not take
};

// A file in the split store's layout: the store itself, or a prepared split
// file. Reads take the values the INI services give (a name the file holds
// twice reads the first section's values); writes go key by key in the
// order xl, bz, zt.
//
// A view that follows the store (the window's list) hands each change a
// `then`: it runs once the change has succeeded, before any other change or
// read through this object can start, so the view sees the changes in the
// order the store saw them.
class SplitStore {
 public:
  using Then = std::function<void()>;

  SplitStore(platform::System& sys, std::string path);
  // The split store of the config directory.
  static SplitStore Main(platform::System& sys);

  const std::string& Path() const { return path_; }
  // Counts the changes made through this object: equal numbers, no change
  // through it in between (another object or process may still have
  // written the file).
  std::uint64_t Revision() const { return revision_; }
  // What the file's bytes are now, in a few numbers: equal digests, the
  // same bytes (short of a 128-bit coincidence). A file that cannot be
  // read has the digest of no bytes.
  struct Digest {
    std::uint64_t size = 0, first = 0, second = 0;
    bool operator==(const Digest&) const = default;
  };
  Digest FileDigest();

  // Each destination once, in file order: the first section of a name wins.
  // `then`, when given, receives the entries under the store's lock.
  std::vector<SplitEntry> Entries(const std::function<void(const std::vector<SplitEntry>&)>& then = {});
  // Every section in file order, a name as often as the file holds it.
  std::vector<StoredSection> Sections();
  // The destinations the file holds now.
  std::vector<std::string> Names();

  // xl, bz, zt into the entry's section (other keys of the section stay).
  // True when all three were written.
  bool Write(const SplitEntry& entry, const Then& then = {});
  // The entries as one batch (one replacement of the file where the system
  // can); which of them were written whole. `then` gets the same answer.
  std::vector<bool> WriteAll(const std::vector<SplitEntry>& entries,
                             const std::function<void(const std::vector<bool>&)>& then = {});
  bool SetStatus(const std::string& destination, const std::string& status, const Then& then = {});
  bool Remove(const std::string& destination, const Then& then = {});

 private:
  platform::System& sys_;
  std::string path_;
  std::mutex lock_;
  std::atomic<std::uint64_t> revision_{0};
};

}  // namespace quillon::routing
