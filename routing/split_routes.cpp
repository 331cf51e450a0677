#include "routing/split_routes.h"

#include <algorithm>
#include <optional>
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

namespace {

// Whether a pass may route `network`: one the safety rules allow that holds
// none of the machine's own networks.
bool MayRoute(const Prefix& network, const std::vector<Prefix>& own) {
  if (!platform::IsRoutablePrefix(network)) return false;
  return std::none_of(own.begin(), own.end(), [&](const Prefix& o) { return o.Overlaps(network); });
}

}  // namespace

std::vector<Prefix> RoutedNetworks(const Lookup& answer, const std::vector<Prefix>& own) {
  std::vector<Prefix> networks;
  for (const platform::Ipv4 address : answer.addresses) {
    const Prefix network = platform::Network24(address);
    if (MayRoute(network, own)) networks.push_back(network);
  }
  return networks;
}

DestinationKind KindOf(const std::string& destination, Prefix* prefix) {
  const platform::PrefixEntry entry = platform::ReadPrefixEntry(destination);
  if (prefix != nullptr) *prefix = entry.prefix;
  switch (entry.form) {
    case platform::PrefixEntry::Valid: return DestinationKind::Prefix;
    case platform::PrefixEntry::NotAPrefix: return DestinationKind::LookedUp;
    case platform::PrefixEntry::HostBitsSet:
    case platform::PrefixEntry::TooShort: break;
  }
  return DestinationKind::Refused;
}

bool RoutesThroughLine(const SplitEntry& entry) {
  return entry.status == kEnabled && platform::IsGatewayText(entry.line);
}

