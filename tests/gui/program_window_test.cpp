// The program's routines on the real Qt window: panels, typed inputs, the
// row menu, dropped files, startup and the confirmed exit.
#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "app/presenter.h"
#include "app/program.h"
#include "app/window_description.h"
#include "platform/fake/fake_system.h"
#include "platform/qt/qt_ui.h"
#include "platform/qt/qt_window.h"
#include "tests/gui/gui_support.h"

namespace quillon::gui_test {
namespace {

using app::Control;
using platform::Row;

constexpr const char* kSite = "127.0.0.1:8080";

class ProgramWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui = std::make_unique<platform::qt::QtUi>(spec);
    ui->SetQuitHandler([this](int code) { quits.push_back(code); });
    program = std::make_unique<app::Presenter>(sys, *ui, kSite);
    program->Attach();
  }
  void TearDown() override {
    ui.reset();
    RunPosted();
  }
  // Shows the window without its created event (startup is tested apart).
  void ShowOnly() {
    ui->window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ui->window()));
  }
  void Click(Control c) { QTest::mouseClick(ui->widget(c), Qt::LeftButton); }
  bool Shown(Control c) { return ui->IsVisible(c); }
  void RightClickRow(int row) {
    QTableView* list = ui->window()->listView();
    QTest::mouseClick(list->viewport(), Qt::RightButton, {},
                      list->visualRect(list->model()->index(row, 2)).center());
  }

  platform::FakeSystem sys;
  platform::WindowLayout spec = app::BuildWindowLayout(kSite);
  std::unique_ptr<platform::qt::QtUi> ui;
  std::unique_ptr<app::Presenter> program;
  std::vector<int> quits;
};

TEST_F(ProgramWindowTest, PanelButtonsShowAndHideExactlyTheirPanel) {
  ShowOnly();
  Click(Control::按钮2);
  EXPECT_TRUE(Shown(Control::分组框1));
  EXPECT_FALSE(Shown(Control::分组框2));
  Click(Control::按钮2);
  EXPECT_TRUE(Shown(Control::分组框1)) << "a second click leaves it shown";
  Click(Control::按钮7);
  EXPECT_TRUE(Shown(Control::分组框2));
  EXPECT_TRUE(Shown(Control::分组框1)) << "both panels at once";
  Click(Control::按钮9);
  EXPECT_FALSE(Shown(Control::分组框2));
  EXPECT_TRUE(Shown(Control::分组框1)) << "取消载入 hides only the import panel";
  Click(Control::按钮4);
  EXPECT_FALSE(Shown(Control::分组框1));
  Click(Control::按钮7);
  Click(Control::按钮9);
  EXPECT_FALSE(Shown(Control::分组框2));
  EXPECT_FALSE(Shown(Control::分组框1));
  EXPECT_TRUE(Shown(Control::超级列表框1));
}

TEST_F(ProgramWindowTest, TypedInputsSurviveThePanels) {
  ShowOnly();
  auto* destination = qobject_cast<QLineEdit*>(ui->widget(Control::编辑框2));
  auto* note = qobject_cast<QLineEdit*>(ui->widget(Control::编辑框1));
  destination->clear();
  note->clear();
  QTest::keyClicks(destination, "www.example.test");
  QTest::keyClicks(note, "home line");
  Click(Control::按钮2);
  Click(Control::按钮7);
  Click(Control::按钮9);
  Click(Control::按钮4);
  EXPECT_EQ(ui->ReadControlText(Control::编辑框2), "www.example.test");
  EXPECT_EQ(ui->ReadControlText(Control::编辑框1), "home line");
}

TEST_F(ProgramWindowTest, RowMenuOnlyForACurrentRowWithADestination) {
  ShowOnly();
  QTableView* list = ui->window()->listView();
  // No row at all.
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, QPoint(30, list->viewport()->height() - 10));
  EXPECT_EQ(ui->PopupCount(), 0);

  ui->ListReplaceRows(Control::超级列表框1, std::vector<Row>{{"1", "", "192.0.2.1"}, {"2", "a.example.test", "192.0.2.1"}});
  // Rows, but none current.
  QTest::mouseClick(list->viewport(), Qt::RightButton, {}, QPoint(30, list->viewport()->height() - 10));
  EXPECT_EQ(ui->PopupCount(), 0);
  // A row without a destination.
  RightClickRow(0);
  EXPECT_EQ(ui->ListSelectedRow(Control::超级列表框1), 0);
  EXPECT_EQ(ui->PopupCount(), 0);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

  // A row with one: the menu opens (and is dismissed).
  bool menuSeen = false;
  WhenPopup([&](QWidget* w) {
    menuSeen = qobject_cast<QMenu*>(w) != nullptr;
    QTest::keyClick(w, Qt::Key_Escape);
    return true;
  });
  RightClickRow(1);
  EXPECT_EQ(ui->PopupCount(), 1);
  EXPECT_TRUE(menuSeen);
}

TEST_F(ProgramWindowTest, DroppedFileGoesIntoTheImportPath) {
  ShowOnly();
  QTemporaryDir dir;
  const QString path = dir.filePath("分流配置.ini");
  ASSERT_TRUE(ui->RegisterDropTarget(Control::拖放对象1, ui->GetWindowHandle()));
  // On the home page, the import panel hidden.
  EXPECT_TRUE(DropFiles(ui->widget(Control::超级列表框1), {path}));
  EXPECT_EQ(ui->ReadControlText(Control::组合框3), path.toStdString());
  Click(Control::按钮7);
  const QString second = dir.filePath("b.ini");
  EXPECT_TRUE(DropFiles(ui->widget(Control::标签4), {second, path}));
  EXPECT_EQ(ui->ReadControlText(Control::组合框3), second.toStdString()) << "the first of several";
}

