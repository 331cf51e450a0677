// The Linux INI store on disk: atomic replacement, permissions, links,
// outside changes and concurrent writers. The behaviour that both backends
// share is tested in tests/contract.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_system.h"

namespace quillon::platform {
namespace {

class PosixIniStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-ini-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const auto& name : Names()) ::unlink((dir_ + "/" + name).c_str());
    ::rmdir(dir_.c_str());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir_.c_str())) {
      while (const dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(d);
    }
    return names;
  }
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string dir_;
  PosixSystem system_;
};

TEST_F(PosixIniStore, AWriteReplacesTheFileAndLeavesNoTemporaryFile) {
  const std::string file = dir_ + "/store.ini";
  Put(file, "[S]\r\nk=1\r\n");
  ASSERT_EQ(::chmod(file.c_str(), 0660), 0);
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);

  ASSERT_TRUE(system_.IniWrite(file, "S", "k", "2"));

  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "the file was changed in place, not replaced";
  EXPECT_EQ(after.st_mode & 07777, 0640u) << "its mode, less write permission for others";
  EXPECT_EQ(Get(file), "[S]\r\nk=2\r\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"store.ini"});

  const std::string made = dir_ + "/new.ini";
  ASSERT_TRUE(system_.IniWrite(made, "S", "k", "1"));
  ASSERT_EQ(::stat(made.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
}

TEST_F(PosixIniStore, AFailedWriteLeavesTheOldFileWholeAndNoTemporaryFile) {
  const std::string file = dir_ + "/store.ini";
  Put(file, "[S]\nk=1\n");
  // A file size limit makes the write of the new content fail part way, as a
  // full disk would (and works for root, who may write anywhere).
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = system_.IniWrite(file, "S", "k", std::string(8000, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(Get(file), "[S]\nk=1\n");
  EXPECT_EQ(system_.IniRead(file, "S", "k"), "1");
  EXPECT_EQ(Names(), std::vector<std::string>{"store.ini"});
}

TEST_F(PosixIniStore, ALinkWhereAStoreShouldBeIsNeitherReadNorWrittenThrough) {
  // As planted in a shared directory: a link to another user's file, and a
  // link to a file that is not there yet.
  const std::string real = dir_ + "/other-users.ini";
  const std::string link = dir_ + "/link.ini";
  const std::string dangling = dir_ + "/dangling.ini";
  Put(real, "[S]\nk=1\n");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "/absent.ini").c_str(), dangling.c_str()), 0);

  EXPECT_EQ(system_.IniRead(link, "S", "k", "fallback"), "fallback");
  EXPECT_TRUE(system_.IniSections(link).empty());
  EXPECT_FALSE(system_.IniWrite(link, "S", "k", "2"));
  EXPECT_EQ(system_.IniWriteMany(link, {{"S", "k", "2"}}), std::vector<bool>{false});
  EXPECT_FALSE(system_.IniWrite(link, "S", std::nullopt, std::nullopt));
  EXPECT_FALSE(system_.IniWrite(dangling, "S", "k", "2"));

  EXPECT_EQ(Get(real), "[S]\nk=1\n");
  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  auto names = Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dangling.ini", "link.ini", "other-users.ini"}));
}

TEST_F(PosixIniStore, ReadsSeeChangesMadeByOtherPrograms) {
  const std::string file = dir_ + "/store.ini";
  Put(file, "[S]\nk=1\n");
  EXPECT_EQ(system_.IniRead(file, "S", "k"), "1");
  Put(file, "[S]\nk=22\n[T]\n");
  EXPECT_EQ(system_.IniRead(file, "S", "k"), "22");
  EXPECT_EQ(system_.IniSections(file), (std::vector<std::string>{"S", "T"}));
  ::unlink(file.c_str());
  EXPECT_EQ(system_.IniRead(file, "S", "k", "gone"), "gone");
  EXPECT_TRUE(system_.IniSections(file).empty());
}

TEST_F(PosixIniStore, AFilesPiecesAreItsBytesInOrder) {
  const std::string file = dir_ + "/big.ini";
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes += static_cast<char>('a' + i % 26);
  Put(file, bytes);
  std::string joined;
  int pieces = 0;
  const auto collect = [&](std::string_view piece) {
    joined += piece;
    ++pieces;
  };
  system_.FileReadPieces(file, collect);
  EXPECT_EQ(joined, bytes);
  EXPECT_GT(pieces, 1);  // never the whole file at once
  joined.clear();
  system_.FileReadPieces(dir_ + "/missing.ini", collect);
  system_.FileReadPieces(dir_, collect);  // a directory
  EXPECT_EQ(joined, "");
}

TEST_F(PosixIniStore, ConcurrentWritersLoseNoChange) {
  const std::string file = dir_ + "/store.ini";
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([this, &file, t] {
      for (int i = 0; i < 25; ++i) system_.IniWrite(file, "w" + std::to_string(t), "k" + std::to_string(i), "v");
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(system_.IniSections(file).size(), 4u);
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      EXPECT_EQ(system_.IniRead(file, "w" + std::to_string(t), "k" + std::to_string(i)), "v") << t << " " << i;
    }
  }
}

TEST_F(PosixIniStore, UtfEightBytesPassThrough) {
  const std::string file = dir_ + "/store.ini";
  ASSERT_TRUE(system_.IniWrite(file, "\xE4\xB8\xAD\xE6\x96\x87", "bz", "\xE5\x80\xBC \xF0\x9F\x98\x80"));
  EXPECT_EQ(system_.IniSections(file), std::vector<std::string>{"\xE4\xB8\xAD\xE6\x96\x87"});
  EXPECT_EQ(system_.IniRead(file, "\xE4\xB8\xAD\xE6\x96\x87", "BZ"), "\xE5\x80\xBC \xF0\x9F\x98\x80");
  EXPECT_EQ(Get(file), "[\xE4\xB8\xAD\xE6\x96\x87]\nbz=\xE5\x80\xBC \xF0\x9F\x98\x80\n");
}

TEST_F(PosixIniStore, FilesFromWindowsAreReadAsUtf8AndLeftUntouched) {
  // GBK (中文 / 备注 in code page 936), UTF-16LE with its mark, UTF-8 with its mark.
  const std::string gbk = "[\xD6\xD0\xCE\xC4.test]\r\nbz=\xB1\xB8\xD7\xA2\r\n";
  const std::string utf16 = std::string("\xFF\xFE[\0a\0]\0\r\0\n\0b\0z\0=\0\x07\x59\xe8\x6c", 22);
  const std::string utf8 = "\xEF\xBB\xBF[a]\nbz=\xE5\xA4\x87\xE6\xB3\xA8\n";
  for (const auto& [name, bytes] : {std::pair{"gbk.ini", gbk}, {"utf16.ini", utf16}, {"utf8.ini", utf8}}) {
    const std::string file = dir_ + "/" + name;
    Put(file, bytes);
    const auto sections = system_.IniSections(file);
    ASSERT_EQ(sections.size(), 1u) << name;
    EXPECT_EQ(system_.IniRead(file, sections[0], "bz"), "\xE5\xA4\x87\xE6\xB3\xA8") << name;  // 备注
    EXPECT_EQ(Get(file), bytes) << name << " was changed by reading it";
  }
  EXPECT_EQ(system_.IniSections(dir_ + "/gbk.ini"), std::vector<std::string>{"\xE4\xB8\xAD\xE6\x96\x87.test"});
}

TEST(PosixDecodeText, ListsInEachEncodingReadAsTheSameText) {
  PosixSystem sys;
  const std::string text = "# \xE5\xA4\x87\xE6\xB3\xA8\r\na.test\r\n";  // # 备注, a.test
  EXPECT_EQ(sys.DecodeText("# \xB1\xB8\xD7\xA2\r\na.test\r\n"), text);        // GBK
  EXPECT_EQ(sys.DecodeText("\xEF\xBB\xBF" + text), text);                          // UTF-8, marked
  EXPECT_EQ(sys.DecodeText(text), text);                                            // UTF-8
  EXPECT_EQ(sys.DecodeText(std::string("\xFF\xFE#\0 \0\x07\x59\xe8\x6c\r\0\n\0a\0.\0t\0e\0s\0t\0\r\0\n\0", 30)),
            text);  // UTF-16LE
}

TEST_F(PosixIniStore, ALongValueIsCutAtTheLastWholeCharacter) {
  // After "xx" the 10,239-byte limit falls inside a three- and a four-byte
  // character alike; what comes back is still UTF-8.
  const std::string file = dir_ + "/store.ini";
  for (const std::string ch : {"\xE4\xB8\xAD", "\xF0\x9F\x98\x80"}) {
    std::string value = "xx";
    while (value.size() <= kIniValueLimit) value += ch;
    const std::string expected = value.substr(0, 2 + (kIniValueLimit - 2) / ch.size() * ch.size());
    ASSERT_TRUE(system_.IniWrite(file, "S", "k", value));
    EXPECT_EQ(system_.IniRead(file, "S", "k"), expected) << ch.size();
    EXPECT_EQ(system_.IniRead(file, "S", "missing", value), expected) << "the fallback, " << ch.size();
  }
}

TEST(BaseDirectory, BesideTheProgramInABuildTreeElseTheUsersConfiguration) {
  EXPECT_EQ(ChooseBaseDirectory("/work/build/app", true, "/home/u/.cfg", "/home/u"), "/work/build/app");
  EXPECT_EQ(ChooseBaseDirectory("/usr/bin", true, "/home/u/.cfg", "/home/u"), "/home/u/.cfg/quillon")
      << "an installed program, even for root";
  EXPECT_EQ(ChooseBaseDirectory("/opt/q", false, nullptr, "/home/u"), "/home/u/.config/quillon");
  EXPECT_EQ(ChooseBaseDirectory("/opt/q", false, "relative", "/home/u"), "/home/u/.config/quillon");
  EXPECT_EQ(ChooseBaseDirectory("/opt/q", false, "", nullptr), "/opt/q");
}

TEST_F(PosixIniStore, OnlyARegularFileIsAStore) {
  // A pipe would hold a read for ever.
  const std::string pipe = dir_ + "/pipe.ini";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& path : {dir_, pipe}) {
    EXPECT_FALSE(system_.IniWrite(path, "S", "k", "v")) << path;
    EXPECT_TRUE(system_.IniSections(path).empty()) << path;
    EXPECT_EQ(system_.IniRead(path, "S", "k", "fallback"), "fallback") << path;
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"pipe.ini"});
}

