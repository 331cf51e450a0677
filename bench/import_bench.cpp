// Benchmark of the import of prepared split files with the real logic and
// the Linux INI engine: for each N, a prepared file of N sections imported
// into an empty split store, then the same file again onto one chosen line
// (every section then exists and has its line rewritten in place), then a
// shared list of N lines (names, addresses, prefixes, the resolver's form
// and comments) onto a line into an empty store. It reports the wall time of
// each and the number of times the store file was replaced on disk, counted
// with inotify (a replacement is a rename onto http.ini).
//
//   quillon_bench_import [N...]      (default: 1000 10000)
//
// Needs no root: nothing here touches the network. Output: one line per
// import, "N=... run=first|again|list ms=... replacements=... stored=...".
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "import/prepared_import.h"
#include "platform/system_factory.h"
#include "routing/config_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace quillon;

// The renames onto `name` in the directory watched by `fd` since the last call.
int Replacements(int fd, const std::string& name) {
  int count = 0;
  alignas(inotify_event) char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) return count;
    for (char* p = buffer; p < buffer + got;) {
      const auto* e = reinterpret_cast<const inotify_event*>(p);
      if ((e->mask & IN_MOVED_TO) && e->len > 0 && name == e->name) ++count;
      p += sizeof(inotify_event) + e->len;
    }
  }
}

void Measure(int n) {
  char pattern[] = "/tmp/quillon-import-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return;
  const fs::path home = pattern;
  const auto sys = platform::MakeSystem(home.string());
  const std::string config = routing::ConfigDirectory(*sys);
  fs::create_directory(config);
  const fs::path prepared = home / "prepared.ini";
  {
    std::ofstream out(prepared, std::ios::binary);
    for (int i = 0; i < n; ++i) {
      out << "[host" << i << ".example.test]\r\nxl=192.0.2." << (1 + i % 3) << "\r\nzt=1\r\nbz=备注" << i << "\r\n";
    }
  }
  const int fd = inotify_init1(IN_NONBLOCK);
  // Watching both ends of a rename keeps the kernel from folding the repeated
  // "moved to http.ini" events into one.
  inotify_add_watch(fd, config.c_str(), IN_MOVED_FROM | IN_MOVED_TO);
  routing::SplitStore store = routing::SplitStore::Main(*sys);
  for (const std::string run : {"first", "again"}) {
    const auto start = std::chrono::steady_clock::now();
    const importing::ImportReport report =
        importing::ImportSplitFile(*sys, store, prepared.string(), run == "first" ? "" : "198.51.100.1");
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("N=%d run=%s ms=%.1f replacements=%d stored=%d\n", n, run.c_str(), ms, Replacements(fd, "http.ini"),
                report.stored);
  }
  // A shared list of N lines into an empty store.
  fs::remove(config + "/http.ini");
  const fs::path list = home / "list.txt";
  {
    std::ofstream out(list, std::ios::binary);
    for (int i = 0; i < n; ++i) {
      switch (i % 10) {
        case 0: out << "# part " << i << "\n"; break;
        case 1: out << "server=/a" << i << ".example.test/b" << i << ".example.test/198.51.100.53\n"; break;
        case 2: out << "11." << (i >> 16 & 255) << "." << (i >> 8 & 255) << "." << (i & 255) << "\n"; break;
        case 3: out << "12." << (i >> 8 & 255) << "." << (i & 255) << ".0/24\n"; break;
        default: out << "host" << i << ".cdn.example.test\n";
      }
    }
  }
  routing::SplitStore fresh = routing::SplitStore::Main(*sys);
  Replacements(fd, "http.ini");
  const auto start = std::chrono::steady_clock::now();
  const importing::ImportReport report = importing::ImportSplitFile(*sys, fresh, list.string(), "198.51.100.1");
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("N=%d run=list ms=%.1f replacements=%d stored=%d\n", n, ms, Replacements(fd, "http.ini"),
              report.stored);
  close(fd);
  fs::remove_all(home);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {1000, 10000};
  for (const int n : sizes) {
    if (n > 0) Measure(n);
  }
  return 0;
}
