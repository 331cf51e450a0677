// The one rule for what may reach a route request, a command line or a
// system call. Used by the logic before it asks for a route and again by
// each System backend before it acts, so both builds refuse the same texts.
#pragma once

#include <string_view>

#include "platform/ipv4.h"
#include "platform/text.h"

namespace quillon::platform {

// A line (a gateway): a dotted IPv4 unicast address, four decimal numbers
// 0..255 without leading zeros ("10.0.0.01" is refused), not in 0.0.0.0/8,
// 127.0.0.0/8 or 224.0.0.0 and above (multicast, reserved, broadcast).
bool IsGatewayText(std::string_view text);

// A route metric: one to four decimal digits, nothing else.
bool IsMetricText(std::string_view text);

// A /24 network that a split route may name: a gateway text (above) whose
// last number is 0. This keeps "0.0.0.0" (which names the default routes to
// the route tool) and the loopback, multicast and broadcast ranges out.
bool IsNetworkText(std::string_view text);

// The same two rules on values: a gateway address outside 0.0.0.0/8,
// 127.0.0.0/8 and 224.0.0.0 and above; a prefix that a split route may name:
// 8 to 32 bits long, no host bits set, and inside no such range (a prefix of
// at least 8 bits lies in one /8).
bool IsGatewayAddress(Ipv4 address);
bool IsRoutablePrefix(const Prefix& prefix);

// Longest destination text that may reach a lookup, in bytes.
inline constexpr std::size_t kDestinationLimit = 1024;

// A destination (a host name, an IPv4 address, or a URL around one) that may
// reach the lookup tool's command line or the resolver: not empty, at most
// kDestinationLimit bytes, not starting with '-' (the tool would take it as
// an option), and made only of ASCII letters, digits and . - _ : / ? # @ ~ +
// [ ] and of whole, well-formed non-ASCII characters (by `rule`: UTF-8
// sequences, or GBK pairs of a lead byte 0x81..0xFE and a second byte
// 0x80..0xFE) none of whose bytes is an ASCII character. Blanks, control bytes and every character that the
// command interpreter treats specially (& | < > ^ " % ! ( ) ; , = ' ` and
// the like) are refused, as is a broken multi-byte character.
bool IsSafeDestination(std::string_view text, CharRule rule = SystemCharRule());

// The labels of a host name, or 0 when `name` is none: at most 253 bytes,
// labels of 1..63 bytes none of which starts or ends with '-', made of ASCII
// letters, digits and '-', and with `wide` also of '_' and non-ASCII bytes
// (whose characters IsSafeDestination checks).
int HostNameLabels(std::string_view name, bool wide);

}  // namespace quillon::platform
