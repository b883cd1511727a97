// Every request byte for byte and every reply check with its message.
#include <gtest/gtest.h>

#include <vector>

#include "captured_log.h"
#include "driver_messages.h"
#include "frames.h"

namespace vrt {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::CapturedLog;
using testing::WasLogged;

template <typename Build>
Bytes Built(Build build) {
  std::uint8_t out[kFrameAreaSize] = {};
  const std::size_t length = build(out);
  return Bytes(out, out + length);
}

TEST(Frames, RequestsAreBuiltByteForByte) {
  EXPECT_EQ(Built([](std::uint8_t* o) { return BuildReadWords(o, 5, 0x52C, 16); }),
            (Bytes{5, 3, 0x64, 0x05, 0x2C, 16}));
  EXPECT_EQ(Built([](std::uint8_t* o) { return BuildEventRequest(o, 9, 0x42); }), (Bytes{9, 2, 0x0F, 0x11, 0x42}));
  EXPECT_EQ(Built([](std::uint8_t* o) { return BuildToravineRequest(o, 12, 7, 3); }),
            (Bytes{12, 4, 0x56, 0x63, 7, 0x58, 3}));
  const std::uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0};
  EXPECT_EQ(Built([&](std::uint8_t* o) { return BuildWriteWords(o, 5, 0x7FF, 3, data, sizeof data); }),
            (Bytes{5, 9, 0x66, 0x07, 0xFF, 3, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0}));
  EXPECT_EQ(Built([](std::uint8_t* o) { return BuildMaskedWrite(o, 5, 0x101, 0x1235); }),
            (Bytes{5, 5, 0x66, 0x01, 0x01, 1, 0x12, 0x35}));
  const CivilTime time{2005, 3, 7, 14, 5, 9, 0};
  EXPECT_EQ(Built([&](std::uint8_t* o) { return BuildTimeSync(o, 9, time); }),
            (Bytes{9, 7, 0x0F, 0x0A, 14, 5, 9, 3, 7, 5}));
}

TEST(Frames, DataReplyChecksRunInOrder) {
  CapturedLog().clear();
  const Bytes good = {5, 7, 0x65, 0x01, 0x2C, 2, 0x12, 0x34, 0x56, 0x78};
  auto check = [](const Bytes& frame, std::uint16_t valueSize = 4) {
    return CheckDataReply(frame.data(), frame.size(), 5, 0x64, 0x12C, valueSize);
  };
  EXPECT_EQ(check(good), ReplyCheck::kGood);
  Bytes longer = good;
  longer[1] = 9;
  longer.insert(longer.end(), {0xAA, 0xBB});
  EXPECT_EQ(check(longer), ReplyCheck::kGood);  // more than needed is fine

  Bytes wrongStation = good;
  wrongStation[0] = 6;
  EXPECT_EQ(check(wrongStation), ReplyCheck::kBad);
  EXPECT_TRUE(WasLogged("Expecting DIT data, Got Wrong DID 6"));

  Bytes nak = good;
  nak[2] = 30;
  EXPECT_EQ(check(nak), ReplyCheck::kNegative);
  EXPECT_TRUE(WasLogged("Expecting DIT data, Got Wrong Command or Nak 30"));
  nak[2] = 40;
  EXPECT_EQ(check(nak), ReplyCheck::kNegative);
  nak[2] = 41;
  EXPECT_EQ(check(nak), ReplyCheck::kBad);
  nak[2] = 29;
  EXPECT_EQ(check(nak), ReplyCheck::kBad);

  CapturedLog().clear();
  EXPECT_EQ(check(good, 6), ReplyCheck::kBad);  // count - 3 below the value area
  Bytes otherAddress = good;
  otherAddress[4] = 0x2D;
  EXPECT_EQ(check(otherAddress), ReplyCheck::kBad);
  Bytes fewWords = good;
  fewWords[5] = 1;
  EXPECT_EQ(check(fewWords), ReplyCheck::kBad);
  Bytes truncated = good;
  truncated.resize(8);  // the count says more than arrived
  EXPECT_EQ(check(truncated), ReplyCheck::kBad);
  EXPECT_TRUE(CapturedLog().empty());  // these fail without a message
}

// Addresses take 11 bits on the wire: bits 8-10 in the high byte, whose top
// five bits must be clear.
TEST(Frames, AddressesUpTo2047TravelInElevenBits) {
  EXPECT_EQ(Built([](std::uint8_t* o) { return BuildReadWords(o, 5, 0x400, 1); }), (Bytes{5, 3, 0x64, 0x04, 0x00, 1}));
  EXPECT_EQ(Built([](std::uint8_t* o) { return BuildReadWords(o, 5, 0x7FF, 1); }), (Bytes{5, 3, 0x64, 0x07, 0xFF, 1}));
  EXPECT_EQ(Built([](std::uint8_t* o) { return BuildMaskedWrite(o, 5, 0x7FF, 0xABCD); }),
            (Bytes{5, 5, 0x66, 0x07, 0xFF, 1, 0xAB, 0xCD}));
  auto check = [](std::uint8_t high, std::uint8_t low, std::uint16_t start) {
    const Bytes reply = {5, 5, 0x65, high, low, 1, 0x12, 0x34};
    return CheckDataReply(reply.data(), reply.size(), 5, 0x64, start, 2);
  };
  EXPECT_EQ(check(0x07, 0xFF, 0x7FF), ReplyCheck::kGood);
  EXPECT_EQ(check(0x04, 0x00, 0x400), ReplyCheck::kGood);
  EXPECT_EQ(check(0x04, 0x00, 0x000), ReplyCheck::kBad);  // 1024 is not 0
  EXPECT_EQ(check(0x07, 0xFF, 0x3FF), ReplyCheck::kBad);  // 2047 is not 1023
  EXPECT_EQ(check(0x0F, 0xFF, 0x7FF), ReplyCheck::kBad);  // bit 3 of the high byte set
  EXPECT_EQ(check(0x87, 0xFF, 0x7FF), ReplyCheck::kBad);
}

