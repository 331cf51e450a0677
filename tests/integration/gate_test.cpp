// The version gate over real HTTP: the Linux System backend talking to the
// bundled config site, to a server that answers 404 with the body "1", to
// a port where nothing listens, and to servers that drip, redirect or send
// a body without end.
#include <httplib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/controls.h"
#include "app/messages.h"
#include "app/presenter.h"
#include "app/window_description.h"
#include "platform/fake/fake_ui.h"
#include "platform/system_factory.h"
#include "quillon/site.h"
#include "site_server.h"
#include "tests/contract/http_test_server.h"
#include "tests/contract/process_memory.h"

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

  // Starts the program's startup against `host`; the notice (and the boxes
  // after it) answered with `answers`.
  platform::FakeUi& Start(const std::string& host, std::deque<int> answers = {AnswerOk}) {
    sys = platform::MakeSystem(home.string());
    layout = BuildWindowLayout(host);
    ui = std::make_unique<platform::FakeUi>(layout);
    // The window thread's waits take their time, as the real window's do.
    ui->onDelay = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    program = std::make_unique<Presenter>(*sys, *ui, host);
    program->Attach();
    ui->answers = std::move(answers);
    ui->Fire(Control::主窗口, Event::Created);
    return *ui;
  }
  bool ConfigDirectoryMade() const { return fs::is_directory(home / "分流器配置"); }

  // The start against `server`: it ends with the start-failure box alone and
  // exit code 0, within the request's timeout and some slack.
  void ExpectStartFailsInTime(const test::HttpTestServer& server) {
    ASSERT_TRUE(server.Listening());
    const auto start = std::chrono::steady_clock::now();
    auto& u = Start("127.0.0.1:" + std::to_string(server.Port()));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(8));
    ASSERT_EQ(u.boxes.size(), 1u);
    EXPECT_EQ(u.boxes[0].caption, kStartFailureCaption);
    EXPECT_EQ(u.exitCode, 0);
    EXPECT_FALSE(ConfigDirectoryMade());
  }

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

TEST_F(GateTest, AConfigDirectoryOthersCanChangeEndsTheStartWithABox) {
  httplib::Server server;
  server.Get(kVersionGatePath, [](const httplib::Request&, httplib::Response& res) { res.set_content("1", "text/plain"); });
  LoopbackServer running(server);
  fs::permissions(home, fs::perms::group_write, fs::perm_options::add);
  auto& u = Start(running.Host(), {AnswerOk, AnswerOk});
  ASSERT_EQ(u.boxes.size(), 2u);
  EXPECT_EQ(u.boxes[0].caption, "Quillon用户使用须知：");
  EXPECT_EQ(u.boxes[1].text.rfind(kUnsafeConfigDirectory, 0), 0u) << u.boxes[1].text;
  EXPECT_NE(u.boxes[1].text.find(home.string()), std::string::npos) << u.boxes[1].text;
  EXPECT_EQ(u.exitCode, 0);
  EXPECT_FALSE(ConfigDirectoryMade());
}

// ---- servers that misbehave -------------------------------------------------

TEST_F(GateTest, ADrippingServerFailsTheGateWithinTheTimeout) {
  // Whole, this answer would pass the gate after about 15 s: "1" and then
  // NUL bytes, one every 250 ms.
  test::HttpReply drip{{test::HttpResponse(200, "OK", "", false) + "1"}, std::chrono::milliseconds(250)};
  drip.pieces.resize(61, std::string(1, '\0'));
  test::HttpTestServer server({drip});
  ExpectStartFailsInTime(server);
  // Meanwhile the window thread went on handling the window's events.
  EXPECT_GT(ui->delayedMs, 2000);
}

TEST_F(GateTest, ARedirectIsNotFollowed) {
  // The place it points to would let the program in.
  const std::string gate = std::string(kVersionGatePath) + "?v=" + kVersion;
  test::HttpTestServer server({{{test::HttpResponse(302, "Found", "", true, "Location: " + gate + "&moved\r\n")}},
                               {{test::HttpResponse(200, "OK", "1")}}});
  ExpectStartFailsInTime(server);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(GateTest, ABodyWithoutEndFailsTheGateHoldingLittleMemory) {
  // "1" and then 256 MiB of NUL bytes, without a length.
  test::HttpTestServer server({{{test::HttpResponse(200, "OK", "1", false)}, {}, std::size_t{256} << 20}});
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const std::size_t before = test::PeakResidentBytes();
  ASSERT_GT(before, 0u);
  ExpectStartFailsInTime(server);
  EXPECT_LT(test::PeakResidentBytes() - before, std::size_t{16} << 20);
}

}  // namespace
}  // namespace quillon::app
