#include "import/shared_list.h"

#include "platform/ipv4.h"
#include "platform/safety.h"

namespace quillon::importing {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// Whether a list may give `text` as a destination, and whether it is a name.
bool Takes(std::string_view text, bool& name) {
  if (!platform::IsSafeDestination(text)) return false;
  const platform::PrefixEntry prefix = platform::ReadPrefixEntry(text);
  if (prefix.form == platform::PrefixEntry::Valid) return platform::IsRoutablePrefix(prefix.prefix);
  if (prefix.form != platform::PrefixEntry::NotAPrefix) return false;
  if (platform::ParseIpv4(text)) return true;
  name = platform::HostNameLabels(text, true) > 0 && text.find_first_not_of("0123456789.") != std::string_view::npos;
  return name;
}

}  // namespace

ListReading ReadSharedList(std::string_view text) {
  ListReading reading;
  int number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    // A comment: the whole line, or from a blank and '#' on.
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos &&
                                                 (hash == 0 || kBlanks.find(line[hash - 1]) != std::string_view::npos)) {
      line = line.substr(0, hash);
    }
    line = Trim(line);
    if (line.empty()) continue;
    std::vector<std::string_view> found;
    bool resolverForm = false;
    for (const std::string_view form : {"server=/", "ipset=/", "nftset=/"}) {
      if (line.substr(0, form.size()) != form) continue;
      resolverForm = true;
      // The domains lie between the first and the last slash.
      const std::size_t last = line.rfind('/');
      for (std::size_t at = form.size(); at < last;) {
        const std::size_t next = line.find('/', at);
        if (next > at) found.push_back(line.substr(at, next - at));
        at = next + 1;
      }
    }
    if (!resolverForm) found.push_back(line);
    bool took = false;
    for (const std::string_view d : found) {
      bool name = false;
      if (!Takes(d, name)) continue;
      reading.destinations.push_back({number, std::string(d)});
      reading.names = reading.names || name;
      took = true;
    }
    if (!took) ++reading.skipped;
  }
  return reading;
}

}  // namespace quillon::importing
