// The Ui port on Qt 6 Widgets.
//
// One QtUi lives for the whole run, on the window thread (the thread that
// constructs it); it builds the window and outlives it, so workers that call
// it after the window is gone get empty results instead of a dangling window.
//
// Threads: widgets are touched only on the window thread. From a worker,
// control writes are posted (asynchronous, in order); reads, message boxes,
// the browse dialog and calls that return a value are blocking calls to the
// window thread. A blocking call gives up with the empty result when the
// window goes away, so a worker never waits for ever.
//
// Texts are UTF-8 bytes. The rich edit box shows CR LF as a line break and
// gives its text back with CR LF line ends, as the Windows rich edit does.
#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/window_model.h"

class QWidget;

namespace quillon::platform::qt {

class QtWindow;

class QtUi final : public Ui {
 public:
  explicit QtUi(WindowSpec spec);
  ~QtUi() override;
  QtUi(const QtUi&) = delete;
  QtUi& operator=(const QtUi&) = delete;

  // The window; nullptr once EndProgram has destroyed it.
  QtWindow* window() const;
  QWidget* widget(Control c) const;
  const WindowSpec& spec() const { return spec_; }

  // Centres the window on the screen (by its frame size), shows it and
  // queues Event::Created, which fires once the event loop runs.
  void Show();
  // What EndProgram does to end the event loop (QCoreApplication::exit by
  // default); tests record the code instead.
  void SetQuitHandler(std::function<void(int)> quit) { quit_ = std::move(quit); }
  // Number of PopupMenu calls so far (window thread).
  int PopupCount() const { return popupCount_; }
  // Number of blocking calls from workers that are queued for the window
  // thread or running there, waiting for their result (any thread).
  int CallsWaiting() const { return callsWaiting_.load(); }
  // After the event loop has ended: the window is destroyed, later calls
  // from workers return at once and nothing more is posted.
  void Shutdown();

  // Hands an event of the window to the sink; for the close query its answer.
  bool Dispatch(Control c, Event e, const std::string& argument = {});
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
  // Queues `fn` for the window thread's event loop (any thread; in order).
  void Queue(std::function<void()> fn);

  std::string ReadHere(Control c) const;
  void WriteHere(Control c, const std::string& text);
  void SetVisibleHere(Control c, bool visible);
  int AskHere(const std::string& text, int style, const std::string& caption);
  std::string BrowseHere(const std::string& title, bool includeFiles);
  void PopupHere(Control menu);
  void EndHere(int exitCode);
  bool IsList(Control c) const { return c == spec_.listControl; }

  WindowSpec spec_;
  std::unique_ptr<QObject> agent_;  // lives on the window thread; receives posted calls
  QPointer<QtWindow> window_;
  std::atomic<bool> exists_{false};
  EventSink sink_;
  std::function<void()> cleanup_;
  std::function<void(int)> quit_;
  std::map<Control, std::string> menuCaptions_;
  std::atomic<bool> loopEnded_{false};
  std::atomic<int> callsWaiting_{0};
  bool createdQueued_ = false;
  bool ended_ = false;
  int popupCount_ = 0;
};

}  // namespace quillon::platform::qt
