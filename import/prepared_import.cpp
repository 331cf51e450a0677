#include "import/prepared_import.h"

#include "import/shared_list.h"
#include "platform/safety.h"

#include <algorithm>
#include <unordered_set>

namespace quillon::importing {

namespace {

// Sections stored per replacement of the store, at first: large files reach
// the disk in a few atomic steps, each keeping what came before. Each later
// step takes as many as all before it, so a file of N sections costs a few
// times N bytes written, not N * N / 2000.
constexpr std::size_t kSectionsPerBatch = 2000;

// The store's names as the INI services match them: ASCII case aside.
std::string Folded(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return name;
}

}  // namespace

ImportReport ImportSplitFile(platform::System& sys, routing::SplitStore& store, const std::string& path,
                             const std::string& line,
                             const std::function<void(const std::vector<ImportedEntry>&)>& stored) {
  ImportReport report;
  std::vector<ImportedEntry> batch;
  const auto flush = [&] {
    if (batch.empty()) return;
    std::vector<routing::SplitEntry> entries;
    entries.reserve(batch.size());
    for (const ImportedEntry& e : batch) entries.push_back(e.entry);
    store.WriteAll(entries, [&](const std::vector<bool>& written) {
      // Only what reached the store is counted and shown.
      std::vector<ImportedEntry> kept;
      for (std::size_t i = 0; i < batch.size(); ++i) {
        if (written[i]) kept.push_back(std::move(batch[i]));
      }
      report.stored += static_cast<int>(kept.size());
      report.failed += static_cast<int>(batch.size() - kept.size());
      if (stored && !kept.empty()) stored(kept);
    });
    batch.clear();
  };
  const auto full = [&] {
    return batch.size() >= std::max<std::size_t>(kSectionsPerBatch, static_cast<std::size_t>(report.stored + report.failed));
  };
  std::vector<routing::StoredSection> sections = routing::SplitStore(sys, path).Sections();
  if (sections.empty()) {
    const ListReading list = ReadSharedList(sys.DecodeText(sys.FileRead(path)));
    report.list = true;
    report.names = list.names;
    report.skipped = list.skipped;
    if (line.empty()) {
      report.needsLine = !list.destinations.empty();
      return report;
    }
    if (!platform::IsGatewayText(line)) {
      report.skipped += static_cast<int>(list.destinations.size());
      return report;
    }
    std::unordered_set<std::string> known;
    for (std::string& name : store.Names()) known.insert(Folded(std::move(name)));
    for (const ListReading::Destination& d : list.destinations) {
      if (!known.insert(Folded(d.text)).second) {
        ++report.duplicates;
        continue;
      }
      batch.push_back({d.line, {d.text, line, routing::kEnabled, ""}});
      if (full()) flush();
    }
    flush();
    return report;
  }
  int position = 0;
  for (routing::StoredSection& s : sections) {
    ++position;
    if (s.otherLayout) {
      report.refusedAt = position;
      break;
    }
    if (!line.empty()) s.entry.line = line;
    // A stranger's file: only what may reach a lookup and a route is taken.
    if (!platform::IsSafeDestination(s.entry.destination) || !platform::IsGatewayText(s.entry.line)) {
      ++report.skipped;
      continue;
    }
    batch.push_back({position, std::move(s.entry)});
    if (full()) flush();
  }
  flush();
  return report;
}

}  // namespace quillon::importing
