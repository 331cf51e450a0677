// Port `System`: everything that touches the operating system except the
// window. One backend per platform (platform/posix, platform/win32) and one
// in-memory fake (platform/fake). No service throws: failures fold into the
// result (false, an empty text, an empty list).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/line_info.h"
#include "platform/lookup.h"
#include "platform/network_event.h"
#include "platform/route_plan.h"
#include "platform/text.h"

namespace quillon::platform {

class System {
 public:
  virtual ~System() = default;

  // ---- Files and directories ------------------------------------------------

  // The base directory: the program's own directory without a trailing
  // separator, or the directory given with --home / QUILLON_HOME.
  virtual std::string ProgramDirectory() = 0;
  // The separator that callers put between a directory and a name.
  virtual std::string PathSeparator() const = 0;
  // True when the path names an existing file or directory.
  virtual bool FileExists(const std::string& path) = 0;
  // Creates one directory level; true on success.
  virtual bool CreateDirectory(const std::string& path) = 0;
  // The whole file; empty for an empty path, a file that cannot be opened or
  // an empty file.
  virtual ByteArray FileRead(const std::string& path) = 0;
  // The same bytes, handed to `piece` in order a piece at a time, so that
  // a large file is never held whole; nothing for what FileRead gives empty.
  virtual void FileReadPieces(const std::string& path, const std::function<void(std::string_view)>& piece) {
    const ByteArray bytes = FileRead(path);
    if (!bytes.empty()) piece(bytes);
  }
  virtual bool FileDelete(const std::string& path) = 0;
  // Puts `bytes` in place of the file's content in one step (Linux: a
  // replacement that never follows a symbolic link); true when done.
  virtual bool FileWrite(const std::string& path, const ByteArray& bytes) = 0;
  // The text of a file made elsewhere, in this system's code page: UTF-16LE
  // with its byte order mark, UTF-8 (with or without one), or else the
  // Chinese Windows code page (GBK). No byte order mark stays in front.
  virtual std::string DecodeText(const ByteArray& bytes) = 0;
  // The path with its symbolic links resolved, as the user means a file he
  // chose (an import); the path as it is where there are none.
  virtual std::string RealPath(const std::string& path) { return path; }

  // ---- INI files (private-profile contract) ----------------------------------

  // Leading bytes of 0x20 or below are skipped in file, section and key; if
  // any of them is then empty the result is the empty text and the file is
  // not read. A missing file, section or key gives `fallback`. A value longer
  // than 10239 bytes is cut to 10239.
  std::string IniRead(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& fallback = {});
  // No key: deletes the whole section. No value: deletes the key. Creates the
  // file when needed, never its directory. True on success. A line break or a
  // NUL in the section, key or value is refused (false, file untouched): it
  // would write lines of its own into the file (even whole sections), or cut
  // the text short.
  bool IniWrite(const std::string& file, const std::string& section,
                const std::optional<std::string>& key, const std::optional<std::string>& value);
  // One value written by IniWriteMany.
  struct IniValue {
    std::string section;
    std::string key;
    std::string value;
  };
  // Writes the values into `file`, in order, as one change where the system
  // can: the file then holds what the IniWrite calls one after the other
  // would leave, and a crash leaves it with all of them or none (Linux).
  // Windows writes them one by one, as always, and some may fail while
  // others land. Whether each value was written, in order. A line break or
  // NUL in any text refuses the whole batch (nothing written).
  std::vector<bool> IniWriteMany(const std::string& file, const std::vector<IniValue>& values);
  // The section names of `file` in file order (duplicates as often as they
  // occur), each with the values that IniRead would give for `keys`.
  struct IniRecord {
    std::string section;
    std::vector<std::string> values;  // one per key, in the order of `keys`
  };
  virtual std::vector<IniRecord> IniReadKeys(const std::string& file, const std::vector<std::string>& keys);
  // Section names in file order (duplicates listed as often as they occur);
  // never cut short. A missing file gives an empty list.
  virtual std::vector<std::string> IniSections(const std::string& file) = 0;

  // ---- Registry (Windows; other systems give the fallback) -------------------

  enum RegistryRoot { ClassesRoot = 1, CurrentConfig = 2, CurrentUser = 3, LocalMachine = 4, Users = 5 };
  // `path` is the key path, a backslash and the value name. REG_SZ as it is,
  // REG_EXPAND_SZ expanded; any failure or other type gives `fallback`.
  virtual std::string RegistryReadText(int root, const std::string& path,
                                       const std::string& fallback = {}) = 0;

  // ---- Threads and HTTP -----------------------------------------------------

  // Runs the routine on a new thread that nobody waits for; true when the
  // thread was created.
  virtual bool StartWorker(std::function<void()> routine) = 0;
  // GET over HTTP/1.0 with the agent kHttpAgent and "Accept: */*", bypassing
  // any cache; the status code is not examined (an error page is a body) and
  // a redirect is not followed (its body is the body). The whole exchange
  // ends within kHttpTimeoutMs, and a body longer than kHttpBodyLimit fails
  // it without ever being held whole. Anything after '#' belongs to the
  // client and is not sent; an empty URL, and any failure, give an empty
  // array.
  ByteArray HttpGetText(const std::string& url);

  // ---- Lines ----------------------------------------------------------------

