// The split list's workers all at once through the real Qt window: 100 add
// workers posting their rows, re-apply passes every 2 ms posting "replace all
// rows", and disable, enable and delete on the window thread (this thread)
// with real message boxes and a reload after each. Nothing may hang and
// nothing may be lost. The linux-tsan preset runs this under ThreadSanitizer.
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <optional>

#include "app/presenter.h"
#include "app/program.h"
#include "app/window_description.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/watchdog.h"
#include "platform/qt/qt_ui.h"
#include "platform/qt/qt_window.h"
#include "routing/split_store.h"
#include "app/split_stress_test_plan.h"
#include "tests/gui/gui_support.h"

namespace quillon::gui_test {
namespace {

using app::Control;
using platform::Row;

using namespace app::stress;

// The real window, except that each read of the add input gives the next
// destination, as if the user typed a new one before each click; counts the
// appended rows and every replacement of the rows.
class TypingWindow final : public platform::Ui {
 public:
  explicit TypingWindow(platform::qt::QtUi& ui) : ui_(ui) {}
  std::atomic<int> typed{0};
  std::atomic<int> appended{0};
  std::atomic<int> replaced{0};

  std::string ReadControlText(platform::ControlId c) override {
    std::string text = ui_.ReadControlText(c);
    return c == Control::编辑框2 ? Added(typed++) : text;
  }
  void ListAppendRows(platform::ControlId list, platform::ListRows rows) override {
    ui_.ListAppendRows(list, std::move(rows));
  }
  void ListAppendFilledRow(platform::ControlId list, Row cells, int numberColumn) override {
    ui_.ListAppendFilledRow(list, std::move(cells), numberColumn);
    ++appended;
  }

  void SetEventSink(platform::EventSink sink) override { ui_.SetEventSink(std::move(sink)); }
  void WriteControlText(platform::ControlId c, const std::string& text) override { ui_.WriteControlText(c, text); }
  void SetVisible(platform::ControlId c, bool visible) override { ui_.SetVisible(c, visible); }
  bool IsVisible(platform::ControlId c) override { return ui_.IsVisible(c); }
  int ComboAddItem(platform::ControlId c, const std::string& text, int value) override { return ui_.ComboAddItem(c, text, value); }
  void ListSetCell(platform::ControlId list, int row, int column, const std::string& text) override {
    ui_.ListSetCell(list, row, column, text);
  }
  std::string ListGetCell(platform::ControlId list, int row, int column) override { return ui_.ListGetCell(list, row, column); }
  int ListSelectedRow(platform::ControlId list) override { return ui_.ListSelectedRow(list); }
  int ListRowCount(platform::ControlId list) override { return ui_.ListRowCount(list); }
  void ListReplaceRows(platform::ControlId list, platform::ListRows rows) override {
    ui_.ListReplaceRows(list, std::move(rows));
    ++replaced;
  }
  int AskUser(const std::string& text, int style, const std::string& caption) override {
    return ui_.AskUser(text, style, caption);
  }
  std::string BrowseForPath(const std::string& title, bool includeFiles) override {
    return ui_.BrowseForPath(title, includeFiles);
  }
  void PopupMenu(platform::ControlId menu) override { ui_.PopupMenu(menu); }
  void OpenUrl(const std::string& url) override { ui_.OpenUrl(url); }
  void Delay(int ms) override { ui_.Delay(ms); }
  bool WindowExists() override { return ui_.WindowExists(); }
  void EndProgram(int exitCode) override { ui_.EndProgram(exitCode); }
  std::uintptr_t GetWindowHandle() override { return ui_.GetWindowHandle(); }
  bool RegisterDropTarget(platform::ControlId dropTarget, std::uintptr_t window) override {
    return ui_.RegisterDropTarget(dropTarget, window);
  }
  void Post(std::function<void()> fn) override { ui_.Post(std::move(fn)); }
  void Queue(std::function<void()> fn) override { ui_.Queue(std::move(fn)); }

