#include "platform/posix/ini_engine.h"

#include <gtest/gtest.h>

namespace quillon::platform::ini {
namespace {

TEST(IniEngine, ChangingAKeyRewritesOnlyItsLine) {
  const std::string before =
      "; settings\n"
      "[Main]\n"
      "  Colour  =  red  \n"
      "\tsize\t=\t3\n"
      "\n"
      "odd line without equals\n"
      "[Other]\r\n"
      "colour=blue\n";
  Document document(before);
  EXPECT_TRUE(document.Set("main", "COLOUR", "green"));
  std::string expected = before;
  expected.replace(expected.find("  Colour  =  red  "), 18, "Colour=green");
  EXPECT_EQ(document.Content(), expected);
  EXPECT_EQ(document.Value("Other", "colour"), "blue");
}

TEST(IniEngine, WritingTheSameValueAgainChangesNothing) {
  Document document("[S]\nk=v\n");
  EXPECT_FALSE(document.Set("s", "K", " v "));
  EXPECT_FALSE(document.DeleteKey("S", "missing"));
  EXPECT_FALSE(document.DeleteKey("Missing", "k"));
  EXPECT_FALSE(document.DeleteSection("Missing"));
  EXPECT_EQ(document.Content(), "[S]\nk=v\n");
}

TEST(IniEngine, NewKeysGoAfterTheLastLineOfTheirSectionInTheFilesLineBreak) {
  Document crlf("[A]\r\nx=1\r\n; note\r\n\r\n[B]\r\ny=2\r\n");
  EXPECT_TRUE(crlf.Set("a", "z", "3"));
  EXPECT_EQ(crlf.Content(), "[A]\r\nx=1\r\n; note\r\nz=3\r\n\r\n[B]\r\ny=2\r\n");

  Document lf("[A]\n[B]\ny=2\n");
  EXPECT_TRUE(lf.Set("A", "x", "1"));
  EXPECT_TRUE(lf.Set("C", "w", "4"));
  EXPECT_EQ(lf.Content(), "[A]\nx=1\n[B]\ny=2\n[C]\nw=4\n");
}

TEST(IniEngine, AFileWithoutAFinalLineBreakGetsOneBeforeNewLines) {
  Document key("[A]\r\nx=1");
  EXPECT_TRUE(key.Set("A", "y", "2"));
  EXPECT_EQ(key.Content(), "[A]\r\nx=1\r\ny=2\r\n");

  Document header("[A]");
  EXPECT_TRUE(header.Set("A", "y", "2"));
  EXPECT_EQ(header.Content(), "[A]\ny=2\n");

  Document section("[A]\nx=1");
  EXPECT_TRUE(section.Set("B", "y", "2"));
  EXPECT_EQ(section.Content(), "[A]\nx=1\n[B]\ny=2\n");
}

TEST(IniEngine, AnEmptyFileGetsLfLinesAndTheHeadTakesNamelessWrites) {
  Document document;
  EXPECT_TRUE(document.Set(" S ", " k ", " v "));
  EXPECT_EQ(document.Content(), "[S]\nk=v\n");
  EXPECT_TRUE(document.Set("   ", "top", "1"));
  EXPECT_EQ(document.Content(), "top=1\n[S]\nk=v\n");
  EXPECT_EQ(document.Value("", "top"), "1");
  EXPECT_EQ(document.SectionNames(), std::vector<std::string>{"S"});
}

TEST(IniEngine, DeletingRemovesWholeLinesOnly) {
  Document document("[A]\nx=1\n\n[B]\ny=2\nz=3\n[C]\nw=4");
  EXPECT_TRUE(document.DeleteKey("b", "Y"));
  EXPECT_EQ(document.Content(), "[A]\nx=1\n\n[B]\nz=3\n[C]\nw=4");
  EXPECT_TRUE(document.DeleteKey("C", "w"));
  EXPECT_EQ(document.Content(), "[A]\nx=1\n\n[B]\nz=3\n[C]\n");
  EXPECT_TRUE(document.DeleteSection("A"));
  EXPECT_EQ(document.Content(), "[B]\nz=3\n[C]\n");
  EXPECT_TRUE(document.DeleteSection("c"));
  EXPECT_EQ(document.Content(), "[B]\nz=3\n");
}

TEST(IniEngine, AByteOrderMarkIsKeptAndIsNotPartOfTheFirstHeader) {
  Document document("\xEF\xBB\xBF[A]\nx=1\n");
  EXPECT_EQ(document.SectionNames(), std::vector<std::string>{"A"});
  EXPECT_TRUE(document.Set("", "top", "1"));
  EXPECT_EQ(document.Content(), "\xEF\xBB\xBFtop=1\n[A]\nx=1\n");
}

TEST(IniEngine, DeletingTheFirstLineNeverMakesTheNextOneStartTheFileWithAMark) {
  // The second line starts with the bytes of a byte order mark: were it the
  // file's first line, they would be taken as one and the key read as "wz".
  Document d("a=1\n\xEF\xBB\xBFwz=2\n");
  ASSERT_TRUE(d.DeleteKey("", "a"));
  EXPECT_EQ(d.Content(), "\n\xEF\xBB\xBFwz=2\n");
  EXPECT_EQ(d.Value("", "wz"), std::nullopt);
}

TEST(IniEngine, LoneCarriageReturnsEndLines) {
  Document document("[A]\rx=1\r[B]\ry=2\r");
  EXPECT_EQ(document.Value("A", "x"), "1");
  EXPECT_EQ(document.Value("B", "y"), "2");
  EXPECT_TRUE(document.Set("A", "x", "5"));
  EXPECT_EQ(document.Content(), "[A]\rx=5\r[B]\ry=2\r");
}

// Lines after the last LF end at lone CRs: new lines there end in a lone CR
// too. With an LF they would join the lines before them into one, and the
// new header (or key) would be lost inside the line before it.
TEST(IniEngine, NewLinesAfterLoneCarriageReturnsKeepThemApart) {
  Document appended("[a]\r\nxl=1\r\nzt=1\r");
  EXPECT_TRUE(appended.Set("b", "xl", "2"));
  EXPECT_EQ(appended.Content(), "[a]\r\nxl=1\r\nzt=1\r[b]\rxl=2\r");
  EXPECT_EQ(appended.Value("a", "zt"), "1");
  EXPECT_EQ(appended.Value("b", "xl"), "2");

  const std::string file = "x\n[q]\ra=1\r[r]\rb=2";
  Document inserted(file);
  EXPECT_TRUE(inserted.Set("q", "c", "3"));
  EXPECT_TRUE(inserted.Set("r", "d", "4"));
  EXPECT_EQ(inserted.Content(), "x\n[q]\ra=1\rc=3\r[r]\rb=2\rd=4\r");
  Document batch(file);
  EXPECT_TRUE(batch.SetMany({{"q", "c", "3"}, {"r", "d", "4"}}));
  EXPECT_EQ(batch.Content(), inserted.Content());
}

TEST(IniEngine, SetManyThatEndsWhereItBeganChangesNothing) {
  Document head("=\n");
  EXPECT_FALSE(head.SetMany({{"", "", "="}, {"", "", ""}}));
  EXPECT_EQ(head.Content(), "=\n");
}

TEST(IniEngine, NamesIgnoreAsciiCaseButNotTheBytesOfCharacters) {
  // UTF-8: the ASCII letter after a three-byte character is still a letter.
  Document utf8("[\xE4\xB8\xAD" "A]\nk=\xE5\x80\xBC\n");
  EXPECT_EQ(utf8.Value("\xE4\xB8\xAD" "a", "K"), "\xE5\x80\xBC");
  // GBK: 0x81 0x41 and 0x81 0x61 are two different characters, while a
  // letter after a whole GBK character folds.
  Document gbk("[\x81\x41]\nk=upper\n[\x81\x61]\nk=lower\n[\xD6\xD0X]\nk=mixed\n");
  EXPECT_EQ(gbk.Value("\x81\x61", "k"), "lower");
  EXPECT_EQ(gbk.Value("\x81\x41", "k"), "upper");
  EXPECT_EQ(gbk.Value("\xD6\xD0x", "K"), "mixed");
}

TEST(IniEngine, FoldNameFollowsTheEncodingOfTheName) {
  EXPECT_EQ(FoldName("AbC"), "abc");
  EXPECT_EQ(FoldName("\xE4\xB8\xAD" "A"), "\xE4\xB8\xAD" "a");
  EXPECT_EQ(FoldName("\x81\x41" "A"), "\x81\x41" "a");
}

TEST(IniEngine, ValuesAreTrimmedAndLoseOneMatchingPairOfQuotes) {
  EXPECT_EQ(DropQuotes("\"a\""), "a");
  EXPECT_EQ(DropQuotes("'a'"), "a");
  EXPECT_EQ(DropQuotes("\"a'"), "\"a'");
  EXPECT_EQ(DropQuotes("\""), "\"");
  EXPECT_EQ(DropQuotes("\"\"a\"\""), "\"a\"");
  EXPECT_EQ(Trim("\x1A\v\f \tx y\r\n"), "x y");
}

TEST(IniEngine, ANameCutAtANulIsMatchedWithoutTheBlanksBeforeIt) {
  // As every name is: Wine keeps "T " here and so never finds the section.
  static const char bytes[] = "[ T \0 U ]\ny \0 x=1\n";
  Document document(std::string(bytes, sizeof bytes - 1));
  EXPECT_EQ(document.SectionNames(), std::vector<std::string>{"T"});
  EXPECT_EQ(document.Value("t", "Y"), "1");
  EXPECT_TRUE(document.Set("T", "y", "2"));
  EXPECT_EQ(document.Content(), std::string("[ T \0 U ]\ny=2\n", 14));
}

}  // namespace
}  // namespace quillon::platform::ini

