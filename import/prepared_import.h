// The import of prepared split files: INI files in the split store's layout
// that others made, merged into the split store from the import panel
// (分组框2): the file's path in 组合框3, the line for its entries in 组合框4.
#pragma once

#include <string>

#include "platform/system.h"
#include "platform/ui.h"

namespace quillon::importing {

// The item of 组合框4 that keeps each entry's line from the file.
inline constexpr char kKeepLineItem[] = "不更改分配线路";

// Click handler of 按钮8 ("确定载入"): checks the two inputs, then imports.
void ConfirmImport(platform::System& sys, platform::Ui& ui);

// Copies every section of the file at `path` into the split store, in file
// order, and appends a row for each (numbered by its position in the file).
// `line` empty: each entry keeps the file's xl. A section with a non-empty
// wz is refused with a message and ends the import. A section whose
// destination or line may not reach a lookup or a route is skipped. Ends
// with the count of entries stored. The store is written in batches, each
// one atomic replacement of the file.
void ImportSplitFile(platform::System& sys, platform::Ui& ui, const std::string& path, const std::string& line);

// Left button on 组合框3: the browse dialog; a chosen path goes into 组合框3.
void ChooseImportFile(platform::Ui& ui);

// Files dropped on the window: the first path goes into 组合框3.
void TakeDroppedFile(platform::Ui& ui, const std::string& paths);

}  // namespace quillon::importing
