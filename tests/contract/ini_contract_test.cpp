// The INI services of the build's System backend: the private-profile
// functions on Windows (under Wine here), the Linux engine natively. Both
// must give exactly these results.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/contract/contract_support.h"

namespace quillon {
namespace {

using Names = std::vector<std::string>;

// 中文 (a section name) and 备注 (a value) in the system code page: the
// Windows build compiles these literals to GBK bytes, the Linux build keeps
// them UTF-8. And two GBK characters that differ only in a second byte that
// is an ASCII letter (0x81 0x41, 0x81 0x61).
const std::string kChinese = "中文";
const std::string kNote = "备注";
const std::string kTrailUpper = "\x81\x41";
const std::string kTrailLower = "\x81\x61";

class IniContract : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return dir_.Path() + system_->PathSeparator() + name; }
  std::string Seed(const std::string& name, const std::string& bytes) const {
    const std::string path = PathOf(name);
    EXPECT_TRUE(contract::WriteBytes(path, bytes)) << path;
    return path;
  }
  std::string Read(const std::string& file, const std::string& section, const std::string& key) const {
    return system_->IniRead(file, section, key, "<fallback>");
  }

  contract::TempDir dir_;
  std::unique_ptr<platform::System> system_ = contract::MakeBackend(dir_.Path());
};

TEST_F(IniContract, SectionAndKeyNamesMatchWithoutRegardToCaseOrSurroundingBlanks) {
  const std::string file = Seed("names.ini",
                                "[Sec]\r\n"
                                "  Key  =  v  s  \r\n"
                                "\tTabbed\t=\tt\t\r\n"
                                "key with blanks = kb\r\n");
  EXPECT_EQ(Read(file, "sec", "KEY"), "v  s");
  EXPECT_EQ(Read(file, "  Sec  ", "  kEy  "), "v  s");
  EXPECT_EQ(Read(file, "Sec", "tabbed"), "t");
  EXPECT_EQ(Read(file, "Sec", "key with blanks"), "kb");
  EXPECT_EQ(Read(file, "Sec", "key  with blanks"), "<fallback>");

  ASSERT_TRUE(system_->IniWrite(file, "SEC", "KEY", "new"));
  EXPECT_EQ(Read(file, "Sec", "Key"), "new");
  EXPECT_EQ(system_->IniSections(file), Names{"Sec"});
}

TEST_F(IniContract, AWriteOfManyValuesLeavesWhatTheWritesOneByOneLeave) {
  const std::string seed = "[a]\r\nxl=1\r\n\r\n[b]\r\nzt=2\r\n";
  const std::string one = Seed("one.ini", seed);
  const std::string many = Seed("many.ini", seed);
  const std::vector<platform::System::IniValue> values = {
      {"b", "xl", "3"}, {"c", "xl", "4"}, {"c", "bz", kNote}, {"A", "XL", "5"}, {"c", "zt", "1"}, {"c", "bz", ""}};
  for (const auto& v : values) ASSERT_TRUE(system_->IniWrite(one, v.section, v.key, v.value));
  const std::vector<bool> all(values.size(), true);
  ASSERT_EQ(system_->IniWriteMany(many, values), all);
  EXPECT_EQ(contract::ReadBytes(many), contract::ReadBytes(one));
  ASSERT_EQ(system_->IniWriteMany(PathOf("new.ini"), values), all);
  EXPECT_EQ(Read(PathOf("new.ini"), "c", "xl"), "4");

  // A line break in any value refuses the whole batch.
  const std::string before = contract::ReadBytes(many);
  EXPECT_EQ(system_->IniWriteMany(many, {{"d", "xl", "1"}, {"e", "bz", "x\r\ny"}}), (std::vector<bool>{false, false}));
  EXPECT_EQ(contract::ReadBytes(many), before);

  // Read back section by section, the values are those of the reads key by key.
  const std::vector<std::string> keys{"xl", "zt", "bz", "none"};
  const auto records = system_->IniReadKeys(many, keys);
  ASSERT_EQ(records.size(), system_->IniSections(many).size());
  for (const auto& r : records) {
    for (std::size_t k = 0; k < keys.size(); ++k) EXPECT_EQ(r.values[k], system_->IniRead(many, r.section, keys[k])) << r.section;
  }
}

