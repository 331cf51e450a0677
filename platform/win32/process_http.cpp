// Threads, HTTP (WinINet), the registry and child processes for the Windows
// backend.
//
// The class header comes before <windows.h>: this file holds the destructor,
// so the class's vtable is emitted here, and <windows.h> would otherwise turn
// the member CreateDirectory into CreateDirectoryA.
#include "platform/win32/win32_system.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quillon::platform {

namespace {

constexpr const char* kRequestHeaders = "Accept: */*\r\n\r\n";

// Guards the first opening of the WinINet handle, which may happen on any
// thread.
std::mutex& InternetMutex() {
  static std::mutex mutex;
  return mutex;
}

// The parts of a URL that a request needs.
struct UrlParts {
  INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
  INTERNET_PORT port = 0;
  std::string host;
  std::string user;
  std::string password;
  std::string object;  // path and query
};

bool CrackUrl(const std::string& url, UrlParts* parts) {
  // Every part fits in a buffer as long as the whole URL.
  const DWORD size = static_cast<DWORD>(url.size() + 1);
  std::vector<char> host(size), user(size), password(size), path(size), extra(size);
  URL_COMPONENTSA components{};
  components.dwStructSize = sizeof components;
  components.lpszHostName = host.data();
  components.dwHostNameLength = size;
  components.lpszUserName = user.data();
  components.dwUserNameLength = size;
  components.lpszPassword = password.data();
  components.dwPasswordLength = size;
  components.lpszUrlPath = path.data();
  components.dwUrlPathLength = size;
  components.lpszExtraInfo = extra.data();
  components.dwExtraInfoLength = size;
  if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) return false;
  parts->scheme = components.nScheme;
  parts->port = components.nPort;
  parts->host.assign(host.data(), components.dwHostNameLength);
  parts->user.assign(user.data(), components.dwUserNameLength);
  parts->password.assign(password.data(), components.dwPasswordLength);
  parts->object.assign(path.data(), components.dwUrlPathLength);
  parts->object.append(extra.data(), components.dwExtraInfoLength);
  if (parts->object.empty()) parts->object = "/";
  return !parts->host.empty();
}

// One exchange with a server: its handles, and what the thread that runs it
// has read. The caller waits for it until the deadline and then leaves it:
// WinINet's own timeouts bound each receive, not a server that sends a byte
// at a time. Whoever takes the handles first closes them, never while
// holding the lock and never on the caller's thread, because closing is
// slow at times (WinINet may read out the rest of an announced body first)
// and is the way to end a call that blocks on a handle.
struct Exchange {
  std::mutex mutex;
  std::condition_variable finished;
  HINTERNET connection = nullptr;  // guarded by mutex; null once taken
  HINTERNET request = nullptr;
  bool done = false;
  bool ok = false;
  ByteArray body;

  struct Handles {
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
  };
  // Called with the lock held.
  Handles TakeHandles() {
    Handles taken{connection, request};
    connection = request = nullptr;
    return taken;
  }
  // The request handle, or null once the handles have been taken.
  HINTERNET Request() {
    std::lock_guard lock(mutex);
    return request;
  }
};

void CloseHandles(Exchange::Handles handles) {
  if (handles.request != nullptr) InternetCloseHandle(handles.request);
  if (handles.connection != nullptr) InternetCloseHandle(handles.connection);
}

using Clock = std::chrono::steady_clock;

// The body of a sent request, read until the server sends no more; false on
// a read failure, a body over kHttpBodyLimit or the deadline. Each read
// takes only what has arrived, so the deadline is looked at again after
// every block, however slowly the server sends.
bool ReadBody(Exchange& exchange, Clock::time_point deadline, ByteArray* body) {
  HINTERNET request = exchange.Request();
  if (request == nullptr) return false;
  DWORD announced = 0;
  DWORD announcedSize = sizeof announced;
  if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced, &announcedSize,
                     nullptr) &&
      announced > kHttpBodyLimit) {
    return false;
  }
  // One byte more than the limit shows a body that is too long.
  std::vector<char> buffer(kHttpBodyLimit + 1);
  for (;;) {
    if (Clock::now() >= deadline || (request = exchange.Request()) == nullptr) return false;
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
    const DWORD room = static_cast<DWORD>(kHttpBodyLimit + 1 - body->size());
    DWORD got = 0;
    if (!InternetReadFile(request, buffer.data(), available == 0 ? 1 : std::min(available, room), &got)) {
      return false;
    }
    if (got == 0) return true;
    body->append(buffer.data(), got);
    if (body->size() > kHttpBodyLimit) return false;
  }
}

