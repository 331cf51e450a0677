#include "routing/split_workers.h"

#include "lines/lines.h"
#include "platform/safety.h"
#include "routing/config_paths.h"
#include "routing/split_list.h"

namespace quillon::routing {

using platform::AskOk;
using platform::Control;

namespace {

constexpr char kCaption[] = "注意";

}  // namespace

SplitWorkers::SplitWorkers(platform::System& sys, platform::Ui& ui, SplitRouter& router)
    : sys_(sys), ui_(ui), router_(router), state_(std::make_shared<State>()) {}

SplitWorkers::~SplitWorkers() {
  Stop();
  std::unique_lock<std::mutex> hold(state_->lock);
  state_->alive = false;
  state_->wake.wait(hold, [this] { return state_->active == 0; });
}

bool SplitWorkers::Start(std::function<void()> body) {
  return sys_.StartWorker([state = state_, body = std::move(body)] {
    {
      // A worker that comes to run only after the object has gone does
      // nothing: what its body would touch is gone.
      std::lock_guard<std::mutex> hold(state->lock);
      if (!state->alive) return;
      ++state->active;
    }
    body();
    std::lock_guard<std::mutex> hold(state->lock);
    --state->active;
    state->wake.notify_all();
  });
}

void SplitWorkers::StartAdd() {
  Start([this] { AddEntry(); });
}

void SplitWorkers::AddEntry() {
  SplitEntry entry;
  entry.line = ui_.ReadControlText(Control::组合框1);
  if (entry.line.empty()) {
    ui_.AskUser("请选择需要分配的线路！", AskOk, kCaption);
    return;
  }
  entry.destination = ui_.ReadControlText(Control::编辑框2);
  if (entry.destination.empty()) {
    // The lookup tool, given no name, would wait for input for ever.
    ui_.AskUser("请输入需要分流的网址/IP！", AskOk, kCaption);
    return;
  }
  if (!platform::IsSafeDestination(entry.destination)) {
    ui_.AskUser("网址/IP只能由字母、数字和 . - _ : / 等字符组成，不能含空格或特殊符号！", AskOk, kCaption);
    return;
  }
  if (!platform::IsGatewayText(entry.line)) {
    ui_.AskUser("分配线路必须是线路网关的IPv4地址，请从列表中选择！", AskOk, kCaption);
    return;
  }
  entry.note = ui_.ReadControlText(Control::编辑框1);
  entry.status = kEnabled;
  const platform::System::LookupAnswer answer = router_.LookupForAdd(entry.destination);
  if (!answer.started) return;
  AddEntryFromInput(answer.output, entry);
}

void SplitWorkers::AddEntryFromInput(const std::string& output, const SplitEntry& entry) {
  if (ExtractAnswerAddresses(output, entry.destination).addresses.empty()) return;
  if (!WriteSplitEntry(sys_, SplitStore(sys_), entry)) {
    // A row for an entry that is not stored would vanish at the next reload.
    ui_.AskUser("无法保存到分流列表，请检查配置目录是否可以写入。", AskOk, "异常");
    return;
  }
  const std::string connection = lines::FindLineByGateway(sys_, entry.line).ConnectionName;
  ui_.ListAppendFilledRow(Control::超级列表框1, SplitRow("", entry, connection), kNumberColumn);
}

bool SplitWorkers::StartReapply() {
  state_->runFlag = 1;
  return Start([this] { ReapplySplitList(); });
}

void SplitWorkers::ReapplySplitList() {
  while (state_->runFlag == 1) {
    state_->busyFlag = 1;
    if (ui_.WindowExists()) {
      ReloadSplitList(sys_, ui_);
      Route();
    }
    state_->busyFlag = 0;
    Pause();
  }
}

void SplitWorkers::Pause() {
  std::unique_lock<std::mutex> hold(state_->lock);
  state_->wake.wait_for(hold, std::chrono::milliseconds(pauseMs), [this] { return state_->runFlag != 1; });
}

void SplitWorkers::StartRouteAll() {
  Start([this] { Route(); });
}

void SplitWorkers::Route() {
  if (!routes_) return;
  const platform::System::RouteChanges changes = router_.RouteAllEntries();
  if (changes.refused > 0 && !toldRights_.exchange(true)) {
    ui_.AskUser("Quillon没有修改路由表的权限，分流路由没有生效。\r\n" + sys_.RouteRightsAdvice(), AskOk, kCaption);
  }
}

void SplitWorkers::Stop() {
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->runFlag = 0;
  }
  state_->wake.notify_all();
}

bool SplitWorkers::Busy() const { return state_->busyFlag == 1 || router_.Routing(); }

}  // namespace quillon::routing
