#include "platform/fake/forwarding_system.h"

namespace quillon::platform {

bool ForwardingSystem::AddDefaultRoute(const std::string& g, const std::string& m) {
  {
    std::lock_guard<std::mutex> hold(lock);
    defaults.emplace_back(g, m);
  }
  return inner_.AddDefaultRoute(g, m);
}

System::LookupAnswer ForwardingSystem::LookupHost(const std::string& d, const std::string& log) {
  {
    std::lock_guard<std::mutex> hold(lock);
    lookups.push_back(d);
  }
  if (beforeLookup) beforeLookup(d);
  return inner_.LookupHost(d, log);
}

std::unique_ptr<System::RoutePass> ForwardingSystem::BeginRoutePass() {
  class Pass final : public RoutePass {
   public:
    Pass(ForwardingSystem& outer, std::unique_ptr<RoutePass> inner) : outer_(outer), inner_(std::move(inner)) {}
    void RouteNetwork(const std::string& n, const std::string& l) override {
      {
        std::lock_guard<std::mutex> hold(outer_.lock);
        outer_.routes.emplace_back(n, l);
      }
      inner_->RouteNetwork(n, l);
    }
    RouteChanges Finish() override { return inner_->Finish(); }

   private:
    ForwardingSystem& outer_;
    std::unique_ptr<RoutePass> inner_;
  };
  return std::make_unique<Pass>(*this, inner_.BeginRoutePass());
}

}  // namespace quillon::platform
