// The Windows backend's lines and default routes, run under Wine.
//
// wine-run.sh starts every test program in a private network namespace that
// holds only the loopback interface. Inside it the adapter tests give
// themselves two veth "lines" on documentation ranges, each with a default
// route, by running the Linux `ip` tool (Wine starts a Unix program given by
// its Z: path). They refuse to do so anywhere else: when the namespace holds
// any other interface they fail (or, with QUILLON_ALLOW_SKIP=1, are
// skipped), so the machine's own network is never touched.
//
// The default-route commands are checked against a fake route.exe (built from
// fake_route.cpp) that stands in the system folder and records its command
// lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/route_commands.h"
#include "platform/text.h"
#include "platform/win32/win32_system.h"

// After the backend header: <windows.h> defines a CreateDirectory macro.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>
#include <ole2.h>

#include "fake_tools.h"
#include "veth_lines.h"

namespace quillon::platform {
namespace {

bool IsDottedIpv4(const std::string& text) {
  const std::vector<std::string> parts = TextSplit(text, ".");
  if (parts.size() != 4 || text.back() == '.') return false;
  for (const std::string& part : parts) {
    if (part.empty() || part.size() > 3) return false;
    if (!std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    if (std::stoi(part) > 255) return false;
  }
  return true;
}

const LineInfo* FindByAddress(const std::vector<LineInfo>& lines, const std::string& address) {
  for (const LineInfo& line : lines) {
    if (line.IpAddress == address) return &line;
  }
  return nullptr;
}

// Two lines, each a veth pair with an address on a documentation range and a
// default route through a gateway on that range:
//   qa0 192.0.2.10/24,    default via 192.0.2.1    metric 100
//   qb0 198.51.100.10/24, default via 198.51.100.1 metric 200
class WineLines : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const wine::LinesSetup setup = wine::MakeTwoLines();
    shellStarted_ = setup.shellStarted;
    privateNamespace_ = setup.privateNamespace;
    linesReady_ = setup.linesReady;
  }
  static void TearDownTestSuite() {
    if (privateNamespace_) wine::RemoveTwoLines();
  }
  void SetUp() override {
    ASSERT_TRUE(shellStarted_) << "Wine could not start the Linux shell";
    // Outside that namespace nothing may be touched, and a suite that did not
    // run must not pass: it fails, unless a developer allows skipping.
    if (!privateNamespace_) {
      const char* allow = std::getenv("QUILLON_ALLOW_SKIP");
      if (allow != nullptr && std::string(allow) == "1") GTEST_SKIP() << "not inside the private namespace of wine-run.sh";
      FAIL() << "not inside the private namespace of wine-run.sh (QUILLON_ALLOW_SKIP=1 skips)";
    }
    ASSERT_TRUE(linesReady_) << "could not set up the veth lines";
  }

  Win32System system_;
  static inline bool shellStarted_ = false;
  static inline bool privateNamespace_ = false;
  static inline bool linesReady_ = false;
};

TEST_F(WineLines, ListAdaptersReportsBothLinesWithAddressMaskAndGateway) {
  const std::vector<LineInfo> adapters = system_.ListAdapters();

  const LineInfo* a = FindByAddress(adapters, "192.0.2.10");
  const LineInfo* b = FindByAddress(adapters, "198.51.100.10");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->SubnetMask, "255.255.255.0");
  EXPECT_EQ(a->Gateway, "192.0.2.1");
  EXPECT_EQ(b->SubnetMask, "255.255.255.0");
  EXPECT_EQ(b->Gateway, "198.51.100.1");
  EXPECT_FALSE(a->AdapterName.empty());
  EXPECT_NE(a->AdapterName, b->AdapterName);

  // The peers qa1 and qb1 have neither address nor gateway; they are listed
  // all the same.
  EXPECT_GE(std::count_if(adapters.begin(), adapters.end(),
                          [](const LineInfo& l) { return l.Gateway.empty() || l.Gateway == "0.0.0.0"; }),
            2);

  for (const LineInfo& line : adapters) {
    SCOPED_TRACE(::testing::PrintToString(line));
    // Texts end at the field's first NUL and never run past the field.
    for (const std::string* field :
         {&line.AdapterName, &line.Description, &line.IpAddress, &line.SubnetMask, &line.Gateway}) {
      EXPECT_EQ(field->find('\0'), std::string::npos);
    }
    EXPECT_LT(line.AdapterName.size(), 260u);
    EXPECT_LT(line.Description.size(), 132u);
    EXPECT_LT(line.IpAddress.size(), 16u);
    EXPECT_LT(line.SubnetMask.size(), 16u);
    EXPECT_LT(line.Gateway.size(), 16u);
    EXPECT_TRUE(line.ConnectionName.empty());
    // Adapters without an address or gateway are listed as the system gives
    // them; whatever text it gives is an address.
    if (!line.IpAddress.empty()) {
      EXPECT_TRUE(IsDottedIpv4(line.IpAddress));
    }
    if (!line.Gateway.empty()) {
      EXPECT_TRUE(IsDottedIpv4(line.Gateway));
    }
  }

  // A fresh list each time, the same while nothing changes.
  EXPECT_EQ(system_.ListAdapters(), adapters);
}

