#include "routing/split_routes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/fake/fake_home.h"
#include "platform/route_commands.h"

namespace quillon::routing {
namespace {

using platform::FakeHome;
using platform::Lookup;
using Texts = std::vector<std::string>;

Lookup Answered(const Texts& addresses) {
  Lookup l{true, true, {}, 0};
  for (const auto& a : addresses) l.addresses.push_back(platform::ParseIpv4(a).value());
  return l;
}

// The Windows commands a plan runs.
Texts Commands(const std::vector<PassEntry>& entries) {
  return platform::RoutePlanCommands(PlanSplitRoutes(entries, {platform::Network24(0xC0000202u)}));  // 192.0.2.0/24 is ours
}

TEST(PlanSplitRoutes, EachAnswerAddressInEntryOrderLeavingOutWhatMayNotBeRouted) {
  EXPECT_EQ(Commands({{{"multi.test", "198.51.100.1", "1", ""}, Answered({"198.18.1.5", "198.18.1.6", "198.18.2.7"})},
                      {{"odd.test", "203.0.113.1", "1", ""}, Answered({"0.0.0.7", "192.0.2.77", "224.1.1.1", "198.18.7.1"})},
                      {{"off.test", "203.0.113.1", "-1", ""}, Answered({"198.18.4.1"})},
                      {{"noline.test", "", "1", ""}, Answered({"198.18.5.1"})},
                      {{"badline.test", "203.0.113.1&calc", "1", ""}, Answered({"198.18.6.1"})}}),
            (Texts{"cmd /C route delete 198.18.1.0", "cmd /C route add 198.18.1.0 mask 255.255.255.0 198.51.100.1",
                   "cmd /C route delete 198.18.1.0", "cmd /C route add 198.18.1.0 mask 255.255.255.0 198.51.100.1",
                   "cmd /C route delete 198.18.2.0", "cmd /C route add 198.18.2.0 mask 255.255.255.0 198.51.100.1",
                   // 0.0.0.0, the machine's own network and multicast are never routed
                   "cmd /C route delete 198.18.7.0", "cmd /C route add 198.18.7.0 mask 255.255.255.0 203.0.113.1",
                   // disabled, without a line, with a line that is no gateway: deletes only
                   "cmd /C route delete 198.18.4.0", "cmd /C route delete 198.18.5.0",
                   "cmd /C route delete 198.18.6.0"}));
}

TEST(PlanSplitRoutes, AnEnabledEntryKeepsItsNetworkWhateverElseAnswersInIt) {
  // Two hosts in one /24: the enabled one's route stays, before or after
  // the disabled one, and a deleted entry takes away nothing that an
  // enabled one asks for. The later enabled entry decides the line.
  const auto on = [](const std::string& d, const std::string& line) {
    return PassEntry{{d, line, "1", ""}, Answered({"198.18.1.5"})};
  };
  PassEntry off{{"off.test", "192.0.2.1", "-1", ""}, Answered({"198.18.1.9"})};
  PassEntry gone{{"gone.test", "192.0.2.1", "1", ""}, Answered({"198.18.1.7"}), false};
  const Texts routed{"cmd /C route delete 198.18.1.0", "cmd /C route add 198.18.1.0 mask 255.255.255.0 198.51.100.1"};
  EXPECT_EQ(Commands({on("a.test", "198.51.100.1"), off, gone}), routed);
  EXPECT_EQ(Commands({off, gone, on("a.test", "198.51.100.1")}), routed);
  const auto last = Commands({on("a.test", "203.0.113.1"), off, on("b.test", "198.51.100.1")});
  EXPECT_EQ(last.back(), routed.back());
  // Alone, the disabled and the deleted entries take their networks' routes away.
  EXPECT_EQ(Commands({off, gone}), (Texts{"cmd /C route delete 198.18.1.0", "cmd /C route delete 198.18.1.0"}));
}

TEST(PlanSplitRoutes, APrefixEntryIsRoutedExactlyAndEnabledWinsPerPrefix) {
  const PassEntry wide{{"36.0.0.0/10", "198.51.100.1", "1", ""}, {}};
  const PassEntry off{{"36.0.0.0/10", "192.0.2.1", "-1", ""}, {}};
  const PassEntry own{{"192.0.2.0/25", "198.51.100.1", "1", ""}, {}};  // inside the machine's own network
  const PassEntry loop{{"127.0.0.0/8", "198.51.100.1", "1", ""}, {}};
  EXPECT_EQ(Commands({wide, off, own, loop}), (Texts{"cmd /C route delete 36.0.0.0 mask 255.192.0.0",
                                                     "cmd /C route add 36.0.0.0 mask 255.192.0.0 198.51.100.1"}));
  EXPECT_EQ(Commands({off}), Texts{"cmd /C route delete 36.0.0.0 mask 255.192.0.0"});
}

class RouteAllEntriesTest : public ::testing::Test {
 protected:
  FakeHome home;
  SplitStore store{SplitStore::Main(home.sys)};
  SplitRouter router{home.sys, store};
};

TEST_F(RouteAllEntriesTest, LooksEveryEntryUpOnceBeforeAnyRoute) {
  home.sys.Answer("a.test", {"198.18.1.5"});
  home.sys.Answer("b.test", {"198.18.2.5"});
  home.Entry("a.test", "198.51.100.1");
  home.Entry("b.test", "192.0.2.1");
  home.Entry("a.test", "192.0.2.1");  // a second section of that name: routed once
  Texts progress;
  router.RouteAllEntries([&](const std::string& d) { progress.push_back(d); });
  EXPECT_EQ(home.sys.lookedUp, (Texts{"a.test", "b.test"}));
  const auto& calls = home.sys.calls;
  const auto lastLookup = std::find_if(calls.rbegin(), calls.rend(), [](const std::string& c) {
    return c.rfind("LookupHost", 0) == 0;
  });
  const auto firstRoute = std::find_if(calls.begin(), calls.end(), [](const std::string& c) {
    return c.rfind("cmd /C route", 0) == 0;
  });
  EXPECT_LT(calls.rend() - lastLookup, firstRoute - calls.begin() + 1);
  EXPECT_EQ(home.sys.commands.size(), 4u);
  EXPECT_EQ(progress, (Texts{"a.test", "b.test", ""}));
}

TEST_F(RouteAllEntriesTest, AnEntryDeletedDuringItsLookupOnlyTakesRoutesAway) {
  home.sys.Answer("gone.test", {"198.18.3.5"});
  home.Entry("gone.test", "198.51.100.1");
  home.sys.onLookup = [&](const std::string&) { store.Remove("gone.test"); };
  router.RouteAllEntries();
  EXPECT_EQ(home.sys.commands, (Texts{"cmd /C route delete 198.18.3.0"}));
}

// Where answers are kept, whether the store changed meanwhile is judged by
// its writes and its bytes: a delete by this object or by another process.
TEST_F(RouteAllEntriesTest, WithKeptAnswersAnEntryDeletedDuringItsLookupOnlyTakesRoutesAway) {
  home.sys.keepsAnswers = true;
  home.sys.Answer("gone.test", {"198.18.3.5"});
  home.sys.Answer("stays.test", {"198.18.4.5"});
  SplitStore other = SplitStore::Main(home.sys);
  for (SplitStore* deleter : {&store, &other}) {
    home.Entry("gone.test", "198.51.100.1");
    home.Entry("stays.test", "198.51.100.1");
    home.sys.plans.clear();
    home.sys.onLookup = [&](const std::string& name) {
      if (name == "gone.test") deleter->Remove("gone.test");
    };
    router.RouteAllEntries();
    ASSERT_EQ(home.sys.plans.size(), 1u);
    // 198.18.3.0/24 taken away, 198.18.4.0/24 through 198.51.100.1.
    EXPECT_EQ(home.sys.plans[0].routes, (std::vector<platform::RouteRequest>{{{0xC6120300u, 24}, 0, false},
                                                                            {{0xC6120400u, 24}, 0xC6336401u, false}}));
    home.sys.onLookup = nullptr;
    store.Remove("stays.test");  // the next round lists both in the same order
  }
}

TEST_F(RouteAllEntriesTest, SkipsUnsafeEntriesLookupsThatDidNotStartAndAnEmptyStore) {
  router.RouteAllEntries();
  EXPECT_TRUE(home.sys.lookedUp.empty());
  EXPECT_TRUE(home.sys.plans.empty());
  home.sys.lookupsNotStarted = {"down.test"};
  home.Entry("a.test&echo x>pwned", "192.0.2.1");
  home.Entry("-d2", "192.0.2.1");
  home.Entry("bar.test", "192.0.2.1", "1", "a|b");  // a "|" in any field
  home.Entry("down.test", "192.0.2.1");
  router.RouteAllEntries();
  EXPECT_EQ(home.sys.lookedUp, Texts{"down.test"});
  EXPECT_TRUE(home.sys.commands.empty());
}

TEST_F(RouteAllEntriesTest, KeptAnswersSpareLookupsUntilTheirTtlPasses) {
  home.sys.keepsAnswers = true;
  home.sys.Answer("long.test", {"198.18.1.5"}, 600);
  home.sys.Answer("zero.test", {"198.18.2.5"}, 0);
  home.sys.Answer("gone.test", {"198.18.3.5"}, 600);
  home.Entry("long.test", FakeHome::kLine1);
  home.Entry("zero.test", FakeHome::kLine1);
  home.Entry("gone.test", FakeHome::kLine1);
  router.RouteAllEntries();
  EXPECT_EQ(home.sys.lookedUp, (Texts{"long.test", "zero.test", "gone.test"}));
  // The next full pass asks only for the answer whose TTL is 0; a failed
  // answer keeps the last good one's routes.
  home.sys.lookups["zero.test"] = {true, false, {}, 0};
  home.sys.lookedUp.clear();
  router.RouteAllEntries();
  EXPECT_EQ(home.sys.lookedUp, Texts{"zero.test"});
  EXPECT_EQ(home.sys.plans.back().routes.size(), 3u);
  // A routes-only pass asks nothing; an entry gone from the store is
  // forgotten with its answer, and looked up again once it is back.
  home.sys.lookedUp.clear();
  ASSERT_TRUE(store.Remove("gone.test"));
  router.RouteAllEntries({}, SplitRouter::Pass::RoutesOnly);
  EXPECT_TRUE(home.sys.lookedUp.empty());
  EXPECT_EQ(home.sys.plans.back().routes.size(), 2u);
  home.Entry("gone.test", FakeHome::kLine1);
  router.RouteAllEntries();
  EXPECT_EQ(home.sys.lookedUp, (Texts{"zero.test", "gone.test"}));
  // Where no answer is kept (Windows), every pass looks everything up.
  home.sys.keepsAnswers = false;
  home.sys.lookedUp.clear();
  router.RouteAllEntries({}, SplitRouter::Pass::RoutesOnly);
  EXPECT_EQ(home.sys.lookedUp.size(), 3u);
}

TEST_F(RouteAllEntriesTest, OnlyEventsThatCanTakeOrBringBackARouteCallForAPass) {
  using platform::NetworkEvent;
  home.sys.Answer("a.test", {"198.18.1.5"});
  home.Entry("a.test", FakeHome::kLine2);
  router.RouteAllEntries();
  const platform::Prefix routed = platform::Network24(0xC6120105u);
  const platform::Prefix any{0, 0};
  const platform::Ipv4 line = 0xC6336401u;
  EXPECT_TRUE(router.CallsForRoutePass({NetworkEvent::LinkUp, {}, 0, 0}));
  EXPECT_TRUE(router.CallsForRoutePass({NetworkEvent::AddressAdded, {}, 0, 0}));
  EXPECT_TRUE(router.CallsForRoutePass({NetworkEvent::RouteAdded, any, line, 3}));
  EXPECT_TRUE(router.CallsForRoutePass({NetworkEvent::RouteDeleted, routed, line, platform::kRouteProtocol}));
  // Quillon's own changes, and routes the pass does not hold, call for none.
  EXPECT_FALSE(router.CallsForRoutePass({NetworkEvent::RouteAdded, any, line, platform::kRouteProtocol}));
  EXPECT_FALSE(router.CallsForRoutePass({NetworkEvent::RouteAdded, routed, line, platform::kRouteProtocol}));
  EXPECT_FALSE(router.CallsForRoutePass({NetworkEvent::RouteDeleted, routed, 0xC0000201u, 3}));
  EXPECT_FALSE(router.CallsForRoutePass({NetworkEvent::RouteDeleted, platform::Network24(0xC6120605u), line, 77}));
}

TEST_F(RouteAllEntriesTest, PrefixEntriesNeedNoLookupAndMalformedOnesAreRefused) {
  const auto add = [&](const std::string& d) { return router.AddEntry({d, FakeHome::kLine1, ""}); };
  EXPECT_EQ(add("36.0.0.0/10").result, AddOutcome::Stored);
  const AddOutcome hostBits = add("36.1.2.3/10");
  EXPECT_EQ(hostBits.result, AddOutcome::PrefixHostBits);
  EXPECT_EQ(hostBits.meant, "36.0.0.0/10");
  EXPECT_EQ(add("10.0.0.0/7").result, AddOutcome::PrefixTooShort);
  EXPECT_EQ(add("224.0.0.0/8").result, AddOutcome::PrefixNotRoutable);
  EXPECT_EQ(home.Names(), Texts{"36.0.0.0/10"});
  // A refused form stored by hand is neither looked up nor routed.
  home.Entry("36.1.2.3/10", FakeHome::kLine1);
  router.RouteAllEntries();
  EXPECT_TRUE(home.sys.lookedUp.empty());
  ASSERT_EQ(home.sys.plans.size(), 1u);
  EXPECT_EQ(home.sys.plans[0].routes, (std::vector<platform::RouteRequest>{{{0x24000000u, 10}, 0xC0000201u, true}}));
}

TEST_F(RouteAllEntriesTest, AnAddStoresOnlyWhatAnsweredWithAnIPv4Address) {
  home.sys.Answer("a.test", {"198.18.1.5"});
  home.sys.lookups["v6.test"] = {true, true, {}, 0};
  home.sys.lookups["nosuch.test"] = {true, false, {}, 0};
  home.sys.lookupsNotStarted = {"down.test"};
  const auto add = [&](const std::string& d, const std::string& line = FakeHome::kLine2) {
    return router.AddEntry({d, line, "备注"}).result;
  };
  EXPECT_EQ(add("a.test"), AddOutcome::Stored);
  EXPECT_EQ(add("v6.test"), AddOutcome::NoAnswer);
  EXPECT_EQ(add("nosuch.test"), AddOutcome::NoAnswer);
  EXPECT_EQ(add("down.test"), AddOutcome::NotLookedUp);
  EXPECT_EQ(home.Names(), Texts{"a.test"});
  EXPECT_EQ(home.Value("a.test", "bz"), "备注");
  // The add's lookup deletes the resolve log; a pass's keeps it.
  EXPECT_NE(home.sys.calls.end(), std::find(home.sys.calls.begin(), home.sys.calls.end(),
                                            std::string("LookupHost a.test > ") + FakeHome::kLog + " (deleted)"));
  // Added again: enabled again, other values replaced.
  ASSERT_TRUE(store.SetStatus("a.test", "-1"));
  EXPECT_EQ(router.AddEntry({"a.test", FakeHome::kLine1, ""}).entry, (SplitEntry{"a.test", FakeHome::kLine1, "1", ""}));
  EXPECT_EQ(home.Value("a.test", "zt"), "1");
  // The checks, in order, before any lookup.
  home.sys.lookedUp.clear();
  EXPECT_EQ(add("a.test", ""), AddOutcome::NoLine);
  EXPECT_EQ(add(""), AddOutcome::NoDestination);
  EXPECT_EQ(add("a.test&calc"), AddOutcome::BadDestination);
  EXPECT_EQ(add("a.test", "192.0.2.1;calc"), AddOutcome::BadLine);
  EXPECT_TRUE(home.sys.lookedUp.empty());
  home.sys.failWrites = true;
  EXPECT_EQ(add("a.test"), AddOutcome::NotStored);
}

}  // namespace
}  // namespace quillon::routing
