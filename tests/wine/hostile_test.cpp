// The hostile-input corpus on Windows, under Wine: every case through every
// way in with the real logic and the Win32 backend, the fake nslookup.exe and
// route.exe in the system folder. Every command line that reached them holds
// only a plain destination or dotted IPv4 addresses and digits, no case
// tagged as refused appears in its role, and no file that a smuggled command
// would make appears.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/win32_system.h"
#include "routing/config_paths.h"
#include "tests/hostile/hostile_corpus.h"

#include "fake_tools.h"
#undef CreateDirectory

namespace quillon::hostile {
namespace {

// The Win32 backend whose gateway discovery answers what the driver sets.
class DiscoveringSystem final : public platform::Win32System {
 public:
  using Win32System::Win32System;
  std::string gatewayText;
  std::string DiscoverGatewayText() override { return gatewayText; }
};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// nslookup D / route delete N / route add N mask M G [metric K]: what each
// part must look like, whatever the logic or the backend let through.
bool PlainCommandLine(const std::string& line) {
  const auto w = Words(line);
  if (w.size() == 2 && w[0] == "nslookup") return LooksLikePlainDestination(w[1]) && line == "nslookup " + w[1] + " ";
  if (w.size() == 3 && w[0] == "route" && w[1] == "delete") return LooksLikeDottedAddress(w[2]);
  if ((w.size() == 6 || w.size() == 8) && w[0] == "route" && w[1] == "add" && w[3] == "mask") {
    const bool metric = w.size() == 6 || (w[6] == "metric" && w[7].find_first_not_of("0123456789") == std::string::npos);
    return LooksLikeDottedAddress(w[2]) && LooksLikeDottedAddress(w[4]) && LooksLikeDottedAddress(w[5]) && metric;
  }
  return false;
}

TEST(WineHostileInput, NothingButCheckedTextsReachACommand) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string home = std::string(temp) + "quillon-hostile-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(home.c_str(), nullptr);
  DiscoveringSystem sys(home);
  const std::string config = routing::ConfigDirectory(sys);
  sys.CreateDirectory(config);
  platform::wine::FakeToolTrace tools;
  ASSERT_TRUE(tools.Install(home));
  const auto cases = LoadHostileCases(platform::wine::WinePath(QUILLON_TEST_DATA "/hostile/cases.txt"));
  ASSERT_GE(cases.size(), 60u);

  FeedEveryWayIn(sys, cases, [&](const std::string& text) { sys.gatewayText = text; });
  const auto recorded = tools.Recorded();
  tools.Restore();

  for (const std::string& line : recorded) EXPECT_TRUE(PlainCommandLine(line)) << line;
  EXPECT_GT(recorded.size(), 100u) << "the checked texts did reach the tools";
  int reached = 0;
  for (const HostileCase& c : cases) {
    bool hit = false;
    for (const std::string& line : recorded) {
      const auto w = Words(line);
      hit = hit || (c.refusedAsDestination && w.size() == 2 && w[1] == c.text) ||
            (c.refusedAsLine && w.size() >= 6 && w[1] == "add" && w[5] == c.text);
    }
    if (hit) ADD_FAILURE() << "reached a command: " << c.note;
    reached += hit ? 1 : 0;
  }
  for (const std::string& dir : {home, config, platform::wine::SystemFolder()}) {
    EXPECT_FALSE(sys.FileExists(dir + "\\pwned")) << dir;
  }
  std::printf("hostile input (Windows): %zu cases tried through 4 ways in, %zu command lines run, %d reached a command\n",
              cases.size(), recorded.size(), reached);
  DeleteFileA((config + "\\log.txt").c_str());
  RemoveDirectoryA(config.c_str());
  RemoveDirectoryA(home.c_str());
}

}  // namespace
}  // namespace quillon::hostile
