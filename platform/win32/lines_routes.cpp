// Adapters (IP Helper), connection names (registry), lookups (nslookup.exe)
// and routes (route.exe), the tools run through cmd, hidden, each waited for. The gateway discovery is in wmi_gateways.cpp.
//
// The backend header comes before <windows.h>, whose CreateDirectory macro
// would otherwise rename a member of the class.
#include "platform/win32/win32_system.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/route_commands.h"
#include "platform/safety.h"

namespace quillon::platform {
namespace {

// The text of a fixed-size character field: its bytes up to the first NUL,
// never past the end of the field.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// Runs each request's commands at once, in the order of the requests.
class CommandRoutePass final : public System::RoutePass {
 public:
  explicit CommandRoutePass(Win32System& system) : system_(system) {}
  void RouteNetwork(const std::string& network, const std::string& line) override {
    if (!IsNetworkText(network)) return;
    if (system_.RunCommand(DeleteNetworkRouteCommand(network), true, 1)) ++changes_.deleted;
    if (IsGatewayText(line) && system_.RunCommand(AddNetworkRouteCommand(network, line), true, 1)) {
      ++changes_.added;
    }
  }
  System::RouteChanges Finish() override { return changes_; }

 private:
  Win32System& system_;
  System::RouteChanges changes_;  // commands run; their outcome is never known
};

}  // namespace

std::vector<LineInfo> Win32System::ListAdapters() {
  // First ask for the size the list needs, then read it into a zero-filled
  // buffer of exactly that size.
  ULONG size = 0;
  GetAdaptersInfo(nullptr, &size);
  if (size == 0) return {};
  // new[] gives storage aligned for any fundamental type, as the records need.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]());
  auto* first = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get());
  if (GetAdaptersInfo(first, &size) != ERROR_SUCCESS) return {};

  std::vector<LineInfo> adapters;
  for (const IP_ADAPTER_INFO* a = first; a != nullptr; a = a->Next) {
    LineInfo line;
    line.AdapterName = FieldText(a->AdapterName);
    line.Description = FieldText(a->Description);
    line.IpAddress = FieldText(a->IpAddressList.IpAddress.String);
    line.SubnetMask = FieldText(a->IpAddressList.IpMask.String);
    line.Gateway = FieldText(a->GatewayList.IpAddress.String);
    adapters.push_back(std::move(line));
  }
  return adapters;
}

std::string Win32System::ConnectionName(const std::string& adapterName) {
  return RegistryReadText(LocalMachine, ConnectionNameRegistryPath(adapterName), std::string());
}

bool Win32System::DeleteDefaultRoutes() {
  return RunCommand(DeleteDefaultRoutesCommand(), true, 1);
}

bool Win32System::AddDefaultRoute(const std::string& gateway, const std::string& metric) {
  // The logic checks both texts already; nothing else ever reaches cmd.
  if (!IsGatewayText(gateway) || !IsMetricText(metric)) return false;
  return RunCommand(AddDefaultRouteCommand(gateway, metric), true, 1);
}

System::LookupAnswer Win32System::LookupHost(const std::string& destination, const std::string& logPath) {
  LookupAnswer answer;
  if (!IsSafeDestination(destination)) return answer;
  answer.started = RunCommand(LookupCommand(destination, logPath), true, 1);
  if (answer.started) answer.output = FileRead(logPath);
  return answer;
}

std::unique_ptr<System::RoutePass> Win32System::BeginRoutePass() {
  return std::make_unique<CommandRoutePass>(*this);
}

bool Win32System::LockRouting(const std::string& path) {
  if (routingLock_ != nullptr) return true;
  // Open without sharing: a second process cannot open it while this one lives.
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_SHARING_VIOLATION;
  routingLock_ = file;
  return true;
}

std::string Win32System::NetworkRoute(const std::string& network) {
  if (!IsNetworkText(network)) return {};
  const unsigned long wanted = inet_addr(network.c_str());
  ULONG size = 0;
  GetIpForwardTable(nullptr, &size, FALSE);
  if (size == 0) return {};
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]());
  auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer.get());
  if (GetIpForwardTable(table, &size, FALSE) != NO_ERROR) return {};
  const unsigned long mask = inet_addr("255.255.255.0");
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPFORWARDROW& row = table->table[i];
    if (row.dwForwardDest != wanted || row.dwForwardMask != mask) continue;
    // An on-link route has no gateway: its next hop is 0 or this machine.
    if (row.dwForwardNextHop == 0 || row.dwForwardType == MIB_IPROUTE_TYPE_DIRECT) continue;
    in_addr gateway{};
    gateway.s_addr = row.dwForwardNextHop;
    return inet_ntoa(gateway);
  }
  return {};
}

void Win32System::UseParentConsole() {
  // A program without a console of its own prints into its parent's, when
  // it was started from one.
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
}

std::string Win32System::RouteRightsAdvice() { return "请右键点击程序，选择“以管理员身份运行”。"; }

}  // namespace quillon::platform
