// Crash safety of the split store: a writer process makes 10 000 writes of
// the kinds Quillon makes (adds, import batches, enable and disable, deletes)
// through the real Linux INI engine and is killed with SIGKILL at random
// moments, then started again where the store left off. After every kill
// the store must hold exactly the content after the last write it finished
// or after the one it was making, never anything else.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/ini_engine.h"
#include "platform/posix/posix_system.h"

namespace quillon::platform {
namespace {

namespace fs = std::filesystem;
using Values = std::vector<System::IniValue>;

constexpr int kWrites = 10000;

std::string Host(int i) { return "host" + std::to_string(i % 300) + ".example.test"; }

// Write number i of the sequence, as the store writer makes it and as the
// model repeats it: what it sets (all at once), or the section it deletes.
struct Write {
  Values values;
  std::string deleted;
};

Write WriteNumber(int i) {
  Write w;
  const int kind = i % 10;
  if (kind < 5) {  // an add: xl, bz, zt of one entry
    w.values = {{Host(i), "xl", "192.0.2.1"}, {Host(i), "bz", "备注" + std::to_string(i)}, {Host(i), "zt", "1"}};
  } else if (kind < 7) {  // disable, enable
    w.values = {{Host(i * 3), "zt", kind == 5 ? "-1" : "1"}};
  } else if (kind < 9) {  // an import batch of 20 entries
    for (int j = 0; j < 20; ++j) {
      const std::string name = Host(i + j * 7);
      w.values.push_back({name, "xl", "198.51.100.1"});
      w.values.push_back({name, "bz", "第" + std::to_string(i) + "批"});
      w.values.push_back({name, "zt", "1"});
    }
  } else {  // a delete
    w.deleted = Host(i * 7);
  }
  return w;
}

void Model(ini::Document& doc, int i) {
  const Write w = WriteNumber(i);
  if (!w.deleted.empty()) {
    doc.DeleteSection(w.deleted);
    return;
  }
  std::vector<ini::Document::Assignment> a;
  for (const auto& v : w.values) a.push_back({v.section, v.key, v.value});
  doc.SetMany(a);
}

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The writer: writes from `first` on, telling the parent each one it ends.
[[noreturn]] void Writer(const std::string& home, const std::string& store, int first, int report) {
  PosixSystem sys(home);
  for (int i = first; i < kWrites; ++i) {
    const Write w = WriteNumber(i);
    const bool ok = w.deleted.empty() ? sys.IniWriteMany(store, w.values) == std::vector<bool>(w.values.size(), true)
                                      : sys.IniWrite(store, w.deleted, std::nullopt, std::nullopt);
    if (!ok) _exit(3);
    if (write(report, &i, sizeof i) != sizeof i) _exit(4);
  }
  _exit(0);
}

TEST(StoreCrashSafety, AKilledWriterLeavesTheOldOrTheNewContent) {
  // tmpfs where there is one: a kill tests the replacement, not the disk.
  const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  const fs::path home = base / ("quillon-crash-" + std::to_string(getpid()));
  fs::create_directories(home);
  const std::string store = (home / "http.ini").string();
  std::mt19937 random(20261208);

  ini::Document model;  // the store after `done` writes
  int done = 0, kills = 0, torn = 0;
  while (done < kWrites && torn == 0) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      Writer(home.string(), store, done, fds[1]);
    }
    close(fds[1]);
    // Let it finish a random number of writes, then kill it wherever it is.
    const int wait = 1 + static_cast<int>(random() % 40);
    int last = done - 1, got = 0;
    while (last < done - 1 + wait && (got = static_cast<int>(read(fds[0], &last, sizeof last))) == sizeof last) {
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    while (read(fds[0], &last, sizeof last) == sizeof last) {
    }
    close(fds[0]);
    ++kills;

    // Finished up to `last`; the next one may have landed too.
    for (int i = done; i <= last; ++i) Model(model, i);
    const std::string on = Bytes(store);
    if (on == model.Content()) {
      done = last + 1;
    } else if (last + 1 < kWrites && (Model(model, last + 1), on == model.Content())) {
      done = last + 2;
    } else {
      ++torn;
      ADD_FAILURE() << "torn store after write " << last;
    }
    EXPECT_EQ(ini::Document(on).SectionNames(), model.SectionNames());
  }
  std::printf("store crash safety: %d writes, %d kills, %d torn stores\n", done, kills, torn);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(done, kWrites);
  fs::remove_all(home);
}

}  // namespace
}  // namespace quillon::platform
