// A System for tests that hands every call to another one (usually the real
// backend) and lets the test look at and step into what passes: every
// lookup and route plan is recorded, and a hook runs before each lookup goes
// through.
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
  std::vector<RoutePlan> plans;
  // Runs before each lookup is handed on (outside the lock).
  std::function<void(const std::string& destination)> beforeLookup;
  // When set, the gateway discovery answers this instead of the system.
  std::optional<std::string> gatewayText;

  std::string ProgramDirectory() override { return inner_.ProgramDirectory(); }
  std::string PathSeparator() const override { return inner_.PathSeparator(); }
  bool FileExists(const std::string& p) override { return inner_.FileExists(p); }
  bool CreateDirectory(const std::string& p) override { return inner_.CreateDirectory(p); }
  ByteArray FileRead(const std::string& p) override { return inner_.FileRead(p); }
  void FileReadPieces(const std::string& p, const std::function<void(std::string_view)>& piece) override {
    inner_.FileReadPieces(p, piece);
  }
  bool FileDelete(const std::string& p) override { return inner_.FileDelete(p); }
  bool FileWrite(const std::string& p, const ByteArray& b) override { return inner_.FileWrite(p, b); }
  std::string DecodeText(const ByteArray& b) override { return inner_.DecodeText(b); }
  std::string RealPath(const std::string& p) override { return inner_.RealPath(p); }
  std::vector<std::string> IniSections(const std::string& f) override { return inner_.IniSections(f); }
  std::vector<IniRecord> IniReadKeys(const std::string& f, const std::vector<std::string>& k) override {
    return inner_.IniReadKeys(f, k);
  }
  std::string RegistryReadText(int r, const std::string& p, const std::string& d) override {
    return inner_.RegistryReadText(r, p, d);
  }
  bool StartWorker(std::function<void()> routine) override { return inner_.StartWorker(std::move(routine)); }
  std::vector<LineInfo> ListAdapters() override { return inner_.ListAdapters(); }
  std::string ConnectionName(const std::string& a) override { return inner_.ConnectionName(a); }
  std::string DiscoverGatewayText() override { return gatewayText ? *gatewayText : inner_.DiscoverGatewayText(); }
  Lookup LookupHost(const std::string& d, const std::string& log, bool keepLog) override;
  std::vector<Lookup> LookupHosts(const std::vector<std::string>& ds, const std::string& log,
                                  const std::function<void(std::size_t)>& starting) override;
  RouteReport ApplyRoutePlan(const RoutePlan& plan) override;
  bool LockRouting(const std::string& p) override { return inner_.LockRouting(p); }
  Ipv4 RouteGateway(const Prefix& p) override { return inner_.RouteGateway(p); }
  bool RunUntilStopSignal(const std::function<void()>& s) override { return inner_.RunUntilStopSignal(s); }
  bool WatchNetwork(std::function<void(const NetworkEvent&)> e) override { return inner_.WatchNetwork(std::move(e)); }
  std::string ConfigDirectoryProblem(const std::string& d) override { return inner_.ConfigDirectoryProblem(d); }

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
  std::vector<bool> WriteProfileValues(const std::string& f, const std::vector<IniValue>& v) override {
    return inner_.IniWriteMany(f, v);
  }

 private:
  System& inner_;
};

}  // namespace quillon::platform
