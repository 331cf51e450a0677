// The vocabulary of the window description: control names, kinds, events and
// the table types. The table itself (captions, geometry, bindings) is data in
// app/window_description.cpp; both UI backends build their widgets from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform {

// Every control of the window, by its window name.
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

enum class ControlKind {
  Window,
  ListView,          // report style
  TransparentLabel,
  Label,
  Button,
  EditBox,
  ComboBox,          // editable drop-down, unsorted
  GroupBox,
  RichEdit,
  DropTarget,        // component without a visible area
  ScriptComponent,   // component without a visible area
  Menu,              // hidden top-level menu, shown as a context menu
  MenuItem,
};

enum class Event {
  Created,         // window
  CloseQuery,      // window; the handler's result decides whether it closes
  Clicked,         // button
  ItemChosen,      // combo box: the user picked an item from its list
  LeftButtonDown,  // combo box: left mouse button pressed on it
  LeftClick,       // list view
  RightClick,      // list view
  Chosen,          // menu item
  FilesDropped,    // drop target; the argument is the dropped path(s)
};

struct ControlSpec {
  Control name;
  std::string_view id;  // the window name as text, for messages and tests
  ControlKind kind;
  Control parent;       // 主窗口, a group box, or 菜单 for menu items
  std::string caption;  // caption or initial text
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = true;
};

struct ColumnSpec {
  std::string title;
  int width = 0;
};

struct WindowSpec {
  std::string title;
  int outerWidth = 0, outerHeight = 0;    // the Windows frame size
  int clientWidth = 0, clientHeight = 0;  // its client area; control coordinates are client coordinates
  std::vector<ControlSpec> controls;      // parents come before their children
  // The controls a backend treats apart: the window itself (its title, its
  // created and close events, the parent of top-level controls), the list
  // view, the context menu and the drop target.
  Control mainWindow = Control::主窗口;
  Control listControl = Control::超级列表框1;
  std::vector<ColumnSpec> columns;
  Control menu = Control::菜单;
  Control dropTarget = Control::拖放对象1;

  const ControlSpec* Find(Control c) const {
    for (const auto& s : controls) {
      if (s.name == c) return &s;
    }
    return nullptr;
  }
};

}  // namespace quillon::platform
