// Lists as people share them: one destination a line (a host name, an IPv4
// address or a prefix A.B.C.D/N), blank lines and # comments, and the
// resolver's own forms (server=/a/b/..., ipset=/a/b/..., nftset=/a/b/...)
// whose slashes enclose domains.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon::importing {

struct ListReading {
  struct Destination {
    int line = 0;  // where it stands in the file, from 1
    std::string text;
  };
  std::vector<Destination> destinations;  // in file order
  int skipped = 0;                        // lines that give nothing a lookup or a route may take
  bool names = false;                     // host names among the destinations
};

// The destinations of a list's text (in the system's code page). Only what
// may reach a lookup or a route is taken: a plain host name (labels of
// letters, digits, '-' and '_', or whole non-ASCII characters), a dotted
// IPv4 address, or a prefix that may be routed; a URL, a text with blanks,
// or a prefix with host bits set is skipped and counted.
ListReading ReadSharedList(std::string_view text);

}  // namespace quillon::importing
