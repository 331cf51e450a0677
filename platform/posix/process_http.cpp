// STUB: threads, HTTP, registry (to be written).
#include "platform/posix/posix_system.h"

namespace quillon::platform {

std::string PosixSystem::RegistryReadText(int, const std::string&, const std::string& fallback) {
  return fallback;
}
bool PosixSystem::StartWorker(std::function<void()>) { return false; }
ByteArray PosixSystem::HttpGetText(const std::string&) { return {}; }

}  // namespace quillon::platform
