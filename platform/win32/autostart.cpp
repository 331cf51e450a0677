// SetAutostart on Windows: a logon task of the Task Scheduler 2.0 (COM,
// ITaskService), registered from its XML definition (autostart_task.h) so
// that the definition is one text, checked on its own. No program is started.
//
// The backend header comes before <windows.h>, whose CreateDirectory macro
// would otherwise rename a member of the class.
#include "platform/win32/win32_system.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <sddl.h>
#include <taskschd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/autostart_task.h"

namespace quillon::platform {

namespace win32 {
namespace {

std::string XmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

// The folder of a full path, "C:\" rather than "C:" for a file in a root.
std::string FolderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return {};
  std::string folder = path.substr(0, separator);
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  return folder;
}

}  // namespace

std::string AutostartTaskName(const std::string& userName) {
  std::string name = "Quillon (";
  for (const char c : userName) {
    const bool refused = static_cast<unsigned char>(c) < 0x20 || std::string("\\/:*?\"<>|").find(c) != std::string::npos;
    name += refused ? '_' : c;
  }
  return name + ")";
}

std::string AutostartTaskXml(const std::string& program, const std::string& userId) {
  const std::string user = XmlText(userId);
  return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
         "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
         "  <RegistrationInfo>\n"
         "    <Description>Starts Quillon at logon, so that it puts the split routes back.</Description>\n"
         "  </RegistrationInfo>\n"
         "  <Triggers>\n"
         "    <LogonTrigger>\n"
         "      <Enabled>true</Enabled>\n"
         "      <UserId>" + user + "</UserId>\n"
         "    </LogonTrigger>\n"
         "  </Triggers>\n"
         "  <Principals>\n"
         "    <Principal id=\"Author\">\n"
         "      <UserId>" + user + "</UserId>\n"
         "      <LogonType>InteractiveToken</LogonType>\n"
         "      <RunLevel>HighestAvailable</RunLevel>\n"
         "    </Principal>\n"
         "  </Principals>\n"
         "  <Settings>\n"
         "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
         "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
         "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
         "    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n"
         "    <Priority>4</Priority>\n"
         "  </Settings>\n"
         "  <Actions Context=\"Author\">\n"
         "    <Exec>\n"
         "      <Command>" + XmlText("\"" + program + "\"") + "</Command>\n"
         "      <WorkingDirectory>" + XmlText(FolderOf(program)) + "</WorkingDirectory>\n"
         "    </Exec>\n"
         "  </Actions>\n"
         "</Task>\n";
}

}  // namespace win32

namespace {

std::wstring WideFrom(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? length : 0, L'\0');
  if (length > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string NarrowTo(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(length > 0 ? length : 0, '\0');
  if (length > 0) {
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
  }
  return narrow;
}

// Releases a COM interface when it goes out of scope.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_ != nullptr) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// A BSTR that is freed when it goes out of scope.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }

 private:
  BSTR b_;
};

// COM on this thread for one call, undone afterwards when it was this call
// that started it.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  // False only when COM cannot be used on this thread at all; a thread in the
  // other apartment mode can still use it.
  bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

// Whether this thread acts with administrator rights: its own token when it
// has one (impersonation), else the process's.
bool IsElevated() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return false;
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

// The SID text of the user this process runs as; empty when unknown.
std::wstring UserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::wstring text;
  if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    LPWSTR sid = nullptr;
    if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
      text = sid;
      LocalFree(sid);
    }
  }
  CloseHandle(token);
  return text;
}

std::wstring UserName() {
  wchar_t name[257];
  DWORD size = 257;
  return GetUserNameW(name, &size) && size > 0 ? std::wstring(name, size - 1) : std::wstring();
}

// The full path of this program file, read wide so that no character is
// lost to the ANSI code page.
std::wstring ProgramPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// "error 0x80070005: <the system's text>", on one line.
std::string ErrorText(HRESULT hr) {
  char code[32];
  std::snprintf(code, sizeof code, "error 0x%08lX", static_cast<unsigned long>(hr));
  std::string text = code;
  char* described = nullptr;
  if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&described), 0, nullptr) != 0 &&
      described != nullptr) {
    std::string message = described;
    LocalFree(described);
    for (char& c : message) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    while (!message.empty() && message.back() == ' ') message.pop_back();
    if (!message.empty()) text += ": " + message;
  }
  return text;
}

}  // namespace

bool Win32System::SetAutostart(bool on, std::string& message) {
  // A task that runs with the highest rights can only be made, or removed,
  // with them.
  if (!IsElevated()) {
    message = std::string(on ? "starting" : "not starting") +
              " Quillon at logon needs administrator rights: start it as administrator once (right-click "
              "quillon.exe, \"Run as administrator\") and try again";
    return false;
  }
  const std::wstring sid = UserSid();
  const std::wstring user = UserName();
  const std::wstring program = ProgramPath();
  if (sid.empty() || user.empty() || program.empty()) {
    message = "cannot tell this user or this program's path, so no logon task was changed";
    return false;
  }
  const std::string taskName = win32::AutostartTaskName(NarrowTo(user, CP_UTF8));
  const std::string shownName = NarrowTo(WideFrom(taskName, CP_UTF8), CP_ACP);

  const ComApartment com;
  ComPtr<ITaskService> service;
  ComPtr<ITaskFolder> root;
  HRESULT hr = com.Usable() ? S_OK : E_FAIL;
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                          reinterpret_cast<void**>(service.Out()));
  }
  VARIANT none;
  VariantInit(&none);
  if (SUCCEEDED(hr)) hr = service->Connect(none, none, none, none);
  if (SUCCEEDED(hr)) hr = service->GetFolder(Bstr(L"\\").get(), root.Out());
  if (FAILED(hr)) {
    message = "cannot reach the Task Scheduler (" + ErrorText(hr) + "), so no logon task was changed";
    return false;
  }

  const Bstr name(WideFrom(taskName, CP_UTF8));
  if (!on) {
    hr = root->DeleteTask(name.get(), 0);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
      message = "Quillon was not set to start at logon (no task \"" + shownName + "\"); nothing changed";
      return true;
    }
    if (FAILED(hr)) {
      message = "could not remove the logon task \"" + shownName + "\" (" + ErrorText(hr) + ")";
      return false;
    }
    message = "Quillon no longer starts at logon (task \"" + shownName + "\" removed)";
    return true;
  }

  const std::string xml = win32::AutostartTaskXml(NarrowTo(program, CP_UTF8), NarrowTo(sid, CP_UTF8));
  ComPtr<IRegisteredTask> registered;
  // The task runs as the user who registers it, with that user's own
  // session (interactive token): no password is stored.
  hr = root->RegisterTask(name.get(), Bstr(WideFrom(xml, CP_UTF8)).get(), TASK_CREATE_OR_UPDATE, none, none,
                          TASK_LOGON_INTERACTIVE_TOKEN, none, registered.Out());
  if (FAILED(hr)) {
    message = "could not register the logon task \"" + shownName + "\" (" + ErrorText(hr) + ")";
    return false;
  }
  message = "Quillon now starts when " + NarrowTo(user, CP_ACP) + " logs on, with administrator rights and no prompt (task \"" +
            shownName + "\" runs \"" + NarrowTo(program, CP_ACP) + "\")";
  return true;
}

}  // namespace quillon::platform
