// The line formats of a route plan and its report. The route helper
// compiles this file, so it uses the C++ standard library and ipv4.cpp
// only. Both readers take exactly what the writers write: one spelling of
// every value, the lines in their order, and an end marker.
#include "platform/route_plan.h"

#include <climits>
#include <optional>

namespace quillon::platform {

namespace {

constexpr std::string_view kPlanHeader = "quillon-route-plan 1";
constexpr std::string_view kReportHeader = "quillon-route-report 1";
constexpr std::string_view kEnd = "end";

// The text's lines, one at a time. A line is what precedes a line feed;
// bytes after the last line feed are no line (a plan cut short).
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  // False at the end of the whole lines.
  bool Next(std::string_view& line) {
    const std::size_t feed = text_.find('\n', at_);
    if (feed == std::string_view::npos) return false;
    line = text_.substr(at_, feed - at_);
    at_ = feed + 1;
    ++number_;
    return true;
  }
  // Whether every byte has been read as a line.
  bool AtEnd() const { return at_ == text_.size(); }
  std::size_t Number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t number_ = 0;
};

// Splits `line` at single blanks into at most `max` words; false for an
// empty word (two blanks, a blank at either end) or more words.
bool Words(std::string_view line, std::string_view* words, std::size_t max, std::size_t& count) {
  count = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t blank = line.find(' ', start);
    const std::string_view word = line.substr(start, blank == std::string_view::npos ? line.npos : blank - start);
    if (word.empty() || count == max) return false;
    words[count++] = word;
    if (blank == std::string_view::npos) return true;
    start = blank + 1;
  }
}

// A decimal number without leading zeros, at most `max`.
std::optional<std::uint64_t> Number(std::string_view text, std::uint64_t max) {
  if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// "a.b.c.d/n" with no host bit set.
std::optional<Prefix> ReadNetwork(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::optional<Ipv4> address = ParseIpv4(text.substr(0, slash));
  const std::optional<std::uint64_t> length = Number(text.substr(slash + 1), 32);
  if (!address || !length) return std::nullopt;
  const Prefix prefix{*address, static_cast<int>(*length)};
  if ((prefix.network & MaskOf(prefix.length)) != prefix.network) return std::nullopt;
  return prefix;
}

std::string LineReason(std::size_t number, std::string_view what) {
  return "line " + std::to_string(number) + ": " + std::string(what);
}

// Reads the lines of `text` after its header up to the end marker, handing
// each to `body`, which returns an empty text or why the line is refused.
// Checks the total size, each line's length, the header, the end marker
// and that nothing follows it.
template <typename Body>
bool ReadLines(std::string_view text, std::string_view header, std::size_t maxBytes, std::size_t maxLine,
               std::string_view what, Body body, std::string& reason) {
  if (text.size() > maxBytes) {
    reason = "the " + std::string(what) + " is longer than " + std::to_string(maxBytes) + " bytes";
    return false;
  }
  Lines lines(text);
  std::string_view line;
  if (!lines.Next(line) || line != header) {
    reason = "not a " + std::string(what) + " of this version: the first line is not \"" + std::string(header) + "\"";
    return false;
  }
  while (lines.Next(line)) {
    if (line.size() > maxLine) {
      reason = LineReason(lines.Number(), "longer than " + std::to_string(maxLine) + " bytes");
      return false;
    }
    if (line == kEnd) {
      if (!lines.AtEnd()) {
        reason = LineReason(lines.Number() + 1, "text after \"end\"");
        return false;
      }
      return true;
    }
    const std::string refused = body(line);
    if (!refused.empty()) {
      reason = LineReason(lines.Number(), refused);
      return false;
    }
  }
  reason = "the " + std::string(what) + " is cut short: no \"end\" line";
  return false;
}

// A report text: control characters become '?', and it is cut at
// kReportMaxLine bytes with its keyword.
std::string CleanText(std::string_view text, std::size_t keywordSize) {
  std::string out(text.substr(0, kReportMaxLine - keywordSize));
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return out;
}

bool IsCleanText(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return false;
  }
  return true;
}