TEST_F(WineLines, DiscoveryListsEachGatewayOnceAndAFreshQueryDoesNotRepeatIt) {
  const std::string first = system_.DiscoverGatewayText();
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.back(), ';');
  const std::vector<std::string> gateways = TextSplit(first, ";");
  EXPECT_EQ(std::count(gateways.begin(), gateways.end(), "192.0.2.1"), 1);
  EXPECT_EQ(std::count(gateways.begin(), gateways.end(), "198.51.100.1"), 1);
  for (const std::string& g : gateways) EXPECT_FALSE(g.empty()) << first;

  // A second discovery in the same process starts from nothing again.
  EXPECT_EQ(system_.DiscoverGatewayText(), first);
}

// COM state that a thread had before a discovery is left as it was, and COM
// that the discovery itself started is ended again.
TEST_F(WineLines, DiscoveryLeavesTheThreadsComStateAsItFoundIt) {
  const std::string expected = system_.DiscoverGatewayText();
  ASSERT_FALSE(expected.empty());

  struct Outcome {
    std::string text;
    HRESULT after = E_FAIL;     // the thread's COM state right after the discovery
    HRESULT afterEnd = E_FAIL;  // and once the thread has ended its own COM use
  };
  // CoInitializeEx reports the thread's COM state: S_OK when COM was not
  // initialised, S_FALSE when it still is in that mode. Each probe undoes
  // itself.
  auto probe = [](DWORD mode) {
    const HRESULT hr = CoInitializeEx(nullptr, mode);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr;
  };

  Outcome fresh, ole, mta;
  std::thread([&] {
    fresh.text = system_.DiscoverGatewayText();
    fresh.after = probe(COINIT_APARTMENTTHREADED);
  }).join();
  std::thread([&] {
    // A window thread with OLE (drag and drop) already set up.
    if (FAILED(OleInitialize(nullptr))) return;
    ole.text = system_.DiscoverGatewayText();
    ole.after = probe(COINIT_APARTMENTTHREADED);
    OleUninitialize();
    ole.afterEnd = probe(COINIT_APARTMENTTHREADED);
  }).join();
  std::thread([&] {
    // A thread in the multithreaded apartment: the discovery cannot have its
    // own apartment there and works in the one it finds.
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
    mta.text = system_.DiscoverGatewayText();
    mta.after = probe(COINIT_MULTITHREADED);
    CoUninitialize();
    mta.afterEnd = probe(COINIT_MULTITHREADED);
  }).join();

  EXPECT_EQ(fresh.text, expected);
  EXPECT_EQ(fresh.after, S_OK);
  EXPECT_EQ(ole.text, expected);
  EXPECT_EQ(ole.after, S_FALSE);
  EXPECT_EQ(ole.afterEnd, S_OK);
  EXPECT_EQ(mta.text, expected);
  EXPECT_EQ(mta.after, S_FALSE);
  EXPECT_EQ(mta.afterEnd, S_OK);
}

// The connection name is read from the adapter's key under the network
// class key; a key made here for an adapter name of our own stands in for
// the one Windows keeps.
TEST(WineConnectionName, ReadsTheNameOfTheAdapterFromItsConnectionKey) {
  const std::string adapter = "{0A1B2C3D-0000-4000-8000-0000C0000201}";
  const std::string valuePath = ConnectionNameRegistryPath(adapter);
  const std::string keyPath = valuePath.substr(0, valuePath.rfind('\\'));
  const std::string adapterKey = keyPath.substr(0, keyPath.rfind('\\'));
  const std::string name = "本地连接 2";

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                           static_cast<DWORD>(name.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);

  Win32System system;
  const std::string found = system.ConnectionName(adapter);
  const std::string missing = system.ConnectionName("{0A1B2C3D-0000-4000-8000-0000C0000202}");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, adapterKey.c_str());

  EXPECT_EQ(found, name);
  EXPECT_EQ(missing, "");
}

// Runs the default-route requests with the fake route.exe in the system folder.
class WineDefaultRoutes : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    ASSERT_TRUE(tools_.Install(temp));
  }
  std::vector<std::string> Recorded() const { return tools_.Recorded(); }

  wine::FakeToolTrace tools_;
  Win32System system_;
};

// cmd /C hands the program the rest of its command text as written: the
// program's name as typed ("route"), then everything after it, blanks
// included. So route.exe sees "route " followed by exactly what our command
// line holds after "cmd /C route ", the double blank after "add" too.
TEST_F(WineDefaultRoutes, CommandsReachRouteExactlyAndInOrder) {
  RoutePlan plan;
  plan.replaceDefaults = true;
  plan.defaults = {{0xC0000201u, 100}, {0xC6336401u, 9999}, {0xCB007101u, 1}};
  EXPECT_EQ(system_.ApplyRoutePlan(plan).added, 3);

  const std::vector<std::string> expected = {
      "route delete 0.0.0.0",
      "route add  0.0.0.0 mask 0.0.0.0 192.0.2.1 metric 100",
      "route add  0.0.0.0 mask 0.0.0.0 198.51.100.1 metric 9999",
      "route add  0.0.0.0 mask 0.0.0.0 203.0.113.1 metric 1",
  };
  EXPECT_EQ(Recorded(), expected);
}

// Only an IPv4 unicast gateway and a metric of 1 to 9999 reach cmd.
TEST_F(WineDefaultRoutes, AGatewayOrMetricOutsideTheRulesRunsNothing) {
  RoutePlan plan;
  plan.defaults = {{0, 1}, {0x7F000001u, 1}, {0xE0000001u, 1}, {0xC0000201u, 0}, {0xC0000201u, 10000}};
  EXPECT_EQ(system_.ApplyRoutePlan(plan).added, 0);
  EXPECT_EQ(Recorded(), std::vector<std::string>{});
}

}  // namespace
}  // namespace quillon::platform
