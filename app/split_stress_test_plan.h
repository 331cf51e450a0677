// The plan that both stress tests of the split list's workers follow: the
// presenter over the fakes (app/) and the one with the real Qt window
// (tests/gui/). Test code only.
#pragma once

#include <string>

namespace quillon::app::stress {

constexpr int kAdds = 100;        // add workers started at once, a destination each
constexpr int kStored = 30;       // stored before; the window thread works on these
constexpr int kDeleteEvery = 3;   // every third of them is deleted
constexpr char kStore[] = "/q/分流器配置/http.ini";
constexpr char kLine[] = "198.51.100.1";

inline std::string Added(int i) { return "add" + std::to_string(i) + ".test"; }
inline std::string Stored(int i) { return "stored" + std::to_string(i) + ".test"; }

}  // namespace quillon::app::stress