// "keyword" alone for an empty text, else "keyword TEXT".
std::string TextLine(std::string_view keyword, std::string_view text) {
  std::string line(keyword);
  const std::string clean = CleanText(text, keyword.size() + 1);
  if (!clean.empty()) line += " " + clean;
  return line + "\n";
}

// The text of a "keyword[ TEXT]" line, or nothing when the line is not one.
std::optional<std::string_view> TextOf(std::string_view line, std::string_view keyword) {
  if (line == keyword) return std::string_view();
  if (line.size() <= keyword.size() + 1 || line.substr(0, keyword.size()) != keyword || line[keyword.size()] != ' ')
    return std::nullopt;
  return line.substr(keyword.size() + 1);
}

constexpr const char* kOutcomeNames[] = {"done", "no-rights", "busy", "failed"};

}  // namespace

std::string WritePlan(const RoutePlan& plan) {
  std::string text;
  text.reserve(64 + plan.defaults.size() * 40 + plan.routes.size() * 40);
  text.append(kPlanHeader).push_back('\n');
  if (plan.clear) text += "clear\n";
  if (plan.replaceDefaults) text += "replace-defaults\n";
  for (const DefaultRouteRequest& d : plan.defaults) {
    text += "default " + Ipv4Text(d.gateway) + " metric " + std::to_string(d.metric) + "\n";
  }
  // Route lines are formatted in place, with no string per line: a plan
  // may hold a million. The longest line takes 61 bytes.
  char line[kPlanMaxLine + 2];
  for (const RouteRequest& r : plan.routes) {
    const auto put = [](char* at, std::string_view word) { return std::copy(word.begin(), word.end(), at); };
    char* at = PutPrefixText(put(line, "route "), r.prefix);
    at = r.gateway == 0 ? put(at, " remove") : PutIpv4Text(put(at, " via "), r.gateway);
    if (r.prefixEntry) at = put(at, " entry");
    *at++ = '\n';
    text.append(line, static_cast<std::size_t>(at - line));
  }
  text.append(kEnd).push_back('\n');
  return text;
}

bool ReadPlan(std::string_view text, RoutePlan& plan, std::string& reason) {
  plan = RoutePlan{};
  // Where the lines have got to: each kind of line may follow only the
  // kinds before it, so every plan has one spelling.
  enum Stage { Start, Cleared, Replacing, Defaults, Routes } stage = Start;
  const auto body = [&](std::string_view line) -> std::string {
    std::string_view w[5];
    std::size_t n = 0;
    if (!Words(line, w, 5, n)) return "not a request of the plan format";
    if (n == 1 && w[0] == "clear") {
      if (stage >= Cleared) return "\"clear\" out of place";
      plan.clear = true;
      stage = Cleared;
      return {};
    }
    if (n == 1 && w[0] == "replace-defaults") {
      if (stage >= Replacing) return "\"replace-defaults\" out of place";
      plan.replaceDefaults = true;
      stage = Replacing;
      return {};
    }
    if (w[0] == "default") {
      if (stage > Defaults) return "a default route after the routes";
      const std::optional<Ipv4> gateway = n == 4 ? ParseIpv4(w[1]) : std::nullopt;
      const std::optional<std::uint64_t> metric = n == 4 && w[2] == "metric" ? Number(w[3], UINT32_MAX) : std::nullopt;
      if (!gateway || !metric) return "not a default route \"default GATEWAY metric N\"";
      if (plan.defaults.size() == kPlanMaxDefaults)
        return "more than " + std::to_string(kPlanMaxDefaults) + " default routes";
      plan.defaults.push_back({*gateway, static_cast<std::uint32_t>(*metric)});
      stage = Defaults;
      return {};
    }
    if (w[0] == "route") {
      RouteRequest request;
      const std::optional<Prefix> prefix = n >= 3 ? ReadNetwork(w[1]) : std::nullopt;
      std::size_t next = 2;
      bool ok = prefix.has_value();
      if (ok && w[2] == "remove") {
        next = 3;
      } else if (ok && w[2] == "via" && n >= 4) {
        const std::optional<Ipv4> gateway = ParseIpv4(w[3]);
        ok = gateway && *gateway != 0;  // gateway 0 is spelt "remove"
        if (ok) request.gateway = *gateway;
        next = 4;
      } else {
        ok = false;
      }
      if (ok && next < n) {
        ok = next + 1 == n && w[next] == "entry";
        request.prefixEntry = true;
      }
      if (!ok) return "not a route \"route NETWORK/LENGTH via GATEWAY|remove [entry]\"";
      if (plan.routes.size() == kPlanMaxRoutes) return "more than " + std::to_string(kPlanMaxRoutes) + " routes";
      request.prefix = *prefix;
      plan.routes.push_back(request);
      stage = Routes;
      return {};
    }
    return "not a request of the plan format";
  };
  return ReadLines(text, kPlanHeader, kPlanMaxBytes, kPlanMaxLine, "plan", body, reason);
}

