#include "app/presenter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/controls.h"
#include "app/messages.h"
#include "app/program.h"
#include "app/window_description.h"
#include "platform/fake/fake_home.h"
#include "platform/fake/fake_ui.h"

namespace quillon::app {
namespace {

using platform::AnswerCancel;
using platform::AnswerOk;
using platform::Event;
using platform::FakeHome;
using platform::FakeUi;
using platform::Row;
using Box = FakeUi::Box;
using Boxes = std::vector<Box>;
using Texts = std::vector<std::string>;

constexpr char kHost[] = "site.test:8080";
const std::string kGate = std::string("http://site.test:8080/flq/v.php?v=") + kVersion;
const Box kNotice{NoticeText(kHost), 1, kNoticeCaption};
const Box kFailure{StartFailureText(kHost), 0, kStartFailureCaption};

class PresenterTest : public ::testing::Test {
 protected:
  PresenterTest() { presenter.Attach(); }
  // The start, with the gate answering `body` and the notice answered.
  void Start(const std::string& body, int notice = AnswerOk) {
    home.sys.httpAnswers[kGate] = body;
    ui.answers.push_back(notice);
    ui.Fire(Control::主窗口, Event::Created);
  }
  void Select(int row) { ui.selectedRow = row; }
  Texts Column(int column) {
    std::lock_guard<std::recursive_mutex> hold(ui.lock);
    Texts cells;
    for (const Row& r : ui.rows) cells.push_back(r[column]);
    return cells;
  }

