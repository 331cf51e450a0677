// The Windows backend of System: the ANSI Win32 API (private-profile INI,
// registry, CreateProcessA + cmd /C, WinINet, IP Helper and its change
// notifications, WMI and the Task Scheduler over COM).
// This header includes no system header; the .cpp files do.
#pragma once

#include <memory>
#include <string>

#include "platform/system.h"

namespace quillon::platform {

namespace win32 {
class NetworkWatch;
}

class Win32System : public System {
 public:
  // The first one made also limits the DLL search of the whole process to
  // the system folder (SetDefaultDllDirectories, SetDllDirectory("")): a DLL
  // that the program loads by name is never taken from its own folder or
  // the current directory. A relative home directory is made absolute here,
  // against the current directory of the moment.
  explicit Win32System(std::string homeOverride = {});
  ~Win32System() override;

  // files_ini.cpp
  // The directory of the running program file (ProgramDirectory unless a
  // home directory was given).
  static std::string ProgramFileDirectory();
  std::string ProgramDirectory() override;
  std::string PathSeparator() const override { return "\\"; }
  bool FileExists(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  ByteArray FileRead(const std::string& path) override;
  bool FileDelete(const std::string& path) override;
  bool FileWrite(const std::string& path, const ByteArray& bytes) override;
  std::string DecodeText(const ByteArray& bytes) override;
  std::vector<std::string> IniSections(const std::string& file) override;

  // process_http.cpp
  std::string RegistryReadText(int root, const std::string& path, const std::string& fallback) override;
  bool StartWorker(std::function<void()> routine) override;
  // CreateProcessA of `commandLine` with no inherited handles; show mode 1..6
  // (clamped) through STARTF_USESHOWWINDOW: 1 SW_HIDE, 2 SW_SHOWNORMAL,
  // 3 SW_SHOWMINIMIZED, 4 SW_SHOWMAXIMIZED, 5 SW_SHOWNOACTIVATE, 6 SW_MINIMIZE.
  // The command line's first word names the program: a full path, or a bare
  // name ("cmd") that is taken from the system folder only, never from the
  // program's folder, the current directory or PATH; anything else starts
  // nothing. The line reaches the program byte for byte; the program's current
  // directory is the system folder, so that cmd finds the system's own tools
  // before any other. With `wait` it waits for the end without limit,
  // otherwise at most 1000 ms for the process to become idle. True when the
  // process was created; the exit code is never read.
  bool RunCommand(const std::string& commandLine, bool wait = false, int showMode = 2);

  // lines_routes.cpp
  std::vector<LineInfo> ListAdapters() override;
  std::string ConnectionName(const std::string& adapterName) override;
  std::string DiscoverGatewayText() override;
  Lookup LookupHost(const std::string& destination, const std::string& logPath, bool keepLog) override;
  RouteReport ApplyRoutePlan(const RoutePlan& plan) override;
  bool LockRouting(const std::string& path) override;
  Ipv4 RouteGateway(const Prefix& prefix) override;
  bool RunUntilStopSignal(const std::function<void()>&) override { return false; }
  void UseParentConsole() override;

  // network_watch.cpp: NotifyIpInterfaceChange and NotifyRouteChange2
  // (network_watch.h says what each reports). `onEvent` runs on a thread of
  // the system's, one call at a time, and must return quickly. A second call
  // stops the first watch. False where the system reports nothing.
  bool WatchNetwork(std::function<void(const NetworkEvent&)> onEvent) override;

  // autostart.cpp: a Task Scheduler task, run at this user's logon with the
  // user's highest rights (no elevation prompt), that starts this program
  // file; off removes it. Needs a process with administrator rights.
  bool SetAutostart(bool on, std::string& message) override;

 protected:
  // process_http.cpp
  ByteArray FetchHttp(const std::string& url) override;
  // files_ini.cpp
  std::string ReadProfileString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& fallback) override;
  bool WriteProfileEntry(const std::string& file, const std::string& section,
                          const std::optional<std::string>& key,
                          const std::optional<std::string>& value) override;

 private:
  std::string homeOverride_;
  void* internet_ = nullptr;  // the WinINet handle, opened on first use
  void* routingLock_ = nullptr;  // the lock file, open without sharing until the process ends
  std::shared_ptr<win32::NetworkWatch> networkWatch_;  // while WatchNetwork reports
};

}  // namespace quillon::platform
