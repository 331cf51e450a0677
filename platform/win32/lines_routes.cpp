// STUB: adapters, connection names, WMI discovery, default routes (to be written).
#include "platform/win32/win32_system.h"

namespace quillon::platform {

std::vector<LineInfo> Win32System::ListAdapters() { return {}; }
std::string Win32System::ConnectionName(const std::string&) { return {}; }
std::string Win32System::DiscoverGatewayText() { return {}; }
bool Win32System::DeleteDefaultRoutes() { return false; }
bool Win32System::AddDefaultRoute(const std::string&, const std::string&) { return false; }

}  // namespace quillon::platform
