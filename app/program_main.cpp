// The process entry: options, the System backend of this build, then the
// window, or an action of the command line without one.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/command_line.h"
#include "app/presenter.h"
#include "app/program.h"
#include "app/window_description.h"
#include "platform/system_factory.h"
#include "platform/window_host.h"

namespace quillon::app {

int ProgramMain(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine command;
  std::string error;
  const bool understood = ParseCommandLine(args, [](const char* name) { return std::getenv(name); }, command, error);
  const std::unique_ptr<platform::System> sys = platform::MakeSystem(command.home);
  if (!understood || command.action != CommandLine::Action::Window) {
    sys->UseParentConsole();
    if (!understood) {
      std::fprintf(stderr, "quillon: %s\n%s", error.c_str(), UsageText().c_str());
      EndProcess(2);
    }
    EndProcess(RunCommandLine(*sys, command, stdout, stderr));
  }
  const platform::WindowLayout layout = BuildWindowLayout(command.site);
  std::unique_ptr<Presenter> presenter;
  platform::RunWindow(argc, argv, layout, [&](platform::Ui& ui) {
    presenter = std::make_unique<Presenter>(*sys, ui, command.site);
    presenter->Attach();
  });
  // Workers are detached and may still be in a pause or a lookup: the
  // process ends here, without destroying the System, the presenter or any
  // static object that they may still touch.
  EndProcess(0);
}

}  // namespace quillon::app
