#include "routing/split_list.h"

#include <unordered_set>

#include "lines/lines.h"
#include "platform/text.h"
#include "routing/config_paths.h"
#include "routing/split_store.h"

namespace quillon::routing {

using platform::AnswerOk;
using platform::AskOkCancel;
using platform::Control;

namespace {

constexpr Control kList = Control::超级列表框1;

// The selected row's cell; empty when no row is selected.
std::string SelectedCell(platform::Ui& ui, int column) {
  return ui.ListGetCell(kList, ui.ListSelectedRow(kList), column);
}

void SetStatus(platform::System& sys, platform::Ui& ui, const std::string& status, const std::string& done,
               const std::function<void()>& routeAll) {
  const std::string destination = SelectedCell(ui, kDestinationColumn);
  if (destination.empty()) return;
  if (!sys.IniWrite(SplitStore(sys), destination, "zt", status)) return;
  ui.ListSetCell(kList, ui.ListSelectedRow(kList), kStatusColumn, StatusText(status));
  if (ui.AskUser(done, AskOkCancel, "注意") == AnswerOk && routeAll) routeAll();
}

}  // namespace

void ReloadSplitList(platform::System& sys, platform::Ui& ui) {
  if (!ui.WindowExists()) return;
  lines::LineDirectory lines(sys);
  std::unordered_set<std::string> seen;
  std::vector<platform::Row> rows;
  for (const SplitEntry& e : ReadSplitStore(sys, SplitStore(sys))) {
    if (!seen.insert(e.destination).second) continue;
    rows.push_back(SplitRow(platform::ToText(static_cast<int>(rows.size()) + 1), e, lines.ConnectionNameOf(e.line)));
  }
  ui.ListReplaceRows(kList, std::move(rows));
}

void CopyRowToInputs(platform::Ui& ui) {
  if (SelectedCell(ui, kDestinationColumn).empty()) return;
  ui.WriteControlText(Control::编辑框2, SelectedCell(ui, kDestinationColumn));
  ui.WriteControlText(Control::组合框1, SelectedCell(ui, kLineColumn));
  ui.WriteControlText(Control::编辑框1, SelectedCell(ui, kNoteColumn));
}

void ShowRowMenu(platform::Ui& ui) {
  if (SelectedCell(ui, kDestinationColumn).empty()) return;
  ui.PopupMenu(Control::菜单);
}

void EnableEntry(platform::System& sys, platform::Ui& ui, const std::function<void()>& routeAll) {
  SetStatus(sys, ui, kEnabled, "操作已完成，如果配置没生效，请重启需要分流的应用即可。", routeAll);
}

void DisableEntry(platform::System& sys, platform::Ui& ui, const std::function<void()>& routeAll) {
  SetStatus(sys, ui, kDisabled, "操作已完成,如果配置没生效，请重启需要分流的应用即可。", routeAll);
}

void DeleteEntry(platform::System& sys, platform::Ui& ui) {
  const std::string destination = SelectedCell(ui, kDestinationColumn);
  if (destination.empty()) return;
  if (ui.AskUser("是否删除：" + destination, AskOkCancel, "删除") != AnswerOk) return;
  sys.IniWrite(SplitStore(sys), destination, std::nullopt, std::nullopt);
  ReloadSplitList(sys, ui);
}

}  // namespace quillon::routing
