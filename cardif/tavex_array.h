// Frames as the card server sees them: zero-based arrays of 32-bit integers
// with the frame's bytes spread over fixed elements.
//
//   element 1   station (byte 0 of the frame)
//   element 3   the card's handle when sending; the station when receiving
//   element 5   count (byte 1)
//   element 7.. command and data (bytes 2 onward)
//   elements 0, 2, 4 and 6 are 0
//
// A frame of L bytes thus takes L + 5 elements. Bytes are widened with their
// sign, so 0x80..0xFF travel as negative integers; readers take low bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vrt {

inline constexpr std::size_t kFrameBufferSize = 256;
inline constexpr int kFirstDataElement = 7;

// TavexReceive's results.
enum TavexReceiveResult : std::int16_t {
  kReceiveOk = 0,
  kReceiveNoServer = 1,  // also the card's "nothing waiting" status
  kReceiveArrayTooShort = 3,
  kReceiveArrayShorterThanCount = 4,
  kReceiveCallFailed = 5,
};

// The array TavexSend hands to the card server for a frame of `length` bytes
// (at least 2: station and count).
std::vector<std::int32_t> SendArrayFor(const std::uint8_t* frame, std::size_t length, std::int32_t handle);

// The frame bytes a send array carries: station, count, then elements 7 on.
std::vector<std::uint8_t> FrameOfSendArray(const std::int32_t* elements, std::size_t elementCount);

// The array the card server returns for a received frame: station in element
// 3, count in element 5, the bytes after the count from element 7 on.
std::vector<std::int32_t> ReceiveArrayFor(const std::uint8_t* frame, std::size_t length);

// Copies a received array into the caller's 256-byte buffer. On success the
// length is count + 3; on any failure it is 0 and nothing is written past
// the buffer: an array whose bytes would not fit is refused as
// kReceiveArrayShorterThanCount.
std::int16_t CopyReceiveArray(const std::int32_t* elements, long upperBound, std::uint8_t* buffer,
                              std::uint16_t* length);

}  // namespace vrt
