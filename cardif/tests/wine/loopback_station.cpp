#include "loopback_station.h"

#include <ws2tcpip.h>

namespace vrt::testing {

namespace {
bool WaitReadable(SOCKET s, std::chrono::milliseconds timeout) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait{static_cast<long>(timeout.count() / 1000), static_cast<long>((timeout.count() % 1000) * 1000)};
  return select(0, &readable, nullptr, nullptr, &wait) > 0;
}
}  // namespace

LoopbackStation::LoopbackStation(std::uint16_t port) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL reuse = TRUE;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 4) != 0) {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return;
  }
  int length = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

LoopbackStation::~LoopbackStation() { Close(); }

bool LoopbackStation::Accept(std::chrono::milliseconds timeout) {
  if (listener_ == INVALID_SOCKET || !WaitReadable(listener_, timeout)) return false;
  connection_ = accept(listener_, nullptr, nullptr);
  return connection_ != INVALID_SOCKET;
}

std::vector<std::uint8_t> LoopbackStation::Read(std::size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> bytes;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (bytes.size() < count && connection_ != INVALID_SOCKET) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitReadable(connection_, left)) break;
    std::uint8_t buffer[512];
    const int wanted = static_cast<int>(std::min<std::size_t>(sizeof buffer, count - bytes.size()));
    const int got = recv(connection_, reinterpret_cast<char*>(buffer), wanted, 0);
    if (got <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

bool LoopbackStation::Write(const std::vector<std::uint8_t>& bytes) {
  return connection_ != INVALID_SOCKET &&
         send(connection_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0) ==
             static_cast<int>(bytes.size());
}

void LoopbackStation::Close() {
  if (connection_ != INVALID_SOCKET) closesocket(connection_);
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  connection_ = INVALID_SOCKET;
  listener_ = INVALID_SOCKET;
}

}  // namespace vrt::testing
