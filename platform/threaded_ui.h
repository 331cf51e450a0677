// The window-thread machinery that both window backends share: every Ui call
// from a worker becomes a posted or a blocking call to the window thread,
// events go to the program's sink, and the end of the program runs once. A
// backend supplies the queue of its event loop and the widgets' own
// operations (the ...Here functions), which run on the window thread only.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace quillon::platform {

class ThreadedUi : public Ui {
 public:
  const WindowLayout& layout() const { return layout_; }
  // Hands an event of the window to the sink; for the close query its answer.
  bool Dispatch(ControlId c, Event e, const std::string& argument = {});
  // Number of blocking calls from workers queued for the window thread or
  // running there, waiting for their result (any thread).
  int CallsWaiting() const { return callsWaiting_.load(); }

  // ---- Ui ----
  void SetEventSink(EventSink sink) override { sink_ = std::move(sink); }
  std::string ReadControlText(ControlId c) override;
  void WriteControlText(ControlId c, const std::string& text) override;
  void SetVisible(ControlId c, bool visible) override;
  bool IsVisible(ControlId c) override;
  int ComboAddItem(ControlId c, const std::string& text, int value = 0) override;
  void ListSetCell(ControlId list, int row, int column, const std::string& text) override;
  std::string ListGetCell(ControlId list, int row, int column) override;
  int ListSelectedRow(ControlId list) override;
  int ListRowCount(ControlId list) override;
  void ListReplaceRows(ControlId list, ListRows rows) override;
  void ListAppendFilledRow(ControlId list, Row cells, int numberColumn) override;
  void ListAppendRows(ControlId list, ListRows rows) override;
  int AskUser(const std::string& text, int style, const std::string& caption = kDefaultCaption) override;
  std::string BrowseForPath(const std::string& title, bool includeFiles) override;
  void PopupMenu(ControlId menu) override;
  void OpenUrl(const std::string& url) override;
  void Delay(int ms) override;
  bool WindowExists() override { return exists_.load(); }
  void EndProgram(int exitCode) override;
  std::uintptr_t GetWindowHandle() override;
  bool RegisterDropTarget(ControlId dropTarget, std::uintptr_t window) override;
  void Post(std::function<void()> fn) override;
  void Queue(std::function<void()> fn) override;

 protected:
  explicit ThreadedUi(WindowLayout layout) : layout_(std::move(layout)) {}

  // ---- what the backend supplies ----
  virtual bool OnWindowThread() const = 0;
  // Queues `fn` for the window thread's event loop, in order; false when the
  // loop is gone.
  virtual bool Enqueue(std::function<void()> fn) = 0;
  // Handles the window's events for `ms` milliseconds (window thread).
  virtual void PumpFor(int ms) = 0;
  // Destroys the window and ends the event loop with the exit code.
  virtual void CloseHere(int exitCode) = 0;
  virtual std::string ReadHere(ControlId c) = 0;
  virtual void WriteHere(ControlId c, const std::string& text) = 0;
  virtual void SetVisibleHere(ControlId c, bool visible) = 0;
  virtual bool IsVisibleHere(ControlId c) = 0;
  virtual int AddItemHere(ControlId c, const std::string& text, int value) = 0;
  virtual void SetCellHere(int row, int column, const std::string& text) = 0;
  virtual std::string CellHere(int row, int column) = 0;
  virtual int SelectedRowHere() = 0;
  virtual int RowCountHere() = 0;
  virtual void ReplaceRowsHere(ListRows rows) = 0;
  virtual void AppendFilledRowHere(Row cells, int numberColumn) = 0;
  virtual void AppendRowsHere(ListRows rows) = 0;
  virtual int AskHere(const std::string& text, int style, const std::string& caption) = 0;
  virtual std::string BrowseHere(const std::string& title, bool includeFiles) = 0;
  virtual void PopupHere(ControlId menu) = 0;
  virtual void OpenUrlHere(const std::string& url) = 0;
  virtual std::uintptr_t HandleHere() = 0;
  virtual bool EnableDropsHere(ControlId target) = 0;

  // The window exists and the program has not ended.
  bool Live() const { return exists_.load() && !ended_; }
  // Closes the window, once (window thread).
  void EndHere(int exitCode);

  WindowLayout layout_;
  std::atomic<bool> exists_{false};  // set by the backend once the window is made

 private:
  // Runs `fn` on the window thread while the window lives and returns its
  // result; `fallback` when the window is gone or goes away meanwhile.
  template <class R>
  R Call(std::function<R()> fn, R fallback);
  // Runs `fn` on the window thread while the window lives: at once when
  // called there, else posted in order.
  void Async(std::function<void()> fn);
  bool IsList(ControlId c) const { return c == layout_.listControl; }

  EventSink sink_;
  bool ended_ = false;  // window thread only
  std::atomic<int> callsWaiting_{0};
};

}  // namespace quillon::platform
