// Sequence-of-events decoding on reply bytes over a real image: bits and
// time stamps stored, validity, duplicates, recorder status codes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "captured_log.h"
#include "dit_codes.h"
#include "sample_configuration.h"
#include "soe_decoder.h"

namespace vrt {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::CapturedLog;
using testing::CountLogged;
using testing::WasLogged;

class NoSleep final : public Sleeper {
 public:
  void SleepMilliseconds(unsigned) override {}
};

class Lines final : public EventLineSink {
 public:
  void EventLine(const DitDevice& device, const SoeEventRecord& event) override {
    lines.push_back({DeviceName(device, 279), event});
  }
  std::vector<std::pair<std::string, SoeEventRecord>> lines;
};

// An event reply of station 7 for 2024-05-01 07:59:58.250.
Bytes Reply(std::uint16_t word, std::uint8_t year = 24, std::uint16_t milliseconds = 250) {
  return {7, 12, 0x0F, 0x11, 0, year, 5, 1, 7, 59, 58, static_cast<std::uint8_t>(milliseconds >> 8),
          static_cast<std::uint8_t>(milliseconds), static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
}

class Decoder : public ::testing::Test {
 protected:
  void SetUp() override {
    CapturedLog().clear();
    // Record 0: the event record; 1: signed inputs from address 32 (with
    // time stamps); 2: digital inputs from address 40 (no time stamps).
    DitPollRecord events = testing::SamplePollRecord(0, 14, kDataDigital, kExceptionDisabled, kPollKindEvent);
    DitPollRecord inputs = testing::SamplePollRecord(32, 4, kDataSigned);
    DitPollRecord digital = testing::SamplePollRecord(40, 2, kDataDigital);
    DitConfiguration configuration;
    DitDeviceSource recorder = testing::SampleDevice("EVR1", 7, {events, inputs, digital});
    recorder.record.hardwareType = kHardwareEVR420;
    configuration.channels.push_back(testing::SampleChannel(0, {recorder}));
    bytes = WriteDitImage(configuration, 0).bytes;
    image = DitImage(bytes.data(), bytes.size());
    image.Runtime(0)->pollCountdown = 99;
    decoder = std::make_unique<SoeDecoder>(image, sleeper, &sink);
  }

  ReplyCheck Decode(const Bytes& reply) { return decoder->Decode(0, reply.data(), reply.size()); }
  SoeEventRecord Record() {
    SoeEventRecord record;
    std::memcpy(&record, image.Area(0, kValueArea), sizeof record);
    return record;
  }
  std::uint16_t Word(int pollRecord, int index) {
    std::uint16_t value = 0;
    std::memcpy(&value, image.Area(pollRecord, kValueArea) + 2 * index, 2);
    return value;
  }
  std::uint64_t Stamp(int pollRecord, int slot) {
    std::uint64_t value = 0;
    std::memcpy(&value, image.Area(pollRecord, kTimeStampArea) + 8 * slot, 8);
    return value;
  }

  Bytes bytes;
  DitImage image;
  NoSleep sleeper;
  Lines sink;
  std::unique_ptr<SoeDecoder> decoder;
};

TEST_F(Decoder, AnEventSetsOrClearsItsBitWithItsTimeStamp) {
  EXPECT_EQ(Decode(Reply(0x0021)), ReplyCheck::kGood);  // code 33: address 34, bit 0, went to 1
  const SoeEventRecord record = Record();
  EXPECT_EQ(record.code, 33);
  EXPECT_EQ(record.pointAddress, 34);
  EXPECT_EQ(record.bit, 0);
  EXPECT_EQ(record.state, 1);
  EXPECT_EQ(record.valid, 1);
  EXPECT_EQ(record.year, 2024);
  EXPECT_EQ(record.milliseconds, 250);
  EXPECT_EQ(record.dayOfWeek, 0);
  EXPECT_EQ(Word(1, 2), 0x0001);
  EXPECT_EQ(Stamp(1, 2 * 16 + 0), 133590239982500000u);  // 2024-05-01 07:59:58.250 as a FILETIME
  EXPECT_EQ(image.Runtime(0)->pollCountdown, 0);         // the next event at once
  EXPECT_EQ(image.Device(0)->emptyEventCount, 0u);
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(sink.lines[0].first, "EVR1");

  EXPECT_EQ(Decode(Reply(0x8021, 24, 251)), ReplyCheck::kGood);  // went to 0
  EXPECT_EQ(Word(1, 2), 0x0000);
  EXPECT_EQ(Record().state, 0);
  EXPECT_EQ(sink.lines.size(), 2u);

  // Code 129: address 40, bit 0, in the digital record, which keeps no time stamps.
  EXPECT_EQ(Decode(Reply(0x0081)), ReplyCheck::kGood);
  EXPECT_EQ(Word(2, 0), 0x0001);
}

TEST_F(Decoder, TimeFieldsOutOfRangeMakeTheEventInvalidAndTheReplyBad) {
  EXPECT_EQ(Decode(Reply(0x0021, 99)), ReplyCheck::kGood);
  EXPECT_EQ(Record().year, 2099);
  CapturedLog().clear();
  EXPECT_EQ(Decode(Reply(0x0022, 3)), ReplyCheck::kBad);  // 2003
  EXPECT_EQ(Record().valid, 0);
  EXPECT_EQ(Record().year, 2003);  // kept as received
  EXPECT_TRUE(WasLogged("Invalid event rcv= 07/0C/0F/11/00/03/05/01/07/3B/3A/00/"));
  EXPECT_EQ(Decode(Reply(0x0023, 24, 1000)), ReplyCheck::kBad);
  EXPECT_EQ(Record().milliseconds, 1000);
  EXPECT_EQ(sink.lines.size(), 1u);  // invalid events are not written
  EXPECT_EQ(Decode(Reply(0x0024, 150)), ReplyCheck::kGood);  // bytes 100..255 count from 1900
  EXPECT_EQ(Record().year, 2050);
  EXPECT_EQ(Decode(Reply(0x0025, 103)), ReplyCheck::kBad);  // 2003 again
}

TEST_F(Decoder, TheSameEventTwiceIsADuplicateStoredAgainButWrittenOnce) {
  EXPECT_EQ(Decode(Reply(0x0021)), ReplyCheck::kGood);
  std::memset(image.Area(1, kValueArea), 0, 8);  // a client cleared it meanwhile
  EXPECT_EQ(Decode(Reply(0x0021)), ReplyCheck::kGood);
  EXPECT_EQ(Record().duplicateFlags, kAllSame);
  EXPECT_TRUE(WasLogged("Duplicate event"));
  EXPECT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(Word(1, 2), 0x0001);  // stored again
  EXPECT_EQ(Decode(Reply(0x0021, 24, 251)), ReplyCheck::kGood);
  EXPECT_EQ(Record().duplicateFlags, kAllSame & ~kSameMilliseconds);
  EXPECT_EQ(sink.lines.size(), 2u);
}

TEST_F(Decoder, EmptyRepliesAndStatusCodesCountAsNoEvent) {
  EXPECT_EQ(Decode(Reply(0x0000)), ReplyCheck::kGood);
  EXPECT_EQ(image.Device(0)->emptyEventCount, 1u);
  EXPECT_EQ(image.Runtime(0)->pollCountdown, 99);  // read again after its poll time
  const struct {
    std::uint16_t code;
    const char* text;
  } specials[] = {
      {4097, "SER(7) EVENT - 4097 Unknown event"},  {9000, "SER(7) EVENT - 9000 Unknown event"},
      {9001, "SER(7) EVENT - Status points 9001"},  {9020, "SER(7) EVENT - Status points 9020"},
      {9021, "SER(7) EVENT - Derived Input 9021"},  {9036, "SER(7) EVENT - Derived Input 9036"},
      {9037, "SER(7) EVENT - Start test input 9037"}, {9301, "SER(7) EVENT - 9301 Waring Low paper"},
      {9402, "SER(7) EVENT - 9402 Power return"},   {9410, "SER(7) EVENT - 9410 New time"},
      {9500, "SER(7) EVENT - 9500 Unknown event"},  {9038, "SER(7) EVENT - 9038 Unknown event"},
  };
  for (const auto& special : specials) {
    EXPECT_EQ(Decode(Reply(special.code | 0x8000)), ReplyCheck::kGood);
    EXPECT_TRUE(WasLogged(special.text)) << special.code;
  }
  EXPECT_EQ(image.Device(0)->emptyEventCount, 13u);
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_EQ(Decode(Reply(0x0021)), ReplyCheck::kGood);
  EXPECT_EQ(image.Device(0)->emptyEventCount, 0u);
}

TEST_F(Decoder, CodeZeroWithTheStateBitIsNoEventEither) {
  const SoeEventRecord before = Record();
  const std::uint16_t inputs = Word(1, 0);
  EXPECT_EQ(Decode(Reply(0x8000)), ReplyCheck::kGood);
  EXPECT_EQ(image.Device(0)->emptyEventCount, 1u);
  const SoeEventRecord after = Record();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);  // nothing decoded into the event record
  EXPECT_EQ(Word(1, 0), inputs);
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_EQ(image.Runtime(0)->pollCountdown, 99);
}

TEST_F(Decoder, AnEventForAPointNoRecordCoversIsDropped) {
  EXPECT_EQ(Decode(Reply(0x0100)), ReplyCheck::kGood);  // code 256: address 47, bit 15
  EXPECT_TRUE(WasLogged("recieved event for undefined poll record 47:15"));
  EXPECT_TRUE(sink.lines.empty());
}

// A record covers its start register up to start + length - 1: an event for
// the last register lands in it, one for the register after it is dropped.
TEST_F(Decoder, AnEventLandsOnlyInsideTheRegistersOfItsRecord) {
  EXPECT_EQ(Decode(Reply(49)), ReplyCheck::kGood);  // code 49: address 35, the inputs' last register
  EXPECT_EQ(Word(1, 3), 0x0001);
  EXPECT_NE(Stamp(1, 3 * 16 + 0), 0u);
  EXPECT_EQ(sink.lines.size(), 1u);

  EXPECT_EQ(Decode(Reply(65)), ReplyCheck::kGood);  // code 65: address 36, one past the inputs
  EXPECT_TRUE(WasLogged("recieved event for undefined poll record 36:0"));
  EXPECT_EQ(sink.lines.size(), 1u);

  EXPECT_EQ(Decode(Reply(160)), ReplyCheck::kGood);  // code 160: address 41 bit 15, the digital record's last
  EXPECT_EQ(Word(2, 1), 0x8000);
  EXPECT_EQ(Decode(Reply(161)), ReplyCheck::kGood);  // code 161: address 42, one past it
  EXPECT_TRUE(WasLogged("recieved event for undefined poll record 42:0"));
  EXPECT_EQ(sink.lines.size(), 2u);
}

// Codes 1..4096 are inputs, the last one included; the code takes all 15
// bits below the state bit.
TEST_F(Decoder, CodesUpTo4096AreInputsAndCodesKeepAllFifteenBits) {
  EXPECT_EQ(Decode(Reply(4096)), ReplyCheck::kGood);  // input 4096: address 287, bit 15
  EXPECT_TRUE(WasLogged("recieved event for undefined poll record 287:15"));
  EXPECT_EQ(Record().code, 4096);
  EXPECT_EQ(Decode(Reply(0x4001 | 0x8000)), ReplyCheck::kGood);
  EXPECT_TRUE(WasLogged("SER(7) EVENT - 16385 Unknown event"));
  EXPECT_EQ(Word(1, 0), 0);  // not taken as input 1
}

TEST(FileTime, FollowsTheCalendarAndRefusesImpossibleDates) {
  auto stamp = [](std::uint16_t year, std::uint16_t month, std::uint16_t day, std::uint16_t hour = 0,
                  std::uint16_t minute = 0, std::uint16_t second = 0, std::uint16_t milliseconds = 0) {
    return FileTimeOf(SoeEventRecord{year, month, 0, day, hour, minute, second, milliseconds, 1, 32, 0, 1, 0, 1});
  };
  EXPECT_EQ(stamp(1970, 1, 1), 116444736000000000u);
  EXPECT_EQ(stamp(2099, 12, 31, 23, 59, 59, 999), 157469183999990000u);
  EXPECT_NE(stamp(2024, 2, 29), 0u);
  EXPECT_EQ(stamp(2023, 2, 29), 0u);
  EXPECT_EQ(stamp(2024, 4, 31), 0u);
  // Centuries are leap years only every 400 years.
  EXPECT_NE(stamp(2000, 2, 29), 0u);
  EXPECT_EQ(stamp(2100, 2, 29), 0u);
  EXPECT_EQ(stamp(2024, 5, 1, 0, 0, 0, 1000), 0u);
}

}  // namespace
}  // namespace vrt
