// The bundled config site: a small HTTP server that answers the version gate
// and serves the prepared-split-files page (with the files themselves) and the
// tutorial page. It only reads files below its root folder and writes nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::site {

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
  explicit SiteServer(SiteConfig config);
  ~SiteServer();
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  // Binds to host:port; port 0 takes a free port. Returns the bound port, or
  // -1 when the address cannot be bound.
  int Bind(const std::string& host, int port);
  // Serves requests until Stop(); returns false when it could not run.
  bool Run();
  // Ends Run() from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillon::site
