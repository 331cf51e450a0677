// The Qt window built from the window description, driven like a user would:
// geometry and captions, events, drops, the list, message boxes, threads.
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "app/window_description.h"
#include "platform/qt/list_model.h"
#include "platform/qt/qt_ui.h"
#include "platform/qt/qt_window.h"
#include "tests/gui/gui_support.h"

namespace quillon::gui_test {
namespace {

using app::Control;
using platform::ControlKind;
using platform::Event;
using platform::Row;
using platform::qt::QtUi;

class QtWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui = std::make_unique<QtUi>(spec);
    ui->SetQuitHandler([this](int code) { quits.push_back(code); });
    ui->SetEventSink(rec.Sink());
  }
  void TearDown() override {
    ui.reset();
    RunPosted();
  }

  void ShowWindow() {
    ui->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ui->window()));
  }
  QWidget* W(Control c) const { return ui->widget(c); }
  QTableView* List() const { return ui->window()->listView(); }
  QPoint RowPoint(int row) const {
    return List()->visualRect(List()->model()->index(row, 1)).center();
  }
  void FillRows(int n) {
    std::vector<Row> rows;
    for (int i = 0; i < n; ++i) rows.push_back({std::to_string(i + 1), "host" + std::to_string(i), "192.0.2.1"});
    ui->ListReplaceRows(Control::超级列表框1, rows);
  }

  platform::WindowLayout spec = app::BuildWindowLayout("127.0.0.1:8080");
  std::unique_ptr<QtUi> ui;
  Recorder rec;
  std::vector<int> quits;
};

// ---- the window as the table describes it ------------------------------------

TEST_F(QtWindowTest, FixedClientSizeTitleAndFrame) {
  QWidget* w = ui->window();
  EXPECT_EQ(w->windowTitle().toStdString(), std::string("Quillon - ") + kVersion + "  (管理员：512340987 开发者：Ferrowin)");
  EXPECT_EQ(w->size(), QSize(586, 404));
  EXPECT_EQ(w->minimumSize(), QSize(586, 404));
  EXPECT_EQ(w->maximumSize(), QSize(586, 404));
  const Qt::WindowFlags flags = w->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(w->windowIcon().isNull());
  EXPECT_EQ(w->windowIcon().availableSizes().size(), 4);
}

TEST_F(QtWindowTest, EveryControlAtItsGeometryWithItsCaption) {
  QWidget* window = ui->window();
  int widgets = 0;
  for (const auto& c : spec.controls) {
    SCOPED_TRACE(std::string(c.name));
    QWidget* w = ui->widget(c.id);
    switch (c.kind) {
      case ControlKind::Window:
      case ControlKind::DropTarget:
      case ControlKind::ScriptComponent:
      case ControlKind::Menu:
      case ControlKind::MenuItem:
        EXPECT_EQ(w, nullptr) << "has no area";
        continue;
      default:
        break;
    }
    ASSERT_NE(w, nullptr);
    ++widgets;
    QWidget* parent = c.parent == Control::主窗口 ? window : ui->widget(c.parent);
    EXPECT_EQ(w->parentWidget(), parent);
    EXPECT_EQ(w->geometry(), QRect(c.left, c.top, c.width, c.height));
    // Children of a group box lie at the box's own corner, no title inset.
    const QPoint origin = parent == window ? QPoint(0, 0) : parent->mapTo(window, QPoint(0, 0));
    EXPECT_EQ(w->mapTo(window, QPoint(0, 0)), origin + QPoint(c.left, c.top));
    switch (c.kind) {
      case ControlKind::ListView: EXPECT_NE(qobject_cast<QTableView*>(w), nullptr); break;
      case ControlKind::Label:
      case ControlKind::TransparentLabel: EXPECT_NE(qobject_cast<QLabel*>(w), nullptr); break;
      case ControlKind::Button: EXPECT_NE(qobject_cast<QPushButton*>(w), nullptr); break;
      case ControlKind::EditBox: EXPECT_NE(qobject_cast<QLineEdit*>(w), nullptr); break;
      case ControlKind::RichEdit: EXPECT_NE(qobject_cast<QPlainTextEdit*>(w), nullptr); break;
      case ControlKind::GroupBox: {
        auto* box = qobject_cast<QGroupBox*>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->title().isEmpty());
        break;
      }
      case ControlKind::ComboBox: {
        auto* combo = qobject_cast<QComboBox*>(w);
        ASSERT_NE(combo, nullptr);
        EXPECT_TRUE(combo->isEditable());
        EXPECT_EQ(combo->count(), 0);
        break;
      }
      default: break;
    }
    if (c.kind != ControlKind::ListView) {
      EXPECT_EQ(ui->ReadControlText(c.id), c.caption);
    }
  }
  EXPECT_EQ(widgets, 28);
  // A caption on screen is the table's text.
  EXPECT_EQ(qobject_cast<QPushButton*>(W(Control::按钮1))->text(), QString("加入列表"));
  EXPECT_EQ(qobject_cast<QLineEdit*>(W(Control::编辑框2))->text(), QString("127.0.0.1:8080"));
}

