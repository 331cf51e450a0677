// The Ui port on Qt 6 Widgets.
//
// One QtUi lives for the whole run, on the window thread (the thread that
// constructs it); it builds the window and outlives it, so workers that call
// it after the window is gone get empty results instead of a dangling window.
// The threading (posted and blocking calls from workers) is ThreadedUi's;
// this class supplies Qt's event queue and the widgets' operations.
//
// Texts are UTF-8 bytes. The rich edit box shows CR LF as a line break and
// gives its text back with CR LF line ends, as the Windows rich edit does.
#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/threaded_ui.h"

class QWidget;

namespace quillon::platform::qt {

class QtWindow;

class QtUi final : public ThreadedUi {
 public:
  explicit QtUi(WindowLayout layout);
  ~QtUi() override;
  QtUi(const QtUi&) = delete;
  QtUi& operator=(const QtUi&) = delete;

  // The window; nullptr once EndProgram has destroyed it.
  QtWindow* window() const;
  QWidget* widget(ControlId c) const;

  // Centres the window on the screen (by its frame size), shows it and
  // queues Event::Created, which fires once the event loop runs.
  void Show();
  // What EndProgram does to end the event loop (QCoreApplication::exit by
  // default); tests record the code instead.
  void SetQuitHandler(std::function<void(int)> quit) { quit_ = std::move(quit); }
  // Number of PopupMenu calls so far (window thread).
  int PopupCount() const { return popupCount_; }
  // After the event loop has ended: the window is destroyed, later calls
  // from workers return at once and nothing more is posted.
  void Shutdown();
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
  std::unique_ptr<QObject> agent_;  // lives on the window thread; receives posted calls
  QPointer<QtWindow> window_;
  std::function<void(int)> quit_;
  std::map<ControlId, std::string> menuCaptions_;
  std::atomic<bool> loopEnded_{false};
  bool createdQueued_ = false;
  int popupCount_ = 0;
};

}  // namespace quillon::platform::qt