TEST_F(IniContract, OneMatchingPairOfQuotesIsDroppedOnRead) {
  const std::string file = Seed("quotes.ini",
                                "[Q]\r\n"
                                "double=\"quoted\"\r\n"
                                "single='quoted'\r\n"
                                "inside= \"  kept blanks  \"  \r\n"
                                "open=\"open\r\n"
                                "close=close\"\r\n"
                                "mixed=\"a'\r\n"
                                "outer=\"a\" b\"\r\n"
                                "empty=\"\"\r\n"
                                "lone=\"\r\n");
  EXPECT_EQ(Read(file, "Q", "double"), "quoted");
  EXPECT_EQ(Read(file, "Q", "single"), "quoted");
  EXPECT_EQ(Read(file, "Q", "inside"), "  kept blanks  ");
  EXPECT_EQ(Read(file, "Q", "open"), "\"open");
  EXPECT_EQ(Read(file, "Q", "close"), "close\"");
  EXPECT_EQ(Read(file, "Q", "mixed"), "\"a'");
  EXPECT_EQ(Read(file, "Q", "outer"), "a\" b");
  EXPECT_EQ(Read(file, "Q", "empty"), "");
  EXPECT_EQ(Read(file, "Q", "lone"), "\"");

  ASSERT_TRUE(system_->IniWrite(file, "Q", "written", "\"with quotes\""));
  EXPECT_EQ(Read(file, "Q", "written"), "with quotes");
}

TEST_F(IniContract, LinesWithoutEqualsCommentsAndRepeatedKeys) {
  const std::string file = Seed("lines.ini",
                                "[L]\r\n"
                                "noequals\r\n"
                                "  padded no equals  \r\n"
                                ";comment=1\r\n"
                                "semicolon=v ;not a comment\r\n"
                                "twice=a=b\r\n"
                                "dup=first\r\n"
                                "dup=second\r\n");
  EXPECT_EQ(Read(file, "L", "noequals"), "<fallback>");
  EXPECT_EQ(Read(file, "L", "padded no equals"), "<fallback>");
  EXPECT_EQ(Read(file, "L", "comment"), "<fallback>");
  EXPECT_EQ(Read(file, "L", "semicolon"), "v ;not a comment");
  EXPECT_EQ(Read(file, "L", "twice"), "a=b");
  EXPECT_EQ(Read(file, "L", "dup"), "first");

  // Writing and deleting act on the first of the repeated keys.
  ASSERT_TRUE(system_->IniWrite(file, "L", "DUP", "changed"));
  EXPECT_EQ(Read(file, "L", "dup"), "changed");
  ASSERT_TRUE(system_->IniWrite(file, "L", "dup", std::nullopt));
  EXPECT_EQ(Read(file, "L", "dup"), "second");
  // A key line without '=' gets its value in place.
  ASSERT_TRUE(system_->IniWrite(file, "L", "noequals", "now"));
  EXPECT_EQ(Read(file, "L", "noequals"), "now");
}

TEST_F(IniContract, SectionHeaders) {
  const std::string file = Seed("headers.ini",
                                "top=head\r\n"
                                "[ Padded ]\r\n"
                                "p=1\r\n"
                                "[Trail] junk\r\n"
                                "t=1\r\n"
                                "[Open\r\n"
                                "o=1\r\n"
                                "  [Indented]\r\n"
                                "i=1\r\n"
                                "[x]y]\r\n"
                                "xy=1\r\n");
  EXPECT_EQ(system_->IniSections(file), (Names{"Padded", "Trail", "Indented", "x]y"}));
  EXPECT_EQ(Read(file, "padded", "p"), "1");
  EXPECT_EQ(Read(file, "trail", "t"), "1");
  // "[Open" is no header: its lines belong to the section before.
  EXPECT_EQ(Read(file, "Trail", "o"), "1");
  EXPECT_EQ(Read(file, "Open", "o"), "<fallback>");
  EXPECT_EQ(Read(file, "Indented", "i"), "1");
  EXPECT_EQ(Read(file, "x]y", "xy"), "1");
}

