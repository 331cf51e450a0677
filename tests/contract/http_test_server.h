// A small HTTP server on 127.0.0.1 for the backend's HTTP tests. It runs in a
// thread of the test process, answers one connection at a time with scripted
// raw bytes, and records the head of every request it receives.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/contract/test_socket.h"

namespace quillon::test {

// What the server sends for one request: the pieces in order, with a pause
// before every piece but the first; then `streamBytes` more bytes (a body
// without end, as far as a client can tell), as fast as the client takes
// them; then it ends the connection. It stops early when the client has
// hung up.
struct HttpReply {
  std::vector<std::string> pieces;
  std::chrono::milliseconds pause{0};
  std::size_t streamBytes = 0;
};

// A whole HTTP/1.0 answer: status line, a text content type, the given extra
// header lines (each ending in CR LF), Content-Length when `withLength`.
std::string HttpResponse(int status, const std::string& reason, const std::string& body,
                         bool withLength = true, const std::string& extraHeaders = {});

class HttpTestServer {
 public:
  // Request n gets replies[n]; requests after the last reply get the last one.
  // No replies: every connection is closed without an answer.
  explicit HttpTestServer(std::vector<HttpReply> replies);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  bool Listening() const { return listener_ != sock::kInvalid; }
  std::uint16_t Port() const { return port_; }
  // "http://127.0.0.1:PORT" followed by `rest` (a path, query, fragment).
  std::string Url(const std::string& rest) const;
  // The heads (request line and header lines, up to the blank line) of the
  // requests received so far, in order.
  std::vector<std::string> Requests() const;
  // The bytes sent on each connection answered so far, in order.
  std::vector<std::size_t> Sent() const;

 private:
  void Serve();
  std::size_t Answer(sock::Handle connection, const HttpReply& reply);

  std::vector<HttpReply> replies_;
  std::uint16_t port_ = 0;
  sock::Handle listener_ = sock::kInvalid;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::size_t> sent_;
  bool stopping_ = false;
  std::thread thread_;
};

// One request head taken apart; header names are kept as sent.
struct RequestHead {
  std::string requestLine;
  std::vector<std::pair<std::string, std::string>> headers;
  // Values of every header with this name (ASCII case ignored).
  std::vector<std::string> Values(const std::string& name) const;
};
RequestHead ParseRequestHead(const std::string& head);

}  // namespace quillon::test
