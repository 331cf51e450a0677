#include "platform/text.h"

#include <boost/regex.hpp>
#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace quillon::platform {

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Does `sought` match `text` at byte offset `pos` (a character start)?
bool MatchesAt(std::string_view text, std::size_t pos, std::string_view sought,
               bool caseInsensitive, CharRule rule) {
  if (text.size() - pos < sought.size()) return false;
  if (!caseInsensitive) return text.compare(pos, sought.size(), sought) == 0;
  std::size_t k = 0;
  while (k < sought.size()) {
    const std::size_t len = CharLength(sought, k, rule);
    if (len == 1) {
      if (FoldAscii(text[pos + k]) != FoldAscii(sought[k])) return false;
    } else if (text.compare(pos + k, len, sought.substr(k, len)) != 0) {
      return false;
    }
    k += len;
  }
  return true;
}

// Replaces full-width digits, signs and the ideographic space by their ASCII
// forms, keeping every other character as it is.
std::string NarrowDigitsAndSigns(std::string_view text, CharRule rule) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t len = CharLength(text, i, rule);
    const auto b0 = static_cast<unsigned char>(text[i]);
    char mapped = 0;
    if (rule == CharRule::Gbk && len == 2) {
      const auto b1 = static_cast<unsigned char>(text[i + 1]);
      if (b0 == 0xA3 && b1 >= 0xB0 && b1 <= 0xB9) mapped = static_cast<char>('0' + (b1 - 0xB0));
      if (b0 == 0xA3 && b1 == 0xAB) mapped = '+';
      if (b0 == 0xA3 && b1 == 0xAD) mapped = '-';
      if (b0 == 0xA1 && b1 == 0xA1) mapped = ' ';
    } else if (rule == CharRule::Utf8 && len == 3) {
      const auto b1 = static_cast<unsigned char>(text[i + 1]);
      const auto b2 = static_cast<unsigned char>(text[i + 2]);
      if (b0 == 0xEF && b1 == 0xBC && b2 >= 0x90 && b2 <= 0x99) mapped = static_cast<char>('0' + (b2 - 0x90));
      if (b0 == 0xEF && b1 == 0xBC && b2 == 0x8B) mapped = '+';
      if (b0 == 0xEF && b1 == 0xBC && b2 == 0x8D) mapped = '-';
      if (b0 == 0xE3 && b1 == 0x80 && b2 == 0x80) mapped = ' ';
    }
    if (mapped != 0) {
      out.push_back(mapped);
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) return 1;
  std::size_t len = 0;
  if (lead >= 0xC2 && lead <= 0xDF) len = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) len = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) len = 4;
  if (len == 0 || len > text.size() - pos) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(text[pos + k]) & 0xC0) != 0x80) return 0;
  }
  // The second byte rules out overlong forms, surrogates and values past U+10FFFF.
  const auto second = static_cast<unsigned char>(text[pos + 1]);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return len;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t len = Utf8SequenceLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::size_t CharLength(std::string_view text, std::size_t pos, CharRule rule) {
  const std::size_t left = text.size() - pos;
  if (left <= 1) return left == 0 ? 0 : 1;
  if (static_cast<unsigned char>(text[pos]) < 0x80) return 1;
  if (rule == CharRule::Gbk) return 2;
  // A byte that starts no well-formed sequence is a character of its own.
  const std::size_t len = Utf8SequenceLength(text, pos);
  return len == 0 ? 1 : len;
}

int TextFind(std::string_view text, std::string_view sought, int start, bool caseInsensitive,
             CharRule rule) {
  if (text.empty()) return -1;
  if (sought.empty()) return 1;
  const std::size_t from = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (pos >= from && MatchesAt(text, pos, sought, caseInsensitive, rule)) {
      return static_cast<int>(pos) + 1;
    }
    pos += CharLength(text, pos, rule);
  }
  return -1;
}

std::vector<std::string> TextSplit(std::string_view text, std::string_view separator,
                                   int maxPieces, CharRule rule) {
  std::vector<std::string> pieces;
  if (text.empty() || maxPieces == 0) return pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  const auto full = [&] { return maxPieces > 0 && pieces.size() >= static_cast<std::size_t>(maxPieces); };
  std::size_t pieceStart = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (MatchesAt(text, pos, separator, false, rule)) {
      pieces.emplace_back(text.substr(pieceStart, pos - pieceStart));
      if (full()) return pieces;
      pos += separator.size();
      pieceStart = pos;
    } else {
      pos += CharLength(text, pos, rule);
    }
  }
  if (pieceStart < text.size()) pieces.emplace_back(text.substr(pieceStart));
  return pieces;
}

int TextToInteger(std::string_view text, CharRule rule) {
  const std::string narrow = NarrowDigitsAndSigns(text, rule);
  std::size_t i = 0;
  while (i < narrow.size() && (narrow[i] == ' ' || (narrow[i] >= '\t' && narrow[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < narrow.size() && (narrow[i] == '+' || narrow[i] == '-')) {
    negative = narrow[i] == '-';
    ++i;
  }
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  for (; i < narrow.size() && narrow[i] >= '0' && narrow[i] <= '9'; ++i) {
    value = value * 10 + (narrow[i] - '0');
    if (value >= limit) {
      value = limit;  // saturate; the rest of the digits cannot lower it
    }
  }
  return static_cast<int>(negative ? -value : value);
}

std::string ToText(const ByteArray& bytes) { return bytes.substr(0, bytes.find('\0')); }

std::string ToText(int number) { return std::to_string(number); }

namespace {

// A routing pass matches the same pattern thousands of times, so compiled
// patterns are kept, one set for all threads: a compiled regex may be
// matched from many threads at once. Not kept per thread: with mingw-w64 a
// thread_local object's storage is freed before its destructor runs at the
// thread's end, so every worker that had compiled a pattern corrupted the
// heap as it ended. Never destroyed, since a detached worker may still be
// matching while the process ends. Throws for a pattern that does not
// compile.
std::shared_ptr<const boost::regex> Compiled(const std::string& pattern) {
  constexpr std::size_t kKept = 16;  // the program uses a handful of patterns
  static auto* lock = new std::mutex;
  static auto* kept = new std::map<std::string, std::shared_ptr<const boost::regex>>;
  std::lock_guard<std::mutex> hold(*lock);
  if (const auto it = kept->find(pattern); it != kept->end()) return it->second;
  auto compiled = std::make_shared<const boost::regex>(pattern, boost::regex::perl);
  if (kept->size() >= kKept) kept->clear();
  kept->emplace(pattern, compiled);
  return compiled;
}

}  // namespace

std::vector<std::string> RegexFindAll(const std::string& pattern, const std::string& text) {
  std::vector<std::string> found;
  if (text.empty()) return found;
  try {
    const std::shared_ptr<const boost::regex> compiled = Compiled(pattern);
    const boost::regex& re = *compiled;
    auto begin = text.cbegin();
    const auto end = text.cend();
    auto flags = boost::match_default;
    boost::smatch m;
    while (begin <= end && boost::regex_search(begin, end, m, re, flags)) {
      found.push_back(m.str(0));
      if (m[0].first == m[0].second) {
        if (m[0].second == end) break;
        begin = m[0].second + 1;  // an empty match: step on so the search ends
      } else {
        begin = m[0].second;
      }
      flags = flags | boost::match_prev_avail;
    }
  } catch (const std::exception&) {
    // A pattern that does not compile gives nothing; a search that gives up
    // (too complex) keeps what was found before.
  }
  return found;
}

}  // namespace quillon::platform
