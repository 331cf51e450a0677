// The Linux backend of System: POSIX files, its own private-profile engine,
// libcurl, netlink (libnl-route-3).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/system.h"

namespace quillon::platform {

class NetworkWatch;

class PosixSystem : public System {
 public:
  explicit PosixSystem(std::string homeOverride = {});
  ~PosixSystem() override;

  // files_ini.cpp
  std::string ProgramDirectory() override;
  std::string PathSeparator() const override { return "/"; }
  bool FileExists(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  ByteArray FileRead(const std::string& path) override;
  void FileReadPieces(const std::string& path, const std::function<void(std::string_view)>& piece) override;
  bool FileDelete(const std::string& path) override;
  bool FileWrite(const std::string& path, const ByteArray& bytes) override;
  std::string DecodeText(const ByteArray& bytes) override;
  std::string RealPath(const std::string& path) override;
  std::vector<std::string> IniSections(const std::string& file) override;
  std::vector<IniRecord> IniReadKeys(const std::string& file, const std::vector<std::string>& keys) override;
  // The directory and every one on the way to it must be safe from other
  // users (the rule is in files_ini.cpp).
  std::string ConfigDirectoryProblem(const std::string& directory) override;

  // process_http.cpp
  std::string RegistryReadText(int root, const std::string& path, const std::string& fallback) override;
  bool StartWorker(std::function<void()> routine) override;

  // lines_routes.cpp
  std::vector<LineInfo> ListAdapters() override;
  std::string ConnectionName(const std::string& adapterName) override;
  std::string DiscoverGatewayText() override;

  // split_routes.cpp
  Lookup LookupHost(const std::string& destination, const std::string& logPath, bool keepLog) override;
  std::vector<Lookup> LookupHosts(const std::vector<std::string>& destinations, const std::string& logPath,
                                  const std::function<void(std::size_t)>& starting) override;
  bool KeepsAnswers() const override { return true; }
  bool WatchNetwork(std::function<void(const NetworkEvent&)> onEvent) override;
  RouteReport ApplyRoutePlan(const RoutePlan& plan) override;
  bool LockRouting(const std::string& path) override;
  Ipv4 RouteGateway(const Prefix& prefix) override;
  bool RunUntilStopSignal(const std::function<void()>& start) override;

 protected:
  // process_http.cpp
  ByteArray FetchHttp(const std::string& url) override;
  // files_ini.cpp
  std::string ReadProfileString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& fallback) override;
  bool WriteProfileEntry(const std::string& file, const std::string& section,
                          const std::optional<std::string>& key,
                          const std::optional<std::string>& value) override;
  std::vector<bool> WriteProfileValues(const std::string& file, const std::vector<IniValue>& values) override;

 private:
  std::mutex watchLock_;
  std::unique_ptr<NetworkWatch> watch_;  // the network's events, once asked for
  std::string homeOverride_;
  std::once_flag baseOnce_;
  int routingLock_ = -1;  // the open lock file, held until the process ends
  std::string base_;
};

// The path of the running program file (/proc/self/exe); empty when it
// cannot be read.
std::string ExecutablePath();

// The base directory of a program started from `programDirectory` without
// --home: that directory when it can be written and is not an installed
// program's (below /usr); else $XDG_CONFIG_HOME/quillon, else
// $HOME/.config/quillon (both only when absolute); else the program's
// directory all the same.
std::string ChooseBaseDirectory(const std::string& programDirectory, bool programDirectoryWritable,
                                const char* xdgConfigHome, const char* home);

}  // namespace quillon::platform
