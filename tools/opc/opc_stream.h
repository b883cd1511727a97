// Reading the data streams a group sends to an IAdviseSink (the DA 1.0
// path): a group header, one item header per item, then the values, each a
// raw copy of a VARIANT and, for a text, its byte length and characters.
// No Windows here: the bytes come in as bytes, the size of a VARIANT as a
// number (16 in a 32-bit process, 24 in a 64-bit one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrt::tool {

inline constexpr std::size_t kStreamGroupHeaderSize = 20;
inline constexpr std::size_t kStreamItemHeaderWithTimeSize = 20;
inline constexpr std::size_t kStreamItemHeaderSize = 12;
inline constexpr std::uint16_t kTextVarType = 8;  // VT_BSTR

struct StreamValue {
  std::uint32_t clientHandle = 0;
  std::uint16_t quality = 0;
  std::uint64_t timeStamp = 0;  // FILETIME; 0 in a stream without time stamps
  std::size_t valueOffset = 0;  // of the VARIANT copy, counted from the stream's first byte
  std::uint16_t varType = 0;    // the VARIANT copy's first two bytes
  bool hasText = false;         // a text: `text` holds its characters
  std::u16string text;
};

struct DataStream {
  std::uint32_t clientGroup = 0;
  std::uint32_t transactionId = 0;
  std::uint32_t status = 0;
  std::vector<StreamValue> values;  // in the order of the item headers
};

// Reads a stream of `size` bytes, with time stamps (OPCSTMFORMATDATATIME) or
// without (OPCSTMFORMATDATA). The bytes come from another component, so
// every size, count and offset is checked against what was given: a stream
// claiming more bytes than it has, item headers or values outside it, a value
// inside the headers or a text running past the end give nothing at all.
// The stream may be shorter than `size` (a memory block can be larger than
// its contents); only the bytes the stream claims are read.
std::optional<DataStream> ParseDataStream(const std::uint8_t* bytes, std::size_t size, bool withTime,
                                          std::size_t variantSize);

// Whether a VARIANT of this type may be used as copied from a stream: its
// value lies entirely in the VARIANT's own bytes. References, arrays,
// interfaces and records point elsewhere, and a copied pointer means nothing
// in the receiver (texts come with their characters and are rebuilt).
bool IsSelfContainedVarType(std::uint16_t varType);

}  // namespace vrt::tool