namespace quillon::platform::ini {
namespace {

// SetMany gives the content that the same Sets one by one give, over random
// files (line breaks, blank lines, duplicate sections and keys, case, a file
// without a final line break) and random batches.
TEST(IniEngine, SetManyEqualsTheSetsOneByOne) {
  unsigned seed = 12345;
  const auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  const char* names[] = {"a", "A", "b", "c.test", "中文", " d "};
  const char* keys[] = {"xl", "XL", "zt", "bz", "k"};
  for (int round = 0; round < 400; ++round) {
    std::string file;
    const char* br = next(2) ? "\r\n" : "\n";
    for (int l = 0, lines = static_cast<int>(next(12)); l < lines; ++l) {
      switch (next(4)) {
        case 0: file += std::string("[") + names[next(6)] + "]"; break;
        case 1: file += std::string(keys[next(5)]) + "=" + std::to_string(next(9)); break;
        case 2: file += ""; break;
        default: file += "; note"; break;
      }
      if (l + 1 < lines || next(2)) file += br;
    }
    std::vector<Document::Assignment> batch;
    for (int e = 0, edits = 1 + static_cast<int>(next(8)); e < edits; ++e) {
      batch.push_back({names[next(6)], keys[next(5)], std::to_string(next(9))});
    }
    Document one(file), many(file);
    bool changed = false;
    for (const auto& a : batch) changed = one.Set(a.section, a.key, a.value) || changed;
    EXPECT_EQ(many.SetMany(batch), changed) << file;
    ASSERT_EQ(many.Content(), one.Content()) << "file:\n" << file;
  }
}

TEST(IniEngine, ReadKeysGivesWhatValueGivesSectionBySection) {
  // Duplicate names (in another case), a key without '=', a key twice, a
  // name in upper case, quotes, a GBK name and a section without keys.
  const Document d(
      "head=1\n[a]\nXL=1\nxl=2\nzt\n[B]\nbz=\"q\"\n[A]\nxl=3\n[\xB5\xE7\xD0\xC5]\n\xB5\xE7=4\nXl = 5 \n[empty]\n[]\nxl=6\n");
  const std::vector<std::string> keys{"xl", "zt", "bz", "\xB5\xE7", "none"};
  std::vector<std::string> seen;
  d.ReadKeys(keys, [&](std::string_view section, const Document::KeyValues& values) {
    seen.emplace_back(section);
    for (std::size_t k = 0; k < keys.size(); ++k) {
      const std::optional<std::string> value = d.Value(section, keys[k]);
      EXPECT_EQ(values[k].has_value(), value.has_value()) << section << " " << keys[k];
      if (value && values[k]) {
        EXPECT_EQ(std::string(*values[k]), *value) << section << " " << keys[k];
      }
    }
  });
  EXPECT_EQ(seen, d.SectionNames());
}

}  // namespace
}  // namespace quillon::platform::ini