  FakeHome home;
  const platform::WindowLayout layout = BuildWindowLayout(kHost);
  FakeUi ui{layout};
  Presenter presenter{home.sys, ui, kHost};
};

TEST_F(PresenterTest, OnlyABodyOfExactlyOnePassesTheGate) {
  for (const std::string& body : Texts{"1\r\n", " 1", "01", "", "0", std::string("\0", 1) + "1"}) {
    FakeHome h;
    FakeUi u(layout);
    Presenter p(h.sys, u, kHost);
    p.Attach();
    h.sys.directories.clear();
    h.sys.httpAnswers[kGate] = body;
    u.answers = {AnswerOk};
    u.Fire(Control::主窗口, Event::Created);
    EXPECT_EQ(u.boxes, Boxes{kFailure}) << body;
    EXPECT_EQ(u.exitCode, 0);
    EXPECT_TRUE(h.sys.directories.empty());
    EXPECT_EQ(h.sys.discoveries, 0);
  }
  Start(std::string("1\0garbage", 9));
  EXPECT_EQ(ui.boxes, Boxes{kNotice});
  EXPECT_EQ(ui.exitCode, -1) << "the program goes on";
}

TEST_F(PresenterTest, TheStartSetsUpInOrderAndFillsTheLineSelectors) {
  home.sys.directories.clear();
  home.Section(FakeHome::kGlobalStore, FakeHome::kLine2, {{"id", "1"}});
  Start("1");
  EXPECT_EQ(ui.dropRegistrations, 1);
  const auto at = [&](const std::string& call) {
    return std::find(home.sys.calls.begin(), home.sys.calls.end(), call) - home.sys.calls.begin();
  };
  EXPECT_LT(at(std::string("CreateDirectory ") + FakeHome::kConfigDir), at("DiscoverGateways"));
  EXPECT_EQ(ui.comboItems[Control::组合框1], (Texts{FakeHome::kLine1, FakeHome::kLine2}));
  EXPECT_EQ(ui.comboItems[Control::组合框4], (Texts{kKeepLineItem, FakeHome::kLine1, FakeHome::kLine2}));
  EXPECT_EQ(ui.texts[Control::组合框2], FakeHome::kLine2) << "the stored global line";
  EXPECT_EQ(home.sys.commands, Texts{"cmd /C route add  0.0.0.0 mask 0.0.0.0 198.51.100.1 metric 1"});
  EXPECT_EQ(home.sys.pendingWorkers.size(), 1u) << "the re-apply worker";

  // Cancel on the notice ends the program before any of it.
  FakeHome h;
  FakeUi u(layout);
  Presenter p(h.sys, u, kHost);
  p.Attach();
  h.sys.httpAnswers[kGate] = "1";
  u.answers = {AnswerCancel};
  u.Fire(Control::主窗口, Event::Created);
  EXPECT_EQ(u.exitCode, 0);
  EXPECT_EQ(h.sys.discoveries, 0);
  EXPECT_EQ(u.dropRegistrations, 0);
}

TEST_F(PresenterTest, WithAnotherProcessRoutingTheWindowOnlyShowsTheList) {
  home.sys.routingLockTaken = true;
  ui.answers = {AnswerOk, AnswerOk};
  Start("1");
  EXPECT_EQ(ui.boxes.back(), (Box{kAnotherRouter, 0, kNoteCaption}));
  home.Entry("a.test", FakeHome::kLine1);
  home.sys.Answer("a.test", {"198.18.1.5"});
  // The re-apply worker's first pass, then the close.
  std::thread worker([&] { home.sys.RunPendingWorkers(); });
  while (Column(kDestinationColumn).empty()) std::this_thread::yield();
  presenter.Workers().Stop();
  worker.join();
  EXPECT_EQ(Column(kDestinationColumn), Texts{"a.test"}) << "the pass still reloads";
  EXPECT_TRUE(home.sys.lookedUp.empty()) << "but routes nothing";
}

TEST_F(PresenterTest, TheExitAsksThenWaitsForAPassInOneSecondSteps) {
  presenter.Workers().RunFlag() = 1;
  ui.answers = {AnswerCancel};
  EXPECT_FALSE(ui.Fire(Control::主窗口, Event::CloseQuery));
  EXPECT_EQ(ui.boxes, (Boxes{{kExitQuestion, 1, kExitCaption}}));
  EXPECT_EQ(presenter.Workers().RunFlag(), 1);
  EXPECT_EQ(ui.exitCode, -1);

  presenter.Workers().BusyFlag() = 1;
  int delays = 0;
  ui.onDelay = [&](int) {
    EXPECT_EQ(presenter.Workers().RunFlag(), 0) << "the run flag drops before the wait";
    if (++delays == 3) presenter.Workers().BusyFlag() = 0;
  };
  ui.answers = {AnswerOk};
  EXPECT_TRUE(ui.Fire(Control::主窗口, Event::CloseQuery));
  EXPECT_EQ(ui.delayedMs, 3000);
  EXPECT_EQ(ui.exitCode, 0);
}

TEST_F(PresenterTest, PanelsPagesLineDetailsAndTheDroppedFile) {
  ui.Fire(Control::按钮2, Event::Clicked);
  ui.Fire(Control::按钮7, Event::Clicked);
  ui.Fire(Control::按钮9, Event::Clicked);
  EXPECT_TRUE(ui.visible[Control::分组框1]);
  EXPECT_FALSE(ui.visible[Control::分组框2]);
  ui.Fire(Control::按钮4, Event::Clicked);
  EXPECT_FALSE(ui.visible[Control::分组框1]);
  ui.Fire(Control::按钮5, Event::Clicked);
  ui.Fire(Control::按钮6, Event::Clicked);
  EXPECT_EQ(ui.openedUrls, (Texts{"http://site.test:8080/flq/pz.php", "http://site.test:8080/flq/jc.php"}));
  ui.texts[Control::组合框2] = FakeHome::kLine1;
  ui.Fire(Control::组合框2, Event::ItemChosen);
  EXPECT_EQ(ui.texts[Control::超级编辑框1].rfind("网关IP：192.0.2.1\r\n本地IP：192.0.2.2", 0), 0u);
  ui.texts[Control::组合框2] = "203.0.113.1";
  ui.Fire(Control::组合框2, Event::ItemChosen);
  EXPECT_EQ(ui.texts[Control::超级编辑框1], "") << "no adapter: the box is emptied";
  ui.Fire(Control::拖放对象1, Event::FilesDropped, "/tmp/a.ini\r\n/tmp/b.ini\r\n");
  EXPECT_EQ(ui.texts[Control::组合框3], "/tmp/a.ini");
  ui.browseAnswers = {"", "/in/x.ini"};
  ui.Fire(Control::组合框3, Event::LeftButtonDown);
  EXPECT_EQ(ui.texts[Control::组合框3], "/tmp/a.ini") << "a cancelled dialog changes nothing";
  ui.Fire(Control::组合框3, Event::LeftButtonDown);
  EXPECT_EQ(ui.texts[Control::组合框3], "/in/x.ini");
}

TEST_F(PresenterTest, TheListShowsTheStoreAndItsRowActionsChangeIt) {
  home.Entry("a.test", FakeHome::kLine1, "1", "甲");
  home.Entry("b.test", FakeHome::kLine2, "-1");
  ASSERT_TRUE(presenter.ReloadSplitList());
  EXPECT_EQ(ui.rows, (std::vector<Row>{{"1", "a.test", FakeHome::kLine1, "以太网", "开启", "甲"},
                                       {"2", "b.test", FakeHome::kLine2, "WLAN", "关闭", ""}}));
  // Nothing is selected: no action does anything.
  for (const Control item : {Control::开启分流, Control::关闭分流, Control::删除记录}) ui.Fire(item, Event::Chosen);
  ui.Fire(Control::超级列表框1, Event::RightClick);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(ui.poppedMenus.empty());

  Select(0);
  ui.Fire(Control::超级列表框1, Event::LeftClick);
  EXPECT_EQ(ui.texts[Control::编辑框2], "a.test");
  EXPECT_EQ(ui.texts[Control::组合框1], FakeHome::kLine1);
  EXPECT_EQ(ui.texts[Control::编辑框1], "甲");
  ui.Fire(Control::超级列表框1, Event::RightClick);
  EXPECT_EQ(ui.poppedMenus.size(), 1u);

  Select(1);
  ui.answers = {AnswerOk, AnswerCancel};
  ui.Fire(Control::开启分流, Event::Chosen);
  EXPECT_EQ(home.Value("b.test", "zt"), "1");
  EXPECT_EQ(ui.rows[1][kStatusColumn], "开启");
  EXPECT_EQ(home.sys.pendingWorkers.size(), 1u) << "OK routes every entry";
  ui.Fire(Control::关闭分流, Event::Chosen);
  EXPECT_EQ(home.Value("b.test", "zt"), "-1") << "Cancel keeps the new status";
  EXPECT_EQ(ui.rows[1][kStatusColumn], "关闭");
  EXPECT_EQ(home.sys.pendingWorkers.size(), 1u) << "Cancel routes nothing";
  EXPECT_EQ(ui.boxes, (Boxes{{kEnableDone, 1, kNoteCaption}, {kDone, 1, kNoteCaption}}));

  Select(0);
  ui.answers = {AnswerOk};
  ui.Fire(Control::删除记录, Event::Chosen);
  EXPECT_EQ(ui.boxes.back(), (Box{"是否删除：a.test", 1, kDeleteCaption}));
  EXPECT_EQ(ui.rows, (std::vector<Row>{{"1", "b.test", FakeHome::kLine2, "WLAN", "关闭", ""}}));
}

TEST_F(PresenterTest, AReloadNeverUndoesAWriteThatCameAfterItsRead) {
  // The re-apply worker's reload reads the store; its rows reach the window
  // only once the window thread is free. Meanwhile the user enables an
  // entry, deletes one, and an add stores one.
  home.Entry("a.test", FakeHome::kLine1, "-1");
  home.Entry("b.test", FakeHome::kLine1);
  ASSERT_TRUE(presenter.ReloadSplitList());
  ui.deferQueue = true;
  ASSERT_TRUE(presenter.ReloadSplitList());
  Select(0);
  ui.answers = {AnswerCancel, AnswerOk};
  ui.Fire(Control::开启分流, Event::Chosen);
  home.sys.Answer("c.test", {"198.18.1.5"});
  ui.texts[Control::编辑框2] = "c.test";
  ui.texts[Control::组合框1] = FakeHome::kLine2;
  ui.Fire(Control::按钮1, Event::Clicked);
  home.sys.RunPendingWorkers();
  ui.RunQueued();
  EXPECT_EQ(Column(kDestinationColumn), (Texts{"a.test", "b.test", "c.test"}));
  EXPECT_EQ(Column(kStatusColumn), (Texts{"开启", "开启", "开启"}));
  EXPECT_EQ(Column(kNumberColumn), (Texts{"1", "2", "3"}));
}

TEST_F(PresenterTest, AnAddTellsWhyItStoredNothing) {
  home.sys.Answer("a.test", {"198.18.1.5"});
  home.sys.lookups["none.test"] = {true, false, {}, 0};
  const auto add = [&](const std::string& destination, const std::string& line) {
    ui.texts[Control::编辑框2] = destination;
    ui.texts[Control::组合框1] = line;
    ui.answers.push_back(AnswerOk);
    ui.Fire(Control::按钮1, Event::Clicked);
    home.sys.RunPendingWorkers();
  };
  add("a.test", "");
  add("", FakeHome::kLine1);
  add("a b", FakeHome::kLine1);
  add("a.test", "gateway");
  add("none.test", FakeHome::kLine1);  // no answer: nothing stored, nothing said
  home.sys.failWrites = true;
  add("a.test", FakeHome::kLine1);
  EXPECT_EQ(ui.boxes, (Boxes{{kChooseLine, 0, kNoteCaption}, {kEnterDestination, 0, kNoteCaption},
                             {kBadDestination, 0, kNoteCaption}, {kBadLine, 0, kNoteCaption},
                             {kNotStored, 0, kErrorCaption}}));
  EXPECT_TRUE(ui.rows.empty());
  home.sys.failWrites = false;
  ui.rows = {{"1", "x.test", "", "", "", ""}};
  add("a.test", FakeHome::kLine1);
  EXPECT_EQ(ui.rows.back(), (Row{"2", "a.test", FakeHome::kLine1, "以太网", "开启", "Veltmark"}));
}

TEST_F(PresenterTest, TheImportChecksItsInputsAndCountsWhatItStored) {
  ui.answers = {AnswerOk, AnswerOk};
  ui.Fire(Control::按钮8, Event::Clicked);
  ui.texts[Control::组合框4] = kKeepLineItem;
  ui.Fire(Control::按钮8, Event::Clicked);
  EXPECT_EQ(ui.boxes, (Boxes{{kChooseImportLine, 0, kErrorCaption}, {kChooseImportFile, 0, kErrorCaption}}));
  home.Section("/in/p.ini", "a.test", {{"xl", FakeHome::kLine2}, {"zt", "1"}});
  home.Section("/in/p.ini", "b.test", {{"xl", FakeHome::kLine2}, {"wz", "2"}});
  ui.texts[Control::组合框3] = "/in/p.ini";
  ui.answers = {AnswerOk, AnswerOk};
  ui.Fire(Control::按钮8, Event::Clicked);
  EXPECT_EQ(home.Value("a.test", "xl"), "(none)") << "the import runs on a worker, off the window's thread";
  home.sys.RunPendingWorkers();
  EXPECT_EQ(home.Value("a.test", "xl"), FakeHome::kLine2) << "the keep item keeps the file's line";
  EXPECT_EQ(ui.rows, (std::vector<Row>{{"1", "a.test", FakeHome::kLine2, "WLAN", "开启", ""}}));
  importing::ImportReport one;
  one.stored = 1;
  EXPECT_EQ(std::vector<Box>(ui.boxes.end() - 2, ui.boxes.end()),
            (Boxes{{kOtherLayout, 0, kErrorCaption}, {ImportCountText(one), 0, platform::kDefaultCaption}}));
  // A list: it has no lines, so the keep item is refused; with a line its
  // entries are added, and the count says what was left out and that names
  // are routed as themselves.
  home.sys.files["/in/list.txt"] = "a.test\nc.test\n# x\n&bad\n";
  ui.texts[Control::组合框3] = "/in/list.txt";
  ui.answers = {AnswerOk, AnswerOk};
  ui.Fire(Control::按钮8, Event::Clicked);
  home.sys.RunPendingWorkers();
  EXPECT_EQ(ui.boxes.back(), (Box{kListNeedsLine, 0, kErrorCaption}));
  ui.texts[Control::组合框4] = FakeHome::kLine1;
  ui.answers = {AnswerOk, AnswerOk};
  ui.Fire(Control::按钮8, Event::Clicked);
  home.sys.RunPendingWorkers();
  EXPECT_EQ(ui.rows.back(), (Row{"2", "c.test", FakeHome::kLine1, "以太网", "开启", ""}));
  EXPECT_EQ(ui.boxes.back().text,
            "本次载入[1]条配置已完成\r\n跳过无效的行[1]条，已在分流列表中的[1]条保持不变。\r\n"
            "列表中的域名只分流名称本身，不含其子域名；要让整个域名（含子域名）走线路，"
            "请在路由器上使用 quillon --export 目录 --format router。");
}

// The program with one worker in its minute's pause and one in a lookup that
// never ends, closed by the user; then main's end.
[[noreturn]] void CloseWithLiveWorkers() {
  auto* home = new FakeHome;  // owned as main owns it: never freed, the process ends instead
  home->sys.realThreads = true;
  home->sys.httpAnswers[kGate] = "1";
  std::atomic<bool> inLookup{false};
  home->sys.lookups["slow.test"] = {};
  home->sys.onLookup = [&](const std::string&) {
    inLookup = true;
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  };
  const auto* layout = new platform::WindowLayout(BuildWindowLayout(kHost));
  auto* ui = new FakeUi(*layout);
  auto* presenter = new Presenter(home->sys, *ui, kHost);
  presenter->Attach();
  ui->answers = {AnswerOk, AnswerOk};
  ui->Fire(Control::主窗口, Event::Created);  // the re-apply worker starts: empty store, then its pause
  const auto passDone = [&] {
    std::lock_guard<std::recursive_mutex> hold(home->sys.lock);
    return std::count(home->sys.calls.begin(), home->sys.calls.end(),
                      std::string("IniSections ") + FakeHome::kStore) >= 2 &&
           presenter->Workers().BusyFlag() == 0;
  };
  while (!passDone()) std::this_thread::yield();
  ui->texts[Control::编辑框2] = "slow.test";
  ui->texts[Control::组合框1] = FakeHome::kLine1;
  ui->Fire(Control::按钮1, Event::Clicked);
  while (!inLookup) std::this_thread::yield();
  ui->Fire(Control::主窗口, Event::CloseQuery);
  EndProcess(ui->exitCode == 0 ? 0 : 3);
}

// The process ends at once with exit code 0, and nothing those workers use
// is destroyed under them (checked by AddressSanitizer in the linux-asan
// build).
TEST(ProgramEnd, ClosesWhileAWorkerPausesAndOneLooksUp) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CloseWithLiveWorkers(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quillon::app
