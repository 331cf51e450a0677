#include "platform/threaded_ui.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace quillon::platform {

namespace {

// Hands a job that runs `run` to the window thread with `enqueue` (false
// when the job cannot be queued) and waits for its result. The window thread
// may never come to the job when the window goes away meanwhile (its loop
// has ended): once `exists` is false, or when the job was not queued, the
// caller gets `fallback`. `waiting`, when given, counts the callers that
// wait for a queued job.
template <class R>
R CallOnWindowThread(const std::function<bool(std::function<void()>)>& enqueue, const std::atomic<bool>& exists,
                     std::function<R()> run, R fallback, std::atomic<int>* waiting = nullptr) {
  struct State {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    R value{};
  };
  auto state = std::make_shared<State>();
  const bool queued = enqueue([state, run = std::move(run)] {
    R value = run();
    std::lock_guard lock(state->m);
    state->value = std::move(value);
    state->done = true;
    state->cv.notify_all();
  });
  if (!queued) return fallback;
  struct Counted {
    std::atomic<int>* count;
    explicit Counted(std::atomic<int>* c) : count(c) {
      if (count != nullptr) ++*count;
    }
    ~Counted() {
      if (count != nullptr) --*count;
    }
  } counted(waiting);
  std::unique_lock lock(state->m);
  while (!state->cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return state->done; })) {
    if (!exists) return fallback;
  }
  return std::move(state->value);
}

}  // namespace


bool ThreadedUi::Dispatch(ControlId c, Event e, const std::string& argument) {
  EventSink sink = sink_;  // the handler may replace the sink
  if (!sink) return true;
  return sink(c, e, argument);
}

template <class R>
R ThreadedUi::Call(std::function<R()> fn, R fallback) {
  if (OnWindowThread()) return Live() ? fn() : fallback;
  if (!exists_) return fallback;
  return CallOnWindowThread<R>([this](std::function<void()> job) { return Enqueue(std::move(job)); }, exists_,
                               [this, fn, fallback] { return Live() ? fn() : fallback; }, fallback, &callsWaiting_);
}

void ThreadedUi::Async(std::function<void()> fn) {
  if (OnWindowThread()) {
    if (Live()) fn();
    return;
  }
  if (!exists_) return;
  Enqueue([this, fn = std::move(fn)] {
    if (Live()) fn();
  });
}

void ThreadedUi::Post(std::function<void()> fn) {
  if (OnWindowThread()) {
    fn();
    return;
  }
  Enqueue(std::move(fn));
}

void ThreadedUi::Queue(std::function<void()> fn) {
  Enqueue([this, fn = std::move(fn)] {
    if (Live()) fn();
  });
}

std::string ThreadedUi::ReadControlText(ControlId c) {
  return Call<std::string>([this, c] { return ReadHere(c); }, std::string());
}

void ThreadedUi::WriteControlText(ControlId c, const std::string& text) {
  Async([this, c, text] { WriteHere(c, text); });
}

void ThreadedUi::SetVisible(ControlId c, bool visible) {
  Async([this, c, visible] { SetVisibleHere(c, visible); });
}

bool ThreadedUi::IsVisible(ControlId c) {
  return Call<bool>([this, c] { return IsVisibleHere(c); }, false);
}

int ThreadedUi::ComboAddItem(ControlId c, const std::string& text, int value) {
  return Call<int>([this, c, text, value] { return AddItemHere(c, text, value); }, -1);
}

void ThreadedUi::ListSetCell(ControlId list, int row, int column, const std::string& text) {
  if (IsList(list)) Async([this, row, column, text] { SetCellHere(row, column, text); });
}

std::string ThreadedUi::ListGetCell(ControlId list, int row, int column) {
  if (!IsList(list)) return {};
  return Call<std::string>([this, row, column] { return CellHere(row, column); }, std::string());
}

int ThreadedUi::ListSelectedRow(ControlId list) {
  if (!IsList(list)) return -1;
  return Call<int>([this] { return SelectedRowHere(); }, -1);
}

int ThreadedUi::ListRowCount(ControlId list) {
  if (!IsList(list)) return 0;
  return Call<int>([this] { return RowCountHere(); }, 0);
}

void ThreadedUi::ListReplaceRows(ControlId list, ListRows rows) {
  if (!IsList(list)) return;
  auto shared = std::make_shared<ListRows>(std::move(rows));
  Async([this, shared] { ReplaceRowsHere(std::move(*shared)); });
}

void ThreadedUi::ListAppendFilledRow(ControlId list, Row cells, int numberColumn) {
  if (!IsList(list)) return;
  auto shared = std::make_shared<Row>(std::move(cells));
  Async([this, shared, numberColumn] { AppendFilledRowHere(std::move(*shared), numberColumn); });
}

void ThreadedUi::ListAppendRows(ControlId list, ListRows rows) {
  if (!IsList(list)) return;
  auto shared = std::make_shared<ListRows>(std::move(rows));
  Async([this, shared] { AppendRowsHere(std::move(*shared)); });
}

int ThreadedUi::AskUser(const std::string& text, int style, const std::string& caption) {
  // A box that cannot be shown any more answers as its Esc would.
  const int gone = (style & 0xF) == AskOkCancel ? AnswerCancel : AnswerOk;
  if (OnWindowThread()) return AskHere(text, style, caption);
  return Call<int>([this, text, style, caption] { return AskHere(text, style, caption); }, gone);
}

std::string ThreadedUi::BrowseForPath(const std::string& title, bool includeFiles) {
  if (OnWindowThread()) return BrowseHere(title, includeFiles);
  return Call<std::string>([this, title, includeFiles] { return BrowseHere(title, includeFiles); }, std::string());
}

void ThreadedUi::PopupMenu(ControlId menu) {
  Async([this, menu] { PopupHere(menu); });
}

void ThreadedUi::OpenUrl(const std::string& url) {
  Post([this, url] { OpenUrlHere(url); });
}

void ThreadedUi::Delay(int ms) {
  if (ms <= 0) return;
  if (!OnWindowThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  PumpFor(ms);
}

void ThreadedUi::EndHere(int exitCode) {
  if (ended_) return;
  ended_ = true;
  exists_ = false;
  CloseHere(exitCode);
}

void ThreadedUi::EndProgram(int exitCode) {
  if (OnWindowThread()) {
    EndHere(exitCode);
    return;
  }
  Enqueue([this, exitCode] { EndHere(exitCode); });
}

std::uintptr_t ThreadedUi::GetWindowHandle() {
  return Call<std::uintptr_t>([this] { return HandleHere(); }, 0);
}

bool ThreadedUi::RegisterDropTarget(ControlId dropTarget, std::uintptr_t) {
  return Call<bool>([this, dropTarget] { return EnableDropsHere(dropTarget); }, false);
}

}  // namespace quillon::platform
