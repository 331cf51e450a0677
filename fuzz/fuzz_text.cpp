// The text services (platform/text) under both character rules, and the
// safety rules (platform/safety) on arbitrary bytes.
//
// Input: [0] flags (1 = GBK rule, else UTF-8; 2 = case-insensitive search),
// [1] start of the search (signed), [2] most pieces of the split (signed,
// negative: no limit), [3] length of the sought text / separator, then that
// text, then the text searched and split.
#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/safety.h"
#include "platform/text.h"

namespace {

using namespace quillon::platform;

[[noreturn]] void Fail(const char* what, int line) {
  std::fprintf(stderr, "fuzz_text: invariant failed at line %d: %s\n", line, what);
  std::abort();
}
#define CHECK(cond) \
  do {                                   \
    if (!(cond)) Fail(#cond, __LINE__);  \
  } while (false)

// Well-formed UTF-8 by the definition (Unicode table 3-7), byte by byte.
std::size_t ReferenceUtf8Length(std::string_view t, std::size_t pos) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(t[pos + k]); };
  const std::size_t left = t.size() - pos;
  const auto in = [](unsigned char x, unsigned lo, unsigned hi) { return x >= lo && x <= hi; };
  if (left == 0) return 0;
  if (b(0) <= 0x7F) return 1;
  if (in(b(0), 0xC2, 0xDF)) return left >= 2 && in(b(1), 0x80, 0xBF) ? 2 : 0;
  if (left < 3) return 0;
  if (b(0) == 0xE0) return in(b(1), 0xA0, 0xBF) && in(b(2), 0x80, 0xBF) ? 3 : 0;
  if (in(b(0), 0xE1, 0xEC) || in(b(0), 0xEE, 0xEF)) return in(b(1), 0x80, 0xBF) && in(b(2), 0x80, 0xBF) ? 3 : 0;
  if (b(0) == 0xED) return in(b(1), 0x80, 0x9F) && in(b(2), 0x80, 0xBF) ? 3 : 0;
  if (left < 4) return 0;
  const bool tail = in(b(2), 0x80, 0xBF) && in(b(3), 0x80, 0xBF);
  if (b(0) == 0xF0) return in(b(1), 0x90, 0xBF) && tail ? 4 : 0;
  if (in(b(0), 0xF1, 0xF3)) return in(b(1), 0x80, 0xBF) && tail ? 4 : 0;
  if (b(0) == 0xF4) return in(b(1), 0x80, 0x8F) && tail ? 4 : 0;
  return 0;
}

// The character starts of a text under a rule.
std::vector<bool> CharStarts(std::string_view text, CharRule rule) {
  std::vector<bool> starts(text.size() + 1, false);
  std::size_t pos = 0;
  while (pos < text.size()) {
    starts[pos] = true;
    const std::size_t len = CharLength(text, pos, rule);
    CHECK(len >= 1 && len <= text.size() - pos);
    if (rule == CharRule::Gbk) {
      CHECK(len == (static_cast<unsigned char>(text[pos]) < 0x80 ? 1 : std::min<std::size_t>(2, text.size() - pos)));
    } else {
      CHECK(len == std::max<std::size_t>(1, Utf8SequenceLength(text, pos)));
    }
    pos += len;
  }
  starts[text.size()] = true;
  return starts;
}

// A text whose characters, walked on their own, are whole: the same
// boundaries wherever it stands in a text at a character start.
bool WellFormed(std::string_view text, CharRule rule) {
  if (rule == CharRule::Utf8) return IsValidUtf8(text);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      if (i + 1 == text.size()) return false;
      ++i;
    }
  }
  return true;
}

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool FoldedEqualAt(std::string_view text, std::size_t pos, std::string_view sought) {
  if (text.size() - pos < sought.size()) return false;
  for (std::size_t k = 0; k < sought.size(); ++k) {
    if (Fold(text[pos + k]) != Fold(sought[k])) return false;
  }
  return true;
}

void CheckUtf8(std::string_view text) {
  bool valid = true;
  for (std::size_t pos = 0; pos <= text.size(); ++pos) {
    CHECK(Utf8SequenceLength(text, pos) == ReferenceUtf8Length(text, pos));
  }
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t len = ReferenceUtf8Length(text, pos);
    if (len == 0) {
      valid = false;
      break;
    }
    pos += len;
  }
  CHECK(IsValidUtf8(text) == valid);
}

void CheckFind(std::string_view text, std::string_view sought, int start, bool caseInsensitive, CharRule rule,
               const std::vector<bool>& starts) {
  const int found = TextFind(text, sought, start, caseInsensitive, rule);
  if (text.empty()) {
    CHECK(found == -1);
    return;
  }
  if (sought.empty()) {
    CHECK(found == 1);
    return;
  }
  const std::size_t from = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (found != -1) {
    CHECK(found >= 1 && static_cast<std::size_t>(found) <= text.size());
    const std::size_t at = static_cast<std::size_t>(found) - 1;
    CHECK(at >= from && starts[at]);
    CHECK(caseInsensitive ? FoldedEqualAt(text, at, sought) : text.compare(at, sought.size(), sought) == 0);
  }
  // Case-sensitive: the first character start at or after `from` where the
  // bytes occur.
  const int exact = caseInsensitive ? TextFind(text, sought, start, false, rule) : found;
  int first = -1;
  for (std::size_t pos = from; pos < text.size(); ++pos) {
    if (starts[pos] && text.compare(pos, sought.size(), sought) == 0) {
      first = static_cast<int>(pos) + 1;
      break;
    }
  }
  CHECK(exact == first);
  // Folding finds at least what the exact search finds, no later.
  if (caseInsensitive && exact != -1) CHECK(found != -1 && found <= exact);
}

