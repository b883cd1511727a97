#include "frame_assembler.h"

#include <cctype>

namespace vrt {

void FrameAssembler::Append(const std::uint8_t* bytes, std::size_t count) {
  pending_.insert(pending_.end(), bytes, bytes + count);
}

std::optional<std::vector<std::uint8_t>> FrameAssembler::Next() {
  while (pending_.size() >= 2) {
    const std::size_t total = static_cast<std::size_t>(pending_[1]) + 3;
    if (pending_.size() < total) return std::nullopt;
    if (total > kMaxFrame) {
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(total));
      ++discarded_;
      continue;
    }
    std::vector<std::uint8_t> frame(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(total));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(total));
    return frame;
  }
  return std::nullopt;
}

bool ParseEndpoint(const std::string& text, Endpoint* endpoint) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size() || colon + 6 < text.size()) return false;
  unsigned long port = 0;
  for (std::size_t i = colon + 1; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    port = port * 10 + static_cast<unsigned long>(text[i] - '0');
  }
  if (port == 0 || port > 65535) return false;
  const std::string host = text.substr(0, colon);
  for (char c : host) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
  }
  endpoint->host = host;
  endpoint->port = static_cast<std::uint16_t>(port);
  return true;
}

Endpoint DefaultEndpoint(int card) { return Endpoint{"127.0.0.1", static_cast<std::uint16_t>(5820 + card)}; }

}  // namespace vrt
