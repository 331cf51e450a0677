#include "platform/fake/fake_system.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/route_commands.h"

namespace quillon::platform {

namespace {

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

void FakeSystem::RunPendingWorkers() {
  while (!pendingWorkers.empty()) {
    auto fn = std::move(pendingWorkers.front());
    pendingWorkers.pop_front();
    fn();
  }
}

std::string FakeSystem::Parent(const std::string& path) const {
  const auto at = path.rfind(separator);
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

std::string FakeSystem::ProgramDirectory() {
  std::lock_guard<std::recursive_mutex> hold(lock); return programDirectory; }

bool FakeSystem::FileExists(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("FileExists " + path);
  return directories.count(path) > 0 || files.count(path) > 0 || inis.count(path) > 0;
}

bool FakeSystem::CreateDirectory(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("CreateDirectory " + path);
  if (failWrites || directories.count(path) > 0) return false;
  const std::string parent = Parent(path);
  if (!parent.empty() && parent != programDirectory && directories.count(parent) == 0) return false;
  directories.insert(path);
  return true;
}

ByteArray FakeSystem::FileRead(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("FileRead " + path);
  const auto it = files.find(path);
  if (it != files.end()) return it->second;
  // An INI store reads as the text it would be on disk.
  ByteArray text;
  if (const auto ini = inis.find(path); ini != inis.end()) {
    for (const Section& section : ini->second) {
      text += "[" + section.name + "]\n";
      for (const auto& [key, value] : section.keys) text += key + "=" + value + "\n";
    }
  }
  return text;
}

bool FakeSystem::FileDelete(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("FileDelete " + path);
  return files.erase(path) > 0;
}

bool FakeSystem::FileWrite(const std::string& path, const ByteArray& bytes) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("FileWrite " + path);
  const std::string parent = Parent(path);
  if (failWrites || (parent != programDirectory && directories.count(parent) == 0)) return false;
  inis.erase(path);
  files[path] = bytes;
  return true;
}

// The texts of the fake are UTF-8, as on Linux; only the mark goes.
std::string FakeSystem::DecodeText(const ByteArray& bytes) {
  return bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
}

std::optional<std::string> FakeSystem::IniValue(const std::string& file, const std::string& section,
                                                const std::string& key) const {
  const auto it = inis.find(file);
  if (it == inis.end()) return std::nullopt;
  for (const auto& s : it->second) {
    if (!SameIgnoringAsciiCase(s.name, section)) continue;
    for (const auto& [k, v] : s.keys) {
      if (SameIgnoringAsciiCase(k, key)) return v;
    }
    return std::nullopt;  // the first section of that name is the one read
  }
  return std::nullopt;
}

std::string FakeSystem::ReadProfileString(const std::string& file, const std::string& section,
                                          const std::string& key, const std::string& fallback) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("IniRead " + file + " [" + section + "] " + key);
  auto v = IniValue(file, section, key);
  if (!v) return fallback;
  return v->substr(0, kIniValueLimit);
}

bool FakeSystem::WriteProfileEntry(const std::string& file, const std::string& section,
                          const std::optional<std::string>& key,
                          const std::optional<std::string>& value) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("IniWrite " + file + " [" + section + "] " + key.value_or("(none)") + "=" +
                  value.value_or("(none)"));
  if (failWrites || failSections.count(section) > 0) return false;
  if (inis.count(file) == 0 && directories.count(Parent(file)) == 0) return false;
  auto& sections = inis[file];
  auto s = std::find_if(sections.begin(), sections.end(),
                        [&](const Section& x) { return SameIgnoringAsciiCase(x.name, section); });
  if (!key) {
    if (s != sections.end()) sections.erase(s);
    return true;
  }
  if (s == sections.end()) {
    if (!value) return true;
    sections.push_back({section, {}});
    s = sections.end() - 1;
  }
  auto k = std::find_if(s->keys.begin(), s->keys.end(),
                        [&](const auto& kv) { return SameIgnoringAsciiCase(kv.first, *key); });
  if (!value) {
    if (k != s->keys.end()) s->keys.erase(k);
  } else if (k == s->keys.end()) {
    s->keys.emplace_back(*key, *value);
  } else {
    k->second = *value;
  }
  return true;
}

