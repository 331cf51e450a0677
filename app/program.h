// The program's entry, the config site's addresses, and its end.
#pragma once

#include <string>

namespace quillon::app {

// The config site's addresses for the host `siteHost` (HOST[:PORT]).
std::string VersionGateUrl(const std::string& siteHost);
std::string DownloadsPageUrl(const std::string& siteHost);
std::string TutorialPageUrl(const std::string& siteHost);

// Ends the process with `exitCode` at once: standard output and error are
// flushed, no destructor and no exit handler runs. The program ends so
// because its worker threads are detached and may still use the System, the
// presenter and the backends' static objects.
[[noreturn]] void EndProcess(int exitCode);

// The process entry: options, the System backend, the window or an action of
// the command line; ends the process.
int ProgramMain(int argc, char** argv);

}  // namespace quillon::app
