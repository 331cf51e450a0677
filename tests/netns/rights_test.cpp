// Only the route helper changes routes: the real program, run by test users
// (tests/netns/installed_helper.h) with their own stores, against the helper
// as the package installs it. A user outside the helper's group is told how
// to join, once, and nothing changes; a member routes and clears exactly
// Quillon's routes; and the window of a member holds no capability that
// code planted through Qt's environment could use.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "app/presenter.h"
#include "app/window_description.h"
#include "platform/fake/fake_ui.h"
#include "platform/fake/forwarding_system.h"
#include "platform/posix/route_helper_client.h"
#include "platform/system_factory.h"
#include "tests/netns/installed_helper.h"
#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

using ::testing::Contains;
using ::testing::StartsWith;
using Texts = std::vector<std::string>;

constexpr char kStore[] = "[198.18.5.5]\nxl=192.0.2.1\nzt=1\n";
constexpr char kJoinOutsider[] = "you are not in the group qroute-users: sudo adduser qroute-x qroute-users, then log in again";

class NetnsRights : public InstalledHelperTest {
 protected:
  void TearDown() override {
    for (const std::string& home : homes_) std::filesystem::remove_all(home);
  }

  // A base directory of `user`'s own (0700) whose store holds one address
  // entry on the line 192.0.2.1.
  std::string HomeOf(const TestUser& user) {
    const std::string home = machine.directory + "/home-" + user.name + "-" + std::to_string(homes_.size());
    const std::string config = home + "/分流器配置";
    std::filesystem::create_directories(config);
    std::ofstream(config + "/http.ini") << kStore;
    for (const std::string& path : {home, config, config + "/http.ini"}) {
      EXPECT_EQ(chown(path.c_str(), user.uid, user.gid), 0) << path;
      EXPECT_EQ(chmod(path.c_str(), path == home || path == config ? 0700 : 0600), 0) << path;
    }
    homes_.push_back(home);
    return home;
  }

  ProgramRun QuillonAs(const TestUser& user, const std::string& home, const Texts& args) {
    Texts argv{"env", std::string(platform::kRouteHelperVariable) + "=" + machine.helper, QUILLON_PROGRAM, "--home", home};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(AsUserCommand(user, argv));
  }

  std::vector<std::string> homes_;
};

