// Cutting the byte stream of one card's TCP connection into frames. On the
// wire a frame is station, count, command and `count` further bytes:
// count + 3 bytes with no other framing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace vrt {

class FrameAssembler {
 public:
  // The largest frame the suite can take (its receive buffer).
  static constexpr std::size_t kMaxFrame = 256;

  void Append(const std::uint8_t* bytes, std::size_t count);
  // The next complete frame, if one has arrived. Frames longer than
  // kMaxFrame are skipped whole and counted.
  std::optional<std::vector<std::uint8_t>> Next();
  // Forgets a partly received frame (the connection was lost).
  void Reset() { pending_.clear(); }
  std::uint32_t Discarded() const { return discarded_; }

 private:
  std::deque<std::uint8_t> pending_;
  std::uint32_t discarded_ = 0;
};

struct Endpoint {
  std::string host;
  std::uint16_t port = 0;
};

// "host:port" (an IPv4 address or a name); false for anything else.
bool ParseEndpoint(const std::string& text, Endpoint* endpoint);
// Card n's endpoint when none is configured: 127.0.0.1:<5820 + n>.
Endpoint DefaultEndpoint(int card);

}  // namespace vrt
