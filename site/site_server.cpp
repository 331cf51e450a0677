#include "site_server.h"

#include "quillon/site.h"
#include "quillon/version.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <list>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

namespace quillon::site {

namespace fs = std::filesystem;

namespace {

// The site's own paths, beside the three pages the program opens.
constexpr char kFilesPath[] = "/flq/files/";
constexpr char kWindowImagePath[] = "/flq/window.png";

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

bool IsRegularNonLink(const fs::path& path) {
  std::error_code ec;
  const auto st = fs::symlink_status(path, ec);
  return !ec && fs::is_regular_file(st);
}

// A request target as one log field: control bytes and blanks shown as %XX so a
// crafted request cannot split or forge log lines.
std::string LogSafe(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7F) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void LogRequest(const httplib::Request& req, const httplib::Response& res) {
  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::ostringstream line;
  // A field the request never got (it failed before) shows as "-".
  const auto field = [](const std::string& text) { return text.empty() ? std::string("-") : LogSafe(text); };
  line << "quillon-site: " << stamp << ' ' << field(req.remote_addr) << ' ' << field(req.method) << ' '
       << field(req.target) << ' ' << res.status << ' ' << res.body.size() << '\n';
  const std::string text = line.str();
  // One write per line, so lines of parallel requests do not mix.
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void NotFound(httplib::Response& res) {
  res.status = 404;
  res.set_content("404 Not Found\n", "text/plain; charset=utf-8");
}

// Content-Disposition for a download: a plain quoted name when it is simple
// ASCII, and the RFC 5987 form for everything else.
std::string AttachmentHeader(const std::string& name) {
  const bool plain = std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return c > 0x20 && c < 0x7F && c != '"' && c != '\\' && c != ';' && c != '%';
  });
  if (plain) return "attachment; filename=\"" + name + "\"";
  return "attachment; filename=\"download.ini\"; filename*=UTF-8''" + UrlEncode(name);
}

}  // namespace

// ---------------------------------------------------------------- helpers

bool IsAcceptedVersion(std::string_view listText, std::string_view version) {
  if (version.empty()) return false;
  std::size_t pos = 0;
  while (pos <= listText.size()) {
    std::size_t end = listText.find('\n', pos);
    if (end == std::string_view::npos) end = listText.size();
    const std::string_view line = Trim(listText.substr(pos, end - pos));
    if (!line.empty() && line.front() != '#' && line == version) return true;
    pos = end + 1;
  }
  return false;
}

bool IsServableName(std::string_view name) {
  static constexpr std::string_view ext = ".ini";
  if (name.size() <= ext.size() || name.substr(name.size() - ext.size()) != ext) return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (unsigned char c : name) {
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

void ScanIni(std::string_view text, int& sections, bool& newLayout) {
  sections = 0;
  newLayout = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.find(']') != std::string_view::npos) ++sections;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || sections == 0) continue;
    std::string key(Trim(line.substr(0, eq)));
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) {
      return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    });
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (key == "wz" && !value.empty()) newLayout = true;
  }
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return out;
}

std::vector<PreparedFile> ListPreparedFiles(const std::string& root) {
  std::vector<PreparedFile> files;
  std::error_code ec;
  fs::directory_iterator it(fs::path(root) / "prepared", ec);
  if (ec) return files;
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (!IsServableName(name) || !IsRegularNonLink(entry.path())) continue;
    const auto data = ReadWholeFile(entry.path());
    if (!data) continue;
    PreparedFile f;
    f.name = name;
    f.size = data->size();
    ScanIni(*data, f.sections, f.newLayout);
    files.push_back(std::move(f));
  }
  std::sort(files.begin(), files.end(),
            [](const PreparedFile& a, const PreparedFile& b) { return a.name < b.name; });
  return files;
}

// ---------------------------------------------------------------- pages