TEST_F(NetnsRights, TheCommandLineOfAUserOutsideTheGroupChangesNothingAndSaysHowToJoin) {
  const std::string home = HomeOf(machine.outsider);
  const Texts before = RouteTexts();
  const ProgramRun r = QuillonAs(machine.outsider, home, {"--apply"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, std::string("quillon: no right to change routes: ") + kJoinOutsider + "\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(RouteTexts(), before);
  EXPECT_EQ(ReadFileText(home + "/分流器配置/http.ini"), kStore);
}

TEST_F(NetnsRights, AMemberRoutesItsListAndClearsExactlyQuillonsRoutes) {
  const std::string home = HomeOf(machine.member);
  IpOk({"route", "add", "198.18.9.0/24", "via", "192.0.2.1", "proto", "static"});
  ProgramRun r = QuillonAs(machine.member, home, {"--apply"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "routes added 1, replaced 0, deleted 0, already right 0\n");
  EXPECT_EQ(QuillonRoutes(), Texts{"198.18.5.0/24 via 192.0.2.1"});
  const std::vector<DefaultRoute> defaults = DefaultRoutes();

  r = QuillonAs(machine.member, home, {"--clear"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "routes removed 1\n");
  EXPECT_EQ(QuillonRoutes(), Texts{});
  EXPECT_THAT(RouteTexts(), Contains(StartsWith("198.18.9.0/24 via 192.0.2.1 dev v0")));
  EXPECT_EQ(DefaultRoutes(), defaults);
  EXPECT_EQ(ReadFileText(home + "/分流器配置/http.ini"), kStore);
}

// The window's presenter with a fake window (every box answered OK) over
// the real Linux System, as the user outside the group: two routing runs
// (as after enabling two entries) through the real helper client. The
// System is wrapped only to see when both plans have gone to the helper.
TEST_F(NetnsRights, TheWindowOfAUserOutsideTheGroupSaysSoOnce) {
  const std::string home = HomeOf(machine.outsider);
  const std::string boxesPath = home + "/boxes";
  const Texts before = RouteTexts();
  const int code = AsUser(machine.outsider, -1, -1, [&] {
    setenv(platform::kRouteHelperVariable, machine.helper.c_str(), 1);
    const std::unique_ptr<platform::System> real = platform::MakeSystem(home);
    platform::ForwardingSystem sys(*real);
    const platform::WindowLayout layout = app::BuildWindowLayout("127.0.0.1:1");
    platform::FakeUi ui(layout);
    ui.answerAlways = platform::AnswerOk;
    {
      app::Presenter presenter(sys, ui, "127.0.0.1:1");
      presenter.Workers().StartRouteAll();
      presenter.Workers().StartRouteAll();
      if (!WaitFor(
              [&] {
                std::lock_guard<std::mutex> hold(sys.lock);
                return sys.plans.size() == 2;
              },
              20)) {
        _exit(3);
      }
    }  // waits for both runs to end
    std::ofstream out(boxesPath, std::ios::binary);
    for (const platform::FakeUi::Box& box : ui.boxes) out << box.caption << '\0' << box.text << '\0';
  });
  ASSERT_EQ(code, 0);
  const std::string boxes = ReadFileText(boxesPath);
  EXPECT_EQ(boxes, std::string(app::kNoteCaption) + '\0' + app::kNoRouteRights + "\r\n" + kJoinOutsider + '\0');
  EXPECT_EQ(RouteTexts(), before);
}

// Qt reads QT_PLUGIN_PATH and loads what it names, whatever rights the
// program holds: the window must hold none. The probe is loaded into the
// real window of a member (the version gate fails: its box waits), and, to
// show that the probe would see a right, into a copy of the program given
// cap_net_admin.
TEST_F(NetnsRights, CodeLoadedIntoTheWindowOfAMemberHoldsNoCapability) {
  const ProgramRun getcap = RunProgram({"getcap", QUILLON_PROGRAM});
  EXPECT_EQ(getcap.code, 0) << getcap.err;
  EXPECT_EQ(getcap.out, "");

  const std::string capable = machine.directory + "/quillon-with-net-admin";
  std::filesystem::copy_file(QUILLON_PROGRAM, capable, std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(RunProgram({"setcap", "cap_net_admin+ep", capable}).code, 0);

  const std::string home = HomeOf(machine.member);
  auto probe = [&](const std::string& program) {
    const std::string out = home + "/capeff";
    std::filesystem::remove(out);
    Background window(AsUserCommand(machine.member, {"env", "HOME=" + home, "QT_QPA_PLATFORM=offscreen",
                                                     "QT_PLUGIN_PATH=" QUILLON_TEST_PLUGINS, "QT_QPA_GENERIC_PLUGINS=capprobe",
                                                     "QUILLON_CAPPROBE_OUT=" + out, program, "--home", home, "--site",
                                                     "127.0.0.1:1"}),
                      home + "/window.log");
    EXPECT_TRUE(window.Started());
    const bool written = WaitFor([&] { return std::filesystem::exists(out); }, 30);
    window.Stop(SIGKILL);
    EXPECT_TRUE(written) << program << ": " << ReadFileText(home + "/window.log");
    return ReadFileText(out);
  };
  EXPECT_EQ(probe(QUILLON_PROGRAM), "0000000000000000\n");
  EXPECT_EQ(probe(capable), "0000000000001000\n");  // cap_net_admin: bit 12
}

}  // namespace
}  // namespace quillon::netns
