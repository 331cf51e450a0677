// Tests of the config site: the helpers directly, the server in-process over
// HTTP on a free loopback port, and the quillon-site program as a child.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "site_server.h"
#include "platform/text.h"
#include "quillon/site.h"
#include "quillon/version.h"

namespace quillon::site {
namespace {

namespace fs = std::filesystem;

const std::string kSourceRoot = QUILLON_SITE_SOURCE_ROOT;
const std::string kGate = kVersionGatePath;
const std::string kDownloads = kDownloadsPagePath;
const std::string kTutorial = kTutorialPagePath;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << data;
}

using quillon::platform::IsValidUtf8;

// A scratch folder removed at the end of the test.
struct ScratchDir {
  fs::path path;
  ScratchDir() {
    char tmpl[] = "/tmp/quillon-site-test-XXXXXX";
    const char* made = mkdtemp(tmpl);
    EXPECT_NE(made, nullptr);
    path = made ? made : "";
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

// The server on a free loopback port, serving from its own thread.
class RunningSite {
 public:
  explicit RunningSite(SiteConfig config, SiteLimits limits = {}) : server_(std::move(config), limits) {
    port_ = server_.Bind("127.0.0.1", 0);
    EXPECT_GT(port_, 0);
    thread_ = std::thread([this] { server_.Run(); });
  }
  ~RunningSite() {
    server_.Stop();
    thread_.join();
  }
  int port() const { return port_; }
  httplib::Client Client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_connection_timeout(5);
    c.set_read_timeout(5);
    return c;
  }

 private:
  SiteServer server_;
  int port_ = -1;
  std::thread thread_;
};

// A connection to the loopback port, or -1.
int ConnectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Everything the server sends until it ends the connection (`closed` then
// true) or has sent nothing for `ms`.
std::string ReadUntilClosed(int fd, int ms = 5000, bool* closed = nullptr) {
  std::string answer;
  char buf[4096];
  pollfd p{fd, POLLIN, 0};
  bool ended = false;
  while (poll(&p, 1, ms) > 0) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      ended = true;
      break;
    }
    answer.append(buf, static_cast<std::size_t>(n));
  }
  if (closed != nullptr) *closed = ended;
  return answer;
}

// Sends `request` verbatim on a new connection and returns everything the
// server answers until it closes the connection.
std::string RawExchange(int port, const std::string& request) {
  const int fd = ConnectTo(port);
  if (fd < 0) return {};
  std::string answer;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()))
    answer = ReadUntilClosed(fd);
  close(fd);
  return answer;
}

std::string BodyOf(const std::string& rawResponse) {
  const auto pos = rawResponse.find("\r\n\r\n");
  return pos == std::string::npos ? std::string() : rawResponse.substr(pos + 4);
}

int StatusOf(const std::string& rawResponse) {
  std::smatch m;
  static const std::regex statusLine(R"(^HTTP/1\.[01] (\d{3}) )");
  return std::regex_search(rawResponse, m, statusLine) ? std::stoi(m[1]) : -1;
}

// ---------------------------------------------------------------- helpers

TEST(SiteHelpers, AcceptedVersionIsAnExactLineOfTheList) {
  const std::string list = "# accepted\n1.0.2\r\n  2.0.0  \n\n#3.0.0\n";
  EXPECT_TRUE(IsAcceptedVersion(list, "1.0.2"));
  EXPECT_TRUE(IsAcceptedVersion(list, "2.0.0"));
  EXPECT_FALSE(IsAcceptedVersion(list, "3.0.0"));     // commented out
  EXPECT_FALSE(IsAcceptedVersion(list, "#3.0.0"));    // a comment is no version
  EXPECT_FALSE(IsAcceptedVersion(list, "1.0"));       // prefix
  EXPECT_FALSE(IsAcceptedVersion(list, "1.0.20"));    // longer
  EXPECT_FALSE(IsAcceptedVersion(list, "1.0.2 "));    // the query is not trimmed
  EXPECT_FALSE(IsAcceptedVersion(list, ""));          // the empty lines do not admit it
  EXPECT_FALSE(IsAcceptedVersion(list, "# accepted"));
  EXPECT_TRUE(IsAcceptedVersion("1.0.2", "1.0.2"));  // no newline at the end
  EXPECT_FALSE(IsAcceptedVersion("", "1.0.2"));
}

