#include "routing/split_workers.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/fake/fake_home.h"

namespace quillon::routing {
namespace {

using platform::FakeHome;

class SplitWorkersTest : public ::testing::Test {
 protected:
  SplitWorkersTest() {
    home.Entry("a.test", FakeHome::kLine2);
    home.sys.Answer("a.test", {"198.18.1.5"});
  }
  FakeHome home;
  SplitStore store{SplitStore::Main(home.sys)};
  SplitRouter router{home.sys, store};
  int reloads = 0;
  int reports = 0;
  bool windowThere = true;
  SplitWorkers workers{home.sys, router,
                       {[this] {
                          ++reloads;
                          if (!windowThere) workers.Stop();  // one pass, then the close
                          return windowThere;
                        },
                        {},
                        [this](const platform::RouteReport&) { ++reports; }}};
};

TEST_F(SplitWorkersTest, PassesWhileRunningEachAReloadThenTheRoutes) {
  int passes = 0;
  home.sys.onLookup = [&](const std::string&) {
    EXPECT_EQ(workers.BusyFlag(), 1) << "busy inside a pass";
    if (++passes == 2) workers.Stop();
  };
  workers.pauseMs = 0;
  ASSERT_TRUE(workers.StartReapply());
  EXPECT_EQ(workers.RunFlag(), 1);
  home.sys.RunPendingWorkers();  // the worker's body, here on the test thread
  EXPECT_EQ(passes, 2);
  EXPECT_EQ(reloads, 2);
  EXPECT_EQ(reports, 2);
  EXPECT_EQ(workers.RunFlag(), 0);
  EXPECT_FALSE(workers.Busy());
  EXPECT_EQ(home.sys.plans.size(), 2u);
}

TEST_F(SplitWorkersTest, NoRoutesWithoutTheWindowOrWithoutTheRoutingLock) {
  windowThere = false;
  workers.pauseMs = 0;
  home.sys.onLookup = [&](const std::string&) { ADD_FAILURE() << "a pass without its window routed"; };
  workers.StartReapply();
  home.sys.RunPendingWorkers();
  EXPECT_EQ(reloads, 1);
  workers.SetRouting(false);  // another process routes
  workers.StartRouteAll();
  home.sys.RunPendingWorkers();
  EXPECT_TRUE(home.sys.plans.empty());
}

TEST_F(SplitWorkersTest, ABurstOfAskedPassesIsOneRoutesOnlyPassBetweenFullOnes) {
  home.sys.realThreads = true;
  home.sys.keepsAnswers = true;
  ASSERT_TRUE(workers.StartReapply());
  const auto plans = [&] {
    std::lock_guard<std::recursive_mutex> hold(home.sys.lock);
    return home.sys.plans.size();
  };
  while (plans() < 1) std::this_thread::yield();  // the first full pass
  for (int i = 0; i < 50; ++i) workers.RequestRoutePass();
  while (plans() < 2) std::this_thread::yield();
  workers.Stop();
  while (workers.Busy()) std::this_thread::yield();
  EXPECT_EQ(plans(), 2u) << "fifty asks in a burst make one pass";
  std::lock_guard<std::recursive_mutex> hold(home.sys.lock);
  EXPECT_EQ(home.sys.lookedUp.size(), 1u) << "the routes-only pass looked nothing up";
}

TEST_F(SplitWorkersTest, APauseEndsAtOnceWhenTheCloseComes) {
  home.sys.realThreads = true;
  workers.pauseMs = 24 * 3600 * 1000;
  ASSERT_TRUE(workers.StartReapply());
  // The destructor stops the worker and waits for it: with a day-long pause
  // this test only ends when the close wakes the pause.
}

}  // namespace
}  // namespace quillon::routing
