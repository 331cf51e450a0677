// STUB: files and private-profile INI (to be written).
#include "platform/win32/win32_system.h"

namespace quillon::platform {

std::string Win32System::ProgramDirectory() { return homeOverride_; }
bool Win32System::FileExists(const std::string&) { return false; }
bool Win32System::CreateDirectory(const std::string&) { return false; }
ByteArray Win32System::FileRead(const std::string&) { return {}; }
bool Win32System::FileDelete(const std::string&) { return false; }
bool Win32System::IniWrite(const std::string&, const std::string&, const std::optional<std::string>&,
                           const std::optional<std::string>&) {
  return false;
}
std::vector<std::string> Win32System::IniSections(const std::string&) { return {}; }
std::string Win32System::ReadProfileString(const std::string&, const std::string&, const std::string&,
                                           const std::string& fallback) {
  return fallback;
}

}  // namespace quillon::platform