std::string WriteReport(const RouteReport& report) {
  std::string text;
  text.append(kReportHeader).push_back('\n');
  const auto outcome = static_cast<std::size_t>(report.outcome);
  text += "outcome " + std::string(outcome < 4 ? kOutcomeNames[outcome] : "failed") + "\n";
  text += "added " + std::to_string(report.added) + "\n";
  text += "replaced " + std::to_string(report.replaced) + "\n";
  text += "deleted " + std::to_string(report.deleted) + "\n";
  text += "kept " + std::to_string(report.kept) + "\n";
  text += "refused " + std::to_string(report.refused) + "\n";
  for (std::size_t i = 0; i < report.refusals.size() && i < kReportMaxRefusals; ++i) {
    text += TextLine("refusal", report.refusals[i]);
  }
  text += TextLine("reason", report.reason);
  text.append(kEnd).push_back('\n');
  return text;
}

bool ReadReport(std::string_view text, RouteReport& report, std::string& reason) {
  report = RouteReport{};
  // The fixed lines, in order, then the refusals, then the reason.
  static constexpr std::string_view kCounts[] = {"added", "replaced", "deleted", "kept", "refused"};
  int* const counts[] = {&report.added, &report.replaced, &report.deleted, &report.kept, &report.refused};
  std::size_t fixed = 0;  // how many of outcome and the counts were read
  bool reasonRead = false;
  const auto body = [&](std::string_view line) -> std::string {
    if (reasonRead) return "a line after the reason";
    if (fixed == 0) {
      const std::optional<std::string_view> name = TextOf(line, "outcome");
      for (std::size_t i = 0; name && i < 4; ++i) {
        if (*name == kOutcomeNames[i]) {
          report.outcome = static_cast<RouteReport::Outcome>(i);
          fixed = 1;
          return {};
        }
      }
      return "not \"outcome done|no-rights|busy|failed\"";
    }
    if (fixed <= 5) {
      const std::string_view key = kCounts[fixed - 1];
      const std::optional<std::string_view> value = TextOf(line, key);
      const std::optional<std::uint64_t> count = value ? Number(*value, INT_MAX) : std::nullopt;
      if (!count) return "not \"" + std::string(key) + " N\"";
      *counts[fixed - 1] = static_cast<int>(*count);
      ++fixed;
      return {};
    }
    if (const std::optional<std::string_view> refusal = TextOf(line, "refusal")) {
      if (!IsCleanText(*refusal)) return "a control character in a refusal";
      if (report.refusals.size() == kReportMaxRefusals)
        return "more than " + std::to_string(kReportMaxRefusals) + " refusals";
      report.refusals.emplace_back(*refusal);
      return {};
    }
    if (const std::optional<std::string_view> why = TextOf(line, "reason")) {
      if (!IsCleanText(*why)) return "a control character in the reason";
      report.reason = std::string(*why);
      reasonRead = true;
      return {};
    }
    return "not a line of the report format";
  };
  if (!ReadLines(text, kReportHeader, kReportMaxBytes, kReportMaxLine, "report", body, reason)) return false;
  if (!reasonRead) {
    reason = "the report has no \"reason\" line";
    return false;
  }
  return true;
}

}  // namespace quillon::platform
