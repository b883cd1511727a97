// Tavex frames as the stations see them: station, count, command, then
// `count` further bytes, `count + 3` bytes in all, in both directions and
// with no other framing on the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vrt::sim {

inline constexpr std::size_t kFrameHeaderSize = 3;  // station, count, command
inline constexpr std::size_t kMaxFrameSize = 255 + kFrameHeaderSize;
// The driver receives into a 256-byte area, so no reply may be longer.
inline constexpr std::size_t kMaxReplySize = 256;

// Commands and sub-commands.
inline constexpr std::uint8_t kCommandReadWords = 0x64;
inline constexpr std::uint8_t kCommandWriteWords = 0x66;
inline constexpr std::uint8_t kCommandRecorder = 0x0F;
inline constexpr std::uint8_t kRecorderNextEvent = 0x11;
inline constexpr std::uint8_t kRecorderRepeatEvent = 0x13;
inline constexpr std::uint8_t kRecorderTimeSync = 0x0A;
inline constexpr std::uint8_t kCommandToravine = 0x56;
inline constexpr std::uint8_t kToravineRequestMark = 0x63;
inline constexpr std::uint8_t kToravineTrailerMark = 0x58;

// Negative acknowledgements the stations give; the driver takes reply codes
// 30 to 40 as negative acknowledgements.
inline constexpr std::uint8_t kNakUnknownCommand = 30;  // command or sub-command not served by this station
inline constexpr std::uint8_t kNakBadAddress = 31;      // register range outside 0..2047
inline constexpr std::uint8_t kNakBadLength = 32;       // count does not fit the command
inline constexpr std::uint8_t kNakBadData = 33;         // e.g. a time sync naming no real time

// Registers are addressed with 11 bits.
inline constexpr int kRegisterCount = 2048;
// Largest read: the data reply (6 + 2n bytes) must fit the driver's area.
inline constexpr int kMaxReadWords = static_cast<int>((kMaxReplySize - 6) / 2);

// Event replies (event request and TORAVINE request) are 15 bytes long.
inline constexpr std::size_t kEventReplySize = 15;

// Splits a byte stream into frames. A frame is complete when count + 3
// bytes have arrived; whatever follows starts the next frame.
class FrameAssembler {
 public:
  // Adds received bytes; complete frames are appended to `frames`.
  void Add(std::span<const std::uint8_t> bytes, std::vector<std::vector<std::uint8_t>>* frames);

  // Bytes of a frame begun but not complete.
  std::size_t PendingSize() const { return pending_.size(); }

  // Forgets a partial frame (after the line has been quiet too long), so the
  // next byte is taken as the start of a new frame.
  void Discard() { pending_.clear(); }

 private:
  std::vector<std::uint8_t> pending_;
};

// Formats bytes as "01 03 64 00 00 02".
std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace vrt::sim
