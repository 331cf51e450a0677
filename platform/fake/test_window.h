// A window description for logic tests that need only the list's columns.
#pragma once

#include "platform/window_model.h"

namespace quillon::platform {

inline const WindowSpec& TestWindowSpec() {
  static const WindowSpec spec = [] {
    WindowSpec s;
    s.columns = {{"序号", 40}, {"网址/IP", 150}, {"分配线路", 90}, {"线路名称", 90}, {"分流设置", 60}, {"备注", 150}};
    return s;
  }();
  return spec;
}

}  // namespace quillon::platform
