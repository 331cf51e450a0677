// STUB: threads, HTTP, registry, processes (to be written).
#include "platform/win32/win32_system.h"

namespace quillon::platform {

Win32System::~Win32System() = default;
std::string Win32System::RegistryReadText(int, const std::string&, const std::string& fallback) {
  return fallback;
}
bool Win32System::StartWorker(std::function<void()>) { return false; }
ByteArray Win32System::HttpGetText(const std::string&) { return {}; }
bool Win32System::RunCommand(const std::string&, bool, int) { return false; }

}  // namespace quillon::platform
