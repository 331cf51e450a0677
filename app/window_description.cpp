// The window as data. Captions, initial texts and coordinates are exactly
// those of the Windows layout: coordinates are client coordinates of the
// parent (the window, or the group box that holds the control).
#include "app/window_description.h"

#include <utility>

namespace quillon::app {

using platform::Column;
using platform::ControlKind;
using platform::ControlLayout;
using platform::WindowLayout;

namespace {

ControlLayout Item(Control id, std::string_view name, ControlKind kind, Control parent, std::string caption,
                   int left, int top, int width, int height, bool visible = true) {
  ControlLayout s{id, name, kind, parent, std::move(caption)};
  s.left = left;
  s.top = top;
  s.width = width;
  s.height = height;
  s.visible = visible;
  return s;
}

// A component or menu entry: no area of its own.
ControlLayout Arealess(Control id, std::string_view name, ControlKind kind, Control parent, std::string caption,
                       bool visible = true) {
  ControlLayout s{id, name, kind, parent, std::move(caption)};
  s.visible = visible;
  return s;
}

}  // namespace

WindowLayout BuildWindowLayout(const std::string& siteHost) {
  using C = Control;
  using K = ControlKind;
  constexpr C W = C::主窗口;
  constexpr C G1 = C::分组框1;
  constexpr C G2 = C::分组框2;

  WindowLayout w;
  w.title = std::string("Quillon - ") + kVersion + "  (管理员：512340987 开发者：Ferrowin)";
  w.outerWidth = 592;
  w.outerHeight = 429;
  w.clientWidth = 586;
  w.clientHeight = 404;
  w.mainWindow = W;
  w.listControl = C::超级列表框1;
  w.menu = C::菜单;
  w.dropTarget = C::拖放对象1;

  const std::string warning = "Veltmark唯一官网：" + siteHost + "\r\n\r\n" +
                              "非专业人员请勿随意设置全局默认配置，以免引起电脑网络瘫痪。";

  w.controls = {
      // The window itself: its frame size; it is centred when created.
      Item(C::主窗口, "主窗口", K::Window, W, w.title, 0, 0, w.outerWidth, w.outerHeight),

      // Home page.
      Item(C::超级列表框1, "超级列表框1", K::ListView, W, "", -1, -1, 592, 304),
      Item(C::透明标签1, "透明标签1", K::TransparentLabel, W,
           "注明：本程序可自定义对多个网卡的流量进行分流管理，以保证不同网络、不同程序之间的稳定性。", 3, 303, 549,
           24),
      Item(C::透明标签4, "透明标签4", K::TransparentLabel, W, "", 4, 334, 188, 16),
      Item(C::按钮6, "按钮6", K::Button, W, "分流配置教程", 210, 333, 80, 20),
      Item(C::按钮5, "按钮5", K::Button, W, "分流配置下载", 293, 333, 80, 20),
      Item(C::按钮7, "按钮7", K::Button, W, "分流配置载入", 375, 333, 80, 20),
      Item(C::按钮2, "按钮2", K::Button, W, "全局设置", 465, 331, 115, 24),
      Item(C::标签2, "标签2", K::Label, W, "分流网址/IP", 8, 363, 80, 24),
      Item(C::编辑框2, "编辑框2", K::EditBox, W, siteHost, 88, 355, 176, 40),
      Item(C::标签1, "标签1", K::Label, W, "分配线路", 287, 353, 56, 24),
      Item(C::组合框1, "组合框1", K::ComboBox, W, "", 342, 356, 112, 16),
      Item(C::标签3, "标签3", K::Label, W, "备注信息", 287, 376, 56, 24),
      Item(C::编辑框1, "编辑框1", K::EditBox, W, "Veltmark", 342, 380, 112, 16),
      Item(C::按钮1, "按钮1", K::Button, W, "加入列表", 465, 355, 115, 43),
      Item(C::分组框1, "分组框1", K::GroupBox, W, "", 96, 40, 384, 232, false),
      Item(C::分组框2, "分组框2", K::GroupBox, W, "", -1, -8, 593, 336, false),
      Arealess(C::拖放对象1, "拖放对象1", K::DropTarget, W, ""),
      Arealess(C::脚本组件1, "脚本组件1", K::ScriptComponent, W, ""),

      // Global settings panel.
      Item(C::超级编辑框1, "超级编辑框1", K::RichEdit, G1, warning, 3, 8, 376, 104),
      Item(C::组合框2, "组合框2", K::ComboBox, G1, "", 132, 123, 128, 20),
      Item(C::按钮3, "按钮3", K::Button, G1, "确认修改", 64, 152, 128, 40),
      Item(C::按钮4, "按钮4", K::Button, G1, "返回首页", 208, 151, 128, 40),
      Item(C::透明标签2, "透明标签2", K::TransparentLabel, G1,
           "修改全局线路后，所有应用都走全局线路，自定义列表走分流线路", 8, 200, 368, 24),

      // Import panel.
      Item(C::标签5, "标签5", K::Label, G2, "更改分配线路", 112, 128, 80, 24),
      Item(C::组合框4, "组合框4", K::ComboBox, G2, "", 217, 131, 232, 20),
      Item(C::标签4, "标签4", K::Label, G2, "选择配置文件", 112, 173, 80, 24),
      Item(C::组合框3, "组合框3", K::ComboBox, G2, "", 217, 176, 232, 20),
      Item(C::按钮9, "按钮9", K::Button, G2, "取消载入", 163, 235, 115, 24),
      Item(C::按钮8, "按钮8", K::Button, G2, "确定载入", 282, 235, 115, 24),
      Item(C::透明标签3, "透明标签3", K::TransparentLabel, G2,
           "如果自己不会配置，可以直接选择别人配置好的分流IP载入使用即可。", 1, 304, 579, 24),

      // The hidden top-level menu, shown only as the list's context menu.
      Arealess(C::菜单, "菜单", K::Menu, W, "菜单", false),
      Arealess(C::开启分流, "开启分流", K::MenuItem, C::菜单, "开启分流"),
      Arealess(C::关闭分流, "关闭分流", K::MenuItem, C::菜单, "关闭分流"),
      Arealess(C::删除记录, "删除记录", K::MenuItem, C::菜单, "删除记录"),
  };

  // A label's box reaches a pixel into the control beside or below it.
  const std::pair<C, C> covering[] = {{C::组合框1, C::标签1}, {C::编辑框1, C::标签3}, {C::标签3, C::标签1}};
  for (const auto& [over, under] : covering) {
    for (ControlLayout& c : w.controls) {
      if (c.id == over) c.covers = under;
    }
  }

  w.columns = {
      Column{"序号", 40},    Column{"网址/IP", 150}, Column{"分配线路", 90},
      Column{"线路名称", 90}, Column{"分流设置", 60}, Column{"备注", 150},
  };
  return w;
}

}  // namespace quillon::app
