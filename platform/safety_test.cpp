#include "platform/safety.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon::platform {
namespace {

TEST(Safety, GatewayIsADottedUnicastAddressWithoutLeadingZeros) {
  for (const char* ok : {"192.0.2.1", "1.0.0.0", "223.255.255.254", "10.0.0.0", "198.51.100.10"}) {
    EXPECT_TRUE(IsGatewayText(ok)) << ok;
  }
  for (const char* bad : {"", "0.0.0.0", "0.1.2.3", "127.0.0.1", "224.0.0.1", "255.255.255.255", "240.0.0.1",
                          "10.0.0.01", "010.0.0.1", "192.0.2", "192.0.2.1.", ".192.0.2.1", "192.0.2.256",
                          "1920.0.2.1", "192.0.2.1 ", " 192.0.2.1", "192.0.2.1&calc", "fe80::1", "192..2.1",
                          "192.0.2.1.5", "a.b.c.d", "192.0.2.1:80", "192.0.2.1\n"}) {
    EXPECT_FALSE(IsGatewayText(bad)) << bad;
  }
}

TEST(Safety, MetricIsOneToFourDigits) {
  for (const char* ok : {"1", "100", "9999", "0100"}) EXPECT_TRUE(IsMetricText(ok)) << ok;
  for (const char* bad : {"", "10000", "120abc", "-5", "+1", "1 0", "1&x", " 1", "\xEF\xBC\x91"}) {
    EXPECT_FALSE(IsMetricText(bad)) << bad;
  }
}

TEST(Safety, NetworkIsAUnicastAddressEndingInZero) {
  EXPECT_TRUE(IsNetworkText("198.18.1.0"));
  for (const char* bad : {"0.0.0.0", "198.18.1.5", "127.0.0.0", "224.0.0.0", "010.1.2.0", "198.18.1.00", ""}) {
    EXPECT_FALSE(IsNetworkText(bad)) << bad;
  }
}

TEST(Safety, DestinationsThatCouldChangeACommandAreRefused) {
  for (const char* ok : {"example.test", "a-b.example.test", "198.51.100.7", "http://example.test:8080/a/b?x#y",
                         "user@example.test", "[2001:db8::1]", "xn--fiqs8s.test",
                         "\xE4\xB8\xAD\xE6\x96\x87.example.test" /* 中文 in UTF-8 */}) {
    EXPECT_TRUE(IsSafeDestination(ok, CharRule::Utf8)) << ok;
  }
  for (const char* bad : {"", "-d2", "a.test&echo x>pwned", "a b", "a|b", "a<b", "a^b", "a\"b", "a%PATH%",
                          "a!b", "(a)", "a;b", "a,b", "a=b", "a'b", "a`b", "a\\b", "a\tb", "a\rb", "a\nb",
                          "a*b", "a$b", "\xE4\xB8", "\xC0\xAF", "\xFF"}) {
    EXPECT_FALSE(IsSafeDestination(bad, CharRule::Utf8)) << bad;
  }
  EXPECT_FALSE(IsSafeDestination(std::string_view("a\0b", 3), CharRule::Utf8));
  EXPECT_TRUE(IsSafeDestination(std::string(kDestinationLimit, 'a'), CharRule::Utf8));
  EXPECT_FALSE(IsSafeDestination(std::string(kDestinationLimit + 1, 'a'), CharRule::Utf8));
  // GBK: a character whose second byte is '|' (0x7C) or '\\' (0x5C) is refused.
  EXPECT_TRUE(IsSafeDestination("\xD6\xD0.test", CharRule::Gbk));
  EXPECT_FALSE(IsSafeDestination("\x81\x7C.test", CharRule::Gbk));
  EXPECT_FALSE(IsSafeDestination("\x81\x5C.test", CharRule::Gbk));
  EXPECT_FALSE(IsSafeDestination("a\x81", CharRule::Gbk));
  EXPECT_FALSE(IsSafeDestination("\xFF\xFE.test", CharRule::Gbk)) << "0xFF starts no GBK character";
}

}  // namespace
}  // namespace quillon::platform
