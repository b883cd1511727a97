// The thin socket layer under the simulator: TCP on the loopback interface
// only. net_posix.cpp implements it with BSD sockets, net_win32.cpp with
// Winsock; everything above it is the same on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vrt::sim::net {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Once per process before any other call (Winsock needs it).
bool StartNetworking(std::string* error);

// A non-blocking listening socket on 127.0.0.1:port (0: any free port).
SocketHandle ListenOnLoopback(std::uint16_t port, std::string* error);
// The port a socket is bound to, 0 when unknown.
std::uint16_t BoundPort(SocketHandle socket);
// A waiting connection made non-blocking, or kNoSocket when none waits.
SocketHandle AcceptConnection(SocketHandle listener);
// A blocking connection to 127.0.0.1:port (for tests and tools).
SocketHandle ConnectToLoopback(std::uint16_t port, std::string* error);

// Transfers on a socket: > 0 bytes moved; 0 the peer closed (receive only);
// kWouldBlock nothing can move now; kFailed the connection is broken.
inline constexpr long kWouldBlock = -1;
inline constexpr long kFailed = -2;
long ReceiveSome(SocketHandle socket, std::uint8_t* buffer, std::size_t size);
long SendSome(SocketHandle socket, const std::uint8_t* bytes, std::size_t size);

void CloseSocket(SocketHandle socket);

struct PollItem {
  SocketHandle socket = kNoSocket;
  bool wantWrite = false;
  // Results:
  bool readable = false;  // also set on hang-up and errors, so that the read finds out
  bool writable = false;
};

// Waits until some item is ready or `timeoutMs` passes (0: just look).
// Returns the number of ready items, or -1 on failure.
int PollSockets(std::span<PollItem> items, int timeoutMs);

}  // namespace vrt::sim::net
