// The file and directory services of the build's System backend.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "tests/contract/contract_support.h"

namespace quillon {
namespace {

class FilesContract : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return dir_.Path() + system_->PathSeparator() + name; }

  contract::TempDir dir_;
  std::unique_ptr<platform::System> system_ = contract::MakeBackend(dir_.Path());
};

TEST_F(FilesContract, ProgramDirectoryIsTheGivenHomeElseTheProgramsOwnDirectory) {
  EXPECT_EQ(system_->ProgramDirectory(), dir_.Path());
  EXPECT_EQ(contract::MakeBackend(dir_.Path() + system_->PathSeparator())->ProgramDirectory(), dir_.Path());

  const auto own = contract::MakeBackend("");
  const std::string directory = own->ProgramDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_NE(directory.substr(directory.size() - 1), own->PathSeparator());
  const std::string program = directory + own->PathSeparator() + "quillon_contract_tests";
  EXPECT_TRUE(own->FileExists(program) || own->FileExists(program + ".exe")) << directory;
}

TEST_F(FilesContract, FileExistsForFilesAndDirectories) {
  const std::string file = PathOf("present.txt");
  ASSERT_TRUE(contract::WriteBytes(file, "x"));
  EXPECT_TRUE(system_->FileExists(file));
  EXPECT_TRUE(system_->FileExists(dir_.Path()));
  EXPECT_FALSE(system_->FileExists(PathOf("absent.txt")));
  EXPECT_FALSE(system_->FileExists(PathOf("absent") + system_->PathSeparator() + "x.txt"));
  EXPECT_FALSE(system_->FileExists(""));
}

TEST_F(FilesContract, CreateDirectoryMakesOneLevelOnly) {
  const std::string level = PathOf("one");
  EXPECT_TRUE(system_->CreateDirectory(level));
  EXPECT_TRUE(system_->FileExists(level));
  EXPECT_FALSE(system_->CreateDirectory(level)) << "it exists already";

  const std::string parent = PathOf("two");
  const std::string nested = parent + system_->PathSeparator() + "levels";
  EXPECT_FALSE(system_->CreateDirectory(nested));
  EXPECT_FALSE(system_->FileExists(parent));

  const std::string file = PathOf("file.txt");
  ASSERT_TRUE(contract::WriteBytes(file, "x"));
  EXPECT_FALSE(system_->CreateDirectory(file));
  EXPECT_FALSE(system_->CreateDirectory(""));
}

TEST_F(FilesContract, FileReadGivesEveryByteOrNothing) {
  const char bytes[] = "ab\0cd\xFF\r\n\x1A tail";
  const std::string binary(bytes, sizeof bytes - 1);
  // ("nul.bin" would name the NUL device on Windows.)
  const std::string withNul = PathOf("embedded.bin");
  ASSERT_TRUE(contract::WriteBytes(withNul, binary));
  EXPECT_EQ(system_->FileRead(withNul), binary);

  std::mt19937 random(7);
  std::string large(1 << 20, '\0');
  for (char& byte : large) byte = static_cast<char>(random());
  const std::string big = PathOf("large.bin");
  ASSERT_TRUE(contract::WriteBytes(big, large));
  EXPECT_EQ(system_->FileRead(big), large);

  const std::string empty = PathOf("empty.bin");
  ASSERT_TRUE(contract::WriteBytes(empty, ""));
  EXPECT_EQ(system_->FileRead(empty), "");
  EXPECT_EQ(system_->FileRead(PathOf("absent.bin")), "");
  EXPECT_EQ(system_->FileRead(""), "");
  EXPECT_EQ(system_->FileRead(dir_.Path()), "");
}

TEST_F(FilesContract, FileDeleteRemovesFilesOnly) {
  const std::string file = PathOf("doomed.txt");
  ASSERT_TRUE(contract::WriteBytes(file, "x"));
  EXPECT_TRUE(system_->FileDelete(file));
  EXPECT_FALSE(system_->FileExists(file));
  EXPECT_FALSE(system_->FileDelete(file));

  const std::string directory = PathOf("kept");
  ASSERT_TRUE(system_->CreateDirectory(directory));
  EXPECT_FALSE(system_->FileDelete(directory));
  EXPECT_TRUE(system_->FileExists(directory));
  EXPECT_FALSE(system_->FileDelete(""));
}

}  // namespace
}  // namespace quillon
