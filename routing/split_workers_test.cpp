#include "routing/split_workers.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "platform/fake/test_window.h"

namespace quillon::routing {
namespace {

using platform::AnswerOk;
using platform::Control;
using platform::FakeSystem;
using platform::FakeUi;
using platform::Row;
using Box = FakeUi::Box;

constexpr char kStore[] = "/q/分流器配置/http.ini";
constexpr char kLog[] = "/q/分流器配置/log.txt";

class SplitWorkersTest : public ::testing::Test {
 protected:
  SplitWorkersTest() : ui(platform::TestWindowSpec()), router(sys, ui), workers(sys, ui, router) {
    sys.directories.insert("/q/分流器配置");
    sys.adapters = {{"v1", "veth", "", "198.51.100.2", "255.255.255.0", "198.51.100.1"}};
    sys.connectionNames = {{"v1", "WLAN"}};
    sys.lookups = {{"a.test", "名称:    a.test\r\nAddress:  198.18.1.5\r\n"}, {"nosuch.test", ""},
                   {"198.18.3.9", ""}, {"v6.test", "名称:    v6.test\r\nAddress:  2001:db8::1\r\n"}};
    ui.texts[Control::组合框1] = "198.51.100.1";
    ui.texts[Control::编辑框1] = "备注";
  }
  // One add, as a click starts it, with `destination` typed.
  void Add(const std::string& destination) {
    ui.texts[Control::编辑框2] = destination;
    sys.files[kLog] = "old log";
    workers.AddEntry();
  }
  FakeSystem sys;
  FakeUi ui;
  SplitRouter router;
  SplitWorkers workers;
};

TEST_F(SplitWorkersTest, AddStoresAndAppendsOnlyWhenTheAnswerHoldsAnIPv4Address) {
  ui.rows = {{"1", "x.test", "", "", "", ""}};
  Add("a.test");
  Add("198.18.3.9");  // no reverse answer: the address itself counts
  Add("nosuch.test");
  Add("v6.test");
  EXPECT_EQ(sys.lookedUp, (std::vector<std::string>{"a.test", "198.18.3.9", "nosuch.test", "v6.test"}));
  EXPECT_EQ(sys.files.count(kLog), 0u) << "the resolve log is deleted after each lookup";
  EXPECT_EQ(ui.rows, (std::vector<Row>{{"1", "x.test", "", "", "", ""},
                                       {"2", "a.test", "198.51.100.1", "WLAN", "开启", "备注"},
                                       {"3", "198.18.3.9", "198.51.100.1", "WLAN", "开启", "备注"}}));
  EXPECT_FALSE(sys.IniValue(kStore, "nosuch.test", "xl"));
  EXPECT_FALSE(sys.IniValue(kStore, "v6.test", "xl"));
  EXPECT_TRUE(ui.boxes.empty());
  // Written xl, then bz, then zt.
  std::vector<std::string> writes;
  for (const auto& c : sys.calls) {
    if (c.rfind(std::string("IniWrite ") + kStore + " [a.test]", 0) == 0) writes.push_back(c.substr(c.find(']') + 2));
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"xl=198.51.100.1", "bz=备注", "zt=1"}));
}

TEST_F(SplitWorkersTest, AddingAStoredEntryAgainEnablesItAndAppendsASecondRow) {
  ASSERT_TRUE(WriteSplitEntry(sys, kStore, {"a.test", "203.0.113.1", "-1", "old"}));
  Add("a.test");
  EXPECT_EQ(sys.IniValue(kStore, "a.test", "zt"), "1");
  EXPECT_EQ(sys.IniValue(kStore, "a.test", "xl"), "198.51.100.1");
  EXPECT_EQ(ui.rows.size(), 1u);
}

