#include "app/window_description.h"

#include <gtest/gtest.h>

#include <set>

#include "app/event_table.h"

namespace quillon::app {
namespace {

using platform::ControlKind;
using platform::ControlLayout;
using platform::WindowLayout;

bool HasArea(const ControlLayout& c) {
  return c.kind != ControlKind::Window && c.kind != ControlKind::DropTarget &&
         c.kind != ControlKind::ScriptComponent && c.kind != ControlKind::Menu && c.kind != ControlKind::MenuItem;
}

bool Overlap(const ControlLayout& a, const ControlLayout& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

class WindowDescriptionTest : public ::testing::Test {
 protected:
  const WindowLayout w = BuildWindowLayout("192.0.2.10:8080");
};

TEST_F(WindowDescriptionTest, EachControlOnceParentsFirstInsideItsParent) {
  std::set<platform::ControlId> seen;
  std::set<std::string_view> names;
  for (const ControlLayout& c : w.controls) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_TRUE(seen.insert(c.id).second) << "listed twice";
    EXPECT_TRUE(names.insert(c.name).second) << "name used twice";
    if (c.id == w.mainWindow) continue;
    ASSERT_TRUE(seen.count(c.parent)) << "its parent comes after it";
    if (!HasArea(c)) continue;
    // Inside the parent's client area; a control laid over the edge (the
    // list, the import panel) hides no more than its frame there.
    const ControlLayout* parent = w.Find(c.parent);
    const int width = c.parent == w.mainWindow ? w.clientWidth : parent->width;
    const int height = c.parent == w.mainWindow ? w.clientHeight : parent->height;
    constexpr int kFrame = 8;
    EXPECT_GE(c.left, -kFrame);
    EXPECT_GE(c.top, -kFrame);
    EXPECT_LE(c.left + c.width, width + kFrame);
    EXPECT_LE(c.top + c.height, height + kFrame);
    EXPECT_GT(c.width, 0);
    EXPECT_GT(c.height, 0);
  }
  EXPECT_EQ(w.controls.size(), static_cast<std::size_t>(Control::删除记录) + 1) << "every control is described";
  for (const platform::ControlId c : {w.mainWindow, w.listControl, w.menu, w.dropTarget}) EXPECT_TRUE(seen.count(c));
}

TEST_F(WindowDescriptionTest, NoTwoVisibleControlsOverlapUnlessOneCoversTheOther) {
  for (const ControlLayout& a : w.controls) {
    for (const ControlLayout& b : w.controls) {
      if (&a >= &b || !HasArea(a) || !HasArea(b) || !a.visible || !b.visible || a.parent != b.parent) continue;
      if (a.covers == b.id || b.covers == a.id) {
        EXPECT_TRUE(Overlap(a, b)) << a.name << " covers " << b.name << " only on paper";
        continue;
      }
      EXPECT_FALSE(Overlap(a, b)) << a.name << " and " << b.name;
    }
  }
}

TEST_F(WindowDescriptionTest, EveryEventNamesAControlOfTheTableOnce) {
  const auto& table = EventTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_NE(w.Find(table[i].control), nullptr) << table[i].routine;
    for (std::size_t j = i + 1; j < table.size(); ++j) {
      EXPECT_FALSE(table[i].control == table[j].control && table[i].event == table[j].event) << table[i].routine;
    }
  }
  // The row menu: hidden, its items its children.
  EXPECT_FALSE(w.Find(w.menu)->visible);
  for (const Control item : {Control::开启分流, Control::关闭分流, Control::删除记录}) {
    EXPECT_EQ(w.Find(item)->parent, w.menu);
  }
}

TEST_F(WindowDescriptionTest, OnlyTheTextsThatNameTheSiteFollowTheHost) {
  const WindowLayout b = BuildWindowLayout("site.example.test");
  EXPECT_EQ(b.Find(Control::编辑框2)->caption, "site.example.test");
  EXPECT_EQ(b.Find(Control::超级编辑框1)->caption,
            "Veltmark唯一官网：site.example.test\r\n\r\n非专业人员请勿随意设置全局默认配置，以免引起电脑网络瘫痪。");
  for (std::size_t i = 0; i < w.controls.size(); ++i) {
    const platform::ControlId c = w.controls[i].id;
    if (c == Control::编辑框2 || c == Control::超级编辑框1) continue;
    EXPECT_EQ(w.controls[i].caption, b.controls[i].caption) << w.controls[i].name;
  }
  EXPECT_EQ(w.title, std::string("Quillon - ") + kVersion + "  (管理员：512340987 开发者：Ferrowin)");
}

}  // namespace
}  // namespace quillon::app