void CheckSplit(std::string_view text, std::string_view separator, int maxPieces, CharRule rule,
                const std::vector<bool>& starts) {
  const std::vector<std::string> pieces = TextSplit(text, separator, maxPieces, rule);
  if (text.empty() || maxPieces == 0) {
    CHECK(pieces.empty());
    return;
  }
  if (separator.empty()) {
    CHECK(pieces.size() == 1 && pieces[0] == text);
    return;
  }
  CHECK(!pieces.empty());
  if (maxPieces > 0) CHECK(pieces.size() <= static_cast<std::size_t>(maxPieces));
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) joined.append(separator);
    joined += pieces[i];
  }
  // The pieces and separators make the text again: all of it without a
  // limit (a trailing separator's empty piece is not listed), else a prefix.
  CHECK(text.substr(0, joined.size()) == joined);
  const bool limited = maxPieces > 0 && pieces.size() == static_cast<std::size_t>(maxPieces);
  if (!limited) {
    CHECK(joined == text || joined + std::string(separator) == text);
  }
  // With a separator of whole characters, every piece starts at a character
  // start and holds no separator at any of its own.
  if (WellFormed(separator, rule)) {
    std::size_t at = 0;
    for (const std::string& piece : pieces) {
      CHECK(starts[at]);
      CHECK(TextFind(piece, separator, 1, false, rule) == -1);
      at += piece.size() + separator.size();
    }
  }
}

// Full-width digits, signs and the ideographic space in the rule's encoding.
std::string Widen(std::string_view ascii, CharRule rule) {
  std::string out;
  for (const char c : ascii) {
    const bool gbk = rule == CharRule::Gbk;
    if (c >= '0' && c <= '9') {
      out += gbk ? std::string{'\xA3', static_cast<char>(0xB0 + (c - '0'))}
                 : std::string{'\xEF', '\xBC', static_cast<char>(0x90 + (c - '0'))};
    } else if (c == '+') {
      out += gbk ? "\xA3\xAB" : "\xEF\xBC\x8B";
    } else if (c == '-') {
      out += gbk ? "\xA3\xAD" : "\xEF\xBC\x8D";
    } else if (c == ' ') {
      out += gbk ? "\xA1\xA1" : "\xE3\x80\x80";
    } else {
      out += c;
    }
  }
  return out;
}

void CheckInteger(std::string_view text, CharRule rule) {
  const int value = TextToInteger(text, rule);
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) return;
  // As strtoll reads it (the text up to a NUL), saturated to 32 bits.
  const std::string copy(text);
  errno = 0;
  const long long wide = std::strtoll(copy.c_str(), nullptr, 10);
  const long long clamped = std::clamp<long long>(wide, INT_MIN, INT_MAX);
  CHECK(value == clamped);
  CHECK(TextToInteger(Widen(text, rule), rule) == value);
  CHECK(TextToInteger(ToText(value), rule) == value);
}

void CheckSafety(std::string_view text, CharRule rule) {
  if (IsSafeDestination(text, rule)) {
    CHECK(!text.empty() && text.size() <= kDestinationLimit && text.front() != '-');
    for (const char c : text) {
      const auto b = static_cast<unsigned char>(c);
      CHECK(b > 0x20 && b != 0x7F);
      CHECK(std::strchr("&|<>^\"%!();,='`\\$*{} ", c) == nullptr);
    }
    CHECK(WellFormed(text, rule));
  }
  // A gateway is what the system's own parser reads as an address and
  // prints back the same, in the unicast ranges a line can be.
  const std::string copy(text);
  in_addr address{};
  const bool parsed = copy.find('\0') == std::string::npos && inet_pton(AF_INET, copy.c_str(), &address) == 1;
  char back[INET_ADDRSTRLEN] = {};
  const bool roundTrip = parsed && inet_ntop(AF_INET, &address, back, sizeof back) != nullptr && copy == back;
  const unsigned first = roundTrip ? ntohl(address.s_addr) >> 24 : 0;
  const unsigned last = roundTrip ? ntohl(address.s_addr) & 0xFF : 1;
  const bool gateway = roundTrip && first != 0 && first != 127 && first < 224;
  CHECK(IsGatewayText(text) == gateway);
  CHECK(IsNetworkText(text) == (gateway && last == 0));
  const bool metric = !text.empty() && text.size() <= 4 &&
                      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  CHECK(IsMetricText(text) == metric);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const CharRule rule = (data[0] & 1) ? CharRule::Gbk : CharRule::Utf8;
  const bool caseInsensitive = (data[0] & 2) != 0;
  const int start = static_cast<std::int8_t>(data[1]);
  const int maxPieces = static_cast<std::int8_t>(data[2]);
  const std::string_view rest(reinterpret_cast<const char*>(data) + 4, size - 4);
  const std::string_view sought = rest.substr(0, std::min<std::size_t>(data[3], rest.size()));
  const std::string_view text = rest.substr(sought.size());

  CheckUtf8(text);
  const std::vector<bool> starts = CharStarts(text, rule);
  CheckFind(text, sought, start, caseInsensitive, rule, starts);
  CheckSplit(text, sought, maxPieces, rule, starts);
  CheckSplit(text, sought, -1, rule, starts);
  CheckInteger(text, rule);
  CheckSafety(text, rule);
  CheckSafety(sought, rule);
  return 0;
}