// Sends the request of `exchange` and reads its answer; runs on a thread of
// its own. The result goes to the caller before the handles are closed.
void RunExchange(const std::shared_ptr<Exchange>& exchange, Clock::time_point deadline) {
  ByteArray body;
  HINTERNET request = exchange->Request();
  const bool ok = request != nullptr &&
                  HttpSendRequestA(request, kRequestHeaders, static_cast<DWORD>(-1), nullptr, 0) &&
                  ReadBody(*exchange, deadline, &body);
  Exchange::Handles handles;
  {
    std::lock_guard lock(exchange->mutex);
    handles = exchange->TakeHandles();
    exchange->ok = ok;
    exchange->body = std::move(body);
    exchange->done = true;
    exchange->finished.notify_all();
  }
  CloseHandles(handles);
}

HKEY RootKey(int root) {
  switch (root) {
    case System::ClassesRoot: return HKEY_CLASSES_ROOT;
    case System::CurrentConfig: return HKEY_CURRENT_CONFIG;
    case System::CurrentUser: return HKEY_CURRENT_USER;
    case System::LocalMachine: return HKEY_LOCAL_MACHINE;
    case System::Users: return HKEY_USERS;
    default: return nullptr;
  }
}

// A text value's bytes up to its first NUL (stored texts usually end in one,
// but need not).
std::string UpToNul(const std::vector<char>& data, DWORD size) {
  std::string text(data.data(), size);
  return text.substr(0, text.find('\0'));
}

std::string ExpandEnvironment(const std::string& text, bool* ok) {
  DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  // The variables may change between the two calls: retry a few times.
  for (int attempt = 0; attempt < 4 && needed != 0; ++attempt) {
    std::vector<char> expanded(needed + 1);
    const DWORD written = ExpandEnvironmentStringsA(text.c_str(), expanded.data(), needed + 1);
    if (written != 0 && written <= needed + 1) {
      *ok = true;
      return std::string(expanded.data());
    }
    needed = written;
  }
  *ok = false;
  return {};
}

WORD ShowWindowFlag(int showMode) {
  static const WORD kModes[] = {SW_HIDE, SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED, SW_SHOWNOACTIVATE,
                                SW_MINIMIZE};
  const int clamped = showMode < 1 ? 1 : (showMode > 6 ? 6 : showMode);
  return kModes[clamped - 1];
}

}  // namespace

Win32System::~Win32System() {
  if (internet_ != nullptr) InternetCloseHandle(static_cast<HINTERNET>(internet_));
}

