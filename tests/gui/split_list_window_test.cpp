// The split list on the real Qt window: the row menu's actions with their
// message boxes, the list after a reload, and a window that keeps answering
// while a routing pass runs on a worker.
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "app/presenter.h"
#include "app/program.h"
#include "app/window_description.h"
#include "platform/fake/fake_system.h"
#include "platform/qt/qt_ui.h"
#include "platform/qt/qt_window.h"
#include "routing/config_paths.h"
#include "routing/split_store.h"
#include "tests/gui/gui_support.h"

namespace quillon::gui_test {
namespace {

using app::Control;

constexpr char kStore[] = "/q/分流器配置/http.ini";

class SplitListWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sys.directories.insert("/q/分流器配置");
    sys.adapters = {{"v1", "veth", "", "198.51.100.2", "255.255.255.0", "198.51.100.1"}};
    sys.connectionNames = {{"v1", "WLAN"}};
    ui = std::make_unique<platform::qt::QtUi>(spec);
    ui->SetQuitHandler([](int) {});
    program = std::make_unique<app::Presenter>(sys, *ui, "127.0.0.1:8080");
    program->Attach();
    ui->window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ui->window()));
  }
  void TearDown() override {
    program.reset();  // waits for its workers
    ui.reset();
    RunPosted();
  }
  void Store(const std::string& destination, const std::string& status) {
    ASSERT_TRUE(program->Store().Write({destination, "198.51.100.1", status, "备注"}));
  }
  std::string Cell(int row, int column) { return ui->ListGetCell(Control::超级列表框1, row, column); }
  // Right-clicks the row and picks the menu's item at `index` (0 based).
  void Choose(int row, int index) {
    WhenPopup([index](QWidget* w) {
      if (qobject_cast<QMenu*>(w) == nullptr) return false;
      for (int i = 0; i <= index; ++i) QTest::keyClick(w, Qt::Key_Down);
      QTest::keyClick(w, Qt::Key_Return);
      return true;
    });
    QTableView* list = ui->window()->listView();
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, list->visualRect(list->model()->index(row, 1)).center());
  }

  platform::FakeSystem sys;
  platform::WindowLayout spec = app::BuildWindowLayout("127.0.0.1:8080");
  std::unique_ptr<platform::qt::QtUi> ui;
  std::unique_ptr<app::Presenter> program;
};

TEST_F(SplitListWindowTest, RowMenuDisablesAndDeletesWithTheirBoxes) {
  Store("a.test", "1");
  Store("b.test", "1");
  program->ReloadSplitList();
  ASSERT_TRUE(WaitUntil([&] { return ui->ListRowCount(Control::超级列表框1) == 2; }));
  EXPECT_EQ(Cell(1, 0), "2");
  EXPECT_EQ(Cell(1, 3), "WLAN");

  BoxSeen done;
  AnswerNextBox(Answer::Return, &done);
  Choose(0, 1);  // 关闭分流
  ASSERT_TRUE(WaitUntil([&] { return !done.title.empty(); }));
  EXPECT_EQ(done.text, "操作已完成,如果配置没生效，请重启需要分流的应用即可。");
  ASSERT_TRUE(WaitUntil([&] { return Cell(0, 4) == "关闭"; }));
  EXPECT_EQ(sys.IniValue(kStore, "a.test", "zt"), "-1");
  EXPECT_EQ(sys.pendingWorkers.size(), 1u) << "OK starts the routing on a worker";

  BoxSeen asked;
  AnswerNextBox(Answer::Return, &asked);
  Choose(0, 2);  // 删除记录
  ASSERT_TRUE(WaitUntil([&] { return ui->ListRowCount(Control::超级列表框1) == 1; }));
  EXPECT_EQ(asked.title, "删除");
  EXPECT_EQ(asked.text, "是否删除：a.test");
  EXPECT_EQ(Cell(0, 0), "1");
  EXPECT_EQ(Cell(0, 1), "b.test");
}

TEST_F(SplitListWindowTest, TheWindowAnswersWhileAPassRuns) {
  sys.realThreads = true;
  std::atomic<bool> inLookup{false}, release{false};
  sys.lookups["slow.test"] = {};
  sys.onLookup = [&](const std::string&) {
    inLookup = true;
    while (!release) std::this_thread::yield();
  };
  Store("slow.test", "1");
  program->Workers().StartRouteAll();
  ASSERT_TRUE(WaitUntil([&] { return inLookup.load(); }));
  EXPECT_TRUE(program->Workers().Busy());

  QTest::mouseClick(ui->widget(Control::按钮2), Qt::LeftButton);
  EXPECT_TRUE(ui->IsVisible(Control::分组框1));
  QTest::mouseClick(ui->widget(Control::按钮4), Qt::LeftButton);
  EXPECT_FALSE(ui->IsVisible(Control::分组框1));
  ui->WriteControlText(Control::编辑框2, "");
  QTest::keyClicks(ui->widget(Control::编辑框2), "typed.test");
  EXPECT_EQ(ui->ReadControlText(Control::编辑框2), "typed.test");

  release = true;
  ASSERT_TRUE(WaitUntil([&] { return !program->Workers().Busy(); }));
}

}  // namespace
}  // namespace quillon::gui_test
