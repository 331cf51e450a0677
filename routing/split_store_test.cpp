#include "routing/split_store.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_home.h"

namespace quillon::routing {
namespace {

using platform::FakeHome;

class SplitStoreTest : public ::testing::Test {
 protected:
  FakeHome home;
  SplitStore store{SplitStore::Main(home.sys)};
};

TEST_F(SplitStoreTest, EachNameOnceWithTheValuesOfItsFirstSection) {
  home.Entry("a.test", "192.0.2.1", "1", "one");
  home.Entry("b.test", "198.51.100.1", "-1");
  home.Entry("a.test", "203.0.113.1", "1", "later");
  // Names match without regard to case: "A.TEST" reads a.test's values.
  home.Section(FakeHome::kStore, "A.TEST", {{"xl", "198.51.100.1"}});
  EXPECT_EQ(store.Entries(), (std::vector<SplitEntry>{{"a.test", "192.0.2.1", "1", "one"},
                                                      {"b.test", "198.51.100.1", "-1", ""},
                                                      {"A.TEST", "192.0.2.1", "1", "one"}}));
  // A prepared file's sections: every one, duplicates and the layout mark too.
  home.Section("/f.ini", "x.test", {{"xl", "192.0.2.1"}});
  home.Section("/f.ini", "y.test", {{"wz", "2"}});
  const auto sections = SplitStore(home.sys, "/f.ini").Sections();
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_FALSE(sections[0].otherLayout);
  EXPECT_TRUE(sections[1].otherLayout);
}

TEST_F(SplitStoreTest, WritesGoKeyByKeyInTheOrderLineNoteStatus) {
  int shown = 0;
  EXPECT_TRUE(store.Write({"a.test", "192.0.2.1", "1", "n"}, [&] { ++shown; }));
  EXPECT_EQ(shown, 1);
  std::vector<std::string> writes;
  for (const auto& c : home.sys.calls) {
    if (c.rfind("IniWrite", 0) == 0) writes.push_back(c.substr(c.find(']') + 2));
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"xl=192.0.2.1", "bz=n", "zt=1"}));
  EXPECT_TRUE(store.SetStatus("a.test", "-1"));
  EXPECT_EQ(home.Value("a.test", "zt"), "-1");
  EXPECT_TRUE(store.Remove("a.test"));
  EXPECT_TRUE(home.Names().empty());
  // A failed write shows nothing.
  home.sys.failWrites = true;
  EXPECT_FALSE(store.Write({"b.test", "192.0.2.1", "1", ""}, [&] { ++shown; }));
  EXPECT_EQ(shown, 1);
}

TEST_F(SplitStoreTest, ABatchSaysWhichEntriesReachedTheStore) {
  // Written key by key (as the Windows profile functions do), one section
  // refuses its writes: the others are stored and said to be.
  home.sys.failSections = {"b.test"};
  std::vector<bool> told;
  const auto written = store.WriteAll({{"a.test", "192.0.2.1", "1", ""}, {"b.test", "192.0.2.1", "1", ""},
                                       {"c.test", "192.0.2.1", "1", ""}},
                                      [&](const std::vector<bool>& w) { told = w; });
  EXPECT_EQ(written, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(told, written);
  EXPECT_EQ(home.Names(), (std::vector<std::string>{"a.test", "c.test"}));
}

// A system that hands a file's bytes over in pieces of a set size.
struct PiecewiseSystem : platform::FakeSystem {
  std::size_t pieceSize = 0;  // 0: all at once
  void FileReadPieces(const std::string& path, const std::function<void(std::string_view)>& piece) override {
    const std::string bytes = FileRead(path);
    for (std::size_t i = 0; i < bytes.size(); i += pieceSize == 0 ? bytes.size() : pieceSize) {
      piece(std::string_view(bytes).substr(i, pieceSize == 0 ? bytes.size() : pieceSize));
    }
  }
};

TEST(SplitStoreDigest, TheBytesDecideItNotThePiecesTheyCameIn) {
  PiecewiseSystem sys;
  std::string& bytes = sys.files["/s.ini"];
  for (int i = 0; i < 1001; ++i) bytes += static_cast<char>(i * 7);
  SplitStore store(sys, "/s.ini");
  const SplitStore::Digest whole = store.FileDigest();
  EXPECT_EQ(whole.size, 1001u);
  for (const std::size_t size : {1, 3, 8, 13}) {
    sys.pieceSize = size;
    EXPECT_EQ(store.FileDigest(), whole) << size;
  }
  for (const std::size_t at : {0, 500, 1000}) {
    bytes[at] ^= 1;
    EXPECT_NE(store.FileDigest(), whole) << at;
    bytes[at] ^= 1;
  }
  bytes += '\0';  // one zero byte more: the last word's value is the same
  EXPECT_NE(store.FileDigest(), whole);
}

}  // namespace
}  // namespace quillon::routing
