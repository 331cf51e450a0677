// The split list's workers all at once, on real threads: 100 add workers,
// re-apply passes every 2 ms, and enable, disable and delete from the window
// thread with a reload after each. Nothing may hang and nothing may be lost.
// The linux-tsan preset runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <optional>
#include <thread>

#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "platform/fake/test_window.h"
#include "platform/fake/watchdog.h"
#include "routing/split_list.h"
#include "routing/split_stress_test_plan.h"
#include "routing/split_workers.h"

namespace quillon::routing {
namespace {

using platform::AnswerOk;
using platform::Control;

using namespace stress;

// A window whose add input holds a new destination each time an add worker
// reads it, as if the user typed the next one before each click; it counts
// the rows the add workers append and the reloads of the re-apply passes.
class TypingUi : public platform::FakeUi {
 public:
  TypingUi() : FakeUi(platform::TestWindowSpec()) {}
  std::string ReadControlText(Control c) override {
    return c == Control::编辑框2 ? Added(typed++) : FakeUi::ReadControlText(c);
  }
  void ListAppendFilledRow(Control list, platform::Row cells, int numberColumn) override {
    FakeUi::ListAppendFilledRow(list, std::move(cells), numberColumn);
    ++appended;
  }
  void ListReplaceRows(Control list, std::vector<platform::Row> rows) override {
    FakeUi::ListReplaceRows(list, std::move(rows));
    if (std::this_thread::get_id() != window) ++passReloads;
  }
  const std::thread::id window = std::this_thread::get_id();
  std::atomic<int> typed{0};
  std::atomic<int> appended{0};
  std::atomic<int> passReloads{0};  // reloads of the re-apply worker
};

class SplitWorkersStressTest : public ::testing::Test {
 protected:
  SplitWorkersStressTest() : router(sys, ui) {
    sys.directories.insert("/q/分流器配置");
    sys.adapters = {{"v1", "veth", "", "198.51.100.2", "255.255.255.0", kLine}};
    sys.connectionNames = {{"v1", "WLAN"}};
    for (int i = 0; i < kAdds; ++i) sys.lookups[Added(i)] = Answer(Added(i), "198.18." + std::to_string(i) + ".5");
    for (int i = 0; i < kStored; ++i) sys.lookups[Stored(i)] = Answer(Stored(i), "198.19." + std::to_string(i) + ".5");
    sys.lookupsMayOverlap = true;  // each pass looks up on many threads, as on Linux
    ui.texts[Control::组合框1] = kLine;
    ui.texts[Control::编辑框1] = "备注";
    ui.answerAlways = AnswerOk;
  }
  static std::string Answer(const std::string& name, const std::string& address) {
    return "名称:    " + name + "\r\nAddress:  " + address + "\r\n";
  }
  // Selects the row of `destination` and runs `action`, as the window
  // thread does: no worker changes the list in between (the fake's lock
  // stands for the window thread being busy). Reloads until the row shows.
  void OnRow(const std::string& destination, const std::function<void()>& action) {
    for (;;) {
      {
        std::lock_guard<std::recursive_mutex> hold(ui.lock);
        const auto row = std::find_if(ui.rows.begin(), ui.rows.end(),
                                      [&](const platform::Row& r) { return r[kDestinationColumn] == destination; });
        if (row != ui.rows.end()) {
          ui.selectedRow = static_cast<int>(row - ui.rows.begin());
          action();
          return;
        }
      }
      ReloadSplitList(sys, ui);
    }
  }
  // How often `destination` shows in the list.
  int Shown(const std::string& destination) {
    std::lock_guard<std::recursive_mutex> hold(ui.lock);
    return static_cast<int>(std::count_if(ui.rows.begin(), ui.rows.end(), [&](const platform::Row& r) {
      return r[kDestinationColumn] == destination;
    }));
  }

  platform::FakeSystem sys;
  TypingUi ui;
  SplitRouter router;
};

TEST_F(SplitWorkersStressTest, HundredAddsWhilePassesAndTheWindowChangeTheListLoseNothing) {
  const platform::Watchdog watchdog("the split list stress", std::chrono::seconds(120));
  for (int i = 0; i < kStored; ++i) ASSERT_TRUE(WriteSplitEntry(sys, kStore, {Stored(i), kLine, kEnabled, ""}));
  sys.realThreads = true;
  std::optional<SplitWorkers> workers(std::in_place, sys, ui, router);
  workers->pauseMs = 2;
  ASSERT_TRUE(workers->StartReapply());

  const auto routeAll = [&] { workers->StartRouteAll(); };
  for (int i = 0; i < kAdds; ++i) workers->StartAdd();
  // The window's actions spread over the time the adds take, each round
  // after a pass of the re-apply worker.
  for (int i = 0; i < kStored; ++i) {
    while (ui.appended < i * kAdds / kStored || ui.passReloads <= i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    OnRow(Stored(i), [&] { DisableEntry(sys, ui, routeAll); });
    ReloadSplitList(sys, ui);
    OnRow(Stored(i), [&] { EnableEntry(sys, ui, routeAll); });
    ReloadSplitList(sys, ui);
    if (i % kDeleteEvery != 0) continue;
    OnRow(Stored(i), [&] { DeleteEntry(sys, ui); });
    ReloadSplitList(sys, ui);
  }
  while (ui.appended < kAdds) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  workers.reset();  // stops the re-apply worker and waits for every worker
  ReloadSplitList(sys, ui);

  for (int i = 0; i < kAdds; ++i) {
    EXPECT_EQ(sys.IniValue(kStore, Added(i), "zt"), kEnabled) << Added(i);
    EXPECT_EQ(sys.IniValue(kStore, Added(i), "xl"), kLine) << Added(i);
    EXPECT_EQ(Shown(Added(i)), 1) << Added(i);
  }
  for (int i = 0; i < kStored; ++i) {
    const bool deleted = i % kDeleteEvery == 0;
    EXPECT_EQ(sys.IniValue(kStore, Stored(i), "zt"), deleted ? std::nullopt : std::optional<std::string>(kEnabled))
        << Stored(i);
    EXPECT_EQ(Shown(Stored(i)), deleted ? 0 : 1) << Stored(i);
  }
  EXPECT_EQ(ui.rows.size(), static_cast<std::size_t>(kAdds + kStored - (kStored + kDeleteEvery - 1) / kDeleteEvery));
  for (const auto& box : ui.boxes) EXPECT_NE(box.caption, "异常") << box.text;
  std::cout << "stress: " << kAdds << " adds, " << ui.passReloads << " re-apply passes, " << ui.boxes.size()
            << " window actions, " << sys.routePasses << " route passes in all\n";
}

}  // namespace
}  // namespace quillon::routing
