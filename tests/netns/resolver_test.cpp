// Lookups through c-ares (platform/posix/resolver.h) against servers on
// the namespace's loopback: dnsmasq for names, TTLs and a large batch, a
// small server of the test's own for the order of an answer and for a
// server that never answers, and the hosts file and nsswitch.conf replaced
// by bind mounts (the namespace has a mount namespace of its own).
#include "platform/posix/resolver.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ipv4.h"
#include "tests/netns/netns_support.h"

namespace quillon::netns {
namespace {

using platform::Ipv4;
using platform::Lookup;
using platform::ResolveAll;
using ::testing::ElementsAre;

Ipv4 A(const char* text) { return *platform::ParseIpv4(text); }

// `content` in a file of its own bind-mounted over `target` while the
// object lives.
class MountedFile {
 public:
  MountedFile(const std::string& target, const std::string& content) : target_(target) {
    char pattern[] = "/tmp/quillon-resolver-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    directory_ = pattern;
    std::ofstream(directory_ + "/file") << content;
    mounted_ = mount((directory_ + "/file").c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
  }
  ~MountedFile() {
    if (mounted_) umount2(target_.c_str(), MNT_DETACH);
    if (!directory_.empty()) std::filesystem::remove_all(directory_);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string target_;
  std::string directory_;
  bool mounted_ = false;
};

// A DNS server on 127.0.0.2:53 that answers every question with the same
// A records, in the order given; with none it never answers. Counts the
// questions it got.
class FixedDns {
 public:
  explicit FixedDns(std::vector<std::pair<std::string, std::uint32_t>> records)
      : records_(std::move(records)) {
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(A("127.0.0.2"));
    if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || pipe(stop_) != 0)
      return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~FixedDns() {
    if (thread_.joinable()) {
      (void)!write(stop_[1], "x", 1);
      thread_.join();
    }
    for (const int fd : {socket_, stop_[0], stop_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  bool Ready() const { return thread_.joinable(); }
  int Questions() const { return questions_; }

 private:
  void Serve() {
    for (;;) {
      pollfd fds[2] = {{socket_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) return;
      unsigned char q[512];
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t n = recvfrom(socket_, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n < 12) continue;
      ++questions_;
      if (records_.empty()) continue;
      // The header and the question, then the answers.
      std::size_t end = 12;
      while (end < static_cast<std::size_t>(n) && q[end] != 0) end += q[end] + 1u;
      end += 5;  // the root label, type and class
      if (end > static_cast<std::size_t>(n)) continue;
      std::vector<unsigned char> a(q, q + end);
      a[2] = static_cast<unsigned char>(0x80 | (q[2] & 0x01));  // an answer; recursion desired as asked
      a[3] = 0x80;                                              // recursion available, no error
      a[6] = 0;
      a[7] = static_cast<unsigned char>(records_.size());
      a[8] = a[9] = a[10] = a[11] = 0;
      // Each record: a pointer to the question's name, type A, class IN,
      // the TTL, and the four bytes of the address.
      auto put = [&a](std::uint32_t value, int bytes) {
        while (bytes-- > 0) a.push_back(static_cast<unsigned char>(value >> (8 * bytes)));
      };
      for (const auto& [address, ttl] : records_) {
        put(0xC00C, 2);
        put(1, 2);
        put(1, 2);
        put(ttl, 4);
        put(4, 2);
        put(A(address.c_str()), 4);
      }
      sendto(socket_, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
  }

  std::vector<std::pair<std::string, std::uint32_t>> records_;
  int socket_ = -1;
  int stop_[2] = {-1, -1};
  std::atomic<int> questions_{0};
  std::thread thread_;
};

class NetnsResolver : public ::testing::Test {
 protected:
  void SetUp() override { QUILLON_REQUIRE_NAMESPACE(); }
};

TEST_F(NetnsResolver, AnAnswerKeepsItsOrderEachAddressOnceAndItsShortestTtl) {
  FixedDns server(
      {{"198.51.100.13", 600}, {"198.51.100.11", 60}, {"198.51.100.13", 600}, {"198.51.100.12", 300}});
  ASSERT_TRUE(server.Ready());
  MountedFile conf("/etc/resolv.conf", "nameserver 127.0.0.2\noptions timeout:1 attempts:1\n");
  ASSERT_TRUE(conf.Mounted());

  const Lookup got = platform::Resolve("fixed.test");
  EXPECT_TRUE(got.started);
  EXPECT_TRUE(got.answered);
  EXPECT_THAT(got.addresses, ElementsAre(A("198.51.100.13"), A("198.51.100.11"), A("198.51.100.12")));
  EXPECT_EQ(got.ttl, 60u);
}

TEST_F(NetnsResolver, AServerThatNeverAnswersIsAskedAsOftenAsResolvConfSays) {
  FixedDns silent({});
  ASSERT_TRUE(silent.Ready());
  // c-ares alone would keep its own 5 s and 4 attempts.
  MountedFile conf("/etc/resolv.conf", "nameserver 127.0.0.2\noptions timeout:1 attempts:2\n");
  ASSERT_TRUE(conf.Mounted());

  const Lookup got = platform::Resolve("silent.test.");  // no search list
  EXPECT_EQ(got, (Lookup{true, false, {}, 0}));
  EXPECT_EQ(silent.Questions(), 2);
}

TEST_F(NetnsResolver, ABatchOfThousandsAnswersEveryNameWithItsTtlBesideUnknownAndSlowNames) {
  // slow.test goes to a server on v0's network that nobody answers for;
  // resolv.conf of the namespace says timeout:1 attempts:1.
  std::map<std::string, std::vector<std::string>> records;
  std::vector<std::string> names;
  for (int i = 0; i < 2000; ++i) {
    const std::string name = "n" + std::to_string(i) + ".batch.test";
    records[name] = {"10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".1"};
    names.push_back(name);
  }
  records["multi.batch.test"] = {"198.51.100.21", "198.51.100.22", "198.51.100.23"};
  TestDns dns(records, {"--local-ttl=900", "--server=/slow.test/192.0.2.250"});
  ASSERT_TRUE(dns.Ready()) << "dnsmasq did not answer";
  names.insert(names.begin() + 1000, {"multi.batch.test", "nosuch.batch.test", "x.slow.test"});

  // A second caller on another thread at the same time, with its own channel.
  std::vector<Lookup> other;
  std::thread second([&] { other = ResolveAll({names.begin(), names.begin() + 500}); });
  const std::vector<Lookup> got = ResolveAll(names);
  second.join();

  ASSERT_EQ(got.size(), names.size());
  int answered = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i >= 1000 && i < 1003) continue;
    answered += got[i].answered && got[i].addresses == std::vector<Ipv4>{A(records[names[i]][0].c_str())} &&
                got[i].ttl == 900;
  }
  EXPECT_EQ(answered, 2000);
  EXPECT_TRUE(got[1000].answered);
  EXPECT_THAT(got[1000].addresses,
              ::testing::UnorderedElementsAre(A("198.51.100.21"), A("198.51.100.22"), A("198.51.100.23")));
  EXPECT_EQ(got[1000].ttl, 900u);
  EXPECT_EQ(got[1001], (Lookup{true, false, {}, 0}));  // unknown
  EXPECT_EQ(got[1002], (Lookup{true, false, {}, 0}));  // its server never answers
  ASSERT_EQ(other.size(), 500u);
  EXPECT_TRUE(std::all_of(other.begin(), other.end(), [](const Lookup& l) { return l.answered; }));
}

TEST_F(NetnsResolver, TheHostsFileComesFirstAsNsswitchSaysAndOddNamesSimplyDoNotResolve) {
  TestDns dns(std::map<std::string, std::vector<std::string>>{{"dns.test", {"198.51.100.31"}},
                                                              {"both.test", {"198.51.100.32"}}});
  ASSERT_TRUE(dns.Ready()) << "dnsmasq did not answer";
  MountedFile hosts("/etc/hosts",
                    "127.0.0.1 localhost\n192.0.2.77 file.test\tFileAlias # a comment\n"
                    "::1 ip6.test\n192.0.2.78 both.test\n");
  MountedFile order("/etc/nsswitch.conf", "hosts: files dns\n");
  ASSERT_TRUE(hosts.Mounted() && order.Mounted());

  const std::string longLabel(1024, 'a');
  std::string manyLabels;
  while (manyLabels.size() < 1000) manyLabels += "ab.";
  const std::vector<std::string> names{"file.test", "filealias", "both.test", "dns.test",   "198.51.100.7",
                                       longLabel,   manyLabels,  "名字.test", "http://x/y", "a..b",
                                       "ip6.test",  "-x",        "a b"};
  const std::vector<Lookup> got = ResolveAll(names);
  ASSERT_EQ(got.size(), names.size());
  EXPECT_EQ(got[0], (Lookup{true, true, {A("192.0.2.77")}, 0}));
  EXPECT_EQ(got[1], (Lookup{true, true, {A("192.0.2.77")}, 0}));
  EXPECT_EQ(got[2], (Lookup{true, true, {A("192.0.2.78")}, 0}));  // the file, not the server
  EXPECT_EQ(got[3], (Lookup{true, true, {A("198.51.100.31")}, 0}));
  EXPECT_EQ(got[4], (Lookup{true, true, {A("198.51.100.7")}, 0}));
  for (std::size_t i = 5; i <= 10; ++i)
    EXPECT_EQ(got[i], (Lookup{true, false, {}, 0})) << names[i].substr(0, 40);
  EXPECT_EQ(got[11], Lookup{});  // refused by the safety rule: never asked
  EXPECT_EQ(got[12], Lookup{});

  // A configuration that asks the hosts file alone never asks the server.
  MountedFile fileOnly("/etc/nsswitch.conf", "hosts: files\n");
  ASSERT_TRUE(fileOnly.Mounted());
  const std::vector<Lookup> fileAlone = ResolveAll({"file.test", "dns.test"});
  EXPECT_TRUE(fileAlone[0].answered);
  EXPECT_FALSE(fileAlone[1].answered);
}

}  // namespace
}  // namespace quillon::netns
