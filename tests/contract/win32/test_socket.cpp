// Loopback sockets for the test server: Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/contract/test_socket.h"

namespace quillon::test::sock {

namespace {

bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

SOCKET Native(Handle socket) { return static_cast<SOCKET>(socket); }
Handle Wrap(SOCKET socket) { return socket == INVALID_SOCKET ? kInvalid : static_cast<Handle>(socket); }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

Handle BoundLoopback(std::uint16_t* port) {
  if (!WinsockReady()) return kInvalid;
  const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd == INVALID_SOCKET) return kInvalid;
  sockaddr_in address = Loopback(0);
  int length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(fd);
    return kInvalid;
  }
  *port = ntohs(address.sin_port);
  return Wrap(fd);
}

}  // namespace

Handle ListenLoopback(std::uint16_t* port) {
  const Handle fd = BoundLoopback(port);
  if (fd != kInvalid && ::listen(Native(fd), 16) != 0) {
    ::closesocket(Native(fd));
    return kInvalid;
  }
  return fd;
}

Handle Accept(Handle listener, int milliseconds) {
  const SOCKET fd = ::accept(Native(listener), nullptr, nullptr);
  if (fd != INVALID_SOCKET) {
    const DWORD timeout = static_cast<DWORD>(milliseconds);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  }
  return Wrap(fd);
}

Handle ConnectLoopback(std::uint16_t port) {
  if (!WinsockReady()) return kInvalid;
  const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd == INVALID_SOCKET) return kInvalid;
  const sockaddr_in address = Loopback(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::closesocket(fd);
    return kInvalid;
  }
  return Wrap(fd);
}

long Receive(Handle socket, char* buffer, std::size_t size) {
  return ::recv(Native(socket), buffer, static_cast<int>(size), 0);
}

bool SendAll(Handle socket, const char* data, std::size_t size) {
  while (size > 0) {
    const int sent = ::send(Native(socket), data, static_cast<int>(size), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

void ShutdownSend(Handle socket) { ::shutdown(Native(socket), SD_SEND); }

void Close(Handle socket) {
  if (socket != kInvalid) ::closesocket(Native(socket));
}

std::uint16_t UnusedLoopbackPort() {
  std::uint16_t port = 0;
  Close(BoundLoopback(&port));
  return port;
}

}  // namespace quillon::test::sock