TEST_F(IniContract, RepeatedSectionsAreListedEachTimeAndTheFirstOneCounts) {
  const std::string file = Seed("dup.ini",
                                "[a]\r\nx=1\r\n"
                                "[b]\r\nx=b\r\n"
                                "[A]\r\nx=2\r\ny=3\r\n");
  EXPECT_EQ(system_->IniSections(file), (Names{"a", "b", "A"}));
  EXPECT_EQ(Read(file, "A", "x"), "1");
  EXPECT_EQ(Read(file, "a", "y"), "<fallback>");

  ASSERT_TRUE(system_->IniWrite(file, "A", "y", "new"));
  EXPECT_EQ(Read(file, "a", "y"), "new");
  EXPECT_EQ(system_->IniSections(file), (Names{"a", "b", "A"}));

  // Deleting removes the first one; the second then counts.
  ASSERT_TRUE(system_->IniWrite(file, "a", std::nullopt, std::nullopt));
  EXPECT_EQ(system_->IniSections(file), (Names{"b", "A"}));
  EXPECT_EQ(Read(file, "a", "x"), "2");
  EXPECT_EQ(Read(file, "a", "y"), "3");
}

TEST_F(IniContract, DeletingKeysAndSections) {
  const std::string file = Seed("delete.ini", "[S]\r\nk=1\r\nother=2\r\n[T]\r\nt=1\r\n");

  ASSERT_TRUE(system_->IniWrite(file, "s", "K", std::nullopt));
  EXPECT_EQ(contract::ReadBytes(file), "[S]\r\nother=2\r\n[T]\r\nt=1\r\n");
  EXPECT_EQ(Read(file, "S", "k"), "<fallback>");

  ASSERT_TRUE(system_->IniWrite(file, "t", std::nullopt, std::nullopt));
  EXPECT_EQ(contract::ReadBytes(file), "[S]\r\nother=2\r\n");
  EXPECT_EQ(Read(file, "T", "t"), "<fallback>");

  // The last key goes, its section stays.
  ASSERT_TRUE(system_->IniWrite(file, "S", "other", std::nullopt));
  EXPECT_EQ(system_->IniSections(file), Names{"S"});

  // Deleting what is not there succeeds and changes nothing.
  const std::string before = contract::ReadBytes(file);
  EXPECT_TRUE(system_->IniWrite(file, "S", "missing", std::nullopt));
  EXPECT_TRUE(system_->IniWrite(file, "Missing", "k", std::nullopt));
  EXPECT_TRUE(system_->IniWrite(file, "Missing", std::nullopt, std::nullopt));
  EXPECT_EQ(contract::ReadBytes(file), before);
}

TEST_F(IniContract, ARewriteChangesOneLineAndKeepsEveryOther) {
  // A file as the Windows build writes it: GBK text, CRLF line breaks.
  const std::string original =
      "; " + kChinese + " comment\r\n"
      "[First]\r\n"
      "xl=192.0.2.1\r\n"
      "; inner comment\r\n"
      "bz=" + kNote + "\r\n"
      "[" + kChinese + "]\r\n"
      "xl=198.51.100.1\r\n"
      "[Last]\r\n"
      "zt=1\r\n";
  const std::string file = Seed("keep.ini", original);

  ASSERT_TRUE(system_->IniWrite(file, "first", "XL", "203.0.113.9"));
  std::string expected = original;
  expected.replace(expected.find("xl=192.0.2.1"), 12, "xl=203.0.113.9");
  EXPECT_EQ(contract::ReadBytes(file), expected);

  // A new key goes at the end of its section, a new section at the end.
  ASSERT_TRUE(system_->IniWrite(file, kChinese, "zt", "-1"));
  expected.insert(expected.find("[Last]"), "zt=-1\r\n");
  EXPECT_EQ(contract::ReadBytes(file), expected);

  ASSERT_TRUE(system_->IniWrite(file, "New", "bz", kNote));
  expected += "[New]\r\nbz=" + kNote + "\r\n";
  EXPECT_EQ(contract::ReadBytes(file), expected);
}

