#include "tests/netns/netns_support.h"

#include "platform/system_factory.h"
#include "routing/config_paths.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace quillon::netns {

namespace {

std::string LinkTarget(const char* path) {
  char buf[256];
  const ssize_t n = readlink(path, buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

std::string WhyNotInsideNamespace() {
  const char* mark = std::getenv("QUILLON_NETNS");
  if (!mark || std::string(mark) != "1")
    return "not inside the private namespace of tests/netns/netns-run.sh (QUILLON_NETNS unset)";
  const std::string self = LinkTarget("/proc/self/ns/net");
  const std::string init = LinkTarget("/proc/1/ns/net");
  if (self.empty()) return "cannot read /proc/self/ns/net";
  if (self == init) return "the network namespace is the machine's own";
  return {};
}

bool SkipAllowed() {
  const char* allow = std::getenv("QUILLON_ALLOW_SKIP");
  return allow != nullptr && std::string(allow) == "1";
}

IpResult Ip(const std::vector<std::string>& args, bool quiet) {
  IpResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    dup2(fds[1], 1);
    if (quiet) {
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 2);
    }
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("ip"));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp("ip", argv.data());
    _exit(127);
  }
  close(fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) result.out.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!result.ok) result.out.clear();
  return result;
}

void IpOk(const std::vector<std::string>& args) {
  std::string line = "ip";
  for (const auto& a : args) line += " " + a;
  ASSERT_TRUE(Ip(args).ok) << line;
}

namespace {

std::uint32_t MetricOf(const Json& route) {
  const Json* m = route.Find("metric");
  return m && m->kind == Json::Number ? static_cast<std::uint32_t>(m->number) : 0u;
}
std::string TextOf(const Json& o, const char* key) {
  const Json* v = o.Find(key);
  return v && v->kind == Json::String ? v->text : std::string();
}

Json RoutesJson(const std::string& table) {
  Json all;
  IpResult r = Ip({"-j", "-4", "route", "show", "table", table});
  EXPECT_TRUE(r.ok) << "ip -j -4 route show table " << table;
  EXPECT_TRUE(ParseJson(r.out, all)) << r.out;
  return all;
}

}  // namespace

std::vector<DefaultRoute> DefaultRoutes(const std::string& table) {
  std::vector<DefaultRoute> routes;
  const Json all = RoutesJson(table);
  for (const Json& route : all.items) {
    if (TextOf(route, "dst") != "default") continue;
    const std::uint32_t metric = MetricOf(route);
    const Json* hops = route.Find("nexthops");
    if (hops && hops->kind == Json::Array) {
      for (const Json& hop : hops->items)
        routes.push_back({TextOf(hop, "gateway"), TextOf(hop, "dev"), metric});
    } else {
      routes.push_back({TextOf(route, "gateway"), TextOf(route, "dev"), metric});
    }
  }
  std::sort(routes.begin(), routes.end());
  return routes;
}

std::vector<std::string> RouteTexts(const std::string& table) {
  std::vector<std::string> texts;
  const Json all = RoutesJson(table);
  for (const Json& route : all.items) {
    std::string t = TextOf(route, "dst");
    if (!TextOf(route, "gateway").empty()) t += " via " + TextOf(route, "gateway");
    if (!TextOf(route, "dev").empty()) t += " dev " + TextOf(route, "dev");
    t += " metric " + std::to_string(MetricOf(route));
    texts.push_back(t);
  }
  std::sort(texts.begin(), texts.end());
  return texts;
}

void RestoreBaseline() {
  IpOk({"addr", "replace", "192.0.2.2/24", "dev", "v0"});
  IpOk({"addr", "replace", "198.51.100.2/24", "dev", "v1"});
  IpOk({"addr", "replace", "203.0.113.2/24", "dev", "v2"});
  IpOk({"addr", "flush", "dev", "v3"});
  // Every route a test added: those of `ip route add` (proto boot), those of
  // the backend (proto static) and of the route helper (proto 77), the
  // default routes, and table 100.
  IpOk({"-4", "route", "flush", "table", "main", "proto", "boot"});
  IpOk({"-4", "route", "flush", "table", "main", "proto", "static"});
  IpOk({"-4", "route", "flush", "table", "main", "proto", "77"});
  IpOk({"-4", "route", "flush", "table", "main", "exact", "0.0.0.0/0"});
  Ip({"-4", "route", "flush", "table", "100"}, /*quiet=*/true);  // fails while the table is empty
  IpOk({"route", "add", "default", "via", "203.0.113.1", "metric", "10"});
  IpOk({"route", "add", "default", "via", "198.51.100.1", "metric", "20"});
  IpOk({"route", "add", "default", "via", "192.0.2.1", "metric", "30"});
}

