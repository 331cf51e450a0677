// The window alone, built from the description and run by RunWindow, with no
// program behind it: for screenshots of the layout.
//   QUILLON_DEMO_PANELS=1  both panels shown (import, global: only that one)
//   QUILLON_DEMO_ROWS=N    N example rows in the list
#include <cstdlib>
#include <string>

#include "app/window_description.h"
#include "platform/window_host.h"

int main(int argc, char** argv) {
  using quillon::app::Control;
  using quillon::platform::Event;
  const auto spec = quillon::app::BuildWindowLayout("127.0.0.1:8080");
  const char* panels = std::getenv("QUILLON_DEMO_PANELS");
  const char* rowsText = std::getenv("QUILLON_DEMO_ROWS");
  const int rows = rowsText != nullptr ? std::atoi(rowsText) : 0;
  return quillon::platform::RunWindow(argc, argv, spec, [&](quillon::platform::Ui& ui) {
    ui.SetEventSink([&ui, panels, rows](quillon::platform::ControlId, Event e, const std::string&) {
      if (e != Event::Created) return true;
      for (int i = 0; i < rows; ++i) {
        const std::string n = std::to_string(i + 1);
        ui.ListAppendFilledRow(Control::超级列表框1,
                               {"", "host" + n + ".example.test", "192.0.2.1", "以太网 " + n,
                                i % 3 == 2 ? "关闭" : "开启", "备注" + n},
                               0);
      }
      const std::string shown = panels != nullptr ? panels : "";
      if (shown == "1" || shown == "import") ui.SetVisible(Control::分组框2, true);
      if (shown == "1" || shown == "global") ui.SetVisible(Control::分组框1, true);
      return true;
    });
  });
}
