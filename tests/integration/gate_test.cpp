// The version gate over real HTTP: the Linux System backend talking to the
// bundled config site, to a server that answers 404 with the body "1", and to
// a port where nothing listens.
#include <httplib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/controls.h"
#include "app/presenter.h"
#include "app/window_description.h"
#include "platform/fake/fake_ui.h"
#include "platform/system_factory.h"
#include "quillon/site.h"
#include "site_server.h"

namespace quillon::app {
namespace {

namespace fs = std::filesystem;
using platform::AnswerOk;
using platform::Event;

class GateTest : public ::testing::Test {
 protected:
  GateTest() {
    home = fs::temp_directory_path() / ("quillon-gate-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home);
    fs::create_directories(home);
  }
  ~GateTest() override { fs::remove_all(home); }

  // Starts the program's startup against `host`; the notice is answered OK.
  platform::FakeUi& Start(const std::string& host) {
    sys = platform::MakeSystem(home.string());
    layout = BuildWindowLayout(host);
    ui = std::make_unique<platform::FakeUi>(layout);
    program = std::make_unique<Presenter>(*sys, *ui, host);
    program->Attach();
    ui->answers = {AnswerOk};
    ui->Fire(Control::主窗口, Event::Created);
    return *ui;
  }
  bool ConfigDirectoryMade() const { return fs::is_directory(home / "分流器配置"); }

  fs::path home;
  std::unique_ptr<platform::System> sys;
  platform::WindowLayout layout;
  std::unique_ptr<platform::FakeUi> ui;
  std::unique_ptr<Presenter> program;
};

// Runs an httplib server on a free loopback port for the life of the object.
struct LoopbackServer {
  explicit LoopbackServer(httplib::Server& s) : server(s) {
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();
  }
  ~LoopbackServer() {
    server.stop();
    thread.join();
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
  httplib::Server& server;
  int port = 0;
  std::thread thread;
};

TEST_F(GateTest, TheBundledSiteLetsThisVersionIn) {
  site::SiteServer site({QUILLON_SITE_SOURCE_ROOT, ""});
  const int port = site.Bind("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  std::thread runner([&] { site.Run(); });
  auto& u = Start("127.0.0.1:" + std::to_string(port));
  site.Stop();
  runner.join();
  ASSERT_EQ(u.boxes.size(), 1u);
  EXPECT_EQ(u.boxes[0].caption, "Quillon用户使用须知：");
  EXPECT_EQ(u.exitCode, -1);
  EXPECT_TRUE(ConfigDirectoryMade());
}

TEST_F(GateTest, A404WhoseBodyIsOnePasses) {
  httplib::Server server;
  std::string target;
  server.Get(kVersionGatePath, [&](const httplib::Request& req, httplib::Response& res) {
    target = req.target;
    res.status = 404;
    res.set_content("1", "text/plain");
  });
  LoopbackServer running(server);
  auto& u = Start(running.Host());
  EXPECT_EQ(target, std::string(kVersionGatePath) + "?v=" + kVersion);
  ASSERT_EQ(u.boxes.size(), 1u);
  EXPECT_EQ(u.boxes[0].caption, "Quillon用户使用须知：");
}

TEST_F(GateTest, AClosedPortFailsTheGate) {
  int freePort = 0;
  {
    httplib::Server probe;
    LoopbackServer running(probe);
    freePort = running.port;
  }  // stopped: nothing listens there now
  auto& u = Start("127.0.0.1:" + std::to_string(freePort));
  ASSERT_EQ(u.boxes.size(), 1u);
  EXPECT_EQ(u.boxes[0].caption, "分流器无法启动");
  EXPECT_EQ(u.exitCode, 0);
  EXPECT_FALSE(ConfigDirectoryMade());
}

}  // namespace
}  // namespace quillon::app
