#include "app/program.h"

#include <cstdio>
#include <cstdlib>

#include "quillon/site.h"
#include "quillon/version.h"

namespace quillon::app {

std::string VersionGateUrl(const std::string& siteHost) {
  return "http://" + siteHost + kVersionGatePath + "?v=" + kVersion;
}
std::string DownloadsPageUrl(const std::string& siteHost) { return "http://" + siteHost + kDownloadsPagePath; }
std::string TutorialPageUrl(const std::string& siteHost) { return "http://" + siteHost + kTutorialPagePath; }

void EndProcess(int exitCode) {
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

}  // namespace quillon::app
