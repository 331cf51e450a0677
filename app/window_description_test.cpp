#include "app/window_description.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace quillon::app {
namespace {

using platform::Control;
using platform::ControlKind;
using platform::ControlSpec;
using platform::WindowSpec;

struct Expected {
  Control name;
  const char* id;
  ControlKind kind;
  Control parent;
  std::string caption;
  int left, top, width, height;
  bool visible;
};

// The layout as the Windows window has it, written out once more by hand so a
// slip in either copy shows up.
std::vector<Expected> ExpectedControls(const std::string& host) {
  using C = Control;
  using K = ControlKind;
  const C W = C::主窗口, G1 = C::分组框1, G2 = C::分组框2, M = C::菜单;
  return {
      {C::超级列表框1, "超级列表框1", K::ListView, W, "", -1, -1, 592, 304, true},
      {C::透明标签1, "透明标签1", K::TransparentLabel, W,
       "注明：本程序可自定义对多个网卡的流量进行分流管理，以保证不同网络、不同程序之间的稳定性。", 3, 303, 549, 24,
       true},
      {C::透明标签4, "透明标签4", K::TransparentLabel, W, "", 4, 334, 188, 16, true},
      {C::按钮6, "按钮6", K::Button, W, "分流配置教程", 210, 333, 80, 20, true},
      {C::按钮5, "按钮5", K::Button, W, "分流配置下载", 293, 333, 80, 20, true},
      {C::按钮7, "按钮7", K::Button, W, "分流配置载入", 375, 333, 80, 20, true},
      {C::按钮2, "按钮2", K::Button, W, "全局设置", 465, 331, 115, 24, true},
      {C::标签2, "标签2", K::Label, W, "分流网址/IP", 8, 363, 80, 24, true},
      {C::编辑框2, "编辑框2", K::EditBox, W, host, 88, 355, 176, 40, true},
      {C::标签1, "标签1", K::Label, W, "分配线路", 287, 353, 56, 24, true},
      {C::组合框1, "组合框1", K::ComboBox, W, "", 342, 356, 112, 16, true},
      {C::标签3, "标签3", K::Label, W, "备注信息", 287, 376, 56, 24, true},
      {C::编辑框1, "编辑框1", K::EditBox, W, "Veltmark", 342, 380, 112, 16, true},
      {C::按钮1, "按钮1", K::Button, W, "加入列表", 465, 355, 115, 43, true},
      {C::分组框1, "分组框1", K::GroupBox, W, "", 96, 40, 384, 232, false},
      {C::分组框2, "分组框2", K::GroupBox, W, "", -1, -8, 593, 336, false},
      {C::拖放对象1, "拖放对象1", K::DropTarget, W, "", 0, 0, 0, 0, true},
      {C::脚本组件1, "脚本组件1", K::ScriptComponent, W, "", 0, 0, 0, 0, true},
      {C::超级编辑框1, "超级编辑框1", K::RichEdit, G1,
       "Veltmark唯一官网：" + host + "\r\n\r\n非专业人员请勿随意设置全局默认配置，以免引起电脑网络瘫痪。", 3, 8, 376,
       104, true},
      {C::组合框2, "组合框2", K::ComboBox, G1, "", 132, 123, 128, 20, true},
      {C::按钮3, "按钮3", K::Button, G1, "确认修改", 64, 152, 128, 40, true},
      {C::按钮4, "按钮4", K::Button, G1, "返回首页", 208, 151, 128, 40, true},
      {C::透明标签2, "透明标签2", K::TransparentLabel, G1,
       "修改全局线路后，所有应用都走全局线路，自定义列表走分流线路", 8, 200, 368, 24, true},
      {C::标签5, "标签5", K::Label, G2, "更改分配线路", 112, 128, 80, 24, true},
      {C::组合框4, "组合框4", K::ComboBox, G2, "", 217, 131, 232, 20, true},
      {C::标签4, "标签4", K::Label, G2, "选择配置文件", 112, 173, 80, 24, true},
      {C::组合框3, "组合框3", K::ComboBox, G2, "", 217, 176, 232, 20, true},
      {C::按钮9, "按钮9", K::Button, G2, "取消载入", 163, 235, 115, 24, true},
      {C::按钮8, "按钮8", K::Button, G2, "确定载入", 282, 235, 115, 24, true},
      {C::透明标签3, "透明标签3", K::TransparentLabel, G2,
       "如果自己不会配置，可以直接选择别人配置好的分流IP载入使用即可。", 1, 304, 579, 24, true},
      {C::开启分流, "开启分流", K::MenuItem, M, "开启分流", 0, 0, 0, 0, true},
      {C::关闭分流, "关闭分流", K::MenuItem, M, "关闭分流", 0, 0, 0, 0, true},
      {C::删除记录, "删除记录", K::MenuItem, M, "删除记录", 0, 0, 0, 0, true},
  };
}

TEST(WindowDescription, WindowTitleAndSizes) {
  const WindowSpec w = BuildWindowSpec("192.0.2.10:8080");
  EXPECT_EQ(w.title, std::string("Quillon - ") + kVersion + "  (管理员：512340987 开发者：Ferrowin)");
  EXPECT_EQ(w.outerWidth, 592);
  EXPECT_EQ(w.outerHeight, 429);
  EXPECT_EQ(w.clientWidth, 586);
  EXPECT_EQ(w.clientHeight, 404);
  EXPECT_EQ(w.mainWindow, Control::主窗口);
  EXPECT_EQ(w.listControl, Control::超级列表框1);
  EXPECT_EQ(w.menu, Control::菜单);
  EXPECT_EQ(w.dropTarget, Control::拖放对象1);
  const ControlSpec* window = w.Find(Control::主窗口);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->kind, ControlKind::Window);
  EXPECT_EQ(window->caption, w.title);
}

