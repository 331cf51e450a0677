// The System backend of this build (CMake picks platform/posix or
// platform/win32).
#pragma once

#include <memory>
#include <string>

#include "platform/system.h"

namespace quillon::platform {

// `homeOverride`: the base directory given with --home / QUILLON_HOME, or
// empty for the program's own directory.
std::unique_ptr<System> MakeSystem(const std::string& homeOverride);

}  // namespace quillon::platform
