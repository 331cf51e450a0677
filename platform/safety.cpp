#include "platform/safety.h"

namespace quillon::platform {

bool IsGatewayText(std::string_view text) {
  int octets[4] = {};
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    const std::size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    const std::size_t digits = i - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
    octets[parts++] = value;
    if (i == text.size()) break;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
  if (parts != 4) return false;
  return octets[0] != 0 && octets[0] != 127 && octets[0] < 224;
}

bool IsGatewayAddress(Ipv4 address) {
  const Ipv4 first = address >> 24;
  return first != 0 && first != 127 && first < 224;
}

bool IsRoutablePrefix(const Prefix& prefix) {
  return prefix.length >= 8 && prefix.length <= 32 && (prefix.network & ~MaskOf(prefix.length)) == 0 &&
         IsGatewayAddress(prefix.network);
}

bool IsMetricText(std::string_view text) {
  if (text.empty() || text.size() > 4) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsNetworkText(std::string_view text) {
  return IsGatewayText(text) && text.size() >= 2 && text.substr(text.size() - 2) == ".0";
}

namespace {

bool IsSafeAsciiInDestination(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '.': case '-': case '_': case ':': case '/': case '?': case '#': case '@': case '~': case '+':
    case '[': case ']':
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsSafeDestination(std::string_view text, CharRule rule) {
  if (text.empty() || text.size() > kDestinationLimit || text.front() == '-') return false;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      if (!IsSafeAsciiInDestination(text[i])) return false;
      ++i;
      continue;
    }
    // A whole, well-formed multi-byte character whose bytes are all outside
    // ASCII: no tool can mistake any of them for a special character.
    std::size_t len = 0;
    if (rule == CharRule::Utf8) {
      len = Utf8SequenceLength(text, i);
    } else if (lead >= 0x81 && lead <= 0xFE && i + 1 < text.size()) {
      const auto trail = static_cast<unsigned char>(text[i + 1]);
      if (trail >= 0x80 && trail <= 0xFE) len = 2;
    }
    if (len < 2) return false;
    i += len;
  }
  return true;
}

int HostNameLabels(std::string_view name, bool wide) {
  if (name.empty() || name.size() > 253) return 0;
  int labels = 0;
  for (std::size_t start = 0; start <= name.size(); ++labels) {
    std::size_t end = name.find('.', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view label = name.substr(start, end - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return 0;
    for (const char c : label) {
      const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
      if (!plain && !(wide && (c == '_' || static_cast<unsigned char>(c) >= 0x80))) return 0;
    }
    start = end + 1;
  }
  return labels;
}

}  // namespace quillon::platform
