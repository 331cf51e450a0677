#include "window_driver.h"

#include <commctrl.h>
#include <richedit.h>

#include <cstring>

#include "platform/win32/win32_ui.h"

namespace quillon::test {

namespace {

constexpr UINT kSendTimeoutMs = 5000;

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) return -1;
  return static_cast<LRESULT>(result);
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Memory in the program's process, for the list view's messages, whose
// pointers the system does not carry between processes.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, std::size_t size) : process_(process) {
    base_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (base_ != nullptr) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool Ok() const { return base_ != nullptr; }
  char* At(std::size_t offset) const { return static_cast<char*>(base_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t size) const {
    return WriteProcessMemory(process_, At(offset), data, size, nullptr) != FALSE;
  }
  bool Read(std::size_t offset, void* data, std::size_t size) const {
    return ReadProcessMemory(process_, At(offset), data, size, nullptr) != FALSE;
  }

 private:
  HANDLE process_;
  void* base_ = nullptr;
};

constexpr std::size_t kTextRoom = 4096;

// Texts are read in UTF-16, which the system carries between processes
// for every message alike, and turned into the ANSI code page here.
std::string Ansi(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

// ---- the process ------------------------------------------------------------

ProgramProcess::~ProgramProcess() {
  if (process_ == nullptr) return;
  if (Running()) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, kWaitMs);
  }
  CloseHandle(process_);
}

bool ProgramProcess::Start(const std::string& exe, const std::string& arguments, const char* desktop) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string desktopName = desktop;
  startup.lpDesktop = desktopName.data();
  PROCESS_INFORMATION info{};
  std::string commandLine = "\"" + exe + "\" " + arguments;
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  return true;
}

bool ProgramProcess::Running() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool ProgramProcess::WaitForExit(DWORD* exitCode, DWORD timeoutMs) {
  if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(process_, exitCode);
  return true;
}

// ---- windows and texts ------------------------------------------------------

std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length) ||
      length == 0) {
    return {};
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                      kSendTimeoutMs, &got);
  text.resize(wcsnlen(text.c_str(), text.size()));
  return Ansi(text);
}