  // The machine's adapters in system order, ConnectionName left empty.
  virtual std::vector<LineInfo> ListAdapters() = 0;
  // The connection name (线路名称) of the adapter with this AdapterName, or the
  // empty text.
  virtual std::string ConnectionName(const std::string& adapterName) = 0;
  // The default gateways of the machine as one text, each followed by ";",
  // in the system's order (a fresh query every time).
  virtual std::string DiscoverGatewayText() = 0;

  // ---- Lookups and routes -------------------------------------------------------

  // Looks `destination` up. Windows runs the lookup tool with its output
  // redirected into the resolve log at `logPath`, waits for it, reads the log
  // back, applies the answer rules to it and, unless `keepLog`, deletes the
  // log (no other process's lookup runs in between: the log is shared by
  // every Quillon of the machine). Linux asks the resolver. A destination
  // that fails IsSafeDestination is refused: started is false and nothing
  // runs.
  virtual Lookup LookupHost(const std::string& destination, const std::string& logPath, bool keepLog) = 0;
  // Every destination looked up, one answer each in the same order; the log
  // is kept. By default one LookupHost after the other, each announced to
  // `starting` with its index first; a backend that asks for many names at
  // once does so and announces none.
  virtual std::vector<Lookup> LookupHosts(const std::vector<std::string>& destinations, const std::string& logPath,
                                          const std::function<void(std::size_t)>& starting = {});

  // Whether an answer may be kept for its TTL (Linux: the resolver gives
  // it). Where it may not (Windows, one lookup per entry and pass), every
  // pass looks every destination up again.
  virtual bool KeepsAnswers() const { return false; }

  // Puts a route plan into the routing table: Windows runs the route
  // commands, in the plan's order; Linux hands it to the route helper,
  // which changes only what differs from the table.
  virtual RouteReport ApplyRoutePlan(const RoutePlan& plan) = 0;

  // The gateway of the main table's route to exactly `prefix` now; 0 when
  // there is none (or it has no gateway).
  virtual Ipv4 RouteGateway(const Prefix& prefix) = 0;

  // Takes, for the rest of the process's life, the lock that one process at
  // a time holds while it routes the split list (a window, or a headless
  // service): a file lock on `path`. False when another process holds it.
  virtual bool LockRouting(const std::string& path) = 0;

  // ---- The network's own events ---------------------------------------------

  // Starts reporting the changes of the machine's network (links, IPv4
  // addresses, routes) to `onEvent`, on a thread of the backend's, until the
  // process ends. False where the system reports none.
  virtual bool WatchNetwork(std::function<void(const NetworkEvent&)> onEvent) {
    (void)onEvent;
    return false;
  }

  // ---- Where the stores live -------------------------------------------------

  // Why the config directory may not hold this user's stores (owned by
  // another user, writable by others, a symlink): one line, or empty when
  // it may. A missing directory is no problem.
  virtual std::string ConfigDirectoryProblem(const std::string& directory) {
    (void)directory;
    return {};
  }

  // ---- Starting with the user's session --------------------------------------

  // Registers (on) or removes (off) the start of this program, with the
  // rights it needs, when the user logs on. False with `message` (one line)
  // when that cannot be done; true with what was done.
  virtual bool SetAutostart(bool on, std::string& message) {
    (void)on;
    message = "starting with the session is not offered on this system";
    return false;
  }

  // ---- A program without a window ---------------------------------------------

  // Runs `start`, then waits until the process is asked to stop (SIGTERM or
  // SIGINT), and returns true. False at once where there is no such thing
  // (Windows).
  virtual bool RunUntilStopSignal(const std::function<void()>& start) = 0;
  // Lets a program that has no console of its own print into the console
  // of the program that started it (Windows); nothing elsewhere.
  virtual void UseParentConsole() {}

 protected:
  // IniRead once its arguments have passed the blank rule.
  virtual std::string ReadProfileString(const std::string& file, const std::string& section,
                                        const std::string& key, const std::string& fallback) = 0;
  // IniWriteMany once every text has passed the line-break rule. By default
  // one WriteProfileEntry per value.
  virtual std::vector<bool> WriteProfileValues(const std::string& file, const std::vector<IniValue>& values);
  // HttpGetText once the fragment is cut off; `url` is never empty.
  virtual ByteArray FetchHttp(const std::string& url) = 0;
  // IniWrite once its arguments have passed the line-break rule.
  virtual bool WriteProfileEntry(const std::string& file, const std::string& section,
                                  const std::optional<std::string>& key,
                                  const std::optional<std::string>& value) = 0;
};

// The user agent of every HTTP request.
inline constexpr char kHttpAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
// HttpGetText's bounds: the version gate's answer is one byte, and a start
// waits for it, so a server that drips, stalls or sends without end costs
// at most this time and this much memory.
inline constexpr int kHttpTimeoutMs = 5000;
inline constexpr std::size_t kHttpBodyLimit = 4096;

// Largest value IniRead returns, in bytes (the 10240-byte buffer holds the NUL).
inline constexpr std::size_t kIniValueLimit = 10239;

// Runs `routine` on a new detached std::thread; false when the routine is
// empty or the thread cannot be created. Both backends start workers so.
bool StartDetachedThread(std::function<void()> routine);

// Skips leading bytes of 0x20 or below (the argument rule of IniRead).
std::string SkipLeadingControlBytes(const std::string& text);

}  // namespace quillon::platform
