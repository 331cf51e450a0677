// The command line of the real program, in the namespace with its three
// lines and a dnsmasq: every action's output and exit code, a steady second
// --apply, --why, bad arguments, a run without the right to change routes,
// the service stopped in the middle of a pass, and stores that others could
// change or that lead elsewhere.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

using ::testing::HasSubstr;
using Texts = std::vector<std::string>;

class NetnsCommandLine : public NamespaceTest {
 protected:
  ProgramRun Quillon(Texts args) {
    args.insert(args.begin(), {QUILLON_PROGRAM, "--home", home_});
    return RunProgram(args);
  }
  std::string Store() { return ReadFileText(home_ + "/分流器配置/http.ini"); }
};

Texts Lines(const std::string& text) {
  Texts lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(text.substr(start, nl - start));
  }
  return lines;
}

TEST_F(NetnsCommandLine, EveryActionWithItsOutputAndExitCode) {
  TestDns dns({{"video.example.test", {"198.18.1.5", "198.18.2.6", "203.0.113.7"}}, {"other.example.test", {"198.18.9.9"}}});
  ASSERT_TRUE(dns.Ready());

  ProgramRun r = Quillon({"--add", "video.example.test", "--line", "198.51.100.1", "--note", "视频"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "1\tvideo.example.test\t198.51.100.1\t电信 线路\t开启\t视频\n");
  r = Quillon({"--add", "nosuch.example.test", "--line", "192.0.2.1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  r = Quillon({"--import", QUILLON_TEST_DATA "/prepared/gbk-from-windows.ini"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "本次载入[2]条配置已完成\n");
  EXPECT_EQ(Lines(Quillon({"--list"}).out).size(), 3u);

  r = Quillon({"--apply"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "routes added 2, replaced 0, deleted 0, already right 0\n");  // 198.18.8.8 is disabled
  r = Quillon({"--apply"});
  EXPECT_EQ(r.out, "routes added 0, replaced 0, deleted 0, already right 2\n");

  r = Quillon({"--why", "video.example.test"});
  EXPECT_EQ(r.code, 0);
  // The server may give the addresses in any order. 203.0.113.0/24 is the
  // machine's own network, which no pass routes.
  EXPECT_THAT(Lines(r.out), ::testing::UnorderedElementsAre(
                                "destination: video.example.test",
                                ::testing::AllOf(::testing::StartsWith("lookup answer: "), HasSubstr("198.18.1.5"),
                                                 HasSubstr("198.18.2.6"), HasSubstr("203.0.113.7")),
                                "line: 198.51.100.1 (enabled)", "198.18.1.0/24: routed through 198.51.100.1 now",
                                "198.18.2.0/24: routed through 198.51.100.1 now"));
  EXPECT_THAT(Quillon({"--why", "198.18.8.8"}).out, HasSubstr("line: 198.51.100.1 (disabled: its networks get no route)\n"
                                                              "198.18.8.0/24: no route now"));
  EXPECT_THAT(Quillon({"--why", "other.example.test"}).out,
              HasSubstr("line: not in the split list\n198.18.9.0/24: no route now"));

  const std::string exported = home_ + "/exported.ini";
  r = Quillon({"--export", exported});
  EXPECT_EQ(r.out, "exported 3 entries to " + exported + "\n");
  EXPECT_THAT(ReadFileText(exported), HasSubstr("[视频.example.test]\nxl=192.0.2.1\nbz=电信线路的视频\nzt=1\n"));

  for (const Texts& bad : {Texts{"--frobnicate"}, Texts{"--list", "--apply"}, Texts{"--add", "a.test"},
                           Texts{"--add", "a.test", "--line", "a.test"}, Texts{"--why", "-x"}}) {
    r = Quillon(bad);
    EXPECT_EQ(r.code, 2) << bad.front();
    EXPECT_THAT(r.err, HasSubstr("quillon: ")) << bad.front();
  }
}

TEST_F(NetnsCommandLine, PrefixesAndSharedListsRouteExactlyAndSteadily) {
  TestDns dns(std::map<std::string, Texts>{{"a.example.test", {"198.18.20.1"}}, {"b.example.test", {"198.18.21.1"}}});
  ASSERT_TRUE(dns.Ready());
  ProgramRun r = Quillon({"--add", "198.18.64.0/18", "--line", "198.51.100.1"});
  EXPECT_EQ(r.code, 0) << r.err;
  r = Quillon({"--add", "198.18.64.1/18", "--line", "198.51.100.1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_THAT(r.err, HasSubstr("198.18.64.0/18"));

  // A list in each form and encoding: a provider's prefixes in UTF-16LE, a
  // domain list in GBK, the resolver's form in UTF-8 with its mark.
  const std::string prefixes = home_ + "/prefixes.txt", names = home_ + "/names.txt", forms = home_ + "/forms.conf";
  std::ofstream(prefixes) << std::string("\xFF\xFE" "1\0" "9\0" "8\0" ".\0" "1\0" "8\0" ".\0" "1\0" "2\0" "8\0"
                                         ".\0" "0\0" "/\0" "1\0" "7\0" "\n\0", 34);  // 198.18.128.0/17
  std::ofstream(names) << "# \xD3\xF2\xC3\xFB\r\na.example.test\r\n198.18.64.0/18\r\n";  // # 域名 (GBK)
  std::ofstream(forms) << "\xEF\xBB\xBFserver=/b.example.test/bad&x/127.0.0.1\n";
  r = Quillon({"--import", names});
  EXPECT_EQ(r.code, 1);
  EXPECT_THAT(r.err, HasSubstr("--line"));
  r = Quillon({"--import", names, "--line", "192.0.2.1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_THAT(Lines(r.out), ::testing::ElementsAre(
                                "imported 1 entries",
                                "a list: 0 skipped (no destination Quillon takes), 1 already in the split list (left "
                                "as they are)",
                                ::testing::StartsWith("note: Quillon routes each name itself")));
  for (const std::string& list : {prefixes, forms}) {
    r = Quillon({"--import", list, "--line", "192.0.2.1"});
    EXPECT_THAT(r.out, HasSubstr("imported 1 entries\n")) << list << r.err;
  }
  EXPECT_THAT(Lines(Quillon({"--list"}).out),
              ::testing::ElementsAre(::testing::StartsWith("1\t198.18.64.0/18\t198.51.100.1\t"),
                                     ::testing::StartsWith("2\ta.example.test\t192.0.2.1\t"),
                                     ::testing::StartsWith("3\t198.18.128.0/17\t192.0.2.1\t"),
                                     ::testing::StartsWith("4\tb.example.test\t192.0.2.1\t")));

  r = Quillon({"--apply"});
  EXPECT_EQ(r.out, "routes added 4, replaced 0, deleted 0, already right 0\n") << r.err;
  const Texts routes = RouteTexts();
  for (const char* route : {"198.18.64.0/18 via 198.51.100.1", "198.18.128.0/17 via 192.0.2.1",
                            "198.18.20.0/24 via 192.0.2.1", "198.18.21.0/24 via 192.0.2.1"}) {
    EXPECT_EQ(std::count_if(routes.begin(), routes.end(),
                            [&](const std::string& t) { return t.rfind(std::string(route) + " ", 0) == 0; }),
              1)
        << route;
  }
  RouteMonitor monitor;
  ASSERT_TRUE(monitor.Mark());
  r = Quillon({"--apply"});
  EXPECT_EQ(r.out, "routes added 0, replaced 0, deleted 0, already right 4\n");
  ASSERT_TRUE(monitor.Mark());
  EXPECT_EQ(monitor.Since(), Texts{});
}

TEST_F(NetnsCommandLine, WithoutTheRightToRouteItSaysSoOnceAndLeavesTheStore) {
  TestDns dns(std::map<std::string, Texts>{{"video.example.test", {"198.18.1.5"}}});
  ASSERT_TRUE(dns.Ready());
  ASSERT_EQ(Quillon({"--add", "video.example.test", "--line", "198.51.100.1"}).code, 0);
  const std::string before = Store();
  // The bounding set without cap_net_admin: even root has it no more.
  const ProgramRun r = RunProgram({"setpriv", "--bounding-set=-net_admin", "--inh-caps=-net_admin", "--",
                                   QUILLON_PROGRAM, "--home", home_, "--apply"});
  EXPECT_EQ(r.code, 1);
  ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
  EXPECT_THAT(r.err, HasSubstr("no right to change routes"));
  EXPECT_THAT(r.err, HasSubstr("sudo setcap cap_net_admin+ep "));
  EXPECT_EQ(Store(), before);
}

TEST_F(NetnsCommandLine, TheServiceStoppedDuringAPassEndsItFirst) {
  // slow.test is asked of a socket of the test's own that never answers:
  // each such lookup waits for the resolver's timeout, so the pass lasts.
  const int silent = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
  TestDns dns({{"a.example.test", {"198.18.1.1"}}, {"b.example.test", {"198.18.2.1"}}},
              {"--server=/slow.test/127.0.0.1#" + std::to_string(ntohs(address.sin_port))});
  ASSERT_TRUE(dns.Ready());
  for (const char* name : {"a.example.test", "b.example.test"}) {
    ASSERT_EQ(Quillon({"--add", name, "--line", "203.0.113.1"}).code, 0);
  }
  const std::string store = home_ + "/分流器配置/http.ini";
  {
    std::ofstream(store, std::ios::app) << "[x.slow.test]\nxl=192.0.2.1\nzt=1\n";
  }
  const std::string before = Store();
  const std::string log = home_ + "/service.log";
  Background service({QUILLON_PROGRAM, "--home", home_, "--service"}, log);
  ASSERT_TRUE(service.Started());
  // The pass is waiting for the slow lookup once its question has come
  // (the line the service prints comes before its first pass starts).
  pollfd asked{silent, POLLIN, 0};
  ASSERT_EQ(poll(&asked, 1, 10000), 1) << ReadFileText(log);
  ASSERT_THAT(ReadFileText(log), HasSubstr("now and every minute"));
  EXPECT_EQ(service.Stop(SIGTERM), 0);
  close(silent);
  EXPECT_THAT(ReadFileText(log), HasSubstr("quillon: stopped"));
  const Texts routes = RouteTexts();
  EXPECT_THAT(routes, ::testing::Contains(HasSubstr("198.18.1.0/24 via 203.0.113.1")));
  EXPECT_THAT(routes, ::testing::Contains(HasSubstr("198.18.2.0/24 via 203.0.113.1")));
  EXPECT_EQ(Store(), before);
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST_F(NetnsCommandLine, UsesAStoreOnlyWhereNobodyElseCanChangeItAndNeverThroughALink) {
  const std::string config = home_ + "/分流器配置";
  // A base or config directory that others may write: refused in one line
  // that names it.
  for (const std::string& open : {home_, config}) {
    ASSERT_EQ(chmod(open.c_str(), 0770), 0);
    const ProgramRun r = Quillon({"--list"});
    EXPECT_EQ(r.code, 1) << open;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_THAT(r.err, ::testing::AllOf(HasSubstr("other users may write into "), HasSubstr(open))) << r.err;
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(chmod(open.c_str(), 0700), 0);
  }

  // A store that is a link to another file: nothing is written through it.
  const std::string elsewhere = home_ + "/elsewhere.ini", store = config + "/http.ini";
  const std::string kept = "[kept.example.test]\nxl=192.0.2.1\nzt=1\n";
  std::ofstream(elsewhere) << kept;
  ASSERT_EQ(symlink(elsewhere.c_str(), store.c_str()), 0);
  ProgramRun r = Quillon({"--add", "198.18.7.7", "--line", "192.0.2.1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, std::string("quillon: ") + "无法保存到分流列表，请检查配置目录是否可以写入。\n");
  r = Quillon({"--import", QUILLON_TEST_DATA "/prepared/gbk-from-windows.ini"});
  EXPECT_THAT(r.out + r.err, HasSubstr("本次载入[0]条配置已完成"));
  EXPECT_EQ(ReadFileText(elsewhere), kept);
  EXPECT_TRUE(std::filesystem::is_symlink(store));
  ASSERT_EQ(unlink(store.c_str()), 0);

  r = Quillon({"--export", "/proc/x/y"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "quillon: cannot write /proc/x/y\n");

  // A base directory that is not there yet is made for the user alone,
  // whatever the umask lets through.
  const std::string fresh = home_ + "/new/base";
  const mode_t mask = umask(0);
  r = RunProgram({QUILLON_PROGRAM, "--home", fresh, "--add", "198.18.7.7", "--line", "192.0.2.1"});
  umask(mask);
  EXPECT_EQ(r.code, 0) << r.err;
  for (const std::string& made : {home_ + "/new", fresh, fresh + "/分流器配置"}) EXPECT_EQ(ModeOf(made), 0700u) << made;
  EXPECT_EQ(ModeOf(fresh + "/分流器配置/http.ini"), 0600u);
}

}  // namespace
}  // namespace quillon::netns
