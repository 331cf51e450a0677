// The two kinds of background work of the split list: the add worker (one
// per click on "加入列表": checks, looks the destination up, stores it and
// appends its row when the lookup answered with an IPv4 address) and the
// re-apply worker (started once: a reload-and-route pass at once, then one
// every minute after the end of the last), plus the short worker that routes
// everything after an enable or disable.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/system.h"
#include "platform/ui.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"

namespace quillon::routing {

class SplitWorkers {
 public:
  SplitWorkers(platform::System& sys, platform::Ui& ui, SplitRouter& router);
  // Stops the workers and waits until none of them runs any more. The
  // program never gets here (it ends the process instead); tests that start
  // real threads do.
  ~SplitWorkers();
  SplitWorkers(const SplitWorkers&) = delete;
  SplitWorkers& operator=(const SplitWorkers&) = delete;

  // Click handler of 按钮1: starts an add worker and returns at once.
  void StartAdd();
  // The add worker's body. Reads the line (组合框1), the destination
  // (编辑框2) and the note (编辑框1); refuses a missing line, an empty or
  // unsafe destination and a line that is no gateway with a message; then
  // looks the destination up under the routing lock.
  void AddEntry();
  // Stores the entry (status "1") and appends its row, when the lookup's
  // output answers with at least one IPv4 address; else does nothing.
  void AddEntryFromInput(const std::string& output, const SplitEntry& entry);

  // Starts the re-apply worker (run flag raised first); whether it started.
  bool StartReapply();
  // The re-apply worker's body: passes while the run flag is 1, each
  // followed by a pause of `pauseMs` that Stop() cuts short.
  void ReapplySplitList();

  // Starts a worker that routes every entry (enable and disable).
  void StartRouteAll();

  // Whether this process routes the split list. Without the routing lock
  // (another process routes) a pass only reloads the list, and enable and
  // disable store the status without routing.
  void SetRouting(bool routes) { routes_ = routes; }

  // Lowers the run flag and wakes the re-apply worker from its pause.
  void Stop();
  // Whether a pass of the re-apply worker or any routing run is going on.
  bool Busy() const;

  // The run flag (1 while the re-apply worker is to go on) and the busy flag
  // (1 while it is inside a pass).
  std::atomic<int>& RunFlag() { return state_->runFlag; }
  std::atomic<int>& BusyFlag() { return state_->busyFlag; }
  // The pause between passes.
  int pauseMs = 60000;

 private:
  // Routes every entry; the first time requests are refused for want of
  // rights, tells the user once what gives them.
  void Route();

  // What a worker thread touches after the object is gone: shared with
  // every worker, so the last one to end frees it.
  struct State {
    std::atomic<int> runFlag{0};
    std::atomic<int> busyFlag{0};
    std::mutex lock;
    std::condition_variable wake;  // the pause, and the end of a worker
    int active = 0;                // workers running now
    bool alive = true;             // false once the object is being destroyed
  };
  // Starts `body` as a worker counted in `active`.
  bool Start(std::function<void()> body);
  void Pause();

  platform::System& sys_;
  platform::Ui& ui_;
  SplitRouter& router_;
  std::shared_ptr<State> state_;
  std::atomic<bool> routes_{true};
  std::atomic<bool> toldRights_{false};
};

}  // namespace quillon::routing
