// Adapters (IP Helper), connection names (registry), lookups (nslookup.exe)
// and routes (route.exe), the tools run through cmd, hidden, each waited for. The gateway discovery is in wmi_gateways.cpp.
//
// The backend header comes before <windows.h>, whose CreateDirectory macro
// would otherwise rename a member of the class.
#include "platform/win32/win32_system.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/answer_rule.h"
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

// Holds, across processes, the one resolve log of a config directory: a
// named mutex whose name comes from the log's path. Every Quillon of the
// machine (a second window, the command line) runs its lookup, reads the log
// and deletes it under it, so no two lookups write one log at once.
class ResolveLogGuard {
 public:
  explicit ResolveLogGuard(const std::string& logPath) {
    // Path names are not case-sensitive, and '\\' may not appear in a
    // mutex's name: an FNV-1a hash of the lowered path names it.
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : logPath) {
      const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
      hash = (hash ^ static_cast<unsigned char>(lower)) * 1099511628211ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Local\\QuillonResolveLog-%016llx", static_cast<unsigned long long>(hash));
    mutex_ = CreateMutexA(nullptr, FALSE, name);
    // An owner that died leaves the mutex abandoned: it is ours then.
    if (mutex_ != nullptr) {
      const DWORD got = WaitForSingleObject(mutex_, INFINITE);
      owned_ = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
    }
  }
  ~ResolveLogGuard() {
    if (owned_) ReleaseMutex(mutex_);
    if (mutex_ != nullptr) CloseHandle(mutex_);
  }
  ResolveLogGuard(const ResolveLogGuard&) = delete;
  ResolveLogGuard& operator=(const ResolveLogGuard&) = delete;

 private:
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
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

Lookup Win32System::LookupHost(const std::string& destination, const std::string& logPath, bool keepLog) {
  Lookup answer;
  if (!IsSafeDestination(destination)) return answer;
  ByteArray output;
  {
    const ResolveLogGuard guard(logPath);
    answer.started = RunCommand(LookupCommand(destination, logPath), true, 1);
    if (!answer.started) return answer;
    output = ToText(FileRead(logPath));
    if (!keepLog) FileDelete(logPath);
  }
  const AnswerAddresses found = ReadLookupOutput(output, destination);
  answer.answered = found.answered;
  answer.addresses = AddressValues(found.addresses);
  return answer;
}

RouteReport Win32System::ApplyRoutePlan(const RoutePlan& plan) {
  RouteReport report;
  if (plan.clear) {
    report.outcome = RouteReport::Outcome::Failed;
    report.reason = "Windows cannot tell Quillon's routes from others: nothing was removed";
    return report;
  }
  // Commands run; their outcome is never known.
  for (const std::string& command : RoutePlanCommands(plan)) {
    if (!RunCommand(command, true, 1)) continue;
    (command.rfind("cmd /C route delete", 0) == 0 ? report.deleted : report.added) += 1;
  }
  return report;
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

Ipv4 Win32System::RouteGateway(const Prefix& prefix) {
  ULONG size = 0;
  GetIpForwardTable(nullptr, &size, FALSE);
  if (size == 0) return 0;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]());
  auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer.get());
  if (GetIpForwardTable(table, &size, FALSE) != NO_ERROR) return 0;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPFORWARDROW& row = table->table[i];
    if (ntohl(row.dwForwardDest) != prefix.network || ntohl(row.dwForwardMask) != MaskOf(prefix.length)) continue;
    // An on-link route has no gateway: its next hop is 0 or this machine.
    if (row.dwForwardNextHop == 0 || row.dwForwardType == MIB_IPROUTE_TYPE_DIRECT) continue;
    return ntohl(row.dwForwardNextHop);
  }
  return 0;
}

void Win32System::UseParentConsole() {
  // A program without a console of its own prints into its parent's, when
  // it was started from one.
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
}


}  // namespace quillon::platform
