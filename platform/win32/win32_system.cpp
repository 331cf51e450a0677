#include "platform/win32/win32_system.h"

#include <memory>

#include "platform/system_factory.h"

namespace quillon::platform {

Win32System::Win32System(std::string homeOverride) : homeOverride_(std::move(homeOverride)) {}

std::unique_ptr<System> MakeSystem(const std::string& homeOverride) {
  return std::make_unique<Win32System>(homeOverride);
}

}  // namespace quillon::platform