TEST_F(QtWindowTest, PanelsHiddenAtFirstAndShownAboveTheList) {
  ShowWindow();
  EXPECT_FALSE(ui->IsVisible(Control::分组框1));
  EXPECT_FALSE(ui->IsVisible(Control::分组框2));
  EXPECT_FALSE(ui->IsVisible(Control::按钮4)) << "lies on a hidden panel";
  EXPECT_FALSE(W(Control::组合框3)->isVisible());
  EXPECT_TRUE(ui->IsVisible(Control::超级列表框1));
  EXPECT_TRUE(ui->IsVisible(Control::按钮1));

  // A point inside both panels and the list.
  const QPoint p(150, 30 + 40);
  auto owner = [&](Control panel) {
    QWidget* at = ui->window()->childAt(p);
    return at != nullptr && (at == W(panel) || W(panel)->isAncestorOf(at));
  };
  EXPECT_FALSE(owner(Control::分组框1));
  ui->SetVisible(Control::分组框2, true);
  EXPECT_TRUE(ui->IsVisible(Control::分组框2));
  EXPECT_TRUE(ui->IsVisible(Control::组合框3));
  EXPECT_TRUE(owner(Control::分组框2)) << "the import panel covers the list";
  ui->SetVisible(Control::分组框1, true);
  EXPECT_TRUE(owner(Control::分组框1)) << "the panel shown last lies on top";
  EXPECT_TRUE(ui->IsVisible(Control::分组框2)) << "showing one panel leaves the other";
  ui->SetVisible(Control::分组框1, false);
  EXPECT_TRUE(owner(Control::分组框2));
  ui->SetVisible(Control::分组框2, false);
  EXPECT_FALSE(ui->IsVisible(Control::组合框3));
  QWidget* at = ui->window()->childAt(p);
  EXPECT_TRUE(at == List() || List()->isAncestorOf(at));
}

