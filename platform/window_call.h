// A worker's blocking call into the window thread, shared by the window
// backends.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace quillon::platform {

// Hands a job that runs `run` to the window thread with `enqueue` (false
// when the job cannot be queued) and waits for its result. The window thread
// may never come to the job when the window goes away meanwhile (its loop
// has ended): once `exists` is false, or when the job was not queued, the
// caller gets `fallback`. `waiting`, when given, counts the callers that
// wait for a queued job.
template <class R>
R CallOnWindowThread(const std::function<bool(std::function<void()>)>& enqueue, const std::atomic<bool>& exists,
                     std::function<R()> run, R fallback, std::atomic<int>* waiting = nullptr) {
  struct State {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    R value{};
  };
  auto state = std::make_shared<State>();
  const bool queued = enqueue([state, run = std::move(run)] {
    R value = run();
    std::lock_guard lock(state->m);
    state->value = std::move(value);
    state->done = true;
    state->cv.notify_all();
  });
  if (!queued) return fallback;
  struct Counted {
    std::atomic<int>* count;
    explicit Counted(std::atomic<int>* c) : count(c) {
      if (count != nullptr) ++*count;
    }
    ~Counted() {
      if (count != nullptr) --*count;
    }
  } counted(waiting);
  std::unique_lock lock(state->m);
  while (!state->cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return state->done; })) {
    if (!exists) return fallback;
  }
  return std::move(state->value);
}

}  // namespace quillon::platform
