#include "app/program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/event_table.h"
#include "app/window_description.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"

namespace quillon::app {
namespace {

using platform::AnswerCancel;
using platform::AnswerOk;
using platform::Control;
using platform::Event;
using platform::FakeSystem;
using platform::FakeUi;
using Box = FakeUi::Box;

constexpr const char* kHost = "site.test:8080";
const std::string kGate = std::string("http://site.test:8080/flq/v.php?v=") + kVersion;
constexpr const char* kConfigDir = "/q/分流器配置";

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() : spec(BuildWindowSpec(kHost)), ui(spec), program(sys, ui, kHost) {
    sys.gatewayText = "192.0.2.1;";
    program.InitProgramState();
    program.Attach();
  }
  void Gate(const std::string& body) { sys.httpAnswers[kGate] = body; }
  bool MadeConfigDirectory() const { return sys.directories.count(kConfigDir) > 0; }

  platform::WindowSpec spec;
  FakeSystem sys;
  FakeUi ui;
  Program program;
};

const Box kFailure{
    "程序启动失败，请检查版本号是否过低，或请重新打开试试。\r\n如果仍旧无法启动，请前往平台下载最新版：site.test:8080"
    "\r\n或联系程序管理员，微信：512340987",
    0, "分流器无法启动"};
const Box kNotice{
    "本程序为Zelkova开发，如有误报，请允许信任或删除不用。\r\n本程序为个人委托开发自用，如不慎外泄，请勿用于非法用途"
    "\r\n\r\n开发者：Ferrowin    委托人QQ/微信：512340987\r\n委托人所属平台：site.test:8080（Veltmark）\r\n\r\n"
    "确定打开程序并开始使用？",
    1, "Quillon用户使用须知："};

// A fresh program whose version gate answers `body`, started with the
// notice answered OK.
struct Started {
  Started(const platform::WindowSpec& spec, const std::string& body) : u(spec), p(s, u, kHost) {
    p.Attach();
    s.httpAnswers[kGate] = body;
    u.answers = {AnswerOk};
    u.Fire(Control::主窗口, Event::Created);
  }
  FakeSystem s;
  FakeUi u;
  Program p;
};

TEST_F(ProgramTest, GateRefusesEveryBodyButExactlyOne) {
  for (const std::string& body :
       std::vector<std::string>{"1\r\n", " 1", "01", "", "0", "11", std::string("\0", 1) + "1"}) {
    Started started(spec, body);
    auto& s = started.s;
    auto& u = started.u;
    EXPECT_EQ(u.boxes, (std::vector<Box>{kFailure})) << "body: " << body;
    EXPECT_EQ(u.exitCode, 0);
    EXPECT_EQ(s.directories.count(kConfigDir), 0u);
    EXPECT_EQ(u.dropRegistrations, 0);
    EXPECT_EQ(s.discoveries, 0);
  }
}

TEST_F(ProgramTest, GateAcceptsOneAndOneFollowedByANul) {
  for (const std::string& body : std::vector<std::string>{"1", std::string("1\0garbage", 9)}) {
    Started started(spec, body);
    auto& s = started.s;
    auto& u = started.u;
    EXPECT_EQ(u.boxes, (std::vector<Box>{kNotice}));
    EXPECT_EQ(u.exitCode, -1) << "the program goes on";
    EXPECT_EQ(s.httpRequests, (std::vector<std::string>{kGate}));
  }
}

TEST_F(ProgramTest, AcceptedNoticeSetsUpInOrder) {
  Gate("1");
  ui.answers = {AnswerOk};
  ui.Fire(Control::主窗口, Event::Created);
  EXPECT_EQ(ui.dropRegistrations, 1);
  EXPECT_TRUE(MadeConfigDirectory());
  // The line selectors are filled by the global line's restore.
  EXPECT_EQ(ui.comboItems[Control::组合框4], (std::vector<std::string>{"不更改分配线路", "192.0.2.1"}));
  const auto at = [&](const std::string& call) {
    return std::find(sys.calls.begin(), sys.calls.end(), call) - sys.calls.begin();
  };
  EXPECT_LT(at("FileExists /q/分流器配置"), at("CreateDirectory /q/分流器配置"));
  EXPECT_LT(at("CreateDirectory /q/分流器配置"), at("DiscoverGateways"));
}

TEST_F(ProgramTest, CancelOrEscOnTheNoticeEndsWithoutAConfigDirectory) {
  Gate("1");
  ui.answers = {AnswerCancel};  // Esc and the close box answer Cancel too
  ui.Fire(Control::主窗口, Event::Created);
  EXPECT_EQ(ui.boxes, (std::vector<Box>{kNotice}));
  EXPECT_EQ(ui.exitCode, 0);
  EXPECT_FALSE(MadeConfigDirectory());
  EXPECT_EQ(ui.dropRegistrations, 0);
  EXPECT_EQ(sys.discoveries, 0);
}

TEST_F(ProgramTest, AnExistingConfigDirectoryIsLeftAlone) {
  sys.directories.insert(kConfigDir);
  Gate("1");
  ui.answers = {AnswerOk};
  ui.Fire(Control::主窗口, Event::Created);
  EXPECT_EQ(std::count(sys.calls.begin(), sys.calls.end(), std::string("CreateDirectory ") + kConfigDir), 0);
  EXPECT_EQ(sys.discoveries, 1);
}

TEST_F(ProgramTest, WithTheRoutingLockTakenTheWindowOnlyShowsTheList) {
  sys.routingLockTaken = true;
  Gate("1");
  ui.answers = {AnswerOk, AnswerOk};
  ui.Fire(Control::主窗口, Event::Created);
  EXPECT_EQ(ui.boxes.back(),
            (Box{"另一个Quillon（窗口或后台服务）正在管理分流路由。\r\n本窗口只显示分流列表，不修改路由。", 0, "注意"}));
  EXPECT_EQ(std::count(sys.calls.begin(), sys.calls.end(), "LockRouting /q/分流器配置/routing.lock"), 1);
  program.Workers().Stop();  // the re-apply worker then ends at once
  program.Workers().StartRouteAll();  // as enable and disable do
  sys.RunPendingWorkers();
  EXPECT_EQ(sys.routePasses, 0);
}

TEST_F(ProgramTest, RefusedExitChangesNothing) {
  program.Workers().RunFlag() = 1;
  ui.answers = {AnswerCancel};
  EXPECT_FALSE(ui.Fire(Control::主窗口, Event::CloseQuery));
  EXPECT_EQ(ui.boxes, (std::vector<Box>{{"即将结束任务并退出？", 1, "退出"}}));
  EXPECT_EQ(program.Workers().RunFlag(), 1);
  EXPECT_EQ(ui.exitCode, -1);
  EXPECT_TRUE(ui.windowExists);
}

TEST_F(ProgramTest, AcceptedExitWaitsForABusyPassInOneSecondSteps) {
  program.Workers().RunFlag() = 1;
  program.Workers().BusyFlag() = 1;
  int delays = 0;
  ui.onDelay = [&](int) {
    EXPECT_EQ(program.Workers().RunFlag(), 0) << "the run flag drops before the wait";
    EXPECT_EQ(ui.exitCode, -1) << "no end while the pass is busy";
    if (++delays == 3) program.Workers().BusyFlag() = 0;
  };
  ui.answers = {AnswerOk};
  EXPECT_TRUE(ui.Fire(Control::主窗口, Event::CloseQuery));
  EXPECT_EQ(ui.delayedMs, 3000);
  EXPECT_EQ(ui.exitCode, 0);
}

TEST_F(ProgramTest, AcceptedExitWithoutAPassEndsAtOnce) {
  ui.answers = {AnswerOk};
  EXPECT_TRUE(ui.Fire(Control::主窗口, Event::CloseQuery));
  EXPECT_EQ(ui.delayedMs, 0);
  EXPECT_EQ(ui.exitCode, 0);
}

TEST_F(ProgramTest, PanelButtonsShowAndHideOnlyTheirPanel) {
  ui.Fire(Control::按钮2, Event::Clicked);
  ui.Fire(Control::按钮2, Event::Clicked);
  EXPECT_TRUE(ui.visible[Control::分组框1]);
  EXPECT_FALSE(ui.visible[Control::分组框2]);
  ui.Fire(Control::按钮7, Event::Clicked);
  EXPECT_TRUE(ui.visible[Control::分组框1]);
  EXPECT_TRUE(ui.visible[Control::分组框2]);
  ui.Fire(Control::按钮9, Event::Clicked);
  EXPECT_TRUE(ui.visible[Control::分组框1]);
  EXPECT_FALSE(ui.visible[Control::分组框2]);
  ui.Fire(Control::按钮4, Event::Clicked);
  ui.Fire(Control::按钮4, Event::Clicked);
  EXPECT_FALSE(ui.visible[Control::分组框1]);
}

TEST_F(ProgramTest, PageButtonsOpenTheSitePages) {
  ui.Fire(Control::按钮5, Event::Clicked);
  ui.Fire(Control::按钮6, Event::Clicked);
  EXPECT_EQ(ui.openedUrls, (std::vector<std::string>{"http://site.test:8080/flq/pz.php",
                                                     "http://site.test:8080/flq/jc.php"}));
}

TEST_F(ProgramTest, RowMenuOnlyForARowWithADestination) {
  ui.Fire(Control::超级列表框1, Event::RightClick);  // no row at all
  ui.rows = {{"1", "", "192.0.2.1", "", "开启", ""}, {"2", "example.test", "192.0.2.1", "", "开启", ""}};
  ui.selectedRow = 0;  // a row whose 网址/IP is empty
  ui.Fire(Control::超级列表框1, Event::RightClick);
  EXPECT_TRUE(ui.poppedMenus.empty());
  ui.selectedRow = 1;
  ui.Fire(Control::超级列表框1, Event::RightClick);
  EXPECT_EQ(ui.poppedMenus, (std::vector<Control>{Control::菜单}));
}

TEST_F(ProgramTest, TheFirstDroppedPathGoesIntoTheFileSelector) {
  ui.Fire(Control::拖放对象1, Event::FilesDropped, "/tmp/a.ini\r\n/tmp/b.ini\r\n");
  EXPECT_EQ(ui.texts[Control::组合框3], "/tmp/a.ini");
}

TEST_F(ProgramTest, PickingALineShowsItsDetails) {
  sys.adapters = {{"eth0", "veth", "", "192.0.2.2", "255.255.255.0", "192.0.2.1"}};
  ui.texts[Control::组合框2] = "192.0.2.1";
  ui.Fire(Control::组合框2, Event::ItemChosen);
  EXPECT_EQ(ui.texts[Control::超级编辑框1].rfind("网关IP：192.0.2.1\r\n本地IP：192.0.2.2", 0), 0u);
}

TEST(EventTable, EveryBindingNamesAControlOfTheWindowOnce) {
  const auto spec = BuildWindowSpec(kHost);
  const auto& table = EventTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_NE(spec.Find(table[i].control), nullptr) << table[i].routine;
    for (std::size_t j = i + 1; j < table.size(); ++j) {
      EXPECT_FALSE(table[i].control == table[j].control && table[i].event == table[j].event) << table[i].routine;
    }
  }
}

