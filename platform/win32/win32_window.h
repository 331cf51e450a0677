// The main window on the Win32 API, built from the window description: every
// control becomes a child window at its table geometry (client coordinates of
// the window, or of the panel that holds it), with its caption, font and
// initial visibility. Only the window thread uses this class; Win32Ui turns
// calls from other threads into posted or blocking calls.
//
// Controls:
//   list view   comctl32 report view in owner-data mode: the rows live here,
//               so replacing tens of thousands of rows is one step
//   combo box   drop-down with an editable text field, unsorted
//   rich edit   RichEdit20A (riched20.dll)
//   group box   a panel: a container window at the group box's geometry that
//               holds the frame and the panel's controls, so hiding the
//               panel hides them, and their notifications reach the window
//   labels      static controls drawn on the window's background
// The hidden top-level menu is never shown as a menu bar; its one pop-up is
// the list's context menu.
//
// Private to platform/win32: it includes <windows.h>.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/window_layout.h"

namespace quillon::platform::win32 {

// Messages of the window thread's own making.
enum : UINT {
  kCreatedMessage = WM_APP + 1,      // to the window: fire Event::Created
  kComboChosenMessage = WM_APP + 2,  // to the window: wParam = the combo box's idId
};

class Win32Window {
 public:
  using Sink = std::function<bool(ControlId, Event, const std::string&)>;

  // `sink` receives every event of the window; `endProgram` ends the program
  // after a close that the close query allowed.
  Win32Window(const WindowLayout& layout, Sink sink, std::function<void()> endProgram);
  ~Win32Window();
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window and its controls (hidden); false when the window
  // could not be made.
  bool Create();
  // Centres the window on the screen, shows it and posts Event::Created.
  void Show();
  // Set by EndProgram: the window then closes without asking.
  void SetEnding() { ending_ = true; }
  void Destroy();

  HWND Main() const { return main_; }
  // The control's own window (for a group box: its panel), or null for the
  // components, the menu and its items.
  HWND Handle(ControlId c) const;

  std::string Text(ControlId c) const;
  void SetText(ControlId c, const std::string& text);
  void SetVisible(ControlId c, bool visible);
  bool IsVisible(ControlId c) const;
  int AddItem(ControlId c, const std::string& text, int value);

  // The list view's rows.
  void SetCell(int row, int column, const std::string& text);
  std::string Cell(int row, int column) const;
  int SelectedRow() const;
  int RowCount() const { return static_cast<int>(rows_.size()); }
  void ReplaceRows(ListRows rows);
  void AppendFilledRow(Row cells, int numberColumn);
  void AppendRows(ListRows rows);

  // Shows the menu's pop-up at the pointer + (3, 3); the chosen item's
  // Event::Chosen comes after the caller has returned.
  void Popup(ControlId menu);
  // Files dropped anywhere on the window fire `target`'s Event::FilesDropped;
  // false when drops are already on.
  bool EnableDrops(ControlId target);

 private:
  static LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PressProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR data);

  LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnNotify(const NMHDR* header);
  void OnDropFiles(HDROP drop);
  void OnClose();
  bool Fire(ControlId c, Event e, const std::string& argument = {});

  bool MakeControl(const ControlLayout& c, HWND parent);
  void MakeMenu();
  int Scale(int pixels) const;
  const ControlLayout* LayoutOf(ControlId c) const { return layout_.Find(c); }

  const WindowLayout& layout_;
  Sink sink_;
  std::function<void()> endProgram_;
  HWND main_ = nullptr;
  HFONT font_ = nullptr;
  int dpi_ = 96;
  std::map<ControlId, HWND> handles_;
  std::map<ControlId, HWND> frames_;  // a panel's group box frame
  HWND list_ = nullptr;
  ListRows rows_;
  HMENU menuBar_ = nullptr;   // the hidden top-level menu
  HMENU popup_ = nullptr;     // its pop-up: the context menu
  bool dropsEnabled_ = false;
  ControlId dropTarget_;
  bool ending_ = false;
};

}  // namespace quillon::platform::win32
