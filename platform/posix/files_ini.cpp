// STUB: files and the private-profile engine (to be written).
#include "platform/posix/posix_system.h"

namespace quillon::platform {

std::string PosixSystem::ProgramDirectory() { return homeOverride_; }
bool PosixSystem::FileExists(const std::string&) { return false; }
bool PosixSystem::CreateDirectory(const std::string&) { return false; }
ByteArray PosixSystem::FileRead(const std::string&) { return {}; }
bool PosixSystem::FileDelete(const std::string&) { return false; }
bool PosixSystem::IniWrite(const std::string&, const std::string&, const std::optional<std::string>&,
                           const std::optional<std::string>&) {
  return false;
}
std::vector<std::string> PosixSystem::IniSections(const std::string&) { return {}; }
std::string PosixSystem::ReadProfileString(const std::string&, const std::string&, const std::string&,
                                           const std::string& fallback) {
  return fallback;
}

}  // namespace quillon::platform