namespace {

const char* const kPageHead = R"(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)";

const char* const kStyle = R"(</title>
<style>
body { font-family: "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif; max-width: 56em; margin: 2em auto; padding: 0 1em; line-height: 1.6; color: #222; }
h1 { font-size: 1.5em; border-bottom: 2px solid #3a6ea5; padding-bottom: .3em; }
h2 { font-size: 1.2em; margin-top: 1.6em; color: #3a6ea5; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: .3em .8em; text-align: left; }
th { background: #eef3f9; }
code, kbd { background: #f2f2f2; padding: 0 .3em; border-radius: 3px; }
.note { color: #a33; }
.shot { border: 1px solid #999; max-width: 100%; }
nav a { margin-right: 1.2em; }
</style>
</head>
<body>
)";

const char* const kPageTail = "</body>\n</html>\n";

// The links between the pages, at the top of each.
std::string Navigation() {
  return std::string("<nav><a href=\"") + kDownloadsPagePath + "\">分流配置下载</a><a href=\"" + kTutorialPagePath +
         "\">分流配置教程</a></nav>\n";
}

}  // namespace

std::string DownloadsPage(const std::vector<PreparedFile>& files) {
  std::string html = kPageHead;
  html += "分流配置下载 - Quillon";
  html += kStyle;
  html += Navigation();
  html += "<h1>分流配置下载</h1>\n";
  html += "<p>以下是整理好的分流配置文件，每个文件里是一组分流网址/IP 及其分配线路、分流设置和备注。"
          "下载后载入程序即可加入分流列表。</p>\n";
  if (files.empty()) {
    html += "<p>暂无可下载的配置文件。</p>\n";
  } else {
    html += "<table>\n<tr><th>配置文件</th><th>条目数</th><th>大小</th><th>说明</th></tr>\n";
    for (const auto& f : files) {
      const std::string href = kFilesPath + UrlEncode(f.name);
      html += "<tr><td><a href=\"" + HtmlEscape(href) + "\" download>" + HtmlEscape(f.name) + "</a></td>";
      html += "<td>" + std::to_string(f.sections) + "</td>";
      html += "<td>" + std::to_string(f.size) + " 字节</td>";
      html += f.newLayout ? "<td class=\"note\">新版格式（含 wz 项），当前版本 " + std::string(kVersion) + " 不能直接载入</td>"
                          : "<td>可直接载入</td>";
      html += "</tr>\n";
    }
    html += "</table>\n";
  }
  html += "<h2>如何载入</h2>\n<ol>\n"
          "<li>点击下载需要的配置文件（.ini）。</li>\n"
          "<li>在程序主窗口点击“分流配置载入”。</li>\n"
          "<li>在“更改分配线路”中选择“不更改分配线路”（保留文件中的线路），或选择一条本机线路（全部条目都改用这条线路）。</li>\n"
          "<li>点击“选择配置文件”选择下载的文件，或直接把文件拖到程序窗口上。</li>\n"
          "<li>点击“确定载入”。载入的条目马上出现在列表中，其路由在一分钟内生效。</li>\n"
          "</ol>\n";
  html += "<h2>文件格式</h2>\n"
          "<p>每个条目是一节，节名就是分流网址/IP；<code>xl</code> 为分配线路（线路的网关 IP），"
          "<code>zt</code> 为分流设置（<code>1</code> 开启，<code>-1</code> 关闭），<code>bz</code> 为备注信息。"
          "含有非空 <code>wz</code> 项的文件是新版格式，当前版本载入到该节时会停止并提示更新配置文件。</p>\n"
          "<p>编码：本站文件为 UTF-8 编码，Linux 版按 UTF-8 读取；在 Windows 上制作的配置文件为 GBK 编码，"
          "Linux 版载入不是 UTF-8 的文件时按 GBK 转换。</p>\n";
  html += kPageTail;
  return html;
}

std::string TutorialPage() {
  std::string html = kPageHead;
  html += "分流配置教程 - Quillon";
  html += kStyle;
  html += Navigation();
  html += "<h1>分流配置教程</h1>\n<p><img class=\"shot\" src=\"" + std::string(kWindowImagePath) +
          "\" alt=\"Quillon 主窗口截图\" width=\"592\"></p>\n";
  html += R"(

<h2>线路</h2>
<p>本机的每块网卡如果有自己的默认网关，就是一条<strong>线路</strong>。程序里的线路一律用该网卡默认网关的 IPv4 地址表示，
例如 <code>192.0.2.1</code>。程序启动时找出所有默认网关，填入首页的“分配线路”、全局设置页的线路选择框以及载入页的“更改分配线路”。</p>

<h2>加入分流</h2>
<ol>
<li>在“分流网址/IP”中输入网址（如 <code>example.test</code>）或 IPv4 地址。</li>
<li>在“分配线路”中选择这个网址要走的线路。</li>
<li>在“备注信息”中写上备注（可不填）。</li>
<li>点击“加入列表”。程序解析该网址，得到 IPv4 地址后把条目存入分流列表并显示在列表中。</li>
</ol>
<p>解析出的每个地址所在的 /24 网段（如 <code>203.0.113.0</code> 掩码 <code>255.255.255.0</code>）都经由所选线路的网关。
程序启动时立即、之后<strong>每分钟</strong>重新载入列表，重新解析全部条目并重新设置路由，所以网址的地址变了也会跟上。
新加入的条目在一分钟内生效。</p>

<h2>分流列表</h2>
<p>列表各列：序号、网址/IP、分配线路、线路名称、分流设置（开启/关闭）、备注。</p>
<ul>
<li>左键单击一行：把这一行的网址/IP、分配线路和备注填回下方输入框，修改后再点“加入列表”即可更新该条目。</li>
<li>右键单击一行，弹出菜单：
  <ul>
  <li><strong>开启分流</strong>：把该条目设为开启，并立即重新设置全部路由；</li>
  <li><strong>关闭分流</strong>：把该条目设为关闭，并立即重新设置全部路由；</li>
  <li><strong>删除记录</strong>：确认后从分流列表中删除该条目。已经设置的路由留在系统路由表中，重启电脑后消失。</li>
  </ul>
</li>
</ul>
<p>如果修改后没有生效，重启需要分流的应用即可。</p>

<h2>全局线路</h2>
<p>没有分流路由的流量都走全局线路。点击“全局设置”，在线路选择框中选一条线路，查看它的网关、本地 IP、子网掩码和线路名称，
然后点击“确认修改”并确认。程序删除本机全部默认路由，再为每条线路添加默认路由：所选线路的跃点数（metric）为 <strong>1</strong>，
其他线路按在线路列表中的位置取更大的跃点数（第 1 条 100、第 2 条 150、第 3 条 200……），因此所有应用都走所选线路，分流列表中的网址仍走各自的分流线路。
设置保存在配置目录中，程序每次启动时自动恢复。点击“返回首页”关闭此页。</p>
<p class="note">非专业人员请勿随意修改全局线路，以免电脑断网。</p>

<h2>载入分流配置</h2>
<p>在 <a href=")";
  html += kDownloadsPagePath;
  html += R"(">分流配置下载</a> 页下载配置文件，然后：点击“分流配置载入” → 在“更改分配线路”中选择
“不更改分配线路”或一条线路 → 点击“选择配置文件”选择文件，或把文件拖到窗口上 → 点击“确定载入”。
程序提示本次载入的条数，载入的条目在一分钟内生效。</p>
)";
  html += kPageTail;
  return html;
}

// ---------------------------------------------------------------- server
//
// cpp-httplib parses the requests, routes them and writes the answers, but
// the site owns the sockets: its own accept loop and a stream that holds
// every connection to a byte budget and to deadlines. The library's own
// loop reads a request head of any length, a chunked body of any size and a
// client that sends a byte every few seconds for ever; through this stream
// none of them gets further than the limits.

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60 * 60 * 1000));
}

// Waits until `fd` is ready for `events` or the deadline has passed.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, MillisecondsUntil(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

void AddressText(const sockaddr_storage& addr, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (addr.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(addr);
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    port = ntohs(in.sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(addr);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    port = ntohs(in6.sin6_port);
  }
  ip = text;
}

// One connection as cpp-httplib reads and writes it. Each request gets a
// read budget (head and body together) and a read deadline; its response a
// write deadline from its first byte. A read past either fails, and so does
// the request; the connection is then closed.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(int fd, const SiteLimits& limits) : fd_(fd), limits_(limits) {}

  // Waits for the first byte of the next request (or the client's end).
  bool WaitForRequest(Clock::time_point until) const {
    return used_ < filled_ || WaitFor(fd_, POLLIN, until);
  }
  void StartRequest() {
    readDeadline_ = Clock::now() + limits_.readTime;
    budget_ = limits_.headBytes + limits_.payloadBytes;
    writing_ = false;
  }
  // True once a read or write went past a limit or failed.
  bool Failed() const { return failed_; }

  bool is_readable() const override { return WaitForRequest(readDeadline_); }
  bool is_writable() const override { return !failed_ && WaitFor(fd_, POLLOUT, WriteDeadline()); }

  ssize_t read(char* ptr, size_t size) override {
    if (failed_) return -1;
    if (budget_ == 0) return Fail();
    if (used_ == filled_) {
      if (!WaitFor(fd_, POLLIN, readDeadline_)) return Fail();
      ssize_t got;
      do {
        got = recv(fd_, buffer_, sizeof buffer_, 0);
      } while (got < 0 && errno == EINTR);
      if (got < 0) return Fail();
      if (got == 0) return 0;
      used_ = 0;
      filled_ = static_cast<std::size_t>(got);
    }
    const std::size_t n = std::min({size, filled_ - used_, budget_});
    std::memcpy(ptr, buffer_ + used_, n);
    used_ += n;
    budget_ -= n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (failed_) return -1;
    if (!writing_) {
      writing_ = true;
      writeDeadline_ = Clock::now() + limits_.writeTime;
    }
    if (!WaitFor(fd_, POLLOUT, writeDeadline_)) return Fail();
    ssize_t sent;
    do {
      sent = send(fd_, ptr, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? Fail() : sent;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) AddressText(addr, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) AddressText(addr, ip, port);
  }
  socket_t socket() const override { return fd_; }

 private:
  ssize_t Fail() {
    failed_ = true;
    return -1;
  }
  Clock::time_point WriteDeadline() const { return writing_ ? writeDeadline_ : Clock::now() + limits_.writeTime; }

  int fd_;
  const SiteLimits& limits_;
  char buffer_[4096];
  std::size_t used_ = 0;
  std::size_t filled_ = 0;
  std::size_t budget_ = 0;
  Clock::time_point readDeadline_{};
  Clock::time_point writeDeadline_{};
  bool writing_ = false;
  bool failed_ = false;
};

// The library's server with its routes, asked for one request at a time on
// a stream the site hands it.
class Routes final : public httplib::Server {
 public:
  bool ServeOne(httplib::Stream& stream, bool last, bool& clientCloses,
                const std::function<void(httplib::Request&)>& look) {
    return process_request(stream, last, clientCloses, look);
  }
};

// A route pattern (a regular expression) that matches exactly `path`.
std::string Literal(std::string_view path) {
  std::string pattern;
  for (char c : path) {
    if (c != '\0' && std::strchr(".^$|()[]{}*+?\\", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

// Whether a request carries a body: a length above zero, or any transfer
// coding (a chunked body has no length to check in advance).
bool HasBody(const httplib::Request& req) {
  if (req.has_header("Transfer-Encoding")) return true;
  const std::string length = req.get_header_value("Content-Length");
  return !length.empty() && length.find_first_not_of('0') != std::string::npos;
}

// The declared body length, or nothing when it is not a plain number.
std::optional<std::uint64_t> DeclaredLength(const httplib::Request& req) {
  const std::string text = req.get_header_value("Content-Length");
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

struct SiteServer::Impl {
  SiteConfig config;
  SiteLimits limits;
  Routes http;
  int listener = -1;
  // Stop() writes a byte here; Run() wakes up on it, whenever it comes.
  int wake[2] = {-1, -1};

  struct Connection {
    int fd = -1;  // -1 once closed
    std::thread thread;
    bool done = false;
  };
  std::mutex mutex;
  std::list<Connection> connections;  // guarded by mutex

  ~Impl() {
    for (int fd : {listener, wake[0], wake[1]})
      if (fd >= 0) close(fd);
  }

  fs::path Root() const { return fs::path(config.root); }
  fs::path WindowImage() const {
    if (!config.windowImage.empty()) return fs::path(config.windowImage);
    return Root() / ".." / "docs" / "window.png";
  }

  void Gate(const httplib::Request& req, httplib::Response& res) const {
    bool accepted = false;
    if (req.has_param("v")) {
      // The site's own list when it has one; else the version it was built
      // with, so the bundled site lets the bundled program run.
      const auto list = ReadWholeFile(Root() / "config" / "accepted-versions.txt");
      accepted = IsAcceptedVersion(list ? *list : std::string(kVersion), req.get_param_value("v"));
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(accepted ? "1" : "0", "text/plain; charset=utf-8");
  }

  void File(const httplib::Request& req, httplib::Response& res) const {
    const std::string name = req.matches.size() > 1 ? std::string(req.matches[1]) : std::string();
    if (!IsServableName(name)) return NotFound(res);
    const fs::path path = Root() / "prepared" / name;
    if (!IsRegularNonLink(path)) return NotFound(res);
    const auto data = ReadWholeFile(path);
    if (!data) return NotFound(res);
    res.set_header("Content-Disposition", AttachmentHeader(name));
    res.set_content(*data, "application/octet-stream");
  }

  void Image(httplib::Response& res) const {
    const auto data = ReadWholeFile(WindowImage());
    if (!data) return NotFound(res);
    res.set_content(*data, "image/png");
  }

  void Setup() {
    http.Get(Literal(kVersionGatePath), [this](const httplib::Request& req, httplib::Response& res) { Gate(req, res); });
    http.Get(Literal(kDownloadsPagePath), [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(DownloadsPage(ListPreparedFiles(config.root)), "text/html; charset=utf-8");
    });
    http.Get(Literal(kTutorialPagePath), [](const httplib::Request&, httplib::Response& res) {
      res.set_content(TutorialPage(), "text/html; charset=utf-8");
    });
    http.Get(Literal(kWindowImagePath), [this](const httplib::Request&, httplib::Response& res) { Image(res); });
    http.Get(Literal(kFilesPath) + "(.*)",
             [this](const httplib::Request& req, httplib::Response& res) { File(req, res); });
    // Before any of a body is read: one longer than the limit is refused
    // (and the connection closed, so the rest of it is never read).
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      if (!req.has_header("Content-Length")) return httplib::Server::HandlerResponse::Unhandled;
      const auto length = DeclaredLength(req);
      if (length && *length <= limits.payloadBytes) return httplib::Server::HandlerResponse::Unhandled;
      res.status = length ? 413 : 400;
      res.set_header("Connection", "close");
      return httplib::Server::HandlerResponse::Handled;
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.body.empty()) {
        const std::string reason = res.status == 404 ? " Not Found" : res.status == 413 ? " Payload Too Large" : "";
        res.set_content(std::to_string(res.status) + reason + "\n", "text/plain; charset=utf-8");
      }
    });
    // An answer that ends its connection announces no keep-alive.
    http.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.get_header_value("Connection") == "close") res.headers.erase("Keep-Alive");
    });
    http.set_logger(LogRequest);
    http.set_payload_max_length(limits.payloadBytes);
    // The figures the answers announce in their Keep-Alive header.
    http.set_keep_alive_max_count(static_cast<std::size_t>(limits.keepAliveRequests));
    http.set_keep_alive_timeout(
        std::max<time_t>(1, std::chrono::duration_cast<std::chrono::seconds>(limits.keepAliveTime).count()));
  }

  // Serves the requests of one connection, then ends it.
  void Serve(int fd) {
    ConnectionStream stream(fd, limits);
    for (int n = 0; n < limits.keepAliveRequests; ++n) {
      const auto wait = n == 0 ? limits.readTime : limits.keepAliveTime;
      if (!stream.WaitForRequest(Clock::now() + wait)) break;
      stream.StartRequest();
      bool clientCloses = false;
      bool body = false;
      const bool last = n + 1 == limits.keepAliveRequests;
      const bool served =
          http.ServeOne(stream, last, clientCloses, [&](httplib::Request& req) { body = HasBody(req); });
      // After a body the connection ends: a refused one was never read, and
      // no client of this site sends one.
      if (!served || clientCloses || body || stream.Failed()) break;
    }
  }

  // Joins the threads of connections that have ended. Called with `mutex`
  // held.
  void JoinEnded() {
    for (auto it = connections.begin(); it != connections.end();) {
      if (!it->done) {
        ++it;
        continue;
      }
      it->thread.join();
      it = connections.erase(it);
    }
  }

  bool Run() {
    bool ok = true;
    for (;;) {
      pollfd p[2] = {{listener, POLLIN, 0}, {wake[0], POLLIN, 0}};
      if (poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      if (p[1].revents != 0) break;
      const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN || errno == EPROTO) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of descriptors or memory for now: connections in progress
          // end within their limits and give them back.
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          continue;
        }
        ok = false;
        break;
      }
      std::lock_guard lock(mutex);
      JoinEnded();
      if (connections.size() >= static_cast<std::size_t>(limits.connections)) {
        close(fd);
        continue;
      }
      auto& c = connections.emplace_back();
      c.fd = fd;
      // The socket is closed under the lock, so that Stop() never shuts down
      // a number the system has meanwhile given to something else.
      c.thread = std::thread([this, &c] {
        Serve(c.fd);
        std::lock_guard doneLock(mutex);
        close(c.fd);
        c.fd = -1;
        c.done = true;
      });
    }
    // Stopping: cut the connections in progress and wait for their threads.
    std::list<Connection> left;
    {
      std::lock_guard lock(mutex);
      for (auto& c : connections)
        if (c.fd >= 0) shutdown(c.fd, SHUT_RDWR);
      left.swap(connections);
    }
    for (auto& c : left) c.thread.join();
    return ok;
  }
};

SiteServer::SiteServer(SiteConfig config, SiteLimits limits) : impl_(std::make_unique<Impl>()) {
  impl_->config = std::move(config);
  impl_->limits = limits;
  if (pipe2(impl_->wake, O_CLOEXEC | O_NONBLOCK) != 0) impl_->wake[0] = impl_->wake[1] = -1;
  impl_->Setup();
}

SiteServer::~SiteServer() = default;

int SiteServer::Bind(const std::string& host, int port) {
  if (impl_->listener >= 0 || impl_->wake[0] < 0 || port < 0 || port > 65535) return -1;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
  // SO_REUSEADDR only: with SO_REUSEPORT another program could bind the
  // same port and take a share of the requests.
  int yes = 1;
  const bool bound = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
                     bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, 64) == 0;
  freeaddrinfo(found);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  std::string ip;
  int boundPort = -1;
  if (bound && getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) AddressText(addr, ip, boundPort);
  if (boundPort <= 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  impl_->listener = fd;
  return boundPort;
}

bool SiteServer::Run() {
  if (impl_->listener < 0) return false;
  return impl_->Run();
}

void SiteServer::Stop() {
  if (impl_->wake[1] < 0) return;
  const char byte = 1;
  // A full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t ignored = write(impl_->wake[1], &byte, 1);
}

}  // namespace quillon::site
