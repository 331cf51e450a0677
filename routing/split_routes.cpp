#include "routing/split_routes.h"

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

bool RoutesThroughLine(const SplitEntry& entry) {
  return entry.status == kEnabled && platform::IsGatewayText(entry.line);
}

platform::RoutePlan PlanSplitRoutes(const std::vector<PassEntry>& entries, const std::vector<Prefix>& own) {
  std::vector<std::vector<Prefix>> networks;
  networks.reserve(entries.size());
  std::unordered_set<std::uint64_t> asked;
  for (const PassEntry& p : entries) {
    networks.push_back(RoutedNetworks(p.answer, own));
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
      if (gateway != 0 || asked.count(Key(n)) == 0) plan.routes.push_back({n, gateway, false});
    }
  }
  return plan;
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

platform::RouteReport SplitRouter::RouteAllEntries(const Progress& progress) {
  std::lock_guard<std::mutex> hold(lock_);
  ++routing_;
  struct Done {
    std::atomic<int>& count;
    ~Done() { --count; }
  } done{routing_};

  std::vector<PassEntry> pass;
  std::vector<std::string> destinations;
  for (SplitEntry& e : store_.Entries()) {
    if (HoldsBar(e) || !platform::IsSafeDestination(e.destination)) continue;
    destinations.push_back(e.destination);
    pass.push_back({std::move(e), {}, true});
  }
  if (pass.empty()) return {};

  const std::vector<Lookup> answers = sys_.LookupHosts(destinations, ResolveLog(), [&](std::size_t i) {
    if (progress) progress(destinations[i]);
  });
  // An entry deleted while its lookup ran gets no line: it only takes routes
  // away, like a disabled one.
  const std::vector<std::string> names = store_.Names();
  const std::unordered_set<std::string> listed(names.begin(), names.end());
  std::vector<PassEntry> answered;
  answered.reserve(pass.size());
  for (std::size_t i = 0; i < pass.size(); ++i) {
    if (!answers[i].started) continue;
    pass[i].answer = answers[i];
    pass[i].listed = listed.count(pass[i].entry.destination) > 0;
    answered.push_back(std::move(pass[i]));
  }
  const platform::RoutePlan plan = PlanSplitRoutes(answered, OwnNetworks(sys_));
  platform::RouteReport report;
  if (!plan.routes.empty()) report = sys_.ApplyRoutePlan(plan);
  if (progress) progress("");
  return report;
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
