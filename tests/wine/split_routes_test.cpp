// Split routing end to end on Windows, under Wine: the real router and add
// worker with the Win32 backend, a home directory of their own, and the fake
// nslookup.exe and route.exe in the system folder (fake_tools.h) that
// record, in one trace, every command line that cmd hands them.
#include <string>
#include <vector>

#include "platform/win32/win32_system.h"
#include "routing/config_paths.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"

#include "fake_tools.h"
#include "tests/wine/trace_lines.h"
// <windows.h> maps CreateDirectory to CreateDirectoryA; here it is the
// member of System.
#undef CreateDirectory

namespace quillon::routing {
namespace {

// Deletes the files of a directory, then the directory itself.
void RemoveDirectoryWithFiles(const std::string& dir) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((dir + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(dir.c_str());
}

class WineSplitRouting : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();  // what a run that died may have left in the prefix
    ASSERT_TRUE(CreateDirectoryA(home_.c_str(), nullptr)) << home_;
    ASSERT_TRUE(system_.CreateDirectory(ConfigDirectory(system_)));
    // The home directory is this process's current directory; the commands
    // run in the system folder.
    ASSERT_TRUE(tools_.Install(home_));
  }
  void TearDown() override {
    tools_.Restore();  // the home directory is no longer the current one
    for (const char* name : {"probe", "pwned", "pwned2"}) DeleteFileA((platform::wine::SystemFolder() + "\\" + name).c_str());
    RemoveDirectoryWithFiles(ConfigDirectory(system_));
    RemoveDirectoryWithFiles(home_);
  }

  void Store(const std::string& destination, const std::string& line, const std::string& status) {
    ASSERT_TRUE(store_.Write({destination, line, status, ""}));
  }
  // Where a file named `name` would appear if a command made it: the
  // commands' current directory (the system folder), this process's, the
  // config directory.
  bool MadeAnywhere(const std::string& name) {
    return system_.FileExists(platform::wine::SystemFolder() + "\\" + name) ||
           system_.FileExists(home_ + "\\" + name) || system_.FileExists(ConfigFile(system_, name));
  }

  static std::string TempHome() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "quillon-split-" + std::to_string(GetCurrentProcessId());
  }

  const std::string home_ = TempHome();
  platform::Win32System system_{home_};
  SplitStore store_{SplitStore::Main(system_)};
  SplitRouter router_{system_, store_};
  platform::wine::FakeToolTrace tools_;
};

using wine_test::Joined;
using wine_test::Pass;
using wine_test::Routed;

// Entries in store order, each looked up once, all before the first route
// command, and routed by its answer: the shared network twice, never the DNS
// server's address; a disabled entry and one without a line only lose their
// routes; a name that does not resolve is only looked up; an address without
// a reverse name and an answer in the English tool's format are routed too.
TEST_F(WineSplitRouting, EveryEntryIsLookedUpAndRoutedInStoreOrder) {
  Store("multi.example.test", "192.0.2.1", "1");
  Store("nosuch.example.test", "192.0.2.1", "1");
  Store("off.example.test", "192.0.2.1", "-1");
  Store("198.18.3.9", "198.51.100.1", "1");
  Store("noline.example.test", "", "1");
  Store("english.example.test", "203.0.113.1", "1");

  router_.RouteAllEntries();

  EXPECT_EQ(tools_.Recorded(),
            Pass({Routed("multi.example.test", {"198.18.1.0", "198.18.1.0", "198.18.2.0"}, "192.0.2.1"),
                    Routed("nosuch.example.test", {}, ""),
                    Routed("off.example.test", {"198.18.7.0"}, ""),
                    Routed("198.18.3.9", {"198.18.3.0"}, "198.51.100.1"),
                    Routed("noline.example.test", {"198.18.8.0"}, ""),
                    Routed("english.example.test", {"198.18.5.0"}, "203.0.113.1")}));
  // The resolve log stays, with the last lookup's output.
  EXPECT_NE(platform::ToText(system_.FileRead(ConfigFile(system_, kResolveLogName))).find("english.example.test"),
            std::string::npos);
}

// A prefix entry is routed as it stands, with its own mask in both
// commands and no lookup; a disabled one only loses its route.
TEST_F(WineSplitRouting, APrefixIsRoutedWithItsOwnMaskAndNoLookup) {
  Store("198.18.64.0/18", "192.0.2.1", "1");
  Store("multi.example.test", "192.0.2.1", "1");
  Store("36.0.0.0/10", "198.51.100.1", "0");
  Store("198.18.9.0/32", "203.0.113.1", "1");

  router_.RouteAllEntries();

  EXPECT_EQ(tools_.Recorded(),
            Pass({{"route delete 198.18.64.0 mask 255.255.192.0", "route add 198.18.64.0 mask 255.255.192.0 192.0.2.1"},
                  Routed("multi.example.test", {"198.18.1.0", "198.18.1.0", "198.18.2.0"}, "192.0.2.1"),
                  {"route delete 36.0.0.0 mask 255.192.0.0"},
                  {"route delete 198.18.9.0 mask 255.255.255.255",
                   "route add 198.18.9.0 mask 255.255.255.255 203.0.113.1"}}));
}

// A stored destination or line that would add a command of its own to cmd's
// command line never gets there: the destination is not looked up at all,
// the line never reaches route, and neither makes its file.
TEST_F(WineSplitRouting, AHostileDestinationOrLineReachesNoCommand) {
  // The commands' current directory is where the checks below look.
  ASSERT_TRUE(system_.RunCommand("cmd /C echo x>probe", true, 1));
  ASSERT_TRUE(MadeAnywhere("probe"));

  ASSERT_TRUE(WritePrivateProfileStringA("a.test&echo x>pwned", "xl", "192.0.2.1", store_.Path().c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("a.test&echo x>pwned", "zt", "1", store_.Path().c_str()));
  Store("single.example.test", "192.0.2.1&echo y>pwned2", "1");
  ASSERT_EQ(store_.Entries().size(), 2u);

  router_.RouteAllEntries();

  EXPECT_EQ(tools_.Recorded(), Routed("single.example.test", {"198.18.4.0"}, ""));
  EXPECT_FALSE(MadeAnywhere("pwned"));
  EXPECT_FALSE(MadeAnywhere("pwned2"));
}

// The add: a name that resolves is stored enabled with its line and note;
// one that does not changes nothing. Either way only the lookup runs, and
// the resolve log is gone afterwards.
TEST_F(WineSplitRouting, TheAddStoresWhatResolvesAndDeletesTheResolveLog) {
  const std::string log = ConfigFile(system_, kResolveLogName);
  EXPECT_EQ(router_.AddEntry({"multi.example.test", "192.0.2.1", "备注一"}).result, AddOutcome::Stored);
  EXPECT_FALSE(system_.FileExists(log));
  const SplitEntry added{"multi.example.test", "192.0.2.1", "1", "备注一"};
  EXPECT_EQ(store_.Entries(), std::vector<SplitEntry>{added});

  EXPECT_EQ(router_.AddEntry({"nosuch.example.test", "192.0.2.1", ""}).result, AddOutcome::NoAnswer);
  EXPECT_FALSE(system_.FileExists(log));
  EXPECT_EQ(store_.Entries(), std::vector<SplitEntry>{added});

  EXPECT_EQ(tools_.Recorded(), Joined({Routed("multi.example.test", {}, ""), Routed("nosuch.example.test", {}, "")}));
}

}  // namespace
}  // namespace quillon::routing
