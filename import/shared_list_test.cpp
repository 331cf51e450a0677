#include "import/shared_list.h"

#include <gtest/gtest.h>

#include "import/prepared_import.h"
#include "platform/fake/fake_home.h"

namespace quillon::importing {
namespace {

std::vector<std::string> Texts(const ListReading& r) {
  std::vector<std::string> texts;
  for (const auto& d : r.destinations) texts.push_back(d.text);
  return texts;
}

TEST(SharedList, TakesEachFormWithItsCommentsAndBlankLines) {
  const ListReading r = ReadSharedList(
      "# a provider's list\r\n"
      "\r\n"
      "36.0.0.0/10\r\n"
      "  example.test   # trailing comment\n"
      "203.0.113.9\n"
      "server=/a.test/b.test/198.51.100.53\n"
      "ipset=/c.test/d.test/quillon\n"
      "nftset=/e.test/4#inet#fw#set\n"
      "server=/only.test/\n"
      "\xE4\xB8\xAD\xE6\x96\x87.test\n"
      "tag#not-a-comment.test");
  EXPECT_EQ(Texts(r), (std::vector<std::string>{"36.0.0.0/10", "example.test", "203.0.113.9", "a.test", "b.test",
                                                "c.test", "d.test", "e.test", "only.test",
                                                "\xE4\xB8\xAD\xE6\x96\x87.test"}));
  EXPECT_EQ(r.destinations[3].line, 6);  // a.test: line numbers count blank and comment lines
  EXPECT_EQ(r.skipped, 1);               // a '#' inside a word is no comment, and no name
  EXPECT_TRUE(r.names);
  EXPECT_FALSE(ReadSharedList("36.0.0.0/10\n198.51.100.7\n").names);
}

TEST(SharedList, LinesThatCouldReachACommandOrRouteTooMuchAreSkipped) {
  const ListReading r = ReadSharedList(
      "a.test&calc\n"
      "-d2\n"
      "two words.test\n"
      "http://203.0.113.9/x\n"
      "36.0.0.1/10\n"        // host bits set
      "10.0.0.0/7\n"         // shorter than /8
      "127.0.0.0/8\n"        // never routed
      "224.0.0.0/4\n"
      "server=/\"$(id)\"/x\n"
      "server=//\n"
      "bad-.test\n"
      "ok.test\n");
  EXPECT_EQ(Texts(r), std::vector<std::string>{"ok.test"});
  EXPECT_EQ(r.skipped, 11);
}

class ListImport : public ::testing::Test {
 protected:
  ImportReport Import(const std::string& text, const std::string& line) {
    home.sys.files[kFile] = text;
    return ImportSplitFile(home.sys, store, kFile, line);
  }
  static constexpr char kFile[] = "/in/list.txt";
  platform::FakeHome home;
  routing::SplitStore store{routing::SplitStore::Main(home.sys)};
};

TEST_F(ListImport, EveryEntryGetsTheLineAndWhatIsStoredStaysAsItIs) {
  home.Entry("Kept.test", platform::FakeHome::kLine2, "0", "mine");
  const ImportReport r = Import("kept.test\nnew.test\n36.0.0.0/10\nnew.test\n&x\n", platform::FakeHome::kLine1);
  EXPECT_TRUE(r.list);
  EXPECT_EQ(r.stored, 2);
  EXPECT_EQ(r.duplicates, 2);  // one already stored (case aside), one given twice
  EXPECT_EQ(r.skipped, 1);
  EXPECT_EQ(home.Value("Kept.test", "xl"), platform::FakeHome::kLine2);
  EXPECT_EQ(home.Value("Kept.test", "zt"), "0");
  EXPECT_EQ(home.Value("36.0.0.0/10", "xl"), platform::FakeHome::kLine1);
  EXPECT_EQ(home.Value("new.test", "zt"), "1");
}

TEST_F(ListImport, WithoutALineNothingIsImported) {
  const ImportReport r = Import("a.test\n", "");
  EXPECT_TRUE(r.needsLine);
  EXPECT_EQ(r.stored, 0);
  EXPECT_EQ(home.Names(), std::vector<std::string>{});
  EXPECT_FALSE(Import("# nothing here\n", "").needsLine);
}

}  // namespace
}  // namespace quillon::importing
