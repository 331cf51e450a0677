// Drives the real quillon.exe from another process, as a user would, through
// the window system only: windows found by title or by control ID, texts read
// with WM_GETTEXT and the list view's cells with LVM_GETITEMTEXTA (in memory
// of the program's own process), buttons clicked with BM_CLICK, texts typed
// with WM_SETTEXT, mouse and keys as posted messages, message boxes found by
// their title. No pixel is looked at.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/window_layout.h"

namespace quillon::test {

// How long any one condition may take to come true.
constexpr DWORD kWaitMs = 30000;

// Polls `condition` until it holds or `timeoutMs` has passed; whether it held.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kWaitMs);

// The program under test, started with a command line of its own.
class ProgramProcess {
 public:
  ProgramProcess() = default;
  ~ProgramProcess();  // ends a program that still runs
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  // Starts `exe` on the desktop named `desktop`.
  bool Start(const std::string& exe, const std::string& arguments, const char* desktop);
  HANDLE Handle() const { return process_; }
  // Waits for the end; false when it does not end in time.
  bool WaitForExit(DWORD* exitCode, DWORD timeoutMs = kWaitMs);
  bool Running() const;

 private:
  HANDLE process_ = nullptr;
};

// A window's text, through WM_GETTEXT (which the system carries between
// processes), in the ANSI code page.
std::string TextOf(HWND window);
void SetTextOf(HWND window, const std::string& text);

// The text of a rich edit box of another process, with CR LF line ends.
std::string RichEditText(HANDLE process, HWND box);

// The visible top-level window with this class (null for any) and title.
HWND FindTopLevel(const char* windowClass, const std::string& title);
// The descendant of `top` with the control's window ID.
HWND FindControl(HWND top, platform::ControlId c);
// `window`'s rectangle in the client coordinates of `parent`.
RECT RectIn(HWND window, HWND parent);

// A message box, by its title; its text; a press on its button `id`.
HWND FindMessageBox(const std::string& title);
std::string MessageBoxText(HWND box);
void PressButton(HWND box, int id);
// Waits for the box titled `title`, checks nothing, presses `id` and returns
// the box's text (empty when no box came).
std::string AnswerBox(const std::string& title, int id);

// The list view of another process.
int ListRowCount(HWND list);
std::string ListCell(HANDLE process, HWND list, int row, int column);
std::vector<std::string> ListRow(HANDLE process, HWND list, int row, int columns);
int ListColumnWidth(HWND list, int column);
std::string ListColumnTitle(HANDLE process, HWND list, int column);
// A press and release of the right or left mouse button on a row.
void ClickRow(HANDLE process, HWND list, int row, bool right);

// The pop-up menu that is open, or null.
HWND OpenMenu();
// Chooses the item at `index` of the open menu with the keyboard.
void ChooseMenuItem(HWND menu, int index);

// Items of a combo box.
int ComboCount(HWND combo);
std::string ComboItem(HWND combo, int index);
// Moves the pick of a closed combo box down by one item, as the Down key in
// its text field does.
void ComboPickNext(HWND combo);

}  // namespace quillon::test
