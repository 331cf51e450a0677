#include "app/console_ui.h"

#include <chrono>
#include <thread>

namespace quillon::app {

std::vector<ConsoleUi::Message> ConsoleUi::Messages() {
  std::lock_guard<std::mutex> hold(lock_);
  return messages_;
}

std::vector<platform::Row> ConsoleUi::Rows() {
  std::lock_guard<std::mutex> hold(lock_);
  return rows_;
}

std::string ConsoleUi::ReadControlText(platform::Control c) {
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& [control, text] : texts_) {
    if (control == c) return text;
  }
  return {};
}

void ConsoleUi::WriteControlText(platform::Control c, const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& [control, value] : texts_) {
    if (control == c) {
      value = text;
      return;
    }
  }
  texts_.emplace_back(c, text);
}

void ConsoleUi::ListClear(platform::Control) {
  std::lock_guard<std::mutex> hold(lock_);
  rows_.clear();
}

int ConsoleUi::ListAppendRow(platform::Control) {
  std::lock_guard<std::mutex> hold(lock_);
  rows_.emplace_back();
  return static_cast<int>(rows_.size()) - 1;
}

void ConsoleUi::ListSetCell(platform::Control, int row, int column, const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || column < 0 || row >= static_cast<int>(rows_.size())) return;
  auto& cells = rows_[static_cast<std::size_t>(row)];
  if (cells.size() <= static_cast<std::size_t>(column)) cells.resize(static_cast<std::size_t>(column) + 1);
  cells[static_cast<std::size_t>(column)] = text;
}

std::string ConsoleUi::ListGetCell(platform::Control, int row, int column) {
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || column < 0 || row >= static_cast<int>(rows_.size())) return {};
  const auto& cells = rows_[static_cast<std::size_t>(row)];
  return static_cast<std::size_t>(column) < cells.size() ? cells[static_cast<std::size_t>(column)] : std::string();
}

int ConsoleUi::ListRowCount(platform::Control) {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<int>(rows_.size());
}

void ConsoleUi::ListReplaceRows(platform::Control, std::vector<platform::Row> rows) {
  std::lock_guard<std::mutex> hold(lock_);
  rows_ = std::move(rows);
}

void ConsoleUi::ListAppendFilledRow(platform::Control, platform::Row cells, int numberColumn) {
  std::lock_guard<std::mutex> hold(lock_);
  rows_.push_back(std::move(cells));
  if (numberColumn >= 0) {
    auto& row = rows_.back();
    if (row.size() <= static_cast<std::size_t>(numberColumn)) row.resize(static_cast<std::size_t>(numberColumn) + 1);
    row[static_cast<std::size_t>(numberColumn)] = std::to_string(rows_.size());
  }
}

int ConsoleUi::AskUser(const std::string& text, int, const std::string& caption) {
  Message m{text, caption};
  {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.push_back(m);
  }
  if (onMessage) onMessage(m);
  return platform::AnswerOk;
}

void ConsoleUi::Delay(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace quillon::app
