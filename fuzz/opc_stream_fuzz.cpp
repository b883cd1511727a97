// The OPC client's reader of DA 1.0 data streams (the bytes come from the
// server's memory block): any bytes, with and without time stamps, in both
// VARIANT sizes. Every value it accepts lies inside the stream after the
// headers; built again by the server's own stream builder, the values read
// back the same.
//
// Input: a flag byte (bit 0: time stamps; bit 1: 16-byte VARIANTs), then
// the stream's bytes.
#include <cstring>
#include <vector>

#include "da1_stream.h"
#include "fuzz_check.h"
#include "opc_stream.h"

namespace {

using namespace vrt;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const std::uint8_t flags = input.Byte();
  const bool withTime = (flags & 1) != 0;
  const std::size_t variantSize = (flags & 2) ? 16 : 24;
  const std::vector<std::uint8_t> rest = input.Rest();
  const auto bytes = fuzz::ExactCopy(rest.data(), rest.size());

  const std::optional<tool::DataStream> stream = tool::ParseDataStream(bytes.get(), rest.size(), withTime, variantSize);
  if (!stream) return 0;
  VRT_FUZZ_CHECK(rest.size() >= tool::kStreamGroupHeaderSize, "a stream shorter than its header was read");
  std::uint32_t claimed = 0;
  std::memcpy(&claimed, bytes.get(), 4);
  const std::size_t headerSize = withTime ? tool::kStreamItemHeaderWithTimeSize : tool::kStreamItemHeaderSize;
  const std::size_t headersEnd = tool::kStreamGroupHeaderSize + stream->values.size() * headerSize;
  VRT_FUZZ_CHECK(claimed <= rest.size() && headersEnd <= claimed, "the headers lie outside the stream");

  std::vector<opc::StreamItem> items;
  for (const tool::StreamValue& value : stream->values) {
    VRT_FUZZ_CHECK(value.valueOffset >= headersEnd && value.valueOffset + variantSize <= claimed,
                   "a value lies outside the stream or in its headers");
    fuzz::TouchBytes(bytes.get() + value.valueOffset, variantSize);
    VRT_FUZZ_CHECK(value.hasText == (value.varType == tool::kTextVarType), "a text where there is none, or none read");
    if (value.hasText) {
      VRT_FUZZ_CHECK(value.valueOffset + variantSize + 4 + 2 * value.text.size() <= claimed,
                     "a text runs past the stream");
    }
    VRT_FUZZ_CHECK(withTime || value.timeStamp == 0, "a time stamp from a stream without them");
    opc::StreamItem item;
    item.clientHandle = value.clientHandle;
    item.quality = value.quality;
    item.timeStamp = value.timeStamp;
    item.variant.assign(bytes.get() + value.valueOffset, bytes.get() + value.valueOffset + variantSize);
    item.hasText = value.hasText;
    item.text = value.text;
    items.push_back(std::move(item));
  }

  // The same values as the server lays them out, read back.
  const std::vector<std::uint8_t> rebuilt =
      opc::BuildDataStream({stream->clientGroup, stream->transactionId}, items, withTime, variantSize);
  const std::optional<tool::DataStream> again =
      tool::ParseDataStream(rebuilt.data(), rebuilt.size(), withTime, variantSize);
  VRT_FUZZ_CHECK(again && again->values.size() == stream->values.size(), "a rebuilt stream is not read");
  VRT_FUZZ_CHECK(again->clientGroup == stream->clientGroup && again->transactionId == stream->transactionId,
                 "a rebuilt stream lost its group header");
  for (std::size_t i = 0; i < items.size(); ++i) {
    const tool::StreamValue& a = stream->values[i];
    const tool::StreamValue& b = again->values[i];
    VRT_FUZZ_CHECK(a.clientHandle == b.clientHandle && a.quality == b.quality && a.timeStamp == b.timeStamp &&
                       a.varType == b.varType && a.hasText == b.hasText && a.text == b.text,
                   "a value read back differently from a rebuilt stream");
    VRT_FUZZ_CHECK(std::memcmp(rebuilt.data() + b.valueOffset, items[i].variant.data(), variantSize) == 0,
                   "a VARIANT's bytes changed in the rebuilt stream");
    fuzz::Keep(tool::IsSelfContainedVarType(a.varType) ? 1 : 0);
  }
  return 0;
}
