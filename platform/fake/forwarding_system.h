// A System for tests that hands every call to another one (usually the real
// backend) and lets the test look at and step into what passes: every
// lookup, per-network route request and default route is recorded, and a
// hook runs before each lookup goes through.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"

namespace quillon::platform {

class ForwardingSystem : public System {
 public:
  explicit ForwardingSystem(System& inner) : inner_(inner) {}

  // ---- what passed (under `lock` while workers may run) ----
  std::mutex lock;
  std::vector<std::string> lookups;
  std::vector<std::pair<std::string, std::string>> routes;    // network, line
  std::vector<std::pair<std::string, std::string>> defaults;  // gateway, metric
  // Runs before each lookup is handed on (outside the lock).
  std::function<void(const std::string& destination)> beforeLookup;
  // When set, the gateway discovery answers this instead of the system.
  std::optional<std::string> gatewayText;

  std::string ProgramDirectory() override { return inner_.ProgramDirectory(); }
  std::string PathSeparator() const override { return inner_.PathSeparator(); }
  bool FileExists(const std::string& p) override { return inner_.FileExists(p); }
  bool CreateDirectory(const std::string& p) override { return inner_.CreateDirectory(p); }
  ByteArray FileRead(const std::string& p) override { return inner_.FileRead(p); }
  bool FileDelete(const std::string& p) override { return inner_.FileDelete(p); }
  std::vector<std::string> IniSections(const std::string& f) override { return inner_.IniSections(f); }
  std::string RegistryReadText(int r, const std::string& p, const std::string& d) override {
    return inner_.RegistryReadText(r, p, d);
  }
  bool StartWorker(std::function<void()> routine) override { return inner_.StartWorker(std::move(routine)); }
  std::vector<LineInfo> ListAdapters() override { return inner_.ListAdapters(); }
  std::string ConnectionName(const std::string& a) override { return inner_.ConnectionName(a); }
  std::string DiscoverGatewayText() override { return gatewayText ? *gatewayText : inner_.DiscoverGatewayText(); }
  bool DiscoveryReadsRoutingTable() const override { return inner_.DiscoveryReadsRoutingTable(); }
  bool DeleteDefaultRoutes() override { return inner_.DeleteDefaultRoutes(); }
  bool AddDefaultRoute(const std::string& g, const std::string& m) override;
  LookupAnswer LookupHost(const std::string& d, const std::string& log) override;
  bool LookupsMayOverlap() const override { return inner_.LookupsMayOverlap(); }
  std::unique_ptr<RoutePass> BeginRoutePass() override;
  bool LockRouting(const std::string& p) override { return inner_.LockRouting(p); }
  std::string RouteRightsAdvice() override { return inner_.RouteRightsAdvice(); }
  std::string NetworkRoute(const std::string& n) override { return inner_.NetworkRoute(n); }
  bool RunUntilStopSignal(const std::function<void()>& s) override { return inner_.RunUntilStopSignal(s); }

 protected:
  ByteArray FetchHttp(const std::string& url) override { return inner_.HttpGetText(url); }
  std::string ReadProfileString(const std::string& f, const std::string& s, const std::string& k,
                                const std::string& d) override {
    return inner_.IniRead(f, s, k, d);
  }
  bool WriteProfileEntry(const std::string& f, const std::string& s, const std::optional<std::string>& k,
                         const std::optional<std::string>& v) override {
    return inner_.IniWrite(f, s, k, v);
  }
  bool WriteProfileValues(const std::string& f, const std::vector<IniValue>& v) override {
    return inner_.IniWriteMany(f, v);
  }

 private:
  System& inner_;
};

}  // namespace quillon::platform
