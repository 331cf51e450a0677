#include "routing/global_line.h"

#include "lines/lines.h"
#include "platform/safety.h"
#include "routing/config_paths.h"

namespace quillon::routing {

namespace {

constexpr char kMetricKey[] = "id";

}  // namespace

RestoredLines RestoreGlobalLine(platform::System& sys) {
  RestoredLines restored;
  platform::RoutePlan plan;
  const std::string store = ConfigFile(sys, kGlobalLineStoreName);
  for (const std::string& g : lines::DiscoverGateways(sys)) {
    const std::string stored = sys.IniRead(store, g, kMetricKey);
    // A stored text that is not a metric (digits only, at most four) never
    // reaches a route request: it counts as a value without leading digits.
    const int metric = platform::IsMetricText(stored) ? platform::TextToInteger(stored) : 0;
    const auto gateway = platform::ParseIpv4(g);
    if (metric > 0 && gateway && platform::IsGatewayAddress(*gateway)) {
      plan.defaults.push_back({*gateway, static_cast<std::uint32_t>(metric)});
    }
    restored.lines.push_back({g, metric == 1});
  }
  if (!plan.defaults.empty()) restored.routes = sys.ApplyRoutePlan(plan);
  return restored;
}

AppliedGlobalLine ApplyGlobalLine(platform::System& sys, const std::string& chosen) {
  AppliedGlobalLine applied;
  applied.lines = lines::DiscoverGateways(sys);
  platform::RoutePlan plan;
  plan.replaceDefaults = true;
  std::vector<platform::System::IniValue> metrics;
  for (std::size_t p = 1; p <= applied.lines.size(); ++p) {
    const std::string& g = applied.lines[p - 1];
    const int metric = g == chosen ? 1 : static_cast<int>((p + 1) * 50);
    // Only a gateway that passes the rule reaches a route request; the store
    // is written for every line all the same.
    const auto gateway = platform::ParseIpv4(g);
    if (gateway && platform::IsGatewayAddress(*gateway)) {
      plan.defaults.push_back({*gateway, static_cast<std::uint32_t>(metric)});
    }
    metrics.push_back({g, kMetricKey, platform::ToText(metric)});
  }
  applied.routes = sys.ApplyRoutePlan(plan);
  sys.IniWriteMany(ConfigFile(sys, kGlobalLineStoreName), metrics);
  return applied;
}

}  // namespace quillon::routing
