#include "platform/win32/win32_ui.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/win32/win32_window.h"
#include "platform/window_call.h"

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

Win32Ui::Win32Ui(WindowSpec spec) : spec_(std::move(spec)), threadId_(GetCurrentThreadId()) {
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
      spec_, [this](Control c, Event e, const std::string& argument) { return Dispatch(c, e, argument); },
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
  if (exists_ && !ended_) window_->Show();
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

bool Win32Ui::Dispatch(Control c, Event e, const std::string& argument) {
  EventSink sink = sink_;  // the handler may replace the sink
  if (!sink) return true;
  return sink(c, e, argument);
}

// ---- threads ----------------------------------------------------------------

bool Win32Ui::Enqueue(std::function<void()> fn) {
  if (agent_ == nullptr) return false;
  auto* owned = new std::function<void()>(std::move(fn));
  if (!PostMessageA(Agent(agent_), kRunMessage, 0, reinterpret_cast<LPARAM>(owned))) {
    delete owned;
    return false;
  }
  return true;
}

template <class R>
R Win32Ui::Call(std::function<R()> fn, R fallback) {
  if (OnWindowThread()) return exists_ && !ended_ ? fn() : fallback;
  if (!exists_) return fallback;
  return CallOnWindowThread<R>([this](std::function<void()> job) { return Enqueue(std::move(job)); }, exists_,
                               [this, fn, fallback] { return exists_ && !ended_ ? fn() : fallback; }, fallback);
}

void Win32Ui::Async(std::function<void()> fn) {
  if (OnWindowThread()) {
    if (exists_ && !ended_) fn();
    return;
  }
  if (!exists_) return;
  Enqueue([this, fn = std::move(fn)] {
    if (exists_ && !ended_) fn();
  });
}

void Win32Ui::Post(std::function<void()> fn) {
  if (OnWindowThread()) {
    fn();
    return;
  }
  Enqueue(std::move(fn));
}

void Win32Ui::SetEventSink(EventSink sink) { sink_ = std::move(sink); }

void Win32Ui::SetCleanup(std::function<void()> cleanup) { cleanup_ = std::move(cleanup); }

// ---- controls ---------------------------------------------------------------

std::string Win32Ui::ReadControlText(Control c) {
  return Call<std::string>([this, c] { return window_->Text(c); }, std::string());
}

void Win32Ui::WriteControlText(Control c, const std::string& text) {
  Async([this, c, text] { window_->SetText(c, text); });
}

void Win32Ui::SetVisible(Control c, bool visible) {
  Async([this, c, visible] { window_->SetVisible(c, visible); });
}

bool Win32Ui::IsVisible(Control c) {
  return Call<bool>([this, c] { return window_->IsVisible(c); }, false);
}

int Win32Ui::ComboAddItem(Control c, const std::string& text, int value) {
  return Call<int>([this, c, text, value] { return window_->AddItem(c, text, value); }, -1);
}

// ---- list view ----------------------------------------------------------------

void Win32Ui::ListClear(Control list) {
  if (!IsList(list)) return;
  Async([this] { window_->ClearRows(); });
}

int Win32Ui::ListAppendRow(Control list) {
  if (!IsList(list)) return -1;
  return Call<int>([this] { return window_->AppendRow(); }, -1);
}

void Win32Ui::ListSetCell(Control list, int row, int column, const std::string& text) {
  if (!IsList(list)) return;
  Async([this, row, column, text] { window_->SetCell(row, column, text); });
}

std::string Win32Ui::ListGetCell(Control list, int row, int column) {
  if (!IsList(list)) return {};
  return Call<std::string>([this, row, column] { return window_->Cell(row, column); }, std::string());
}

int Win32Ui::ListSelectedRow(Control list) {
  if (!IsList(list)) return -1;
  return Call<int>([this] { return window_->SelectedRow(); }, -1);
}

int Win32Ui::ListRowCount(Control list) {
  if (!IsList(list)) return 0;
  return Call<int>([this] { return window_->RowCount(); }, 0);
}

void Win32Ui::ListReplaceRows(Control list, std::vector<Row> rows) {
  if (!IsList(list)) return;
  auto shared = std::make_shared<std::vector<Row>>(std::move(rows));
  Async([this, shared] { window_->ReplaceRows(std::move(*shared)); });
}

void Win32Ui::ListAppendFilledRow(Control list, Row cells, int numberColumn) {
  if (!IsList(list)) return;
  auto shared = std::make_shared<Row>(std::move(cells));
  Async([this, shared, numberColumn] { window_->AppendFilledRow(std::move(*shared), numberColumn); });
}

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

int Win32Ui::AskUser(const std::string& text, int style, const std::string& caption) {
  const int gone = (style & 0xF) == AskOkCancel ? AnswerCancel : AnswerOk;
  if (OnWindowThread()) return AskHere(text, style, caption);
  return Call<int>([this, text, style, caption] { return AskHere(text, style, caption); }, gone);
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

std::string Win32Ui::BrowseForPath(const std::string& title, bool includeFiles) {
  if (OnWindowThread()) return BrowseHere(title, includeFiles);
  return Call<std::string>([this, title, includeFiles] { return BrowseHere(title, includeFiles); }, std::string());
}

void Win32Ui::PopupMenu(Control menu) {
  Async([this, menu] { window_->Popup(menu); });
}

void Win32Ui::OpenUrl(const std::string& url) {
  Post([url] { ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL); });
}

// ---- the program's life -----------------------------------------------------------

void Win32Ui::Delay(int ms) {
  if (ms <= 0) return;
  if (!OnWindowThread()) {
    Sleep(static_cast<DWORD>(ms));
    return;
  }
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

void Win32Ui::EndHere(int exitCode) {
  if (ended_) return;
  ended_ = true;
  if (cleanup_) cleanup_();
  exists_ = false;
  window_->SetEnding();
  window_->Destroy();
  PostQuitMessage(exitCode);
}

void Win32Ui::EndProgram(int exitCode) {
  if (OnWindowThread()) {
    EndHere(exitCode);
    return;
  }
  Enqueue([this, exitCode] { EndHere(exitCode); });
}

std::uintptr_t Win32Ui::GetWindowHandle() {
  return Call<std::uintptr_t>([this] { return reinterpret_cast<std::uintptr_t>(window_->Main()); }, 0);
}

bool Win32Ui::RegisterDropTarget(Control dropTarget, std::uintptr_t) {
  return Call<bool>([this, dropTarget] { return window_->EnableDrops(dropTarget); }, false);
}

}  // namespace quillon::platform::win32
