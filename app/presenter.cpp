#include "app/presenter.h"

#include <memory>
#include <system_error>
#include <thread>

#include "app/controls.h"
#include "app/event_table.h"
#include "app/messages.h"
#include "app/program.h"
#include "app/split_rows.h"
#include "import/prepared_import.h"
#include "lines/lines.h"
#include "platform/text.h"
#include "routing/config_paths.h"
#include "routing/global_line.h"

namespace quillon::app {

using platform::AnswerOk;
using platform::AskOk;
using platform::AskOkCancel;
using platform::Row;

namespace {

constexpr Control kList = Control::超级列表框1;

// The body of a GET as text, fetched on a thread of its own while the window
// thread keeps handling the window's events (the request may take its whole
// timeout).
std::string FetchText(platform::System& sys, platform::Ui& ui, const std::string& url) {
  struct Fetch {
    std::string body;
    std::atomic<bool> done{false};
  };
  auto fetch = std::make_shared<Fetch>();
  try {
    std::thread([&sys, url, fetch] {
      fetch->body = platform::ToText(sys.HttpGetText(url));
      fetch->done = true;
    }).detach();
  } catch (const std::system_error&) {
    return platform::ToText(sys.HttpGetText(url));
  }
  while (!fetch->done) ui.Delay(10);
  return fetch->body;
}

}  // namespace

Presenter::Presenter(platform::System& sys, platform::Ui& ui, std::string siteHost)
    : sys_(sys),
      ui_(ui),
      siteHost_(std::move(siteHost)),
      store_(routing::SplitStore::Main(sys)),
      router_(sys, store_),
      workers_(sys, router_,
               {[this] { return ReloadSplitList(); },
                [this](const std::string& destination) {
                  if (ui_.WindowExists()) ui_.WriteControlText(Control::透明标签4, destination);
                },
                [this](const platform::RouteReport& report) { ShowRouteReport(report); }}) {}

void Presenter::Attach() {
  ui_.SetEventSink([this](platform::ControlId c, platform::Event e, const std::string& arg) {
    return HandleEvent(c, e, arg);
  });
}

bool Presenter::HandleEvent(platform::ControlId control, platform::Event event, const std::string& argument) {
  for (const auto& b : EventTable()) {
    if (b.control == control && b.event == event) return b.run(*this, argument);
  }
  return true;  // unbound: nothing happens, and a close is not refused
}

void Presenter::RunStartup() {
  // The version gate: the body, up to its first NUL, must be exactly "1".
  if (FetchText(sys_, ui_, VersionGateUrl(siteHost_)) != "1") {
    ui_.AskUser(StartFailureText(siteHost_), AskOk, kStartFailureCaption);
    ui_.EndProgram(0);
    return;
  }
  if (ui_.AskUser(NoticeText(siteHost_), AskOkCancel, kNoticeCaption) != AnswerOk) {
    ui_.EndProgram(0);
    return;
  }
  ui_.RegisterDropTarget(Control::拖放对象1, ui_.GetWindowHandle());
  // The stores only in a config directory that nobody else can change.
  if (const std::string problem = sys_.ConfigDirectoryProblem(routing::ConfigDirectory(sys_)); !problem.empty()) {
    ui_.AskUser(kUnsafeConfigDirectory + problem, AskOk, kErrorCaption);
    ui_.EndProgram(0);
    return;
  }
  routing::EnsureConfigDirectory(sys_);

  // The line selectors, and the stored default routes put back.
  const routing::RestoredLines restored = routing::RestoreGlobalLine(sys_);
  ui_.ComboAddItem(Control::组合框4, kKeepLineItem);
  for (const routing::OfferedLine& line : restored.lines) {
    if (line.global) ui_.WriteControlText(Control::组合框2, line.gateway);
    ui_.ComboAddItem(Control::组合框1, line.gateway);
    ui_.ComboAddItem(Control::组合框2, line.gateway);
    ui_.ComboAddItem(Control::组合框4, line.gateway);
  }
  ShowRouteReport(restored.routes);

  // One process at a time routes the split list (a second window, or the
  // headless service, may be running).
  if (!sys_.LockRouting(routing::ConfigFile(sys_, routing::kRoutingLockName))) {
    ui_.AskUser(kAnotherRouter, AskOk, kNoteCaption);
    workers_.SetRouting(false);
  }
  workers_.StartReapply();
}

bool Presenter::ConfirmExit() {
  if (ui_.AskUser(kExitQuestion, AskOkCancel, kExitCaption) != AnswerOk) return false;
  workers_.Stop();
  // A pass in progress is allowed to finish; the window keeps handling its
  // events meanwhile, since the pass may be writing to it. A worker in its
  // pause is not waited for.
  while (workers_.Busy()) ui_.Delay(1000);
  ui_.EndProgram(0);
  return true;
}

void Presenter::ShowGlobalPanel() { ui_.SetVisible(Control::分组框1, true); }
void Presenter::HideGlobalPanel() { ui_.SetVisible(Control::分组框1, false); }
void Presenter::ShowImportPanel() { ui_.SetVisible(Control::分组框2, true); }
void Presenter::HideImportPanel() { ui_.SetVisible(Control::分组框2, false); }

void Presenter::OpenDownloadsPage() { ui_.OpenUrl(DownloadsPageUrl(siteHost_)); }
void Presenter::OpenTutorialPage() { ui_.OpenUrl(TutorialPageUrl(siteHost_)); }

void Presenter::ShowLineDetails() {
  const std::string details = lines::LineDetails(sys_, ui_.ReadControlText(Control::组合框2));
  ui_.WriteControlText(Control::超级编辑框1, "");
  if (!details.empty()) ui_.WriteControlText(Control::超级编辑框1, details);
}

void Presenter::ApplyGlobalLine() {
  const std::string chosen = ui_.ReadControlText(Control::组合框2);
  if (chosen.empty()) {
    ui_.AskUser(kChooseGlobalLine, AskOk, kErrorCaption);
    return;
  }
  if (ui_.AskUser(kConfirmGlobalLine, AskOkCancel, kNoteCaption) != AnswerOk) return;
  ShowRouteReport(routing::ApplyGlobalLine(sys_, chosen).routes);
  ui_.AskUser(kDone, AskOk, kNoteCaption);
}

bool Presenter::ReloadSplitList() {
  if (!ui_.WindowExists()) return false;
  lines::LineDirectory lines(sys_);
  store_.Entries([&](const std::vector<routing::SplitEntry>& entries) {
    auto rows = std::make_shared<platform::ListRows>(SplitRows(entries, lines));
    ui_.Queue([this, rows] { ui_.ListReplaceRows(kList, std::move(*rows)); });
  });
  return true;
}

void Presenter::CopyRowToInputs() {
  const auto cell = [&](int column) { return ui_.ListGetCell(kList, ui_.ListSelectedRow(kList), column); };
  if (cell(kDestinationColumn).empty()) return;
  ui_.WriteControlText(Control::编辑框2, cell(kDestinationColumn));
  ui_.WriteControlText(Control::组合框1, cell(kLineColumn));
  ui_.WriteControlText(Control::编辑框1, cell(kNoteColumn));
}

void Presenter::ShowRowMenu() {
  if (ui_.ListGetCell(kList, ui_.ListSelectedRow(kList), kDestinationColumn).empty()) return;
  ui_.PopupMenu(Control::菜单);
}

void Presenter::SetStatus(const char* status, const char* done) {
  const int row = ui_.ListSelectedRow(kList);
  const std::string destination = ui_.ListGetCell(kList, row, kDestinationColumn);
  if (destination.empty()) return;
  const bool stored = store_.SetStatus(destination, status, [&] {
    // Queued behind any reload that read the store before this write, so
    // the cell shows the new status whatever came first.
    ui_.Queue([this, row, destination, text = StatusText(status)] {
      if (ui_.ListGetCell(kList, row, kDestinationColumn) == destination) {
        ui_.ListSetCell(kList, row, kStatusColumn, text);
        return;
      }
      for (int r = 0, n = ui_.ListRowCount(kList); r < n; ++r) {
        if (ui_.ListGetCell(kList, r, kDestinationColumn) == destination) ui_.ListSetCell(kList, r, kStatusColumn, text);
      }
    });
  });
  if (!stored) return;
  if (ui_.AskUser(done, AskOkCancel, kNoteCaption) == AnswerOk) workers_.StartRouteAll();
}

void Presenter::EnableEntry() { SetStatus(routing::kEnabled, kEnableDone); }
void Presenter::DisableEntry() { SetStatus(routing::kDisabled, kDone); }

void Presenter::DeleteEntry() {
  const std::string destination = ui_.ListGetCell(kList, ui_.ListSelectedRow(kList), kDestinationColumn);
  if (destination.empty()) return;
  if (ui_.AskUser(kDeleteQuestion + destination, AskOkCancel, kDeleteCaption) != AnswerOk) return;
  // Routes already installed for it stay.
  store_.Remove(destination);
  ReloadSplitList();
}

void Presenter::StartAddWorker() {
  // The inputs as they are at the click.
  const routing::AddRequest request{ui_.ReadControlText(Control::编辑框2), ui_.ReadControlText(Control::组合框1),
                                    ui_.ReadControlText(Control::编辑框1)};
  workers_.Start([this, request] {
    const std::string connection = lines::FindLineByGateway(sys_, request.line).ConnectionName;
    ShowAddOutcome(router_.AddEntry(request, [&](const routing::SplitEntry& entry) {
      ui_.Queue([this, row = SplitRow("", entry, connection)] { ui_.ListAppendFilledRow(kList, row, kNumberColumn); });
    }));
  });
}

void Presenter::ShowAddOutcome(const routing::AddOutcome& outcome) {
  const AddMessage message = MessageOf(outcome);
  if (!message.text.empty()) ui_.AskUser(message.text, AskOk, message.caption);
}

void Presenter::ShowRouteReport(const platform::RouteReport& report) {
  using Outcome = platform::RouteReport::Outcome;
  // Told once a run: every pass would otherwise say it again.
  std::atomic<bool>* told = report.outcome == Outcome::NoRights ? &toldRights_
                            : report.outcome == Outcome::Busy   ? &toldBusy_
                                                                : nullptr;
  if (told == nullptr || told->exchange(true)) return;
  const std::string text = report.outcome == Outcome::NoRights ? std::string(kNoRouteRights) + "\r\n" + report.reason
                                                              : report.reason;
  ui_.AskUser(text, AskOk, kNoteCaption);
}

void Presenter::ConfirmImport() {
  const std::string line = ui_.ReadControlText(Control::组合框4);
  if (line.empty()) {
    ui_.AskUser(kChooseImportLine, AskOk, kErrorCaption);
    return;
  }
  const std::string path = ui_.ReadControlText(Control::组合框3);
  if (path.empty()) {
    ui_.AskUser(kChooseImportFile, AskOk, kErrorCaption);
    return;
  }
  // A large file takes a while: the window keeps answering meanwhile.
  workers_.Start([this, path = sys_.RealPath(path), line = line == kKeepLineItem ? std::string() : line] {
    lines::LineDirectory lines(sys_);
    const importing::ImportReport report = importing::ImportSplitFile(
        sys_, store_, path, line, [&](const std::vector<importing::ImportedEntry>& stored) {
          // Numbered by their place in the file, not renumbered.
          auto rows = std::make_shared<platform::ListRows>();
          rows->reserve(stored.size());
          for (const auto& e : stored) {
            rows->Append(SplitRow(platform::ToText(e.position), e.entry, lines.ConnectionNameOf(e.entry.line)));
          }
          ui_.Queue([this, rows] { ui_.ListAppendRows(kList, std::move(*rows)); });
        });
    if (report.needsLine) {
      ui_.AskUser(kListNeedsLine, AskOk, kErrorCaption);
      return;
    }
    if (report.refusedAt > 0) ui_.AskUser(kOtherLayout, AskOk, kErrorCaption);
    ui_.AskUser(ImportCountText(report), AskOk);
  });
}

void Presenter::ChooseImportFile() {
  const std::string path = ui_.BrowseForPath(kBrowseTitle, true);
  if (!path.empty()) ui_.WriteControlText(Control::组合框3, path);
}

void Presenter::TakeDroppedFile(const std::string& paths) {
  // Several files come as paths each followed by CR LF: the first one is
  // taken, since one file is imported at a time.
  for (const std::string& path : platform::TextSplit(paths, "\r\n")) {
    if (path.empty()) continue;
    ui_.WriteControlText(Control::组合框3, path);
    return;
  }
}

}  // namespace quillon::app