std::string Win32System::RegistryReadText(int root, const std::string& path, const std::string& fallback) {
  const HKEY rootKey = RootKey(root);
  const std::size_t split = path.rfind('\\');
  if (rootKey == nullptr || split == std::string::npos) return fallback;
  const std::string keyPath = path.substr(0, split);
  const std::string valueName = path.substr(split + 1);

  HKEY key = nullptr;
  if (RegOpenKeyExA(rootKey, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return fallback;
  DWORD type = 0;
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, &size);
  std::vector<char> data;
  bool read = false;
  // The value may grow between the size query and the read: ask again then.
  for (int attempt = 0; attempt < 4 && status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
       ++attempt) {
    data.assign(size + 1, '\0');
    DWORD got = size;
    status = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
    if (status == ERROR_MORE_DATA) {
      size = got;
      status = ERROR_SUCCESS;
      continue;
    }
    if (status == ERROR_SUCCESS) {
      size = got < size ? got : size;
      read = true;
    }
    break;
  }
  RegCloseKey(key);
  if (!read) return fallback;
  const std::string text = UpToNul(data, size);
  if (type == REG_SZ) return text;
  if (type != REG_EXPAND_SZ) return fallback;
  bool ok = false;
  std::string expanded = ExpandEnvironment(text, &ok);
  return ok ? expanded : fallback;
}

// std::thread (winpthreads under the posix thread model) rather than a bare
// CreateThread: the routine is a std::function that the thread must own, and
// threads made by the C++ runtime get its per-thread state (thread_local,
// std::this_thread) set up properly. It creates a native thread all the same.
bool Win32System::StartWorker(std::function<void()> routine) {
  return StartDetachedThread(std::move(routine));
}

ByteArray Win32System::FetchHttp(const std::string& target) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kHttpTimeoutMs);
  UrlParts parts;
  if (!CrackUrl(target, &parts)) return {};
  if (parts.scheme != INTERNET_SCHEME_HTTP && parts.scheme != INTERNET_SCHEME_HTTPS) return {};

  HINTERNET internet = nullptr;
  {
    std::lock_guard lock(InternetMutex());
    if (internet_ == nullptr) {
      internet_ = InternetOpenA(kHttpAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    }
    internet = static_cast<HINTERNET>(internet_);
  }
  if (internet == nullptr) return {};

  // A connection and a request of their own, so that the request line can
  // say HTTP/1.0 (InternetOpenUrlA always takes the version from the global
  // settings).
  auto exchange = std::make_shared<Exchange>();
  exchange->connection = InternetConnectA(internet, parts.host.c_str(), parts.port,
                                          parts.user.empty() ? nullptr : parts.user.c_str(),
                                          parts.password.empty() ? nullptr : parts.password.c_str(),
                                          INTERNET_SERVICE_HTTP, 0, 0);
  if (exchange->connection == nullptr) return {};
  // A redirect is an answer like any other: its body is the body.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (parts.scheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  exchange->request =
      HttpOpenRequestA(exchange->connection, "GET", parts.object.c_str(), "HTTP/1.0", nullptr, nullptr, flags, 0);
  if (exchange->request == nullptr) {
    CloseHandles(exchange->TakeHandles());
    return {};
  }
  // Each connect, send and receive on its own ends within the whole time, so
  // a silent server also ends the thread that is left behind.
  DWORD timeout = static_cast<DWORD>(kHttpTimeoutMs);
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(exchange->request, option, &timeout, sizeof timeout);
  }

  try {
    std::thread([exchange, deadline] { RunExchange(exchange, deadline); }).detach();
  } catch (const std::system_error&) {
    CloseHandles(exchange->TakeHandles());
    return {};
  }
  std::unique_lock lock(exchange->mutex);
  if (exchange->finished.wait_until(lock, deadline, [&] { return exchange->done; })) {
    return exchange->ok ? std::move(exchange->body) : ByteArray{};
  }
  // Given up: the handles are closed on a thread of their own, which also
  // ends a call that blocks on them; the exchange's thread then ends with
  // at most the body limit in hand.
  const Exchange::Handles handles = exchange->TakeHandles();
  lock.unlock();
  try {
    std::thread([handles] { CloseHandles(handles); }).detach();
  } catch (const std::system_error&) {
    CloseHandles(handles);
  }
  return {};
}

namespace {

// The system folder (System32 of 64-bit Windows), where the tools that the
// program starts stand and only administrators can write; empty when the
// system does not say.
std::string SystemDirectory() {
  char buffer[MAX_PATH];
  const UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(buffer, length);
}

// The first word of a command line, the program it starts: up to the
// closing quotation mark when it opens with one, else up to the first blank.
std::string ProgramWord(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    const std::size_t end = commandLine.find('"', 1);
    return end == std::string::npos ? std::string() : commandLine.substr(1, end - 1);
  }
  return commandLine.substr(0, commandLine.find_first_of(" \t"));
}

bool IsAbsolutePath(const std::string& path) {
  const bool drive = path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
                     (path[2] == '\\' || path[2] == '/');
  return drive || path.rfind("\\\\", 0) == 0;
}

// The file that `word` names: an absolute path as it is; a bare name (such as
// "cmd") only from the system folder, ".exe" added when it has no extension.
// Anything else is refused (empty): a bare name would otherwise be looked
// for first in the program's own folder and in the current directory, and a
// relative path depends on the current directory.
std::string ProgramFile(const std::string& word, const std::string& systemDirectory) {
  if (word.empty()) return {};
  if (IsAbsolutePath(word)) return word;
  if (word.find_first_of("\\/:") != std::string::npos || systemDirectory.empty()) return {};
  char found[MAX_PATH];
  const DWORD length = SearchPathA(systemDirectory.c_str(), word.c_str(), ".exe", MAX_PATH, found, nullptr);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(found, length);
}

}  // namespace

bool Win32System::RunCommand(const std::string& commandLine, bool wait, int showMode) {
  // The program is named by its full path, so CreateProcessA never looks for
  // it beside quillon.exe, where a downloaded file may wait to be run with
  // administrator rights. The child starts in the system folder: cmd looks
  // for "route" and "nslookup" in its current directory before PATH, so the
  // first place it looks is where the real tools stand.
  const std::string systemDirectory = SystemDirectory();
  const std::string program = ProgramFile(ProgramWord(commandLine), systemDirectory);
  if (program.empty() || systemDirectory.empty()) return false;
  // CreateProcessA may write into the command line: it gets its own copy,
  // byte for byte as given.
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = ShowWindowFlag(showMode);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, systemDirectory.c_str(),
                      &startup, &process)) {
    return false;
  }
  if (wait) {
    WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    WaitForInputIdle(process.hProcess, 1000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace quillon::platform
