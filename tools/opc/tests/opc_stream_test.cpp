#include "opc_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace vrt::tool {
namespace {

constexpr std::size_t kVariant64 = 24;  // a VARIANT in a 64-bit process
constexpr std::size_t kVariant32 = 16;  // and in a 32-bit one
constexpr std::uint16_t kR4 = 4;
constexpr std::uint16_t kBool = 11;

// One item as a server would put it into a stream.
struct ItemToSend {
  std::uint32_t clientHandle;
  std::uint16_t quality;
  std::uint64_t timeStamp;
  std::uint16_t varType;
  std::uint32_t payload;  // the first four bytes of the VARIANT's value
  std::u16string text;    // for a text
};

void Put16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  Put16(bytes, static_cast<std::uint16_t>(value));
  Put16(bytes, static_cast<std::uint16_t>(value >> 16));
}

void Patch32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Read32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes.at(at + i);
  return value;
}

// Byte by byte, the way the server lays a stream out: group header, item
// headers, then the values back to back, a text's length and characters
// right after its VARIANT, nothing padded.
std::vector<std::uint8_t> BuildStream(const std::vector<ItemToSend>& items, bool withTime, std::size_t variantSize,
                                      std::uint32_t clientGroup = 7) {
  const std::size_t headerSize = withTime ? 20 : 12;
  std::vector<std::uint8_t> values;
  std::vector<std::uint32_t> offsets;
  std::size_t next = 20 + headerSize * items.size();
  for (const ItemToSend& item : items) {
    offsets.push_back(static_cast<std::uint32_t>(next));
    const std::size_t before = values.size();
    Put16(values, item.varType);
    values.resize(values.size() + 6, 0xEE);  // reserved words: whatever the server had there
    Put32(values, item.payload);
    values.resize(before + variantSize, 0xEE);
    if (item.varType == kTextVarType) {
      Put32(values, static_cast<std::uint32_t>(item.text.size() * 2));
      for (const char16_t c : item.text) Put16(values, c);
    }
    next += values.size() - before;
  }
  std::vector<std::uint8_t> bytes;
  Put32(bytes, static_cast<std::uint32_t>(next));
  Put32(bytes, static_cast<std::uint32_t>(items.size()));
  Put32(bytes, clientGroup);
  Put32(bytes, 0);  // transaction 0: a subscription update
  Put32(bytes, 0);  // S_OK
  for (std::size_t i = 0; i < items.size(); ++i) {
    Put32(bytes, items[i].clientHandle);
    Put32(bytes, offsets[i]);
    Put16(bytes, items[i].quality);
    Put16(bytes, 0);
    if (withTime) {
      Put32(bytes, static_cast<std::uint32_t>(items[i].timeStamp));
      Put32(bytes, static_cast<std::uint32_t>(items[i].timeStamp >> 32));
    }
  }
  bytes.insert(bytes.end(), values.begin(), values.end());
  return bytes;
}

std::optional<DataStream> Parse(const std::vector<std::uint8_t>& bytes, bool withTime = true,
                                std::size_t variantSize = kVariant64) {
  return ParseDataStream(bytes.data(), bytes.size(), withTime, variantSize);
}

// 12.5f, a text, a digital value: the text of three characters leaves the
// VARIANT after it on an offset that is not a multiple of four.
const std::vector<ItemToSend> kThreeItems = {
    {1, 0xC0, 0x01DB2F1E00000000ull, kR4, 0x41480000u, u""},
    {2, 0x18, 0x01DB2F1E12345678ull, kTextVarType, 0, u"ÄB\u20ACC"},
    {4, 0xC0, 0x01DB2F1EFFFFFFFFull, kBool, 0x0000FFFFu, u""},
};

