// RunWindow on Qt: the application object, the window built from the table,
// its event loop.
#include "platform/window_host.h"

#include <QApplication>

#include "platform/qt/qt_ui.h"
#include "platform/qt/texts.h"

namespace quillon::platform {

int RunWindow(int& argc, char** argv, const WindowLayout& layout, const std::function<void(Ui&)>& attach) {
  // The application object is never destroyed: the caller ends the process
  // while detached workers may still post to the window thread.
  new QApplication(argc, argv);
  // The program ends through EndProgram (or an accepted close query), never
  // merely because no window is left on screen.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(qt::AppIcon());
  // The Ui stays allocated until the process ends: a worker that still runs
  // after the loop has ended finds the window gone and returns at once
  // instead of touching a destroyed object.
  auto* ui = new qt::QtUi(layout);
  if (attach) attach(*ui);
  ui->Show();
  const int code = QApplication::exec();
  ui->Shutdown();
  return code;
}

}  // namespace quillon::platform
