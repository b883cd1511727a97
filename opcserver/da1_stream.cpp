#include "da1_stream.h"

#include <algorithm>
#include <cstring>

namespace vrt::opc {

namespace {

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}
void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void Put64(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value) {
  Put32(bytes, at, static_cast<std::uint32_t>(value));
  Put32(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t TextBytes(const StreamItem& item) { return static_cast<std::uint32_t>(item.text.size() * 2); }

}  // namespace

std::size_t ValueSize(const StreamItem& item, std::size_t variantSize) {
  return variantSize + (item.hasText ? 4 + TextBytes(item) : 0);
}

std::vector<std::uint8_t> BuildDataStream(const StreamHeader& header, const std::vector<StreamItem>& items,
                                          bool withTime, std::size_t variantSize) {
  const std::size_t itemHeader = withTime ? kItemHeaderWithTimeSize : kItemHeaderSize;
  std::size_t size = kGroupHeaderSize + items.size() * itemHeader;
  for (const StreamItem& item : items) size += ValueSize(item, variantSize);
  std::vector<std::uint8_t> bytes(size, 0);
  Put32(bytes, 0, static_cast<std::uint32_t>(size));
  Put32(bytes, 4, static_cast<std::uint32_t>(items.size()));
  Put32(bytes, 8, header.clientGroup);
  Put32(bytes, 12, header.transactionId);
  Put32(bytes, 16, 0);  // hrStatus
  std::size_t value = kGroupHeaderSize + items.size() * itemHeader;
  for (std::size_t k = 0; k < items.size(); ++k) {
    const StreamItem& item = items[k];
    const std::size_t at = kGroupHeaderSize + k * itemHeader;
    Put32(bytes, at, item.clientHandle);
    Put32(bytes, at + 4, static_cast<std::uint32_t>(value));
    Put16(bytes, at + 8, item.quality);
    Put16(bytes, at + 10, 0);
    if (withTime) Put64(bytes, at + 12, item.timeStamp);
    std::memcpy(bytes.data() + value, item.variant.data(), std::min(item.variant.size(), variantSize));
    value += variantSize;
    if (item.hasText) {
      const std::uint32_t length = TextBytes(item);
      Put32(bytes, value, length);
      for (std::size_t c = 0; c < item.text.size(); ++c) Put16(bytes, value + 4 + 2 * c, item.text[c]);
      value += 4 + length;
    }
  }
  return bytes;
}

std::vector<std::uint8_t> BuildWriteCompleteStream(const StreamHeader& header, const std::vector<WriteResult>& items) {
  std::vector<std::uint8_t> bytes(kWriteGroupHeaderSize + items.size() * kWriteItemHeaderSize, 0);
  Put32(bytes, 0, static_cast<std::uint32_t>(items.size()));
  Put32(bytes, 4, header.clientGroup);
  Put32(bytes, 8, header.transactionId);
  Put32(bytes, 12, 0);
  for (std::size_t k = 0; k < items.size(); ++k) {
    Put32(bytes, kWriteGroupHeaderSize + k * kWriteItemHeaderSize, items[k].clientHandle);
    Put32(bytes, kWriteGroupHeaderSize + k * kWriteItemHeaderSize + 4, items[k].error);
  }
  return bytes;
}

}  // namespace vrt::opc
