// RunCommand and RegistryReadText of the Win32 backend, and the DLL search
// that it sets, under Wine.
#include "platform/win32/win32_system.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fake_tools.h"

namespace quillon::platform {
namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The probe program sits beside this test program.
std::string ProbePath() {
  char self[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, length);
  return path.substr(0, path.rfind('\\') + 1) + "quillon_wine_probe.exe";
}

class RunCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    dir_ = std::string(temp) + "quillon-run-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir_.c_str(), nullptr);
    ASSERT_TRUE(Exists(dir_));
    ASSERT_TRUE(Exists(ProbePath())) << ProbePath();
  }
  void TearDown() override {
    for (const std::string& file : created_) {
      DeleteFileA(file.c_str());
      DeleteFileA((file + ".part").c_str());
    }
    RemoveDirectoryA(dir_.c_str());
  }
  std::string NewFile(const std::string& name) {
    created_.push_back(dir_ + "\\" + name);
    DeleteFileA(created_.back().c_str());
    return created_.back();
  }

  Win32System system_;
  std::string dir_;
  std::vector<std::string> created_;
};

// A program starts by its full path, or by a bare name from the system
// folder only: never from beside this program (where the probe lies), the
// current directory or PATH; a relative path starts nothing. The program
// runs in the system folder.
TEST_F(RunCommandTest, StartsOnlyAFullPathOrAProgramOfTheSystemFolder) {
  EXPECT_FALSE(system_.RunCommand("C:\\no\\such\\folder\\quillon_missing.exe", true, 1));
  EXPECT_FALSE(system_.RunCommand("quillon_no_such_program_4711 /x", true, 1));
  EXPECT_FALSE(system_.RunCommand("", true, 1));
  const std::string out = NewFile("bare.txt");
  EXPECT_FALSE(system_.RunCommand("quillon_wine_probe \"" + out + "\"", true, 1));
  EXPECT_FALSE(system_.RunCommand("quillon_wine_probe.exe \"" + out + "\"", true, 1));
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  ASSERT_TRUE(SetCurrentDirectoryA(wine::OwnFolder().c_str()));
  EXPECT_FALSE(system_.RunCommand(".\\quillon_wine_probe.exe \"" + out + "\"", true, 1));
  SetCurrentDirectoryA(current);
  EXPECT_FALSE(Exists(out));

  const std::string where = NewFile("where.txt");
  ASSERT_TRUE(system_.RunCommand("cmd.exe /C cd>\"" + where + "\"", true, 1));
  EXPECT_EQ(ReadWholeFile(where), wine::SystemFolder() + "\r\n");
}

// cmd.exe, route.exe and nslookup.exe planted beside this program and in the
// current directory never run: cmd comes from the system folder, and so do
// the tools that it starts; the command lines reach the tools unchanged.
TEST_F(RunCommandTest, ProgramsPlantedBesideThisProgramOrInTheCurrentDirectoryNeverRun) {
  wine::FakeToolTrace tools;
  ASSERT_TRUE(tools.Install(dir_));
  const std::string log = NewFile("lookup.txt");
  ASSERT_TRUE(system_.RunCommand("cmd /C route print", true, 1));
  ASSERT_TRUE(system_.RunCommand("cmd /C nslookup single.example.test >\"" + log, true, 1));
  EXPECT_EQ(tools.Recorded(), (std::vector<std::string>{"route print", "nslookup single.example.test "}));
  EXPECT_NE(ReadWholeFile(log).find("198.18.4.20"), std::string::npos);

  // The way the backend started cmd before, and the way cmd looks for a
  // tool, do find the planted programs under Wine: this test would see them.
  auto start = [](const char* program, std::string line, const char* directory) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup, &process)) {
      return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  };
  const std::string cmd = wine::SystemFolder() + "\\cmd.exe";
  ASSERT_TRUE(start(nullptr, "cmd /C route print", nullptr));
  ASSERT_TRUE(start(cmd.c_str(), "cmd /C route print", dir_.c_str()));
  const auto trace = tools.Recorded();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[2], "planted " + wine::OwnFolder() + "\\cmd.exe: cmd /C route print");
  EXPECT_EQ(trace[3], "planted " + dir_ + "\\route.exe: route print");
}

