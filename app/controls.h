// This window's controls, by their window names. The layout table
// (window_description.cpp) gives each its kind, parent, caption and place;
// the presenter and the event table address them by these names.
#pragma once

namespace quillon::app {

enum class Control {
  主窗口,
  // home page
  超级列表框1, 透明标签1, 透明标签4, 按钮6, 按钮5, 按钮7, 按钮2, 标签2, 编辑框2,
  标签1, 组合框1, 标签3, 编辑框1, 按钮1, 分组框1, 分组框2, 拖放对象1, 脚本组件1,
  // global settings panel (分组框1)
  超级编辑框1, 组合框2, 按钮3, 按钮4, 透明标签2,
  // import panel (分组框2)
  标签5, 组合框4, 标签4, 组合框3, 按钮9, 按钮8, 透明标签3,
  // the hidden menu and its items
  菜单, 开启分流, 关闭分流, 删除记录,
};

// The list's six columns.
enum ListColumn { kNumberColumn = 0, kDestinationColumn, kLineColumn, kConnectionColumn, kStatusColumn, kNoteColumn };

}  // namespace quillon::app
