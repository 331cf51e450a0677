#include "routing/global_line.h"

#include "lines/lines.h"
#include "routing/config_paths.h"
#include "platform/safety.h"

namespace quillon::routing {

using platform::AnswerOk;
using platform::AskOk;
using platform::AskOkCancel;
using platform::Control;

namespace {

constexpr const char* kKeepLineItem = "不更改分配线路";

}  // namespace

void ApplyGlobalLine(platform::System& sys, platform::Ui& ui) {
  if (ui.ReadControlText(Control::组合框2).empty()) {
    ui.AskUser("请选择需要设置的线路", AskOk, "异常");
    return;
  }
  if (ui.AskUser("是否确认修改本机默认全局网卡配置？", AskOkCancel, "注意") != AnswerOk) return;

  // Where the discovery reads the routing table, it must run while the
  // default routes are still there; elsewhere it runs after the delete.
  std::vector<std::string> gateways;
  const bool discoverFirst = sys.DiscoveryReadsRoutingTable();
  if (discoverFirst) gateways = lines::DiscoverGateways(sys);
  sys.DeleteDefaultRoutes();
  if (!discoverFirst) gateways = lines::DiscoverGateways(sys);

  const std::string store = GlobalLineStore(sys);
  const std::size_t count = gateways.size();
  for (std::size_t p = 1; p <= count; ++p) {
    const std::string& g = gateways[p - 1];
    const std::string metric =
        ui.ReadControlText(Control::组合框2) == g ? "1" : platform::ToText(static_cast<int>((p + 1) * 50));
    // Only a gateway that passes the rule reaches a route request; the store
    // is written for every line all the same.
    if (platform::IsGatewayText(g)) sys.AddDefaultRoute(g, metric);
    sys.IniWrite(store, g, "id", metric);
  }
  ui.AskUser("操作已完成,如果配置没生效，请重启需要分流的应用即可。", AskOk, "注意");
}

void RestoreGlobalLine(platform::System& sys, platform::Ui& ui) {
  const std::vector<std::string> gateways = lines::DiscoverGateways(sys);
  const std::size_t count = gateways.size();
  ui.ComboAddItem(Control::组合框4, kKeepLineItem);
  const std::string store = GlobalLineStore(sys);
  for (std::size_t p = 1; p <= count; ++p) {
    const std::string& g = gateways[p - 1];
    const std::string stored = sys.IniRead(store, g, "id");
    // A stored text that is not a metric (digits only, at most four) never
    // reaches a route request: it counts as a value without leading digits.
    const int metric = platform::IsMetricText(stored) ? platform::TextToInteger(stored) : 0;
    if (metric > 0 && platform::IsGatewayText(g)) sys.AddDefaultRoute(g, stored);
    if (metric == 1) ui.WriteControlText(Control::组合框2, g);
    ui.ComboAddItem(Control::组合框1, g);
    ui.ComboAddItem(Control::组合框2, g);
    ui.ComboAddItem(Control::组合框4, g);
  }
}

}  // namespace quillon::routing
