#include "platform/ipv4.h"

#include <charconv>

namespace quillon::platform {

namespace {

// The decimal text of `value` (at most 11 bytes) at `at`; where it ends.
// Octets and prefix lengths, the numbers written by the million, take the
// short way.
char* PutNumber(char* at, int value) {
  if (value < 0 || value > 999) return std::to_chars(at, at + 11, value).ptr;
  if (value >= 100) *at++ = static_cast<char>('0' + value / 100);
  if (value >= 10) *at++ = static_cast<char>('0' + value / 10 % 10);
  *at++ = static_cast<char>('0' + value % 10);
  return at;
}

// A decimal number of one to `maxDigits` digits without a leading zero, at
// text[i]; advances i. -1 when there is none.
int ReadNumber(std::string_view text, std::size_t& i, std::size_t maxDigits) {
  const std::size_t start = i;
  int value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < maxDigits) {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  const std::size_t digits = i - start;
  if (digits == 0 || (digits > 1 && text[start] == '0')) return -1;
  return value;
}

// A dotted address at the start of `text`; `end` is where it stops.
std::optional<Ipv4> ReadIpv4(std::string_view text, std::size_t& end) {
  Ipv4 address = 0;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
    const int value = ReadNumber(text, i, 3);
    if (value < 0 || value > 255) return std::nullopt;
    address = address << 8 | static_cast<Ipv4>(value);
  }
  end = i;
  return address;
}

}  // namespace

std::optional<Ipv4> ParseIpv4(std::string_view text) {
  std::size_t end = 0;
  const std::optional<Ipv4> address = ReadIpv4(text, end);
  if (!address || end != text.size()) return std::nullopt;
  return address;
}

std::string Ipv4Text(Ipv4 a) {
  char text[15];
  return std::string(text, PutIpv4Text(text, a));
}

char* PutIpv4Text(char* at, Ipv4 a) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    at = PutNumber(at, static_cast<int>(a >> shift & 0xFF));
    if (shift > 0) *at++ = '.';
  }
  return at;
}

Ipv4 MaskOf(int length) {
  if (length <= 0) return 0;
  if (length >= 32) return 0xFFFFFFFFu;
  return ~((Ipv4{1} << (32 - length)) - 1);
}

std::string MaskText(int length) { return Ipv4Text(MaskOf(length)); }

bool Prefix::Overlaps(const Prefix& other) const {
  const int shorter = length < other.length ? length : other.length;
  return ((network ^ other.network) & MaskOf(shorter)) == 0;
}

std::string PrefixText(const Prefix& p) {
  char text[27];
  return std::string(text, PutPrefixText(text, p));
}

char* PutPrefixText(char* at, const Prefix& p) {
  at = PutIpv4Text(at, p.network);
  *at++ = '/';
  return PutNumber(at, p.length);
}

PrefixEntry ReadPrefixEntry(std::string_view destination) {
  PrefixEntry entry;
  std::size_t i = 0;
  const std::optional<Ipv4> address = ReadIpv4(destination, i);
  if (!address || i >= destination.size() || destination[i] != '/') return entry;
  ++i;
  const int length = ReadNumber(destination, i, 2);
  if (length < 0 || length > 32 || i != destination.size()) return entry;
  entry.prefix = Prefix{*address & MaskOf(length), length};
  if (length < 8) {
    entry.form = PrefixEntry::TooShort;
  } else if (entry.prefix.network != *address) {
    entry.form = PrefixEntry::HostBitsSet;
  } else {
    entry.form = PrefixEntry::Valid;
  }
  return entry;
}

}  // namespace quillon::platform