TEST_F(SplitWorkersTest, AddRefusesWhatCannotBeLookedUpWithAMessage) {
  const auto refused = [&](const std::string& line, const std::string& destination, const std::string& text) {
    ui.texts[Control::组合框1] = line;
    ui.answers = {AnswerOk};
    ui.boxes.clear();
    Add(destination);
    EXPECT_EQ(ui.boxes, (std::vector<Box>{{text, 0, "注意"}})) << line << " / " << destination;
  };
  refused("", "a.test", "请选择需要分配的线路！");
  refused("198.51.100.1", "", "请输入需要分流的网址/IP！");
  refused("198.51.100.1", "a.test&echo x>pwned",
          "网址/IP只能由字母、数字和 . - _ : / 等字符组成，不能含空格或特殊符号！");
  refused("198.51.100.1 ", "a.test", "分配线路必须是线路网关的IPv4地址，请从列表中选择！");
  EXPECT_TRUE(sys.lookedUp.empty());
  EXPECT_TRUE(ui.rows.empty());
}

TEST_F(SplitWorkersTest, AStoreThatCannotBeWrittenGetsNoRowButAMessage) {
  sys.failWrites = true;
  ui.answers = {AnswerOk};
  Add("a.test");
  EXPECT_TRUE(ui.rows.empty());
  EXPECT_EQ(ui.boxes, (std::vector<Box>{{"无法保存到分流列表，请检查配置目录是否可以写入。", 0, "异常"}}));
}

TEST_F(SplitWorkersTest, ReapplyPassesWhileRunningAndTheCloseStopsItsPause) {
  ASSERT_TRUE(WriteSplitEntry(sys, kStore, {"a.test", "198.51.100.1", "1", ""}));
  int passes = 0;
  sys.onLookup = [&](const std::string&) {
    EXPECT_EQ(workers.BusyFlag(), 1) << "busy inside a pass";
    if (++passes == 2) workers.Stop();
  };
  workers.pauseMs = 0;
  ASSERT_TRUE(workers.StartReapply());
  EXPECT_EQ(workers.RunFlag(), 1);
  sys.RunPendingWorkers();  // the worker's body, here on the test thread
  EXPECT_EQ(passes, 2);
  EXPECT_EQ(workers.RunFlag(), 0);
  EXPECT_EQ(workers.BusyFlag(), 0);
  EXPECT_FALSE(workers.Busy());
  EXPECT_EQ(ui.rows, (std::vector<Row>{{"1", "a.test", "198.51.100.1", "WLAN", "开启", ""}}));
  EXPECT_EQ(sys.routeRequests, (std::vector<std::string>{"delete 198.18.1.0", "add 198.18.1.0 198.51.100.1",
                                                         "delete 198.18.1.0", "add 198.18.1.0 198.51.100.1"}));
}

TEST_F(SplitWorkersTest, RefusedRoutesAreToldOnceAndWithoutTheLockNothingIsRouted) {
  ASSERT_TRUE(WriteSplitEntry(sys, kStore, {"a.test", "198.51.100.1", "1", ""}));
  sys.routesRefused = 1;
  ui.answers = {AnswerOk};
  workers.StartRouteAll();
  workers.StartRouteAll();
  sys.RunPendingWorkers();
  EXPECT_EQ(ui.boxes, (std::vector<Box>{{"Quillon没有修改路由表的权限，分流路由没有生效。\r\ngrant the rights", 0, "注意"}}));
  EXPECT_EQ(sys.routePasses, 2);

  workers.SetRouting(false);
  workers.StartRouteAll();
  sys.RunPendingWorkers();
  EXPECT_EQ(sys.routePasses, 2) << "another process routes";
}

TEST_F(SplitWorkersTest, APauseEndsAtOnceWhenTheCloseComes) {
  sys.realThreads = true;
  workers.pauseMs = 24 * 3600 * 1000;
  ASSERT_TRUE(workers.StartReapply());
  // The destructor stops the worker and waits for it: with a day-long pause
  // this test only ends when the close wakes the pause.
}

}  // namespace
}  // namespace quillon::routing
