// HttpGetText of the System backend against a server on 127.0.0.1 that the
// test runs itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/system_factory.h"
#include "tests/contract/http_test_server.h"

namespace quillon::platform {
namespace {

using test::HttpReply;
using test::HttpResponse;
using test::HttpTestServer;
using ::testing::ElementsAre;
using ::testing::SizeIs;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// A body whose bytes do not repeat in short cycles, so a lost or doubled
// block shows up in the comparison.
std::string PatternBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('!' + (i * 7 + i / 251) % 90);
  return body;
}

HttpReply Whole(const std::string& response) { return HttpReply{{response}, {}}; }

class HttpGetTextTest : public ::testing::Test {
 protected:
  std::unique_ptr<System> system_ = MakeSystem({});
};

TEST_F(HttpGetTextTest, ReturnsTheBodyWhateverTheStatus) {
  HttpTestServer server({Whole(HttpResponse(200, "OK", "hello, world")), Whole(HttpResponse(404, "Not Found", "1")),
                         Whole(HttpResponse(500, "Internal Server Error", "broken"))});
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(system_->HttpGetText(server.Url("/a")), "hello, world");
  const ByteArray notFound = system_->HttpGetText(server.Url("/flq/v.php?v=1.0.2"));
  EXPECT_EQ(notFound, "1");
  EXPECT_EQ(ToText(notFound), "1");
  EXPECT_EQ(system_->HttpGetText(server.Url("/c")), "broken");
  EXPECT_THAT(server.Requests(), SizeIs(3));
}

TEST_F(HttpGetTextTest, KeepsEveryByteOfABodyWithANul) {
  const std::string body("ab\0cd", 5);
  HttpTestServer server({Whole(HttpResponse(200, "OK", body))});
  ASSERT_TRUE(server.Listening());
  const ByteArray got = system_->HttpGetText(server.Url("/nul"));
  EXPECT_EQ(got, body);
  EXPECT_EQ(ToText(got), "ab");
}

TEST_F(HttpGetTextTest, ReadsALargeBodyWholeWithAndWithoutALength) {
  const std::string body = PatternBody(300 * 1024 + 17);
  HttpTestServer server({Whole(HttpResponse(200, "OK", body, true)), Whole(HttpResponse(200, "OK", body, false))});
  ASSERT_TRUE(server.Listening());
  const ByteArray withLength = system_->HttpGetText(server.Url("/with"));
  EXPECT_EQ(withLength.size(), body.size());
  EXPECT_TRUE(withLength == body);
  const ByteArray withoutLength = system_->HttpGetText(server.Url("/without"));
  EXPECT_EQ(withoutLength.size(), body.size());
  EXPECT_TRUE(withoutLength == body);
}

TEST_F(HttpGetTextTest, ReadsUntilTheServerSendsNoMore) {
  // The body comes in three parts with pauses between them; an answer that
  // announces no length ends only when the server closes.
  const std::string head = HttpResponse(200, "OK", "", false);
  const std::string first = PatternBody(20000);
  HttpTestServer server({HttpReply{{head + first, "second part;", "third part"}, std::chrono::milliseconds(150)}});
  ASSERT_TRUE(server.Listening());
  EXPECT_TRUE(system_->HttpGetText(server.Url("/slow")) == first + "second part;third part");
}

TEST_F(HttpGetTextTest, SendsAnHttp10GetWithTheAgentAndAcceptingAnything) {
  HttpTestServer server({Whole(HttpResponse(200, "OK", "1"))});
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(system_->HttpGetText(server.Url("/flq/v.php?v=1.0.2")), "1");
  const auto requests = server.Requests();
  ASSERT_THAT(requests, SizeIs(1));
  const test::RequestHead head = test::ParseRequestHead(requests[0]);
  EXPECT_EQ(head.requestLine, "GET /flq/v.php?v=1.0.2 HTTP/1.0");
  EXPECT_THAT(head.Values("User-Agent"), ElementsAre(kAgent));
  EXPECT_THAT(head.Values("Accept"), ElementsAre("*/*"));
  EXPECT_THAT(head.Values("Host"), ElementsAre("127.0.0.1:" + std::to_string(server.Port())));
}

TEST_F(HttpGetTextTest, AsksTheServerEveryTimeEvenForACacheableAnswer) {
  // The first answer allows caching for an hour; a second request for the
  // same URL must still reach the server and return its new body.
  const std::string cacheable = "Cache-Control: public, max-age=3600\r\nExpires: Thu, 01 Jan 2099 00:00:00 GMT\r\n";
  HttpTestServer server({Whole(HttpResponse(200, "OK", "first", true, cacheable)),
                         Whole(HttpResponse(200, "OK", "second", true, cacheable))});
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(system_->HttpGetText(server.Url("/cached")), "first");
  EXPECT_EQ(system_->HttpGetText(server.Url("/cached")), "second");
  EXPECT_THAT(server.Requests(), SizeIs(2));
}

TEST_F(HttpGetTextTest, NeverSendsTheFragment) {
  HttpTestServer server({Whole(HttpResponse(200, "OK", "ok"))});
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(system_->HttpGetText(server.Url("/path?q#x")), "ok");
  EXPECT_EQ(system_->HttpGetText(server.Url("/a#b#c")), "ok");
  const auto requests = server.Requests();
  ASSERT_THAT(requests, SizeIs(2));
  EXPECT_EQ(test::ParseRequestHead(requests[0]).requestLine, "GET /path?q HTTP/1.0");
  EXPECT_EQ(test::ParseRequestHead(requests[1]).requestLine, "GET /a HTTP/1.0");
}

TEST_F(HttpGetTextTest, GivesAnEmptyArrayWhenNothingCanBeFetched) {
  EXPECT_EQ(system_->HttpGetText(""), "");
  // Only a fragment: nothing is left to ask for.
  EXPECT_EQ(system_->HttpGetText("#http://127.0.0.1/"), "");
  EXPECT_EQ(system_->HttpGetText("not a url"), "");
  const std::uint16_t closed = test::sock::UnusedLoopbackPort();
  ASSERT_NE(closed, 0);
  EXPECT_EQ(system_->HttpGetText("http://127.0.0.1:" + std::to_string(closed) + "/flq/v.php?v=1.0.2"), "");
}

TEST_F(HttpGetTextTest, GivesAnEmptyArrayWhenTheServerHangsUpWithoutAnswering) {
  HttpTestServer server({});
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(system_->HttpGetText(server.Url("/gone")), "");
  EXPECT_THAT(server.Requests(), SizeIs(1));
}

}  // namespace
}  // namespace quillon::platform
