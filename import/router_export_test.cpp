#include "import/router_export.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon::importing {
namespace {

using routing::SplitEntry;

constexpr char kLine1[] = "198.51.100.1";
constexpr char kLine2[] = "192.0.2.1";

TEST(RouterExport, WritesEachLinesNamesAndNetworksAndNothingUnchecked) {
  const RouterExport r = MakeRouterExport({
      {"video.example.test", kLine1, "1", "a note; never written"},
      {"Chat.Example.Test", kLine2, "1", ""},
      {"off.example.test", "203.0.113.1", "-1", ""},  // disabled: no line 3
      {"cdn.example.test", kLine1, "1", ""},
      {"198.18.4.4", kLine2, "1", ""},           // its /24
      {"198.18.64.0/18", kLine1, "1", ""},       // a prefix ...
      {"198.18.65.0/24", kLine2, "1", ""},       // ... and a longer one inside it on another line
      {"198.18.10.10", kLine1, "1", ""},         // two neighbours, joined
      {"198.18.11.0/24", kLine1, "1", ""},
      {"http://198.18.7.7:8080/x", kLine1, "1", ""},  // the /24 the machine routes
      {"VIDEO.example.test", kLine2, "1", ""},   // the later entry wins the name
      {"a.test/#inet#x", kLine1, "1", ""},       // skipped from here on
      {"evil.test\nnftset=/x/", kLine1, "1", ""},
      {"198.18.1.5/24", kLine1, "1", ""},
      {"127.0.0.1", kLine1, "1", ""},
      {"single", kLine1, "1", ""},
      {"ok.example.test", kLine1, "1", "a|b"},    // the machine's pass skips it too
      {"line.example.test", "10.0.0.01", "1", ""},  // no gateway: left out
  });
  EXPECT_EQ(r.lines, 2);
  EXPECT_EQ(r.names, 3);
  EXPECT_EQ(r.networks, 6);
  EXPECT_EQ(r.skipped, 5);

  const char* lineComments =
      "# Line 1: gateway 198.51.100.1, set line_1, mark 0x5101, table 5101.\n"
      "#   The router interface whose network holds 198.51.100.1 reaches it.\n"
      "# Line 2: gateway 192.0.2.1, set line_2, mark 0x5102, table 5102.\n"
      "#   The router interface whose network holds 192.0.2.1 reaches it.\n";
  EXPECT_EQ(r.files.dnsmasq,
            "# Quillon's split list for dnsmasq 2.87 or later, built with nftset.\n"
            "# Each answer that dnsmasq forwards for a name below, or for any name under\n"
            "# it, goes into the nftables set of the name's line (table inet quillon, made\n"
            "# by quillon.nft); answers it makes itself (hosts files, address=) fill no set.\n"
            "# Include this file in dnsmasq's configuration (conf-file= with its path, or a\n"
            "# copy in /etc/dnsmasq.d/) and restart dnsmasq.\n"
            "\n"
            "# Line 1: gateway 198.51.100.1, set line_1, mark 0x5101, table 5101.\n"
            "#   The router interface whose network holds 198.51.100.1 reaches it.\n"
            "nftset=/cdn.example.test/4#inet#quillon#line_1\n"
            "\n"
            "# Line 2: gateway 192.0.2.1, set line_2, mark 0x5102, table 5102.\n"
            "#   The router interface whose network holds 192.0.2.1 reaches it.\n"
            "nftset=/chat.example.test/4#inet#quillon#line_2\n"
            "nftset=/video.example.test/4#inet#quillon#line_2\n");
  EXPECT_EQ(r.files.nftables,
            std::string("#!/usr/sbin/nft -f\n"
                        "# Quillon's split list for nftables: the table inet quillon. Line N has the\n"
                        "# set line_N (its networks, and the addresses that dnsmasq puts in for its\n"
                        "# names), the firewall mark 0x5100+N and the routing table 5100+N, which\n"
                        "# quillon-router.sh sets up; marks 0x51xx and tables 51xx stay clear of the\n"
                        "# small values routers commonly use. Traffic the router forwards, and its own,\n"
                        "# to an address of a set gets that line's mark; an address in two sets gets\n"
                        "# the mark of the line with the higher number.\n"
                        "# Loading this file again replaces the whole table, and with it the addresses\n"
                        "# dnsmasq put in: restart dnsmasq afterwards to fill the sets again.\n"
                        "#\n") +
                lineComments +
                "\n"
                "table inet quillon\n"
                "delete table inet quillon\n"
                "\n"
                "table inet quillon {\n"
                "\tset line_1 {\n"
                "\t\ttype ipv4_addr\n"
                "\t\tflags interval\n"
                "\t\tauto-merge\n"
                "\t\telements = { 198.18.7.0/24, 198.18.10.0/23, 198.18.64.0/24, 198.18.66.0-198.18.127.255 }\n"
                "\t}\n"
                "\n"
                "\tset line_2 {\n"
                "\t\ttype ipv4_addr\n"
                "\t\tflags interval\n"
                "\t\tauto-merge\n"
                "\t\telements = { 198.18.4.0/24, 198.18.65.0/24 }\n"
                "\t}\n"
                "\n"
                "\tchain prerouting {\n"
                "\t\ttype filter hook prerouting priority mangle; policy accept;\n"
                "\t\tip daddr @line_1 counter meta mark set 0x5101\n"
                "\t\tip daddr @line_2 counter meta mark set 0x5102\n"
                "\t}\n"
                "\n"
                "\tchain output {\n"
                "\t\ttype route hook output priority mangle; policy accept;\n"
                "\t\tip daddr @line_1 counter meta mark set 0x5101\n"
                "\t\tip daddr @line_2 counter meta mark set 0x5102\n"
                "\t}\n"
                "}\n");
  // The script's own steps are the same for every list (the namespace test
  // runs them); what the list gives it is its line comments and LINES.
  EXPECT_EQ(r.files.script.rfind("#!/bin/sh\n", 0), 0u);
  EXPECT_NE(r.files.script.find(std::string("#\n") + lineComments + "\nset -u\n\n"), std::string::npos);
  EXPECT_NE(r.files.script.find("LINES='1 198.51.100.1 0x5101 5101\n2 192.0.2.1 0x5102 5102'\n"), std::string::npos);
  for (const std::string* file : {&r.files.dnsmasq, &r.files.nftables, &r.files.script}) {
    for (const char* hostile : {"a.test", "evil", "nftset=/x/", "10.0.0.01", "198.18.1.", "single", "note", "a|b"}) {
      EXPECT_EQ(file->find(hostile), std::string::npos) << hostile;
    }
  }
}

TEST(RouterExport, AnEmptyListStillGivesFilesThatLoad) {
  const RouterExport r = MakeRouterExport({{"a.example.test", kLine1, "-1", ""}});
  EXPECT_EQ(r.lines + r.names + r.networks + r.skipped, 0);
  EXPECT_NE(r.files.nftables.find("table inet quillon {\n\tchain prerouting {\n"), std::string::npos);
  EXPECT_NE(r.files.script.find("LINES=''\n"), std::string::npos);
}

TEST(RouterExport, LinesPastTheLastMarkAreSkipped) {
  std::vector<SplitEntry> entries;
  for (int i = 0; i <= kRouterLines; ++i) {
    entries.push_back({"n" + std::to_string(i) + ".example.test",
                       "10." + std::to_string(i / 250 + 1) + "." + std::to_string(i % 250 + 1) + ".1", "1", ""});
  }
  const RouterExport r = MakeRouterExport(entries);
  EXPECT_EQ(r.lines, kRouterLines);
  EXPECT_EQ(r.skipped, 1);
  EXPECT_NE(r.files.nftables.find("meta mark set 0x51ff\n"), std::string::npos);
  EXPECT_NE(r.files.script.find(" 0x51ff 5355'"), std::string::npos);
}

TEST(IsPlainDnsName, LettersDigitsHyphensInLabelsOfOneTo63Bytes) {
  const std::string label63(63, 'a');
  const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
  EXPECT_TRUE(IsPlainDnsName("a-1.Example.test"));
  EXPECT_TRUE(IsPlainDnsName(label63 + ".test"));
  EXPECT_TRUE(IsPlainDnsName(name253));
  EXPECT_TRUE(IsPlainDnsName("1.2.3.4a"));
  for (const std::string& bad :
       {std::string(64, 'a') + ".test", name253 + "b", std::string("test"), std::string("-a.test"),
        std::string("a-.test"), std::string("a..test"), std::string(".a.test"), std::string("a.test."),
        std::string("1.2.3.4"), std::string("a_b.test"), std::string("a.test:80"), std::string("a.test/x"),
        std::string("\xC3\xA4.test"), std::string("a.te st"), std::string("")}) {
    EXPECT_FALSE(IsPlainDnsName(bad)) << bad;
  }
}

}  // namespace
}  // namespace quillon::importing
