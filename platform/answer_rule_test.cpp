#include "platform/answer_rule.h"

#include <gtest/gtest.h>

namespace quillon::platform {
namespace {

using Texts = std::vector<std::string>;

// A lookup answer as the tool prints it, the DNS server's address first.
std::string Answer(const std::string& name, const Texts& addresses) {
  std::string text = "服务器:  UnKnown\r\nAddress:  192.0.2.53\r\n\r\n非权威应答:\r\n名称:    " + name + "\r\nAddresses:  ";
  for (const auto& a : addresses) text += a + "\r\n\t  ";
  return text;
}
const std::string kNoAnswer = "服务器:  UnKnown\r\nAddress:  192.0.2.53\r\n\r\n*** UnKnown 找不到 x: Non-existent domain\r\n";

TEST(ReadLookupOutput, TakesOnlyTheAnswerAfterTheMarker) {
  EXPECT_EQ(ReadLookupOutput(Answer("a.test", {"198.18.1.5", "198.18.2.7"}), "a.test"),
            (AnswerAddresses{true, {"198.18.1.5", "198.18.2.7"}}));
  EXPECT_EQ(ReadLookupOutput(kNoAnswer, "a.test"), (AnswerAddresses{false, {}}));
  EXPECT_EQ(ReadLookupOutput("", "a.test"), (AnswerAddresses{false, {}}));
  // An address as destination counts without any answer; so does one inside a URL.
  EXPECT_EQ(ReadLookupOutput(kNoAnswer, "198.18.3.9"), (AnswerAddresses{true, {"198.18.3.9"}}));
  EXPECT_EQ(ReadLookupOutput("", "http://198.18.3.9/x"), (AnswerAddresses{true, {"198.18.3.9"}}));
  EXPECT_EQ(ReadLookupOutput("", "http://a.test/x"), (AnswerAddresses{false, {}}));
  // The answer ends at a second marker: the IP marker's destination is not read then.
  EXPECT_EQ(ReadLookupOutput(Answer("r.test", {"198.18.4.4"}), "198.18.3.9").addresses, Texts{"198.18.4.4"});
  // An English system labels the answer "Name:".
  EXPECT_EQ(ReadLookupOutput("Server:  x\r\nAddress:  192.0.2.53\r\n\r\nName:    e.test\r\nAddress:  198.18.5.5\r\n",
                             "e.test"),
            (AnswerAddresses{true, {"198.18.5.5"}}));
  // Matches that are no dotted address (a leading zero) name nothing to route.
  EXPECT_EQ(AddressValues({"198.18.1.5", "010.1.2.3"}), (std::vector<Ipv4>{0xC6120105u}));
}

}  // namespace
}  // namespace quillon::platform