TEST(OpcStream, ItemsWithTimeStampsAndTextsAreRead) {
  const std::vector<std::uint8_t> bytes = BuildStream(kThreeItems, true, kVariant64);
  const auto stream = Parse(bytes);
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->clientGroup, 7u);
  EXPECT_EQ(stream->transactionId, 0u);
  EXPECT_EQ(stream->status, 0u);
  ASSERT_EQ(stream->values.size(), 3u);

  const StreamValue& real = stream->values[0];
  EXPECT_EQ(real.clientHandle, 1u);
  EXPECT_EQ(real.quality, 0xC0);
  EXPECT_EQ(real.timeStamp, 0x01DB2F1E00000000ull);
  EXPECT_EQ(real.valueOffset, 20u + 3 * 20);
  EXPECT_EQ(real.varType, kR4);
  EXPECT_FALSE(real.hasText);
  float value = 0;
  std::memcpy(&value, bytes.data() + real.valueOffset + 8, sizeof value);
  EXPECT_EQ(value, 12.5f);

  const StreamValue& text = stream->values[1];
  EXPECT_EQ(text.clientHandle, 2u);
  EXPECT_EQ(text.quality, 0x18);
  EXPECT_EQ(text.timeStamp, 0x01DB2F1E12345678ull);
  EXPECT_EQ(text.valueOffset, real.valueOffset + kVariant64);
  EXPECT_EQ(text.varType, kTextVarType);
  ASSERT_TRUE(text.hasText);
  EXPECT_EQ(text.text, u"ÄB\u20ACC");  // no terminating zero follows; none is read

  const StreamValue& digital = stream->values[2];
  EXPECT_EQ(digital.clientHandle, 4u);
  EXPECT_EQ(digital.valueOffset, text.valueOffset + kVariant64 + 4 + 8);
  EXPECT_EQ(digital.valueOffset % 4, 0u);
  EXPECT_EQ(digital.varType, kBool);
  EXPECT_EQ(digital.timeStamp, 0x01DB2F1EFFFFFFFFull);
}

TEST(OpcStream, OddTextLeavesTheNextValueUnaligned) {
  std::vector<ItemToSend> items = kThreeItems;
  items[1].text = u"ABC";
  const std::vector<std::uint8_t> bytes = BuildStream(items, true, kVariant64);
  const auto stream = Parse(bytes);
  ASSERT_TRUE(stream);
  ASSERT_EQ(stream->values.size(), 3u);
  EXPECT_EQ(stream->values[1].text, u"ABC");
  EXPECT_EQ(stream->values[2].valueOffset % 4, 2u);
  EXPECT_EQ(stream->values[2].varType, kBool);
  EXPECT_EQ(Read32(bytes, stream->values[2].valueOffset + 8), 0x0000FFFFu);
}

TEST(OpcStream, StreamsWithoutTimeStampsAndThe32BitVariantAreRead) {
  const std::vector<std::uint8_t> bytes = BuildStream(kThreeItems, false, kVariant32);
  const auto stream = ParseDataStream(bytes.data(), bytes.size(), false, kVariant32);
  ASSERT_TRUE(stream);
  ASSERT_EQ(stream->values.size(), 3u);
  EXPECT_EQ(stream->values[0].valueOffset, 20u + 3 * 12);
  EXPECT_EQ(stream->values[0].timeStamp, 0u);
  EXPECT_EQ(stream->values[1].valueOffset, 20u + 3 * 12 + kVariant32);
  EXPECT_EQ(stream->values[1].text, u"ÄB\u20ACC");
  EXPECT_EQ(stream->values[2].valueOffset, 20u + 3 * 12 + 2 * kVariant32 + 4 + 8);
  EXPECT_EQ(stream->values[2].quality, 0xC0);

  // Read as the other layout, the same bytes do not fit.
  EXPECT_FALSE(ParseDataStream(bytes.data(), bytes.size(), true, kVariant32));
}

TEST(OpcStream, EmptyStreamsAndEmptyTextsAreFine) {
  const auto empty = Parse(BuildStream({}, true, kVariant64));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->values.empty());

  const auto blank = Parse(BuildStream({{9, 0xC0, 1, kTextVarType, 0, u""}}, true, kVariant64));
  ASSERT_TRUE(blank);
  ASSERT_EQ(blank->values.size(), 1u);
  EXPECT_TRUE(blank->values[0].hasText);
  EXPECT_TRUE(blank->values[0].text.empty());
}

