#include "routing/split_store.h"

#include <string_view>

#include "routing/config_paths.h"

namespace quillon::routing {

using platform::System;

namespace {

constexpr char kLineKey[] = "xl";
constexpr char kStatusKey[] = "zt";
constexpr char kNoteKey[] = "bz";
constexpr char kLayoutKey[] = "wz";

// The values of one entry, in the order they are written.
void AddValues(const SplitEntry& e, std::vector<platform::System::IniValue>& values) {
  values.push_back({e.destination, kLineKey, e.line});
  values.push_back({e.destination, kNoteKey, e.note});
  values.push_back({e.destination, kStatusKey, e.status});
}

}  // namespace

SplitStore::SplitStore(platform::System& sys, std::string path) : sys_(sys), path_(std::move(path)) {}

SplitStore SplitStore::Main(platform::System& sys) { return SplitStore(sys, ConfigFile(sys, kSplitStoreName)); }

std::vector<StoredSection> SplitStore::Sections() {
  std::vector<StoredSection> sections;
  for (auto& r : sys_.IniReadKeys(path_, {kLineKey, kStatusKey, kNoteKey, kLayoutKey})) {
    sections.push_back({{std::move(r.section), std::move(r.values[0]), std::move(r.values[1]), std::move(r.values[2])},
                        !r.values[3].empty()});
  }
  return sections;
}

std::vector<SplitEntry> SplitStore::Entries(const std::function<void(const std::vector<SplitEntry>&)>& then) {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<System::IniRecord> records = sys_.IniReadKeys(path_, {kLineKey, kStatusKey, kNoteKey});
  std::vector<SplitEntry> entries;
  entries.reserve(records.size());
  {
    // The names are looked at where they are, and moved only afterwards;
    // the first of each is found through an open-addressed table of record
    // indexes (no node per name).
    std::vector<bool> first(records.size(), false);
    constexpr std::uint32_t kFree = 0xFFFFFFFFu;
    std::size_t capacity = 16;
    while (capacity < 2 * records.size()) capacity *= 2;
    std::vector<std::uint32_t> seen(capacity, kFree);
    for (std::size_t i = 0; i < records.size(); ++i) {
      const std::string& name = records[i].section;
      std::size_t slot = std::hash<std::string_view>()(name) & (capacity - 1);
      while (seen[slot] != kFree && records[seen[slot]].section != name) slot = (slot + 1) & (capacity - 1);
      if (seen[slot] == kFree) {
        seen[slot] = static_cast<std::uint32_t>(i);
        first[i] = true;
      }
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (!first[i]) continue;
      auto& r = records[i];
      entries.push_back({std::move(r.section), std::move(r.values[0]), std::move(r.values[1]), std::move(r.values[2])});
      r.values = {};  // its room serves what the pass allocates next
    }
  }
  if (then) then(entries);
  return entries;
}

SplitStore::Digest SplitStore::FileDigest() {
  // Two independent sums over 8 bytes at a time (little-endian words; the
  // last, short one padded with zeros), each step mixed by a
  // multiplication: a change of any byte changes both. The file is read in
  // pieces: a pass takes this digest while it holds every entry and answer,
  // and a second copy of the store's bytes would raise its peak.
  Digest d;
  std::uint64_t a = 0x9E3779B97F4A7C15ull, b = 0xC2B2AE3D27D4EB4Full;
  const auto mix = [&](std::uint64_t w) {
    a = (a ^ w) * 0x100000001B3ull;
    a ^= a >> 29;
    b = (b + w) * 0xFF51AFD7ED558CCDull;
    b ^= b >> 32;
  };
  std::uint64_t word = 0;  // the bytes of the word under way
  unsigned held = 0;       // how many
  sys_.FileReadPieces(path_, [&](std::string_view piece) {
    d.size += piece.size();
    for (const char c : piece) {
      word |= std::uint64_t{static_cast<unsigned char>(c)} << (8 * held);
      if (++held == 8) {
        mix(word);
        word = 0;
        held = 0;
      }
    }
  });
  mix(word);
  d.first = a;
  d.second = b;
  return d;
}

std::vector<std::string> SplitStore::Names() { return sys_.IniSections(path_); }

bool SplitStore::Write(const SplitEntry& entry, const Then& then) {
  return WriteAll({entry}, [&](const std::vector<bool>& written) {
    if (written[0] && then) then();
  })[0];
}

std::vector<bool> SplitStore::WriteAll(const std::vector<SplitEntry>& entries,
                                       const std::function<void(const std::vector<bool>&)>& then) {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<platform::System::IniValue> values;
  values.reserve(entries.size() * 3);
  for (const SplitEntry& e : entries) AddValues(e, values);
  ++revision_;
  const std::vector<bool> written = sys_.IniWriteMany(path_, values);
  std::vector<bool> whole(entries.size(), false);
  for (std::size_t i = 0; i < entries.size() && 3 * i + 2 < written.size(); ++i) {
    whole[i] = written[3 * i] && written[3 * i + 1] && written[3 * i + 2];
  }
  if (then) then(whole);
  return whole;
}

bool SplitStore::SetStatus(const std::string& destination, const std::string& status, const Then& then) {
  std::lock_guard<std::mutex> hold(lock_);
  ++revision_;
  const bool written = sys_.IniWrite(path_, destination, kStatusKey, status);
  if (written && then) then();
  return written;
}

bool SplitStore::Remove(const std::string& destination, const Then& then) {
  std::lock_guard<std::mutex> hold(lock_);
  ++revision_;
  const bool removed = sys_.IniWrite(path_, destination, std::nullopt, std::nullopt);
  if (removed && then) then();
  return removed;
}

}  // namespace quillon::routing
