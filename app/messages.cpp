#include "app/messages.h"

namespace quillon::app {

std::string NoticeText(const std::string& siteHost) {
  return "本程序为Zelkova开发，如有误报，请允许信任或删除不用。\r\n"
         "本程序为个人委托开发自用，如不慎外泄，请勿用于非法用途\r\n"
         "\r\n"
         "开发者：Ferrowin    委托人QQ/微信：512340987\r\n"
         "委托人所属平台：" +
         siteHost +
         "（Veltmark）\r\n"
         "\r\n"
         "确定打开程序并开始使用？";
}

std::string StartFailureText(const std::string& siteHost) {
  return "程序启动失败，请检查版本号是否过低，或请重新打开试试。\r\n"
         "如果仍旧无法启动，请前往平台下载最新版：" +
         siteHost +
         "\r\n"
         "或联系程序管理员，微信：512340987";
}

std::string PrefixHostBitsText(const std::string& meant) {
  return "这个前缀含有主机位，您想输入的可能是 " + meant + "。";
}

AddMessage MessageOf(const routing::AddOutcome& outcome) {
  using Result = routing::AddOutcome::Result;
  switch (outcome.result) {
    case Result::NoLine: return {kChooseLine, kNoteCaption};
    case Result::NoDestination: return {kEnterDestination, kNoteCaption};
    case Result::BadDestination: return {kBadDestination, kNoteCaption};
    case Result::BadLine: return {kBadLine, kNoteCaption};
    case Result::PrefixHostBits: return {PrefixHostBitsText(outcome.meant), kNoteCaption};
    case Result::PrefixTooShort: return {kPrefixTooShort, kNoteCaption};
    case Result::PrefixNotRoutable: return {kPrefixNotRoutable, kNoteCaption};
    // A row for an entry that is not stored would vanish at the next reload.
    case Result::NotStored: return {kNotStored, kErrorCaption};
    case Result::Stored:
    case Result::NotLookedUp:
    case Result::NoAnswer: break;
  }
  return {};
}

std::string ImportCountText(const importing::ImportReport& report) {
  std::string text = "本次载入[" + std::to_string(report.stored) + "]条配置已完成";
  if (!report.list) return text;
  text += "\r\n跳过无效的行[" + std::to_string(report.skipped) + "]条，已在分流列表中的[" +
          std::to_string(report.duplicates) + "]条保持不变。";
  if (report.names) {
    text += "\r\n列表中的域名只分流名称本身，不含其子域名；要让整个域名（含子域名）走线路，"
            "请在路由器上使用 quillon --export 目录 --format router。";
  }
  return text;
}

}  // namespace quillon::app
