// Which names may come from the hosts file: every name that c-ares could
// answer from it must be found, or it would be asked of DNS alone.
#include "platform/posix/resolver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unordered_set>

namespace quillon::platform {
namespace {

TEST(HostsNames, EveryWordAfterTheAddressUpToACommentOrNulWhateverTheAddress) {
  char path[] = "/tmp/quillon-hosts-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  static const char kFile[] =
      "# a comment line\n"
      "127.0.0.1\tlocalhost\n"
      "  192.0.2.7  One.Test\tone-alias\v second-alias # third-not-a-name\r\n"
      "::1 ip6.test\n"
      "192.0.2.8\n"
      "192.0.2.9 before-nul\0after-nul\n"
      "not-an-address no-address.test";
  std::ofstream(path, std::ios::binary) << std::string(kFile, sizeof kFile - 1);
  std::unordered_set<std::string> names;
  ASSERT_TRUE(ReadHostsNames(path, names));
  std::remove(path);
  EXPECT_EQ(names, (std::unordered_set<std::string>{"localhost", "one.test", "one-alias", "second-alias",
                                                    "ip6.test", "before-nul", "no-address.test"}));

  EXPECT_TRUE(MayBeHostsName("ONE.test", names));
  EXPECT_TRUE(MayBeHostsName("one.test.", names));
  EXPECT_TRUE(MayBeHostsName("before-nul", names));
  EXPECT_TRUE(MayBeHostsName("printer.localhost", names));  // c-ares's own localhost
  EXPECT_FALSE(MayBeHostsName("after-nul", names));
  EXPECT_FALSE(MayBeHostsName("two.test", names));
  EXPECT_FALSE(MayBeHostsName("one", names));

  EXPECT_FALSE(ReadHostsNames("/nonexistent/hosts", names));
}

}  // namespace
}  // namespace quillon::platform
