// The few blocking TCP calls the loopback test server needs, one
// implementation per system (posix/ and win32/ below this folder).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon::test::sock {

using Handle = std::intptr_t;
inline constexpr Handle kInvalid = -1;

// A socket listening on 127.0.0.1 at a port the system picks; `port`
// receives it. kInvalid on failure.
Handle ListenLoopback(std::uint16_t* port);
// The accepted connection gives up a receive, or a send the peer does not
// take, after `milliseconds`.
Handle Accept(Handle listener, int milliseconds);
Handle ConnectLoopback(std::uint16_t port);
// Bytes received (> 0), 0 when the peer has closed, < 0 on error.
long Receive(Handle socket, char* buffer, std::size_t size);
bool SendAll(Handle socket, const char* data, std::size_t size);
// Ends the sending direction, so the peer reads the end of the stream.
void ShutdownSend(Handle socket);
void Close(Handle socket);
// A loopback port on which nothing listens (bound once, then released).
std::uint16_t UnusedLoopbackPort();

}  // namespace quillon::test::sock
