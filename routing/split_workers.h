// The background work of the split list: the re-apply worker (started once:
// a pass at once, then one every minute after the end of the last, and in
// between a routes-only pass soon after the network's own events call for
// one), the add workers (one per click on "加入列表") and the short worker
// that routes everything after an enable or disable. Every worker is
// counted, so the object's end waits for them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/system.h"
#include "routing/split_routes.h"

namespace quillon::routing {

class SplitWorkers {
 public:
  // What a pass tells the one who started the workers.
  struct PassHooks {
    // First in every full pass of the re-apply worker; false skips the pass
    // (the window is gone).
    std::function<bool()> reload;
    SplitRouter::Progress progress;                           // while entries are routed
    std::function<void(const platform::RouteReport&)> routed;  // after every routing run
  };

  // A burst of the network's events becomes one pass this long after its
  // first event.
  static constexpr std::chrono::milliseconds kCoalesce{150};
  // Between two routes-only passes at least this long, and at least twice
  // the last one's time: a flapping link costs a few passes a second.
  static constexpr std::chrono::milliseconds kSpacing{250};

  SplitWorkers(platform::System& sys, SplitRouter& router, PassHooks hooks);
  // Stops the workers and waits until none of them runs any more. The
  // program never gets here (it ends the process instead); tests and the
  // service do.
  ~SplitWorkers();
  SplitWorkers(const SplitWorkers&) = delete;
  SplitWorkers& operator=(const SplitWorkers&) = delete;

  // Runs `body` on a worker of its own; whether it started.
  bool Start(std::function<void()> body);

  // Starts the re-apply worker (run flag raised first) and the watch of the
  // network's events; whether the worker started.
  bool StartReapply();
  // The re-apply worker's body: passes while the run flag is 1, each
  // followed by a pause of `pauseMs` that Stop() cuts short and that
  // routes-only passes fill.
  void ReapplySplitList();
  // Starts a worker that routes every entry (enable and disable).
  void StartRouteAll();
  // Asks the re-apply worker for a routes-only pass soon (at most one runs
  // and one waits). Any thread.
  void RequestRoutePass();

  // Whether this process routes the split list. Without the routing lock
  // (another process routes) a pass only reloads, and enable and disable
  // store the status without routing.
  void SetRouting(bool routes) { routes_ = routes; }

  // Lowers the run flag and wakes the re-apply worker from its pause.
  void Stop();
  // Whether a pass of the re-apply worker or any routing run is going on.
  bool Busy() const;

  std::atomic<int>& RunFlag() { return state_->runFlag; }
  std::atomic<int>& BusyFlag() { return state_->busyFlag; }
  // The pause between full passes.
  int pauseMs = 60000;

 private:
  void Route(SplitRouter::Pass pass);
  // Waits until a routes-only pass is due before `deadline`: true then, false
  // at the deadline or on Stop().
  bool WaitForRoutePass(std::chrono::steady_clock::time_point deadline);

  // What a worker thread touches after the object is gone: shared with
  // every worker, so the last one to end frees it.
  struct State {
    std::atomic<int> runFlag{0};
    std::atomic<int> busyFlag{0};
    std::mutex lock;
    std::condition_variable wake;  // the pause, a wanted pass, and the end of a worker
    int active = 0;                // workers running now
    bool alive = true;             // false once the object is being destroyed
    bool routesWanted = false;     // a routes-only pass is asked for
  };

  platform::System& sys_;
  SplitRouter& router_;
  PassHooks hooks_;
  std::shared_ptr<State> state_;
  std::atomic<bool> routes_{true};
  std::chrono::steady_clock::duration spacing_ = kSpacing;  // re-apply worker only
  std::chrono::steady_clock::time_point lastRoutePass_;      // re-apply worker only
};

}  // namespace quillon::routing
