// Where the program keeps its files: the config directory below the base
// directory, and every file inside it.
#pragma once

#include <string>

#include "platform/system.h"

namespace quillon::routing {

inline constexpr char kConfigDirectoryName[] = "分流器配置";
inline constexpr char kSplitStoreName[] = "http.ini";
inline constexpr char kGlobalLineStoreName[] = "qj.ini";
inline constexpr char kResolveLogName[] = "log.txt";
inline constexpr char kRoutingLockName[] = "routing.lock";

inline std::string ConfigDirectory(platform::System& sys) {
  return sys.ProgramDirectory() + sys.PathSeparator() + kConfigDirectoryName;
}
inline std::string ConfigFile(platform::System& sys, const std::string& name) {
  return ConfigDirectory(sys) + sys.PathSeparator() + name;
}
// Makes the config directory when it is not there yet.
inline void EnsureConfigDirectory(platform::System& sys) {
  const std::string directory = ConfigDirectory(sys);
  if (!sys.FileExists(directory)) sys.CreateDirectory(directory);
}

}  // namespace quillon::routing
