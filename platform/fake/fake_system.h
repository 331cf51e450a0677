// In-memory System for tests: files, directories and INI files in maps,
// scripted HTTP answers, lookups, adapters and gateways, and a record of
// every route request. A call that the test did not script fails the test.
// Every call holds one lock, so workers on threads of their own may use it;
// a test reads the records once those have ended.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/system.h"

namespace quillon::platform {

class FakeSystem : public System {
 public:
  // ---- what the test sets up ----
  std::string programDirectory = "/q";
  std::string separator = "/";
  std::set<std::string> directories;
  std::map<std::string, ByteArray> files;
  bool failWrites = false;  // every INI write and directory creation fails
  std::set<std::string> failSections;  // INI writes into these sections fail
  std::map<std::string, ByteArray> httpAnswers;  // url -> body
  std::set<std::string> httpFailures;            // urls whose request fails (empty body)
  std::vector<LineInfo> adapters;
  std::map<std::string, std::string> connectionNames;  // AdapterName -> name
  std::string gatewayText;
  bool runWorkersAtOnce = false;  // StartWorker runs the routine before it returns
  bool realThreads = false;       // StartWorker starts a real (detached) thread
  // Lookups: destination -> its answer. A destination in `lookupsNotStarted`
  // cannot be looked up; any other unscripted one fails the test.
  // `onLookup` runs inside each lookup (outside the lock).
  std::map<std::string, Lookup> lookups;
  std::set<std::string> lookupsNotStarted;
  std::function<void(const std::string& destination)> onLookup;
  // Scripts the answer of `destination`: these addresses (dotted texts).
  void Answer(const std::string& destination, const std::vector<std::string>& addresses, std::uint32_t ttl = 0);
  bool routingLockTaken = false;  // another process holds the routing lock
  bool keepsAnswers = false;      // answers may be kept for their TTL (as on Linux)
  // What every applied plan reports besides its counts.
  RouteReport::Outcome planOutcome = RouteReport::Outcome::Done;
  std::string planReason;
  std::map<std::string, std::string> routeGateways;  // "a.b.c.d/n" -> gateway of its route now

  // ---- what the test reads back ----
  std::vector<std::string> httpRequests;
  std::vector<RoutePlan> plans;         // every plan applied, in order
  // The Windows command lines of every plan applied, in order.
  std::vector<std::string> commands;
  std::vector<std::string> lookedUp;    // destinations, in order
  std::vector<std::string> calls;       // every call that touches the system, in order
  int discoveries = 0;
  std::deque<std::function<void()>> pendingWorkers;
  void RunPendingWorkers();

  // ---- INI store, readable by tests ----
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
  };
  std::map<std::string, std::vector<Section>> inis;  // file -> sections in order
  // The value of a key, or nullopt; looked up the way IniRead does.
  std::optional<std::string> IniValue(const std::string& file, const std::string& section,
                                      const std::string& key) const;

  // ---- System ----
  std::string ProgramDirectory() override;
  std::string PathSeparator() const override { return separator; }
  bool FileExists(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  ByteArray FileRead(const std::string& path) override;
  bool FileDelete(const std::string& path) override;
  bool FileWrite(const std::string& path, const ByteArray& bytes) override;
  std::string DecodeText(const ByteArray& bytes) override;
  std::vector<std::string> IniSections(const std::string& file) override;
  std::string RegistryReadText(int root, const std::string& path, const std::string& fallback) override;
  bool StartWorker(std::function<void()> routine) override;
  std::vector<LineInfo> ListAdapters() override;
  std::string ConnectionName(const std::string& adapterName) override;
  std::string DiscoverGatewayText() override;
  Lookup LookupHost(const std::string& destination, const std::string& logPath, bool keepLog) override;
  RouteReport ApplyRoutePlan(const RoutePlan& plan) override;
  bool KeepsAnswers() const override { return keepsAnswers; }
  bool LockRouting(const std::string& path) override;
  Ipv4 RouteGateway(const Prefix& prefix) override;
  bool RunUntilStopSignal(const std::function<void()>& start) override;

  std::recursive_mutex lock;  // held by every call

 protected:
  ByteArray FetchHttp(const std::string& url) override;
  std::string ReadProfileString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& fallback) override;
  bool WriteProfileEntry(const std::string& file, const std::string& section,
                          const std::optional<std::string>& key,
                          const std::optional<std::string>& value) override;

 private:
  std::string Parent(const std::string& path) const;
};

}  // namespace quillon::platform
