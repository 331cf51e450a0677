// The fake machine most tests of the routines start from: the base
// directory /q with its config directory, two lines (192.0.2.1 on "以太网",
// 198.51.100.1 on "WLAN"), and the paths of the files in it. Test code only.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/fake/fake_system.h"

namespace quillon::platform {

struct FakeHome {
  static constexpr char kConfigDir[] = "/q/分流器配置";
  static constexpr char kStore[] = "/q/分流器配置/http.ini";
  static constexpr char kGlobalStore[] = "/q/分流器配置/qj.ini";
  static constexpr char kLog[] = "/q/分流器配置/log.txt";
  static constexpr char kLine1[] = "192.0.2.1";
  static constexpr char kLine2[] = "198.51.100.1";

  FakeHome() {
    sys.directories.insert(kConfigDir);
    sys.adapters = {{"v0", "veth", "", "192.0.2.2", "255.255.255.0", kLine1},
                    {"v1", "veth", "", "198.51.100.2", "255.255.255.0", kLine2}};
    sys.connectionNames = {{"v0", "以太网"}, {"v1", "WLAN"}};
    sys.gatewayText = std::string(kLine1) + ";" + kLine2 + ";";
  }

  // A section of a file in the split store's layout, appended as written.
  void Section(const std::string& file, const std::string& name,
               std::vector<std::pair<std::string, std::string>> keys) {
    sys.inis[file].push_back({name, std::move(keys)});
  }
  // An entry of the split store.
  void Entry(const std::string& destination, const std::string& line, const std::string& status = "1",
             const std::string& note = "") {
    Section(kStore, destination, {{"xl", line}, {"bz", note}, {"zt", status}});
  }
  // The section names of the split store, in order.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& s : sys.inis[kStore]) names.push_back(s.name);
    return names;
  }
  std::string Value(const std::string& section, const std::string& key, const char* file = kStore) const {
    return sys.IniValue(file, section, key).value_or("(none)");
  }

  FakeSystem sys;
};

}  // namespace quillon::platform
