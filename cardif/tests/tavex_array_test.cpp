// Frames as arrays of 32-bit integers, both ways, and the receive copy that
// must never write past the caller's 256-byte buffer.
#include <gtest/gtest.h>

#include <array>

#include "tavex_array.h"

namespace vrt {
namespace {

TEST(SendArray, ATwoByteFrameFillsElementsOneThreeAndFive) {
  const std::uint8_t frame[] = {0x12, 0x00};
  const std::vector<std::int32_t> elements = SendArrayFor(frame, 2, 77);
  EXPECT_EQ(elements, (std::vector<std::int32_t>{0, 0x12, 0, 77, 0, 0, 0}));
}

TEST(SendArray, AHeaderOnlyArrayIsTheTwoByteFrame) {
  const std::uint8_t frame[] = {0x12, 0x00};
  const std::vector<std::int32_t> elements = SendArrayFor(frame, 2, 77);
  EXPECT_EQ(FrameOfSendArray(elements.data(), elements.size()), (std::vector<std::uint8_t>{0x12, 0x00}));
  EXPECT_TRUE(FrameOfSendArray(elements.data(), 6).empty());
}

TEST(SendArray, CarriesTheBytesAfterTheCountFromElementSevenWidenedWithTheirSign) {
  const std::uint8_t frame[] = {0x05, 0x03, 0x64, 0x07, 0xF0, 0x80};
  const std::vector<std::int32_t> elements = SendArrayFor(frame, sizeof frame, 1);
  ASSERT_EQ(elements.size(), sizeof frame + 5);
  EXPECT_EQ(elements, (std::vector<std::int32_t>{0, 5, 0, 1, 0, 3, 0, 0x64, 7, -16, -128}));
  EXPECT_EQ(FrameOfSendArray(elements.data(), elements.size()),
            (std::vector<std::uint8_t>{0x05, 0x03, 0x64, 0x07, 0xF0, 0x80}));
}

TEST(ReceiveArray, RoundTripsAFrameThroughTheCallersBuffer) {
  const std::uint8_t frame[] = {0x05, 0x05, 0x65, 0x00, 0x10, 0x01, 0xAB, 0xCD};
  const std::vector<std::int32_t> elements = ReceiveArrayFor(frame, sizeof frame);
  EXPECT_EQ(elements[3], 5);
  EXPECT_EQ(elements[5], 5);
  EXPECT_EQ(elements[11], static_cast<std::int8_t>(0xAB));
  std::array<std::uint8_t, 256> buffer{};
  std::uint16_t length = 99;
  EXPECT_EQ(CopyReceiveArray(elements.data(), static_cast<long>(elements.size() - 1), buffer.data(), &length),
            kReceiveOk);
  EXPECT_EQ(length, sizeof frame);
  EXPECT_TRUE(std::equal(frame, frame + sizeof frame, buffer.begin()));
}

TEST(ReceiveArray, RefusesArraysTooShortOrShorterThanTheirCount) {
  std::array<std::uint8_t, 256> buffer{};
  std::uint16_t length = 99;
  const std::vector<std::int32_t> seven(7, 0);
  EXPECT_EQ(CopyReceiveArray(seven.data(), 6, buffer.data(), &length), kReceiveArrayTooShort);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(CopyReceiveArray(nullptr, 20, buffer.data(), &length), kReceiveArrayTooShort);

  // Count 5 announces elements up to 12, but the array ends at 10.
  std::vector<std::int32_t> shortArray{0, 0, 0, 9, 0, 5, 0, 0x65, 1, 2, 3};
  length = 99;
  EXPECT_EQ(CopyReceiveArray(shortArray.data(), 10, buffer.data(), &length), kReceiveArrayShorterThanCount);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], 0);  // nothing copied
}

// Count c needs elements 7 to 7 + c: one short is refused, exactly that many
// is a frame; count 0 with its command alone in element 7 is the shortest.
TEST(ReceiveArray, TheArrayMustReachTheLastElementItsCountAnnounces) {
  std::array<std::uint8_t, 256> buffer{};
  std::uint16_t length = 99;
  const std::vector<std::int32_t> exact{0, 0, 0, 9, 0, 5, 0, 0x65, 1, 2, 3, 4, 5};
  EXPECT_EQ(CopyReceiveArray(exact.data(), 11, buffer.data(), &length), kReceiveArrayShorterThanCount);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(CopyReceiveArray(exact.data(), 12, buffer.data(), &length), kReceiveOk);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(buffer[7], 5);

  const std::uint8_t acknowledgement[] = {0x05, 0x00, 0x67};
  const std::vector<std::int32_t> shortest = ReceiveArrayFor(acknowledgement, sizeof acknowledgement);
  ASSERT_EQ(shortest.size(), 8u);
  EXPECT_EQ(CopyReceiveArray(shortest.data(), 7, buffer.data(), &length), kReceiveOk);
  EXPECT_EQ(length, 3);
  EXPECT_TRUE(std::equal(acknowledgement, acknowledgement + 3, buffer.begin()));
}

TEST(ReceiveArray, AnArrayTooLongForTheBufferIsRefusedWithNothingWrittenPastIt) {
  // A buffer with guard bytes after the 256 the caller owns.
  std::array<std::uint8_t, 256 + 64> guarded{};
  guarded.fill(0xEE);
  std::vector<std::int32_t> elements(7 + 300, 0x11);
  elements[5] = 4;  // a small count, but 300 elements follow
  std::uint16_t length = 99;
  EXPECT_EQ(CopyReceiveArray(elements.data(), static_cast<long>(elements.size() - 1), guarded.data(), &length),
            kReceiveArrayShorterThanCount);
  EXPECT_EQ(length, 0);
  for (std::size_t i = 0; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0xEE) << "byte " << i << " written";

  // The longest frame that fits: 254 bytes after station and count.
  std::vector<std::int32_t> longest(7 + 254, 0x22);
  longest[5] = 253;
  EXPECT_EQ(CopyReceiveArray(longest.data(), static_cast<long>(longest.size() - 1), guarded.data(), &length),
            kReceiveOk);
  EXPECT_EQ(length, 256);
  EXPECT_EQ(guarded[255], 0x22);
  EXPECT_EQ(guarded[256], 0xEE);
}

}  // namespace
}  // namespace vrt