TEST_F(QtWindowTest, ListColumnsAndHeaders) {
  QTableView* list = List();
  ASSERT_EQ(list->model()->columnCount(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(list->model()->headerData(i, Qt::Horizontal).toString().toStdString(), spec.columns[i].title);
    EXPECT_EQ(list->columnWidth(i), spec.columns[i].width);
  }
  EXPECT_FALSE(list->verticalHeader()->isVisible());
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(QtWindowTest, RichEditShowsLineBreaksAndGivesCrLfBack) {
  auto* edit = qobject_cast<QPlainTextEdit*>(W(Control::超级编辑框1));
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->document()->blockCount(), 3);
  EXPECT_EQ(edit->document()->findBlockByNumber(2).text(), QString("非专业人员请勿随意设置全局默认配置，以免引起电脑网络瘫痪。"));
  EXPECT_EQ(ui->ReadControlText(Control::超级编辑框1), spec.Find(Control::超级编辑框1)->caption);
  ui->WriteControlText(Control::超级编辑框1, "网关IP：192.0.2.1\r\n本地IP：192.0.2.10\r\n");
  EXPECT_EQ(edit->document()->blockCount(), 3);
  EXPECT_EQ(ui->ReadControlText(Control::超级编辑框1), "网关IP：192.0.2.1\r\n本地IP：192.0.2.10\r\n");
}

TEST_F(QtWindowTest, TextsOfEveryKindWrittenAndRead) {
  for (Control c : {Control::编辑框1, Control::编辑框2, Control::组合框1, Control::组合框3, Control::透明标签4,
                    Control::标签2, Control::按钮1}) {
    ui->WriteControlText(c, "文本 text 1");
    EXPECT_EQ(ui->ReadControlText(c), "文本 text 1");
  }
  EXPECT_EQ(qobject_cast<QLabel*>(W(Control::透明标签4))->text(), QString("文本 text 1"));
}

// ---- events -----------------------------------------------------------------------

TEST_F(QtWindowTest, CreatedFiresOnceAfterShowFromTheEventLoop) {
  ui->Show();
  EXPECT_EQ(rec.Count(Control::主窗口, Event::Created), 0) << "queued, not fired inside Show";
  ASSERT_TRUE(WaitUntil([&] { return rec.Count(Control::主窗口, Event::Created) == 1; }));
  ui->Show();
  RunPosted();
  EXPECT_EQ(rec.Count(Control::主窗口, Event::Created), 1);
}

TEST_F(QtWindowTest, ButtonClickFiresClicked) {
  ShowWindow();
  QTest::mouseClick(W(Control::按钮2), Qt::LeftButton);
  QTest::mouseClick(W(Control::按钮1), Qt::LeftButton);
  EXPECT_EQ(rec.Count(Control::按钮2, Event::Clicked), 1);
  EXPECT_EQ(rec.Count(Control::按钮1, Event::Clicked), 1);
}

TEST_F(QtWindowTest, ItemChosenOnlyForTheUsersPick) {
  ShowWindow();
  ui->SetVisible(Control::分组框1, true);
  auto* combo = qobject_cast<QComboBox*>(W(Control::组合框2));
  ui->WriteControlText(Control::组合框2, "typed");
  EXPECT_EQ(ui->ComboAddItem(Control::组合框2, "192.0.2.1"), 0);
  EXPECT_EQ(ui->ComboAddItem(Control::组合框2, "198.51.100.1"), 1);
  EXPECT_EQ(ui->ComboAddItem(Control::组合框2, "203.0.113.1"), 2);
  EXPECT_EQ(ui->ReadControlText(Control::组合框2), "typed") << "adding items keeps the text";
  ui->WriteControlText(Control::组合框2, "198.51.100.1");
  RunPosted();
  EXPECT_EQ(rec.Count(Control::组合框2, Event::ItemChosen), 0);

  // Picked from the open list with the mouse.
  combo->showPopup();
  QAbstractItemView* view = combo->view();
  ASSERT_TRUE(WaitUntil([&] { return view->isVisible(); }));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(2, 0)).center());
  ASSERT_TRUE(WaitUntil([&] { return rec.Count(Control::组合框2, Event::ItemChosen) == 1; }));
  EXPECT_EQ(ui->ReadControlText(Control::组合框2), "203.0.113.1");

  // Picked with the keyboard.
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Up);
  EXPECT_EQ(rec.Count(Control::组合框2, Event::ItemChosen), 2);
  EXPECT_EQ(ui->ReadControlText(Control::组合框2), "198.51.100.1");
  EXPECT_EQ(rec.Count(Control::组合框1, Event::ItemChosen), 0);
}

TEST_F(QtWindowTest, LeftButtonDownOnComboAndItsTextField) {
  ShowWindow();
  ui->SetVisible(Control::分组框2, true);
  auto* combo = qobject_cast<QComboBox*>(W(Control::组合框3));
  QTest::mousePress(combo->lineEdit(), Qt::LeftButton);
  QTest::mouseRelease(combo->lineEdit(), Qt::LeftButton);
  EXPECT_EQ(rec.Count(Control::组合框3, Event::LeftButtonDown), 1);
  QTest::mousePress(combo, Qt::LeftButton, {}, QPoint(combo->width() - 5, combo->height() / 2));
  EXPECT_EQ(rec.Count(Control::组合框3, Event::LeftButtonDown), 2);
  combo->hidePopup();
  QTest::mousePress(combo->lineEdit(), Qt::RightButton);
  EXPECT_EQ(rec.Count(Control::组合框3, Event::LeftButtonDown), 2) << "right button";
}

