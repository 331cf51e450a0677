// The import of prepared split files: files in the split store's layout that
// others made, merged into the split store.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "routing/split_store.h"

namespace quillon::importing {

// An entry the import stored, with its position among the file's sections
// (from 1).
struct ImportedEntry {
  int position = 0;
  routing::SplitEntry entry;
};

struct ImportReport {
  int stored = 0;     // entries now in the store
  int failed = 0;     // entries the store could not take (it cannot be written)
  int skipped = 0;    // sections whose destination or line may not reach a lookup or a route
  int refusedAt = 0;  // the position of a section of another layout, where the import stopped; 0: none
};

// Copies every section of the file at `path` into the store, in file order.
// `line` empty: each entry keeps the file's xl; otherwise every entry gets
// `line`. A section of another layout (wz set) ends the import there; the
// sections before it stay imported. A section whose destination or line
// could reach a lookup or a route unchecked is skipped. The store is written
// in batches, each one replacement of the file where the system can;
// `stored` hears each batch's stored entries under the store's lock.
ImportReport ImportSplitFile(platform::System& sys, routing::SplitStore& store, const std::string& path,
                             const std::string& line,
                             const std::function<void(const std::vector<ImportedEntry>&)>& stored = {});

}  // namespace quillon::importing
