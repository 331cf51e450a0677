// STUB: adapters, discovery and default routes through netlink (to be written).
#include "platform/posix/posix_system.h"

namespace quillon::platform {

std::vector<LineInfo> PosixSystem::ListAdapters() { return {}; }
std::string PosixSystem::ConnectionName(const std::string&) { return {}; }
std::string PosixSystem::DiscoverGatewayText() { return {}; }
bool PosixSystem::DeleteDefaultRoutes() { return false; }
bool PosixSystem::AddDefaultRoute(const std::string&, const std::string&) { return false; }

}  // namespace quillon::platform
