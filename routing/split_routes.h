// Lookups and routes of the split list: each stored destination is looked
// up, and the /24 network of each IPv4 address of its answer goes through
// the entry's line. A pass works out the whole route plan first and then
// hands it to the system in one piece.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
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

// Whether an entry's networks go through its line: it is enabled and its
// line is a gateway. Any other entry only takes routes away.
bool RoutesThroughLine(const SplitEntry& entry);

// One entry of a pass, with its answer.
struct PassEntry {
  SplitEntry entry;
  platform::Lookup answer;
  bool listed = true;  // still a section of the store when the routes are planned
};

// The route plan of a pass. An enabled entry with a valid line that is still
// listed asks for its networks through its line; where several ask for one
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
    NotLookedUp,     // the lookup could not be made
    NoAnswer,        // the answer holds no IPv4 address: nothing stored
    NotStored,       // the store could not be written
  } result = NotLookedUp;
  SplitEntry entry;  // the entry as stored (status "1")
};

// The checks of an add, in the order they are made; Stored when it may go on.
AddOutcome::Result CheckAddRequest(const AddRequest& request);

// The routing of the split list: the routing lock around every pass and
// every lookup of the add.
class SplitRouter {
 public:
  SplitRouter(platform::System& sys, SplitStore& store);

  // Hears the destination whose lookup or routes are being made, and "" at
  // the end of a run.
  using Progress = std::function<void(const std::string& destination)>;

  // Looks up and routes every entry of the store, one run at a time. An
  // entry whose fields hold "|", or whose destination may not reach a
  // lookup, is skipped. The networks of the machine's own addresses are
  // never touched. All lookups come before any route.
  platform::RouteReport RouteAllEntries(const Progress& progress = {});

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

  platform::System& sys_;
  SplitStore& store_;
  std::mutex lock_;  // the routing lock
  std::atomic<int> routing_{0};
};

}  // namespace quillon::routing