TEST_F(QtWindowTest, ListClicksMakeTheRowCurrentFirst) {
  ShowWindow();
  std::vector<int> selectedAtEvent;
  rec.onEvent = [&](const Fired& f) {
    if (f.control == Control::超级列表框1) selectedAtEvent.push_back(ui->ListSelectedRow(Control::超级列表框1));
  };
  QWidget* viewport = List()->viewport();
  const QPoint empty(20, viewport->height() - 10);

  // Empty list: a right click fires with no current row.
  QTest::mouseClick(viewport, Qt::RightButton, {}, empty);
  EXPECT_EQ(rec.Count(Control::超级列表框1, Event::RightClick), 1);
  EXPECT_EQ(selectedAtEvent, std::vector<int>{-1});

  FillRows(5);
  QTest::mouseClick(viewport, Qt::LeftButton, {}, RowPoint(1));
  EXPECT_EQ(rec.Count(Control::超级列表框1, Event::LeftClick), 1);
  QTest::mouseClick(viewport, Qt::RightButton, {}, RowPoint(3));
  EXPECT_EQ(rec.Count(Control::超级列表框1, Event::RightClick), 2);
  // Beside the rows: nothing is cleared, and it still fires.
  QTest::mouseClick(viewport, Qt::RightButton, {}, empty);
  EXPECT_EQ(rec.Count(Control::超级列表框1, Event::RightClick), 3);
  EXPECT_EQ(selectedAtEvent, (std::vector<int>{-1, 1, 3, 3}));
  EXPECT_EQ(ui->ListSelectedRow(Control::超级列表框1), 3);
}

TEST_F(QtWindowTest, CloseQueryDecidesAndAnAcceptedCloseEndsTheProgram) {
  ShowWindow();
  rec.closeAnswer = false;
  EXPECT_FALSE(ui->window()->close());
  EXPECT_EQ(rec.Count(Control::主窗口, Event::CloseQuery), 1);
  EXPECT_TRUE(ui->WindowExists());
  EXPECT_TRUE(ui->window()->isVisible());
  EXPECT_TRUE(quits.empty());
  rec.closeAnswer = true;
  ui->window()->close();
  EXPECT_EQ(quits, std::vector<int>{0});
  EXPECT_FALSE(ui->WindowExists());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(ui->window(), nullptr);
}

TEST_F(QtWindowTest, EndProgramEndsOnceAndTheWindowGoes) {
  ShowWindow();
  EXPECT_NE(ui->GetWindowHandle(), 0u);
  ui->EndProgram(7);
  ui->EndProgram(8);
  EXPECT_EQ(quits, std::vector<int>{7});
  EXPECT_FALSE(ui->WindowExists());
  EXPECT_EQ(ui->GetWindowHandle(), 0u);
  // The window is deleted once control is back in an event loop.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(ui->window(), nullptr);
  // What comes later finds no window and does no harm.
  EXPECT_EQ(ui->ReadControlText(Control::编辑框1), "");
  ui->WriteControlText(Control::编辑框1, "x");
  EXPECT_EQ(ui->ListRowCount(Control::超级列表框1), 0);
  EXPECT_EQ(rec.Count(Control::主窗口, Event::CloseQuery), 0) << "ending asks nothing";
}

// ---- drops ------------------------------------------------------------------------

TEST_F(QtWindowTest, FilesDroppedAnywhereAfterRegistration) {
  ShowWindow();
  QTemporaryDir dir;
  const QString p1 = dir.filePath("一.ini"), p2 = dir.filePath("two.ini");
  EXPECT_FALSE(DropFiles(W(Control::按钮1), {p1}));
  EXPECT_EQ(rec.Count(Control::拖放对象1, Event::FilesDropped), 0) << "nothing before registration";

  EXPECT_TRUE(ui->RegisterDropTarget(Control::拖放对象1, ui->GetWindowHandle()));
  EXPECT_FALSE(ui->RegisterDropTarget(Control::拖放对象1, ui->GetWindowHandle())) << "a second time";

  EXPECT_TRUE(DropFiles(W(Control::按钮1), {p1}));
  ASSERT_EQ(rec.Count(Control::拖放对象1, Event::FilesDropped), 1);
  EXPECT_EQ(rec.events.back().argument, p1.toStdString()) << "one file: its path alone";

  EXPECT_TRUE(DropFiles(List()->viewport(), {p1, p2}));
  EXPECT_EQ(rec.events.back().argument, p1.toStdString() + "\r\n" + p2.toStdString() + "\r\n");

  // An edit box takes no file drop for itself: the window gets it.
  EXPECT_TRUE(DropFiles(W(Control::编辑框2), {p2}));
  EXPECT_EQ(rec.events.back().argument, p2.toStdString());
  EXPECT_EQ(ui->ReadControlText(Control::编辑框2), "127.0.0.1:8080");

  // On a hidden panel's combo box (when shown) and on the window itself.
  ui->SetVisible(Control::分组框2, true);
  EXPECT_TRUE(DropFiles(qobject_cast<QComboBox*>(W(Control::组合框3))->lineEdit(), {p1}));
  EXPECT_TRUE(DropFiles(ui->window(), {p2}));
  EXPECT_EQ(rec.Count(Control::拖放对象1, Event::FilesDropped), 5);
}

