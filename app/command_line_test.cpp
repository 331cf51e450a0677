#include "app/command_line.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_system.h"
#include "routing/split_store.h"

namespace quillon::app {
namespace {

using Action = CommandLine::Action;

constexpr char kStore[] = "/q/分流器配置/http.ini";

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
    sys.directories.insert("/q/分流器配置");
    sys.adapters = {{"v0", "veth", "", "192.0.2.2", "255.255.255.0", "192.0.2.1"}};
    sys.connectionNames = {{"v0", "以太网"}};
    sys.lookups = {{"a.test", "名称:    a.test\nAddress:  198.18.1.5\n"}, {"nosuch.test", ""}};
  }
  Result Run(const std::vector<std::string>& args) {
    CommandLine c;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, c, error)) << error;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int code = RunCommandLine(sys, c, out, err);
    return {code, Drain(out), Drain(err)};
  }
  platform::FakeSystem sys;
};

TEST(ParseCommandLine, OneActionWithItsValues) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--home", "/h", "--add", "a.test", "--line", "192.0.2.1", "--note", "n"}, c, error));
  EXPECT_EQ(c.action, Action::Add);
  EXPECT_EQ(c.destination, "a.test");
  EXPECT_EQ(c.note, "n");
  ASSERT_TRUE(ParseCommandLine({"--site=x:1"}, c, error));
  EXPECT_EQ(c.action, Action::Window);
  for (const auto& bad : std::vector<std::vector<std::string>>{{"--list", "--apply"},
                                                               {"--add", "a.test"},
                                                               {"--add", "a.test", "--line", "192.0.2.1 "},
                                                               {"--list", "--note", "x"},
                                                               {"--apply", "--line", "192.0.2.1"},
                                                               {"--import"},
                                                               {"--frobnicate"}}) {
    EXPECT_FALSE(ParseCommandLine(bad, c, error)) << bad.front();
    EXPECT_FALSE(error.empty());
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
  EXPECT_EQ(sys.IniValue("/q/分流器配置/out.ini", "a.test", "bz"), "备注");

  sys.networkRoutes["198.18.1.0"] = "203.0.113.1";
  r = Run({"--why", "a.test"});
  EXPECT_EQ(r.out,
            "destination: a.test\nlookup answer: 198.18.1.5\nline: 192.0.2.1 (enabled)\n"
            "198.18.1.0/24: routed through 203.0.113.1 now (the next pass routes it through 192.0.2.1)\n");
  ASSERT_TRUE(sys.IniWrite(kStore, "a.test", "zt", std::string("-1")));
  EXPECT_NE(Run({"--why", "a.test"}).out.find("line: 192.0.2.1 (disabled: its networks get no route)"), std::string::npos);
  EXPECT_EQ(Run({"--why", "-d2"}).code, 2);
}

TEST_F(CommandLineTest, ApplyNeedsTheRoutingLockAndTheRights) {
  ASSERT_TRUE(routing::WriteSplitEntry(sys, kStore, {"a.test", "192.0.2.1", "1", ""}));
  Result r = Run({"--apply"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "routes added 1, replaced 0, deleted 1, already right 0\n");
  sys.routesRefused = 2;
  r = Run({"--apply"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "quillon: no right to change routes (2 requests refused); run: grant the rights\n");
  sys.routingLockTaken = true;
  r = Run({"--apply"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(sys.routePasses, 2) << "no pass without the lock";
}

TEST_F(CommandLineTest, ImportReportsItsCountAndAMissingFile) {
  sys.inis["/in/p.ini"] = {{"a.test", {{"xl", "192.0.2.1"}, {"zt", "1"}}}};
  sys.files["/in/p.ini"] = "[a.test]\nxl=192.0.2.1\n";
  Result r = Run({"--import", "/in/p.ini"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "本次载入[1]条配置已完成\n");
  r = Run({"--import", "/in/none.ini"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "quillon: cannot read /in/none.ini\n");
}

}  // namespace
}  // namespace quillon::app