namespace {

// One entry as the planner sees it: its line's gateway when it routes
// through it (0: it only takes routes away), and its answer's addresses
// (each asks for its /24), or, for a prefix entry, the prefix itself.
struct Planned {
  platform::Ipv4 gateway;
  const platform::Ipv4* addresses;
  std::size_t count;
  bool isPrefix = false;
  Prefix prefix{};
};

// Calls `use` with each network an entry asks for.
template <typename Use>
void ForEachNetwork(const Planned& p, Use use) {
  if (p.isPrefix) {
    use(p.prefix);
    return;
  }
  for (std::size_t i = 0; i < p.count; ++i) use(platform::Network24(p.addresses[i]));
}

// PlanSplitRoutes on entries taken apart, with no copy of any answer.
platform::RoutePlan Plan(const std::vector<Planned>& entries, const std::vector<Prefix>& own) {
  std::size_t addresses = 0;
  bool removes = false;
  for (const Planned& p : entries) {
    addresses += p.isPrefix ? 1 : p.count;
    removes = removes || p.gateway == 0;
  }
  // What the entries that route ask for: needed only when some entry
  // takes routes away.
  std::unordered_set<std::uint64_t> asked;
  if (removes) {
    for (const Planned& p : entries) {
      if (p.gateway == 0) continue;
      ForEachNetwork(p, [&](const Prefix& n) { asked.insert(Key(n)); });
    }
  }
  platform::RoutePlan plan;
  plan.routes.reserve(addresses);
  for (const Planned& p : entries) {
    ForEachNetwork(p, [&](const Prefix& n) {
      if (!MayRoute(n, own)) return;
      if (p.gateway != 0 || asked.count(Key(n)) == 0) plan.routes.push_back({n, p.gateway, p.isPrefix});
    });
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
    const platform::Ipv4 gateway = RoutesThroughLine(e) ? platform::ParseIpv4(e.line).value_or(0) : 0;
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
  for (const PassEntry& p : entries) {
    Planned one{p.listed ? lines.Of(p.entry) : 0, p.answer.addresses.data(), p.answer.addresses.size()};
    one.isPrefix = KindOf(p.entry.destination, &one.prefix) == DestinationKind::Prefix;
    planned.push_back(one);
  }
  return Plan(planned, own);
}

AddOutcome CheckAddRequest(const AddRequest& r) {
  AddOutcome outcome;
  outcome.result = AddOutcome::Stored;
  const platform::PrefixEntry prefix = platform::ReadPrefixEntry(r.destination);
  if (r.line.empty()) {
    outcome.result = AddOutcome::NoLine;
  } else if (r.destination.empty()) {
    outcome.result = AddOutcome::NoDestination;
  } else if (!platform::IsSafeDestination(r.destination)) {
    outcome.result = AddOutcome::BadDestination;
  } else if (prefix.form == platform::PrefixEntry::HostBitsSet) {
    outcome.result = AddOutcome::PrefixHostBits;
    outcome.meant = platform::PrefixText(prefix.prefix);
  } else if (prefix.form == platform::PrefixEntry::TooShort) {
    outcome.result = AddOutcome::PrefixTooShort;
  } else if (prefix.form == platform::PrefixEntry::Valid && !platform::IsRoutablePrefix(prefix.prefix)) {
    outcome.result = AddOutcome::PrefixNotRoutable;
  } else if (!platform::IsGatewayText(r.line)) {
    outcome.result = AddOutcome::BadLine;
  }
  return outcome;
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
  std::vector<Prefix> own;
  // The plan, made in a scope of its own: what it takes to make it (the
  // store as read, the lookups' answers) is gone before the plan goes to
  // the system.
  std::optional<platform::RoutePlan> made = [&]() -> std::optional<platform::RoutePlan> {
    // The entries of the pass, each by its place: its destination (in
    // `names`), the gateway of its line (0: it only takes routes away), its
    // kept answer and, for a prefix entry, its prefix; and the destinations
    // looked up with their places. Prefix entries are routed as they stand:
    // nothing is looked up or kept. The entries as read go before the
    // lookups: what a place keeps of one is a few bytes.
    NameList names;
    std::vector<platform::Ipv4> lineOf;
    std::vector<std::size_t> keptOf;
    std::vector<Prefix> prefixOf;  // length 0: looked up
    std::vector<std::string> asked;
    std::vector<std::size_t> askedFor;
    {
      std::vector<SplitEntry> entries = store_.Entries();
      names.Reserve(entries.size());
      lineOf.reserve(entries.size());
      keptOf.reserve(entries.size());
      prefixOf.reserve(entries.size());
      LineGateways lines;
      for (const SplitEntry& e : entries) {
        if (HoldsBar(e) || !platform::IsSafeDestination(e.destination)) continue;
        Prefix prefix;
        const DestinationKind destinationKind = KindOf(e.destination, &prefix);
        if (destinationKind == DestinationKind::Refused) continue;
        std::size_t k = KeptAnswers::kNone;
        if (destinationKind == DestinationKind::LookedUp) {
          k = keeps ? kept_.Find(e.destination) : KeptAnswers::kNone;
          if (lookups && (!keeps || k == KeptAnswers::kNone || kept_.Expires(k) <= now)) {
            askedFor.push_back(lineOf.size());
            asked.push_back(e.destination);
          }
          prefix = {0, 0};
        }
        names.Add(e.destination);
        lineOf.push_back(lines.Of(e));
        keptOf.push_back(k);
        prefixOf.push_back(prefix);
      }
    }
    const std::size_t count = lineOf.size();
    if (count == 0) {
      kept_ = {};  // the answers of entries no longer listed go
      return std::nullopt;
    }

    const std::vector<Lookup> answers =
        asked.empty() ? std::vector<Lookup>()
                      : sys_.LookupHosts(asked, ResolveLog(), [&](std::size_t i) {
                          if (progress) progress(asked[i]);
                        });
    std::vector<const Lookup*> answerOf(count, nullptr);  // a lookup of this pass that started
    for (std::size_t i = 0; i < answers.size(); ++i) {
      if (answers[i].started) answerOf[askedFor[i]] = &answers[i];
    }
    // The names asked are needed no more: their room serves what follows.
    const bool lookedUp = !asked.empty();
    std::vector<std::string>().swap(asked);
    // The answers kept from now on, in the order of this pass: a good fresh
    // answer for its TTL (at least the period; a TTL of 0 is asked again at
    // the next pass); after a failed or empty lookup, the last good answer,
    // asked again next time. The answers of entries no longer listed go.
    // Where the system keeps no answer, the fresh answers serve this pass.
    std::vector<std::size_t> keptNow(count, KeptAnswers::kNone);
    if (keeps) {
      KeptAnswers kept;
      for (std::size_t p = 0; p < count; ++p) {
        const std::string_view name = names[p];
        const Lookup* a = answerOf[p];
        if (a != nullptr && a->answered && !a->addresses.empty()) {
          const auto ttl = a->ttl == 0 ? Clock::duration::zero()
                                       : std::max<Clock::duration>(std::chrono::seconds(a->ttl), kAnswerFloor);
          keptNow[p] = kept.Size();
          kept.Add(name, a->addresses.data(), a->addresses.size(), now + ttl);
        } else if (const std::size_t k = keptOf[p]; k != KeptAnswers::kNone) {
          keptNow[p] = kept.Size();
          kept.Add(name, kept_.Addresses(k), kept_.Count(k), a != nullptr ? now : kept_.Expires(k));
        }
      }
      kept_ = std::move(kept);
    }
    // An entry deleted while the lookups ran gets no line: it only takes
    // routes away, like a disabled one. Where the store is as it was read
    // (no write through its object, the file's bytes the same) every entry
    // is still listed, and its names are not read again.
    std::vector<std::string> listedNames;
    std::unordered_set<std::string_view> listed;
    const bool checkListed =
        lookedUp && !(keeps && store_.Revision() == revision && store_.FileDigest() == digest);
    if (checkListed) {
      listedNames = store_.Names();
      listed.reserve(listedNames.size());
      for (const std::string& name : listedNames) listed.insert(name);
    }
    std::vector<Planned> planned;
    planned.reserve(count);
    // The next full pass looks something up once the first kept answer
    // expires; at once when an entry has no answer kept.
    lookupDue_ = Clock::time_point::max();
    for (std::size_t p = 0; p < count; ++p) {
      const platform::Ipv4 gateway = !checkListed || listed.count(names[p]) > 0 ? lineOf[p] : 0;
      if (prefixOf[p].length != 0) {
        planned.push_back({gateway, nullptr, 0, true, prefixOf[p]});
        continue;
      }
      if (const std::size_t k = keptNow[p]; k != KeptAnswers::kNone) {
        lookupDue_ = std::min(lookupDue_, kept_.Expires(k));
        planned.push_back({gateway, kept_.Addresses(k), kept_.Count(k)});
        continue;
      }
      lookupDue_ = now;
      // A fresh answer without an address routes nothing; an entry with no
      // answer at all is not known yet: nothing to route.
      if (const Lookup* a = answerOf[p]; a != nullptr) {
        planned.push_back({gateway, a->addresses.data(), a->addresses.size()});
      }
    }
    own = OwnNetworks(sys_);
    return Plan(planned, own);
  }();
  if (!made) {
    lastPlanned_ = false;
    return {};
  }
  const platform::RouteReport report = Apply(std::move(*made), std::move(own), revision, digest);
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
    // The gateway of the last request that routes each prefix, sorted by
    // prefix (a flat array: 40,000 networks take half a megabyte).
    std::vector<std::pair<std::uint64_t, platform::Ipv4>> asked;
    asked.reserve(plan.routes.size());
    for (const platform::RouteRequest& r : plan.routes) {
      if (r.gateway != 0) asked.emplace_back(Key(r.prefix), r.gateway);
    }
    std::stable_sort(asked.begin(), asked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    planned_.clear();
    for (std::size_t i = 0; i < asked.size(); ++i) {
      const bool last = i + 1 == asked.size() || asked[i + 1].first != asked[i].first;
      if (last) planned_.push_back(asked[i]);
    }
    planned_.shrink_to_fit();
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

void SplitRouter::KeptAnswers::Add(std::string_view name, const platform::Ipv4* addresses, std::size_t count,
                                   Clock::time_point expires) {
  names_.Add(name);
  addresses_.insert(addresses_.end(), addresses, addresses + count);
  addressEnd_.push_back(static_cast<std::uint32_t>(addresses_.size()));
  expires_.push_back(expires);
}

std::size_t SplitRouter::KeptAnswers::Find(std::string_view name) {
  if (next_ < Size() && Name(next_) == name) return next_++;
  if (index_.empty() && Size() > 0) {
    index_.reserve(Size());
    for (std::size_t i = 0; i < Size(); ++i) index_.emplace(Name(i), static_cast<std::uint32_t>(i));
  }
  const auto found = index_.find(name);
  if (found == index_.end()) return kNone;
  next_ = found->second + 1;
  return found->second;
}

bool SplitRouter::CallsForRoutePass(const platform::NetworkEvent& e) const {
  using Kind = platform::NetworkEvent::Kind;
  switch (e.kind) {
    case Kind::LinkUp:
    case Kind::AddressAdded: return true;
    case Kind::RouteAdded: return e.prefix.length == 0 && e.gateway != 0 && e.protocol != platform::kRouteProtocol;
    case Kind::RouteDeleted: {
      std::lock_guard<std::mutex> hold(plannedLock_);
      const auto it = std::lower_bound(planned_.begin(), planned_.end(), Key(e.prefix),
                                       [](const auto& p, std::uint64_t key) { return p.first < key; });
      return it != planned_.end() && it->first == Key(e.prefix) && it->second == e.gateway;
    }
  }
  return false;
}

AddOutcome SplitRouter::AddEntry(const AddRequest& request, const std::function<void(const SplitEntry&)>& stored) {
  AddOutcome outcome = CheckAddRequest(request);
  if (outcome.result != AddOutcome::Stored) return outcome;
  outcome.entry = {request.destination, request.line, kEnabled, request.note};
  // A prefix is routed as it stands: there is nothing to look up.
  if (KindOf(request.destination) != DestinationKind::Prefix) {
    Lookup answer;
    {
      std::lock_guard<std::mutex> hold(lock_);
      answer = sys_.LookupHost(request.destination, ResolveLog(), false);
    }
    if (!answer.started) {
      outcome.result = AddOutcome::NotLookedUp;
      return outcome;
    }
    if (answer.addresses.empty()) {
      outcome.result = AddOutcome::NoAnswer;
      return outcome;
    }
  }
  if (!store_.Write(outcome.entry, [&] {
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