// The program with one worker in its minute's pause and one in a lookup that
// never ends, closed by the user; then main's end.
[[noreturn]] void CloseWithLiveWorkers() {
  auto* sys = new FakeSystem;  // owned as main owns it: never freed, the process ends instead
  sys->realThreads = true;
  sys->directories.insert(kConfigDir);
  sys->gatewayText = "192.0.2.1;";
  sys->httpAnswers[kGate] = "1";
  std::atomic<bool> inLookup{false};
  sys->lookups["slow.test"] = "";
  sys->onLookup = [&](const std::string&) {
    inLookup = true;
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  };
  const auto spec = BuildWindowSpec(kHost);
  auto* ui = new FakeUi(spec);
  auto* program = new Program(*sys, *ui, kHost);
  program->InitProgramState();
  program->Attach();
  ui->answers = {AnswerOk, AnswerOk};
  ui->Fire(Control::主窗口, Event::Created);  // the re-apply worker starts: empty store, then its pause
  const auto passDone = [&] {
    std::lock_guard<std::recursive_mutex> hold(sys->lock);
    return std::count(sys->calls.begin(), sys->calls.end(), "IniSections /q/分流器配置/http.ini") == 2 &&
           program->Workers().BusyFlag() == 0;
  };
  while (!passDone()) std::this_thread::yield();
  ui->texts[Control::编辑框2] = "slow.test";
  ui->texts[Control::组合框1] = "192.0.2.1";
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

TEST(ParseOptions, ArgumentsThenEnvironmentThenDefault) {
  const auto env = [](const char* name) -> const char* {
    if (std::string(name) == "QUILLON_HOME") return "/env/home";
    if (std::string(name) == "QUILLON_SITE") return "env.test";
    return nullptr;
  };
  const auto none = [](const char*) -> const char* { return nullptr; };
  Options o = ParseOptions({"--home", "/a", "--site=b.test:81"}, env);
  EXPECT_EQ(o.home, "/a");
  EXPECT_EQ(o.site, "b.test:81");
  o = ParseOptions({}, env);
  EXPECT_EQ(o.home, "/env/home");
  EXPECT_EQ(o.site, "env.test");
  o = ParseOptions({"--site"}, none);  // a flag without its value is ignored
  EXPECT_EQ(o.home, "");
  EXPECT_EQ(o.site, "127.0.0.1:18080");
}

}  // namespace
}  // namespace quillon::app