TEST_F(IniContract, WritingIntoAMissingFileCreatesItButNeverItsDirectory) {
  const std::string file = PathOf("new.ini");
  EXPECT_EQ(Read(file, "S", "k"), "<fallback>");
  EXPECT_EQ(system_->IniSections(file), Names{});

  // Deleting from a missing file succeeds and creates nothing.
  EXPECT_TRUE(system_->IniWrite(file, "S", "k", std::nullopt));
  EXPECT_TRUE(system_->IniWrite(file, "S", std::nullopt, std::nullopt));
  EXPECT_FALSE(system_->FileExists(file));

  ASSERT_TRUE(system_->IniWrite(file, "S", "k", "v"));
  EXPECT_TRUE(system_->FileExists(file));
  EXPECT_EQ(Read(file, "S", "k"), "v");
  EXPECT_EQ(system_->IniSections(file), Names{"S"});

  const std::string directory = PathOf("missing");
  const std::string inMissing = directory + system_->PathSeparator() + "new.ini";
  EXPECT_FALSE(system_->IniWrite(inMissing, "S", "k", "v"));
  EXPECT_FALSE(system_->FileExists(directory));
  EXPECT_FALSE(system_->FileExists(inMissing));
}

TEST_F(IniContract, ValuesUpTo10239BytesComeBackWholeAndLongerOnesAreCut) {
  const std::string file = PathOf("long.ini");
  const std::string fits(platform::kIniValueLimit, 'x');
  const std::string tooLong(platform::kIniValueLimit + 1, 'y');
  ASSERT_TRUE(system_->IniWrite(file, "L", "fits", fits));
  ASSERT_TRUE(system_->IniWrite(file, "L", "long", tooLong));
  EXPECT_EQ(Read(file, "L", "fits"), fits);
  EXPECT_EQ(Read(file, "L", "long"), tooLong.substr(0, platform::kIniValueLimit));

  // The quotes go first, then the cut.
  const std::string quoted = Seed("quoted.ini", "[L]\r\nq=\"" + std::string(10240, 'z') + "\"\r\n");
  EXPECT_EQ(Read(quoted, "L", "q"), std::string(platform::kIniValueLimit, 'z'));
}

TEST_F(IniContract, ANulEndsTheNameOrValueItStandsIn) {
  // Writes refuse a NUL, but a stranger's file may hold one. The line is
  // read as always (blanks around the name and the value dropped), then each
  // text ends at its first NUL, and only then does a pair of quotes go.
  static const char bytes[] =
      "[S]\r\n"
      "cut=abc\0def\r\n"
      "blanks=  abc  \0 def  \r\n"
      "open=\"abc\0def\"\r\n"
      "pair=\"ab\"\0x\r\n"
      "empty=\0\r\n"
      "name\0junk=v\r\n"
      "[T\0junk]\r\n"
      "k=t\r\n";
  const std::string file = Seed("with-nuls.ini", std::string(bytes, sizeof bytes - 1));
  EXPECT_EQ(Read(file, "S", "cut"), "abc");
  EXPECT_EQ(Read(file, "S", "blanks"), "abc  ");
  EXPECT_EQ(Read(file, "S", "open"), "\"abc");
  EXPECT_EQ(Read(file, "S", "pair"), "ab");
  EXPECT_EQ(Read(file, "S", "empty"), "");
  EXPECT_EQ(Read(file, "S", "name"), "v");
  EXPECT_EQ(Read(file, "T", "k"), "t");
  EXPECT_EQ(system_->IniSections(file), (Names{"S", "T"}));
  // The fallback is handed over as a C string as well.
  EXPECT_EQ(system_->IniRead(file, "S", "missing", std::string("ab\0cd", 5)), "ab");
}

TEST_F(IniContract, ByteEightyInAGbkFileIsTheEuroSign) {
  // Code page 936 maps the single byte 0x80 to U+20AC; the Linux build reads
  // a GBK file converted to UTF-8.
  const std::string euro = platform::SystemCharRule() == platform::CharRule::Gbk ? "\x80" : "\xE2\x82\xAC";
  const std::string file = Seed("euro.ini", "[\xD6\xD0\xCE\xC4]\r\nprice=\x80" "5\r\n");
  EXPECT_EQ(Read(file, kChinese, "price"), euro + "5");
}