// ---- list -------------------------------------------------------------------------

TEST_F(QtWindowTest, ListRowsCellsAndWholeOperations) {
  const Control L = Control::超级列表框1;
  ui->ListReplaceRows(L, std::vector<Row>{{}, {}});
  ui->ListSetCell(L, 1, 5, "备注");
  ui->ListSetCell(L, 2, 0, "no row");
  ui->ListSetCell(L, 0, 6, "no column");
  EXPECT_EQ(ui->ListGetCell(L, 1, 5), "备注");
  EXPECT_EQ(ui->ListGetCell(L, -1, 1), "");
  EXPECT_EQ(ui->ListGetCell(L, 2, 0), "");
  EXPECT_EQ(ui->ListGetCell(L, 0, 6), "");
  EXPECT_EQ(ui->ListSelectedRow(L), -1);

  std::vector<Row> rows;
  for (int i = 0; i < 20000; ++i) {
    rows.push_back({std::to_string(i + 1), "h" + std::to_string(i) + ".example.test", "192.0.2.1", "线路",
                    i % 2 ? "开启" : "关闭", "note " + std::to_string(i)});
  }
  ui->ListReplaceRows(L, rows);
  EXPECT_EQ(ui->ListRowCount(L), 20000);
  EXPECT_EQ(ui->ListGetCell(L, 0, 1), "h0.example.test");
  EXPECT_EQ(ui->ListGetCell(L, 19999, 5), "note 19999");
  EXPECT_EQ(ui->ListGetCell(L, 12345, 4), "开启");
  EXPECT_EQ(ui->ListGetCell(L, 20000, 0), "");
  EXPECT_EQ(List()->model()->rowCount(), 20000);

  ui->ListAppendFilledRow(L, {"", "new.example.test", "198.51.100.1"}, 0);
  EXPECT_EQ(ui->ListRowCount(L), 20001);
  EXPECT_EQ(ui->ListGetCell(L, 20000, 0), "20001");
  EXPECT_EQ(ui->ListGetCell(L, 20000, 2), "198.51.100.1");
  EXPECT_EQ(ui->ListGetCell(L, 20000, 5), "");
  ui->ListAppendFilledRow(L, {"keep"}, -1);
  EXPECT_EQ(ui->ListGetCell(L, 20001, 0), "keep");

  ui->ListReplaceRows(L, platform::ListRows());
  EXPECT_EQ(ui->ListRowCount(L), 0);
  EXPECT_EQ(ui->ListGetCell(L, 0, 0), "");
}

// ---- threads ----------------------------------------------------------------------

TEST_F(QtWindowTest, WorkerReadsWhileTheWindowThreadDelays) {
  ShowWindow();
  std::atomic<bool> done{false};
  std::string text;
  int rows = -1;
  std::thread worker([&] {
    // Writes are posted in order; a read after them sees them.
    for (int i = 0; i < 200; ++i) ui->WriteControlText(Control::透明标签4, std::to_string(i));
    ui->ListAppendFilledRow(Control::超级列表框1, {"", "a"}, 0);
    ui->ListAppendFilledRow(Control::超级列表框1, {"", "b"}, 0);
    text = ui->ReadControlText(Control::透明标签4) + "|" + ui->ReadControlText(Control::编辑框1) + "|" +
           ui->ListGetCell(Control::超级列表框1, 1, 0);
    rows = ui->ListRowCount(Control::超级列表框1);
    done = true;
  });
  for (int i = 0; i < 250 && !done; ++i) ui->Delay(20);
  worker.join();
  EXPECT_EQ(text, "199|Veltmark|2");
  EXPECT_EQ(rows, 2);
}