// Once a Win32System exists, a DLL loaded by name comes from the system
// folder only: one planted beside this program and in the current directory
// is not taken, though it loads by its full path.
TEST_F(RunCommandTest, ADllLoadedByNameComesFromTheSystemFolderOnly) {
  const std::string name = "quillon_planted.dll";
  const std::string source = wine::WinePath(QUILLON_PLANTED_DLL_DIR) + "\\" + name;
  for (const std::string& folder : {wine::OwnFolder(), dir_}) {
    created_.push_back(folder + "\\" + name);
    ASSERT_TRUE(CopyFileA(source.c_str(), created_.back().c_str(), FALSE)) << created_.back();
  }
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  const HMODULE byName = LoadLibraryA(name.c_str());
  const HMODULE byPath = LoadLibraryA(created_.back().c_str());
  SetCurrentDirectoryA(current);
  EXPECT_EQ(byName, nullptr);
  EXPECT_NE(byPath, nullptr);
  if (byName != nullptr) FreeLibrary(byName);
  if (byPath != nullptr) FreeLibrary(byPath);
}

TEST_F(RunCommandTest, AWaitedHiddenRunHasFinishedWhenItReturns) {
  // Through the command interpreter, as every command of the program runs:
  // the probe takes a moment before it writes its file.
  const std::string out = NewFile("waited.txt");
  const std::string command = "cmd /C \"\"" + ProbePath() + "\" \"" + out + "\" 700\"";
  ASSERT_TRUE(system_.RunCommand(command, true, 1));
  EXPECT_TRUE(Exists(out));
  EXPECT_EQ(ReadWholeFile(out).rfind("flags=", 0), 0u);

  // The interpreter's own redirection, in one waited line.
  const std::string echoed = NewFile("echo.txt");
  ASSERT_TRUE(system_.RunCommand("cmd /C echo first>\"" + echoed + "\"&echo second>>\"" + echoed + "\"", true, 1));
  EXPECT_EQ(ReadWholeFile(echoed), "first\r\nsecond\r\n");
}

TEST_F(RunCommandTest, WithoutWaitReturnsBeforeTheProgramEnds) {
  const std::string out = NewFile("later.txt");
  ASSERT_TRUE(system_.RunCommand("\"" + ProbePath() + "\" \"" + out + "\" 5000", false, 1));
  // The probe writes only after five seconds; the call waits at most one.
  EXPECT_FALSE(Exists(out));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Exists(out) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(Exists(out)) << "the program did run";
}

TEST_F(RunCommandTest, PassesTheShowModeAndClampsItsRange) {
  struct Case {
    int mode;
    int shown;
  };
  const Case cases[] = {{-5, SW_HIDE},          {0, SW_HIDE},           {1, SW_HIDE},
                        {2, SW_SHOWNORMAL},     {3, SW_SHOWMINIMIZED},  {4, SW_SHOWMAXIMIZED},
                        {5, SW_SHOWNOACTIVATE}, {6, SW_MINIMIZE},       {7, SW_MINIMIZE},
                        {1000, SW_MINIMIZE}};
  for (const Case& c : cases) {
    const std::string out = NewFile("mode" + std::to_string(c.mode) + ".txt");
    ASSERT_TRUE(system_.RunCommand("\"" + ProbePath() + "\" \"" + out + "\"", true, c.mode)) << c.mode;
    EXPECT_EQ(ReadWholeFile(out), "flags=1 show=" + std::to_string(c.shown)) << "mode " << c.mode;
  }
}

// A key of this test's own below each root, removed afterwards.
class RegistryReadTextTest : public ::testing::Test {
 protected:
  static std::string KeyName() { return "QuillonTests" + std::to_string(GetCurrentProcessId()); }
  static std::string SubKey() { return "Software\\" + KeyName(); }

  void TearDown() override {
    for (const auto& [root, path] : keys_) RegDeleteTreeA(root, path.c_str());
    for (const auto& [root, path] : keys_) RegDeleteKeyA(root, path.c_str());
  }

  // Writes one value; `size` counts the bytes stored (a text's NUL included
  // unless told otherwise).
  void Write(HKEY root, const std::string& keyPath, const std::string& name, DWORD type, const void* data,
             DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << keyPath;
    keys_.emplace_back(root, keyPath);
    const LONG status = RegSetValueExA(key, name.empty() ? nullptr : name.c_str(), 0, type,
                                       static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS) << name;
  }
  void WriteText(HKEY root, const std::string& keyPath, const std::string& name, const std::string& text,
                 DWORD type = REG_SZ) {
    Write(root, keyPath, name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }

  Win32System system_;
  std::vector<std::pair<HKEY, std::string>> keys_;
};

TEST_F(RegistryReadTextTest, ReadsTextValuesAsStored) {
  const std::string key = SubKey();
  WriteText(HKEY_CURRENT_USER, key, "Name", "本地连接 2");
  WriteText(HKEY_CURRENT_USER, key, "Empty", "");
  WriteText(HKEY_CURRENT_USER, key, "", "the default value");
  const std::string longText(5000, 'x');
  WriteText(HKEY_CURRENT_USER, key, "Long", longText);
  // Stored without its terminating NUL.
  Write(HKEY_CURRENT_USER, key, "Unterminated", REG_SZ, "abc", 3);
  WriteText(HKEY_CURRENT_USER, key + "\\Deeper\\Still", "Leaf", "leaf text");
  // Not expanded in a plain text value.
  WriteText(HKEY_CURRENT_USER, key, "Percent", "%SystemRoot%");

  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Name", "fb"), "本地连接 2");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Empty", "fb"), "");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\", "fb"), "the default value");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Long", "fb"), longText);
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Unterminated", "fb"), "abc");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Deeper\\Still\\Leaf", "fb"), "leaf text");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Percent", "fb"), "%SystemRoot%");
}

