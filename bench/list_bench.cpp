// The window's list at a large size, run by hand (QT_QPA_PLATFORM=offscreen
// is enough): N rows built as a reload builds them (off the window thread),
// the longest time the window thread is held while they replace the list,
// the whole reload, and the memory they take in the window.
//
//   quillon_bench_list [N]        default 100000
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "app/controls.h"
#include "app/split_rows.h"
#include "app/window_description.h"
#include "platform/fake/fake_system.h"
#include "platform/qt/qt_ui.h"
#include "platform/qt/qt_window.h"

namespace {

using namespace quillon;

long RssKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  QApplication application(argc, argv);
  platform::qt::QtUi ui(app::BuildWindowLayout("127.0.0.1"));
  ui.SetQuitHandler([](int) {});
  ui.Show();
  QCoreApplication::processEvents();

  // The entries as a store of shared lists holds them, and their rows.
  std::vector<routing::SplitEntry> entries;
  entries.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    entries.push_back({"host" + std::to_string(i) + ".cdn.example.test", "198.51.100.1", i % 5 ? "1" : "-1",
                       i % 3 ? "" : "备注" + std::to_string(i)});
  }
  platform::FakeSystem sys;
  sys.adapters = {{"v1", "veth", "", "198.51.100.2", "255.255.255.0", "198.51.100.1"}};
  // The entries stand for what the store's read gives the worker: the
  // window's own memory is what comes on top of them.
  const long emptyKb = RssKb();

  // The reload: rows built on a worker, queued, swapped in on this thread.
  // A timer measures the longest gap between the window thread's turns.
  double longestStallMs = 0;
  auto last = std::chrono::steady_clock::now();
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const auto now = std::chrono::steady_clock::now();
    longestStallMs = std::max(longestStallMs, Ms(now - last));
    last = now;
  });
  tick.start(1);
  const auto start = std::chrono::steady_clock::now();
  std::atomic<bool> done{false};
  std::thread worker([&] {
    lines::LineDirectory lines(sys);
    auto rows = std::make_shared<platform::ListRows>(app::SplitRows(entries, lines));
    ui.Queue([&, rows] {
      ui.ListReplaceRows(app::Control::超级列表框1, std::move(*rows));
      done = true;
    });
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const double reloadMs = Ms(std::chrono::steady_clock::now() - start);
  worker.join();
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();  // the view's own layout after the swap
  tick.stop();
  std::printf("rows=%d\nreload_ms=%.1f\nlongest_window_stall_ms=%.1f\nrss_above_empty_kb=%ld\n",
              ui.ListRowCount(app::Control::超级列表框1), reloadMs, longestStallMs, RssKb() - emptyKb);
  return 0;
}
