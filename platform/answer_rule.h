// The answer rules: which IPv4 addresses a lookup of a destination gave, read
// from what the Windows lookup tool prints. Pure functions, the same on every
// build (the fuzz targets run them with both character rules).
#pragma once

#include <string>
#include <vector>

#include "platform/ipv4.h"

namespace quillon::platform {

// The address pattern (Perl syntax).
inline constexpr char kAddressPattern[] =
    R"(((2(5[0-5]|[0-4]\d))|[0-1]?\d{1,2})(\.((2(5[0-5]|[0-4]\d))|[0-1]?\d{1,2})){3})";

struct AnswerAddresses {
  bool answered = false;               // the output (after the IP marker rule) holds an answer marker
  std::vector<std::string> addresses;  // matches of the address pattern in the answer, in order
  bool operator==(const AnswerAddresses&) const = default;
};

// When the destination holds an IPv4 address, the IP marker "输入IP名称" and
// the destination are appended to the output, so that address counts even
// when the lookup printed no answer. The answer marker is "名称" (the label
// the lookup tool prints in front of the answer's name; on an English system,
// where the output holds no "名称", the label "Name:"). The answer is the text
// between its first and second occurrence (or the end); everything before
// it, the DNS server's own address included, is never used.
AnswerAddresses ReadLookupOutput(const std::string& output, const std::string& destination);

// The addresses of the pattern in the destination itself: what the IP marker
// rule gives when a lookup found nothing.
std::vector<std::string> DestinationAddresses(const std::string& destination);

// The matches that are dotted addresses as ParseIpv4 takes them, in order
// ("010.1.2.3" matches the pattern, but names no address to route).
std::vector<Ipv4> AddressValues(const std::vector<std::string>& matches);

}  // namespace quillon::platform
