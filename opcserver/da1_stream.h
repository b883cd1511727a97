// The OPC DA 1.0 data streams, built over bytes: a group header, one item
// header per item, then the values in item order, each a raw copy of the
// VARIANT and, for a text, its byte length and its characters (no
// terminating zero). The size of a VARIANT is the build's: 16 bytes in a
// 32-bit process, 24 in a 64-bit one, and the offsets follow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrt::opc {

inline constexpr std::size_t kGroupHeaderSize = 20;
inline constexpr std::size_t kItemHeaderWithTimeSize = 20;  // DATATIME
inline constexpr std::size_t kItemHeaderSize = 12;          // DATA
inline constexpr std::size_t kWriteGroupHeaderSize = 16;
inline constexpr std::size_t kWriteItemHeaderSize = 8;

struct StreamItem {
  std::uint32_t clientHandle = 0;
  std::uint16_t quality = 0;
  std::uint64_t timeStamp = 0;           // FILETIME
  std::vector<std::uint8_t> variant;     // the VARIANT's bytes, as large as the build's VARIANT
  bool hasText = false;                  // VT_BSTR: the text follows
  std::u16string text;
};

struct StreamHeader {
  std::uint32_t clientGroup = 0;
  std::uint32_t transactionId = 0;  // 0 for subscription updates
};

// The bytes one item's value takes.
std::size_t ValueSize(const StreamItem& item, std::size_t variantSize);
// A DATA (withTime false) or DATATIME stream.
std::vector<std::uint8_t> BuildDataStream(const StreamHeader& header, const std::vector<StreamItem>& items,
                                          bool withTime, std::size_t variantSize);

struct WriteResult {
  std::uint32_t clientHandle = 0;
  std::uint32_t error = 0;
};
std::vector<std::uint8_t> BuildWriteCompleteStream(const StreamHeader& header, const std::vector<WriteResult>& items);

}  // namespace vrt::opc
