// The Ui port on the Win32 API (ANSI functions, texts in the ANSI code page).
//
// One Win32Ui lives for the whole run; it is made on the window thread (the
// thread that runs the message loop), builds the window there and outlives
// it, so that workers which call it after the window is gone get empty
// results instead of a destroyed window.
//
// Threads: controls are touched only on the window thread. From a worker,
// control writes and list operations are posted to the window thread
// (asynchronous, in order); reads, message boxes, the browse dialog and calls
// that return a value are blocking calls to the window thread that give up
// with the empty result when the window goes away.
//
// This header includes no system header.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/window_model.h"

namespace quillon::platform::win32 {

class Win32Window;

// The window ID of a control's child window (and the command ID of a menu
// item): tests in another process find the controls by it.
constexpr int kControlIdBase = 2000;
constexpr int ControlId(Control c) { return kControlIdBase + static_cast<int>(c); }

class Win32Ui final : public Ui {
 public:
  explicit Win32Ui(WindowSpec spec);
  ~Win32Ui() override;
  Win32Ui(const Win32Ui&) = delete;
  Win32Ui& operator=(const Win32Ui&) = delete;

  // Whether the window was made.
  bool Created() const { return exists_.load(); }
  // Centres and shows the window; Event::Created fires once the loop runs.
  void Show();
  // The message loop, until EndProgram; its exit code.
  int Run();
  bool OnWindowThread() const;

  // ---- Ui ----
  void SetEventSink(EventSink sink) override;
  void SetCleanup(std::function<void()> cleanup) override;
  std::string ReadControlText(Control c) override;
  void WriteControlText(Control c, const std::string& text) override;
  void SetVisible(Control c, bool visible) override;
  bool IsVisible(Control c) override;
  int ComboAddItem(Control c, const std::string& text, int value = 0) override;
  void ListClear(Control list) override;
  int ListAppendRow(Control list) override;
  void ListSetCell(Control list, int row, int column, const std::string& text) override;
  std::string ListGetCell(Control list, int row, int column) override;
  int ListSelectedRow(Control list) override;
  int ListRowCount(Control list) override;
  void ListReplaceRows(Control list, std::vector<Row> rows) override;
  void ListAppendFilledRow(Control list, Row cells, int numberColumn) override;
  int AskUser(const std::string& text, int style, const std::string& caption = "信息：") override;
  std::string BrowseForPath(const std::string& title, bool includeFiles) override;
  void PopupMenu(Control menu) override;
  void OpenUrl(const std::string& url) override;
  void Delay(int ms) override;
  bool WindowExists() override { return exists_.load(); }
  void EndProgram(int exitCode) override;
  std::uintptr_t GetWindowHandle() override;
  bool RegisterDropTarget(Control dropTarget, std::uintptr_t window) override;
  void Post(std::function<void()> fn) override;

 private:
  // Runs `fn` on the window thread while the window exists and returns its
  // result; `fallback` when the window is gone or goes away meanwhile.
  template <class R>
  R Call(std::function<R()> fn, R fallback);
  // Runs `fn` on the window thread while the window exists: at once when
  // called there, else posted in order.
  void Async(std::function<void()> fn);
  // Hands `fn` to the window thread's queue; false when that is gone.
  bool Enqueue(std::function<void()> fn);

  bool Dispatch(Control c, Event e, const std::string& argument);
  int AskHere(const std::string& text, int style, const std::string& caption);
  std::string BrowseHere(const std::string& title, bool includeFiles);
  void EndHere(int exitCode);
  bool IsList(Control c) const { return c == spec_.listControl; }

  WindowSpec spec_;
  std::unique_ptr<Win32Window> window_;  // window thread only
  void* agent_ = nullptr;                // message-only window that runs posted calls
  unsigned long threadId_ = 0;
  std::atomic<bool> exists_{false};
  EventSink sink_;
  std::function<void()> cleanup_;
  bool ended_ = false;
};

}  // namespace quillon::platform::win32
