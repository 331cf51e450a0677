#include "import/router_export.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>

#include "platform/answer_rule.h"
#include "platform/ipv4.h"
#include "platform/safety.h"

namespace quillon::importing {

using platform::Ipv4;
using platform::Prefix;

namespace {

// The routes of the machine skip an entry with a '|' in any field.
bool HoldsBar(const routing::SplitEntry& e) {
  for (const std::string* field : {&e.destination, &e.line, &e.status, &e.note}) {
    if (field->find('|') != std::string::npos) return true;
  }
  return false;
}

std::string Hex(int value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value > 0);
  return "0x" + text;
}

struct Line {
  std::string gateway;  // a gateway text
  std::string set, mark, table;
  std::vector<std::string> names;
  std::vector<std::string> elements;
};

// An address range, both ends included (64 bits: the end of the last
// network plus one still fits).
struct Range {
  std::uint64_t first, last;
};

// The range as nft writes it: a prefix where it is one, else "a-b".
std::string RangeText(const Range& r) {
  for (int length = 0; length <= 32; ++length) {
    const std::uint64_t size = std::uint64_t{1} << (32 - length);
    if (r.last - r.first + 1 == size && r.first % size == 0) {
      return platform::PrefixText(Prefix{static_cast<Ipv4>(r.first), length});
    }
  }
  return platform::Ipv4Text(static_cast<Ipv4>(r.first)) + "-" + platform::Ipv4Text(static_cast<Ipv4>(r.last));
}

// Each address to the line of the longest network holding it. `networks`
// (sorted, so a network comes before those inside it) are nested or
// disjoint, as prefixes are. The ranges go to each line in address order,
// neighbours joined.
void AssignRanges(const std::map<Prefix, int>& networks, std::vector<Line>& lines) {
  std::vector<std::vector<Range>> ranges(lines.size());
  const auto give = [&](int line, std::uint64_t first, std::uint64_t last) {
    if (first > last) return;
    std::vector<Range>& to = ranges[static_cast<std::size_t>(line)];
    if (!to.empty() && to.back().last + 1 == first) {
      to.back().last = last;
    } else {
      to.push_back({first, last});
    }
  };
  struct Open {
    std::uint64_t last;
    int line;
  };
  std::vector<Open> open;  // the networks holding the cursor, innermost last
  std::uint64_t cursor = 0;
  const auto close = [&] {
    give(open.back().line, cursor, open.back().last);
    cursor = std::max(cursor, open.back().last + 1);
    open.pop_back();
  };
  for (const auto& [network, line] : networks) {
    const std::uint64_t first = network.network;
    while (!open.empty() && open.back().last < first) close();
    if (!open.empty() && first > 0) give(open.back().line, cursor, first - 1);
    cursor = first;
    open.push_back({first + (std::uint64_t{1} << (32 - network.length)) - 1, line});
  }
  while (!open.empty()) close();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (const Range& r : ranges[i]) lines[i].elements.push_back(RangeText(r));
  }
}

std::string LineComment(const Line& l, std::size_t number, const char* lead) {
  return std::string(lead) + "Line " + std::to_string(number) + ": gateway " + l.gateway + ", set " + l.set +
         ", mark " + l.mark + ", table " + l.table + ".\n" + lead + "  The router interface whose network holds " +
         l.gateway + " reaches it.\n";
}

std::string DnsmasqFile(const std::vector<Line>& lines) {
  std::string text =
      "# Quillon's split list for dnsmasq 2.87 or later, built with nftset.\n"
      "# Each answer that dnsmasq forwards for a name below, or for any name under\n"
      "# it, goes into the nftables set of the name's line (table inet quillon, made\n"
      "# by quillon.nft); answers it makes itself (hosts files, address=) fill no set.\n"
      "# Include this file in dnsmasq's configuration (conf-file= with its path, or a\n"
      "# copy in /etc/dnsmasq.d/) and restart dnsmasq.\n";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += "\n" + LineComment(lines[i], i + 1, "# ");
    for (const std::string& name : lines[i].names) text += "nftset=/" + name + "/4#inet#quillon#" + lines[i].set + "\n";
  }
  return text;
}