std::vector<std::string> FakeSystem::IniSections(const std::string& file) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("IniSections " + file);
  std::vector<std::string> names;
  const auto it = inis.find(file);
  if (it == inis.end()) return names;
  for (const auto& s : it->second) names.push_back(s.name);
  return names;
}

std::string FakeSystem::RegistryReadText(int, const std::string&, const std::string& fallback) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  return fallback;
}

bool FakeSystem::StartWorker(std::function<void()> routine) {
  {
    std::lock_guard<std::recursive_mutex> hold(lock);
    calls.push_back("StartWorker");
    if (realThreads) return StartDetachedThread(std::move(routine));
    if (!runWorkersAtOnce) {
      pendingWorkers.push_back(std::move(routine));
      return true;
    }
  }
  routine();
  return true;
}

ByteArray FakeSystem::FetchHttp(const std::string& url) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  httpRequests.push_back(url);
  calls.push_back("HttpGetText " + url);
  const auto it = httpAnswers.find(url);
  if (it != httpAnswers.end()) return it->second;
  if (httpFailures.count(url) == 0) ADD_FAILURE() << "unexpected HTTP request: " << url;
  return {};
}

std::vector<LineInfo> FakeSystem::ListAdapters() {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("ListAdapters");
  return adapters;
}

std::string FakeSystem::ConnectionName(const std::string& adapterName) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("ConnectionName " + adapterName);
  const auto it = connectionNames.find(adapterName);
  return it == connectionNames.end() ? std::string() : it->second;
}

std::string FakeSystem::DiscoverGatewayText() {
  std::lock_guard<std::recursive_mutex> hold(lock);
  ++discoveries;
  calls.push_back("DiscoverGateways");
  return gatewayText;
}

void FakeSystem::Answer(const std::string& destination, const std::vector<std::string>& addresses,
                        std::uint32_t ttl) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  Lookup& l = lookups[destination];
  l.started = true;
  l.answered = true;
  l.addresses.clear();
  for (const std::string& a : addresses) l.addresses.push_back(ParseIpv4(a).value());
  l.ttl = ttl;
}

Lookup FakeSystem::LookupHost(const std::string& destination, const std::string& logPath, bool keepLog) {
  std::function<void(const std::string&)> during;
  Lookup answer;
  {
    std::lock_guard<std::recursive_mutex> hold(lock);
    calls.push_back("LookupHost " + destination + " > " + logPath + (keepLog ? "" : " (deleted)"));
    lookedUp.push_back(destination);
    during = onLookup;
    if (lookupsNotStarted.count(destination) > 0) return answer;
    const auto it = lookups.find(destination);
    if (it != lookups.end()) {
      answer = it->second;
    } else {
      ADD_FAILURE() << "unexpected lookup: " << destination;
    }
    answer.started = true;
  }
  if (during) during(destination);
  return answer;
}

RouteReport FakeSystem::ApplyRoutePlan(const RoutePlan& plan) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  plans.push_back(plan);
  RouteReport report;
  for (std::string& c : RoutePlanCommands(plan)) {
    (c.rfind("cmd /C route delete", 0) == 0 ? report.deleted : report.added) += 1;
    calls.push_back(c);
    commands.push_back(std::move(c));
  }
  report.outcome = planOutcome;
  report.reason = planReason;
  return report;
}

Ipv4 FakeSystem::RouteGateway(const Prefix& prefix) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  const auto it = routeGateways.find(PrefixText(prefix));
  return it == routeGateways.end() ? 0 : ParseIpv4(it->second).value_or(0);
}

bool FakeSystem::RunUntilStopSignal(const std::function<void()>& start) {
  // The stop comes at once.
  if (start) start();
  return true;
}

bool FakeSystem::LockRouting(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  calls.push_back("LockRouting " + path);
  return !routingLockTaken;
}

}  // namespace quillon::platform
