// RunWindow on Windows: OLE on the window thread, the program's directory as
// the current directory, the window built from the table, its message loop.
#include "platform/window_host.h"

#include <windows.h>
#include <ole2.h>

#include <string>

#include "platform/win32/win32_ui.h"

namespace quillon::platform {

namespace {

// The directory of the running program file.
std::string ProgramFileDirectory() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      const std::size_t separator = path.find_last_of("\\/");
      return separator == std::string::npos ? std::string() : path.substr(0, separator);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

int RunWindow(int&, char**, const WindowSpec& spec, const std::function<void(Ui&)>& attach) {
  // Drag and drop, the browse dialog and the shell need OLE on this thread.
  OleInitialize(nullptr);
  // Commands run where the program lies, wherever it was started from.
  const std::string directory = ProgramFileDirectory();
  if (!directory.empty()) SetCurrentDirectoryA(directory.c_str());

  // The Ui stays allocated until the process ends: a worker that still runs
  // after the loop has ended finds the window gone and returns at once
  // instead of touching a destroyed object.
  auto* ui = new win32::Win32Ui(spec);
  if (!ui->Created()) return 1;
  if (attach) attach(*ui);
  ui->Show();
  return ui->Run();
}

}  // namespace quillon::platform
