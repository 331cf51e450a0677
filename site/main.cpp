// quillon-site: the config site on a loopback address.
//
//   quillon-site [--listen ADDR] [--port N] [--root DIR] [--print-port]
//
// Serves until SIGINT or SIGTERM. One line per request goes to stderr. With
// --print-port the port goes to stdout, one line, once the site listens: a
// launcher starts it with --port 0 and waits for that line.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "quillon/site.h"
#include "site_server.h"

#ifndef QUILLON_SITE_SOURCE_ROOT
#define QUILLON_SITE_SOURCE_ROOT ""
#endif

namespace {

void Usage(std::FILE* to) {
  std::fprintf(to,
               "usage: quillon-site [--listen ADDR] [--port N] [--root DIR] [--print-port]\n"
               "  --listen ADDR  numeric address to listen on (default %s)\n"
               "  --port N       port (default %d; 0 takes one the kernel picks)\n"
               "  --root DIR     the site folder holding prepared/ (and optionally config/)\n"
               "                 (default: the site folder beside the program, else the source tree's)\n"
               "  --print-port   print the port on standard output once listening\n",
               quillon::kDefaultSiteAddress, quillon::kDefaultSitePort);
}

// The default root: a folder with prepared/ next to the program (an installed
// copy), else the site folder of the source tree this program was built from.
std::string DefaultRoot(const char* argv0) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::path(argv0);
  for (const fs::path& dir : {self.parent_path() / "site", self.parent_path()}) {
    if (fs::is_directory(dir / "prepared", ec)) return dir.string();
  }
  return QUILLON_SITE_SOURCE_ROOT;
}

bool ParsePort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string listen = quillon::kDefaultSiteAddress;
  int port = quillon::kDefaultSitePort;
  std::string root;
  bool printPort = false;

  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    bool hasValue = false;
    if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    }
    if (arg == "--print-port") {
      printPort = true;
      continue;
    }
    if (const auto eq = arg.find('='); arg.substr(0, 2) == "--" && eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasValue = true;
    } else if (i + 1 < argc) {
      value = argv[i + 1];
    }
    const auto take = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= argc) return false;
      ++i;
      return true;
    };
    if (arg == "--listen" && take()) {
      listen = std::string(value);
    } else if (arg == "--port" && take()) {
      if (!ParsePort(value, port)) {
        std::fprintf(stderr, "quillon-site: bad port: %.*s\n", static_cast<int>(value.size()), value.data());
        return 2;
      }
    } else if (arg == "--root" && take()) {
      root = std::string(value);
    } else {
      std::fprintf(stderr, "quillon-site: unknown or incomplete option: %s\n", argv[i]);
      Usage(stderr);
      return 2;
    }
  }
  if (root.empty()) root = DefaultRoot(argv[0]);
  if (!std::filesystem::is_directory(root)) {
    std::fprintf(stderr, "quillon-site: no site folder at '%s' (use --root DIR)\n", root.c_str());
    return 2;
  }

  // Every thread started from here on inherits the blocked signals; the main
  // thread takes them with sigwait and stops the server in an orderly way.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  quillon::site::SiteServer server({root, ""});
  const int bound = server.Bind(listen, port);
  if (bound < 0) {
    std::fprintf(stderr, "quillon-site: cannot listen on %s:%d\n", listen.c_str(), port);
    return 1;
  }
  std::fprintf(stderr, "quillon-site: serving %s on http://%s:%d%s\n", root.c_str(), listen.c_str(), bound,
               quillon::kDownloadsPagePath);
  std::fflush(stderr);
  if (printPort) {
    std::printf("%d\n", bound);
    std::fflush(stdout);
  }

  bool ran = true;
  std::thread serving([&] {
    ran = server.Run();
    if (!ran) kill(getpid(), SIGTERM);  // wakes the sigwait below
  });
  int sig = 0;
  sigwait(&signals, &sig);
  std::fprintf(stderr, "quillon-site: stopping (signal %d)\n", sig);
  server.Stop();
  serving.join();
  return ran ? 0 : 1;
}
