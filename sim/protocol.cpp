#include "protocol.h"

namespace vrt::sim {

void FrameAssembler::Add(std::span<const std::uint8_t> bytes, std::vector<std::vector<std::uint8_t>>* frames) {
  for (std::uint8_t byte : bytes) {
    pending_.push_back(byte);
    if (pending_.size() >= 2 && pending_.size() == static_cast<std::size_t>(pending_[1]) + kFrameHeaderSize) {
      frames->push_back(std::move(pending_));
      pending_.clear();
    }
  }
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text.push_back(' ');
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

}  // namespace vrt::sim
