// The program's life and the routines bound to the window's events.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/ui.h"
#include "platform/window_model.h"
#include "routing/split_routes.h"
#include "routing/split_workers.h"

namespace quillon::app {

struct Options {
  std::string home;  // --home DIR, else QUILLON_HOME; empty: the program's directory
  std::string site;  // --site HOST[:PORT], else QUILLON_SITE, else the build default
};

// Reads --home and --site from the arguments (both "--x V" and "--x=V"),
// then the environment through `getenv`, then the defaults.
Options ParseOptions(const std::vector<std::string>& args,
                     const std::function<const char*(const char*)>& getenv);

class Program {
 public:
  Program(platform::System& sys, platform::Ui& ui, std::string siteHost);

  // Binds the window's events to the routines and registers the cleanup.
  void Attach();
  // Runs the routine that the event table binds to (control, event). For the
  // close query the result says whether the window may close.
  bool HandleEvent(platform::Control control, platform::Event event, const std::string& argument);

  // ---- routines ----
  void InitProgramState();
  void FreeProgramState();
  void RunStartup();
  bool ConfirmExit();
  void ShowGlobalPanel();
  void HideGlobalPanel();
  void ShowImportPanel();
  void HideImportPanel();
  void OpenDownloadsPage();
  void OpenTutorialPage();
  void ShowLineDetails();
  void ApplyGlobalLine();
  void ShowRowMenu();
  void CopyRowToInputs();
  void EnableEntry();
  void DisableEntry();
  void DeleteEntry();
  void StartAddWorker();
  void ConfirmImport();
  void ChooseImportFile();
  void TakeDroppedFile(const std::string& paths);

  // The routing of the split list and its workers (run and busy flags).
  routing::SplitRouter& Router() { return router_; }
  routing::SplitWorkers& Workers() { return workers_; }

  const std::string& SiteHost() const { return siteHost_; }

 private:
  platform::System& sys_;
  platform::Ui& ui_;
  std::string siteHost_;
  routing::SplitRouter router_;
  routing::SplitWorkers workers_;
};

// The texts that name the config site.
std::string VersionGateUrl(const std::string& siteHost);
std::string NoticeText(const std::string& siteHost);
std::string StartFailureText(const std::string& siteHost);

// Ends the process with `exitCode` at once: standard output and error are
// flushed, no destructor and no exit handler runs. The program ends so
// because its worker threads are detached and may still use the System, the
// program state and the backends' static objects.
[[noreturn]] void EndProcess(int exitCode);

// The process entry: options, the System backend, the window; ends the
// process with exit code 0.
int ProgramMain(int argc, char** argv);

}  // namespace quillon::app
