#include "routing/split_routes.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/safety.h"
#include "routing/config_paths.h"

namespace quillon::routing {

using platform::Lookup;
using platform::Prefix;
using platform::System;

namespace {

bool HoldsBar(const SplitEntry& e) {
  for (const std::string* field : {&e.destination, &e.line, &e.status, &e.note}) {
    if (field->find('|') != std::string::npos) return true;
  }
  return false;
}

std::uint64_t Key(const Prefix& p) { return std::uint64_t{p.network} << 8 | static_cast<unsigned>(p.length); }

}  // namespace

std::vector<Prefix> OwnNetworks(System& sys) {
  std::vector<Prefix> own;
  for (const auto& adapter : sys.ListAdapters()) {
    if (const auto address = platform::ParseIpv4(adapter.IpAddress)) own.push_back(platform::Network24(*address));
  }
  return own;
}

std::vector<Prefix> RoutedNetworks(const Lookup& answer, const std::vector<Prefix>& own) {
  std::vector<Prefix> networks;
  for (const platform::Ipv4 address : answer.addresses) {
    const Prefix network = platform::Network24(address);
    if (!platform::IsRoutablePrefix(network)) continue;
    bool mine = false;
    for (const Prefix& o : own) mine = mine || o.Overlaps(network);
    if (!mine) networks.push_back(network);
  }
  return networks;
}

bool RoutesThroughLine(const SplitEntry& entry) {
  return entry.status == kEnabled && platform::IsGatewayText(entry.line);
}

namespace {

// One entry as the planner sees it: its line's gateway when it routes
// through it (0: it only takes routes away), and its answer's addresses.
struct Planned {
  platform::Ipv4 gateway;
  const std::vector<platform::Ipv4>* addresses;
};

bool IsOwn(const Prefix& network, const std::vector<Prefix>& own) {
  for (const Prefix& o : own) {
    if (o.Overlaps(network)) return true;
  }
  return false;
}

// PlanSplitRoutes on entries taken apart, with no copy of any answer.
platform::RoutePlan Plan(const std::vector<Planned>& entries, const std::vector<Prefix>& own) {
  std::size_t addresses = 0;
  bool removes = false;
  for (const Planned& p : entries) {
    addresses += p.addresses->size();
    removes = removes || p.gateway == 0;
  }
  // What the entries that route ask for: needed only when some entry
  // takes routes away.
  std::unordered_set<std::uint64_t> asked;
  if (removes) {
    for (const Planned& p : entries) {
      if (p.gateway == 0) continue;
      for (const platform::Ipv4 a : *p.addresses) asked.insert(Key(platform::Network24(a)));
    }
  }
  platform::RoutePlan plan;
  plan.routes.reserve(addresses);
  for (const Planned& p : entries) {
    for (const platform::Ipv4 a : *p.addresses) {
      const Prefix n = platform::Network24(a);
      if (!platform::IsRoutablePrefix(n) || IsOwn(n, own)) continue;
      if (p.gateway != 0 || asked.count(Key(n)) == 0) plan.routes.push_back({n, p.gateway, false});
    }
  }
  return plan;
}

// The gateway of an entry that routes through its line, else 0. Lines are
// few: each text is read once a pass.
class LineGateways {
 public:
  platform::Ipv4 Of(const SplitEntry& e) {
    if (e.status != kEnabled) return 0;
    for (const auto& [text, gateway] : seen_) {
      if (text == e.line) return gateway;
    }
    const platform::Ipv4 gateway = platform::IsGatewayText(e.line) ? platform::ParseIpv4(e.line).value_or(0) : 0;
    seen_.emplace_back(e.line, gateway);
    return gateway;
  }

