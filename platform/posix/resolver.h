// Lookups of many host names at once through c-ares, with the system
// resolver's configuration (resolv.conf: servers, search list, options
// timeout, attempts and ndots; the hosts file and DNS in the order of
// nsswitch.conf's hosts line) and each answer's TTL. Linux backend only.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/lookup.h"

namespace quillon::platform {

// Questions in flight at once in this process; calls running at the same
// time share them evenly. Enough to keep a resolver busy (a local dnsmasq
// answers as fast with 64 as with 512; a server 20 ms away gets 6,400 a
// second); few enough that the server's receive queue does not overflow:
// a dnsmasq with the kernel's default buffer (208 KiB) dropped questions at
// 256 in flight, and a lost question costs its name a whole timeout, or its
// answer. Memory stays small for any batch size.
inline constexpr std::size_t kLookupsInFlight = 128;

// Looks up every name's IPv4 addresses; one result per name, in the same
// order. The lookups run concurrently on the calling thread through a
// resolver channel of this call alone, so several threads may call at
// once. resolv.conf, nsswitch.conf and the hosts file are read at each call.
//
// A name that fails IsSafeDestination gets started = false and is not
// asked. A dotted IPv4 address answers itself (TTL 0). Otherwise
// started = true; answered = the resolver found the name (a name unknown to
// the server, one without IPv4 addresses, or a server that does not answer
// gives false); addresses in the answer's order, each once; ttl = the
// smallest TTL of the answer's A records and of the CNAME records that led
// to them, 0 for an answer from the hosts file. When no resolver channel
// can be made at all, started is false for every name that needed one.
std::vector<Lookup> ResolveAll(const std::vector<std::string>& names);

// One name, as ResolveAll gives it.
Lookup Resolve(const std::string& name);

// Every name a hosts file at `path` may answer for, in ASCII lower case:
// each word after the first (the address) on a line, up to a '#' or a NUL
// byte, whatever its address. False when the file cannot be read.
bool ReadHostsNames(const std::string& path, std::unordered_set<std::string>& names);
// Whether c-ares may answer `name` from a hosts file of `names` (it is one
// of them, ignoring ASCII case and one trailing dot, or a "localhost" name
// that c-ares answers by itself). False only where the file cannot hold it.
bool MayBeHostsName(const std::string& name, const std::unordered_set<std::string>& names);

}  // namespace quillon::platform
