// The command lines that the fake nslookup.exe and route.exe record, as the
// Windows tests expect them.
#pragma once

#include <string>
#include <vector>

namespace quillon::wine_test {

// One destination: its lookup (cmd hands the tool the blank before ">"),
// then per answer network the delete and, with a line, the add through it.
inline std::vector<std::string> Routed(const std::string& destination, const std::vector<std::string>& networks,
                                       const std::string& line) {
  std::vector<std::string> lines = {"nslookup " + destination + " "};
  for (const std::string& network : networks) {
    lines.push_back("route delete " + network);
    if (!line.empty()) lines.push_back("route add " + network + " mask 255.255.255.0 " + line);
  }
  return lines;
}

inline std::vector<std::string> Joined(const std::vector<std::vector<std::string>>& parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A pass over these destinations: every lookup first, in order, then every
// route command, in order.
inline std::vector<std::string> Pass(const std::vector<std::vector<std::string>>& parts) {
  std::vector<std::string> lookups, routes;
  for (const std::string& line : Joined(parts)) (line.rfind("nslookup ", 0) == 0 ? lookups : routes).push_back(line);
  lookups.insert(lookups.end(), routes.begin(), routes.end());
  return lookups;
}

}  // namespace quillon::wine_test