void NamespaceTest::SetUp() {
  QUILLON_REQUIRE_NAMESPACE();
  RestoreBaseline();
  char pattern[] = "/tmp/quillon-netns-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  home_ = pattern;
  sys_ = platform::MakeSystem(home_);
  ASSERT_TRUE(std::filesystem::create_directory(routing::ConfigDirectory(*sys_)));
}

void NamespaceTest::TearDown() {
  if (!home_.empty()) std::filesystem::remove_all(home_);
}

// ---- background programs ----

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

namespace {

std::string MakeTempDirectory() {
  char pattern[] = "/tmp/quillon-netns-XXXXXX";
  return mkdtemp(pattern) != nullptr ? std::string(pattern) : std::string();
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Background::Background(const std::vector<std::string>& argv, const std::string& outputPath) {
  const pid_t pid = fork();
  if (pid < 0) return;
  if (pid == 0) {
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  pid_ = pid;
}

int Background::Stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProgramRun RunProgram(const std::vector<std::string>& argv) {
  ProgramRun run;
  const std::string dir = MakeTempDirectory();
  const std::string out = dir + "/out", err = dir + "/err";
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFileText(out);
  run.err = ReadFileText(err);
  std::filesystem::remove_all(dir);
  return run;
}

Background::~Background() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

TestDns::TestDns(const std::map<std::string, std::vector<std::string>>& records, const std::vector<std::string>& extra)
    : directory_(MakeTempDirectory()) {
  if (directory_.empty() || records.empty()) return;
  const std::string hosts = directory_ + "/hosts";
  {
    std::ofstream out(hosts);
    for (const auto& [name, addresses] : records) {
      for (const auto& a : addresses) out << a << ' ' << name << '\n';
    }
  }
  std::vector<std::string> argv{"dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--pid-file=",
                                "--user=root", "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv",
                                "--no-hosts", "--addn-hosts=" + hosts, "--cache-size=0"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  // dnsmasq takes one log facility: the caller's, else standard error.
  if (std::none_of(extra.begin(), extra.end(), [](const std::string& o) { return o.rfind("--log-facility=", 0) == 0; }))
    argv.push_back("--log-facility=-");
  server_ = std::make_unique<Background>(argv, directory_ + "/dnsmasq.log");
  const std::string first = records.begin()->first;
  ready_ = server_->Started() && WaitFor([&] {
             addrinfo hints{};
             hints.ai_family = AF_INET;
             addrinfo* found = nullptr;
             const bool ok = getaddrinfo(first.c_str(), nullptr, &hints, &found) == 0;
             if (found) freeaddrinfo(found);
             return ok;
           }, 10);
}

RouteMonitor::RouteMonitor() : directory_(MakeTempDirectory()) {
  monitor_ = std::make_unique<Background>(std::vector<std::string>{"ip", "-4", "monitor", "route"},
                                          directory_ + "/monitor.log");
}

RouteMonitor::~RouteMonitor() {
  monitor_.reset();
  if (!directory_.empty()) std::filesystem::remove_all(directory_);
}

bool RouteMonitor::Mark() {
  static const char* kMark = "198.18.255.0/24";
  if (!monitor_->Started()) return false;
  const std::string log = directory_ + "/monitor.log";
  // Repeated until the monitor shows it: the first one may come before the
  // monitor listens.
  std::size_t marks = 0;
  const bool shown = WaitFor([&] {
    Ip({"route", "add", kMark, "dev", "lo"}, true);
    Ip({"route", "del", kMark, "dev", "lo"}, true);
    const std::string text = ReadFileText(log);
    marks = 0;
    for (std::size_t at = text.find(kMark, seen_); at != std::string::npos; at = text.find(kMark, at + 1)) ++marks;
    return marks >= 2;
  }, 10);
  if (!shown) return false;
  const std::string text = ReadFileText(log);
  since_.clear();
  std::istringstream lines(text.substr(seen_));
  for (std::string line; std::getline(lines, line);) {
    if (line.find(kMark) == std::string::npos && !line.empty()) since_.push_back(line);
  }
  seen_ = text.size();
  return true;
}

// ---- JSON ----

namespace {

struct Reader {
  const std::string& s;
  std::size_t i = 0;

  void Blank() {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  }
  bool Literal(const char* word) {
    const std::size_t n = std::strlen(word);
    if (s.compare(i, n, word) != 0) return false;
    i += n;
    return true;
  }
  bool String(std::string& out) {
    if (i >= s.size() || s[i] != '"') return false;
    ++i;
    while (i < s.size() && s[i] != '"') {
      if (s[i] == '\\') {
        if (++i >= s.size()) return false;
        switch (s[i]) {
          case 'n': out += '\n'; break;
          case 't': out += '\t'; break;
          case 'r': out += '\r'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'u': {
            if (i + 4 >= s.size()) return false;
            const unsigned long cp = std::strtoul(s.substr(i + 1, 4).c_str(), nullptr, 16);
            i += 4;
            if (cp < 0x80) {
              out += static_cast<char>(cp);
            } else if (cp < 0x800) {
              out += static_cast<char>(0xC0 | (cp >> 6));
              out += static_cast<char>(0x80 | (cp & 0x3F));
            } else {
              out += static_cast<char>(0xE0 | (cp >> 12));
              out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
              out += static_cast<char>(0x80 | (cp & 0x3F));
            }
            break;
          }
          default: out += s[i]; break;
        }
        ++i;
      } else {
        out += s[i++];
      }
    }
    if (i >= s.size()) return false;
    ++i;
    return true;
  }
  bool Value(Json& v) {
    Blank();
    if (i >= s.size()) return false;
    const char c = s[i];
    if (c == '{') {
      v.kind = Json::Object;
      ++i;
      Blank();
      if (i < s.size() && s[i] == '}') return ++i, true;
      for (;;) {
        Blank();
        std::string key;
        if (!String(key)) return false;
        Blank();
        if (i >= s.size() || s[i] != ':') return false;
        ++i;
        if (!Value(v.members[key])) return false;
        Blank();
        if (i < s.size() && s[i] == ',') { ++i; continue; }
        if (i < s.size() && s[i] == '}') return ++i, true;
        return false;
      }
    }
    if (c == '[') {
      v.kind = Json::Array;
      ++i;
      Blank();
      if (i < s.size() && s[i] == ']') return ++i, true;
      for (;;) {
        v.items.emplace_back();
        if (!Value(v.items.back())) return false;
        Blank();
        if (i < s.size() && s[i] == ',') { ++i; continue; }
        if (i < s.size() && s[i] == ']') return ++i, true;
        return false;
      }
    }
    if (c == '"') {
      v.kind = Json::String;
      return String(v.text);
    }
    if (Literal("true")) return v.kind = Json::Bool, v.boolean = true, true;
    if (Literal("false")) return v.kind = Json::Bool, v.boolean = false, true;
    if (Literal("null")) return v.kind = Json::Null, true;
    char* end = nullptr;
    v.number = std::strtod(s.c_str() + i, &end);
    if (end == s.c_str() + i) return false;
    v.kind = Json::Number;
    i = static_cast<std::size_t>(end - s.c_str());
    return true;
  }
};

}  // namespace

bool ParseJson(const std::string& input, Json& out) {
  Reader r{input};
  out = Json{};
  if (!r.Value(out)) return false;
  r.Blank();
  return r.i == input.size();
}

void RouterNamespaceTest::SetUp() {
  NamespaceTest::SetUp();
  if (!Ready()) return;
  store_ = std::make_unique<routing::SplitStore>(*sys_, routing::ConfigFile(*sys_, routing::kSplitStoreName));
  router_ = std::make_unique<routing::SplitRouter>(*sys_, *store_);
}

void RouterNamespaceTest::TearDown() {
  router_.reset();
  NamespaceTest::TearDown();
}

}  // namespace quillon::netns
