// The Win32 window backend in this process: what workers do with the window
// and what happens to them when it goes.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/window_description.h"
#include "platform/win32/win32_ui.h"

namespace quillon::platform::win32 {
namespace {

using app::Control;

// Waits, on the window thread, until a call from another thread is queued
// for it.
bool WaitForQueuedCall() {
  for (int i = 0; i < 1500; ++i) {
    if (HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) return true;
    Sleep(20);
  }
  return false;
}

// A worker's writes reach the window in order before its later read; a list
// row appended from it is there; EndProgram from it ends the loop with its
// exit code; afterwards calls return at once with empty results.
TEST(Win32Ui, AWorkersCallsRunOnTheWindowThreadInOrder) {
  Win32Ui ui(app::BuildWindowLayout("example.test"));
  ASSERT_TRUE(ui.Created());
  std::string readBack;
  int rows = -1;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) ui.WriteControlText(Control::编辑框1, std::to_string(i));
    ui.ListAppendFilledRow(Control::超级列表框1, {"", "a.test"}, 0);
    readBack = ui.ReadControlText(Control::编辑框1);
    rows = ui.ListRowCount(Control::超级列表框1);
    ui.EndProgram(7);
  });
  ui.Show();
  EXPECT_EQ(ui.Run(), 7);
  worker.join();
  EXPECT_EQ(readBack, "99");
  EXPECT_EQ(rows, 1);

  EXPECT_FALSE(ui.WindowExists());
  std::string late = "unchanged";
  std::thread([&] { late = ui.ReadControlText(Control::编辑框1); }).join();
  EXPECT_EQ(late, "");
}

// Delay on the window thread keeps handling the window's messages, so a
// worker's blocking read is answered while the handler waits; a worker that
// waits on a window which goes meanwhile gets the empty result.
TEST(Win32Ui, DelayAnswersWorkersAndAWindowThatGoesReleasesThem) {
  Win32Ui ui(app::BuildWindowLayout("example.test"));
  ASSERT_TRUE(ui.Created());
  std::atomic<bool> answered{false};
  std::string title, gone = "unchanged";
  std::thread reader, waiter;
  bool queued = false;
  ui.SetEventSink([&](ControlId, Event e, const std::string&) {
    if (e != Event::Created) return true;
    reader = std::thread([&] {
      title = ui.ReadControlText(Control::主窗口);
      answered = true;
    });
    for (int i = 0; i < 1500 && !answered; ++i) ui.Delay(20);

    waiter = std::thread([&] { gone = ui.ReadControlText(Control::编辑框1); });
    queued = WaitForQueuedCall();
    ui.EndProgram(0);
    return true;
  });
  ui.Show();
  EXPECT_EQ(ui.Run(), 0);
  reader.join();
  waiter.join();
  EXPECT_TRUE(answered);
  EXPECT_EQ(title, app::BuildWindowLayout("example.test").title);
  EXPECT_TRUE(queued);
  EXPECT_EQ(gone, "");
}

}  // namespace
}  // namespace quillon::platform::win32
