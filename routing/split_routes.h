// Lookups and routes of the split list: each stored destination is looked
// up, and the /24 network of each IPv4 address of its answer goes through
// the entry's line. A pass works out the whole route plan first and then
// hands it to the system in one piece.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/system.h"
#include "routing/split_store.h"

namespace quillon::routing {

// The /24 networks of the machine's own addresses: routing one of them
// through another line would cut this machine off its own network.
std::vector<platform::Prefix> OwnNetworks(platform::System& sys);

// The networks a pass routes for one answer: the /24 of each address, in
// answer order (a network as often as its addresses), leaving out networks
// that may not be routed and the machine's own.
std::vector<platform::Prefix> RoutedNetworks(const platform::Lookup& answer, const std::vector<platform::Prefix>& own);

// How a pass takes a destination: looked up (a host name, an address, a URL
// around one), routed as the prefix it names (exactly A.B.C.D/N, 8 <= N
// <= 32, no host bits), or not at all (a prefix with host bits set, or
// shorter than /8).
enum class DestinationKind { LookedUp, Prefix, Refused };
DestinationKind KindOf(const std::string& destination, platform::Prefix* prefix = nullptr);

// Whether an entry's networks go through its line: it is enabled and its
// line is a gateway. Any other entry only takes routes away.
bool RoutesThroughLine(const SplitEntry& entry);

// One entry of a pass, with its answer.
struct PassEntry {
  SplitEntry entry;
  platform::Lookup answer;
  bool listed = true;  // still a section of the store when the routes are planned
};

// The route plan of a pass. A prefix entry's network is its prefix (unless
// it may not be routed or holds the machine's own network); any other
// entry's networks are those of its answer. An enabled entry with a valid
// line that is still listed asks for its networks through its line; where several ask for one
// network, the later entry wins. Every other entry (disabled, no valid line,
// deleted since the pass began) removes only networks that no entry of the
// pass asks for. The requests keep the entries' order, one per answer
// address.
platform::RoutePlan PlanSplitRoutes(const std::vector<PassEntry>& entries, const std::vector<platform::Prefix>& own);

// A destination to add, as the user typed it.
struct AddRequest {
  std::string destination;
  std::string line;
  std::string note;
};

struct AddOutcome {
  enum Result {
    Stored,          // looked up, answered with an IPv4 address, stored with status "1"
    NoLine,          // no line chosen
    NoDestination,   // an empty destination (the lookup tool would wait for input)
    BadDestination,  // a destination that may not reach a lookup
    BadLine,         // a line that is no gateway's address
    PrefixHostBits,  // A.B.C.D/N with host bits set: `meant` is the prefix it probably means
    PrefixTooShort,  // A.B.C.D/N with N < 8
    PrefixNotRoutable,  // a prefix in 0.0.0.0/8, 127.0.0.0/8 or 224.0.0.0 and above
    NotLookedUp,     // the lookup could not be made
    NoAnswer,        // the answer holds no IPv4 address: nothing stored
    NotStored,       // the store could not be written
  } result = NotLookedUp;
  SplitEntry entry;  // the entry as stored (status "1")
  std::string meant;  // PrefixHostBits: the prefix without its host bits
};

// The checks of an add, in the order they are made; Stored when it may go on.
AddOutcome CheckAddRequest(const AddRequest& request);

// The routing of the split list: the routing lock around every pass and
// every lookup of the add, the answers kept for their TTL where the system
// gives one, and the routes the last pass asked for.
class SplitRouter {
 public:
  using Clock = std::chrono::steady_clock;
  // The pass period, the shortest time an answer is kept.
  static constexpr std::chrono::seconds kAnswerFloor{60};

  SplitRouter(platform::System& sys, SplitStore& store);

  // Hears the destination whose lookup or routes are being made, and "" at
  // the end of a run.
  using Progress = std::function<void(const std::string& destination)>;

  // Where the system keeps answers, a pass that would plan what the last
  // one planned (the store's file holds the same bytes and nothing was
  // written through its object, the machine's own networks are the same,
  // and, for a full pass, no answer is due for a lookup) applies the last
  // plan again as it is, without reading the store.
  enum class Pass {
    Full,        // every entry whose answer expired is looked up, then every entry is routed
    RoutesOnly,  // every entry is routed from the kept answers, with no lookup (where none
                 // are kept, as on Windows, this is a full pass)
  };

