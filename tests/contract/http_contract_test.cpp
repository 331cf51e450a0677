// HttpGetText of the System backend against a server on 127.0.0.1 that the
// test runs itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/system_factory.h"
#include "quillon/site.h"
#include "tests/contract/http_test_server.h"
#include "tests/contract/process_memory.h"

namespace quillon::platform {
namespace {

using test::HttpReply;
using test::HttpResponse;
using test::HttpTestServer;
using test::PeakResidentBytes;
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

// The gate's request for version 1.0.2 on the test server.
std::string GateTarget() { return std::string(kVersionGatePath) + "?v=1.0.2"; }

class HttpGetTextTest : public ::testing::Test {
 protected:
  std::unique_ptr<System> system_ = MakeSystem({});
};

TEST_F(HttpGetTextTest, ReturnsTheBodyWhateverTheStatus) {
  HttpTestServer server({Whole(HttpResponse(200, "OK", "hello, world")), Whole(HttpResponse(404, "Not Found", "1")),
                         Whole(HttpResponse(500, "Internal Server Error", "broken"))});
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(system_->HttpGetText(server.Url("/a")), "hello, world");
  const ByteArray notFound = system_->HttpGetText(server.Url(GateTarget()));
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

TEST_F(HttpGetTextTest, ReadsABodyUpToTheLimitWholeAndFailsOneByteMore) {
  const std::string full = PatternBody(kHttpBodyLimit);
  const std::string over = PatternBody(kHttpBodyLimit + 1);
  HttpTestServer server({Whole(HttpResponse(200, "OK", full, true)), Whole(HttpResponse(200, "OK", full, false)),
                         Whole(HttpResponse(200, "OK", over, true)), Whole(HttpResponse(200, "OK", over, false))});
  ASSERT_TRUE(server.Listening());
  EXPECT_TRUE(system_->HttpGetText(server.Url("/with")) == full);
  EXPECT_TRUE(system_->HttpGetText(server.Url("/without")) == full);
  EXPECT_EQ(system_->HttpGetText(server.Url("/over-with")), "");
  EXPECT_EQ(system_->HttpGetText(server.Url("/over-without")), "");
}

TEST_F(HttpGetTextTest, ReadsUntilTheServerSendsNoMore) {
  // The body comes in three parts with pauses between them; an answer that
  // announces no length ends only when the server closes.
  const std::string head = HttpResponse(200, "OK", "", false);
  const std::string first = PatternBody(2000);
  HttpTestServer server({HttpReply{{head + first, "second part;", "third part"}, std::chrono::milliseconds(150)}});
  ASSERT_TRUE(server.Listening());
  EXPECT_TRUE(system_->HttpGetText(server.Url("/slow")) == first + "second part;third part");
}

TEST_F(HttpGetTextTest, SendsAnHttp10GetWithTheAgentAndAcceptingAnything) {
  HttpTestServer server({Whole(HttpResponse(200, "OK", "1"))});
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(system_->HttpGetText(server.Url(GateTarget())), "1");
  const auto requests = server.Requests();
  ASSERT_THAT(requests, SizeIs(1));
  const test::RequestHead head = test::ParseRequestHead(requests[0]);
  EXPECT_EQ(head.requestLine, "GET " + GateTarget() + " HTTP/1.0");
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
  EXPECT_EQ(system_->HttpGetText("http://127.0.0.1:" + std::to_string(closed) + GateTarget()), "");
}

TEST_F(HttpGetTextTest, GivesAnEmptyArrayWhenTheServerHangsUpWithoutAnswering) {
  HttpTestServer server({});
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(system_->HttpGetText(server.Url("/gone")), "");
  EXPECT_THAT(server.Requests(), SizeIs(1));
}

// ---- What a server on the gate's address can do to the program ----------

TEST_F(HttpGetTextTest, FollowsNoRedirectAndTakesItsBody) {
  // Were a redirect followed, its request would get the next reply.
  const std::vector<int> statuses{301, 302, 303, 307, 308};
  std::vector<HttpReply> replies;
  for (int status : statuses) {
    replies.push_back(Whole(HttpResponse(status, "Moved", "moved " + std::to_string(status), true,
                                         "Location: " + GateTarget() + "&moved\r\n")));
  }
  HttpTestServer server(replies);
  ASSERT_TRUE(server.Listening());
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    EXPECT_EQ(system_->HttpGetText(server.Url(GateTarget())), "moved " + std::to_string(statuses[i]));
    EXPECT_THAT(server.Requests(), SizeIs(i + 1)) << statuses[i];
  }
}

// An answer that passes the gate, sent a byte at a time.
HttpReply Dripped(const std::string& answer) {
  HttpReply reply{{}, std::chrono::milliseconds(250)};
  for (char c : answer) reply.pieces.emplace_back(1, c);
  return reply;
}

TEST_F(HttpGetTextTest, GivesUpOnADrippingServerWithinTheTimeout) {
  // Sent whole, either answer would pass the gate after about 15 s: one
  // drips its head, the other a body of "1" and NUL bytes.
  HttpReply head = Dripped(HttpResponse(200, "OK", "1"));
  HttpReply body = Dripped(std::string(60, '\0'));
  body.pieces.insert(body.pieces.begin(), HttpResponse(200, "OK", "", false) + "1");
  HttpTestServer server({head, body});
  ASSERT_TRUE(server.Listening());
  for (const char* path : {"/head", "/body"}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(system_->HttpGetText(server.Url(path)), "") << path;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(took.count(), kHttpTimeoutMs + 3000) << path;
  }
}

TEST_F(HttpGetTextTest, StopsAtTheLimitOfABodyWithoutEndHoldingLittleMemory) {
  // 256 MiB after a head without a length, and 32 MiB after one announcing
  // 1 GiB (which WinINet may still read out, and drop, after the request
  // has failed).
  HttpReply endless{{HttpResponse(200, "OK", "1", false)}, {}, std::size_t{256} << 20};
  HttpReply announced{{"HTTP/1.0 200 OK\r\nContent-Length: 1073741824\r\n\r\n1"}, {}, std::size_t{32} << 20};
  HttpTestServer server({endless, announced});
  ASSERT_TRUE(server.Listening());
  const std::size_t before = PeakResidentBytes();
  ASSERT_GT(before, 0u);
  for (const char* path : {"/endless", "/announced"}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(system_->HttpGetText(server.Url(path)), "") << path;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(took.count(), kHttpTimeoutMs + 3000) << path;
  }
  EXPECT_LT(PeakResidentBytes() - before, std::size_t{16} << 20);
  // The client hung up on the body without end long before its end.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (server.Sent().empty() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(server.Sent().empty());
  EXPECT_LT(server.Sent().front(), endless.streamBytes / 4);
}

}  // namespace
}  // namespace quillon::platform