std::string NftFile(const std::vector<Line>& lines) {
  std::string text =
      "#!/usr/sbin/nft -f\n"
      "# Quillon's split list for nftables: the table inet quillon. Line N has the\n"
      "# set line_N (its networks, and the addresses that dnsmasq puts in for its\n"
      "# names), the firewall mark 0x5100+N and the routing table 5100+N, which\n"
      "# quillon-router.sh sets up; marks 0x51xx and tables 51xx stay clear of the\n"
      "# small values routers commonly use. Traffic the router forwards, and its own,\n"
      "# to an address of a set gets that line's mark; an address in two sets gets\n"
      "# the mark of the line with the higher number.\n"
      "# Loading this file again replaces the whole table, and with it the addresses\n"
      "# dnsmasq put in: restart dnsmasq afterwards to fill the sets again.\n";
  if (!lines.empty()) text += "#\n";
  for (std::size_t i = 0; i < lines.size(); ++i) text += LineComment(lines[i], i + 1, "# ");
  text +=
      "\n"
      "table inet quillon\n"
      "delete table inet quillon\n"
      "\n"
      "table inet quillon {\n";
  for (const Line& l : lines) {
    text += "\tset " + l.set + " {\n\t\ttype ipv4_addr\n\t\tflags interval\n\t\tauto-merge\n";
    if (!l.elements.empty()) {
      text += "\t\telements = {";
      for (std::size_t i = 0; i < l.elements.size(); ++i) {
        text += (i == 0 ? " " : i % 4 == 0 ? ",\n\t\t\t     " : ", ") + l.elements[i];
      }
      text += " }\n";
    }
    text += "\t}\n\n";
  }
  const auto chain = [&](const char* name, const char* type, const char* hook) {
    text += std::string("\tchain ") + name + " {\n\t\ttype " + type + " hook " + hook +
            " priority mangle; policy accept;\n";
    for (const Line& l : lines) text += "\t\tip daddr @" + l.set + " counter meta mark set " + l.mark + "\n";
    text += "\t}\n";
  };
  chain("prerouting", "filter", "prerouting");
  text += "\n";
  chain("output", "route", "output");
  return text + "}\n";
}

// The script's fixed parts: everything but the list of lines.
constexpr char kScriptHead[] = R"SH(#!/bin/sh
# Quillon's split list on a Linux router: loads quillon.nft (the table inet
# quillon: the sets and the marks) from this script's folder and sends each
# line's mark through that line.
#
#   sh quillon-router.sh            set it all up; running it again gives the same state
#   sh quillon-router.sh --remove   take all of it away: the router is as before
#
# Line N: the firewall mark 0x5100+N and the routing table 5100+N, which holds
# one default route through the line's gateway; at priority 5100 a rule sends
# the mark to the main table without its default routes (the router's own
# networks, and its own routes, stay where they are), at priority 5101 a rule
# sends it to the line's table. Rules of that form with a mark 0x51xx, and the
# tables 51xx they name, are Quillon's: those of an earlier export go too.
# Traffic that leaves through a line needs the line's NAT (masquerade on its
# interface) like any other, and the line's interface a loose reverse-path
# filter (rp_filter 0 or 2): the replies of its flows arrive there.
#
)SH";

constexpr char kScriptBody[] = R"SH(
say() { printf 'quillon-router: %s\n' "$*"; }

here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd) || exit 1

# The rules this export makes, as "|priority mark table|".
wanted=''
while read -r n gateway mark table; do
	[ -n "$n" ] || continue
	wanted="$wanted|5100 $mark main||5101 $mark $table|"
done <<EOF
$LINES
EOF

# The rules Quillon exports made, each as "priority mark table".
quillon_rules() {
	ip -4 rule show | sed -n \
		-e 's/^5100:[[:space:]]*from all fwmark \(0x51[0-9a-f][0-9a-f]\) lookup main suppress_prefixlength 0[[:space:]]*$/5100 \1 main/p' \
		-e 's/^5101:[[:space:]]*from all fwmark \(0x51[0-9a-f][0-9a-f]\) lookup \(5[1-3][0-9][0-9]\)[[:space:]]*$/5101 \1 \2/p'
}

# Takes away the Quillon rules that this export does not make (all of them
# with "all"), and empties the tables they sent marks to.
drop_rules() {
	quillon_rules | while read -r priority mark table; do
		if [ "$1" != all ]; then
			case "$wanted" in *"|$priority $mark $table|"*) continue ;; esac
		fi
		if [ "$priority" = 5100 ]; then
			ip -4 rule del priority 5100 fwmark "$mark" lookup main suppress_prefixlength 0
		else
			ip -4 rule del priority 5101 fwmark "$mark" lookup "$table"
			ip -4 route flush table "$table" 2>/dev/null
		fi
	done
}

remove_all() {
	drop_rules all
	while read -r n gateway mark table; do
		[ -n "$n" ] || continue
		ip -4 route flush table "$table" 2>/dev/null
	done <<EOF
$LINES
EOF
	if nft list table inet quillon >/dev/null 2>&1; then
		nft delete table inet quillon || return 1
	fi
	return 0
}

# A step that failed: everything taken away again, and the reason.
undo() {
	remove_all
	say "$1; nothing of Quillon's is left in place" >&2
	exit 1
}

case "${1:-}" in
--remove) remove=1 ;;
'') remove=0 ;;
*)
	echo "usage: sh quillon-router.sh [--remove]" >&2
	exit 2
	;;
esac
for tool in ip nft sed; do
	command -v "$tool" >/dev/null 2>&1 || { say "$tool not found" >&2; exit 1; }
done
[ "$(id -u)" = 0 ] || { say "run me as root" >&2; exit 1; }

if [ "$remove" = 1 ]; then
	remove_all || { say "could not delete the table inet quillon" >&2; exit 1; }
	say "removed the rules, the tables' routes and the table inet quillon"
	say "take quillon-dnsmasq.conf out of dnsmasq's configuration and restart dnsmasq"
	exit 0
fi

