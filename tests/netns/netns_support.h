// Helpers for the tests that run inside the namespace made by netns-run.sh:
// whether we are really inside it, running `ip` to set up or read back the
// routing table, and a reader for `ip -j` output.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system.h"
#include "routing/split_routes.h"
#include "routing/split_store.h"

namespace quillon::netns {

// Empty when the test runs inside the private namespace made by
// netns-run.sh; else why not. Guards the machine's own routing table.
std::string WhyNotInsideNamespace();
// Whether a developer allowed suites that cannot run to skip
// (QUILLON_ALLOW_SKIP=1); never set in CI.
bool SkipAllowed();

// In a test's SetUp: outside the namespace the test fails (or, when
// SkipAllowed(), is skipped) without touching anything.
#define QUILLON_REQUIRE_NAMESPACE()                                    \
  do {                                                                 \
    const std::string why_ = ::quillon::netns::WhyNotInsideNamespace(); \
    if (!why_.empty()) {                                               \
      if (::quillon::netns::SkipAllowed()) GTEST_SKIP() << why_;       \
      FAIL() << why_ << " (QUILLON_ALLOW_SKIP=1 skips)";              \
    }                                                                  \
  } while (0)

// Runs `ip ARGS` (the arguments are passed as they are, no shell); returns
// its standard output, or nothing with ok=false when it fails. Its error
// output goes to ours unless `quiet`.
struct IpResult {
  bool ok = false;
  std::string out;
};
IpResult Ip(const std::vector<std::string>& args, bool quiet = false);
// Runs `ip ARGS` and fails the current test when it does not succeed.
void IpOk(const std::vector<std::string>& args);

// One IPv4 default route of a table as `ip -j route` shows it; a multipath
// route gives one entry per next hop.
struct DefaultRoute {
  std::string gateway;  // empty for a route without gateway
  std::string dev;
  std::uint32_t metric = 0;
  bool operator==(const DefaultRoute&) const = default;
  bool operator<(const DefaultRoute& o) const {
    if (gateway != o.gateway) return gateway < o.gateway;
    if (dev != o.dev) return dev < o.dev;
    return metric < o.metric;
  }
};
inline void PrintTo(const DefaultRoute& r, std::ostream* os) {
  *os << "{via " << (r.gateway.empty() ? "-" : r.gateway) << " dev " << r.dev << " metric " << r.metric
      << "}";
}

// The IPv4 default routes of `table` ("main" unless told), sorted.
std::vector<DefaultRoute> DefaultRoutes(const std::string& table = "main");
// Every IPv4 route of `table` as "DST via GW dev DEV metric M" texts, sorted.
std::vector<std::string> RouteTexts(const std::string& table = "main");

// Puts the namespace back into the state netns-run.sh made: addresses, no
// address on v3, no route added by a test (table 100 emptied), and the three
// default routes (v2 metric 10, v1 20, v0 30) as the only default routes of
// the main table.
void RestoreBaseline();

// Waits (polling every 5 ms) until `done` holds, at most `seconds`.
bool WaitFor(const std::function<bool()>& done, int seconds);

// A program started in the background (no shell) with its standard output
// and error going to `outputPath`; stopped with SIGTERM and reaped when the
// object goes.
class Background {
 public:
  Background(const std::vector<std::string>& argv, const std::string& outputPath);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  bool Started() const { return pid_ > 0; }
  // Sends `signal` and waits for the end; the exit code, or -1 when the
  // program did not exit by itself (killed by a signal).
  int Stop(int signal);

 private:
  int pid_ = -1;
};

// Runs a program to its end (no shell) with its standard output and error
// captured apart.
struct ProgramRun {
  int code = -1;  // the exit code, -1 when killed by a signal
  std::string out;
  std::string err;
};
ProgramRun RunProgram(const std::vector<std::string>& argv);

// The whole file, as bytes.
std::string ReadFileText(const std::string& path);

// dnsmasq on the namespace's loopback, answering exactly `records` (name ->
// its IPv4 addresses) and refusing every other name. The constructor waits
// until the first name resolves (at most 10 s); Ready() tells whether it did.
class TestDns {
 public:
  // `extra`: more dnsmasq options (e.g. --server=/slow.test/ADDR sends one
  // domain's questions to a server that never answers; a --log-facility
  // replaces the log on standard error).
  explicit TestDns(const std::map<std::string, std::vector<std::string>>& records,
                   const std::vector<std::string>& extra = {});
  bool Ready() const { return ready_; }

 private:
  std::string directory_;
  std::unique_ptr<Background> server_;
  bool ready_ = false;
};

// `ip monitor route` running for the life of the object. Mark() makes a
// change of its own (a route to 198.18.255.0/24 added and deleted) and
// waits until the monitor has printed it; Since() gives what the monitor
// printed between the last two marks, the marks' own lines left out.
class RouteMonitor {
 public:
  RouteMonitor();
  ~RouteMonitor();
  bool Mark();
  std::vector<std::string> Since() const { return since_; }

 private:
  std::string directory_;
  std::unique_ptr<Background> monitor_;
  std::size_t seen_ = 0;
  std::vector<std::string> since_;
};

// A test inside the namespace: the baseline put back, and a Linux System
// whose base directory is a fresh temporary one holding its config
// directory, removed afterwards. A subclass's SetUp calls this one first
// and returns when it failed or skipped.
class NamespaceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  bool Ready() const { return !IsSkipped() && !HasFailure(); }

  std::string home_;
  std::unique_ptr<platform::System> sys_;
};

// A namespace test with the split store of its home and a router on it.
class RouterNamespaceTest : public NamespaceTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Store(const std::string& destination, const std::string& line, const std::string& status = routing::kEnabled) {
    ASSERT_TRUE(store_->Write({destination, line, status, ""}));
  }

  std::unique_ptr<routing::SplitStore> store_;
  std::unique_ptr<routing::SplitRouter> router_;
};

// ---- a small JSON reader, enough for `ip -j` ----

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json* Find(const std::string& key) const {
    auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
  }
};
// False on malformed input.
bool ParseJson(const std::string& input, Json& out);

}  // namespace quillon::netns
