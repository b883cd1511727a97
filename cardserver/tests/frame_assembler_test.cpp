// The card server's framing of the TCP byte stream and its endpoints.
#include <gtest/gtest.h>

#include "frame_assembler.h"

namespace vrt {
namespace {

TEST(FrameAssembler, CutsFramesThatArriveInPiecesOrTogether) {
  FrameAssembler assembler;
  const std::uint8_t first[] = {0x05, 0x03, 0x65, 0x00};
  const std::uint8_t rest[] = {0x10, 0x01, 0x09, 0x01, 0x66};
  assembler.Append(first, sizeof first);
  EXPECT_FALSE(assembler.Next());
  assembler.Append(rest, sizeof rest);
  auto frame = assembler.Next();
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, (std::vector<std::uint8_t>{0x05, 0x03, 0x65, 0x00, 0x10, 0x01}));
  EXPECT_FALSE(assembler.Next());  // 0x09 0x01 0x66 waits for one more byte
  const std::uint8_t last[] = {0xAA};
  assembler.Append(last, 1);
  frame = assembler.Next();
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, (std::vector<std::uint8_t>{0x09, 0x01, 0x66, 0xAA}));
}

TEST(FrameAssembler, FramesLongerThan256BytesAreSkippedAndCounted) {
  FrameAssembler assembler;
  std::vector<std::uint8_t> stream;
  stream.insert(stream.end(), {0x07, 254});  // 257 bytes in all
  stream.insert(stream.end(), 255, 0x42);
  stream.insert(stream.end(), {0x07, 253});  // 256 bytes: the longest that fits
  stream.insert(stream.end(), 254, 0x43);
  stream.insert(stream.end(), {0x08, 0x00, 0x65});
  assembler.Append(stream.data(), stream.size());
  auto frame = assembler.Next();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->size(), 256u);
  EXPECT_EQ(frame->back(), 0x43);
  frame = assembler.Next();
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, (std::vector<std::uint8_t>{0x08, 0x00, 0x65}));
  EXPECT_EQ(assembler.Discarded(), 1u);
}

TEST(Endpoint, ParsesHostAndPortAndRefusesTheRest) {
  Endpoint endpoint;
  ASSERT_TRUE(ParseEndpoint("127.0.0.1:5821", &endpoint));
  EXPECT_EQ(endpoint.host, "127.0.0.1");
  EXPECT_EQ(endpoint.port, 5821);
  ASSERT_TRUE(ParseEndpoint("rack-7.plant:70", &endpoint));
  EXPECT_EQ(endpoint.host, "rack-7.plant");
  for (const char* bad : {"", "127.0.0.1", ":5820", "host:", "host:0", "host:65536", "host:12a", "a b:1",
                          "host:1234567", "host:065536",
                          // 2^64 + 5: a number this long must not wrap around to port 5
                          "host:18446744073709551621"}) {
    EXPECT_FALSE(ParseEndpoint(bad, &endpoint)) << bad;
  }
  EXPECT_EQ(DefaultEndpoint(3).port, 5823);
  EXPECT_EQ(DefaultEndpoint(0).host, "127.0.0.1");
}

}  // namespace
}  // namespace vrt
