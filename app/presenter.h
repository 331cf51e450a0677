// The presenter of the one window: it binds this window's controls to the
// routines. It reads the controls on the window thread, hands the routines
// values (on a worker where they look up or route), and turns each outcome
// into the message boxes, list rows and label texts the window shows, in
// the order the window shows them.
#pragma once

#include <atomic>
#include <string>

#include "platform/system.h"
#include "platform/ui.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"
#include "routing/split_workers.h"

namespace quillon::app {

class Presenter {
 public:
  Presenter(platform::System& sys, platform::Ui& ui, std::string siteHost);

  // Binds the window's events to the routines.
  void Attach();
  // Runs the routine that the event table binds to (control, event). For the
  // close query the result says whether the window may close.
  bool HandleEvent(platform::ControlId control, platform::Event event, const std::string& argument);

  // ---- routines ----
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
  // Rebuilds the list from the store, as one step with respect to every
  // writer of the store; false (and nothing done) once the window is gone.
  bool ReloadSplitList();

  routing::SplitStore& Store() { return store_; }
  routing::SplitWorkers& Workers() { return workers_; }

 private:
  void SetStatus(const char* status, const char* done);
  void ShowAddOutcome(const routing::AddOutcome& outcome);
  void ShowRouteReport(const platform::RouteReport& report);

  platform::System& sys_;
  platform::Ui& ui_;
  std::string siteHost_;
  routing::SplitStore store_;
  routing::SplitRouter router_;
  routing::SplitWorkers workers_;
  std::atomic<bool> toldRights_{false};
  std::atomic<bool> toldBusy_{false};
};

}  // namespace quillon::app