 private:
  platform::qt::QtUi& ui_;
};

class SplitListStressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sys.directories.insert("/q/分流器配置");
    sys.adapters = {{"v1", "veth", "", "198.51.100.2", "255.255.255.0", kLine}};
    sys.connectionNames = {{"v1", "WLAN"}};
    for (int i = 0; i < kAdds; ++i) sys.Answer(Added(i), {"198.18." + std::to_string(i) + ".5"});
    for (int i = 0; i < kStored; ++i) sys.Answer(Stored(i), {"198.19." + std::to_string(i) + ".5"});
    ui = std::make_unique<platform::qt::QtUi>(spec);
    ui->SetQuitHandler([](int) {});
    window = std::make_unique<TypingWindow>(*ui);
    program = std::make_unique<app::Presenter>(sys, *window, "127.0.0.1:8080");
    program->Attach();
    ui->window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ui->window()));
    ui->WriteControlText(Control::组合框1, kLine);
    ui->WriteControlText(Control::编辑框1, "备注");
  }
  void TearDown() override {
    program.reset();
    ui.reset();
    RunPosted();
  }
  // A reload of the window thread's own.
  void Reload() {
    program->ReloadSplitList();
    ++ownReloads;
  }
  int PassReloads() const { return window->replaced - ownReloads; }
  // The row that shows `destination`, or -1.
  int RowOf(const std::string& destination) {
    for (int r = 0; r < ui->ListRowCount(Control::超级列表框1); ++r) {
      if (ui->ListGetCell(Control::超级列表框1, r, app::kDestinationColumn) == destination) return r;
    }
    return -1;
  }
  // Selects the row of `destination` (reloading when a pass's rows do not
  // show it yet) and runs the routine, answering its box with Enter.
  void OnRow(const std::string& destination, void (app::Presenter::*routine)()) {
    int row = RowOf(destination);
    if (row < 0) {
      Reload();
      RunPosted();
      row = RowOf(destination);
    }
    ASSERT_GE(row, 0) << destination;
    QTableView* list = ui->window()->listView();
    list->selectionModel()->select(list->model()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    AnswerNextBox(Answer::Return);
    (program.get()->*routine)();
    Reload();
    RunPosted();
  }
  int Shown(const std::string& destination) {
    int n = 0;
    for (int r = 0; r < ui->ListRowCount(Control::超级列表框1); ++r) {
      n += ui->ListGetCell(Control::超级列表框1, r, app::kDestinationColumn) == destination ? 1 : 0;
    }
    return n;
  }

  platform::FakeSystem sys;
  platform::WindowLayout spec = app::BuildWindowLayout("127.0.0.1:8080");
  std::unique_ptr<platform::qt::QtUi> ui;
  std::unique_ptr<TypingWindow> window;
  std::unique_ptr<app::Presenter> program;
  std::atomic<int> ownReloads{0};
};

TEST_F(SplitListStressTest, HundredAddsWhilePassesReplaceTheRowsAndTheWindowChangesThemLoseNothing) {
  const platform::Watchdog watchdog("the split list window stress", std::chrono::seconds(120));
  for (int i = 0; i < kStored; ++i) {
    ASSERT_TRUE(program->Store().Write({Stored(i), kLine, routing::kEnabled, ""}));
  }
  sys.realThreads = true;
  program->Workers().pauseMs = 2;
  ASSERT_TRUE(program->Workers().StartReapply());

  for (int i = 0; i < kAdds; ++i) QTest::mouseClick(ui->widget(Control::按钮1), Qt::LeftButton);
  // The window's actions spread over the time the adds take, each round
  // after a pass of the re-apply worker.
  for (int i = 0; i < kStored; ++i) {
    ASSERT_TRUE(WaitUntil([&] { return window->appended >= i * kAdds / kStored && PassReloads() > i; }, 110000));
    OnRow(Stored(i), &app::Presenter::DisableEntry);
    OnRow(Stored(i), &app::Presenter::EnableEntry);
    if (i % kDeleteEvery == 0) OnRow(Stored(i), &app::Presenter::DeleteEntry);
  }
  ASSERT_TRUE(WaitUntil([&] { return window->appended == kAdds; }, 110000));
  program->Workers().Stop();
  ASSERT_TRUE(WaitUntil([&] { return !program->Workers().Busy(); }, 110000));
  RunPosted();
  Reload();
  RunPosted();

  for (int i = 0; i < kAdds; ++i) {
    EXPECT_EQ(sys.IniValue(kStore, Added(i), "zt"), routing::kEnabled) << Added(i);
    EXPECT_EQ(Shown(Added(i)), 1) << Added(i);
  }
  for (int i = 0; i < kStored; ++i) {
    const bool deleted = i % kDeleteEvery == 0;
    EXPECT_EQ(sys.IniValue(kStore, Stored(i), "zt"),
              deleted ? std::nullopt : std::optional<std::string>(routing::kEnabled))
        << Stored(i);
    EXPECT_EQ(Shown(Stored(i)), deleted ? 0 : 1) << Stored(i);
  }
  EXPECT_EQ(ui->ListRowCount(Control::超级列表框1), kAdds + kStored - (kStored + kDeleteEvery - 1) / kDeleteEvery);
  std::lock_guard<std::recursive_mutex> hold(sys.lock);
  std::cout << "window stress: " << kAdds << " adds, " << PassReloads() << " re-apply passes, "
            << kStored * 2 + kStored / kDeleteEvery << " window actions, " << sys.plans.size() << " route plans in all\n";
}

}  // namespace
}  // namespace quillon::gui_test