TEST(SiteHelpers, OnlyPlainIniFileNamesAreServable) {
  for (const char* ok : {"a.ini", "example-split.ini", "线路.ini", "a b.ini", "x.y.ini"})
    EXPECT_TRUE(IsServableName(ok)) << ok;
  for (const char* bad : {"", ".ini", "a.txt", "a.ini.txt", "a.INI", "../a.ini", "..", "a..ini", "sub/a.ini",
                          "/etc/a.ini", "..\\a.ini", "a\\b.ini", "a\n.ini", "a\r.ini", "a\x7f.ini"})
    EXPECT_FALSE(IsServableName(bad)) << bad;
  EXPECT_FALSE(IsServableName(std::string("a\0b.ini", 7)));
}

TEST(SiteHelpers, ScanIniCountsSectionsAndNoticesNonEmptyWz) {
  int sections = -1;
  bool newLayout = true;
  ScanIni("[a]\nxl=192.0.2.1\n[b]\r\nWZ = \n; wz=1\n[c]\nzt=1\n", sections, newLayout);
  EXPECT_EQ(sections, 3);
  EXPECT_FALSE(newLayout);  // an empty wz and a comment do not count
  ScanIni("[a]\nxl=1\n[b]\n Wz = 2 \n", sections, newLayout);
  EXPECT_EQ(sections, 2);
  EXPECT_TRUE(newLayout);
  ScanIni("wz=1\n", sections, newLayout);  // a key before any section belongs to none
  EXPECT_EQ(sections, 0);
  EXPECT_FALSE(newLayout);
}

