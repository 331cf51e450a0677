#include "platform/text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>

namespace quillon::platform {
namespace {

using Pieces = std::vector<std::string>;
constexpr CharRule kGbk = CharRule::Gbk;
constexpr CharRule kUtf8 = CharRule::Utf8;

// "中" in GBK is D6 D0; "文" is CE C4; "螺" is C2 DD.  "中" in UTF-8 is E4 B8 AD.

TEST(TextFind, CountsBytePositionsFromOne) {
  EXPECT_EQ(TextFind("abcabc", "c", 1, false, kGbk), 3);
  EXPECT_EQ(TextFind("abcabc", "c", 4, false, kGbk), 6);
  EXPECT_EQ(TextFind("abcabc", "x", 1, false, kGbk), -1);
  EXPECT_EQ(TextFind("abc", "c", 9, false, kGbk), -1);
  EXPECT_EQ(TextFind("abc", "a", 0, false, kGbk), 1) << "a start below 1 counts as 1";
  EXPECT_EQ(TextFind("\xD6\xD0\xCE\xC4|x|", "|x|", 1, false, kGbk), 5);
  EXPECT_EQ(TextFind("\xE4\xB8\xAD|x|", "|x|", 1, false, kUtf8), 4);
}

TEST(TextFind, EmptySoughtText) {
  EXPECT_EQ(TextFind("abc", "", 1, false, kGbk), 1);
  EXPECT_EQ(TextFind("", "", 1, false, kGbk), -1);
  EXPECT_EQ(TextFind("", "a", 1, false, kGbk), -1);
}

TEST(TextFind, NeverMatchesInsideADoubleByteCharacter) {
  // 0xDD is the trail byte of GBK "螺" (C2 DD); "\xDD" alone must not be found there.
  EXPECT_EQ(TextFind("\xC2\xDD", "\xDD", 1, false, kGbk), -1);
  // The trail byte of GBK "\x81\x41" is 'A': an ASCII search must step over it.
  EXPECT_EQ(TextFind("\x81\x41" "A", "A", 1, false, kGbk), 3);
  // Across a boundary: "\xD0\xCE" spans the end of 中 and the start of 文.
  EXPECT_EQ(TextFind("\xD6\xD0\xCE\xC4", "\xD0\xCE", 1, false, kGbk), -1);
  // A start inside a character does not make its trail byte a start.
  EXPECT_EQ(TextFind("\x81\x41" "A", "A", 2, false, kGbk), 3);
  // UTF-8: a continuation byte is never a start.
  EXPECT_EQ(TextFind("\xE4\xB8\xAD", "\xB8\xAD", 1, false, kUtf8), -1);
}

TEST(TextFind, CaseInsensitiveFoldsAsciiOnly) {
  EXPECT_EQ(TextFind("xHeLLo", "hello", 1, true, kGbk), 2);
  EXPECT_EQ(TextFind("xHeLLo", "hello", 1, false, kGbk), -1);
  // The trail byte 'A' of a double-byte character is not folded into 'a'.
  EXPECT_EQ(TextFind("\x81\x61", "\x81\x41", 1, true, kGbk), -1);
}

TEST(TextSplit, PiecesBetweenSeparators) {
  EXPECT_EQ(TextSplit("a;b;", ";", -1, kGbk), (Pieces{"a", "b"})) << "no trailing empty piece";
  EXPECT_EQ(TextSplit(";a", ";", -1, kGbk), (Pieces{"", "a"}));
  EXPECT_EQ(TextSplit("a;;b", ";", -1, kGbk), (Pieces{"a", "", "b"}));
  EXPECT_EQ(TextSplit("a|b||", "|", -1, kGbk), (Pieces{"a", "b", ""}));
  EXPECT_EQ(TextSplit(";", ";", -1, kGbk), (Pieces{""}));
  EXPECT_TRUE(TextSplit("", ";", -1, kGbk).empty());
  EXPECT_EQ(TextSplit("a;b", "", -1, kGbk), (Pieces{"a;b"}));
  EXPECT_EQ(TextSplit("a<>b<>c", "<>", -1, kGbk), (Pieces{"a", "b", "c"}));
}

TEST(TextSplit, MaximumNumberOfPieces) {
  EXPECT_EQ(TextSplit("a;b;c", ";", 2, kGbk), (Pieces{"a", "b"}));
  EXPECT_TRUE(TextSplit("a;b;c", ";", 0, kGbk).empty());
  EXPECT_EQ(TextSplit("a;b;c", ";", 9, kGbk), (Pieces{"a", "b", "c"}));
}

TEST(TextSplit, StepsOverDoubleByteCharacters) {
  // "|" (0x7C) is a valid GBK trail byte: "\x81\x7C" is one character.
  EXPECT_EQ(TextSplit("\x81\x7C|b", "|", -1, kGbk), (Pieces{"\x81\x7C", "b"}));
  EXPECT_EQ(TextSplit("\xE4\xB8\xAD;\xE6\x96\x87", ";", -1, kUtf8), (Pieces{"\xE4\xB8\xAD", "\xE6\x96\x87"}));
}

TEST(TextToInteger, LeadingDigitsAfterBlanksAndSign) {
  EXPECT_EQ(TextToInteger("  120abc", kGbk), 120);
  EXPECT_EQ(TextToInteger("-42x", kGbk), -42);
  EXPECT_EQ(TextToInteger("+7", kGbk), 7);
  EXPECT_EQ(TextToInteger("abc120", kGbk), 0);
  EXPECT_EQ(TextToInteger("", kGbk), 0);
  EXPECT_EQ(TextToInteger("- 5", kGbk), 0);
  EXPECT_EQ(TextToInteger(55), 55);
}

TEST(TextToInteger, FullWidthDigitsAndSignsCountAsAscii) {
  EXPECT_EQ(TextToInteger("\xA3\xB1\xA3\xB2\xA3\xB0", kGbk), 120);             // １２０ in GBK
  EXPECT_EQ(TextToInteger("\xA3\xAD\xA3\xB5", kGbk), -5);                      // －５ in GBK
  EXPECT_EQ(TextToInteger("\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x90", kUtf8), 120);  // １２０ in UTF-8
  EXPECT_EQ(TextToInteger("\xEF\xBC\x8D" "3", kUtf8), -3);
  // A GBK trail byte that looks like a digit is not a digit.
  EXPECT_EQ(TextToInteger("\x81\x31", kGbk), 0);
}

TEST(TextToInteger, SaturatesInsteadOfOverflowing) {
  EXPECT_EQ(TextToInteger("2147483647", kGbk), INT_MAX);
  EXPECT_EQ(TextToInteger("2147483648", kGbk), INT_MAX);
  EXPECT_EQ(TextToInteger("99999999999999999999999999999999", kGbk), INT_MAX);
  EXPECT_EQ(TextToInteger("-2147483648", kGbk), INT_MIN);
  EXPECT_EQ(TextToInteger("-99999999999999999999999", kGbk), INT_MIN);
}

TEST(ToText, BytesUpToTheFirstNulAndNumbers) {
  EXPECT_EQ(ToText(ByteArray("ab\0cd", 5)), "ab");
  EXPECT_EQ(ToText(ByteArray()), "");
  EXPECT_EQ(ToText(ByteArray("\0", 1)), "");
  EXPECT_EQ(ToText(-17), "-17");
}

TEST(RegexFindAll, NonOverlappingMatchesLeftToRight) {
  const std::string ip =
      "((2(5[0-5]|[0-4]\\d))|[0-1]?\\d{1,2})(\\.((2(5[0-5]|[0-4]\\d))|[0-1]?\\d{1,2})){3}";
  EXPECT_EQ(RegexFindAll(ip, "Address: 198.51.100.7\r\nAddresses: 203.0.113.5\r\n\t 203.0.113.9"),
            (Pieces{"198.51.100.7", "203.0.113.5", "203.0.113.9"}));
  // The first alternative that leads to a match wins, not the longest.
  EXPECT_EQ(RegexFindAll(ip, "1.2.3.456"), (Pieces{"1.2.3.45"}));
  EXPECT_EQ(RegexFindAll("a+", "aa-a-aaa"), (Pieces{"aa", "a", "aaa"}));
  EXPECT_EQ(RegexFindAll("ab", "ABab"), (Pieces{"ab"})) << "case-sensitive";
  EXPECT_EQ(RegexFindAll("x*", "ab").size(), 3u) << "empty matches end without looping";
}

TEST(RegexFindAll, EmptyTextOrBadPatternGiveNothing) {
  EXPECT_TRUE(RegexFindAll("a", "").empty());
  EXPECT_TRUE(RegexFindAll("(unclosed", "unclosed").empty());
  EXPECT_TRUE(RegexFindAll("[z-a]", "abc").empty());
}

TEST(RegexFindAll, ManyShortThreadsAtOnce) {
  // As add workers do: threads that match once and end. The first ones
  // fill the regex library's shared caches at the same time (the linux-tsan
  // preset checks the locking), and a thread's end must leave the heap whole
  // (thread_local objects with destructors do not, with mingw-w64).
  std::atomic<int> right{0};
  for (int round = 0; round < 20; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
      threads.emplace_back([&] { right += RegexFindAll("[0-9]+", "a1b22") == Pieces{"1", "22"} ? 1 : 0; });
    }
    for (auto& t : threads) t.join();
  }
  EXPECT_EQ(right, 20 * 16);
}

}  // namespace
}  // namespace quillon::platform
