#include "platform/ipv4.h"

#include <gtest/gtest.h>

namespace quillon::platform {
namespace {

TEST(Ipv4, DottedTextsAndTheirValues) {
  EXPECT_EQ(ParseIpv4("198.51.100.7"), 0xC6336407u);
  EXPECT_EQ(Ipv4Text(0xC6336407u), "198.51.100.7");
  // Every digit count of an octet, and lengths that a bad plan may carry.
  EXPECT_EQ(Ipv4Text(0u), "0.0.0.0");
  EXPECT_EQ(Ipv4Text(0x0A6409FFu), "10.100.9.255");
  EXPECT_EQ(PrefixText({0xFFFFFFFFu, 32}), "255.255.255.255/32");
  EXPECT_EQ(PrefixText({0u, -2147483647 - 1}), "0.0.0.0/-2147483648");
  EXPECT_EQ(PrefixText({0u, 1000}), "0.0.0.0/1000");
  EXPECT_EQ(ParseIpv4("0.0.0.0"), 0u);
  EXPECT_EQ(ParseIpv4("255.255.255.255"), 0xFFFFFFFFu);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.256", "01.2.3.4", "1.2.3.4 ", "1..3.4", "1.2.3.-4", "1234.1.1.1"}) {
    EXPECT_FALSE(ParseIpv4(bad)) << bad;
  }
  EXPECT_EQ(MaskText(24), "255.255.255.0");
  EXPECT_EQ(MaskText(10), "255.192.0.0");
  EXPECT_EQ(MaskText(0), "0.0.0.0");
  EXPECT_EQ(MaskText(32), "255.255.255.255");
}

TEST(Ipv4, PrefixesContainAndOverlap) {
  const Prefix wide{0x24000000u, 10};  // 36.0.0.0/10
  EXPECT_TRUE(wide.Contains(0x243FFFFFu));
  EXPECT_FALSE(wide.Contains(0x24400000u));
  EXPECT_TRUE(wide.Overlaps(Network24(0x24010203u)));
  EXPECT_TRUE(Network24(0x24010203u).Overlaps(wide));
  EXPECT_FALSE(wide.Overlaps(Prefix{0x24400000u, 10}));
  EXPECT_EQ(PrefixText(Network24(0xC6336407u)), "198.51.100.0/24");
}

TEST(Ipv4, OnlyTheExactFormIsAPrefixEntry) {
  const PrefixEntry valid = ReadPrefixEntry("36.0.0.0/10");
  EXPECT_EQ(valid.form, PrefixEntry::Valid);
  EXPECT_EQ(valid.prefix, (Prefix{0x24000000u, 10}));
  EXPECT_EQ(ReadPrefixEntry("198.51.100.7/32").form, PrefixEntry::Valid);

  const PrefixEntry hostBits = ReadPrefixEntry("36.1.2.3/10");
  EXPECT_EQ(hostBits.form, PrefixEntry::HostBitsSet);
  EXPECT_EQ(PrefixText(hostBits.prefix), "36.0.0.0/10");
  EXPECT_EQ(ReadPrefixEntry("0.0.0.0/0").form, PrefixEntry::TooShort);
  EXPECT_EQ(ReadPrefixEntry("10.0.0.0/7").form, PrefixEntry::TooShort);

  for (const char* other : {"36.0.0.0", "36.0.0.0/33", "36.0.0.0/010", "36.0.0.0/", "http://36.0.0.0/10",
                            "36.0.0.0/10/", "036.0.0.0/10", "36.0.0.0/1x"}) {
    EXPECT_EQ(ReadPrefixEntry(other).form, PrefixEntry::NotAPrefix) << other;
  }
}

}  // namespace
}  // namespace quillon::platform
