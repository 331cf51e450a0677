// The bundled config site: a small HTTP server that answers the version gate
// and serves the prepared-split-files page (with the files themselves) and the
// tutorial page. It only reads files below its root folder and writes nothing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::site {

// What one client may make the site do. The site's clients send small GET
// requests (the program's version gate, a browser on two pages), so every
// figure is far above what they need and far below what would hurt.
struct SiteLimits {
  // Bytes of one request's line and headers, and of its body: a request
  // that declares a longer body is refused before any of it is read.
  std::size_t headBytes = 16 * 1024;
  std::size_t payloadBytes = 64 * 1024;
  // The whole of one request (line, headers, body) must arrive within this
  // time, however it is dripped; its response must be taken within the
  // write time.
  std::chrono::milliseconds readTime{5000};
  std::chrono::milliseconds writeTime{5000};
  // Requests on one connection, and the wait for the next one.
  int keepAliveRequests = 8;
  std::chrono::milliseconds keepAliveTime{2000};
  // Connections served at once; one more is closed at once.
  int connections = 32;
};

struct SiteConfig {
  // The site's folder: prepared/*.ini, and optionally config/accepted-versions.txt
  // (without it the site accepts the version it was built with).
  std::string root;
  // The window screenshot shown on the tutorial page; empty means
  // root/../docs/window.png (the repository's docs folder).
  std::string windowImage;
};

// One prepared split file as the downloads page lists it.
struct PreparedFile {
  std::string name;      // file name inside prepared/
  std::uintmax_t size = 0;
  int sections = 0;      // number of [section] headers
  bool newLayout = false;  // some section has a non-empty "wz" key
};

// ---- pure helpers (tested directly) ----

// Whether `version` is one of the versions listed in `listText`: one version
// per line, blanks and CR around a line ignored, empty lines and lines starting
// with '#' skipped. The comparison is exact; an empty version never matches.
bool IsAcceptedVersion(std::string_view listText, std::string_view version);

// Whether `name` may be served from prepared/: a plain file name (no '/',
// no '\\', no "..", no control character) ending in ".ini" with something
// before the extension.
bool IsServableName(std::string_view name);

// Counts the sections of an INI text and notices a non-empty "wz" key.
void ScanIni(std::string_view text, int& sections, bool& newLayout);

// HTML text escaping (& < > " ').
std::string HtmlEscape(std::string_view text);

// Percent-encoding of every byte outside A-Z a-z 0-9 - . _ ~.
std::string UrlEncode(std::string_view text);

// The prepared files of `root`/prepared that the site serves, sorted by name:
// regular files (not symbolic links) whose names pass IsServableName.
std::vector<PreparedFile> ListPreparedFiles(const std::string& root);

// The two pages.
std::string DownloadsPage(const std::vector<PreparedFile>& files);
std::string TutorialPage();

// ---- the server ----

class SiteServer {
 public:
  explicit SiteServer(SiteConfig config, SiteLimits limits = {});
  ~SiteServer();
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  // Binds to host:port (a numeric IPv4 or IPv6 address); port 0 takes a
  // port the kernel picks. Returns the bound port, or -1 when the address
  // cannot be bound. Connections are queued from here on.
  int Bind(const std::string& host, int port);
  // Serves requests until Stop(), each connection on a thread of its own
  // within the limits; returns false when it could not run.
  bool Run();
  // Ends Run() from any thread, also before Run() has started; connections
  // in progress are cut.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillon::site
