#include "app/program.h"

#include <cstdio>
#include <cstdlib>

#include "quillon/version.h"

namespace quillon::app {

std::string VersionGateUrl(const std::string& siteHost) {
  return "http://" + siteHost + "/flq/v.php?v=" + kVersion;
}
std::string DownloadsPageUrl(const std::string& siteHost) { return "http://" + siteHost + "/flq/pz.php"; }
std::string TutorialPageUrl(const std::string& siteHost) { return "http://" + siteHost + "/flq/jc.php"; }

void EndProcess(int exitCode) {
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

}  // namespace quillon::app
