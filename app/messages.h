// Every text the program shows or writes into a control, each written once.
// Texts with a line break use CR LF.
#pragma once

#include <string>

#include "import/prepared_import.h"
#include "routing/split_routes.h"

namespace quillon::app {

// ---- Start and end ----
inline constexpr char kNoticeCaption[] = "Quillon用户使用须知：";
inline constexpr char kStartFailureCaption[] = "分流器无法启动";
inline constexpr char kExitQuestion[] = "即将结束任务并退出？";
inline constexpr char kExitCaption[] = "退出";
std::string NoticeText(const std::string& siteHost);
std::string StartFailureText(const std::string& siteHost);
inline constexpr char kUnsafeConfigDirectory[] = "Quillon不能使用这个配置目录：";
inline constexpr char kAnotherRouter[] =
    "另一个Quillon（窗口或后台服务）正在管理分流路由。\r\n本窗口只显示分流列表，不修改路由。";

// ---- Captions ----
inline constexpr char kNoteCaption[] = "注意";
inline constexpr char kErrorCaption[] = "异常";
inline constexpr char kDeleteCaption[] = "删除";

// ---- The split list ----
inline constexpr char kEnabledText[] = "开启";
inline constexpr char kDisabledText[] = "关闭";
inline constexpr char kEnableDone[] = "操作已完成，如果配置没生效，请重启需要分流的应用即可。";
// The disable and the global line say it with an ASCII comma after 完成.
inline constexpr char kDone[] = "操作已完成,如果配置没生效，请重启需要分流的应用即可。";
inline constexpr char kDeleteQuestion[] = "是否删除：";
inline constexpr char kNoRouteRights[] = "Quillon没有修改路由表的权限，分流路由没有生效。";

// ---- The add ----
inline constexpr char kChooseLine[] = "请选择需要分配的线路！";
inline constexpr char kEnterDestination[] = "请输入需要分流的网址/IP！";
inline constexpr char kBadDestination[] =
    "网址/IP只能由字母、数字和 . - _ : / 等字符组成，不能含空格或特殊符号！";
inline constexpr char kBadLine[] = "分配线路必须是线路网关的IPv4地址，请从列表中选择！";
inline constexpr char kNotStored[] = "无法保存到分流列表，请检查配置目录是否可以写入。";
inline constexpr char kPrefixTooShort[] = "前缀长度不能小于8（例如 36.0.0.0/10）。";
inline constexpr char kPrefixNotRoutable[] = "这个前缀不能分流：0.x、127.x 和 224.0.0.0 及以上的地址不走线路。";
std::string PrefixHostBitsText(const std::string& meant);
// What the window says about an add, and under which caption; no text when
// it says nothing (stored, or nothing to store).
struct AddMessage {
  std::string text;
  const char* caption = nullptr;
};
AddMessage MessageOf(const routing::AddOutcome& outcome);

// ---- The global line ----
inline constexpr char kChooseGlobalLine[] = "请选择需要设置的线路";
inline constexpr char kConfirmGlobalLine[] = "是否确认修改本机默认全局网卡配置？";

// ---- The import ----
// The first item of 组合框4: each imported entry keeps the file's line.
inline constexpr char kKeepLineItem[] = "不更改分配线路";
inline constexpr char kChooseImportLine[] = "请选择是否更改配置文件中的分配线路";
inline constexpr char kChooseImportFile[] = "请选择需要载入的配置文件，或将配置文件拖到当前页面";
inline constexpr char kBrowseTitle[] = "请选择需要载入的配置文件";
inline constexpr char kOtherLayout[] = "该配置文件不支持直接导入当前版本，请更新最新版的配置文件。";
inline constexpr char kListNeedsLine[] =
    "这是一个列表文件，它没有自己的分配线路：请在“更改分配线路”中选择一条线路，再载入。";
// The count of an import; for a list also what it left out and, once, that a
// name is routed as itself, not with its subdomains.
std::string ImportCountText(const importing::ImportReport& report);

}  // namespace quillon::app
