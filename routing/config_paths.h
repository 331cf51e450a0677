// Where the program keeps its files: the config directory below the base
// directory, and the stores inside it.
#pragma once

#include <string>

#include "platform/system.h"

namespace quillon::routing {

inline constexpr const char* kConfigDirectoryName = "分流器配置";

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
// The global line store.
inline std::string GlobalLineStore(platform::System& sys) { return ConfigFile(sys, "qj.ini"); }
// The split store.
inline std::string SplitStore(platform::System& sys) { return ConfigFile(sys, "http.ini"); }

}  // namespace quillon::routing
