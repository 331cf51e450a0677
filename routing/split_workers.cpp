#include "routing/split_workers.h"

namespace quillon::routing {

SplitWorkers::SplitWorkers(platform::System& sys, SplitRouter& router, PassHooks hooks)
    : sys_(sys), router_(router), hooks_(std::move(hooks)), state_(std::make_shared<State>()) {}

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

bool SplitWorkers::StartReapply() {
  state_->runFlag = 1;
  return Start([this] { ReapplySplitList(); });
}

void SplitWorkers::ReapplySplitList() {
  while (state_->runFlag == 1) {
    state_->busyFlag = 1;
    if (!hooks_.reload || hooks_.reload()) Route();
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
  const platform::RouteReport report = router_.RouteAllEntries(hooks_.progress);
  if (hooks_.routed) hooks_.routed(report);
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