TEST(Frames, EventReplyChecksRunInOrder) {
  CapturedLog().clear();
  const Bytes good = {9, 12, 0x0F, 0, 0, 5, 3, 7, 14, 5, 9, 0x01, 0xF4, 0x00, 0x21};
  bool tooSmall = false;
  auto check = [&](const Bytes& frame, std::uint16_t valueSize = 28) {
    return CheckEventReply(frame.data(), frame.size(), 9, 0x0F, valueSize, &tooSmall);
  };
  EXPECT_EQ(check(good), ReplyCheck::kGood);
  EXPECT_FALSE(tooSmall);
  EXPECT_EQ(check(good, 26), ReplyCheck::kGood);
  EXPECT_TRUE(tooSmall);
  EXPECT_TRUE(WasLogged("Event size too small"));
  Bytes other = good;
  other[0] = 8;
  EXPECT_EQ(check(other), ReplyCheck::kBad);
  EXPECT_TRUE(WasLogged("Expecting Event, Got Wrong DID 8"));
  other = good;
  other[2] = 0x56;
  EXPECT_EQ(check(other), ReplyCheck::kBad);
  EXPECT_TRUE(WasLogged("Expecting Event, Got Wrong Command 86"));
  other = good;
  other[1] = 11;
  other.pop_back();
  EXPECT_EQ(check(other), ReplyCheck::kBad);
  EXPECT_TRUE(WasLogged("Expecting Event, Got Wrong length 11"));
}

// A data reply's count must cover the value area exactly or more, and every
// byte it counts must have arrived; an event reply has exactly 12 after the
// header.
TEST(Frames, RepliesOneByteShortOfTheirLengthAreBad) {
  const Bytes good = {5, 7, 0x65, 0x01, 0x2C, 2, 0x12, 0x34, 0x56, 0x78};
  auto check = [](const Bytes& frame, std::uint16_t valueSize) {
    return CheckDataReply(frame.data(), frame.size(), 5, 0x64, 0x12C, valueSize);
  };
  EXPECT_EQ(check(good, 4), ReplyCheck::kGood);  // count - 3 equals the value area
  Bytes shortCount = good;
  shortCount[1] = 6;  // count - 3 one below the value area
  EXPECT_EQ(check(shortCount, 4), ReplyCheck::kBad);
  Bytes oneShort = good;
  oneShort.pop_back();  // the count says one byte more than arrived
  EXPECT_EQ(check(oneShort, 4), ReplyCheck::kBad);
  EXPECT_EQ(check(oneShort, 3), ReplyCheck::kGood);  // but it holds a 3-byte area

  const Bytes event = {9, 12, 0x0F, 0, 0, 5, 3, 7, 14, 5, 9, 0x01, 0xF4, 0x00, 0x21};
  bool tooSmall = false;
  Bytes longer = event;
  longer[1] = 13;
  longer.push_back(0);
  EXPECT_EQ(CheckEventReply(longer.data(), longer.size(), 9, 0x0F, 28, &tooSmall), ReplyCheck::kBad);
  EXPECT_EQ(CheckEventReply(event.data(), event.size(), 9, 0x0F, 28, &tooSmall), ReplyCheck::kGood);
}

TEST(Frames, TimeSyncReportShowsEightBytes) {
  CapturedLog().clear();
  const std::uint8_t frame[] = {9, 7, 0x0F, 0x0A, 14, 5, 9, 3, 7, 5};
  LogTimeSync("EVR-NORTH", frame);
  ASSERT_EQ(CapturedLog().size(), 1u);
  EXPECT_EQ(CapturedLog()[0].text, "Time Sync EVR-NORTH xmt= 09|07|0F|0A|0E|05|09|03|");
  EXPECT_EQ(CapturedLog()[0].attribute, 39);
}

TEST(DriverMessages, LookupSkipsSpareRecordsAndReportsUnknownOnes) {
  EXPECT_STREQ(DriverMessageText(104), "Channel %d - Switched Port From %d To %d");
  EXPECT_STREQ(DriverMessageText(107), "Channel %d Device %d Poll Record %d - Recovered Communication");
  EXPECT_STREQ(DriverMessageText(109), ">>?No Data?<<");
  EXPECT_STREQ(DriverMessageText(110), ">>?No Data?<<");
  EXPECT_STREQ(DriverMessageText(0), ">>?No Data?<<");
}

}  // namespace
}  // namespace vrt
