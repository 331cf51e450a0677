// The import of prepared split files (files in the split store's layout
// that others made) and of lists as people share them, merged into the
// split store.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "routing/split_store.h"

namespace quillon::importing {

// An entry the import stored, with its position among the file's sections
// (from 1), or its line in a list.
struct ImportedEntry {
  int position = 0;
  routing::SplitEntry entry;
};

struct ImportReport {
  int stored = 0;      // entries now in the store
  int failed = 0;      // entries the store could not take (it cannot be written)
  int skipped = 0;     // sections, or list lines, that may not reach a lookup or a route
  int refusedAt = 0;   // the position of a section of another layout, where the import stopped; 0: none
  bool list = false;   // the file held no sections: it was read as a shared list
  bool needsLine = false;  // a list, and no line was given for its entries: nothing imported
  int duplicates = 0;  // list entries already in the store (left as they are) or given twice
  bool names = false;  // the list holds host names (each routed as the name itself)
};

// Copies every section of the file at `path` into the store, in file order.
// A file without sections is read as a shared list (import/shared_list.h):
// every destination gets `line` (a list has none of its own, so without one
// nothing is imported) and the status "1"; one already in the store is
// left as it is.
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
