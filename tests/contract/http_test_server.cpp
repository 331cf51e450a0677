#include "tests/contract/http_test_server.h"

#include <algorithm>
#include <cctype>

namespace quillon::test {

namespace {

constexpr std::size_t kHeadLimit = 64 * 1024;
// A client that neither sends nor closes cannot hold the server for ever.
constexpr int kReceiveTimeoutMs = 5000;

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string HttpResponse(int status, const std::string& reason, const std::string& body, bool withLength,
                         const std::string& extraHeaders) {
  std::string response = "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\n";
  response += "Content-Type: text/plain\r\n";
  response += extraHeaders;
  if (withLength) response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  response += "\r\n";
  response += body;
  return response;
}

HttpTestServer::HttpTestServer(std::vector<HttpReply> replies) : replies_(std::move(replies)) {
  listener_ = sock::ListenLoopback(&port_);
  if (listener_ != sock::kInvalid) thread_ = std::thread([this] { Serve(); });
}

HttpTestServer::~HttpTestServer() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    // Wakes the blocking accept; the server sees the flag and ends.
    sock::Close(sock::ConnectLoopback(port_));
    thread_.join();
  }
  sock::Close(listener_);
}

std::string HttpTestServer::Url(const std::string& rest) const {
  return "http://127.0.0.1:" + std::to_string(port_) + rest;
}

std::vector<std::string> HttpTestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::size_t> HttpTestServer::Sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

void HttpTestServer::Serve() {
  for (std::size_t served = 0;; ++served) {
    const sock::Handle connection = sock::Accept(listener_, kReceiveTimeoutMs);
    {
      std::lock_guard lock(mutex_);
      if (stopping_ || connection == sock::kInvalid) {
        sock::Close(connection);
        return;
      }
    }
    // Reads the head: everything up to the blank line (a GET has no body).
    std::string received;
    char buffer[4096];
    std::size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos && received.size() < kHeadLimit) {
      const long got = sock::Receive(connection, buffer, sizeof buffer);
      if (got <= 0) break;
      received.append(buffer, static_cast<std::size_t>(got));
      headEnd = received.find("\r\n\r\n");
    }
    if (headEnd != std::string::npos) {
      std::lock_guard lock(mutex_);
      requests_.push_back(received.substr(0, headEnd + 2));
    }
    if (!replies_.empty()) {
      const std::size_t sent = Answer(connection, replies_[std::min(served, replies_.size() - 1)]);
      std::lock_guard lock(mutex_);
      sent_.push_back(sent);
    }
    // A graceful end: the client reads every byte and then the end of the
    // stream, and no reset can overtake data still in flight.
    sock::ShutdownSend(connection);
    while (sock::Receive(connection, buffer, sizeof buffer) > 0) {
    }
    sock::Close(connection);
  }
}

std::size_t HttpTestServer::Answer(sock::Handle connection, const HttpReply& reply) {
  std::size_t sent = 0;
  for (std::size_t i = 0; i < reply.pieces.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(reply.pause);
    if (!sock::SendAll(connection, reply.pieces[i].data(), reply.pieces[i].size())) return sent;
    sent += reply.pieces[i].size();
  }
  const std::string block(64 * 1024, 'x');
  for (std::size_t left = reply.streamBytes; left > 0;) {
    const std::size_t n = std::min(left, block.size());
    if (!sock::SendAll(connection, block.data(), n)) return sent;
    sent += n;
    left -= n;
  }
  return sent;
}

std::vector<std::string> RequestHead::Values(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (SameIgnoringAsciiCase(key, name)) values.push_back(value);
  }
  return values;
}

RequestHead ParseRequestHead(const std::string& head) {
  RequestHead parsed;
  std::size_t start = 0;
  bool first = true;
  while (start < head.size()) {
    std::size_t end = head.find("\r\n", start);
    if (end == std::string::npos) end = head.size();
    const std::string line = head.substr(start, end - start);
    start = end + 2;
    if (first) {
      parsed.requestLine = line;
      first = false;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::size_t valueStart = colon + 1;
    while (valueStart < line.size() && (line[valueStart] == ' ' || line[valueStart] == '\t')) ++valueStart;
    parsed.headers.emplace_back(line.substr(0, colon), line.substr(valueStart));
  }
  return parsed;
}

}  // namespace quillon::test
