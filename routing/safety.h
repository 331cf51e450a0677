// Checks that a text may go into a command line or a system call.
#pragma once

#include <string_view>

namespace quillon::routing {

// Four decimal numbers 0..255 (one to three digits each) joined by dots,
// nothing else: the only form a line (a gateway) may take in a route request.
bool IsDottedIPv4(std::string_view text);

// A stored metric that may reach a route request: ASCII letters and digits
// only, at least one character.
bool IsSafeMetricText(std::string_view text);

}  // namespace quillon::routing
