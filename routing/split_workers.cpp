#include "routing/split_workers.h"

#include <algorithm>

namespace quillon::routing {

using Clock = std::chrono::steady_clock;

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
  // The watcher's thread only asks; the pass runs on the re-apply worker.
  // Once this object is gone its events find `alive` false.
  sys_.WatchNetwork([this, state = state_](const platform::NetworkEvent& e) {
    std::lock_guard<std::mutex> hold(state->lock);
    if (!state->alive || !router_.CallsForRoutePass(e)) return;
    state->routesWanted = true;
    state->wake.notify_all();
  });
  return Start([this] { ReapplySplitList(); });
}

void SplitWorkers::ReapplySplitList() {
  while (state_->runFlag == 1) {
    state_->busyFlag = 1;
    if (!hooks_.reload || hooks_.reload()) Route(SplitRouter::Pass::Full);
    state_->busyFlag = 0;
    const Clock::time_point nextFull = Clock::now() + std::chrono::milliseconds(pauseMs);
    while (WaitForRoutePass(nextFull)) {
      state_->busyFlag = 1;
      const Clock::time_point start = Clock::now();
      Route(SplitRouter::Pass::RoutesOnly);
      lastRoutePass_ = Clock::now();
      spacing_ = std::max<Clock::duration>(kSpacing, 2 * (lastRoutePass_ - start));
      state_->busyFlag = 0;
    }
  }
}

bool SplitWorkers::WaitForRoutePass(Clock::time_point deadline) {
  std::unique_lock<std::mutex> hold(state_->lock);
  const auto stopped = [this] { return state_->runFlag != 1; };
  state_->wake.wait_until(hold, deadline, [&] { return stopped() || state_->routesWanted; });
  if (stopped() || !state_->routesWanted) return false;
  // The rest of the burst comes meanwhile, and the pass keeps its distance
  // from the last one.
  const Clock::time_point due = std::max(Clock::now() + kCoalesce, lastRoutePass_ + spacing_);
  if (state_->wake.wait_until(hold, std::min(due, deadline), stopped)) return false;
  state_->routesWanted = false;
  return Clock::now() < deadline;
}

void SplitWorkers::RequestRoutePass() {
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->routesWanted = true;
  }
  state_->wake.notify_all();
}

void SplitWorkers::StartRouteAll() {
  Start([this] { Route(SplitRouter::Pass::Full); });
}

void SplitWorkers::Route(SplitRouter::Pass pass) {
  if (!routes_) return;
  const platform::RouteReport report = router_.RouteAllEntries(hooks_.progress, pass);
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
