// The global line: the line that holds the machine's default route with the
// lowest metric, and its store qj.ini (a section per line, key id = the
// metric of that line's default route).
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"

namespace quillon::routing {

// One line, as the start offers it in the selectors.
struct OfferedLine {
  std::string gateway;
  bool global = false;  // its stored metric is 1: the global line
};

struct RestoredLines {
  std::vector<OfferedLine> lines;  // the discovered lines, in discovery order
  platform::RouteReport routes;    // what putting the stored default routes back did
};

// Run once at start: the discovered lines, and the stored default routes put
// back (a line whose stored metric is at least 1 gets its default route
// again; nothing is deleted, nothing is written).
RestoredLines RestoreGlobalLine(platform::System& sys);

struct AppliedGlobalLine {
  std::vector<std::string> lines;  // the discovered lines
  platform::RouteReport routes;
};

// Replaces every default route by one per discovered line: metric 1 for
// `chosen`, (p + 1) * 50 for the line at position p (from 1) otherwise, and
// records the metrics in qj.ini. A chosen text that is no discovered line
// gives every line its (p + 1) * 50.
AppliedGlobalLine ApplyGlobalLine(platform::System& sys, const std::string& chosen);

}  // namespace quillon::routing
