// IPv4 addresses and prefixes as values, and the dotted texts they come
// from. Pure functions, the same on every build.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::platform {

// An IPv4 address in host byte order.
using Ipv4 = std::uint32_t;

// A dotted text of four decimal numbers 0..255 without leading zeros
// ("10.0.0.01" is no address), and nothing else.
std::optional<Ipv4> ParseIpv4(std::string_view text);
std::string Ipv4Text(Ipv4 address);
// The same text written at `at` (at most 15 bytes, no NUL); where it ends.
char* PutIpv4Text(char* at, Ipv4 address);

// The netmask of a prefix length (0..32): 24 gives 255.255.255.0.
Ipv4 MaskOf(int length);
std::string MaskText(int length);

// A network: an address whose host bits are clear, and a length.
struct Prefix {
  Ipv4 network = 0;
  int length = 32;

  bool Contains(Ipv4 address) const { return (address & MaskOf(length)) == network; }
  // Whether the two share any address (one contains the other).
  bool Overlaps(const Prefix& other) const;
  bool operator==(const Prefix&) const = default;
  bool operator<(const Prefix& o) const { return network != o.network ? network < o.network : length < o.length; }
};

// "a.b.c.d/n".
std::string PrefixText(const Prefix& prefix);
// At most 27 bytes (a length out of range is written as it is), no NUL.
char* PutPrefixText(char* at, const Prefix& prefix);

// The /24 network of an address, as a split route names it.
inline Prefix Network24(Ipv4 address) { return Prefix{address & 0xFFFFFF00u, 24}; }

// A destination read as a prefix entry. Only the exact form A.B.C.D/N
// (a dotted address as ParseIpv4 takes it, then "/" and a decimal length
// 0..32 without leading zeros) is one; any other text, "1.2.3.0/33"
// included, is NotAPrefix and keeps the lookup rules.
struct PrefixEntry {
  enum Form {
    NotAPrefix,
    Valid,        // 8 <= N <= 32 and no host bits set: `prefix`
    HostBitsSet,  // `prefix` is the one probably meant (host bits cleared)
    TooShort,     // N < 8
  } form = NotAPrefix;
  Prefix prefix;
};
PrefixEntry ReadPrefixEntry(std::string_view destination);

}  // namespace quillon::platform
