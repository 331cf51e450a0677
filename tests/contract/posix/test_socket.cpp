// Loopback sockets for the test server: BSD sockets.
#include "tests/contract/test_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace quillon::test::sock {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

Handle BoundLoopback(std::uint16_t* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalid;
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return kInvalid;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

Handle ListenLoopback(std::uint16_t* port) {
  const Handle fd = BoundLoopback(port);
  if (fd != kInvalid && ::listen(static_cast<int>(fd), 16) != 0) {
    ::close(static_cast<int>(fd));
    return kInvalid;
  }
  return fd;
}

Handle Accept(Handle listener, int milliseconds) {
  for (;;) {
    const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      timeval timeout{};
      timeout.tv_sec = milliseconds / 1000;
      timeout.tv_usec = (milliseconds % 1000) * 1000;
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
      return fd;
    }
    if (errno != EINTR) return kInvalid;
  }
}

Handle ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalid;
  const sockaddr_in address = Loopback(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return kInvalid;
  }
  return fd;
}

long Receive(Handle socket, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::recv(static_cast<int>(socket), buffer, size, 0);
    if (got >= 0 || errno != EINTR) return static_cast<long>(got);
  }
}

bool SendAll(Handle socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void ShutdownSend(Handle socket) { ::shutdown(static_cast<int>(socket), SHUT_WR); }

void Close(Handle socket) {
  if (socket != kInvalid) ::close(static_cast<int>(socket));
}

std::uint16_t UnusedLoopbackPort() {
  std::uint16_t port = 0;
  Close(BoundLoopback(&port));
  return port;
}

}  // namespace quillon::test::sock
