// A bound on how long a test may run: a deadlock then fails the run with a
// message instead of hanging it. Once the bound has passed the process ends
// at once (nothing else could end a thread that waits for ever).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace quillon::platform {

class Watchdog {
 public:
  Watchdog(std::string what, std::chrono::seconds bound)
      : thread_([this, what = std::move(what), bound] {
          std::unique_lock<std::mutex> hold(lock_);
          if (wake_.wait_for(hold, bound, [this] { return done_; })) return;
          std::fprintf(stderr, "FAILED: %s has not finished after %lld s (deadlock?)\n", what.c_str(),
                       static_cast<long long>(bound.count()));
          std::fflush(nullptr);
          std::abort();
        }) {}
  // Disarms the watchdog.
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace quillon::platform