 private:
  std::vector<std::pair<std::string, platform::Ipv4>> seen_;
};

}  // namespace

platform::RoutePlan PlanSplitRoutes(const std::vector<PassEntry>& entries, const std::vector<Prefix>& own) {
  std::vector<Planned> planned;
  planned.reserve(entries.size());
  LineGateways lines;
  for (const PassEntry& p : entries) planned.push_back({p.listed ? lines.Of(p.entry) : 0, &p.answer.addresses});
  return Plan(planned, own);
}

AddOutcome::Result CheckAddRequest(const AddRequest& r) {
  if (r.line.empty()) return AddOutcome::NoLine;
  if (r.destination.empty()) return AddOutcome::NoDestination;
  if (!platform::IsSafeDestination(r.destination)) return AddOutcome::BadDestination;
  if (!platform::IsGatewayText(r.line)) return AddOutcome::BadLine;
  return AddOutcome::Stored;
}

SplitRouter::SplitRouter(System& sys, SplitStore& store) : sys_(sys), store_(store) {}

std::string SplitRouter::ResolveLog() const { return ConfigFile(sys_, kResolveLogName); }

platform::RouteReport SplitRouter::RouteAllEntries(const Progress& progress, Pass kind) {
  std::lock_guard<std::mutex> hold(lock_);
  ++routing_;
  struct Done {
    std::atomic<int>& count;
    ~Done() { --count; }
  } done{routing_};

  const bool keeps = sys_.KeepsAnswers();
  const Clock::time_point now = Clock::now();
  // Taken before the store is read: a change made meanwhile counts as one
  // after it.
  const std::uint64_t revision = store_.Revision();
  const SplitStore::Digest digest = keeps ? store_.FileDigest() : SplitStore::Digest{};
  if (keeps && lastPlanned_ && revision == lastRevision_ && digest == lastDigest_ &&
      (kind == Pass::RoutesOnly || now < lookupDue_)) {
    // Nothing this pass would plan differently: the last plan again.
    std::vector<Prefix> own = OwnNetworks(sys_);
    if (own == lastOwn_) {
      platform::RouteReport report;
      if (!lastPlan_.routes.empty()) report = sys_.ApplyRoutePlan(lastPlan_);
      if (progress) progress("");
      return report;
    }
  }

  const bool lookups = kind == Pass::Full || !keeps;
  const std::uint32_t pass = ++passes_;
  std::vector<SplitEntry> entries = store_.Entries();
  // The entries of the pass (positions in `entries`), with their kept
  // answers; the destinations looked up and their places in `used`.
  std::vector<std::size_t> used;
  std::vector<Kept*> keptOf;
  std::vector<std::string> asked;
  std::vector<std::size_t> askedFor;
  used.reserve(entries.size());
  keptOf.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const SplitEntry& e = entries[i];
    if (HoldsBar(e) || !platform::IsSafeDestination(e.destination)) continue;
    Kept* k = nullptr;
    if (keeps) {
      if (const auto found = kept_.find(e.destination); found != kept_.end()) {
        k = &found->second;
        k->listed = pass;
      }
    }
    if (lookups && (!keeps || k == nullptr || k->expires <= now)) {
      askedFor.push_back(used.size());
      asked.push_back(e.destination);
    }
    used.push_back(i);
    keptOf.push_back(k);
  }
  // The answers of entries no longer listed go (the others stay where they
  // are: keptOf points at them).
  std::erase_if(kept_, [pass](const auto& k) { return k.second.listed != pass; });
  if (used.empty()) {
    lastPlanned_ = false;
    return {};
  }

