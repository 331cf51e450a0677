// In-memory Ui for tests: control texts, visibility, combo items and list
// rows held in maps; every message box recorded and answered from a script.
// A message box that the script does not answer fails the test. Every call
// holds one lock, so workers on threads of their own may use it; a test
// reads the records once those have ended (or under `lock`).
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace quillon::platform {

class FakeUi : public Ui {
 public:
  explicit FakeUi(const WindowLayout& layout);

  struct Box {
    std::string text;
    int style;
    std::string caption;
    bool operator==(const Box&) const = default;
  };

  // ---- script and record ----
  std::deque<int> answers;  // consumed by AskUser, in order
  int answerAlways = -1;    // when >= 0: the answer of every box once `answers` is used up
  std::vector<Box> boxes;
  std::deque<std::string> browseAnswers;
  std::vector<std::string> openedUrls;
  std::vector<ControlId> poppedMenus;
  int exitCode = -1;  // set by EndProgram
  std::atomic<bool> windowExists{true};
  int delayedMs = 0;
  std::function<void(int ms)> onDelay;  // lets a test change state while Delay runs
  int dropRegistrations = 0;

  // Fires an event through the sink, as the backend would.
  bool Fire(ControlId c, Event e, const std::string& argument = {});

  std::map<ControlId, std::string> texts;
  std::map<ControlId, bool> visible;
  std::map<ControlId, std::vector<std::string>> comboItems;
  std::vector<Row> rows;
  int selectedRow = -1;

  // ---- Ui ----
  void SetEventSink(EventSink sink) override { sink_ = std::move(sink); }
  std::string ReadControlText(ControlId c) override;
  void WriteControlText(ControlId c, const std::string& text) override;
  void SetVisible(ControlId c, bool v) override;
  bool IsVisible(ControlId c) override;
  int ComboAddItem(ControlId c, const std::string& text, int value) override;
  void ListSetCell(ControlId list, int row, int column, const std::string& text) override;
  std::string ListGetCell(ControlId list, int row, int column) override;
  int ListSelectedRow(ControlId list) override;
  int ListRowCount(ControlId list) override;
  void ListReplaceRows(ControlId list, ListRows newRows) override;
  void ListAppendFilledRow(ControlId list, Row cells, int numberColumn) override;
  void ListAppendRows(ControlId list, ListRows more) override;
  int AskUser(const std::string& text, int style, const std::string& caption) override;
  std::string BrowseForPath(const std::string& title, bool includeFiles) override;
  void PopupMenu(ControlId menu) override;
  void OpenUrl(const std::string& url) override;
  void Delay(int ms) override;
  bool WindowExists() override;
  void EndProgram(int code) override;
  std::uintptr_t GetWindowHandle() override { return WindowExists() ? 1 : 0; }
  bool RegisterDropTarget(ControlId dropTarget, std::uintptr_t window) override;
  void Post(std::function<void()> fn) override { fn(); }
  // Runs at once (the fake has no event loop, and every call takes `lock`),
  // unless `deferQueue`: then it waits in `queued` until RunQueued, as a
  // busy window thread's event loop keeps it.
  void Queue(std::function<void()> fn) override;
  // `queued` has a lock of its own: a worker that queues never waits for
  // the window thread's `lock`.
  bool deferQueue = false;
  void RunQueued();

  std::recursive_mutex lock;

 private:
  std::mutex queueLock_;
  std::deque<std::function<void()>> queued_;
  const WindowLayout& layout_;
  EventSink sink_;
  std::size_t columns_ = 0;
};

}  // namespace quillon::platform
