// The global line: the line that holds the machine's default route with the
// lowest metric, and its store qj.ini.
#pragma once

#include <string>

#include "platform/system.h"
#include "platform/ui.h"

namespace quillon::routing {

// Click handler of 按钮3 ("确认修改"): after a confirmation, replaces every
// default route by one per line (metric 1 for the line in 组合框2, (p+1)*50
// for the line at position p) and records the metrics in qj.ini.
void ApplyGlobalLine(platform::System& sys, platform::Ui& ui);

// Run once at start: fills the three line selectors and puts back the stored
// default routes.
void RestoreGlobalLine(platform::System& sys, platform::Ui& ui);

}  // namespace quillon::routing
