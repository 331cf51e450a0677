#include "platform/answer_rule.h"

#include "platform/text.h"

namespace quillon::platform {

namespace {

constexpr char kIpMarker[] = "输入IP名称";
constexpr char kAnswerMarker[] = "名称";
constexpr char kEnglishAnswerMarker[] = "Name:";

}  // namespace

AnswerAddresses ReadLookupOutput(const std::string& output, const std::string& destination) {
  std::string text = output;
  if (!DestinationAddresses(destination).empty()) text += kIpMarker + destination;
  const char* marker = kAnswerMarker;
  if (TextFind(text, marker) < 0) {
    marker = kEnglishAnswerMarker;
    if (TextFind(text, marker) < 0) return {};
  }
  // The pieces before the first and after it, up to a second occurrence.
  const std::vector<std::string> pieces = TextSplit(text, marker, 2);
  AnswerAddresses result;
  result.answered = true;
  if (pieces.size() >= 2) result.addresses = RegexFindAll(kAddressPattern, pieces[1]);
  return result;
}

std::vector<std::string> DestinationAddresses(const std::string& destination) {
  return RegexFindAll(kAddressPattern, destination);
}

std::vector<Ipv4> AddressValues(const std::vector<std::string>& matches) {
  std::vector<Ipv4> values;
  for (const std::string& m : matches) {
    if (const std::optional<Ipv4> a = ParseIpv4(m)) values.push_back(*a);
  }
  return values;
}

}  // namespace quillon::platform
