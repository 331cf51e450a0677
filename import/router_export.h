// The split list as files for a Linux router, where dnsmasq and nftables do
// the splitting for every device of the network: dnsmasq (2.87 or later)
// puts each answer it forwards for a listed name, or for any name under it,
// into the nftables set of the name's line; nftables marks traffic to the
// addresses of each set; a rule per mark sends it to a routing table that
// holds one default route through the line's gateway. Pure functions.
//
// Nothing of an entry reaches a file unchecked: names pass only as plain DNS
// names, networks and gateways are written from their parsed values, and
// notes are never written. So no list line can add dnsmasq options, nft
// statements or shell commands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "routing/split_store.h"

namespace quillon::importing {

inline constexpr char kRouterDnsmasqFile[] = "quillon-dnsmasq.conf";
inline constexpr char kRouterNftFile[] = "quillon.nft";
inline constexpr char kRouterScriptFile[] = "quillon-router.sh";

// Line N (from 1) gets the firewall mark kRouterMarkBase + N and the routing
// table kRouterTableBase + N: 0x5101.. and 5101.., clear of the small values
// that routers and their tools commonly use. At most kRouterLines lines, so
// that every mark is 0x51xx; entries of further lines are skipped.
inline constexpr int kRouterMarkBase = 0x5100;
inline constexpr int kRouterTableBase = 5100;
inline constexpr int kRouterLines = 255;

struct RouterFiles {
  std::string dnsmasq;   // quillon-dnsmasq.conf
  std::string nftables;  // quillon.nft
  std::string script;    // quillon-router.sh (POSIX sh)
};

struct RouterExport {
  RouterFiles files;
  int lines = 0;     // lines written (each with its set, mark and table)
  int names = 0;     // distinct names written to the dnsmasq file
  int networks = 0;  // distinct networks written to the sets
  int skipped = 0;   // routed entries that the files cannot hold (see MakeRouterExport)
};

// A name dnsmasq can take as a domain: ASCII letters, digits, '-' and '.',
// at most 253 bytes, at least two labels of 1..63 bytes none of which starts
// or ends with '-', and not only digits and dots. A name of one label (a
// top-level domain such as "test") is refused: on the router it would send
// every name under it through the line.
bool IsPlainDnsName(std::string_view name);

// The three files for the entries, in store order. Only entries that the
// machine routes take part: status exactly "1", a line that is a gateway
// text, no '|' in any field. Their lines are numbered 1.. in the order they
// first appear. Each such entry is
// - a prefix entry (ReadPrefixEntry Valid): the prefix, in the line's set;
// - a dotted IPv4 address: its /24 network, in the line's set;
// - a plain DNS name: lower-cased, one nftset= line of the dnsmasq file;
// - any other destination that may reach a lookup (IsSafeDestination) and
//   writes IPv4 addresses, such as a URL around one: the /24 network of each
//   of them, in the line's set, as the machine routes it when the lookup of
//   the whole text finds nothing;
// and is skipped (counted) otherwise: a network that may not be routed, a
// prefix with host bits set or shorter than /8, a URL around a name, a line
// past kRouterLines. Where entries ask for one name or one network on
// different lines, the later entry wins; for networks inside one another,
// the longer prefix wins, as in a routing table: the sets hold disjoint
// ranges.
RouterExport MakeRouterExport(const std::vector<routing::SplitEntry>& entries);

}  // namespace quillon::importing
