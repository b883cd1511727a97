// A TCP peer on 127.0.0.1 standing where a station network would be: the
// tests send frames through TavexDll and the card server to it and let it
// answer with bytes of their choosing.
#pragma once

#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace vrt::testing {

class LoopbackStation {
 public:
  // Listens on `port` (0: any free port).
  explicit LoopbackStation(std::uint16_t port = 0);
  ~LoopbackStation();

  std::uint16_t Port() const { return port_; }
  // Waits for the card server to connect.
  bool Accept(std::chrono::milliseconds timeout);
  // Reads exactly `count` bytes.
  std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout);
  bool Write(const std::vector<std::uint8_t>& bytes);
  // Closes the connection and stops listening.
  void Close();

 private:
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET connection_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
};

}  // namespace vrt::testing