TEST_F(PosixIniStore, TheRoutingLockIsNeverOpenedThroughALink) {
  const std::string target = dir_ + "/other-users-file";
  ASSERT_EQ(::symlink(target.c_str(), (dir_ + "/routing.lock").c_str()), 0);
  system_.LockRouting(dir_ + "/routing.lock");
  EXPECT_EQ(Names(), std::vector<std::string>{"routing.lock"}) << "the link's target was made";
}

// Config directories below a scratch directory of the test's (0700, in /tmp,
// whose sticky bit keeps others from swapping it).
class PosixConfigDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-home-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // Makes the directory with exactly `mode` (whatever the umask).
  std::string Make(const std::string& name, mode_t mode) const {
    const std::string path = dir_ + "/" + name;
    EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
    EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
    return path;
  }
  std::string Problem(const std::string& path) { return system_.ConfigDirectoryProblem(path); }
  static void ExpectOneLineNaming(const std::string& problem, const std::string& path) {
    EXPECT_NE(problem.find(path), std::string::npos) << problem;
    EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
  }

  std::string dir_;
  PosixSystem system_;
};

TEST_F(PosixConfigDirectory, TheUsersOwnDirectoryHoldsTheStoresWhetherMadeYetOrNot) {
  const std::string home = Make("home", 0755);
  EXPECT_EQ(Problem(home + "/cfg"), "");
  Make("home/cfg", 0700);
  EXPECT_EQ(Problem(home + "/cfg"), "");
  EXPECT_EQ(Problem(home + "/../home/./cfg/"), "");
  // A link on the way is followed to a sound directory.
  ASSERT_EQ(::symlink("home", (dir_ + "/via").c_str()), 0);
  EXPECT_EQ(Problem(dir_ + "/via/cfg"), "");
  // Others may write into a sticky directory, but not rename what is ours.
  Make("shared", 01777);
  EXPECT_EQ(Problem(dir_ + "/shared/cfg"), "");
}

