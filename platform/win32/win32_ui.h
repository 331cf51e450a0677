// The Ui port on the Win32 API (ANSI functions, texts in the ANSI code page).
//
// One Win32Ui lives for the whole run; it is made on the window thread (the
// thread that runs the message loop), builds the window there and outlives
// it, so that workers which call it after the window is gone get empty
// results instead of a destroyed window. The threading (posted and blocking
// calls from workers) is ThreadedUi's; this class supplies the message queue
// (a message-only window) and the controls' operations.
//
// This header includes no system header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/threaded_ui.h"

namespace quillon::platform::win32 {

class Win32Window;

// The window ID of a control's child window (and the command ID of a menu
// item): tests in another process find the controls by it.
constexpr int kControlIdBase = 2000;
constexpr int WindowIdOf(ControlId c) { return kControlIdBase + c.value; }

class Win32Ui final : public ThreadedUi {
 public:
  explicit Win32Ui(WindowLayout layout);
  ~Win32Ui() override;
  Win32Ui(const Win32Ui&) = delete;
  Win32Ui& operator=(const Win32Ui&) = delete;

  // Whether the window was made.
  bool Created() const { return exists_.load(); }
  // Centres and shows the window; Event::Created fires once the loop runs.
  void Show();
  // The message loop, until EndProgram; its exit code.
  int Run();
  bool OnWindowThread() const override;

 protected:
  bool Enqueue(std::function<void()> fn) override;
  void PumpFor(int ms) override;
  void CloseHere(int exitCode) override;
  std::string ReadHere(ControlId c) override;
  void WriteHere(ControlId c, const std::string& text) override;
  void SetVisibleHere(ControlId c, bool visible) override;
  bool IsVisibleHere(ControlId c) override;
  int AddItemHere(ControlId c, const std::string& text, int value) override;
  void SetCellHere(int row, int column, const std::string& text) override;
  std::string CellHere(int row, int column) override;
  int SelectedRowHere() override;
  int RowCountHere() override;
  void ReplaceRowsHere(ListRows rows) override;
  void AppendFilledRowHere(Row cells, int numberColumn) override;
  void AppendRowsHere(ListRows rows) override;
  int AskHere(const std::string& text, int style, const std::string& caption) override;
  std::string BrowseHere(const std::string& title, bool includeFiles) override;
  void PopupHere(ControlId menu) override;
  void OpenUrlHere(const std::string& url) override;
  std::uintptr_t HandleHere() override;
  bool EnableDropsHere(ControlId target) override;

 private:
  std::unique_ptr<Win32Window> window_;  // window thread only
  void* agent_ = nullptr;                // message-only window that runs posted calls
  unsigned long threadId_ = 0;
};

}  // namespace quillon::platform::win32
