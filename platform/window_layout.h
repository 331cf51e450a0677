// How a window is laid out, as data: its controls with their kinds, parents,
// captions, geometry and initial visibility, the list's columns, and the
// events a control fires. The program describes its own window with these
// types (app/window_description.cpp) and names its controls itself; both UI
// backends build their widgets from such a layout and know controls only by
// their ids and kinds.
#pragma once

#include <compare>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quillon::platform {

// A control of the window, by the number the program gives it. Any
// enumeration of the program's own converts to it.
struct ControlId {
  int value = -1;
  constexpr ControlId() = default;
  constexpr explicit ControlId(int v) : value(v) {}
  template <class E, std::enable_if_t<std::is_enum_v<E>, int> = 0>
  constexpr ControlId(E e) : value(static_cast<int>(e)) {}  // NOLINT(google-explicit-constructor)
  constexpr auto operator<=>(const ControlId&) const = default;
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

struct ControlLayout {
  ControlId id;
  std::string_view name;  // the control's name, for tests and diagnostics
  ControlKind kind = ControlKind::Label;
  ControlId parent;       // the window, a group box, or the menu for menu items
  std::string caption;    // caption or initial text
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = true;
  ControlId covers;       // a control of the same parent that this one lies over in part, if any
};

struct Column {
  std::string title;
  int width = 0;
};

struct WindowLayout {
  std::string title;
  int outerWidth = 0, outerHeight = 0;    // the Windows frame size
  int clientWidth = 0, clientHeight = 0;  // its client area; control coordinates are client coordinates
  std::vector<ControlLayout> controls;    // parents come before their children
  // The controls a backend treats apart: the window itself (its title, its
  // created and close events, the parent of top-level controls), the list
  // view, the context menu and the drop target.
  ControlId mainWindow;
  ControlId listControl;
  std::vector<Column> columns;
  ControlId menu;
  ControlId dropTarget;

  const ControlLayout* Find(ControlId c) const {
    for (const auto& s : controls) {
      if (s.id == c) return &s;
    }
    return nullptr;
  }
};

}  // namespace quillon::platform