TEST_F(QtWindowTest, WorkerWaitingOnAWindowThatGoesGetsTheEmptyResult) {
  ShowWindow();
  std::atomic<bool> done{false};
  std::string text = "unset";
  std::thread worker([&] {
    text = ui->ReadControlText(Control::编辑框1);
    done = true;
  });
  // The call is queued; the window thread runs no event loop here, so it
  // never serves it. Then the window goes, and the worker gives up.
  EXPECT_TRUE(WaitWithoutEvents([&] { return ui->CallsWaiting() == 1; }));
  EXPECT_FALSE(done);
  ui->EndProgram(0);
  EXPECT_TRUE(WaitWithoutEvents([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(text, "");
  EXPECT_EQ(ui->CallsWaiting(), 0);

  std::thread later([&] {
    EXPECT_EQ(ui->AskUser("q", platform::AskOkCancel, "t"), platform::AnswerCancel);
    EXPECT_EQ(ui->ListSelectedRow(Control::超级列表框1), -1);
    EXPECT_FALSE(ui->WindowExists());
  });
  later.join();
}

TEST_F(QtWindowTest, EndProgramFromAWorkerIsPostedToTheWindowThread) {
  ShowWindow();
  std::thread worker([&] { ui->EndProgram(4); });
  worker.join();
  EXPECT_TRUE(quits.empty()) << "not ended on the worker";
  ASSERT_TRUE(WaitUntil([&] { return !quits.empty(); }));
  EXPECT_EQ(quits, std::vector<int>{4});
}

TEST_F(QtWindowTest, PostRunsOnTheWindowThread) {
  std::atomic<bool> onWindowThread{false};
  std::thread worker([&] { ui->Post([&] { onWindowThread = ui->OnWindowThread(); }); });
  worker.join();
  ASSERT_TRUE(WaitUntil([&] { return onWindowThread.load(); }));
  bool direct = false;
  ui->Post([&] { direct = true; });
  EXPECT_TRUE(direct) << "runs at once on the window thread";
}

TEST_F(QtWindowTest, DelayWaitsAndKeepsEventsFlowing) {
  bool ran = false;
  QMetaObject::invokeMethod(qApp, [&] { ran = true; }, Qt::QueuedConnection);
  ui->Delay(0);
  ui->Delay(-5);
  EXPECT_FALSE(ran) << "no wait: no events handled";
  QElapsedTimer t;
  t.start();
  ui->Delay(120);
  EXPECT_GE(t.elapsed(), 120);
  EXPECT_TRUE(ran);
}

// ---- dialogs ----------------------------------------------------------------------

// Whether a file dialog's model lists this entry among its folder's rows.
bool Listed(const QFileSystemModel& model, const QFileInfo& entry) {
  const QModelIndex folder = model.index(entry.absolutePath());
  for (int row = 0; row < model.rowCount(folder); ++row) {
    if (model.index(row, 0, folder).data().toString() == entry.fileName()) return true;
  }
  return false;
}

TEST_F(QtWindowTest, AskUserAnswersByButtonEscAndCloseBox) {
  BoxSeen seen;
  seen.icon = true;  // stays so when no box is seen
  AnswerNextBox(Answer::Escape, &seen);
  EXPECT_EQ(ui->AskUser("即将结束任务并退出？\r\n第二行", platform::AskOkCancel, "退出"), platform::AnswerCancel);
  EXPECT_EQ(seen.title, "退出");
  EXPECT_EQ(seen.text, "即将结束任务并退出？\n第二行");
  EXPECT_FALSE(seen.icon);

  BoxSeen two;
  AnswerNextBox(Answer::DefaultButton, &two);
  EXPECT_EQ(ui->AskUser("ok?", platform::AskOkCancel, "退出"), platform::AnswerOk);
  EXPECT_EQ(two.buttons, 2);

  AnswerNextBox(Answer::CloseBox);
  EXPECT_EQ(ui->AskUser("close?", platform::AskOkCancel, "退出"), platform::AnswerCancel);

  BoxSeen one;
  AnswerNextBox(Answer::Escape, &one);
  EXPECT_EQ(ui->AskUser("only OK", platform::AskOk), platform::AnswerOk);
  EXPECT_EQ(one.buttons, 1);
  EXPECT_EQ(one.title, "信息：");
}

TEST_F(QtWindowTest, AskUserFromAWorkerIsShownOnTheWindowThread) {
  ShowWindow();
  BoxSeen seen;
  AnswerNextBox(Answer::Escape, &seen);
  std::atomic<int> answer{-1};
  std::thread worker([&] { answer = ui->AskUser("worker", platform::AskOkCancel, "t"); });
  const bool answered = WaitUntil([&] { return answer.load() != -1; }, 10000);
  worker.join();
  EXPECT_TRUE(answered);
  EXPECT_EQ(answer.load(), platform::AnswerCancel);
  EXPECT_TRUE(seen.onAppThread);
}

TEST_F(QtWindowTest, BrowseForPathGivesAFileOrAFolderOrNothing) {
  QTemporaryDir dir;
  const QString file = dir.filePath("配置.ini");
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
  const QString folder = dir.filePath("folder");

  auto choose = [&](const QString& path, bool accept) {
    WhenModal([info = QFileInfo(path), accept, moved = false](QWidget* w) mutable {
      auto* d = qobject_cast<QFileDialog*>(w);
      if (d == nullptr) return false;
      if (!moved) {
        EXPECT_EQ(d->windowTitle(), QString("请选择需要载入的配置文件"));
        d->setDirectory(info.absolutePath());
        moved = true;
      }
      // The folder's contents load in the background; pick once the entry
      // is among the folder's rows in the dialog's model (called again from
      // the timer until then).
      auto* model = d->findChild<QFileSystemModel*>();
      if (model == nullptr || !Listed(*model, info)) return false;
      // Typed into the dialog's name field, as a user would.
      auto* name = d->findChild<QLineEdit*>("fileNameEdit");
      EXPECT_NE(name, nullptr);
      if (name != nullptr) name->setText(info.fileName());
      accept ? static_cast<QDialog*>(d)->accept() : d->reject();
      return true;
    });
  };
  choose(file, true);
  EXPECT_EQ(ui->BrowseForPath("请选择需要载入的配置文件", true), file.toStdString());
  choose(folder, true);
  EXPECT_EQ(ui->BrowseForPath("请选择需要载入的配置文件", true), folder.toStdString());
  choose(file, false);
  EXPECT_EQ(ui->BrowseForPath("请选择需要载入的配置文件", true), "");
}

TEST_F(QtWindowTest, PopupMenuShowsTheItemsAndFiresTheChosenOne) {
  ShowWindow();
  QStringList captions;
  QPoint at;
  QCursor::setPos(ui->window()->mapToGlobal(QPoint(200, 100)));
  const QPoint cursor = QCursor::pos();
  WhenPopup([&](QWidget* w) {
    auto* menu = qobject_cast<QMenu*>(w);
    if (menu == nullptr) return false;
    for (QAction* a : menu->actions()) captions << a->text();
    at = menu->pos();
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
    return true;
  });
  ui->PopupMenu(Control::菜单);
  EXPECT_EQ(captions, (QStringList{"开启分流", "关闭分流", "删除记录"}));
  EXPECT_EQ(at, cursor + QPoint(3, 3));
  EXPECT_EQ(rec.Count(Control::关闭分流, Event::Chosen), 0) << "fires after the caller returned";
  ASSERT_TRUE(WaitUntil([&] { return rec.Count(Control::关闭分流, Event::Chosen) == 1; }));
  EXPECT_EQ(ui->PopupCount(), 1);

  WhenPopup([&](QWidget* w) {
    QTest::keyClick(w, Qt::Key_Escape);
    return true;
  });
  ui->PopupMenu(Control::菜单);
  RunPosted();
  EXPECT_EQ(rec.Count(Control::开启分流, Event::Chosen) + rec.Count(Control::关闭分流, Event::Chosen) +
                rec.Count(Control::删除记录, Event::Chosen),
            1);
}

}  // namespace
}  // namespace quillon::gui_test