TEST_F(PosixConfigDirectory, ADirectoryThatOthersMayWriteOrSwapIsRefusedInOneLine) {
  const std::string groupHome = Make("group", 0770);
  ExpectOneLineNaming(Problem(groupHome + "/cfg"), groupHome);
  Make("group/cfg", 0700);
  ExpectOneLineNaming(Problem(groupHome + "/cfg"), groupHome);

  const std::string home = Make("home", 0755);
  const std::string open = Make("home/open", 0775);
  ExpectOneLineNaming(Problem(open), "chmod go-w " + open);

  Make("home/real", 0700);
  ASSERT_EQ(::symlink("real", (home + "/cfg").c_str()), 0);
  ExpectOneLineNaming(Problem(home + "/cfg"), "symbolic link");

  // A link on the way that leads through a directory others may write.
  const std::string everyone = Make("everyone", 0777);
  Make("everyone/home", 0700);
  ASSERT_EQ(::symlink((everyone + "/home").c_str(), (dir_ + "/via").c_str()), 0);
  ExpectOneLineNaming(Problem(dir_ + "/via/cfg"), everyone);
}

TEST_F(PosixConfigDirectory, ADirectoryOfAnotherUserIsRefused) {
  if (::geteuid() != 0) {
    if (std::getenv("QUILLON_ALLOW_SKIP") != nullptr) GTEST_SKIP() << "needs root to give a directory away";
    FAIL() << "needs root to give a directory away (QUILLON_ALLOW_SKIP=1 skips)";
  }
  const uid_t nobody = 65534;
  const std::string home = Make("theirs", 0755);
  ASSERT_EQ(::chown(home.c_str(), nobody, nobody), 0);
  ExpectOneLineNaming(Problem(home + "/cfg"), "uid 65534");

  const std::string mine = Make("mine", 0755);
  const std::string config = Make("mine/cfg", 0700);
  ASSERT_EQ(::chown(config.c_str(), nobody, nobody), 0);
  ExpectOneLineNaming(Problem(config), "uid 65534");
}

TEST_F(PosixConfigDirectory, AMissingHomeIsMadeForTheUserAlone) {
  const std::string home = dir_ + "/made/home";
  PosixSystem system(home + "/");
  EXPECT_EQ(system.ProgramDirectory(), home);
  const std::string config = home + "/\xE5\x88\x86\xE6\xB5\x81\xE5\x99\xA8\xE9\x85\x8D\xE7\xBD\xAE";  // 分流器配置
  ASSERT_TRUE(system.CreateDirectory(config));
  for (const std::string& path : {dir_ + "/made", home, config}) {
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
    EXPECT_EQ(info.st_mode & 07777, 0700u) << path;
  }
  EXPECT_EQ(system.ConfigDirectoryProblem(config), "");
  EXPECT_TRUE(system.IniWrite(config + "/http.ini", "example.test", "xl", "192.0.2.1"));
}

}  // namespace
}  // namespace quillon::platform
