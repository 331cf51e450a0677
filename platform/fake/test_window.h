// A window description for logic tests that need only the list's columns
// (and the controls every description names).
#pragma once

#include "platform/window_model.h"

namespace quillon::platform {

inline const WindowSpec& TestWindowSpec() {
  static const WindowSpec spec = [] {
    WindowSpec s;
    s.mainWindow = Control::主窗口;
    s.listControl = Control::超级列表框1;
    s.menu = Control::菜单;
    s.dropTarget = Control::拖放对象1;
    s.columns = {{"序号", 40}, {"网址/IP", 150}, {"分配线路", 90}, {"线路名称", 90}, {"分流设置", 60}, {"备注", 150}};
    return s;
  }();
  return spec;
}

}  // namespace quillon::platform
