#include "platform/win32/win32_system.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

#include "platform/system_factory.h"

namespace quillon::platform {

namespace {

// DLLs loaded by name come from the system folder only. SetDefaultDllDirectories
// is there from Windows 8 on (and on Windows 7 with update KB2533623), so it
// is looked up rather than imported; SetDllDirectory("") at least drops the
// current directory where it is missing.
void LimitDllSearchToSystemFolder() {
  static std::once_flag once;
  std::call_once(once, [] {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto setDefault = kernel == nullptr ? nullptr
                                              : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                                                    reinterpret_cast<void (*)()>(
                                                        GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");
  });
}

// The full path of a directory given relative to the current directory (a
// child process runs elsewhere, so a path in its command line must not
// depend on it); as given when the system cannot say.
std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::vector<char> buffer(needed + 1);
  const DWORD length = GetFullPathNameA(path.c_str(), needed + 1, buffer.data(), nullptr);
  return length == 0 || length > needed ? path : std::string(buffer.data(), length);
}

}  // namespace

Win32System::Win32System(std::string homeOverride) : homeOverride_(FullPath(homeOverride)) {
  LimitDllSearchToSystemFolder();
}

std::unique_ptr<System> MakeSystem(const std::string& homeOverride) {
  return std::make_unique<Win32System>(homeOverride);
}

}  // namespace quillon::platform