TEST(WindowDescription, EveryControlWithKindParentCaptionGeometryAndVisibility) {
  const std::string host = "192.0.2.10:8080";
  const WindowSpec w = BuildWindowSpec(host);
  for (const Expected& e : ExpectedControls(host)) {
    SCOPED_TRACE(e.id);
    const ControlSpec* s = w.Find(e.name);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->id, e.id);
    EXPECT_EQ(s->kind, e.kind);
    EXPECT_EQ(s->parent, e.parent);
    EXPECT_EQ(s->caption, e.caption);
    EXPECT_EQ(s->left, e.left);
    EXPECT_EQ(s->top, e.top);
    EXPECT_EQ(s->width, e.width);
    EXPECT_EQ(s->height, e.height);
    EXPECT_EQ(s->visible, e.visible);
  }
}

TEST(WindowDescription, EachControlOnceWithParentsFirst) {
  const WindowSpec w = BuildWindowSpec("h");
  std::set<Control> seen;
  std::set<std::string_view> ids;
  for (const ControlSpec& s : w.controls) {
    SCOPED_TRACE(s.id);
    EXPECT_TRUE(seen.insert(s.name).second) << "listed twice";
    EXPECT_TRUE(ids.insert(s.id).second) << "id used twice";
    if (s.name != Control::主窗口) {
      EXPECT_TRUE(seen.count(s.parent)) << "parent comes after the control";
    }
  }
  // Every enumerator from 主窗口 to 删除记录 is described.
  for (int i = static_cast<int>(Control::主窗口); i <= static_cast<int>(Control::删除记录); ++i) {
    EXPECT_TRUE(seen.count(static_cast<Control>(i))) << "control #" << i << " missing";
  }
  EXPECT_EQ(w.controls.size(), static_cast<std::size_t>(Control::删除记录) + 1);
}

TEST(WindowDescription, HiddenMenuWithItsThreeItemsInOrder) {
  const WindowSpec w = BuildWindowSpec("h");
  const ControlSpec* menu = w.Find(Control::菜单);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->kind, ControlKind::Menu);
  EXPECT_EQ(menu->caption, "菜单");
  EXPECT_FALSE(menu->visible);
  std::vector<std::string> items;
  for (const ControlSpec& s : w.controls) {
    if (s.parent == Control::菜单) {
      EXPECT_EQ(s.kind, ControlKind::MenuItem);
      items.push_back(s.caption);
    }
  }
  EXPECT_EQ(items, (std::vector<std::string>{"开启分流", "关闭分流", "删除记录"}));
}

TEST(WindowDescription, SixColumnsWithTitlesAndWidths) {
  const WindowSpec w = BuildWindowSpec("h");
  ASSERT_EQ(w.columns.size(), 6u);
  const std::vector<std::pair<std::string, int>> expected = {
      {"序号", 40}, {"网址/IP", 150}, {"分配线路", 90}, {"线路名称", 90}, {"分流设置", 60}, {"备注", 150}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(w.columns[i].title, expected[i].first) << i;
    EXPECT_EQ(w.columns[i].width, expected[i].second) << i;
  }
}

TEST(WindowDescription, HostTextsFollowTheHost) {
  const WindowSpec a = BuildWindowSpec("127.0.0.1:8080");
  const WindowSpec b = BuildWindowSpec("site.example.test");
  EXPECT_EQ(a.Find(Control::编辑框2)->caption, "127.0.0.1:8080");
  EXPECT_EQ(b.Find(Control::编辑框2)->caption, "site.example.test");
  EXPECT_EQ(b.Find(Control::超级编辑框1)->caption,
            "Veltmark唯一官网：site.example.test\r\n\r\n非专业人员请勿随意设置全局默认配置，以免引起电脑网络瘫痪。");
  // Nothing else depends on the host.
  for (std::size_t i = 0; i < a.controls.size(); ++i) {
    const Control c = a.controls[i].name;
    if (c == Control::编辑框2 || c == Control::超级编辑框1) continue;
    EXPECT_EQ(a.controls[i].caption, b.controls[i].caption) << a.controls[i].id;
  }
}

}  // namespace
}  // namespace quillon::app