TEST_F(ProgramWindowTest, TheBrowseDialogOpensOnTheFileSelectorAndCancelKeepsItsText) {
  ShowOnly();
  Click(Control::按钮7);
  ui->WriteControlText(Control::组合框3, "/kept/prepared.ini");
  std::string title;
  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    if (dialog == nullptr) return false;
    title = dialog->windowTitle().toStdString();
    dialog->reject();
    return true;
  });
  QTest::mousePress(qobject_cast<QComboBox*>(ui->widget(Control::组合框3))->lineEdit(), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return !title.empty(); }));
  EXPECT_EQ(title, "请选择需要载入的配置文件");
  RunPosted();
  EXPECT_EQ(ui->ReadControlText(Control::组合框3), "/kept/prepared.ini");
}

TEST_F(ProgramWindowTest, FailedVersionGateShowsItsBoxAndEnds) {
  sys.httpFailures.insert(app::VersionGateUrl(kSite));
  BoxSeen box;
  AnswerNextBox(Answer::Return, &box);
  ui->Show();
  ASSERT_TRUE(WaitUntil([&] { return !quits.empty(); }, 10000));
  EXPECT_EQ(box.title, "分流器无法启动");
  EXPECT_EQ(quits, std::vector<int>{0});
  EXPECT_FALSE(ui->WindowExists());
}

TEST_F(ProgramWindowTest, NoticeRefusedWithEscEnds) {
  sys.httpAnswers[app::VersionGateUrl(kSite)] = platform::ByteArray{'1'};
  BoxSeen box;
  AnswerNextBox(Answer::Escape, &box);
  ui->Show();
  ASSERT_TRUE(WaitUntil([&] { return !quits.empty(); }, 10000));
  EXPECT_EQ(box.title, "Quillon用户使用须知：");
  EXPECT_EQ(quits, std::vector<int>{0});
  // Nothing after the notice happened: no config directory, no lines.
  EXPECT_EQ(sys.calls, std::vector<std::string>{"HttpGetText " + app::VersionGateUrl(kSite)});
}

TEST_F(ProgramWindowTest, AcceptedNoticeRegistersTheWholeWindowAsDropTarget) {
  sys.httpAnswers[app::VersionGateUrl(kSite)] = platform::ByteArray{'1'};
  AnswerNextBox(Answer::Return);
  QTemporaryDir dir;
  const QString path = dir.filePath("prepared.ini");
  EXPECT_FALSE(DropFiles(ui->widget(Control::按钮1), {path})) << "before startup";
  ui->Show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(ui->window()));
  ASSERT_TRUE(WaitUntil([&] { return DropFiles(ui->widget(Control::按钮1), {path}); }, 10000));
  EXPECT_EQ(ui->ReadControlText(Control::组合框3), path.toStdString());
  EXPECT_TRUE(ui->WindowExists());
  EXPECT_TRUE(quits.empty());
}

TEST_F(ProgramWindowTest, CloseAsksAndOnlyOkEnds) {
  ShowOnly();
  AnswerNextBox(Answer::Escape);
  EXPECT_FALSE(ui->window()->close());
  EXPECT_TRUE(ui->WindowExists());
  EXPECT_TRUE(quits.empty());

  BoxSeen box;
  AnswerNextBox(Answer::Return, &box);
  ui->window()->close();
  EXPECT_EQ(box.text, "即将结束任务并退出？");
  EXPECT_EQ(quits, std::vector<int>{0});
  EXPECT_FALSE(ui->WindowExists());
}

TEST_F(ProgramWindowTest, PickingALineShowsItsDetailsButTheProgramsTextDoesNot) {
  sys.adapters = {{"v0", "veth", "", "192.0.2.2", "255.255.255.0", "192.0.2.1"},
                  {"v1", "veth", "", "198.51.100.2", "255.255.255.0", "198.51.100.1"}};
  sys.connectionNames = {{"v1", "上行二"}};
  ShowOnly();
  Click(Control::按钮2);
  const std::string notice = spec.Find(Control::超级编辑框1)->caption;
  // What the start does: items appended, the stored line set as text.
  ui->ComboAddItem(Control::组合框2, "192.0.2.1");
  ui->ComboAddItem(Control::组合框2, "198.51.100.1");
  ui->WriteControlText(Control::组合框2, "198.51.100.1");
  RunPosted();
  EXPECT_EQ(ui->ReadControlText(Control::超级编辑框1), notice) << "a text set by the program is no pick";

  auto* combo = qobject_cast<QComboBox*>(ui->widget(Control::组合框2));
  combo->showPopup();
  QAbstractItemView* view = combo->view();
  ASSERT_TRUE(WaitUntil([&] { return view->isVisible(); }));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
  ASSERT_TRUE(WaitUntil([&] { return ui->ReadControlText(Control::超级编辑框1) != notice; }));
  EXPECT_EQ(ui->ReadControlText(Control::超级编辑框1),
            "网关IP：198.51.100.1\r\n本地IP：198.51.100.2\r\n子网掩码：255.255.255.0\r\n线路名称：上行二\r\n"
            "线路描述：veth");
}

}  // namespace
}  // namespace quillon::gui_test
