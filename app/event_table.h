// Which routine each event of the window runs: one row per binding.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/window_layout.h"

namespace quillon::app {

class Presenter;

struct EventBinding {
  platform::ControlId control;
  platform::Event event;
  std::string_view routine;  // the routine's name, for tests and messages
  // Runs the routine; the result matters only for the close query.
  bool (*run)(Presenter& presenter, const std::string& argument);
};

// Every binding of the window. Events without a row do nothing.
const std::vector<EventBinding>& EventTable();

}  // namespace quillon::app
