#include "routing/split_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "platform/fake/test_window.h"
#include "routing/split_store.h"

namespace quillon::routing {
namespace {

using platform::AnswerCancel;
using platform::AnswerOk;
using platform::Control;
using platform::FakeSystem;
using platform::FakeUi;
using platform::Row;
using Box = FakeUi::Box;

constexpr char kStore[] = "/q/分流器配置/http.ini";
const Box kEnabledBox{"操作已完成，如果配置没生效，请重启需要分流的应用即可。", 1, "注意"};
const Box kDisabledBox{"操作已完成,如果配置没生效，请重启需要分流的应用即可。", 1, "注意"};

class SplitListTest : public ::testing::Test {
 protected:
  SplitListTest() : ui(platform::TestWindowSpec()) {
    sys.directories.insert("/q/分流器配置");
    sys.adapters = {{"v0", "veth", "", "192.0.2.2", "255.255.255.0", "192.0.2.1"},
                    {"v1", "veth", "", "198.51.100.2", "255.255.255.0", "198.51.100.1"}};
    sys.connectionNames = {{"v0", "以太网"}, {"v1", "WLAN"}};
    Store("a.test", "192.0.2.1", "1", "甲");
    Store("b.test", "198.51.100.1", "-1", "");
    Store("c.test", "203.0.113.1", "", "丙");
    Reload();
  }
  void Store(const std::string& d, const std::string& l, const std::string& s, const std::string& n) {
    ASSERT_TRUE(WriteSplitEntry(sys, kStore, {d, l, s, n}));
  }
  void Reload() { ReloadSplitList(sys, ui); }
  FakeSystem sys;
  FakeUi ui;
  int routed = 0;
  std::function<void()> route = [this] { ++routed; };
};

TEST_F(SplitListTest, ReloadShowsEachNameOnceNumberedFromOne) {
  sys.inis[kStore].push_back({"a.test", {{"xl", "198.51.100.1"}}});  // a name the file holds twice
  sys.inis[kStore].push_back({"d.test", {}});                        // no keys at all
  sys.calls.clear();
  Reload();
  EXPECT_EQ(ui.rows, (std::vector<Row>{{"1", "a.test", "192.0.2.1", "以太网", "开启", "甲"},
                                       {"2", "b.test", "198.51.100.1", "WLAN", "关闭", ""},
                                       {"3", "c.test", "203.0.113.1", "WLAN", "关闭", "丙"},
                                       {"4", "d.test", "", "WLAN", "关闭", ""}}));
  EXPECT_EQ(std::count(sys.calls.begin(), sys.calls.end(), "ListAdapters"), 1);
}

TEST_F(SplitListTest, EnableAndDisableStoreShowAndRouteOnlyOnOk) {
  ui.selectedRow = 1;
  ui.answers = {AnswerOk};
  EnableEntry(sys, ui, route);
  EXPECT_EQ(sys.IniValue(kStore, "b.test", "zt"), "1");
  EXPECT_EQ(ui.rows[1][4], "开启");
  EXPECT_EQ(routed, 1);

  ui.answers = {AnswerCancel};
  DisableEntry(sys, ui, route);
  EXPECT_EQ(sys.IniValue(kStore, "b.test", "zt"), "-1") << "Cancel keeps the new status";
  EXPECT_EQ(ui.rows[1][4], "关闭");
  EXPECT_EQ(routed, 1) << "Cancel starts no routing";
  EXPECT_EQ(ui.boxes, (std::vector<Box>{kEnabledBox, kDisabledBox}));

  // A store that cannot be written: no change shown, nothing asked.
  sys.failWrites = true;
  EnableEntry(sys, ui, route);
  EXPECT_EQ(ui.rows[1][4], "关闭");
  EXPECT_EQ(ui.boxes.size(), 2u);
}

TEST_F(SplitListTest, DeleteAsksThenRemovesTheSectionAndRenumbers) {
  ui.selectedRow = 0;
  ui.answers = {AnswerCancel, AnswerOk};
  DeleteEntry(sys, ui);
  EXPECT_EQ(ui.rows.size(), 3u);
  ui.selectedRow = 0;
  DeleteEntry(sys, ui);
  EXPECT_EQ(ui.boxes, (std::vector<Box>{{"是否删除：a.test", 1, "删除"}, {"是否删除：a.test", 1, "删除"}}));
  EXPECT_FALSE(sys.IniValue(kStore, "a.test", "xl"));
  ASSERT_EQ(ui.rows.size(), 2u);
  EXPECT_EQ(ui.rows[0][0], "1");
  EXPECT_EQ(ui.rows[0][1], "b.test");
}

TEST_F(SplitListTest, WithoutASelectedDestinationNothingHappens) {
  const auto texts = ui.texts;
  const auto store = sys.inis;
  ui.selectedRow = -1;
  CopyRowToInputs(ui);
  ShowRowMenu(ui);
  EnableEntry(sys, ui, route);
  DisableEntry(sys, ui, route);
  DeleteEntry(sys, ui);
  ui.rows.push_back({"4", "", "192.0.2.1"});
  ui.selectedRow = 3;
  ShowRowMenu(ui);
  EnableEntry(sys, ui, route);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(ui.poppedMenus.empty());
  EXPECT_EQ(ui.texts, texts);
  EXPECT_EQ(sys.inis.at(kStore).size(), store.at(kStore).size());
  EXPECT_EQ(routed, 0);
}

TEST_F(SplitListTest, LeftClickCopiesDestinationLineAndNote) {
  ui.selectedRow = 2;
  CopyRowToInputs(ui);
  EXPECT_EQ(ui.texts[Control::编辑框2], "c.test");
  EXPECT_EQ(ui.texts[Control::组合框1], "203.0.113.1");
  EXPECT_EQ(ui.texts[Control::编辑框1], "丙");
  ShowRowMenu(ui);
  EXPECT_EQ(ui.poppedMenus, std::vector<Control>{Control::菜单});
}

}  // namespace
}  // namespace quillon::routing
