// The fake route.exe and nslookup.exe (fake_route.cpp, fake_nslookup.cpp) as
// the tests use them: in the system folder, where the real tools stand, both
// recording into one trace file; and planted programs (fake_planted.cpp) that
// record into the same trace if anything ever starts them.
// Include after the backend header: <windows.h> defines a CreateDirectory
// macro.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"

#if !defined(QUILLON_FAKE_ROUTE_DIR) || !defined(QUILLON_FAKE_NSLOOKUP_DIR) || !defined(QUILLON_FAKE_PLANTED_DIR)
#error "QUILLON_FAKE_ROUTE_DIR, QUILLON_FAKE_NSLOOKUP_DIR and QUILLON_FAKE_PLANTED_DIR must name the fakes' directories"
#endif

namespace quillon::platform::wine {

// A Unix path as Wine shows it: on drive Z:, the root of the file system.
inline std::string WinePath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

inline std::string SystemFolder() {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(folder, length) : std::string();
}

// The folder of this test program.
inline std::string OwnFolder() {
  char self[MAX_PATH] = {};
  const std::string path(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  return path.substr(0, path.rfind('\\'));
}

// Install() copies the fakes into the system folder (Wine has no route.exe
// or nslookup.exe of its own) and plants cmd.exe, route.exe and nslookup.exe
// beside this test program, in `currentDirectory` and in every folder of
// `plantIn` (beside quillon.exe); it makes `currentDirectory` the current
// directory and points the fakes at a fresh trace file. Restore(), or the
// destructor, removes every copy and puts the current directory back. A
// planted program that ran shows in the trace as "planted PATH: LINE".
class FakeToolTrace {
 public:
  ::testing::AssertionResult Install(const std::string& currentDirectory,
                                     const std::vector<std::string>& plantIn = {}) {
    char temp[MAX_PATH];
    if (GetTempPathA(sizeof temp, temp) == 0) return ::testing::AssertionFailure() << "no temp directory";
    log_ = std::string(temp) + "quillon-fake-tools-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(log_.c_str());
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    oldCurrent_ = current;
    installed_ = true;

    const std::string system = SystemFolder();
    for (const auto& [dir, exe] : {std::pair{QUILLON_FAKE_ROUTE_DIR, "route.exe"},
                                   std::pair{QUILLON_FAKE_NSLOOKUP_DIR, "nslookup.exe"}}) {
      if (auto copied = Copy(WinePath(dir) + "\\" + exe, system + "\\" + exe); !copied) return copied;
    }
    std::vector<std::string> folders = {OwnFolder(), currentDirectory};
    folders.insert(folders.end(), plantIn.begin(), plantIn.end());
    const std::string planted = WinePath(QUILLON_FAKE_PLANTED_DIR) + "\\planted.exe";
    for (const std::string& folder : folders) {
      for (const char* exe : {"cmd.exe", "route.exe", "nslookup.exe"}) {
        if (auto copied = Copy(planted, folder + "\\" + exe); !copied) return copied;
      }
    }
    if (!SetEnvironmentVariableA("QUILLON_FAKE_ROUTE_LOG", log_.c_str()) ||
        !SetCurrentDirectoryA(currentDirectory.c_str())) {
      return ::testing::AssertionFailure() << "cannot set the trace or " << currentDirectory;
    }
    return ::testing::AssertionSuccess();
  }

  ~FakeToolTrace() { Restore(); }
  // Removes the copies, puts the current directory back and deletes the
  // trace.
  void Restore() {
    if (!installed_) return;
    installed_ = false;
    for (const std::string& file : copies_) DeleteFileA(file.c_str());
    copies_.clear();
    SetEnvironmentVariableA("QUILLON_FAKE_ROUTE_LOG", nullptr);
    SetCurrentDirectoryA(oldCurrent_.c_str());
    DeleteFileA(log_.c_str());
  }

  // The command lines the fakes (and any planted program) were started
  // with, in order.
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
  ::testing::AssertionResult Copy(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
      return ::testing::AssertionFailure() << "cannot copy " << from << " to " << to;
    }
    copies_.push_back(to);
    return ::testing::AssertionSuccess();
  }

  std::string log_, oldCurrent_;
  std::vector<std::string> copies_;
  bool installed_ = false;
};

}  // namespace quillon::platform::wine
