// Adapters (IP Helper), connection names (registry) and the default routes
// (route.exe through cmd). The gateway discovery is in wmi_gateways.cpp.
//
// The backend header comes before <windows.h>, whose CreateDirectory macro
// would otherwise rename a member of the class.
#include "platform/win32/win32_system.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <memory>

#include "platform/route_commands.h"

namespace quillon::platform {
namespace {

// The text of a fixed-size character field: its bytes up to the first NUL,
// never past the end of the field.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// What may reach a default-route command line: letters, digits, '.' and ':'.
// The callers have already validated the gateway as dotted IPv4 and the
// metric as letters and digits; this refuses anything that could change the
// meaning of the command for cmd (blanks, & | < > ^ % " and the like) or
// turn into an option of route.exe ('-', '/'), and an empty part.
bool IsRouteArgument(const std::string& text) {
  if (text.empty()) return false;
  for (const unsigned char c : text) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                    c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

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
  if (!IsRouteArgument(gateway) || !IsRouteArgument(metric)) return false;
  return RunCommand(AddDefaultRouteCommand(gateway, metric), true, 1);
}

}  // namespace quillon::platform
