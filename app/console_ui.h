// The Ui of Quillon without a window (the command line and the service):
// the controls and the list are held in memory, a message box is recorded
// (and answered OK) for the command to print, nothing else is shown.
// Calls may come from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace quillon::app {

class ConsoleUi final : public platform::Ui {
 public:
  struct Message {
    std::string text;
    std::string caption;
  };
  // Called for each message box as it comes (the service prints them at once).
  std::function<void(const Message&)> onMessage;

  // What the boxes said, and the rows of the list, so far.
  std::vector<Message> Messages();
  std::vector<platform::Row> Rows();

  void SetEventSink(platform::EventSink) override {}
  void SetCleanup(std::function<void()>) override {}
  std::string ReadControlText(platform::Control c) override;
  void WriteControlText(platform::Control c, const std::string& text) override;
  void SetVisible(platform::Control, bool) override {}
  bool IsVisible(platform::Control) override { return false; }
  int ComboAddItem(platform::Control, const std::string&, int) override { return -1; }
  void ListClear(platform::Control) override;
  int ListAppendRow(platform::Control) override;
  void ListSetCell(platform::Control, int row, int column, const std::string& text) override;
  std::string ListGetCell(platform::Control, int row, int column) override;
  int ListSelectedRow(platform::Control) override { return -1; }
  int ListRowCount(platform::Control) override;
  void ListReplaceRows(platform::Control, std::vector<platform::Row> rows) override;
  void ListAppendFilledRow(platform::Control, platform::Row cells, int numberColumn) override;
  int AskUser(const std::string& text, int style, const std::string& caption) override;
  std::string BrowseForPath(const std::string&, bool) override { return {}; }
  void PopupMenu(platform::Control) override {}
  void OpenUrl(const std::string&) override {}
  void Delay(int ms) override;
  bool WindowExists() override { return true; }
  void EndProgram(int) override {}
  std::uintptr_t GetWindowHandle() override { return 0; }
  bool RegisterDropTarget(platform::Control, std::uintptr_t) override { return false; }
  void Post(std::function<void()> fn) override { fn(); }

 private:
  std::mutex lock_;
  std::vector<std::pair<platform::Control, std::string>> texts_;
  std::vector<platform::Row> rows_;
  std::vector<Message> messages_;
};

}  // namespace quillon::app
