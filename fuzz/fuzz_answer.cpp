// The answer rules (platform::ReadLookupOutput) and the route plan they lead
// to (routing::PlanSplitRoutes) on arbitrary lookup output.
//
// Built twice: fuzz_answer_utf8 with the Linux code page (UTF-8 character
// rule and literals), fuzz_answer_gbk with the Windows one (GBK character
// rule, and answer_rule.cpp compiled with its literals in GBK, as the
// Windows build holds them).
//
// Input: the lookup output up to the first NUL (the output is read up to its
// first NUL), and the destination after it.
#include <boost/regex.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/answer_rule.h"
#include "platform/safety.h"
#include "platform/text.h"
#include "routing/split_routes.h"

namespace {

namespace platform = quillon::platform;
using platform::AnswerAddresses;
namespace routing = quillon::routing;

[[noreturn]] void Fail(const char* what, int line) {
  std::fprintf(stderr, "fuzz_answer: invariant failed at line %d: %s\n", line, what);
  std::abort();
}
#define CHECK(cond) \
  do {                                   \
    if (!(cond)) Fail(#cond, __LINE__);  \
  } while (false)

// The markers as this build's bytes.
#ifdef QUILLON_FUZZ_GBK
constexpr platform::CharRule kRule = platform::CharRule::Gbk;
constexpr char kIpMarker[] = "\xCA\xE4\xC8\xEB" "IP" "\xC3\xFB\xB3\xC6";  // 输入IP名称
constexpr char kAnswerMarker[] = "\xC3\xFB\xB3\xC6";                       // 名称
#else
constexpr platform::CharRule kRule = platform::CharRule::Utf8;
constexpr char kIpMarker[] = "输入IP名称";
constexpr char kAnswerMarker[] = "名称";
#endif
constexpr char kEnglishAnswerMarker[] = "Name:";

const boost::regex& AddressPattern() {
  static const boost::regex pattern(platform::kAddressPattern, boost::regex::perl);
  return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The build holds the markers this target searches for (for the GBK
  // target: the literal conversion took place).
  CHECK(platform::SystemCharRule() == kRule);
  const std::string output = std::string("Server:  x\r\n\r\n") + kAnswerMarker + ":    a.test\r\nAddresses:  198.18.1.5\r\n";
  CHECK(platform::ReadLookupOutput(output, "a.test") == (AnswerAddresses{true, {"198.18.1.5"}}));
  CHECK(platform::ReadLookupOutput("", "198.18.3.9") == (AnswerAddresses{true, {"198.18.3.9"}}));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string output = input.substr(0, nul);
  const std::string destination = nul == std::string::npos ? std::string() : input.substr(nul + 1);

  const AnswerAddresses answer = platform::ReadLookupOutput(output, destination);

  // Every address is an address of the pattern, whole, taken from the
  // output or the destination.
  for (const std::string& address : answer.addresses) {
    CHECK(boost::regex_match(address, AddressPattern()));
    CHECK(output.find(address) != std::string::npos || destination.find(address) != std::string::npos);
  }
  // No marker, no answer.
  std::string searched = output;
  if (boost::regex_search(destination, AddressPattern())) searched += kIpMarker + destination;
  const bool markerThere = searched.find(kAnswerMarker) != std::string::npos ||
                           searched.find(kEnglishAnswerMarker) != std::string::npos;
  if (!markerThere) CHECK(!answer.answered);
  if (!answer.answered) CHECK(answer.addresses.empty());

  // The route plan: only routable networks, never the machine's own.
  const std::vector<platform::Prefix> own = {platform::Network24(0xC0000200u), platform::Network24(0xC6120100u)};
  platform::Lookup lookup{true, answer.answered, platform::AddressValues(answer.addresses), 0};
  const platform::RoutePlan plan = routing::PlanSplitRoutes({{{destination, "198.51.100.1", "1", ""}, lookup}}, own);
  // A prefix destination is routed as itself, with no lookup; any other
  // gives at most one request per answer address.
  platform::Prefix exact;
  if (routing::KindOf(destination, &exact) == routing::DestinationKind::Prefix) {
    CHECK(plan.routes.size() <= 1);
    if (!plan.routes.empty()) CHECK(plan.routes[0].prefix == exact);
  } else {
    CHECK(plan.routes.size() <= answer.addresses.size());
  }
  for (const platform::RouteRequest& r : plan.routes) {
    CHECK(platform::IsRoutablePrefix(r.prefix));
    for (const platform::Prefix& o : own) CHECK(!o.Overlaps(r.prefix));
    CHECK(r.gateway == 0xC6336401u);
  }
  return 0;
}
