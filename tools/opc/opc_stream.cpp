#include "opc_stream.h"

namespace vrt::tool {
namespace {

// Little-endian reads at an offset the caller has checked.
std::uint16_t Word(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }

std::uint32_t DoubleWord(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint64_t QuadWord(const std::uint8_t* at) {
  return static_cast<std::uint64_t>(DoubleWord(at)) | static_cast<std::uint64_t>(DoubleWord(at + 4)) << 32;
}

}  // namespace

std::optional<DataStream> ParseDataStream(const std::uint8_t* bytes, std::size_t size, bool withTime,
                                          std::size_t variantSize) {
  // A VARIANT holds at least its type word.
  if (bytes == nullptr || size < kStreamGroupHeaderSize || variantSize < 2) return std::nullopt;
  // Every sum below is taken in 64 bits, where a 32-bit count times a header
  // size and a 32-bit offset plus a length cannot wrap.
  const std::uint64_t streamSize = DoubleWord(bytes);
  if (streamSize < kStreamGroupHeaderSize || streamSize > size) return std::nullopt;
  const std::uint64_t itemCount = DoubleWord(bytes + 4);
  const std::uint64_t headerSize = withTime ? kStreamItemHeaderWithTimeSize : kStreamItemHeaderSize;
  const std::uint64_t headersEnd = kStreamGroupHeaderSize + itemCount * headerSize;
  if (headersEnd > streamSize) return std::nullopt;

  DataStream stream;
  stream.clientGroup = DoubleWord(bytes + 8);
  stream.transactionId = DoubleWord(bytes + 12);
  stream.status = DoubleWord(bytes + 16);
  stream.values.reserve(static_cast<std::size_t>(itemCount));
  for (std::uint64_t i = 0; i < itemCount; ++i) {
    const std::uint8_t* header = bytes + static_cast<std::size_t>(kStreamGroupHeaderSize + i * headerSize);
    StreamValue value;
    value.clientHandle = DoubleWord(header);
    const std::uint64_t valueOffset = DoubleWord(header + 4);
    value.quality = Word(header + 8);
    if (withTime) value.timeStamp = QuadWord(header + 12);
    // Values follow the item headers; one pointing back into them is as
    // wrong as one pointing past the end.
    if (valueOffset < headersEnd || valueOffset + variantSize > streamSize) return std::nullopt;
    value.valueOffset = static_cast<std::size_t>(valueOffset);
    value.varType = Word(bytes + value.valueOffset);
    if (value.varType == kTextVarType) {
      const std::uint64_t lengthAt = valueOffset + variantSize;
      if (lengthAt + 4 > streamSize) return std::nullopt;
      const std::uint64_t byteLength = DoubleWord(bytes + static_cast<std::size_t>(lengthAt));
      // UTF-16: whole characters only.
      if (byteLength % 2 != 0 || lengthAt + 4 + byteLength > streamSize) return std::nullopt;
      const std::uint8_t* characters = bytes + static_cast<std::size_t>(lengthAt + 4);
      value.hasText = true;
      value.text.reserve(static_cast<std::size_t>(byteLength / 2));
      for (std::size_t c = 0; c < byteLength; c += 2) value.text.push_back(static_cast<char16_t>(Word(characters + c)));
    }
    stream.values.push_back(std::move(value));
  }
  return stream;
}

bool IsSelfContainedVarType(std::uint16_t varType) {
  switch (varType) {
    case 0:   // EMPTY
    case 1:   // NULL
    case 2:   // I2
    case 3:   // I4
    case 4:   // R4
    case 5:   // R8
    case 6:   // CY
    case 7:   // DATE
    case 10:  // ERROR
    case 11:  // BOOL
    case 14:  // DECIMAL
    case 16:  // I1
    case 17:  // UI1
    case 18:  // UI2
    case 19:  // UI4
    case 20:  // I8
    case 21:  // UI8
    case 22:  // INT
    case 23:  // UINT
      return true;
    default:
      return false;  // BSTR, DISPATCH, UNKNOWN, VARIANT, RECORD, any array or reference
  }
}

}  // namespace vrt::tool
