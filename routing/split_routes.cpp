#include "routing/split_routes.h"

#include <algorithm>
#include <thread>

#include "platform/safety.h"
#include "platform/text.h"
#include "routing/config_paths.h"

namespace quillon::routing {

using platform::Control;
using platform::System;

namespace {

constexpr char kIpMarker[] = "输入IP名称";
constexpr char kAnswerMarker[] = "名称";
constexpr char kEnglishAnswerMarker[] = "Name:";

bool HoldsBar(const SplitEntry& e) {
  for (const std::string* field : {&e.destination, &e.line, &e.status, &e.note}) {
    if (field->find('|') != std::string::npos) return true;
  }
  return false;
}

// Looks every destination up, up to SplitRouter::kConcurrentLookups at once.
std::vector<System::LookupAnswer> LookUpAtOnce(System& sys, const std::vector<const SplitEntry*>& entries) {
  std::vector<System::LookupAnswer> answers(entries.size());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < entries.size(); i = next++) answers[i] = LookupDestination(sys, entries[i]->destination);
  };
  const std::size_t count = std::min<std::size_t>(SplitRouter::kConcurrentLookups, entries.size());
  std::vector<std::thread> threads;
  try {
    for (std::size_t t = 1; t < count; ++t) threads.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads than asked: the ones there share the work.
  }
  work();
  for (auto& t : threads) t.join();
  return answers;
}

}  // namespace

AnswerAddresses ExtractAnswerAddresses(const std::string& output, const std::string& destination) {
  std::string text = output;
  if (!platform::RegexFindAll(kAddressPattern, destination).empty()) text += kIpMarker + destination;
  const char* marker = kAnswerMarker;
  if (platform::TextFind(text, marker) < 0) {
    marker = kEnglishAnswerMarker;
    if (platform::TextFind(text, marker) < 0) return {};
  }
  // The pieces before the first and after it, up to a second occurrence.
  const std::vector<std::string> pieces = platform::TextSplit(text, marker, 2);
  AnswerAddresses result;
  result.answered = true;
  if (pieces.size() >= 2) result.addresses = platform::RegexFindAll(kAddressPattern, pieces[1]);
  return result;
}

std::string NetworkOf(const std::string& address) {
  const std::vector<std::string> parts = platform::TextSplit(address, ".");
  if (parts.size() != 4) return {};
  return parts[0] + "." + parts[1] + "." + parts[2] + ".0";
}

System::LookupAnswer LookupDestination(System& sys, const std::string& destination) {
  System::LookupAnswer answer = sys.LookupHost(destination, ConfigFile(sys, "log.txt"));
  answer.output = platform::ToText(answer.output);
  return answer;
}

std::unordered_set<std::string> OwnNetworks(System& sys) {
  std::unordered_set<std::string> own;
  for (const auto& adapter : sys.ListAdapters()) {
    const std::string network = NetworkOf(adapter.IpAddress);
    if (!network.empty()) own.insert(network);
  }
  return own;
}

std::vector<std::string> RoutedNetworks(const std::string& output, const std::string& destination,
                                        const std::unordered_set<std::string>& ownNetworks) {
  std::vector<std::string> networks;
  for (const std::string& address : ExtractAnswerAddresses(output, destination).addresses) {
    std::string network = NetworkOf(address);
    if (platform::IsNetworkText(network) && ownNetworks.count(network) == 0) networks.push_back(std::move(network));
  }
  return networks;
}

void InstallRoutes(System::RoutePass& pass, const std::string& output, const std::string& destination,
                   const std::string& line, const std::unordered_set<std::string>& ownNetworks) {
  for (const std::string& network : RoutedNetworks(output, destination, ownNetworks)) pass.RouteNetwork(network, line);
}

SplitRouter::SplitRouter(System& sys, platform::Ui& ui) : sys_(sys), ui_(ui) {}

System::RouteChanges SplitRouter::RouteAllEntries() {
  std::lock_guard<std::mutex> hold(lock_);
  ++routing_;
  struct Done {
    std::atomic<int>& count;
    ~Done() { --count; }
  } done{routing_};

  workingList_.clear();
  seen_.clear();
  for (SplitEntry& e : ReadSplitStore(sys_, SplitStore(sys_))) {
    if (e.destination.empty() || !seen_.insert(e.destination).second) continue;
    workingList_.push_back(std::move(e));
  }
  std::vector<const SplitEntry*> routable;
  for (const SplitEntry& e : workingList_) {
    if (!HoldsBar(e) && platform::IsSafeDestination(e.destination)) routable.push_back(&e);
  }
  if (routable.empty()) return {};

  const std::unordered_set<std::string> own = OwnNetworks(sys_);
  // Where lookups share no file they all run first, many at once; the routes
  // follow in store order all the same.
  std::vector<System::LookupAnswer> early;
  if (sys_.LookupsMayOverlap()) early = LookUpAtOnce(sys_, routable);

  const std::unique_ptr<System::RoutePass> pass = sys_.BeginRoutePass();
  for (std::size_t i = 0; i < routable.size(); ++i) {
    const SplitEntry& e = *routable[i];
    const System::LookupAnswer answer = early.empty() ? LookupDestination(sys_, e.destination) : early[i];
    if (!answer.started) continue;
    if (ui_.WindowExists()) ui_.WriteControlText(Control::透明标签4, e.destination);
    // A disabled entry, and one whose line is no gateway, only lose routes.
    const bool routes = e.status == kEnabled && platform::IsGatewayText(e.line);
    InstallRoutes(*pass, answer.output, e.destination, routes ? e.line : std::string(), own);
    if (ui_.WindowExists()) ui_.WriteControlText(Control::透明标签4, "");
  }
  return pass->Finish();
}

System::LookupAnswer SplitRouter::LookupForAdd(const std::string& destination) {
  std::lock_guard<std::mutex> hold(lock_);
  System::LookupAnswer answer = LookupDestination(sys_, destination);
  if (answer.started) sys_.FileDelete(ConfigFile(sys_, "log.txt"));
  return answer;
}

void SplitRouter::Clear() {
  // Called on the window thread at the end, which never waits for a lookup:
  // while a run or a lookup holds the lock the list is left to the end of
  // the process.
  std::unique_lock<std::mutex> hold(lock_, std::try_to_lock);
  if (!hold.owns_lock()) return;
  std::vector<SplitEntry>().swap(workingList_);
  std::unordered_set<std::string>().swap(seen_);
}

std::vector<SplitEntry> SplitRouter::WorkingList() {
  std::lock_guard<std::mutex> hold(lock_);
  return workingList_;
}

}  // namespace quillon::routing