TEST(OpcStream, OnlyTheBytesTheStreamClaimsAreRead) {
  // A memory block rounded up beyond the stream: the rest is not looked at.
  std::vector<std::uint8_t> bytes = BuildStream(kThreeItems, true, kVariant64);
  const std::size_t streamSize = bytes.size();
  bytes.resize(streamSize + 16, 0x41);
  const auto stream = Parse(bytes);
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->values.size(), 3u);

  // A text longer than the stream but inside the block is still refused.
  std::vector<std::uint8_t> text = BuildStream({{2, 0xC0, 0, kTextVarType, 0, u"AB"}}, true, kVariant64);
  const std::size_t lengthAt = 20 + 20 + kVariant64;
  Patch32(text, lengthAt, 4 + 2);  // one character more than is there
  text.resize(text.size() + 16, 0x41);
  EXPECT_FALSE(Parse(text));
}

TEST(OpcStream, TruncatedStreamsAreRefusedAtEveryLength) {
  const std::vector<std::uint8_t> bytes = BuildStream(kThreeItems, true, kVariant64);
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    EXPECT_FALSE(ParseDataStream(bytes.data(), length, true, kVariant64)) << length;
  }
  // And the same prefixes with the size field telling the truth about them:
  // what is cut off is then an item header, a value or a text.
  for (std::size_t length = 20; length < bytes.size(); ++length) {
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    Patch32(cut, 0, static_cast<std::uint32_t>(length));
    EXPECT_FALSE(Parse(cut)) << length;
  }
  EXPECT_TRUE(ParseDataStream(bytes.data(), bytes.size(), true, kVariant64));
  EXPECT_FALSE(ParseDataStream(nullptr, 0, true, kVariant64));
}

TEST(OpcStream, SizesAndCountsThatDoNotFitAreRefused) {
  const std::vector<std::uint8_t> good = BuildStream(kThreeItems, true, kVariant64);
  struct Corruption {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  };
  const Corruption cases[] = {
      {"size below the group header", 0, 19},
      {"size past the end", 0, static_cast<std::uint32_t>(good.size() + 1)},
      {"size far past the end", 0, 0xFFFFFFFFu},
      {"more item headers than bytes", 4, 100},
      {"a count that would wrap 32 bits", 4, 0xFFFFFFFFu},
      {"value offset past the end", 20 + 4, static_cast<std::uint32_t>(good.size())},
      {"value offset a byte short of a VARIANT", 20 + 4, static_cast<std::uint32_t>(good.size() - kVariant64 + 1)},
      {"value offset that would wrap 32 bits", 20 + 4, 0xFFFFFFF0u},
      {"value offset inside the item headers", 20 + 20 + 4, 20 + 20},
      {"value offset inside the group header", 20 + 4, 4},
      {"text length past the end", 20 + 3 * 20 + 2 * kVariant64, 0x100},
      {"text length that would wrap 32 bits", 20 + 3 * 20 + 2 * kVariant64, 0xFFFFFFFEu},
      {"text length of half a character", 20 + 3 * 20 + 2 * kVariant64, 7},
  };
  for (const Corruption& corruption : cases) {
    std::vector<std::uint8_t> bytes = good;
    Patch32(bytes, corruption.at, corruption.value);
    EXPECT_FALSE(Parse(bytes)) << corruption.what;
  }
  // The text length sits right after the VARIANT; a VARIANT ending the
  // stream has no room for it.
  std::vector<std::uint8_t> noLength = BuildStream({{3, 0xC0, 0, kR4, 0, u""}}, true, kVariant64);
  noLength[20 + 20] = kTextVarType;
  EXPECT_FALSE(Parse(noLength));
  // A VARIANT smaller than its type word is no VARIANT.
  EXPECT_FALSE(Parse(good, true, 1));
}

TEST(OpcStream, OnlyValuesWithoutPointersAreTakenAsCopied) {
  for (const std::uint16_t type : {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 14, 16, 17, 18, 19, 20, 21, 22, 23}) {
    EXPECT_TRUE(IsSelfContainedVarType(type)) << type;
  }
  for (const std::uint16_t type : {8, 9, 12, 13, 36, 0x2005, 0x2008, 0x4004, 0x400C, 0x6003, 0xFFFF}) {
    EXPECT_FALSE(IsSelfContainedVarType(type)) << type;
  }
}

}  // namespace
}  // namespace vrt::tool
