#include "app/command_line.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_home.h"

namespace quillon::app {
namespace {

using Action = CommandLine::Action;
using platform::FakeHome;

const char* NoEnvironment(const char*) { return nullptr; }

// What a command printed and its exit code.
struct Result {
  int code;
  std::string out, err;
};

std::string Drain(std::FILE* f) {
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineTest() {
    home.sys.Answer("a.test", {"198.18.1.5"});
    home.sys.lookups["nosuch.test"] = {true, false, {}, 0};
  }
  Result Run(const std::vector<std::string>& args) {
    CommandLine c;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, NoEnvironment, c, error)) << error;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int code = RunCommandLine(home.sys, c, out, err);
    return {code, Drain(out), Drain(err)};
  }
  FakeHome home;
};

TEST(ParseCommandLine, OneActionWithItsValuesThenTheEnvironmentThenTheDefaults) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--home", "/h", "--add", "a.test", "--line", "192.0.2.1", "--note=n"}, NoEnvironment, c,
                               error));
  EXPECT_EQ(c.action, Action::Add);
  EXPECT_EQ(c.home, "/h");
  EXPECT_EQ(c.destination, "a.test");
  EXPECT_EQ(c.note, "n");
  EXPECT_EQ(c.site, "127.0.0.1:18080");
  const auto env = [](const char* name) -> const char* {
    return std::string(name) == "QUILLON_HOME" ? "/env/home" : std::string(name) == "QUILLON_SITE" ? "env.test" : nullptr;
  };
  ASSERT_TRUE(ParseCommandLine({"--site=x:1"}, env, c, error));
  EXPECT_EQ(c.action, Action::Window);
  EXPECT_EQ(c.site, "x:1");
  EXPECT_EQ(c.home, "/env/home");
  for (const auto& bad : std::vector<std::vector<std::string>>{{"--list", "--apply"},
                                                               {"--add", "a.test"},
                                                               {"--add", "a.test", "--line", "192.0.2.1 "},
                                                               {"--list", "--note", "x"},
                                                               {"--apply", "--line", "192.0.2.1"},
                                                               {"--import"},
                                                               {"--site"},
                                                               {"--list=x"},
                                                               {"--frobnicate"}}) {
    EXPECT_FALSE(ParseCommandLine(bad, NoEnvironment, c, error)) << bad.front();
    EXPECT_FALSE(error.empty());
  }
  // The usage text names every action.
  for (const char* action : {"--list", "--add", "--import", "--export", "--apply", "--why", "--service"}) {
    EXPECT_NE(UsageText().find(action), std::string::npos) << action;
  }
}

TEST_F(CommandLineTest, AddListExportAndWhy) {
  Result r = Run({"--add", "a.test", "--line", "192.0.2.1", "--note", "备注"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "1\ta.test\t192.0.2.1\t以太网\t开启\t备注\n");
  r = Run({"--add", "nosuch.test", "--line", "192.0.2.1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "quillon: nosuch.test has no IPv4 address in its lookup answer; nothing was stored\n");
  r = Run({"--add", "a.test&x", "--line", "192.0.2.1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("quillon: 网址/IP只能", 0), 0u) << r.err;

  EXPECT_EQ(Run({"--list"}).out, "1\ta.test\t192.0.2.1\t以太网\t开启\t备注\n");
  r = Run({"--export", "/q/分流器配置/out.ini"});
  EXPECT_EQ(r.out, "exported 1 entries to /q/分流器配置/out.ini\n");
  EXPECT_EQ(home.Value("a.test", "bz", "/q/分流器配置/out.ini"), "备注");

  home.sys.routeGateways["198.18.1.0/24"] = "203.0.113.1";
  r = Run({"--why", "a.test"});
  EXPECT_EQ(r.out,
            "destination: a.test\nlookup answer: 198.18.1.5\nline: 192.0.2.1 (enabled)\n"
            "198.18.1.0/24: routed through 203.0.113.1 now (the next pass routes it through 192.0.2.1)\n");
  ASSERT_TRUE(home.sys.IniWrite(FakeHome::kStore, "a.test", "zt", std::string("-1")));
  EXPECT_NE(Run({"--why", "a.test"}).out.find("line: 192.0.2.1 (disabled: its networks get no route)"), std::string::npos);
  EXPECT_EQ(Run({"--why", "-d2"}).code, 2);
}

TEST_F(CommandLineTest, ApplyNeedsTheRoutingLockAndTheRights) {
  home.Entry("a.test", "192.0.2.1");
  Result r = Run({"--apply"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "routes added 1, replaced 0, deleted 1, already right 0\n");
  home.sys.planOutcome = platform::RouteReport::Outcome::NoRights;
  home.sys.planReason = "grant the rights";
  r = Run({"--apply"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "quillon: no right to change routes: grant the rights\n");
  home.sys.routingLockTaken = true;
  EXPECT_EQ(Run({"--apply"}).code, 1);
  EXPECT_EQ(home.sys.plans.size(), 2u) << "no pass without the lock";
}

TEST_F(CommandLineTest, ImportReportsItsCountAndAMissingFile) {
  home.Section("/in/p.ini", "a.test", {{"xl", "192.0.2.1"}, {"zt", "1"}});
  home.sys.files["/in/p.ini"] = "[a.test]\nxl=192.0.2.1\n";
  Result r = Run({"--import", "/in/p.ini"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "本次载入[1]条配置已完成\n");
  r = Run({"--import", "/in/none.ini"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "quillon: cannot read /in/none.ini\n");
}

}  // namespace
}  // namespace quillon::app