TEST_F(IniContract, ASectionNameOfBlanksOnlyReadsAsEmptyWithoutTouchingTheFile) {
  const std::string file = Seed("blank.ini",
                                "k=head\r\n"
                                "[   ]\r\n"
                                "k=blank\r\n"
                                "[S]\r\n"
                                "k=s\r\n");
  // Empty text, not the fallback: the file is not consulted at all.
  EXPECT_EQ(Read(file, "   ", "k"), "");
  EXPECT_EQ(Read(file, "\t \r\n", "k"), "");
  EXPECT_EQ(Read(file, "", "k"), "");
  EXPECT_EQ(Read(file, "S", "  "), "");
  EXPECT_EQ(Read(PathOf("missing.ini"), "   ", "k"), "");
  EXPECT_EQ(Read("   ", "S", "k"), "");
  EXPECT_EQ(Read(file, "S", "k"), "s");
  // A header of blanks names no section.
  EXPECT_EQ(system_->IniSections(file), Names{"S"});
}

TEST_F(IniContract, TextInTheSystemCodePagePassesThroughSectionNamesAndValues) {
  const std::string file = PathOf("chinese.ini");
  ASSERT_TRUE(system_->IniWrite(file, kChinese, "bz", kNote));
  EXPECT_EQ(system_->IniSections(file), Names{kChinese});
  EXPECT_EQ(Read(file, kChinese, "BZ"), kNote);
  const std::string bytes = contract::ReadBytes(file);
  EXPECT_NE(bytes.find("[" + kChinese + "]"), std::string::npos);
  EXPECT_NE(bytes.find("bz=" + kNote), std::string::npos);

  // Two GBK characters that differ in a second byte that looks like a letter
  // are two different names (on Linux, where texts are UTF-8, a GBK file is
  // read converted: platform/posix/files_ini_test.cpp).
  if (platform::SystemCharRule() != platform::CharRule::Gbk) return;
  const std::string seeded = Seed("trail.ini",
                                  "[" + kTrailUpper + "]\r\nk=upper\r\n"
                                  "[" + kTrailLower + "]\r\nk=lower\r\n");
  EXPECT_EQ(system_->IniSections(seeded), (Names{kTrailUpper, kTrailLower}));
  EXPECT_EQ(Read(seeded, kTrailLower, "k"), "lower");
  EXPECT_EQ(Read(seeded, kTrailUpper, "k"), "upper");
}

TEST_F(IniContract, FiftyThousandSectionsAreListedWhole) {
  std::string content;
  Names expected;
  for (int i = 0; i < 50000; ++i) {
    expected.push_back("host" + std::to_string(i) + ".example.test");
    content += "[" + expected.back() + "]\r\nxl=192.0.2.1\r\nzt=1\r\n";
  }
  const std::string file = Seed("big.ini", content);
  EXPECT_EQ(system_->IniSections(file), expected);
  EXPECT_EQ(Read(file, "host49999.example.test", "zt"), "1");
}

TEST_F(IniContract, LineBreaksAndNulsInWrittenTextAreRefused) {
  const std::string original = "[S]\r\nk=v\r\n";
  const std::string file = Seed("inject.ini", original);
  EXPECT_FALSE(system_->IniWrite(file, "S", "k", "a\r\n[evil]\r\nzt=1"));
  EXPECT_FALSE(system_->IniWrite(file, "S", "k", "a\nb"));
  EXPECT_FALSE(system_->IniWrite(file, "S", "k", std::string("a\0b", 3)));
  EXPECT_FALSE(system_->IniWrite(file, "S\r\n[evil]", "k", "v"));
  EXPECT_FALSE(system_->IniWrite(file, "S", "k\nzt", "v"));
  EXPECT_FALSE(system_->IniWrite(file, "S\n", std::nullopt, std::nullopt));
  EXPECT_EQ(contract::ReadBytes(file), original);
}

TEST_F(IniContract, WrittenNamesAndValuesLoseTheirSurroundingBlanks) {
  const std::string file = PathOf("blanks.ini");
  ASSERT_TRUE(system_->IniWrite(file, " Sp ", " k ", " v "));
  EXPECT_EQ(system_->IniSections(file), Names{"Sp"});
  EXPECT_EQ(Read(file, "Sp", "k"), "v");
  ASSERT_TRUE(system_->IniWrite(file, "Sp", "empty", ""));
  EXPECT_EQ(Read(file, "Sp", "empty"), "");
}

TEST_F(IniContract, PathsUseTheBuildsSeparator) { EXPECT_EQ(system_->PathSeparator(), contract::NativeSeparator()); }

}  // namespace
}  // namespace quillon