  const std::vector<Lookup> answers =
      asked.empty() ? std::vector<Lookup>()
                    : sys_.LookupHosts(asked, ResolveLog(), [&](std::size_t i) {
                        if (progress) progress(asked[i]);
                      });
  std::vector<const std::vector<platform::Ipv4>*> addressesOf(used.size(), nullptr);
  for (std::size_t p = 0; p < used.size(); ++p) {
    if (keptOf[p] != nullptr) addressesOf[p] = &keptOf[p]->addresses;
  }
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const Lookup& a = answers[i];
    const std::size_t p = askedFor[i];
    if (!a.started) continue;
    if (keeps && a.answered && !a.addresses.empty()) {
      const auto ttl = a.ttl == 0 ? Clock::duration::zero() : std::max<Clock::duration>(std::chrono::seconds(a.ttl), kAnswerFloor);
      Kept& k = kept_[asked[i]];  // references to the other answers stay valid
      k = {a.addresses, now + ttl, pass};
      keptOf[p] = &k;
      addressesOf[p] = &k.addresses;
    } else if (keeps && keptOf[p] != nullptr) {
      // The last good answer's routes stay; it is asked again next time.
      keptOf[p]->expires = now;
    } else {
      addressesOf[p] = &a.addresses;
    }
  }
  // An entry deleted while the lookups ran gets no line: it only takes
  // routes away, like a disabled one.
  std::vector<std::string> names;
  std::unordered_set<std::string_view> listed;
  if (!asked.empty()) {
    names = store_.Names();
    listed.reserve(names.size());
    for (const std::string& name : names) listed.insert(name);
  }
  std::vector<Planned> planned;
  planned.reserve(used.size());
  LineGateways lines;
  for (std::size_t p = 0; p < used.size(); ++p) {
    if (addressesOf[p] == nullptr) continue;  // nothing known of it yet: nothing to route
    const SplitEntry& e = entries[used[p]];
    const bool stillListed = asked.empty() || listed.count(e.destination) > 0;
    planned.push_back({stillListed ? lines.Of(e) : 0, addressesOf[p]});
  }
  // The next full pass looks something up once the first kept answer
  // expires; at once when an entry has no answer kept.
  lookupDue_ = Clock::time_point::max();
  for (const Kept* k : keptOf) lookupDue_ = std::min(lookupDue_, k != nullptr ? k->expires : now);
  std::vector<Prefix> own = OwnNetworks(sys_);
  platform::RoutePlan plan = Plan(planned, own);
  const platform::RouteReport report = Apply(std::move(plan), std::move(own), revision, digest);
  // The plan is kept for later passes only where the answers are.
  if (!keeps) {
    lastPlanned_ = false;
    lastPlan_ = {};
  }
  if (progress) progress("");
  return report;
}

platform::RouteReport SplitRouter::Apply(platform::RoutePlan plan, std::vector<Prefix> own, std::uint64_t revision,
                                         const SplitStore::Digest& digest) {
  if (!lastPlanned_ || plan.routes != lastPlan_.routes) {
    std::lock_guard<std::mutex> hold(plannedLock_);
    planned_.clear();
    for (const platform::RouteRequest& r : plan.routes) {
      if (r.gateway != 0) planned_[Key(r.prefix)] = r.gateway;
    }
  }
  platform::RouteReport report;
  if (!plan.routes.empty()) report = sys_.ApplyRoutePlan(plan);
  lastPlan_ = std::move(plan);
  lastOwn_ = std::move(own);
  lastRevision_ = revision;
  lastDigest_ = digest;
  lastPlanned_ = true;
  return report;
}

bool SplitRouter::CallsForRoutePass(const platform::NetworkEvent& e) const {
  using Kind = platform::NetworkEvent::Kind;
  switch (e.kind) {
    case Kind::LinkUp:
    case Kind::AddressAdded: return true;
    case Kind::RouteAdded: return e.prefix.length == 0 && e.gateway != 0 && e.protocol != platform::kRouteProtocol;
    case Kind::RouteDeleted: {
      std::lock_guard<std::mutex> hold(plannedLock_);
      const auto it = planned_.find(Key(e.prefix));
      return it != planned_.end() && it->second == e.gateway;
    }
  }
  return false;
}

AddOutcome SplitRouter::AddEntry(const AddRequest& request, const std::function<void(const SplitEntry&)>& stored) {
  AddOutcome outcome;
  outcome.result = CheckAddRequest(request);
  if (outcome.result != AddOutcome::Stored) return outcome;
  outcome.entry = {request.destination, request.line, kEnabled, request.note};
  Lookup answer;
  {
    std::lock_guard<std::mutex> hold(lock_);
    answer = sys_.LookupHost(request.destination, ResolveLog(), false);
  }
  if (!answer.started) {
    outcome.result = AddOutcome::NotLookedUp;
  } else if (answer.addresses.empty()) {
    outcome.result = AddOutcome::NoAnswer;
  } else if (!store_.Write(outcome.entry, [&] {
               if (stored) stored(outcome.entry);
             })) {
    outcome.result = AddOutcome::NotStored;
  }
  return outcome;
}

Lookup SplitRouter::LookUp(const std::string& destination) {
  std::lock_guard<std::mutex> hold(lock_);
  return sys_.LookupHost(destination, ResolveLog(), true);
}

}  // namespace quillon::routing
