// The split list view 超级列表框1: its reload from the store, its two mouse
// handlers and the three actions of its row menu. The view is only a view:
// every reload starts from the store, and a row is tied to its entry by the
// destination in its 网址/IP cell alone.
#pragma once

#include <functional>

#include "platform/system.h"
#include "platform/ui.h"

namespace quillon::routing {

// Rebuilds the list from the store: one row per distinct destination, in
// store order, numbered from 1. The rows are built on the calling thread
// and handed to the window as one "replace all rows". Does nothing once the
// window is gone.
void ReloadSplitList(platform::System& sys, platform::Ui& ui);

// Left click: copies the selected row's destination, line and note into the
// input row (编辑框2, 组合框1, 编辑框1).
void CopyRowToInputs(platform::Ui& ui);

// Right click: the row menu, for a selected row that has a destination.
void ShowRowMenu(platform::Ui& ui);

// "开启分流" / "关闭分流": stores the status, shows it in the row, tells the
// user, and on OK calls `routeAll` (which starts the routing of every entry
// off the window thread).
void EnableEntry(platform::System& sys, platform::Ui& ui, const std::function<void()>& routeAll);
void DisableEntry(platform::System& sys, platform::Ui& ui, const std::function<void()>& routeAll);

// "删除记录": after a confirmation, removes the entry's section and reloads
// the list. Routes already installed stay.
void DeleteEntry(platform::System& sys, platform::Ui& ui);

}  // namespace quillon::routing
