#include "platform/fake/fake_ui.h"

#include <gtest/gtest.h>

namespace quillon::platform {

FakeUi::FakeUi(const WindowLayout& layout) : layout_(layout), columns_(layout.columns.size()) {
  for (const auto& c : layout.controls) {
    texts[c.id] = c.caption;
    visible[c.id] = c.visible;
  }
}

bool FakeUi::Fire(ControlId c, Event e, const std::string& argument) {
  if (!sink_) return true;
  return sink_(c, e, argument);
}

std::string FakeUi::ReadControlText(ControlId c) {
  std::lock_guard<std::recursive_mutex> hold(lock); return texts[c]; }

void FakeUi::WriteControlText(ControlId c, const std::string& text) {
  std::lock_guard<std::recursive_mutex> hold(lock); texts[c] = text; }

void FakeUi::SetVisible(ControlId c, bool v) {
  std::lock_guard<std::recursive_mutex> hold(lock); visible[c] = v; }

bool FakeUi::IsVisible(ControlId c) {
  std::lock_guard<std::recursive_mutex> hold(lock); return visible[c]; }

int FakeUi::ComboAddItem(ControlId c, const std::string& text, int) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  auto& items = comboItems[c];
  items.push_back(text);
  return static_cast<int>(items.size()) - 1;
}

void FakeUi::ListSetCell(ControlId, int row, int column, const std::string& text) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0 ||
      column >= static_cast<int>(columns_)) {
    return;
  }
  rows[row][column] = text;
}

std::string FakeUi::ListGetCell(ControlId, int row, int column) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0 ||
      column >= static_cast<int>(columns_)) {
    return {};
  }
  return rows[row][column];
}

int FakeUi::ListSelectedRow(ControlId) {
  std::lock_guard<std::recursive_mutex> hold(lock); return selectedRow < static_cast<int>(rows.size()) ? selectedRow : -1; }

int FakeUi::ListRowCount(ControlId) {
  std::lock_guard<std::recursive_mutex> hold(lock); return static_cast<int>(rows.size()); }

void FakeUi::ListReplaceRows(ControlId, ListRows newRows) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  rows.clear();
  for (std::size_t i = 0; i < newRows.size(); ++i) {
    rows.push_back(newRows.At(i));
    rows.back().resize(columns_);
  }
  selectedRow = -1;
}

void FakeUi::ListAppendRows(ControlId, ListRows more) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  for (std::size_t i = 0; i < more.size(); ++i) {
    rows.push_back(more.At(i));
    rows.back().resize(columns_);
  }
}

void FakeUi::ListAppendFilledRow(ControlId, Row cells, int numberColumn) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  cells.resize(columns_);
  rows.push_back(std::move(cells));
  if (numberColumn >= 0 && numberColumn < static_cast<int>(columns_)) {
    rows.back()[numberColumn] = std::to_string(rows.size());
  }
}

bool FakeUi::WindowExists() { return windowExists; }

int FakeUi::AskUser(const std::string& text, int style, const std::string& caption) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  boxes.push_back({text, style, caption});
  if (answers.empty() && answerAlways >= 0) return answerAlways;
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected message box: [" << caption << "] " << text;
    return AnswerCancel;
  }
  const int a = answers.front();
  answers.pop_front();
  return a;
}

std::string FakeUi::BrowseForPath(const std::string&, bool) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  if (browseAnswers.empty()) {
    ADD_FAILURE() << "unexpected browse dialog";
    return {};
  }
  auto a = browseAnswers.front();
  browseAnswers.pop_front();
  return a;
}

void FakeUi::PopupMenu(ControlId menu) {
  std::lock_guard<std::recursive_mutex> hold(lock); poppedMenus.push_back(menu); }

void FakeUi::OpenUrl(const std::string& url) {
  std::lock_guard<std::recursive_mutex> hold(lock); openedUrls.push_back(url); }

void FakeUi::Delay(int ms) {
  if (ms <= 0) return;
  {
    std::lock_guard<std::recursive_mutex> hold(lock);
    delayedMs += ms;
  }
  if (onDelay) onDelay(ms);
}

void FakeUi::EndProgram(int code) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  exitCode = code;
  windowExists = false;
}

bool FakeUi::RegisterDropTarget(ControlId, std::uintptr_t) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  ++dropRegistrations;
  return dropRegistrations == 1;
}

void FakeUi::Queue(std::function<void()> fn) {
  if (deferQueue) {
    std::lock_guard<std::mutex> hold(queueLock_);
    queued_.push_back(std::move(fn));
    return;
  }
  fn();
}

void FakeUi::RunQueued() {
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> hold(queueLock_);
      if (queued_.empty()) return;
      fn = std::move(queued_.front());
      queued_.pop_front();
    }
    fn();
  }
}

}  // namespace quillon::platform
