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

#include "app/controls.h"
#include "app/presenter.h"
#include "app/split_stress_test_plan.h"
#include "app/window_description.h"
#include "platform/fake/fake_home.h"
#include "platform/fake/fake_ui.h"
#include "platform/fake/watchdog.h"

namespace quillon::app {
namespace {

using platform::AnswerOk;
using platform::ControlId;
using platform::FakeHome;

using namespace stress;

// A window whose add input holds a new destination each time it is read, as
// if the user typed the next one before each click; it counts the rows the
// add workers append and the reloads of the re-apply passes. What workers
// queue for the window waits until the test thread, the window thread here,
// runs it.
class TypingUi : public platform::FakeUi {
 public:
  explicit TypingUi(const platform::WindowLayout& layout) : FakeUi(layout) { deferQueue = true; }
  std::string ReadControlText(ControlId c) override {
    return c == Control::编辑框2 ? Added(typed++) : FakeUi::ReadControlText(c);
  }
  void ListAppendFilledRow(ControlId list, platform::Row cells, int numberColumn) override {
    FakeUi::ListAppendFilledRow(list, std::move(cells), numberColumn);
    ++appended;
  }
  void Queue(std::function<void()> fn) override {
    if (std::this_thread::get_id() != window) {
      FakeUi::Queue(std::move(fn));
      return;
    }
    fn();  // the window thread's own changes come after what it ran before
  }
  void ListReplaceRows(ControlId list, platform::ListRows rows) override {
    FakeUi::ListReplaceRows(list, std::move(rows));
    ++replaced;
  }
  const std::thread::id window = std::this_thread::get_id();
  std::atomic<int> typed{0};
  std::atomic<int> appended{0};
  std::atomic<int> replaced{0};
};

class PresenterStressTest : public ::testing::Test {
 protected:
  PresenterStressTest() {
    for (int i = 0; i < kAdds; ++i) home.sys.Answer(Added(i), {"198.18." + std::to_string(i) + ".5"});
    for (int i = 0; i < kStored; ++i) home.sys.Answer(Stored(i), {"198.19." + std::to_string(i) + ".5"});
    ui.texts[Control::组合框1] = kLine;
    ui.texts[Control::编辑框1] = "备注";
    ui.answerAlways = AnswerOk;
  }
  // Selects the row of `destination` and fires `item`, as the window thread
  // does: no worker changes the list in between (the fake's lock stands for
  // the window thread being busy). Reloads until the row shows.
  void OnRow(const std::string& destination, Control item) {
    for (;;) {
      {
        std::lock_guard<std::recursive_mutex> hold(ui.lock);
        const auto row = std::find_if(ui.rows.begin(), ui.rows.end(),
                                      [&](const platform::Row& r) { return r[kDestinationColumn] == destination; });
        if (row != ui.rows.end()) {
          ui.selectedRow = static_cast<int>(row - ui.rows.begin());
          ui.Fire(item, platform::Event::Chosen);
          return;
        }
      }
      Reload();
    }
  }
  // A reload of the window thread's own.
  void Reload() {
    presenter->ReloadSplitList();
    ++ownReloads;
  }
  // The window thread's event loop, until `done`.
  void RunUntil(const std::function<bool()>& done) {
    for (ui.RunQueued(); !done(); ui.RunQueued()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int PassReloads() const { return ui.replaced - ownReloads; }
  // How often `destination` shows in the list.
  int Shown(const std::string& destination) {
    std::lock_guard<std::recursive_mutex> hold(ui.lock);
    return static_cast<int>(std::count_if(ui.rows.begin(), ui.rows.end(), [&](const platform::Row& r) {
      return r[kDestinationColumn] == destination;
    }));
  }

  FakeHome home;
  const platform::WindowLayout layout = BuildWindowLayout("site.test");
  TypingUi ui{layout};
  std::optional<Presenter> presenter{std::in_place, home.sys, ui, "site.test"};
  int ownReloads = 0;
};

TEST_F(PresenterStressTest, HundredAddsWhilePassesAndTheWindowChangeTheListLoseNothing) {
  const platform::Watchdog watchdog("the split list stress", std::chrono::seconds(120));
  for (int i = 0; i < kStored; ++i) home.Entry(Stored(i), kLine);
  presenter->Attach();
  home.sys.realThreads = true;
  presenter->Workers().pauseMs = 2;
  ASSERT_TRUE(presenter->Workers().StartReapply());

  for (int i = 0; i < kAdds; ++i) ui.Fire(Control::按钮1, platform::Event::Clicked);
  // The window's actions spread over the time the adds take, each round
  // after a pass of the re-apply worker.
  for (int i = 0; i < kStored; ++i) {
    RunUntil([&] { return ui.appended >= i * kAdds / kStored && PassReloads() > i; });
    OnRow(Stored(i), Control::关闭分流);
    Reload();
    OnRow(Stored(i), Control::开启分流);
    Reload();
    if (i % kDeleteEvery != 0) continue;
    OnRow(Stored(i), Control::删除记录);
    Reload();
  }
  RunUntil([&] { return ui.appended >= kAdds; });
  const int passes = PassReloads();
  presenter->Workers().Stop();
  RunUntil([&] { return !presenter->Workers().Busy(); });
  presenter.reset();  // waits for every worker
  ui.RunQueued();
  presenter.emplace(home.sys, ui, "site.test");
  Reload();

  for (int i = 0; i < kAdds; ++i) {
    EXPECT_EQ(home.Value(Added(i), "zt"), "1") << Added(i);
    EXPECT_EQ(home.Value(Added(i), "xl"), kLine) << Added(i);
    EXPECT_EQ(Shown(Added(i)), 1) << Added(i);
  }
  for (int i = 0; i < kStored; ++i) {
    const bool deleted = i % kDeleteEvery == 0;
    EXPECT_EQ(home.Value(Stored(i), "zt"), deleted ? "(none)" : "1") << Stored(i);
    EXPECT_EQ(Shown(Stored(i)), deleted ? 0 : 1) << Stored(i);
  }
  EXPECT_EQ(ui.rows.size(), static_cast<std::size_t>(kAdds + kStored - (kStored + kDeleteEvery - 1) / kDeleteEvery));
  for (const auto& box : ui.boxes) EXPECT_NE(box.caption, "异常") << box.text;
  std::cout << "stress: " << kAdds << " adds, " << passes << " re-apply passes, " << ui.boxes.size()
            << " window actions, " << home.sys.plans.size() << " route plans in all\n";
}

}  // namespace
}  // namespace quillon::app
