#include "app/program.h"

#include <cstdio>
#include <cstdlib>

#include "app/event_table.h"
#include "app/window_description.h"
#include "import/prepared_import.h"
#include "lines/lines.h"
#include "platform/text.h"
#include "routing/config_paths.h"
#include "routing/global_line.h"
#include "routing/split_list.h"

namespace quillon::app {

using platform::AnswerOk;
using platform::AskOk;
using platform::AskOkCancel;
using platform::Control;

namespace {

// The config site that the run script starts, when nothing else is given.
constexpr const char* kDefaultSite = "127.0.0.1:18080";

}  // namespace

void EndProcess(int exitCode) {
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

std::string VersionGateUrl(const std::string& siteHost) {
  return "http://" + siteHost + "/flq/v.php?v=" + kVersion;
}

std::string NoticeText(const std::string& siteHost) {
  return "本程序为Zelkova开发，如有误报，请允许信任或删除不用。\r\n"
         "本程序为个人委托开发自用，如不慎外泄，请勿用于非法用途\r\n"
         "\r\n"
         "开发者：Ferrowin    委托人QQ/微信：512340987\r\n"
         "委托人所属平台：" +
         siteHost +
         "（Veltmark）\r\n"
         "\r\n"
         "确定打开程序并开始使用？";
}

std::string StartFailureText(const std::string& siteHost) {
  return "程序启动失败，请检查版本号是否过低，或请重新打开试试。\r\n"
         "如果仍旧无法启动，请前往平台下载最新版：" +
         siteHost +
         "\r\n"
         "或联系程序管理员，微信：512340987";
}

Options ParseOptions(const std::vector<std::string>& args,
                     const std::function<const char*(const char*)>& getenv) {
  Options o;
  bool haveHome = false, haveSite = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto take = [&](const std::string& name, std::string& into, bool& have) {
      if (a == name && i + 1 < args.size()) {
        into = args[++i];
        have = true;
        return true;
      }
      if (a.rfind(name + "=", 0) == 0) {
        into = a.substr(name.size() + 1);
        have = true;
        return true;
      }
      return false;
    };
    if (take("--home", o.home, haveHome)) continue;
    take("--site", o.site, haveSite);
  }
  if (!haveHome) {
    if (const char* v = getenv("QUILLON_HOME")) o.home = v;
  }
  if (!haveSite) {
    if (const char* v = getenv("QUILLON_SITE")) o.site = v;
  }
  if (o.site.empty()) o.site = kDefaultSite;
  return o;
}

Program::Program(platform::System& sys, platform::Ui& ui, std::string siteHost)
    : sys_(sys), ui_(ui), siteHost_(std::move(siteHost)), router_(sys, ui), workers_(sys, ui, router_) {}

void Program::Attach() {
  ui_.SetEventSink([this](Control c, platform::Event e, const std::string& arg) {
    return HandleEvent(c, e, arg);
  });
  ui_.SetCleanup([this] { FreeProgramState(); });
}

bool Program::HandleEvent(Control control, platform::Event event, const std::string& argument) {
  for (const auto& b : EventTable()) {
    if (b.control == control && b.event == event) return b.run(*this, argument);
  }
  return true;  // unbound: nothing happens, and a close is not refused
}

void Program::InitProgramState() { router_.Clear(); }

void Program::FreeProgramState() { router_.Clear(); }

void Program::RunStartup() {
  // The version gate: the body, up to its first NUL, must be exactly "1".
  const std::string answer = platform::ToText(sys_.HttpGetText(VersionGateUrl(siteHost_)));
  if (answer != "1") {
    ui_.AskUser(StartFailureText(siteHost_), AskOk, "分流器无法启动");
    ui_.EndProgram(0);
    return;
  }
  if (ui_.AskUser(NoticeText(siteHost_), AskOkCancel, "Quillon用户使用须知：") != AnswerOk) {
    ui_.EndProgram(0);
    return;
  }
  ui_.RegisterDropTarget(Control::拖放对象1, ui_.GetWindowHandle());
  routing::EnsureConfigDirectory(sys_);
  routing::RestoreGlobalLine(sys_, ui_);
  // One process at a time routes the split list (a second window, or the
  // headless service, may be running).
  if (!sys_.LockRouting(routing::ConfigFile(sys_, "routing.lock"))) {
    ui_.AskUser("另一个Quillon（窗口或后台服务）正在管理分流路由。\r\n本窗口只显示分流列表，不修改路由。", AskOk, "注意");
    workers_.SetRouting(false);
  }
  workers_.StartReapply();
}

bool Program::ConfirmExit() {
  if (ui_.AskUser("即将结束任务并退出？", AskOkCancel, "退出") != AnswerOk) return false;
  workers_.Stop();
  // A pass in progress is allowed to finish; the window keeps handling its
  // events meanwhile, since the pass may be writing to it. A worker in its
  // pause is not waited for.
  while (workers_.Busy()) ui_.Delay(1000);
  ui_.EndProgram(0);
  return true;
}

void Program::ShowGlobalPanel() { ui_.SetVisible(Control::分组框1, true); }
void Program::HideGlobalPanel() { ui_.SetVisible(Control::分组框1, false); }
void Program::ShowImportPanel() { ui_.SetVisible(Control::分组框2, true); }
void Program::HideImportPanel() { ui_.SetVisible(Control::分组框2, false); }

void Program::OpenDownloadsPage() { ui_.OpenUrl("http://" + siteHost_ + "/flq/pz.php"); }
void Program::OpenTutorialPage() { ui_.OpenUrl("http://" + siteHost_ + "/flq/jc.php"); }

void Program::ShowLineDetails() { lines::ShowLineDetails(sys_, ui_); }
void Program::ApplyGlobalLine() { routing::ApplyGlobalLine(sys_, ui_); }

void Program::ShowRowMenu() { routing::ShowRowMenu(ui_); }
void Program::CopyRowToInputs() { routing::CopyRowToInputs(ui_); }
void Program::EnableEntry() { routing::EnableEntry(sys_, ui_, [this] { workers_.StartRouteAll(); }); }
void Program::DisableEntry() { routing::DisableEntry(sys_, ui_, [this] { workers_.StartRouteAll(); }); }
void Program::DeleteEntry() { routing::DeleteEntry(sys_, ui_); }
void Program::StartAddWorker() { workers_.StartAdd(); }

void Program::ConfirmImport() { importing::ConfirmImport(sys_, ui_); }
void Program::ChooseImportFile() { importing::ChooseImportFile(ui_); }
void Program::TakeDroppedFile(const std::string& paths) { importing::TakeDroppedFile(ui_, paths); }

}  // namespace quillon::app
