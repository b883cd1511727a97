// Shared by the fuzz targets: a check that stops the run the way a
// sanitizer does (the input is kept as a crash artifact), and a reader that
// takes an input apart into the pieces a target needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#define VRT_FUZZ_CHECK(condition, message)                                                   \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #condition, \
                   message);                                                                 \
      std::abort();                                                                          \
    }                                                                                        \
  } while (false)

namespace vrt::fuzz {

// Takes bytes off the front of an input; past the end every read gives 0
// or an empty piece, so a short input is still a valid one.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Left() const { return size_ - at_; }
  bool Empty() const { return at_ >= size_; }

  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t Word() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | Byte() << 8);
  }
  std::uint32_t DoubleWord() {
    const std::uint32_t low = Word();
    return low | static_cast<std::uint32_t>(Word()) << 16;
  }
  // `count` bytes (fewer at the end of the input).
  std::vector<std::uint8_t> Bytes(std::size_t count) {
    const std::size_t taken = count < Left() ? count : Left();
    std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + taken);
    at_ += taken;
    return bytes;
  }
  std::vector<std::uint8_t> Rest() { return Bytes(Left()); }
  // Text up to the next line feed (not included) or the end.
  std::string Line() {
    std::string line;
    while (at_ < size_ && data_[at_] != '\n') line += static_cast<char>(data_[at_++]);
    if (at_ < size_) ++at_;
    return line;
  }
  std::string RestText() {
    std::string text(reinterpret_cast<const char*>(data_ + at_), Left());
    at_ = size_;
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Where results go that a target computes only to have them computed.
inline volatile std::size_t keptValue = 0;
inline void Keep(std::size_t value) { keptValue = keptValue + value; }

// Reads every byte of a range, so that a range reaching outside its buffer
// shows under AddressSanitizer at the place that handed it out.
inline void TouchBytes(const void* at, std::size_t count) {
  const volatile std::uint8_t* bytes = static_cast<const volatile std::uint8_t*>(at);
  std::size_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
  Keep(sum);
}

// A heap copy of exactly `count` bytes (none at all for 0), so that a read
// one byte past the end, or any read of an empty buffer, is seen.
inline std::unique_ptr<std::uint8_t[]> ExactCopy(const std::uint8_t* bytes, std::size_t count) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[count]);
  if (count > 0) std::memcpy(copy.get(), bytes, count);
  return copy;
}

}  // namespace vrt::fuzz
