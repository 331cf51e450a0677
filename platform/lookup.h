// What a lookup of one destination gives: whether it could be made, whether
// it answered, the IPv4 addresses of the answer, and how long it may be kept.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ipv4.h"

namespace quillon::platform {

struct Lookup {
  bool started = false;           // false: it could not be made at all (refused destination, no tool)
  bool answered = false;          // the answer names the destination (it may still hold no IPv4 address)
  std::vector<Ipv4> addresses;    // the answer's IPv4 addresses, in the answer's order
  std::uint32_t ttl = 0;          // seconds the answer may be kept; 0: ask again at the next pass
  bool operator==(const Lookup&) const = default;
};

}  // namespace quillon::platform
