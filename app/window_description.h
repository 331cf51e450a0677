// The window as data: every control with its name, kind, parent, caption,
// geometry and initial visibility, the list columns and the context menu.
// Both UI backends build the window from this table; tests read it too.
#pragma once

#include <string>

#include "platform/window_model.h"
#include "quillon/version.h"

namespace quillon::app {

// The window description; the texts that name the config site use `siteHost`.
platform::WindowSpec BuildWindowSpec(const std::string& siteHost);

}  // namespace quillon::app