  // Routes every entry of the store, one run at a time. An entry whose
  // fields hold "|", or whose destination may not reach a lookup, is
  // skipped. The networks of the machine's own addresses are never touched.
  // All lookups come before any route. Where the system keeps answers, an
  // answer is kept until its TTL has passed (at least kAnswerFloor; a TTL of
  // 0 is looked up at every full pass), and a failed or empty lookup keeps
  // the last good answer's routes and is tried again at the next pass.
  platform::RouteReport RouteAllEntries(const Progress& progress = {}, Pass pass = Pass::Full);

  // Whether an event of the network calls for a routes-only pass: a line's
  // link coming up, an address added, a default route through a gateway
  // appearing (not one of Quillon's own), or a route the last pass asked
  // for going away. Any thread.
  bool CallsForRoutePass(const platform::NetworkEvent& event) const;

  // The add: the checks, the lookup (under the routing lock; the resolve log
  // is deleted afterwards), and when the answer holds an IPv4 address the
  // entry stored; `stored` runs with it under the store's lock.
  AddOutcome AddEntry(const AddRequest& request, const std::function<void(const SplitEntry&)>& stored = {});

  // One lookup under the routing lock; the resolve log is kept.
  platform::Lookup LookUp(const std::string& destination);

  // Whether a RouteAllEntries run is going on now.
  bool Routing() const { return routing_ > 0; }

 private:
  std::string ResolveLog() const;

  // Names one after the other in one string, each found by its place.
  class NameList {
   public:
    std::size_t Size() const { return end_.size(); }
    void Reserve(std::size_t count) { end_.reserve(count); }
    void Add(std::string_view name) {
      text_.append(name);
      end_.push_back(static_cast<std::uint32_t>(text_.size()));
    }
    std::string_view operator[](std::size_t i) const {
      const std::size_t begin = i == 0 ? 0 : end_[i - 1];
      return std::string_view(text_).substr(begin, end_[i] - begin);
    }

   private:
    std::string text_;
    std::vector<std::uint32_t> end_;
  };

  // The answers kept between passes, in the order of the store when they
  // were last listed, in a few flat arrays (100,000 answers take about
  // 4 MB): the destinations one after the other, the addresses one after
  // the other, and per answer where they end and until when it is kept.
  class KeptAnswers {
   public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t Size() const { return expires_.size(); }
    std::string_view Name(std::size_t i) const { return names_[i]; }
    const platform::Ipv4* Addresses(std::size_t i) const { return addresses_.data() + (i == 0 ? 0 : addressEnd_[i - 1]); }
    std::size_t Count(std::size_t i) const { return addressEnd_[i] - (i == 0 ? 0 : addressEnd_[i - 1]); }
    Clock::time_point Expires(std::size_t i) const { return expires_[i]; }
    void Add(std::string_view name, const platform::Ipv4* addresses, std::size_t count, Clock::time_point expires);
    // The answer kept for `name`, kNone for none. Names asked in the
    // order they were added cost one comparison each.
    std::size_t Find(std::string_view name);

   private:
    NameList names_;
    std::vector<platform::Ipv4> addresses_;
    std::vector<std::uint32_t> addressEnd_;
    std::vector<Clock::time_point> expires_;
    std::size_t next_ = 0;                                   // where Find looks first
    std::unordered_map<std::string_view, std::uint32_t> index_;  // made on the first miss
  };

  // Hands the plan to the system and remembers it for routes-only passes
  // and for CallsForRoutePass.
  platform::RouteReport Apply(platform::RoutePlan plan, std::vector<platform::Prefix> own, std::uint64_t revision,
                              const SplitStore::Digest& digest);

  platform::System& sys_;
  SplitStore& store_;
  std::mutex lock_;  // the routing lock
  std::atomic<int> routing_{0};
  // Under lock_: the kept answers, the pass count, and the last plan with
  // what it was made from (the store's revision, the machine's networks).
  KeptAnswers kept_;
  platform::RoutePlan lastPlan_;
  std::vector<platform::Prefix> lastOwn_;
  std::uint64_t lastRevision_ = 0;
  SplitStore::Digest lastDigest_;
  Clock::time_point lookupDue_;  // the first expiry of the last pass's answers
  bool lastPlanned_ = false;
  mutable std::mutex plannedLock_;
  // The gateway the last pass asked for, per prefix (sorted by prefix).
  std::vector<std::pair<std::uint64_t, platform::Ipv4>> planned_;
};

}  // namespace quillon::routing
