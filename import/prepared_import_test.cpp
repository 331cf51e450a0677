#include "import/prepared_import.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_home.h"

namespace quillon::importing {
namespace {

using platform::FakeHome;
using routing::SplitEntry;

constexpr char kFile[] = "/in/prepared.ini";

class ImportTest : public ::testing::Test {
 protected:
  ImportReport Import(const std::string& line) {
    return ImportSplitFile(home.sys, store, kFile, line, [&](const std::vector<ImportedEntry>& batch) {
      shown.insert(shown.end(), batch.begin(), batch.end());
    });
  }
  void Section(const std::string& name, std::vector<std::pair<std::string, std::string>> keys) {
    home.Section(kFile, name, std::move(keys));
  }
  FakeHome home;
  routing::SplitStore store{routing::SplitStore::Main(home.sys)};
  std::vector<ImportedEntry> shown;
};

TEST_F(ImportTest, KeepsTheFilesLinesOrPutsEveryEntryOnTheChosenOne) {
  Section("a.test", {{"xl", "198.51.100.1"}, {"zt", "1"}, {"bz", "甲"}});
  Section("b.test", {{"xl", "203.0.113.1"}, {"bz", "乙"}});  // no zt: stored empty
  EXPECT_EQ(Import("").stored, 2);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].position, 2);
  EXPECT_EQ(shown[1].entry, (SplitEntry{"b.test", "203.0.113.1", "", "乙"}));
  EXPECT_EQ(home.Value("b.test", "zt"), "");
  // Again with a chosen line: every entry gets it.
  EXPECT_EQ(Import("192.0.2.1").stored, 2);
  EXPECT_EQ(home.Value("a.test", "xl"), "192.0.2.1");
  EXPECT_EQ(home.Value("b.test", "xl"), "192.0.2.1");
  EXPECT_EQ(shown.size(), 4u);
}

TEST_F(ImportTest, ASectionOfAnotherLayoutEndsTheImportAfterTheOnesBeforeIt) {
  Section("a.test", {{"xl", "192.0.2.1"}});
  Section("b.test", {{"xl", "192.0.2.1"}});
  Section("c.test", {{"xl", "192.0.2.1"}, {"wz", "2"}});
  Section("d.test", {{"xl", "192.0.2.1"}});
  const ImportReport r = Import("");
  EXPECT_EQ(r.stored, 2);
  EXPECT_EQ(r.refusedAt, 3);
  EXPECT_EQ(home.Names(), (std::vector<std::string>{"a.test", "b.test"}));
}

TEST_F(ImportTest, StrangersSectionsThatCouldReachACommandAreSkipped) {
  Section("a.test&echo x>pwned", {{"xl", "192.0.2.1"}});
  Section("-d2", {{"xl", "192.0.2.1"}});
  Section("ok.test", {{"xl", "192.0.2.1 & calc"}});
  Section("noline.test", {});
  Section("good.test", {{"xl", "192.0.2.1"}, {"zt", "1"}});
  const ImportReport r = Import("");
  EXPECT_EQ(r.stored, 1);
  EXPECT_EQ(r.skipped, 4);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].position, 5);
  EXPECT_EQ(home.Names(), std::vector<std::string>{"good.test"});
}

TEST_F(ImportTest, TheCountAndTheRowsSayWhatReachedTheStore) {
  EXPECT_EQ(Import("").stored, 0);  // nothing to read
  for (const char* name : {"a.test", "b.test", "c.test"}) Section(name, {{"xl", "192.0.2.1"}});
  // One section's writes fail, as a file locked for a moment would make
  // them: the others are stored, counted and shown.
  home.sys.failSections = {"b.test"};
  EXPECT_EQ(Import("").stored, 2);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].entry.destination, "c.test");
  home.sys.failWrites = true;
  const ImportReport none = Import("");
  EXPECT_EQ(none.stored, 0);
  EXPECT_EQ(none.failed, 3);
  EXPECT_EQ(shown.size(), 2u);
}

}  // namespace
}  // namespace quillon::importing
