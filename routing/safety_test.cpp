#include "routing/safety.h"

#include <gtest/gtest.h>

namespace quillon::routing {
namespace {

TEST(IsDottedIPv4, AcceptsOnlyFourOctetsInRange) {
  for (const char* ok : {"0.0.0.0", "192.0.2.1", "255.255.255.255", "10.0.0.01"}) {
    EXPECT_TRUE(IsDottedIPv4(ok)) << ok;
  }
  for (const char* bad : {"", "192.0.2", "192.0.2.1.", ".192.0.2.1", "192.0.2.256", "1920.0.2.1",
                          "192.0.2.1 ", " 192.0.2.1", "192.0.2.1&calc", "fe80::1", "192..2.1",
                          "192.0.2.1.5", "a.b.c.d", "192.0.2.0001"}) {
    EXPECT_FALSE(IsDottedIPv4(bad)) << bad;
  }
}

TEST(IsSafeMetricText, LettersAndDigitsOnly) {
  EXPECT_TRUE(IsSafeMetricText("100"));
  EXPECT_TRUE(IsSafeMetricText("120abc"));
  for (const char* bad : {"", "-5", "+1", "1 0", "1&x", "1\"", "１"}) EXPECT_FALSE(IsSafeMetricText(bad)) << bad;
}

}  // namespace
}  // namespace quillon::routing