TEST(SiteHelpers, EscapingForHtmlAndUrls) {
  EXPECT_EQ(HtmlEscape(R"(<a href="x">'&'</a>)"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  EXPECT_EQ(UrlEncode("a b/c%.ini"), "a%20b%2Fc%25.ini");
  EXPECT_EQ(UrlEncode("线"), "%E7%BA%BF");
}

// ---------------------------------------------------------------- version gate

TEST(SiteGate, AnswersOneOnlyForAnAcceptedVersion) {
  RunningSite site({kSourceRoot, ""});
  auto c = site.Client();
  const auto gate = [&](const std::string& target) {
    auto res = c.Get(target.c_str());
    EXPECT_TRUE(res) << target;
    if (!res) return std::string("<no answer>");
    EXPECT_EQ(res->status, 200) << target;
    EXPECT_EQ(res->get_header_value("Content-Type").rfind("text/plain", 0), 0u) << target;
    return res->body;
  };
  const std::string own = quillon::kVersion;
  EXPECT_EQ(gate(kGate + "?v=" + own), "1");
  EXPECT_EQ(gate(kGate + "?v=9.9"), "0");
  EXPECT_EQ(gate(kGate), "0");
  EXPECT_EQ(gate(kGate + "?v="), "0");
  EXPECT_EQ(gate(kGate + "?v=1.0"), "0");
  EXPECT_EQ(gate(kGate + "?v=" + own + "%20"), "0");
  EXPECT_EQ(gate(kGate + "?x=" + own), "0");
}

TEST(SiteGate, AnswersAnHttp10RequestLikeTheProgramSends) {
  RunningSite site({kSourceRoot, ""});
  const std::string answer = RawExchange(
      site.port(),
      "GET " + kGate + "?v=" + quillon::kVersion +
          " HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
      "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 200) << answer;
  EXPECT_EQ(BodyOf(answer), "1");
}

TEST(SiteGate, FollowsItsOwnListAndRefusesEverythingWithoutOne) {
  ScratchDir dir;
  WriteFile(dir.path / "config" / "accepted-versions.txt", "2.0.0\n2.0.1\n");
  {
    RunningSite site({dir.path.string(), ""});
    auto c = site.Client();
    auto r1 = c.Get(kGate + "?v=2.0.1");
    auto r2 = c.Get(kGate + "?v=1.0.2");
    ASSERT_TRUE(r1 && r2);
    EXPECT_EQ(r1->body, "1");
    EXPECT_EQ(r2->body, "0");
    // The list is read for every request: an edit takes effect at once.
    WriteFile(dir.path / "config" / "accepted-versions.txt", "1.0.2\n");
    auto r3 = c.Get(kGate + "?v=1.0.2");
    ASSERT_TRUE(r3);
    EXPECT_EQ(r3->body, "1");
  }
  // Without a list the site accepts exactly the version it was built with.
  fs::remove(dir.path / "config" / "accepted-versions.txt");
  RunningSite site({dir.path.string(), ""});
  auto c = site.Client();
  auto own = c.Get(kGate + "?v=" + quillon::kVersion);
  auto other = c.Get(kGate + "?v=2.0.1");
  ASSERT_TRUE(own && other);
  EXPECT_EQ(own->body, "1");
  EXPECT_EQ(other->body, "0");
}

// ---------------------------------------------------------------- downloads page

TEST(SiteDownloads, ListsEveryPreparedFileWithAWorkingDownload) {
  RunningSite site({kSourceRoot, ""});
  auto c = site.Client();
  auto page = c.Get(kDownloads);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page->body.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_TRUE(IsValidUtf8(page->body));
  for (const char* words : {"分流配置载入", "选择配置文件", "确定载入", "拖到", "GBK"})
    EXPECT_NE(page->body.find(words), std::string::npos) << words;

  // Every link to a file, and every file of the folder, once each.
  std::set<std::string> linked;
  static const std::regex link(R"re(href="/flq/files/([^"]+)")re");
  for (auto it = std::sregex_iterator(page->body.begin(), page->body.end(), link); it != std::sregex_iterator();
       ++it)
    linked.insert((*it)[1]);
  std::set<std::string> onDisk;
  for (const auto& e : fs::directory_iterator(fs::path(kSourceRoot) / "prepared")) onDisk.insert(e.path().filename());
  ASSERT_GE(onDisk.size(), 2u);
  EXPECT_EQ(linked, onDisk);  // the shipped names need no percent-encoding

  for (const auto& name : onDisk) {
    auto res = c.Get(("/flq/files/" + name).c_str());
    ASSERT_TRUE(res) << name;
    EXPECT_EQ(res->status, 200) << name;
    EXPECT_EQ(res->body, ReadFile(fs::path(kSourceRoot) / "prepared" / name)) << name;
    EXPECT_EQ(res->get_header_value("Content-Disposition"), "attachment; filename=\"" + name + "\"");
  }
}

TEST(SiteDownloads, ShippedFilesAreUtf8InTheSplitStoreLayout) {
  // Only documentation names and addresses; keys xl, zt, bz (and wz in the
  // one file that shows a layout this version refuses).
  static const std::regex section(R"(^\[([^\]]+)\]$)");
  static const std::regex keyLine(R"(^(xl|zt|bz|wz)=(.*)$)");
  static const std::regex docAddress(R"(^(192\.0\.2|198\.51\.100|203\.0\.113)\.\d{1,3}$)");
  int withWz = 0;
  for (const auto& e : fs::directory_iterator(fs::path(kSourceRoot) / "prepared")) {
    const std::string text = ReadFile(e.path());
    EXPECT_TRUE(IsValidUtf8(text)) << e.path();
    std::istringstream lines(text);
    std::string line;
    std::smatch m;
    bool sawWz = false;
    while (std::getline(lines, line)) {
      if (std::regex_match(line, m, section)) {
        const std::string dest = m[1];
        const bool testName = dest.size() > 5 && dest.compare(dest.size() - 5, 5, ".test") == 0;
        EXPECT_TRUE(testName || std::regex_match(dest, docAddress)) << dest;
      } else {
        ASSERT_TRUE(std::regex_match(line, m, keyLine)) << e.path() << ": " << line;
        if (m[1] == "xl") {
          EXPECT_TRUE(std::regex_match(std::string(m[2]), docAddress)) << line;
        } else if (m[1] == "zt") {
          EXPECT_TRUE(m[2] == "1" || m[2] == "-1") << line;
        } else if (m[1] == "wz") {
          sawWz = true;
        }
      }
    }
    withWz += sawWz;
  }
  EXPECT_EQ(withWz, 1);
}

TEST(SiteDownloads, ServesOnlyListedFilesAndRefusesTraversal) {
  ScratchDir dir;
  const std::string secret = "1.0.2\n";
  WriteFile(dir.path / "config" / "accepted-versions.txt", secret);
  WriteFile(dir.path / "secret.ini", "[secret]\n");
  WriteFile(dir.path / "prepared" / "a.ini", "[example.test]\nxl=192.0.2.1\nzt=1\nbz=甲\n");
  WriteFile(dir.path / "prepared" / "a&b<i>.ini", "[x.example.test]\n");
  WriteFile(dir.path / "prepared" / "线路.ini", "[203.0.113.10]\n");
  WriteFile(dir.path / "prepared" / "notes.txt", "not a split file\n");
  fs::create_directories(dir.path / "prepared" / "sub.ini");
  WriteFile(dir.path / "prepared" / "sub.ini" / "b.ini", "[b]\n");
  fs::create_symlink("../secret.ini", dir.path / "prepared" / "link.ini");

  RunningSite site({dir.path.string(), ""});
  auto c = site.Client();
  auto page = c.Get(kDownloads);
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("/flq/files/a.ini\""), std::string::npos);
  // Names are escaped in the text and percent-encoded in the link.
  EXPECT_NE(page->body.find(">a&amp;b&lt;i&gt;.ini<"), std::string::npos);
  EXPECT_EQ(page->body.find("a&b<i>"), std::string::npos);
  EXPECT_NE(page->body.find("/flq/files/a%26b%3Ci%3E.ini\""), std::string::npos);
  EXPECT_NE(page->body.find("/flq/files/%E7%BA%BF%E8%B7%AF.ini\""), std::string::npos);
  for (const char* hidden : {"notes.txt", "sub.ini", "link.ini", "secret"})
    EXPECT_EQ(page->body.find(hidden), std::string::npos) << hidden;

  auto enc = c.Get("/flq/files/a%26b%3Ci%3E.ini");
  ASSERT_TRUE(enc);
  EXPECT_EQ(enc->status, 200);
  EXPECT_EQ(enc->body, "[x.example.test]\n");
  auto cjk = c.Get("/flq/files/%E7%BA%BF%E8%B7%AF.ini");
  ASSERT_TRUE(cjk);
  EXPECT_EQ(cjk->status, 200);
  EXPECT_EQ(cjk->body, "[203.0.113.10]\n");
  // Read off the wire: the client library percent-decodes header values.
  const std::string cjkRaw = RawExchange(site.port(), "GET /flq/files/%E7%BA%BF%E8%B7%AF.ini HTTP/1.0\r\n\r\n");
  std::smatch dm;
  ASSERT_TRUE(std::regex_search(cjkRaw, dm, std::regex("\r\nContent-Disposition: ([^\r]*)\r\n"))) << cjkRaw;
  const std::string disposition = dm[1];
  const std::string utf8Name = "; filename*=UTF-8''%E7%BA%BF%E8%B7%AF.ini";
  EXPECT_EQ(disposition.rfind("attachment;", 0), 0u) << disposition;
  ASSERT_GT(disposition.size(), utf8Name.size());
  EXPECT_EQ(disposition.substr(disposition.size() - utf8Name.size()), utf8Name);

  // Sent verbatim, so that no client tidies the path first.
  for (const char* target :
       {"/flq/files/..%2Fconfig%2Faccepted-versions.txt", "/flq/files/../x", "/flq/files/../secret.ini",
        "/flq/files/..%2Fsecret.ini", "/flq/files/%2E%2E%2Fsecret.ini", "/flq/files/..%5Csecret.ini",
        "/flq/files/sub.ini%2Fb.ini", "/flq/files/sub.ini/b.ini", "/flq/files/notes.txt",
        "/flq/files/link.ini", "/flq/files/sub.ini", "/flq/files/missing.ini", "/flq/files/",
        "/flq/files/a.ini%00.txt", "/flq/files/%2Ftmp%2Fa.ini", "/flq/prepared/a.ini",
        "/prepared/a.ini", "/config/accepted-versions.txt"}) {
    const std::string answer = RawExchange(site.port(), std::string("GET ") + target + " HTTP/1.1\r\nHost: x\r\n"
                                                        "Connection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 404) << target << "\n" << answer;
    EXPECT_EQ(answer.find("[secret]"), std::string::npos) << target;
    EXPECT_EQ(answer.find("[b]"), std::string::npos) << target;
    EXPECT_NE(BodyOf(answer), secret) << target;
  }
}

// ---------------------------------------------------------------- tutorial page

TEST(SiteTutorial, IsUtf8HtmlExplainingLinesWithTheWindowImage) {
  ScratchDir dir;
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string("\0\x01\x02 fake image", 14);
  WriteFile(dir.path / "window.png", png);
  RunningSite site({kSourceRoot, (dir.path / "window.png").string()});
  auto c = site.Client();
  auto page = c.Get(kTutorial);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page->body.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_TRUE(IsValidUtf8(page->body));
  EXPECT_NE(page->body.find("src=\"/flq/window.png\""), std::string::npos);
  for (const char* words : {"线路", "默认网关", "分流网址/IP", "分配线路", "备注信息", "加入列表", "开启分流",
                            "关闭分流", "删除记录", "每分钟", "全局设置", "确认修改", "分流配置载入", "确定载入"})
    EXPECT_NE(page->body.find(words), std::string::npos) << words;

  auto image = c.Get("/flq/window.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->status, 200);
  EXPECT_EQ(image->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(image->body, png);
}

TEST(SiteTutorial, RendersWithoutTheImageWhichThenIsNotFound) {
  ScratchDir dir;
  RunningSite site({kSourceRoot, (dir.path / "missing.png").string()});
  auto c = site.Client();
  auto page = c.Get(kTutorial);
  auto image = c.Get("/flq/window.png");
  ASSERT_TRUE(page && image);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("/flq/window.png"), std::string::npos);
  EXPECT_EQ(image->status, 404);
}

TEST(SiteServerTest, UnknownPathsAndMethodsAreNotFound) {
  RunningSite site({kSourceRoot, ""});
  auto c = site.Client();
  for (const std::string& target : {std::string("/"), std::string("/flq"), std::string("/flq/"),
                                    std::string("/flq/x.php"), kGate + "x", kGate.substr(0, kGate.size() - 4) + "xphp",
                                    kDownloads + "/x", std::string("/v.php?v=1.0.2"),
                                    std::string("/flq/window.png/.."), std::string("/flq/files")}) {
    auto res = c.Get(target);
    ASSERT_TRUE(res) << target;
    EXPECT_EQ(res->status, 404) << target;
    EXPECT_NE(res->body, "1") << target;
  }
  auto post = c.Post(kGate + "?v=1.0.2", "", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_NE(post->status, 200);
}

// ---------------------------------------------------------------- limits

TEST(SiteLimitsTest, CutsOffSlowClientsAndServesAgainAfterwards) {
  SiteLimits limits;
  limits.readTime = std::chrono::milliseconds(1000);
  limits.connections = 3;
  RunningSite site({kSourceRoot, ""}, limits);
  // Clients that never finish their request, each sending a byte every
  // 100 ms; one more than the site serves at once is closed at once.
  std::vector<int> slow;
  for (int i = 0; i < limits.connections; ++i) {
    slow.push_back(ConnectTo(site.port()));
    ASSERT_GE(slow.back(), 0);
    const std::string start = "GET " + kGate + "?v=1.0.2 HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    ASSERT_EQ(send(slow.back(), start.data(), start.size(), MSG_NOSIGNAL), static_cast<ssize_t>(start.size()));
  }
  const int extra = ConnectTo(site.port());
  ASSERT_GE(extra, 0);
  bool closed = false;
  EXPECT_EQ(ReadUntilClosed(extra, 5000, &closed), "");
  EXPECT_TRUE(closed);
  close(extra);

  const auto start = std::chrono::steady_clock::now();
  std::size_t cut = 0;
  while (cut < slow.size() && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    for (int& fd : slow) {
      if (fd < 0) continue;
      pollfd p{fd, POLLIN, 0};
      char c;
      // No answer comes to a request that never ended; only its end.
      if ((poll(&p, 1, 0) > 0 && recv(fd, &c, 1, 0) <= 0) || send(fd, "a", 1, MSG_NOSIGNAL) != 1) {
        close(fd);
        fd = -1;
        ++cut;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (int fd : slow)
    if (fd >= 0) close(fd);
  EXPECT_EQ(cut, slow.size());
  EXPECT_LT(std::chrono::steady_clock::now() - start, limits.readTime + std::chrono::seconds(3));

  auto again = site.Client().Get(kGate + "?v=" + quillon::kVersion);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->body, "1");
}

TEST(SiteLimitsTest, ServesAFewRequestsOnAConnectionAndEndsAnIdleOne) {
  SiteLimits limits;
  limits.keepAliveRequests = 3;
  limits.keepAliveTime = std::chrono::milliseconds(300);
  RunningSite site({kSourceRoot, ""}, limits);
  const std::string request = "GET " + kGate + "?v=" + quillon::kVersion + " HTTP/1.1\r\nHost: x\r\n\r\n";
  // Five requests at once: three answers, the last one saying so.
  std::string five;
  for (int i = 0; i < 5; ++i) five += request;
  const std::string answers = RawExchange(site.port(), five);
  std::size_t count = 0;
  for (std::size_t at = answers.find("HTTP/1.1 200"); at != std::string::npos; at = answers.find("HTTP/1.1 200", at + 1))
    ++count;
  EXPECT_EQ(count, 3u) << answers;
  EXPECT_NE(answers.rfind("Connection: close"), std::string::npos);
  EXPECT_NE(answers.find("Keep-Alive: timeout=1, max=3"), std::string::npos);

  // One request, then nothing: the site ends the connection.
  const int fd = ConnectTo(site.port());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  bool closed = false;
  EXPECT_EQ(BodyOf(ReadUntilClosed(fd, 5000, &closed)), "1");
  EXPECT_TRUE(closed);
  close(fd);
}

// ---------------------------------------------------------------- the program

struct Child {
  pid_t pid = -1;
  int err = -1;  // read end of the child's stderr
  int out = -1;  // read end of its stdout
  std::string errText;

  Child() = default;
  Child(Child&& o) noexcept : pid(o.pid), err(o.err), out(o.out), errText(std::move(o.errText)) {
    o.pid = -1;
    o.err = -1;
    o.out = -1;
  }
  Child& operator=(Child&&) = delete;

  // Reads stderr until `needle` shows up or the time is up.
  bool WaitFor(const std::string& needle, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (errText.find(needle) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{err, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char buf[1024];
      const ssize_t n = read(err, buf, sizeof buf);
      if (n <= 0) return false;
      errText.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }
  // The port that --print-port gives on stdout, or -1 when no such line came
  // within `ms`.
  int ReadPort(int ms = 5000) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd p{out, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return -1;
      char c;
      if (read(out, &c, 1) != 1) return -1;
      line += c;
    }
    return std::regex_match(line, std::regex(R"([1-9]\d*\n)")) ? std::stoi(line) : -1;
  }
  // A line of /proc/PID/status ("VmHWM", "VmRSS") in bytes, or 0.
  std::size_t Memory(const std::string& key) const {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind(key + ":", 0) == 0) return std::stoull(line.substr(key.size() + 1)) * 1024;
    return 0;
  }
  // The exit code, or -1 when the child has not ended within `ms` (it is
  // then killed, so a fault here fails the test instead of hanging it).
  int Wait(int ms = 5000) {
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (err >= 0) close(err);
    if (out >= 0) close(out);
  }
};

Child Spawn(const std::vector<std::string>& args) {
  Child ch;
  int fds[2];
  int outs[2];
  if (pipe(fds) != 0) return ch;
  if (pipe(outs) != 0) {
    close(fds[0]);
    close(fds[1]);
    return ch;
  }
  ch.pid = fork();
  if (ch.pid == 0) {
    dup2(fds[1], 2);
    dup2(outs[1], 1);
    for (int fd : {fds[0], fds[1], outs[0], outs[1]}) close(fd);
    std::vector<char*> argv;
    static std::string bin = QUILLON_SITE_BINARY;
    argv.push_back(bin.data());
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  close(outs[1]);
  ch.err = fds[0];
  ch.out = outs[0];
  return ch;
}

TEST(SiteProgram, ServesLogsEachRequestAndStopsOnSigterm) {
  Child ch = Spawn({"--listen", "127.0.0.1", "--port=0", "--root", kSourceRoot, "--print-port"});
  ASSERT_GT(ch.pid, 0);
  const int port = ch.ReadPort();
  ASSERT_GT(port, 0);
  ASSERT_TRUE(ch.WaitFor("on http://127.0.0.1:" + std::to_string(port) + kDownloadsPagePath + "\n")) << ch.errText;

  httplib::Client c("127.0.0.1", port);
  const std::string gate = kGate + "?v=" + quillon::kVersion;
  auto yes = c.Get(gate);
  auto no = c.Get("/nothing");
  ASSERT_TRUE(yes && no);
  EXPECT_EQ(yes->body, "1");
  EXPECT_EQ(no->status, 404);
  EXPECT_TRUE(ch.WaitFor("GET /nothing 404")) << ch.errText;
  EXPECT_NE(ch.errText.find("127.0.0.1 GET " + gate + " 200 1\n"), std::string::npos) << ch.errText;

  kill(ch.pid, SIGTERM);
  EXPECT_EQ(ch.Wait(), 0);
}

// Sends `head`, then `block` again and again until `total` bytes have gone
// or the site stops taking them; returns the bytes of blocks sent and, in
// `answer`, what the site answered.
std::size_t Flood(int port, const std::string& head, const std::string& block, std::size_t total,
                  std::string* answer) {
  const int fd = ConnectTo(port);
  if (fd < 0) return total;
  // A site that stops reading without closing fails the send after a while.
  timeval timeout{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  std::size_t sent = 0;
  if (send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size())) {
    while (sent < total) {
      const ssize_t n = send(fd, block.data(), block.size(), MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
  }
  *answer = ReadUntilClosed(fd, 1000);
  close(fd);
  return sent;
}

TEST(SiteProgram, RefusesHugeRequestsEarlyWithItsMemoryFlat) {
  Child ch = Spawn({"--port", "0", "--root", kSourceRoot, "--print-port"});
  ASSERT_GT(ch.pid, 0);
  const int port = ch.ReadPort();
  ASSERT_GT(port, 0);
  const std::size_t before = ch.Memory("VmHWM");
  ASSERT_GT(before, 0u);

  // 1.5 GB each: a body with its length declared, a chunked body, and a
  // header line that never ends.
  const std::size_t total = std::size_t{1536} << 20;
  const std::string mib(std::size_t{1} << 20, 'a');
  const std::string target = kGate + "?v=" + quillon::kVersion;
  std::string answer;
  const std::size_t declared = Flood(
      port, "POST " + target + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(total) + "\r\n\r\n", mib,
      total, &answer);
  EXPECT_EQ(StatusOf(answer), 413) << answer;
  const std::size_t chunked =
      Flood(port, "POST " + target + " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
            "100000\r\n" + mib + "\r\n", total, &answer);
  const std::size_t endless = Flood(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\nX-Long: ", mib, total, &answer);
  // The site read at most its limits; what the kernel's buffers took is all
  // that went.
  for (std::size_t sent : {declared, chunked, endless}) EXPECT_LT(sent, std::size_t{64} << 20);
  EXPECT_LT(ch.Memory("VmHWM") - before, std::size_t{16} << 20);

  httplib::Client c("127.0.0.1", port);
  auto gate = c.Get(target);
  ASSERT_TRUE(gate);
  EXPECT_EQ(gate->body, "1");
  kill(ch.pid, SIGTERM);
  EXPECT_EQ(ch.Wait(), 0);
}

TEST(SiteProgram, RefusesBadOptionsAndATakenPort) {
  EXPECT_EQ(Spawn({"--port", "70000"}).Wait(), 2);
  EXPECT_EQ(Spawn({"--bogus"}).Wait(), 2);
  EXPECT_EQ(Spawn({"--port"}).Wait(), 2);
  EXPECT_EQ(Spawn({"--root", "/nonexistent/quillon-site"}).Wait(), 2);

  RunningSite taken({kSourceRoot, ""});
  Child ch = Spawn({"--port", std::to_string(taken.port()), "--root", kSourceRoot});
  EXPECT_EQ(ch.Wait(), 1);
  ch.WaitFor("cannot listen", 1000);
  EXPECT_NE(ch.errText.find("cannot listen"), std::string::npos) << ch.errText;
}

}  // namespace
}  // namespace quillon::site
