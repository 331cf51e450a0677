// RunWindow on Windows: OLE on the window thread, the program's directory as
// the current directory, the window built from the table, its message loop.
#include "platform/window_host.h"

#include <windows.h>
#include <ole2.h>

#include <string>

#include "platform/win32/win32_system.h"
#include "platform/win32/win32_ui.h"

namespace quillon::platform {

int RunWindow(int&, char**, const WindowLayout& layout, const std::function<void(Ui&)>& attach) {
  // Drag and drop, the browse dialog and the shell need OLE on this thread.
  OleInitialize(nullptr);
  // Commands run where the program lies, wherever it was started from.
  const std::string directory = Win32System::ProgramFileDirectory();
  if (!directory.empty()) SetCurrentDirectoryA(directory.c_str());

  // The Ui stays allocated until the process ends: a worker that still runs
  // after the loop has ended finds the window gone and returns at once
  // instead of touching a destroyed object.
  auto* ui = new win32::Win32Ui(layout);
  if (!ui->Created()) return 1;
  if (attach) attach(*ui);
  ui->Show();
  return ui->Run();
}

}  // namespace quillon::platform
