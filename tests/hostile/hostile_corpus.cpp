#include "tests/hostile/hostile_corpus.h"

#include <fstream>
#include <sstream>

#include "import/prepared_import.h"
#include "platform/text.h"
#include "routing/config_paths.h"
#include "routing/global_line.h"
#include "routing/split_routes.h"
#include "routing/split_workers.h"

namespace quillon::hostile {

namespace {

std::string Decode(const std::string& escaped) {
  std::string out;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\' || i + 1 == escaped.size()) {
      out += escaped[i];
      continue;
    }
    const char c = escaped[++i];
    if (c == 'r') out += '\r';
    else if (c == 'n') out += '\n';
    else if (c == 't') out += '\t';
    else if (c == 'x' && i + 2 < escaped.size()) {
      out += static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else out += c;
  }
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// An address whose network is routable, one per case, so that a case used
// as a line meets a route request if nothing stops it.
std::string AddressFor(std::size_t i) {
  return "198.18." + std::to_string(i % 250) + "." + std::to_string(1 + i / 250);
}

}  // namespace

std::vector<HostileCase> LoadHostileCases(const std::string& path) {
  std::vector<HostileCase> cases;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string tags, text, note;
    std::getline(fields, tags, '\t');
    std::getline(fields, text, '\t');
    std::getline(fields, note);
    // U: refused as a destination where texts are UTF-8 (the same bytes are
    // a proper GBK character on Windows).
    const bool destination = tags.find('D') != std::string::npos ||
                             (tags.find('U') != std::string::npos && platform::SystemCharRule() == platform::CharRule::Utf8);
    cases.push_back({Decode(text), destination, tags.find('L') != std::string::npos, note});
  }
  return cases;
}

void FeedEveryWayIn(platform::System& sys, const std::vector<HostileCase>& cases,
                    const std::function<void(const std::string& gatewayText)>& discovery) {
  routing::SplitStore store = routing::SplitStore::Main(sys);
  routing::SplitRouter router(sys, store);
  const std::string globalStore = routing::ConfigFile(sys, routing::kGlobalLineStoreName);
  constexpr char kLine[] = "192.0.2.1";

  // Typed into the add inputs: as the destination, and as the line.
  for (std::size_t i = 0; i < cases.size(); ++i) {
    router.AddEntry({cases[i].text, kLine, ""});
    router.AddEntry({AddressFor(i), cases[i].text, ""});
  }

  // Stored by hand in http.ini: as a section name, and as a line (of an
  // address that needs no answer).
  std::string text;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string& t = cases[i].text;
    text += "[" + t + "]\r\nxl=" + kLine + "\r\nzt=1\r\n";
    text += "[" + AddressFor(i) + "]\r\nxl=" + t + "\r\nzt=1\r\n";
  }
  // A name given twice, first with a hostile line.
  text += "[dup.test]\r\nxl=" + cases.front().text + "\r\n[dup.test]\r\nxl=" + kLine + "\r\n";
  WriteFile(store.Path(), text);
  router.RouteAllEntries();
  sys.FileDelete(store.Path());

  // qj.ini by hand (each case as a metric of the good line, and as a line
  // stored with metric 1), with every case among the discovered gateways.
  std::string global;
  std::string gateways = std::string(kLine) + ";";
  for (const HostileCase& c : cases) {
    global += std::string("[") + kLine + "]\r\nid=" + c.text + "\r\n[" + c.text + "]\r\nid=1\r\n";
    gateways += c.text + ";";
  }
  WriteFile(globalStore, global);
  discovery(gateways);
  routing::RestoreGlobalLine(sys);
  for (const std::string& chosen : {std::string(kLine), cases.front().text}) routing::ApplyGlobalLine(sys, chosen);
  sys.FileDelete(globalStore);

  // A prepared file: each case as a section name and as its line, imported
  // keeping the file's lines, then onto each case as the chosen line.
  std::string prepared;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    prepared += "[" + cases[i].text + "]\r\nxl=" + kLine + "\r\nzt=1\r\n";
    prepared += "[" + AddressFor(i) + "]\r\nxl=" + cases[i].text + "\r\nzt=1\r\n";
  }
  const std::string preparedPath = routing::ConfigFile(sys, "prepared.ini");
  WriteFile(preparedPath, prepared);
  importing::ImportSplitFile(sys, store, preparedPath, "");
  for (const HostileCase& c : cases) importing::ImportSplitFile(sys, store, preparedPath, c.text);
  // What the imports stored is routed.
  router.RouteAllEntries();
  sys.FileDelete(preparedPath);
  sys.FileDelete(store.Path());
}

bool LooksLikeDottedAddress(const std::string& text) {
  int parts = 0;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t digits = 0;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) value = value * 10 + (text[i++] - '0'), ++digits;
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i++] != '.') return false;
  }
  return false;
}

bool LooksLikePlainDestination(const std::string& text) {
  if (text.empty() || text[0] == '-') return false;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool ok = c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string(".-_:/?#@~+[]").find(static_cast<char>(c)) != std::string::npos;
    if (!ok) return false;
  }
  return true;
}

}  // namespace quillon::hostile
