#include "lines/lines.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_system.h"

namespace quillon::lines {
namespace {

using platform::FakeSystem;

LineInfo Adapter(const std::string& name, const std::string& gw, const std::string& ip = "10.0.0.2") {
  return {name, "desc " + name, "", ip, "255.255.255.0", gw};
}

TEST(FindLineByGateway, ReturnsFirstMatchWithItsConnectionName) {
  FakeSystem sys;
  sys.adapters = {Adapter("a", "192.0.2.1"), Adapter("b", "198.51.100.1"), Adapter("c", "198.51.100.1")};
  sys.connectionNames = {{"a", "以太网"}, {"b", "WLAN"}, {"c", "以太网 2"}};
  const LineInfo found = FindLineByGateway(sys, "198.51.100.1");
  EXPECT_EQ(found.AdapterName, "b");
  EXPECT_EQ(found.ConnectionName, "WLAN");
  EXPECT_EQ(found.Gateway, "198.51.100.1");
}

TEST(LineDirectory, AnswersAsFindLineByGatewayWithOneReadOfTheAdapters) {
  FakeSystem sys;
  sys.adapters = {Adapter("a", ""), Adapter("b", "198.51.100.1"), Adapter("c", "198.51.100.1"), Adapter("d", "")};
  sys.connectionNames = {{"a", "甲"}, {"b", "乙"}, {"c", "丙"}, {"d", "丁"}};
  LineDirectory lines(sys);
  for (const char* gw : {"198.51.100.1", "", "203.0.113.1", "198.51.100.1", "203.0.113.9"}) {
    EXPECT_EQ(lines.ConnectionNameOf(gw), FindLineByGateway(sys, gw).ConnectionName) << gw;
  }
  sys.calls.clear();
  LineDirectory again(sys);
  for (int i = 0; i < 3; ++i) again.ConnectionNameOf("198.51.100.1");
  EXPECT_EQ(sys.calls, (std::vector<std::string>{"ListAdapters", "ConnectionName b"}));
  sys.adapters.clear();
  EXPECT_EQ(LineDirectory(sys).ConnectionNameOf("198.51.100.1"), "");
}

TEST(FindLineByGateway, WithoutMatchReturnsTheLastAdapter) {
  FakeSystem sys;
  sys.adapters = {Adapter("a", "192.0.2.1"), Adapter("b", "198.51.100.1")};
  sys.connectionNames = {{"a", "以太网"}, {"b", "WLAN"}};
  const LineInfo found = FindLineByGateway(sys, "203.0.113.1");
  EXPECT_EQ(found.AdapterName, "b");
  EXPECT_EQ(found.ConnectionName, "WLAN");
  // The registry (connection name) is read for every adapter visited.
  EXPECT_EQ(std::count(sys.calls.begin(), sys.calls.end(), "ConnectionName a"), 1);
}

TEST(FindLineByGateway, EmptyArgumentMatchesTheFirstAdapterWithoutGateway) {
  FakeSystem sys;
  sys.adapters = {Adapter("a", "192.0.2.1"), Adapter("nogw", ""), Adapter("c", "")};
  EXPECT_EQ(FindLineByGateway(sys, "").AdapterName, "nogw");
  sys.adapters = {Adapter("a", "192.0.2.1"), Adapter("b", "198.51.100.1")};
  EXPECT_EQ(FindLineByGateway(sys, "").AdapterName, "b");
}

TEST(FindLineByGateway, NoAdaptersGiveTheEmptyRecord) {
  FakeSystem sys;
  EXPECT_EQ(FindLineByGateway(sys, "192.0.2.1"), LineInfo{});
}

TEST(LineDetails, OneBlockPerAdapterOfTheLineByteForByte) {
  FakeSystem sys;
  sys.adapters = {Adapter("a", "192.0.2.1", "192.0.2.2"), Adapter("b", "198.51.100.1", "198.51.100.2"),
                  Adapter("c", "192.0.2.1", "192.0.2.3")};
  sys.connectionNames = {{"a", "以太网"}, {"b", "WLAN"}, {"c", "以太网 2"}};
  EXPECT_EQ(LineDetails(sys, "198.51.100.1"),
            "网关IP：198.51.100.1\r\n本地IP：198.51.100.2\r\n子网掩码：255.255.255.0\r\n"
            "线路名称：WLAN\r\n线路描述：desc b");
  // Two adapters on one gateway: their blocks run together, both with the
  // first one's connection name.
  EXPECT_EQ(LineDetails(sys, "192.0.2.1"),
            "网关IP：192.0.2.1\r\n本地IP：192.0.2.2\r\n子网掩码：255.255.255.0\r\n线路名称：以太网\r\n"
            "线路描述：desc a"
            "网关IP：192.0.2.1\r\n本地IP：192.0.2.3\r\n子网掩码：255.255.255.0\r\n线路名称：以太网\r\n"
            "线路描述：desc c");
  EXPECT_EQ(LineDetails(sys, "203.0.113.1"), "");
}

TEST(DiscoverGateways, SplitsTheGatewayTextInOrder) {
  FakeSystem sys;
  sys.gatewayText = "192.0.2.1;fe80::1;192.0.2.1;";
  EXPECT_EQ(DiscoverGateways(sys), (std::vector<std::string>{"192.0.2.1", "fe80::1", "192.0.2.1"}));
  sys.gatewayText = "";
  EXPECT_TRUE(DiscoverGateways(sys).empty());
}

}  // namespace
}  // namespace quillon::lines
