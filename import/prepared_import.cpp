#include "import/prepared_import.h"

#include <vector>

#include "lines/lines.h"
#include "platform/safety.h"
#include "platform/text.h"
#include "routing/config_paths.h"
#include "routing/split_store.h"

namespace quillon::importing {

using platform::AskOk;
using platform::Control;

namespace {

// Sections stored per replacement of the store: large files reach the disk
// in a few atomic steps, each keeping what came before.
constexpr std::size_t kSectionsPerBatch = 2000;

// Stores one batch and appends its rows; the number of entries stored.
int StoreBatch(platform::System& sys, platform::Ui& ui, const std::string& store,
               std::vector<platform::System::IniValue>& values, std::vector<platform::Row>& rows) {
  int stored = 0;
  if (!values.empty() && sys.IniWriteMany(store, values)) {
    for (platform::Row& row : rows) ui.ListAppendFilledRow(Control::超级列表框1, std::move(row), -1);
    stored = static_cast<int>(rows.size());
  }
  values.clear();
  rows.clear();
  return stored;
}

}  // namespace

void ConfirmImport(platform::System& sys, platform::Ui& ui) {
  const std::string line = ui.ReadControlText(Control::组合框4);
  if (line.empty()) {
    ui.AskUser("请选择是否更改配置文件中的分配线路", AskOk, "异常");
    return;
  }
  const std::string path = ui.ReadControlText(Control::组合框3);
  if (path.empty()) {
    ui.AskUser("请选择需要载入的配置文件，或将配置文件拖到当前页面", AskOk, "异常");
    return;
  }
  ImportSplitFile(sys, ui, path, line == kKeepLineItem ? std::string() : line);
}

void ImportSplitFile(platform::System& sys, platform::Ui& ui, const std::string& path, const std::string& line) {
  const std::string store = routing::SplitStore(sys);
  lines::LineDirectory lines(sys);
  std::vector<platform::System::IniValue> values;
  std::vector<platform::Row> rows;
  int stored = 0;
  int position = 0;
  for (const std::string& name : sys.IniSections(path)) {
    ++position;
    if (!sys.IniRead(path, name, "wz").empty()) {
      stored += StoreBatch(sys, ui, store, values, rows);
      ui.AskUser("该配置文件不支持直接导入当前版本，请更新最新版的配置文件。", AskOk, "异常");
      break;
    }
    routing::SplitEntry e;
    e.destination = name;
    e.line = line.empty() ? sys.IniRead(path, name, "xl") : line;
    e.status = sys.IniRead(path, name, "zt");
    e.note = sys.IniRead(path, name, "bz");
    // A stranger's file: only what may reach a lookup and a route is taken.
    if (!platform::IsSafeDestination(e.destination) || !platform::IsGatewayText(e.line)) continue;
    values.push_back({e.destination, "xl", e.line});
    values.push_back({e.destination, "bz", e.note});
    values.push_back({e.destination, "zt", e.status});
    rows.push_back(routing::SplitRow(platform::ToText(position), e, lines.ConnectionNameOf(e.line)));
    if (rows.size() == kSectionsPerBatch) stored += StoreBatch(sys, ui, store, values, rows);
  }
  stored += StoreBatch(sys, ui, store, values, rows);
  ui.AskUser("本次载入[" + platform::ToText(stored) + "]条配置已完成", AskOk);
}

void ChooseImportFile(platform::Ui& ui) {
  const std::string path = ui.BrowseForPath("请选择需要载入的配置文件", true);
  if (!path.empty()) ui.WriteControlText(Control::组合框3, path);
}

void TakeDroppedFile(platform::Ui& ui, const std::string& paths) {
  // Several files come as paths each followed by CR LF: the first one is
  // taken, since one file is imported at a time.
  for (const std::string& path : platform::TextSplit(paths, "\r\n")) {
    if (path.empty()) continue;
    ui.WriteControlText(Control::组合框3, path);
    return;
  }
}

}  // namespace quillon::importing
