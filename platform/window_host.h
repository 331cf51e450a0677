// Runs the one window of the program with the UI backend of this build.
#pragma once

#include <functional>

#include "platform/ui.h"
#include "platform/window_layout.h"

namespace quillon::platform {

// Creates the toolkit's application object and the window from `layout`
// (centred, fixed size, both panels as the table says), calls `attach` with
// the window's Ui so the program can set its event sink and cleanup, shows
// the window, fires Event::Created on the window thread, and runs the event
// loop until EndProgram. Returns the exit code given to EndProgram.
int RunWindow(int& argc, char** argv, const WindowLayout& layout, const std::function<void(Ui&)>& attach);

}  // namespace quillon::platform
