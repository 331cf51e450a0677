#include "routing/split_routes.h"

#include <algorithm>
#include <unordered_set>

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

platform::RoutePlan PlanSplitRoutes(const std::vector<PassEntry>& entries, const std::vector<Prefix>& own) {
  std::vector<std::vector<Prefix>> networks;
  std::vector<bool> prefixEntry;
  networks.reserve(entries.size());
  prefixEntry.reserve(entries.size());
  std::unordered_set<std::uint64_t> asked;
  for (const PassEntry& p : entries) {
    Prefix prefix;
    prefixEntry.push_back(KindOf(p.entry.destination, &prefix) == DestinationKind::Prefix);
    if (prefixEntry.back()) {
      const bool mine = std::any_of(own.begin(), own.end(), [&](const Prefix& o) { return o.Overlaps(prefix); });
      networks.push_back(platform::IsRoutablePrefix(prefix) && !mine ? std::vector<Prefix>{prefix} : std::vector<Prefix>{});
    } else {
      networks.push_back(RoutedNetworks(p.answer, own));
    }
    if (p.listed && RoutesThroughLine(p.entry)) {
      for (const Prefix& n : networks.back()) asked.insert(Key(n));
    }
  }
  platform::RoutePlan plan;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PassEntry& p = entries[i];
    const platform::Ipv4 gateway =
        p.listed && RoutesThroughLine(p.entry) ? platform::ParseIpv4(p.entry.line).value_or(0) : 0;
    for (const Prefix& n : networks[i]) {
      if (gateway != 0 || asked.count(Key(n)) == 0) plan.routes.push_back({n, gateway, prefixEntry[i]});
    }
  }
  return plan;
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
  const bool lookups = kind == Pass::Full || !keeps;
  const Clock::time_point now = Clock::now();
  std::vector<PassEntry> pass;
  std::vector<std::string> asked;      // the destinations looked up in this pass
  std::vector<std::size_t> askedFor;   // their places in `pass`
  std::vector<bool> fresh;             // the entry's answer is this pass's (or it needs none)
  std::unordered_map<std::string, Kept> kept;
  for (SplitEntry& e : store_.Entries()) {
    if (HoldsBar(e) || !platform::IsSafeDestination(e.destination)) continue;
    const DestinationKind destinationKind = KindOf(e.destination);
    if (destinationKind == DestinationKind::Refused) continue;
    if (destinationKind == DestinationKind::Prefix) {
      fresh.push_back(true);  // routed as it stands, every pass
      pass.push_back({std::move(e), {}, true});
      continue;
    }
    fresh.push_back(false);
    const auto found = kept_.find(e.destination);
    const bool known = found != kept_.end();
    if (known) kept.insert(kept_.extract(found));
    if (lookups && (!keeps || !known || kept[e.destination].expires <= now)) {
      askedFor.push_back(pass.size());
      asked.push_back(e.destination);
    }
    pass.push_back({std::move(e), {}, true});
  }
  kept_ = std::move(kept);  // the answers of entries no longer listed go
  if (pass.empty()) return {};

  const std::vector<Lookup> answers =
      asked.empty() ? std::vector<Lookup>()
                    : sys_.LookupHosts(asked, ResolveLog(), [&](std::size_t i) {
                        if (progress) progress(asked[i]);
                      });
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const Lookup& a = answers[i];
    PassEntry& p = pass[askedFor[i]];
    if (!a.started) continue;
    fresh[askedFor[i]] = true;
    p.answer = a;
    if (!keeps) continue;
    if (a.answered && !a.addresses.empty()) {
      const auto ttl = a.ttl == 0 ? Clock::duration::zero() : std::max<Clock::duration>(std::chrono::seconds(a.ttl), kAnswerFloor);
      kept_[p.entry.destination] = {a, now + ttl};
    } else if (const auto k = kept_.find(p.entry.destination); k != kept_.end()) {
      // The last good answer's routes stay; it is asked again next time.
      p.answer = k->second.answer;
      k->second.expires = now;
    }
  }
  // An entry deleted while the lookups ran gets no line: it only takes
  // routes away, like a disabled one.
  std::unordered_set<std::string> listed;
  if (!asked.empty()) {
    for (std::string& name : store_.Names()) listed.insert(std::move(name));
  }
  std::vector<PassEntry> routed;
  routed.reserve(pass.size());
  for (std::size_t i = 0; i < pass.size(); ++i) {
    PassEntry& p = pass[i];
    if (!fresh[i]) {
      const auto k = kept_.find(p.entry.destination);
      if (k == kept_.end()) continue;  // nothing known of it yet: nothing to route
      p.answer = k->second.answer;
    }
    p.listed = asked.empty() || listed.count(p.entry.destination) > 0;
    routed.push_back(std::move(p));
  }
  const platform::RoutePlan plan = PlanSplitRoutes(routed, OwnNetworks(sys_));
  {
    std::lock_guard<std::mutex> hold(plannedLock_);
    planned_.clear();
    for (const platform::RouteRequest& r : plan.routes) {
      if (r.gateway != 0) planned_[Key(r.prefix)] = r.gateway;
    }
  }
  platform::RouteReport report;
  if (!plan.routes.empty()) report = sys_.ApplyRoutePlan(plan);
  if (progress) progress("");
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
