#include "platform/posix/posix_system.h"

#include "platform/posix/network_watch.h"

#include <memory>

#include "platform/system_factory.h"

namespace quillon::platform {

PosixSystem::PosixSystem(std::string homeOverride) : homeOverride_(std::move(homeOverride)) {}

std::unique_ptr<System> MakeSystem(const std::string& homeOverride) {
  return std::make_unique<PosixSystem>(homeOverride);
}

}  // namespace quillon::platform
