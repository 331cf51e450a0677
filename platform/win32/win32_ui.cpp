#include "platform/win32/win32_ui.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <utility>

#include "platform/win32/win32_window.h"

namespace quillon::platform::win32 {

namespace {

constexpr char kAgentClass[] = "QuillonAgent";
// To the agent window: lParam owns a std::function<void()> to run.
constexpr UINT kRunMessage = WM_APP + 10;

LRESULT CALLBACK AgentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunMessage) {
    std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lParam));
    if (fn && *fn) (*fn)();
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND Agent(void* agent) { return static_cast<HWND>(agent); }

}  // namespace

Win32Ui::Win32Ui(WindowLayout layout) : ThreadedUi(std::move(layout)), threadId_(GetCurrentThreadId()) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA agent{};
  agent.cbSize = sizeof agent;
  agent.lpfnWndProc = &AgentProc;
  agent.hInstance = instance;
  agent.lpszClassName = kAgentClass;
  RegisterClassExA(&agent);
  // A message-only window: it lives as long as the process, so calls posted
  // to the window thread never depend on the main window.
  agent_ = CreateWindowExA(0, kAgentClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);

  window_ = std::make_unique<Win32Window>(
      layout_, [this](ControlId c, Event e, const std::string& argument) { return Dispatch(c, e, argument); },
      [this] { EndHere(0); });
  if (agent_ != nullptr && window_->Create()) exists_ = true;
}

Win32Ui::~Win32Ui() {
  exists_ = false;
  window_.reset();
  if (agent_ != nullptr) DestroyWindow(Agent(agent_));
}

bool Win32Ui::OnWindowThread() const { return GetCurrentThreadId() == threadId_; }

void Win32Ui::Show() {
  if (Live()) window_->Show();
}

namespace {

// Hands one message on: the keyboard navigation between the window's
// controls first, then the usual translation and dispatch.
void Pump(HWND main, MSG& msg) {
  if (main != nullptr && IsWindow(main) && IsDialogMessageA(main, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

}  // namespace

int Win32Ui::Run() {
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return 0;
    Pump(window_->Main(), msg);
  }
}

bool Win32Ui::Enqueue(std::function<void()> fn) {
  if (agent_ == nullptr) return false;
  auto* owned = new std::function<void()>(std::move(fn));
  if (!PostMessageA(Agent(agent_), kRunMessage, 0, reinterpret_cast<LPARAM>(owned))) {
    delete owned;
    return false;
  }
  return true;
}

void Win32Ui::PumpFor(int ms) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The program is ending: the loop below the caller takes it.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      Pump(window_->Main(), msg);
    }
  }
}

void Win32Ui::CloseHere(int exitCode) {
  window_->SetEnding();
  window_->Destroy();
  PostQuitMessage(exitCode);
}

// ---- controls ---------------------------------------------------------------

std::string Win32Ui::ReadHere(ControlId c) { return window_->Text(c); }
void Win32Ui::WriteHere(ControlId c, const std::string& text) { window_->SetText(c, text); }
void Win32Ui::SetVisibleHere(ControlId c, bool visible) { window_->SetVisible(c, visible); }
bool Win32Ui::IsVisibleHere(ControlId c) { return window_->IsVisible(c); }
int Win32Ui::AddItemHere(ControlId c, const std::string& text, int value) { return window_->AddItem(c, text, value); }

// ---- list view ----------------------------------------------------------------

void Win32Ui::SetCellHere(int row, int column, const std::string& text) { window_->SetCell(row, column, text); }
std::string Win32Ui::CellHere(int row, int column) { return window_->Cell(row, column); }
int Win32Ui::SelectedRowHere() { return window_->SelectedRow(); }
int Win32Ui::RowCountHere() { return window_->RowCount(); }
void Win32Ui::ReplaceRowsHere(ListRows rows) { window_->ReplaceRows(std::move(rows)); }
void Win32Ui::AppendFilledRowHere(Row cells, int numberColumn) { window_->AppendFilledRow(std::move(cells), numberColumn); }

void Win32Ui::AppendRowsHere(ListRows rows) { window_->AppendRows(std::move(rows)); }

// ---- dialogs and the shell ------------------------------------------------------

int Win32Ui::AskHere(const std::string& text, int style, const std::string& caption) {
  // No owner; task-modal, so every window of this thread waits for the box.
  UINT flags = static_cast<UINT>(style);
  if ((flags & MB_SYSTEMMODAL) == 0) flags |= MB_TASKMODAL;
  switch (MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags)) {
    case IDOK: return AnswerOk;
    case IDCANCEL: return AnswerCancel;
    case IDABORT: return AnswerAbort;
    case IDRETRY: return AnswerRetry;
    case IDIGNORE: return AnswerIgnore;
    case IDYES: return AnswerYes;
    case IDNO: return AnswerNo;
    default:  // the box could not be shown
      return (style & 0xF) == AskOkCancel ? AnswerCancel : AnswerOk;
  }
}

std::string Win32Ui::BrowseHere(const std::string& title, bool includeFiles) {
  char display[MAX_PATH] = {};
  BROWSEINFOA info{};
  // Owned by the active window, which the dialog disables while it is open.
  info.hwndOwner = GetActiveWindow() != nullptr ? GetActiveWindow() : window_->Main();
  info.pidlRoot = nullptr;  // the desktop
  info.pszDisplayName = display;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_EDITBOX | (includeFiles ? BIF_BROWSEINCLUDEFILES : 0);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
  if (chosen == nullptr) return {};
  char path[MAX_PATH] = {};
  const bool ok = SHGetPathFromIDListA(chosen, path) != FALSE;
  CoTaskMemFree(chosen);
  return ok ? std::string(path) : std::string();
}

void Win32Ui::PopupHere(ControlId menu) { window_->Popup(menu); }

void Win32Ui::OpenUrlHere(const std::string& url) {
  ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::uintptr_t Win32Ui::HandleHere() { return reinterpret_cast<std::uintptr_t>(window_->Main()); }

bool Win32Ui::EnableDropsHere(ControlId target) { return window_->EnableDrops(target); }

}  // namespace quillon::platform::win32