void SetTextOf(HWND window, const std::string& text) {
  Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string RichEditText(HANDLE process, HWND box) {
  RemoteBuffer remote(process, sizeof(GETTEXTEX) + kTextRoom);
  if (!remote.Ok()) return "<no memory in the program>";
  GETTEXTEX query{};
  query.cb = static_cast<DWORD>(kTextRoom);
  query.flags = GT_USECRLF;
  query.codepage = CP_ACP;
  remote.Write(0, &query, sizeof query);
  Send(box, EM_GETTEXTEX, reinterpret_cast<WPARAM>(remote.At(0)), reinterpret_cast<LPARAM>(remote.At(sizeof query)));
  std::string text(kTextRoom, '\0');
  remote.Read(sizeof query, text.data(), kTextRoom);
  text.resize(strnlen(text.c_str(), kTextRoom));
  return text;
}

HWND FindTopLevel(const char* windowClass, const std::string& title) {
  HWND window = FindWindowA(windowClass, title.c_str());
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

HWND FindControl(HWND top, platform::ControlId c) {
  struct Search {
    int id;
    HWND found;
  } search{platform::win32::WindowIdOf(c), nullptr};
  EnumChildWindows(
      top,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (GetDlgCtrlID(child) != s->id) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

RECT RectIn(HWND window, HWND parent) {
  RECT r{};
  GetWindowRect(window, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// ---- message boxes ------------------------------------------------------------

HWND FindMessageBox(const std::string& title) { return FindTopLevel("#32770", title); }

std::string MessageBoxText(HWND box) {
  // The message is the box's longest static text (the icon is a static too).
  struct Longest {
    std::string text;
  } longest;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM data) -> BOOL {
        if (ClassOf(child) != "Static") return TRUE;
        const std::string text = TextOf(child);
        auto* l = reinterpret_cast<Longest*>(data);
        if (text.size() > l->text.size()) l->text = text;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&longest));
  return longest.text;
}

void PressButton(HWND box, int id) {
  if (HWND button = GetDlgItem(box, id)) PostMessageA(button, BM_CLICK, 0, 0);
}

std::string AnswerBox(const std::string& title, int id) {
  HWND box = nullptr;
  if (!WaitFor([&] { return (box = FindMessageBox(title)) != nullptr; })) return {};
  const std::string text = MessageBoxText(box);
  PressButton(box, id);
  // The next box of the same title is another window.
  WaitFor([&] { return !IsWindow(box); });
  return text;
}

// ---- the list view --------------------------------------------------------------

int ListRowCount(HWND list) { return static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string ListCell(HANDLE process, HWND list, int row, int column) {
  RemoteBuffer remote(process, sizeof(LVITEMA) + kTextRoom);
  if (!remote.Ok()) return "<no memory in the program>";
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = remote.At(sizeof(LVITEMA));
  item.cchTextMax = static_cast<int>(kTextRoom);
  const char nothing = '\0';
  remote.Write(0, &item, sizeof item);
  remote.Write(sizeof(LVITEMA), &nothing, 1);
  Send(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
  std::string text(kTextRoom, '\0');
  remote.Read(sizeof(LVITEMA), text.data(), kTextRoom);
  text.resize(strnlen(text.c_str(), kTextRoom));
  return text;
}

std::vector<std::string> ListRow(HANDLE process, HWND list, int row, int columns) {
  std::vector<std::string> cells;
  for (int c = 0; c < columns; ++c) cells.push_back(ListCell(process, list, row, c));
  return cells;
}

int ListColumnWidth(HWND list, int column) {
  return static_cast<int>(Send(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

std::string ListColumnTitle(HANDLE process, HWND list, int column) {
  RemoteBuffer remote(process, sizeof(LVCOLUMNA) + kTextRoom);
  if (!remote.Ok()) return "<no memory in the program>";
  LVCOLUMNA info{};
  info.mask = LVCF_TEXT;
  info.pszText = remote.At(sizeof(LVCOLUMNA));
  info.cchTextMax = static_cast<int>(kTextRoom);
  remote.Write(0, &info, sizeof info);
  if (Send(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(remote.At(0))) <= 0) {
    return "<no column>";
  }
  std::string text(kTextRoom, '\0');
  remote.Read(sizeof(LVCOLUMNA), text.data(), kTextRoom);
  text.resize(strnlen(text.c_str(), kTextRoom));
  return text;
}

void ClickRow(HANDLE process, HWND list, int row, bool right) {
  RECT bounds{};
  bounds.left = LVIR_BOUNDS;
  RemoteBuffer remote(process, sizeof bounds);
  if (!remote.Ok() || !remote.Write(0, &bounds, sizeof bounds)) return;
  Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
  remote.Read(0, &bounds, sizeof bounds);
  // On the row's second cell, where the destination is.
  const LPARAM at = MAKELPARAM(bounds.left + 60, (bounds.top + bounds.bottom) / 2);
  if (right) {
    PostMessageA(list, WM_RBUTTONDOWN, MK_RBUTTON, at);
    PostMessageA(list, WM_RBUTTONUP, 0, at);
  } else {
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
  }
}

// ---- menus and combo boxes ---------------------------------------------------------

HWND OpenMenu() {
  HWND menu = FindWindowA("#32768", nullptr);
  return menu != nullptr && IsWindowVisible(menu) ? menu : nullptr;
}

void ChooseMenuItem(HWND menu, int index) {
  for (int i = 0; i <= index; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
}

int ComboCount(HWND combo) { return static_cast<int>(Send(combo, CB_GETCOUNT, 0, 0)); }

std::string ComboItem(HWND combo, int index) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length) ||
      static_cast<LRESULT>(length) < 0) {
    return {};
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, kSendTimeoutMs, &got);
  text.resize(wcsnlen(text.c_str(), text.size()));
  return Ansi(text);
}

void ComboPickNext(HWND combo) {
  HWND field = FindWindowExA(combo, nullptr, "Edit", nullptr);
  PostMessageA(field != nullptr ? field : combo, WM_KEYDOWN, VK_DOWN, 0);
}

}  // namespace quillon::test
