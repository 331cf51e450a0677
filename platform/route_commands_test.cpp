#include "platform/route_commands.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quillon::platform {
namespace {

TEST(RouteCommands, DeleteDefaultRoutesIsOneFixedLine) {
  EXPECT_EQ(DeleteDefaultRoutesCommand(), "cmd /C route delete 0.0.0.0");
}

TEST(RouteCommands, AddDefaultRoutePrefixHasTwoBlanksAfterAdd) {
  // Counted by hand: "cmd /C route add" is 16, two blanks, "0.0.0.0" 7, " mask " 6,
  // "0.0.0.0" 7, the closing blank 1.
  ASSERT_EQ(std::strlen(kAddDefaultRoutePrefix), 39u);
  const std::string line = AddDefaultRouteCommand("192.0.2.1", "1");
  EXPECT_EQ(line, "cmd /C route add  0.0.0.0 mask 0.0.0.0 192.0.2.1 metric 1");
  EXPECT_EQ(line.substr(0, 39), kAddDefaultRoutePrefix);
  EXPECT_EQ(line.find("add  0.0.0.0"), 13u);
}

TEST(RouteCommands, AddDefaultRouteTakesGatewayAndMetricWhole) {
  EXPECT_EQ(AddDefaultRouteCommand("198.51.100.1", "100"),
            "cmd /C route add  0.0.0.0 mask 0.0.0.0 198.51.100.1 metric 100");
  // A stored metric with trailing letters goes into the command as it stands.
  EXPECT_EQ(AddDefaultRouteCommand("203.0.113.254", "120abc"),
            "cmd /C route add  0.0.0.0 mask 0.0.0.0 203.0.113.254 metric 120abc");
  // Empty parts leave the separating blanks in place.
  EXPECT_EQ(AddDefaultRouteCommand("", ""), "cmd /C route add  0.0.0.0 mask 0.0.0.0  metric ");
}

TEST(RouteCommands, LookupAndNetworkRouteLinesByteForByte) {
  EXPECT_EQ(LookupCommand("example.test", "C:\\Q\\分流器配置\\log.txt"),
            "cmd /C nslookup example.test >\"C:\\Q\\分流器配置\\log.txt");
  EXPECT_EQ(DeleteNetworkRouteCommand("198.18.1.0"), "cmd /C route delete 198.18.1.0");
  EXPECT_EQ(AddNetworkRouteCommand("198.18.1.0", "192.0.2.1"),
            "cmd /C route add 198.18.1.0 mask 255.255.255.0 192.0.2.1");
}

TEST(RouteCommands, APrefixEntryNamesItsMaskAndAnAddressKeepsItsLines) {
  RoutePlan plan;
  plan.routes = {{{0x24000000u, 10}, 0xC0000201u, true},   // 36.0.0.0/10 through 192.0.2.1
                 {{0xC6120100u, 24}, 0xC0000201u, true},   // a /24 written as a prefix entry
                 {{0xC6120500u, 32}, 0, true},             // taken away
                 {{0xC6120200u, 24}, 0xC6336401u, false}}; // the /24 of an answer address
  EXPECT_EQ(RoutePlanCommands(plan), (std::vector<std::string>{
                                         "cmd /C route delete 36.0.0.0 mask 255.192.0.0",
                                         "cmd /C route add 36.0.0.0 mask 255.192.0.0 192.0.2.1",
                                         "cmd /C route delete 198.18.1.0 mask 255.255.255.0",
                                         "cmd /C route add 198.18.1.0 mask 255.255.255.0 192.0.2.1",
                                         "cmd /C route delete 198.18.5.0 mask 255.255.255.255",
                                         "cmd /C route delete 198.18.2.0",
                                         "cmd /C route add 198.18.2.0 mask 255.255.255.0 198.51.100.1"}));
  // Nothing outside the rules reaches a command line.
  plan.routes = {{{0x7F000000u, 8}, 0xC0000201u, true}, {{0xC6120100u, 16}, 0xC0000201u, true},
                 {{0xC6120000u, 16}, 0xC6120000u + 0x20000000u, false}};
  EXPECT_EQ(RoutePlanCommands(plan), std::vector<std::string>{});
}

TEST(RouteCommands, ConnectionNamePathHasLiteralBackslashes) {
  const std::string path = ConnectionNameRegistryPath("{0A1B2C3D-0000-4000-8000-00112233AABB}");
  EXPECT_EQ(path,
            "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\"
            "{0A1B2C3D-0000-4000-8000-00112233AABB}\\Connection\\Name");
  // Key path and value name are split at the last backslash.
  EXPECT_EQ(path.substr(path.rfind('\\') + 1), "Name");
  EXPECT_EQ(path.find("\\\\"), std::string::npos);  // no doubled backslash anywhere
}

}  // namespace
}  // namespace quillon::platform
