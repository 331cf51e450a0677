// The import of prepared split files with the real Linux INI engine: files
// made on Windows (GBK, UTF-16LE), a list of 10 000 sections, and a kill in
// the middle of a large import.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "import/prepared_import.h"
#include "platform/system_factory.h"
#include "routing/config_paths.h"

namespace quillon::importing {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ImportOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-import-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    sys_ = platform::MakeSystem(home_.string());
    ASSERT_TRUE(fs::create_directory(routing::ConfigDirectory(*sys_)));
    store_ = std::make_unique<routing::SplitStore>(*sys_, routing::ConfigFile(*sys_, routing::kSplitStoreName));
  }
  void TearDown() override { fs::remove_all(home_); }
  // A prepared file of `count` sections, host0.example.test, host1, ...
  fs::path Prepared(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
      text += "[host" + std::to_string(i) + ".example.test]\nxl=192.0.2.1\nzt=1\nbz=第" + std::to_string(i) + "条\n";
    }
    const fs::path path = home_ / "prepared.ini";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Imports `path` keeping its lines; the entries stored, in order.
  std::vector<ImportedEntry> Import(const fs::path& path) {
    std::vector<ImportedEntry> stored;
    const ImportReport report = ImportSplitFile(*sys_, *store_, path.string(), "", [&](const auto& batch) {
      stored.insert(stored.end(), batch.begin(), batch.end());
    });
    EXPECT_EQ(report.stored, static_cast<int>(stored.size()));
    return stored;
  }
  std::string Read(const std::string& section, const char* key) { return sys_->IniRead(store_->Path(), section, key); }

  fs::path home_;
  std::unique_ptr<platform::System> sys_;
  std::unique_ptr<routing::SplitStore> store_;
};

TEST_F(ImportOnDisk, FilesMadeOnWindowsImportWithTheirNotesAndStayUntouched) {
  for (const char* name : {"gbk-from-windows.ini", "utf16-notepad.ini"}) {
    const fs::path file = fs::path(QUILLON_TEST_DATA) / "prepared" / name;
    const std::string before = Bytes(file);
    const auto stored = Import(file);
    ASSERT_EQ(stored.size(), 2u) << name;
    EXPECT_EQ(Read("视频.example.test", "bz"), "电信线路的视频") << name;
    EXPECT_EQ(Read("198.18.8.8", "bz"), "联通备用") << name;
    EXPECT_EQ(Read("198.18.8.8", "zt"), "-1") << name;
    EXPECT_EQ(stored[0].entry.note, "电信线路的视频");
    EXPECT_EQ(Bytes(file), before) << name << " was changed";
  }
}

TEST_F(ImportOnDisk, TenThousandSectionsImportWhole) {
  EXPECT_EQ(Import(Prepared(10000)).size(), 10000u);
  const auto names = store_->Names();
  ASSERT_EQ(names.size(), 10000u);
  EXPECT_EQ(names.back(), "host9999.example.test");
  EXPECT_EQ(Read("host9999.example.test", "bz"), "第9999条");
}

TEST_F(ImportOnDisk, AKillDuringALargeImportLeavesAStoreThatHoldsAPrefixOfIt) {
  const fs::path prepared = Prepared(20000);
  const auto wanted = sys_->IniSections(prepared.string());
  // Killed once the store holds at least this many sections: after the
  // first batch, and somewhere later on.
  for (const std::size_t atLeast : {1u, 5000u, 13000u}) {
    fs::remove(store_->Path());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ImportSplitFile(*sys_, *store_, prepared.string(), "");
      _exit(0);
    }
    while (store_->Names().size() < atLeast) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, WNOHANG), 0) << "the import ended before the kill";
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    const auto names = store_->Names();
    ASSERT_GE(names.size(), atLeast);
    ASSERT_LE(names.size(), wanted.size());
    EXPECT_TRUE(std::equal(names.begin(), names.end(), wanted.begin())) << "not a prefix of the import";
    for (const std::string& n : {names.front(), names.back()}) {
      EXPECT_EQ(Read(n, "xl"), "192.0.2.1") << n;
      EXPECT_EQ(Read(n, "zt"), "1") << n;
    }
  }
}

}  // namespace
}  // namespace quillon::importing
