// Pure text services: the same on every build. Texts are std::string bytes in
// the system code page; every search and split steps over whole characters of
// that code page (the GBK double-byte rule, or UTF-8 sequences).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform {

// A counted sequence of bytes (file contents, an HTTP body). May hold NULs.
using ByteArray = std::string;

enum class CharRule {
  Gbk,   // a byte of 0x80 or above starts a two-byte character
  Utf8,  // a lead byte and its continuation bytes form one character
};

// The character rule of the system code page of this build (GBK on Windows,
// UTF-8 on Linux). Defined by the backend that CMake picks.
CharRule SystemCharRule();

// Length in bytes of the well-formed UTF-8 sequence that starts at
// text[pos] (1 to 4; no overlong forms, no surrogates, nothing past
// U+10FFFF), or 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);
// Whether the whole text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// Length in bytes of the character that starts at text[pos] (1 at least, and
// never past the end of the text).
std::size_t CharLength(std::string_view text, std::size_t pos, CharRule rule);

// 1-based byte position of the first occurrence of `sought` at or after
// `start`, or -1. Matches only at character starts. An empty `sought` gives 1
// in a non-empty text and -1 in the empty text. The case-insensitive flag
// folds ASCII letters only.
int TextFind(std::string_view text, std::string_view sought, int start = 1,
             bool caseInsensitive = false, CharRule rule = SystemCharRule());

// Pieces between separators, in order. An empty piece before the first or
// between two separators counts; the remainder after the last separator is
// appended only when it is not empty. An empty text gives no pieces; an empty
// separator gives the whole text as one piece. A negative `maxPieces` means no
// limit.
std::vector<std::string> TextSplit(std::string_view text, std::string_view separator,
                                   int maxPieces = -1, CharRule rule = SystemCharRule());

// Full-width digits and signs become ASCII, leading blanks are skipped, then
// an optional sign and the digits up to the first non-digit are read. No
// digits give 0; a value past the 32-bit range saturates at its limit.
int TextToInteger(std::string_view text, CharRule rule = SystemCharRule());
inline int TextToInteger(int number) { return number; }

// Bytes up to the first NUL.
std::string ToText(const ByteArray& bytes);
std::string ToText(const char* bytes) = delete;  // say which one is meant
std::string ToText(int number);

// Every non-overlapping match of a Perl-syntax, case-sensitive pattern, left
// to right; each search starts where the previous whole match ended and the
// search stops at the first failure. An empty text or a pattern that does not
// compile gives an empty list.
std::vector<std::string> RegexFindAll(const std::string& pattern, const std::string& text);

}  // namespace quillon::platform
