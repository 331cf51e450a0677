// StartWorker of the System backend.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/system_factory.h"

namespace quillon::platform {
namespace {

constexpr auto kBound = std::chrono::seconds(20);

// Everything a worker touches is owned jointly with it, so a test that gives
// up early leaves nothing dangling behind.
struct Handshake {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<std::thread::id> ranOn;
  std::promise<bool> sawRelease;
};

TEST(StartWorkerTest, RunsTheRoutineOnAnotherThreadWithoutWaitingForIt) {
  std::unique_ptr<System> system = MakeSystem({});
  auto shared = std::make_shared<Handshake>();
  std::future<std::thread::id> ran = shared->ranOn.get_future();
  std::future<bool> saw = shared->sawRelease.get_future();
  // The routine blocks until the test lets it go, which the test does only
  // after StartWorker has returned.
  ASSERT_TRUE(system->StartWorker([shared] {
    shared->ranOn.set_value(std::this_thread::get_id());
    shared->sawRelease.set_value(shared->released.wait_for(kBound) == std::future_status::ready);
  }));
  shared->release.set_value();
  ASSERT_EQ(ran.wait_for(kBound), std::future_status::ready);
  EXPECT_NE(ran.get(), std::this_thread::get_id());
  ASSERT_EQ(saw.wait_for(kBound), std::future_status::ready);
  EXPECT_TRUE(saw.get());
}

struct Meeting {
  std::mutex mutex;
  std::condition_variable changed;
  int arrived = 0;
  int finished = 0;
};

TEST(StartWorkerTest, RunsManyWorkersSideBySide) {
  // Each routine waits for all of them to have started: they can only finish
  // when they run at the same time.
  std::unique_ptr<System> system = MakeSystem({});
  constexpr int kWorkers = 4;
  auto meeting = std::make_shared<Meeting>();
  for (int i = 0; i < kWorkers; ++i) {
    ASSERT_TRUE(system->StartWorker([meeting] {
      std::unique_lock lock(meeting->mutex);
      ++meeting->arrived;
      meeting->changed.notify_all();
      if (meeting->changed.wait_for(lock, kBound, [&] { return meeting->arrived == kWorkers; })) {
        ++meeting->finished;
      }
      meeting->changed.notify_all();
    }));
  }
  std::unique_lock lock(meeting->mutex);
  EXPECT_TRUE(meeting->changed.wait_for(lock, kBound, [&] { return meeting->finished == kWorkers; }));
}

TEST(StartWorkerTest, RefusesAnEmptyRoutine) {
  std::unique_ptr<System> system = MakeSystem({});
  EXPECT_FALSE(system->StartWorker({}));
}

}  // namespace
}  // namespace quillon::platform