TEST_F(RegistryReadTextTest, ExpandsEnvironmentReferences) {
  const std::string key = SubKey();
  ASSERT_TRUE(SetEnvironmentVariableA("QUILLON_TEST_VAR", "abc"));
  WriteText(HKEY_CURRENT_USER, key, "Own", "[%QUILLON_TEST_VAR%]-%QUILLON_TEST_VAR%", REG_EXPAND_SZ);
  WriteText(HKEY_CURRENT_USER, key, "Root", "%SystemRoot%\\system32", REG_EXPAND_SZ);
  WriteText(HKEY_CURRENT_USER, key, "Unknown", "%QUILLON_NOT_SET_ANYWHERE%\\x", REG_EXPAND_SZ);

  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Own", "fb"), "[abc]-abc");
  char root[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("SystemRoot", root, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Root", "fb"), std::string(root, length) + "\\system32");
  // An unknown variable stays as written.
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Unknown", "fb"), "%QUILLON_NOT_SET_ANYWHERE%\\x");
  SetEnvironmentVariableA("QUILLON_TEST_VAR", nullptr);
}

TEST_F(RegistryReadTextTest, GivesTheFallbackForOtherTypesAndMissingValues) {
  const std::string key = SubKey();
  const DWORD number = 7;
  Write(HKEY_CURRENT_USER, key, "Number", REG_DWORD, &number, sizeof number);
  Write(HKEY_CURRENT_USER, key, "Binary", REG_BINARY, "ab", 2);
  Write(HKEY_CURRENT_USER, key, "Multi", REG_MULTI_SZ, "a\0b\0", 5);
  WriteText(HKEY_CURRENT_USER, key, "Text", "present");

  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Number", "fb"), "fb");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Binary", "fb"), "fb");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Multi", "fb"), "fb");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Missing", "fb"), "fb");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\NoSuchKey\\Text", "fb"), "fb");
  // Through the port, whose fallback defaults to the empty text.
  EXPECT_EQ(static_cast<System&>(system_).RegistryReadText(3, "Software\\QuillonNoSuchKeyAnywhere\\Text"), "");
  // No backslash: no key and value name to split into.
  EXPECT_EQ(system_.RegistryReadText(3, "Text", "fb"), "fb");
  // Roots outside 1..5.
  EXPECT_EQ(system_.RegistryReadText(0, key + "\\Text", "fb"), "fb");
  EXPECT_EQ(system_.RegistryReadText(6, key + "\\Text", "fb"), "fb");
  EXPECT_EQ(system_.RegistryReadText(3, key + "\\Text", "fb"), "present");
}

TEST_F(RegistryReadTextTest, MapsEachRootNumberToItsHive) {
  // One value under each hive, each with its own text: a wrong mapping finds
  // nothing or the wrong text.
  const std::string name = KeyName();
  const struct {
    int number;
    HKEY root;
    std::string keyPath;
  } roots[] = {{1, HKEY_CLASSES_ROOT, name},
               {2, HKEY_CURRENT_CONFIG, "Software\\" + name},
               {3, HKEY_CURRENT_USER, "Software\\" + name},
               {4, HKEY_LOCAL_MACHINE, "Software\\" + name},
               {5, HKEY_USERS, ".DEFAULT\\Software\\" + name}};
  for (const auto& r : roots) WriteText(r.root, r.keyPath, "Which", "root " + std::to_string(r.number));
  for (const auto& r : roots) {
    EXPECT_EQ(system_.RegistryReadText(r.number, r.keyPath + "\\Which", "fb"), "root " + std::to_string(r.number))
        << "root " << r.number;
  }
}

}  // namespace
}  // namespace quillon::platform
