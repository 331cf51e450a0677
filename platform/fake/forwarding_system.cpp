#include "platform/fake/forwarding_system.h"

namespace quillon::platform {

Lookup ForwardingSystem::LookupHost(const std::string& d, const std::string& log, bool keepLog) {
  {
    std::lock_guard<std::mutex> hold(lock);
    lookups.push_back(d);
  }
  if (beforeLookup) beforeLookup(d);
  return inner_.LookupHost(d, log, keepLog);
}

std::vector<Lookup> ForwardingSystem::LookupHosts(const std::vector<std::string>& ds, const std::string& log,
                                                  const std::function<void(std::size_t)>& starting) {
  {
    std::lock_guard<std::mutex> hold(lock);
    lookups.insert(lookups.end(), ds.begin(), ds.end());
  }
  if (!beforeLookup) return inner_.LookupHosts(ds, log, starting);
  // The hook steps into each lookup: they go one by one then.
  std::vector<Lookup> answers;
  for (std::size_t i = 0; i < ds.size(); ++i) {
    if (starting) starting(i);
    beforeLookup(ds[i]);
    answers.push_back(inner_.LookupHost(ds[i], log, true));
  }
  return answers;
}

RouteReport ForwardingSystem::ApplyRoutePlan(const RoutePlan& plan) {
  {
    std::lock_guard<std::mutex> hold(lock);
    plans.push_back(plan);
  }
  return inner_.ApplyRoutePlan(plan);
}

}  // namespace quillon::platform
