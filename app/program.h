// The program's life and the routines bound to the window's events.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/ui.h"
#include "platform/window_model.h"

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
  void TakeDroppedFile(const std::string& paths);

  // Where the re-apply worker will be started; it does nothing yet.
  void StartReapplyWorker();

  // The run and busy flags shared with the re-apply worker.
  std::atomic<int> runFlag{0};
  std::atomic<int> busyFlag{0};

  const std::string& SiteHost() const { return siteHost_; }

 private:
  platform::System& sys_;
  platform::Ui& ui_;
  std::string siteHost_;
  // The working list of a routing run (records) and its seen text.
  std::vector<std::string> workingList_;
  std::string seenText_;
};

// The texts that name the config site.
std::string VersionGateUrl(const std::string& siteHost);
std::string NoticeText(const std::string& siteHost);
std::string StartFailureText(const std::string& siteHost);

// The process entry: options, the System backend, the window; returns 0.
int ProgramMain(int argc, char** argv);

}  // namespace quillon::app
