// The window as data: every control with its name, kind, parent, caption,
// geometry and initial visibility, the list columns and the context menu.
// Both UI backends build the window from this table; tests read it too.
#pragma once

#include <string>

#include "app/controls.h"
#include "platform/window_layout.h"
#include "quillon/version.h"

namespace quillon::app {

// The window description; the texts that name the config site use `siteHost`.
platform::WindowLayout BuildWindowLayout(const std::string& siteHost);

}  // namespace quillon::app
