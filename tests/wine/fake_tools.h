// The fake route.exe and nslookup.exe (fake_route.cpp, fake_nslookup.cpp) as
// the tests use them: both first on PATH and recording into one trace file.
// Include after the backend header: <windows.h> defines a CreateDirectory
// macro.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"

#if !defined(QUILLON_FAKE_ROUTE_DIR) || !defined(QUILLON_FAKE_NSLOOKUP_DIR)
#error "QUILLON_FAKE_ROUTE_DIR and QUILLON_FAKE_NSLOOKUP_DIR must name the fakes' directories"
#endif

namespace quillon::platform::wine {

// A Unix path as Wine shows it: on drive Z:, the root of the file system.
inline std::string WinePath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// cmd looks for a program in its current directory first, then along PATH;
// both are inherited from this process. Install() puts the fakes' directories
// first on PATH, makes `currentDirectory` (one without a route.exe or
// nslookup.exe) the current directory and points the fakes at a fresh trace
// file. Restore(), or the destructor, puts everything back.
class FakeToolTrace {
 public:
  ::testing::AssertionResult Install(const std::string& currentDirectory) {
    char temp[MAX_PATH];
    if (GetTempPathA(sizeof temp, temp) == 0) return ::testing::AssertionFailure() << "no temp directory";
    log_ = std::string(temp) + "quillon-fake-tools-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(log_.c_str());

    char path[32768];
    const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
    oldPath_ = length > 0 && length < sizeof path ? std::string(path, length) : std::string();
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    oldCurrent_ = current;
    installed_ = true;

    std::string fakes;
    for (const auto& [dir, exe] : {std::pair{QUILLON_FAKE_ROUTE_DIR, "route.exe"},
                                   std::pair{QUILLON_FAKE_NSLOOKUP_DIR, "nslookup.exe"}}) {
      const std::string windowsDir = WinePath(dir);
      if (GetFileAttributesA((windowsDir + "\\" + exe).c_str()) == INVALID_FILE_ATTRIBUTES) {
        return ::testing::AssertionFailure() << "missing " << windowsDir << "\\" << exe;
      }
      fakes += windowsDir + ";";
    }
    if (!SetEnvironmentVariableA("QUILLON_FAKE_ROUTE_LOG", log_.c_str()) ||
        !SetEnvironmentVariableA("PATH", (fakes + oldPath_).c_str()) ||
        !SetCurrentDirectoryA(currentDirectory.c_str())) {
      return ::testing::AssertionFailure() << "cannot set PATH, the trace or " << currentDirectory;
    }
    return ::testing::AssertionSuccess();
  }

  ~FakeToolTrace() { Restore(); }
  // Puts PATH and the current directory back and deletes the trace.
  void Restore() {
    if (!installed_) return;
    installed_ = false;
    SetEnvironmentVariableA("PATH", oldPath_.c_str());
    SetEnvironmentVariableA("QUILLON_FAKE_ROUTE_LOG", nullptr);
    SetCurrentDirectoryA(oldCurrent_.c_str());
    DeleteFileA(log_.c_str());
  }

  // The command lines the fakes were started with, in order.
  std::vector<std::string> Recorded() const {
    const HANDLE file = CreateFileA(log_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    return TextSplit(bytes, "\r\n");
  }

 private:
  std::string log_, oldPath_, oldCurrent_;
  bool installed_ = false;
};

}  // namespace quillon::platform::wine
