// Lookups and routes of the split list: each stored destination is looked
// up, the IPv4 addresses of the lookup's answer are taken, and the /24
// network of each goes through the entry's line.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/system.h"
#include "platform/ui.h"
#include "routing/split_store.h"

namespace quillon::routing {

// The address pattern of the answer rules (Perl syntax).
inline constexpr char kAddressPattern[] =
    R"(((2(5[0-5]|[0-4]\d))|[0-1]?\d{1,2})(\.((2(5[0-5]|[0-4]\d))|[0-1]?\d{1,2})){3})";

struct AnswerAddresses {
  bool answered = false;                // the output (after the IP marker rule) holds an answer marker
  std::vector<std::string> addresses;   // matches of the address pattern in the answer, in order
  bool operator==(const AnswerAddresses&) const = default;
};

// The answer rules. When the destination holds an IPv4 address, the IP
// marker "输入IP名称" and the destination are appended to the output, so that
// address counts even when the lookup printed no answer. The answer marker is
// "名称" (the label the lookup tool prints in front of the answer's name; on
// an English system, where the output holds no "名称", the label "Name:").
// The answer is the text between its first and second occurrence (or the
// end); everything before it, the DNS server's own address included, is
// never used.
AnswerAddresses ExtractAnswerAddresses(const std::string& output, const std::string& destination);

// The /24 network of an address: its first three parts and ".0"; empty when
// the address does not split into four parts at ".".
std::string NetworkOf(const std::string& address);

// The /24 networks of the machine's own addresses: routing one of them
// through another line would cut this machine off its own network.
std::unordered_set<std::string> OwnNetworks(platform::System& sys);

// The networks that a pass routes for one lookup answer: the network of
// each answer address, in answer order (a network as often as its
// addresses), leaving out networks that are not routable (IsNetworkText)
// and the machine's own (`ownNetworks`).
std::vector<std::string> RoutedNetworks(const std::string& output, const std::string& destination,
                                        const std::unordered_set<std::string>& ownNetworks);

// The route requests of one destination: each of its RoutedNetworks goes
// through `line`, or loses its routes when `line` is empty.
void InstallRoutes(platform::System::RoutePass& pass, const std::string& output, const std::string& destination,
                   const std::string& line, const std::unordered_set<std::string>& ownNetworks);

// Looks the destination up with its output going to the resolve log; the
// output is the text up to its first NUL. Callers hold the routing lock.
platform::System::LookupAnswer LookupDestination(platform::System& sys, const std::string& destination);

// The routing of the split list: the routing lock, and the working list of
// the current run (each destination once, in store order).
class SplitRouter {
 public:
  SplitRouter(platform::System& sys, platform::Ui& ui);

  // Looks up and routes every entry of the store, one run at a time. An
  // entry whose fields hold "|", or whose destination fails the safety rule,
  // is skipped. An enabled entry with a valid line routes the networks of
  // its answer through the line; a disabled entry, or one whose line is not
  // a gateway, deletes their routes. The networks of the machine's own
  // addresses are never touched.
  platform::System::RouteChanges RouteAllEntries();

  // The add worker's lookup: under the routing lock, and the resolve log is
  // deleted afterwards.
  platform::System::LookupAnswer LookupForAdd(const std::string& destination);

  // Whether a RouteAllEntries run is going on now.
  bool Routing() const { return routing_ > 0; }

  // Empties the working list (the program's clean-up); never waits for a
  // run in progress.
  void Clear();

  // The working list of the last run.
  std::vector<SplitEntry> WorkingList();

  // At most this many lookups run at once where the system allows it.
  static constexpr int kConcurrentLookups = 32;

 private:
  platform::System& sys_;
  platform::Ui& ui_;
  std::mutex lock_;  // the routing lock
  std::vector<SplitEntry> workingList_;
  std::unordered_set<std::string> seen_;
  std::atomic<int> routing_{0};
};

}  // namespace quillon::routing