# The routes first: a gateway the router cannot reach stops it before
# anything else changes.
while read -r n gateway mark table; do
	[ -n "$n" ] || continue
	ip -4 route replace default via "$gateway" table "$table" ||
		undo "line $n: no network of this router holds its gateway $gateway"
done <<EOF
$LINES
EOF
nft -f "$here/quillon.nft" || undo "nft could not load $here/quillon.nft"
drop_rules stale
while read -r n gateway mark table; do
	[ -n "$n" ] || continue
	rules=$(quillon_rules)
	case "$rules" in *"5100 $mark main"*) ;; *)
		ip -4 rule add priority 5100 fwmark "$mark" lookup main suppress_prefixlength 0 ||
			undo "could not add the rule for mark $mark"
		;;
	esac
	case "$rules" in *"5101 $mark $table"*) ;; *)
		ip -4 rule add priority 5101 fwmark "$mark" lookup "$table" ||
			undo "could not add the rule for mark $mark"
		;;
	esac
	dev=$(ip -4 route show table "$table" | sed -n 's/^default .* dev \([^ ]*\).*/\1/p')
	say "line $n: gateway $gateway on ${dev:-?}, mark $mark, table $table"
done <<EOF
$LINES
EOF
say "loaded $here/quillon.nft"
say "now include $here/quillon-dnsmasq.conf in dnsmasq's configuration"
say "(conf-file=$here/quillon-dnsmasq.conf, or a copy in /etc/dnsmasq.d/) and restart dnsmasq"
)SH";

std::string ScriptFile(const std::vector<Line>& lines) {
  std::string text = kScriptHead;
  for (std::size_t i = 0; i < lines.size(); ++i) text += LineComment(lines[i], i + 1, "# ");
  text += "\nset -u\n\n# Each line: number, gateway, mark, table.\nLINES='";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += (i ? "\n" : "") + std::to_string(i + 1) + " " + lines[i].gateway + " " + lines[i].mark + " " +
            lines[i].table;
  }
  return text + "'\n" + kScriptBody;
}

}  // namespace

bool IsPlainDnsName(std::string_view name) {
  return platform::HostNameLabels(name, false) >= 2 && name.find_first_not_of("0123456789.") != std::string_view::npos;
}

RouterExport MakeRouterExport(const std::vector<routing::SplitEntry>& entries) {
  RouterExport result;
  std::vector<Line> lines;
  std::unordered_map<std::string, int> lineOf;  // gateway -> index in `lines`
  struct Named {
    int line;
    std::size_t position;  // of the entry that wins it
  };
  std::unordered_map<std::string, Named> names;
  std::map<Prefix, int> networks;  // each network with the line of its last entry

  for (std::size_t position = 0; position < entries.size(); ++position) {
    const routing::SplitEntry& e = entries[position];
    if (e.status != routing::kEnabled || !platform::IsGatewayText(e.line) || HoldsBar(e)) continue;
    auto found = lineOf.find(e.line);
    if (found == lineOf.end()) {
      if (lines.size() == static_cast<std::size_t>(kRouterLines)) {
        ++result.skipped;
        continue;
      }
      const int n = static_cast<int>(lines.size()) + 1;
      lines.push_back({e.line, "line_" + std::to_string(n), Hex(kRouterMarkBase + n),
                       std::to_string(kRouterTableBase + n), {}, {}});
      found = lineOf.emplace(e.line, n - 1).first;
    }
    const int line = found->second;

    std::vector<Prefix> wanted;
    const platform::PrefixEntry prefix = platform::ReadPrefixEntry(e.destination);
    if (prefix.form == platform::PrefixEntry::Valid) {
      wanted.push_back(prefix.prefix);
    } else if (prefix.form != platform::PrefixEntry::NotAPrefix) {
      ++result.skipped;
      continue;
    } else if (const std::optional<Ipv4> address = platform::ParseIpv4(e.destination)) {
      wanted.push_back(platform::Network24(*address));
    } else if (IsPlainDnsName(e.destination)) {
      std::string name = e.destination;
      for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      names[name] = {line, position};
      continue;
    } else if (platform::IsSafeDestination(e.destination)) {
      for (const Ipv4 a : platform::AddressValues(platform::DestinationAddresses(e.destination))) {
        wanted.push_back(platform::Network24(a));
      }
    }
    bool any = false;
    for (const Prefix& p : wanted) {
      if (!platform::IsRoutablePrefix(p)) continue;
      networks[p] = line;
      any = true;
    }
    if (!any) ++result.skipped;
  }

  std::vector<std::pair<std::size_t, std::string>> byPosition;
  for (const auto& [name, named] : names) byPosition.emplace_back(named.position, name);
  std::sort(byPosition.begin(), byPosition.end());
  for (const auto& [position, name] : byPosition) lines[static_cast<std::size_t>(names[name].line)].names.push_back(name);
  AssignRanges(networks, lines);

  result.lines = static_cast<int>(lines.size());
  result.names = static_cast<int>(names.size());
  result.networks = static_cast<int>(networks.size());
  result.files = {DnsmasqFile(lines), NftFile(lines), ScriptFile(lines)};
  return result;
}

}  // namespace quillon::importing
