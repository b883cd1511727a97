// Stations' replies byte for byte, for every request kind and hardware type,
// the event queue with its repeat request, and the clock set by time syncs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "dit_codes.h"
#include "station.h"

namespace vrt::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::int64_t kHostNow = MillisecondsFromCivil({2024, 5, 1, 8, 0, 0, 0});

Bytes Ask(Station& station, const Bytes& request, std::int64_t hostNow = kHostNow) {
  return station.Answer(request, hostNow).reply;
}

StationEvent Event(int code, int state, CivilTime stamp) { return StationEvent{code, state, stamp}; }

constexpr std::uint16_t kAllTypes[] = {kHardwareEVR420, kHardwareEVR410, kHardwarePRISMOTE,
                                       kHardwareZOLT,   kHardwareSELMARO, kHardwareTORAVINE};

TEST(StationRead, EveryHardwareTypeAnswersReadWordsWithAddressAndWordsHighByteFirst) {
  for (std::uint16_t type : kAllTypes) {
    Station station(5, type);
    station.SetRegister(0x123, 0x1234);
    station.SetRegister(0x124, 0xABCD);
    station.SetRegister(0x125, 0x0001);
    EXPECT_EQ(Ask(station, {5, 3, 0x64, 0x01, 0x23, 3}),
              (Bytes{5, 9, 0x65, 0x01, 0x23, 3, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01}))
        << "hardware type " << type;
    EXPECT_EQ(station.Counters().reads, 1u);
  }
}

TEST(StationRead, TheLastRegisterAndTheLargestReadThatFitsTheDriversArea) {
  Station station(1, kHardwareZOLT);
  station.SetRegister(2047, 0xBEEF);
  EXPECT_EQ(Ask(station, {1, 3, 0x64, 0x07, 0xFF, 1}), (Bytes{1, 5, 0x65, 0x07, 0xFF, 1, 0xBE, 0xEF}));

  const Bytes reply = Ask(station, {1, 3, 0x64, 0, 0, kMaxReadWords});
  ASSERT_EQ(reply.size(), kMaxReplySize);
  EXPECT_EQ(reply[1], 253);  // count + 3 = 256
}

TEST(StationRead, ImpossibleReadsAreRefusedWithTheReasonsCode) {
  Station station(1, kHardwareZOLT);
  EXPECT_EQ(Ask(station, {1, 3, 0x64, 0x07, 0xFF, 2}), (Bytes{1, 1, kNakBadAddress, 0x64}));
  EXPECT_EQ(Ask(station, {1, 3, 0x64, 0x08, 0x00, 1}), (Bytes{1, 1, kNakBadAddress, 0x64}));
  EXPECT_EQ(Ask(station, {1, 3, 0x64, 0, 0, 0}), (Bytes{1, 1, kNakBadLength, 0x64}));
  EXPECT_EQ(Ask(station, {1, 3, 0x64, 0, 0, kMaxReadWords + 1}), (Bytes{1, 1, kNakBadLength, 0x64}));
  EXPECT_EQ(Ask(station, {1, 4, 0x64, 0, 0, 1, 0}), (Bytes{1, 1, kNakBadLength, 0x64}));
  EXPECT_EQ(Ask(station, {1, 0, 0x64}), (Bytes{1, 1, kNakBadLength, 0x64}));
  EXPECT_EQ(station.Counters().naks, 6u);
}

TEST(StationWrite, WriteWordsStoresTheWordsAndEchoesAddressAndCount) {
  for (std::uint16_t type : kAllTypes) {
    Station station(3, type);
    EXPECT_EQ(Ask(station, {3, 9, 0x66, 0x00, 0x10, 3, 0x12, 0x34, 0x00, 0x00, 0xFF, 0xFE}),
              (Bytes{3, 3, 0x67, 0x00, 0x10, 3}))
        << "hardware type " << type;
    EXPECT_EQ(station.Register(0x10), 0x1234);
    EXPECT_EQ(station.Register(0x11), 0x0000);
    EXPECT_EQ(station.Register(0x12), 0xFFFE);
    EXPECT_EQ(station.Counters().writes, 1u);
  }
}

TEST(StationWrite, AMaskedWriteIsOneWordAndReadsBackTheSameBytes) {
  Station station(3, kHardwareSELMARO);
  station.SetRegister(0x200, 0xFFFF);
  EXPECT_EQ(Ask(station, {3, 5, 0x66, 0x02, 0x00, 1, 0xF0, 0x05}), (Bytes{3, 3, 0x67, 0x02, 0x00, 1}));
  EXPECT_EQ(station.Register(0x200), 0xF005);
  // Bytes written in either order come back as they went.
  Ask(station, {3, 5, 0x66, 0x02, 0x01, 1, 0x34, 0x12});
  EXPECT_EQ(Ask(station, {3, 3, 0x64, 0x02, 0x00, 2}), (Bytes{3, 7, 0x65, 0x02, 0x00, 2, 0xF0, 0x05, 0x34, 0x12}));
}

TEST(StationWrite, BadWritesChangeNothing) {
  Station station(3, kHardwareZOLT);
  station.SetRegister(2047, 7);
  // The count announces two words but only one follows.
  EXPECT_EQ(Ask(station, {3, 5, 0x66, 0x07, 0xFF, 2, 0x00, 0x01}), (Bytes{3, 1, kNakBadLength, 0x66}));
  EXPECT_EQ(Ask(station, {3, 7, 0x66, 0x07, 0xFF, 2, 0x00, 0x01, 0x00, 0x02}), (Bytes{3, 1, kNakBadAddress, 0x66}));
  EXPECT_EQ(Ask(station, {3, 3, 0x66, 0x00, 0x00, 0}), (Bytes{3, 1, kNakBadLength, 0x66}));
  EXPECT_EQ(Ask(station, {3, 2, 0x66, 0x00, 0x00}), (Bytes{3, 1, kNakBadLength, 0x66}));
  EXPECT_EQ(station.Register(2047), 7);
  EXPECT_EQ(station.Register(0), 0);
}

TEST(StationCommands, UnknownCommandsAndRequestsForOtherHardwareAreRefused) {
  for (std::uint16_t type : kAllTypes) {
    Station station(4, type);
    EXPECT_EQ(Ask(station, {4, 0, 0x10}), (Bytes{4, 1, kNakUnknownCommand, 0x10})) << type;
    if (type != kHardwareEVR420) {
      EXPECT_EQ(Ask(station, {4, 2, 0x0F, 0x11, 0}), (Bytes{4, 1, kNakUnknownCommand, 0x0F})) << type;
      EXPECT_EQ(Ask(station, {4, 7, 0x0F, 0x0A, 14, 5, 9, 3, 7, 5}), (Bytes{4, 1, kNakUnknownCommand, 0x0F})) << type;
    }
    if (type != kHardwareTORAVINE) {
      EXPECT_EQ(Ask(station, {4, 4, 0x56, 0x63, 1, 0x58, 0}), (Bytes{4, 1, kNakUnknownCommand, 0x56})) << type;
    }
  }
}

class RecorderTest : public ::testing::Test {
 protected:
  Station recorder_{7, kHardwareEVR420};
};

TEST_F(RecorderTest, NextEventGivesTheQueueInOrderAndRepeatGivesTheSameAgain) {
  ASSERT_TRUE(recorder_.QueueEvent(Event(33, 1, {2024, 5, 1, 7, 59, 58, 250}), nullptr));
  ASSERT_TRUE(recorder_.QueueEvent(Event(34, 0, {2024, 5, 1, 7, 59, 59, 999}), nullptr));

  const Bytes first = {7, 12, 0x0F, 0x11, 1, 24, 5, 1, 7, 59, 58, 0x00, 0xFA, 0x00, 0x21};
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x11, 0x42}), first);
  Bytes repeated = first;
  repeated[3] = 0x13;
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x13, 0x42}), repeated);
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x13, 0x42}), repeated);
  // State 0: bit 15 of the event word is set.
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x11, 0x42}),
            (Bytes{7, 12, 0x0F, 0x11, 0, 24, 5, 1, 7, 59, 59, 0x03, 0xE7, 0x80, 0x22}));
  EXPECT_EQ(recorder_.Counters().eventRequests, 4u);
  EXPECT_EQ(recorder_.Counters().eventsDelivered, 2u);
}

TEST_F(RecorderTest, AnEmptyQueueGivesEventWordZeroStampedWithTheClock) {
  recorder_.SetClock({2024, 6, 2, 10, 20, 30, 0}, kHostNow);
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x11, 0}, kHostNow + 1234),
            (Bytes{7, 12, 0x0F, 0x11, 0, 24, 6, 2, 10, 20, 31, 0x00, 0xEA, 0x00, 0x00}));
  // Nothing was handed out, so the repeat has nothing either.
  const Bytes repeat = Ask(recorder_, {7, 2, 0x0F, 0x13, 0}, kHostNow + 1234);
  EXPECT_EQ(repeat[13], 0);
  EXPECT_EQ(repeat[14], 0);
}

TEST_F(RecorderTest, RepeatBeforeAnyEventGivesNoEventAndTakesNothingFromTheQueue) {
  ASSERT_TRUE(recorder_.QueueEvent(Event(1, 1, {2024, 5, 1, 0, 0, 0, 0}), nullptr));
  const Bytes repeat = Ask(recorder_, {7, 2, 0x0F, 0x13, 0});
  EXPECT_EQ(repeat[14], 0);
  EXPECT_EQ(repeat[4], 1);  // still queued
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x11, 0})[14], 1);
}

TEST_F(RecorderTest, StampsAndCodesAreSentAsGivenEvenOutOfRange) {
  ASSERT_TRUE(recorder_.QueueEvent(Event(9037, 1, {2099, 12, 31, 23, 59, 59, 999}), nullptr));
  ASSERT_TRUE(recorder_.QueueEvent(Event(4096, 0, {2003, 13, 0, 24, 60, 60, 1000}), nullptr));
  ASSERT_TRUE(recorder_.QueueEvent(Event(32767, 1, {2155, 1, 1, 0, 0, 0, 0}), nullptr));
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x11, 0}), (Bytes{7, 12, 0x0F, 0x11, 2, 99, 12, 31, 23, 59, 59, 0x03, 0xE7, 0x23, 0x4D}));
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x11, 0}), (Bytes{7, 12, 0x0F, 0x11, 1, 3, 13, 0, 24, 60, 60, 0x03, 0xE8, 0x90, 0x00}));
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x11, 0}), (Bytes{7, 12, 0x0F, 0x11, 0, 255, 1, 1, 0, 0, 0, 0, 0, 0x7F, 0xFF}));
}

TEST_F(RecorderTest, InputEventsMoveTheirBitInTheInputRegisters) {
  ASSERT_TRUE(recorder_.QueueEvent(Event(33, 1, {2024, 5, 1, 0, 0, 0, 0}), nullptr));
  EXPECT_EQ(recorder_.Register(34), 0x0001);
  ASSERT_TRUE(recorder_.QueueEvent(Event(48, 1, {2024, 5, 1, 0, 0, 0, 0}), nullptr));
  EXPECT_EQ(recorder_.Register(34), 0x8001);
  ASSERT_TRUE(recorder_.QueueEvent(Event(33, 0, {2024, 5, 1, 0, 0, 0, 0}), nullptr));
  EXPECT_EQ(recorder_.Register(34), 0x8000);
  ASSERT_TRUE(recorder_.QueueEvent(Event(4096, 1, {2024, 5, 1, 0, 0, 0, 0}), nullptr));
  EXPECT_EQ(recorder_.Register(287), 0x8000);
  // Status reports are no inputs.
  ASSERT_TRUE(recorder_.QueueEvent(Event(9402, 1, {2024, 5, 1, 0, 0, 0, 0}), nullptr));
  EXPECT_EQ(recorder_.Register(288), 0);
  EXPECT_EQ(recorder_.Register(32), 0);
}

TEST_F(RecorderTest, TimeSyncSetsTheClockThatStampsLaterEvents) {
  // 2005-03-07 14:05:09: bytes 14, 5, 9, 3, 7, 5 from offset 4 on.
  const StationAnswer answer = recorder_.Answer(Bytes{7, 7, 0x0F, 0x0A, 14, 5, 9, 3, 7, 5}, kHostNow);
  EXPECT_EQ(answer.reply, (Bytes{7, 1, 0x0F, 0x0A}));
  EXPECT_EQ(answer.note, "clock set to 2005-03-07 14:05:09.000");
  EXPECT_EQ(recorder_.Counters().timeSyncs, 1u);
  EXPECT_EQ(recorder_.ClockNow(kHostNow), (CivilTime{2005, 3, 7, 14, 5, 9, 0}));
  // The clock runs on at the host's pace, across midnight too.
  EXPECT_EQ(recorder_.ClockNow(kHostNow + 1500), (CivilTime{2005, 3, 7, 14, 5, 10, 500}));
  EXPECT_EQ(recorder_.ClockNow(kHostNow + 10 * 3600000), (CivilTime{2005, 3, 8, 0, 5, 9, 0}));
}

TEST_F(RecorderTest, ATimeSyncNamingNoRealTimeIsRefusedAndTheClockKept) {
  recorder_.SetClock({2024, 1, 1, 0, 0, 0, 0}, kHostNow);
  EXPECT_EQ(Ask(recorder_, {7, 7, 0x0F, 0x0A, 14, 5, 9, 13, 7, 5}), (Bytes{7, 1, kNakBadData, 0x0F}));
  EXPECT_EQ(Ask(recorder_, {7, 7, 0x0F, 0x0A, 24, 0, 0, 1, 1, 5}), (Bytes{7, 1, kNakBadData, 0x0F}));
  EXPECT_EQ(Ask(recorder_, {7, 7, 0x0F, 0x0A, 0, 0, 0, 2, 29, 23}), (Bytes{7, 1, kNakBadData, 0x0F}));
  EXPECT_EQ(Ask(recorder_, {7, 7, 0x0F, 0x0A, 0, 0, 0, 1, 1, 100}), (Bytes{7, 1, kNakBadData, 0x0F}));
  EXPECT_EQ(Ask(recorder_, {7, 6, 0x0F, 0x0A, 14, 5, 9, 3, 7}), (Bytes{7, 1, kNakBadLength, 0x0F}));
  EXPECT_EQ(recorder_.ClockNow(kHostNow), (CivilTime{2024, 1, 1, 0, 0, 0, 0}));
}

TEST_F(RecorderTest, MalformedRecorderRequestsAreRefused) {
  EXPECT_EQ(Ask(recorder_, {7, 0, 0x0F}), (Bytes{7, 1, kNakBadLength, 0x0F}));
  EXPECT_EQ(Ask(recorder_, {7, 1, 0x0F, 0x11}), (Bytes{7, 1, kNakBadLength, 0x0F}));
  EXPECT_EQ(Ask(recorder_, {7, 3, 0x0F, 0x11, 0, 0}), (Bytes{7, 1, kNakBadLength, 0x0F}));
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x12, 0}), (Bytes{7, 1, kNakBadData, 0x0F}));
}

TEST_F(RecorderTest, TheQueueIsBoundedAndEventsAreChecked) {
  std::string error;
  EXPECT_FALSE(recorder_.QueueEvent(Event(0, 1, {2024, 1, 1, 0, 0, 0, 0}), &error));
  EXPECT_EQ(error, "an event code is 1 to 32767");
  EXPECT_FALSE(recorder_.QueueEvent(Event(1, 2, {2024, 1, 1, 0, 0, 0, 0}), &error));
  EXPECT_FALSE(recorder_.QueueEvent(Event(1, 1, {1999, 1, 1, 0, 0, 0, 0}), &error));
  EXPECT_EQ(error, "an event's year must lie in 2000 to 2155");
  EXPECT_FALSE(recorder_.QueueEvent(Event(1, 1, {2024, 256, 1, 0, 0, 0, 0}), &error));
  EXPECT_FALSE(recorder_.QueueEvent(Event(1, 1, {2024, 1, 1, 0, 0, 0, 65536}), &error));
  for (std::size_t i = 0; i < kMaxQueuedEvents; ++i) {
    ASSERT_TRUE(recorder_.QueueEvent(Event(1, 1, {2024, 1, 1, 0, 0, 0, 0}), &error)) << error;
  }
  EXPECT_FALSE(recorder_.QueueEvent(Event(1, 1, {2024, 1, 1, 0, 0, 0, 0}), &error));
  EXPECT_EQ(error, "the event queue of station 7 is full");
  // The count in byte 4 stops at 255.
  EXPECT_EQ(Ask(recorder_, {7, 2, 0x0F, 0x11, 0})[4], 255);
}

TEST(StationEvents, OnlyRecordersAndToravineDevicesQueueEvents) {
  Station zolt(1, kHardwareZOLT);
  std::string error;
  EXPECT_FALSE(zolt.QueueEvent(Event(1, 1, {2024, 1, 1, 0, 0, 0, 0}), &error));
  EXPECT_EQ(error, "station 1 is neither an event recorder nor a TORAVINE device");
  Station toravine(9, kHardwareTORAVINE);
  EXPECT_TRUE(toravine.QueueEvent(Event(1, 1, {2024, 1, 1, 0, 0, 0, 0}), &error));
}

TEST(StationToravine, AnswersWithAnEventReplyCarryingItsCommandAndSequence) {
  Station station(9, kHardwareTORAVINE);
  ASSERT_TRUE(station.QueueEvent(Event(1, 1, {2024, 5, 1, 7, 30, 0, 5}), nullptr));
  ASSERT_TRUE(station.QueueEvent(Event(2, 0, {2024, 5, 1, 7, 30, 1, 0}), nullptr));
  const Bytes first = {9, 12, 0x56, 1, 1, 24, 5, 1, 7, 30, 0, 0x00, 0x05, 0x00, 0x01};
  EXPECT_EQ(Ask(station, {9, 4, 0x56, 0x63, 1, 0x58, 0x33}), first);
  // The same sequence number again is the driver's retry: the same event.
  EXPECT_EQ(Ask(station, {9, 4, 0x56, 0x63, 1, 0x58, 0x33}), first);
  EXPECT_EQ(Ask(station, {9, 4, 0x56, 0x63, 2, 0x58, 0x33}),
            (Bytes{9, 12, 0x56, 2, 0, 24, 5, 1, 7, 30, 1, 0x00, 0x00, 0x80, 0x02}));
  const Bytes empty = Ask(station, {9, 4, 0x56, 0x63, 3, 0x58, 0x33});
  ASSERT_EQ(empty.size(), kEventReplySize);
  EXPECT_EQ(empty[13], 0);
  EXPECT_EQ(empty[14], 0);
  EXPECT_EQ(station.Counters().toravineRequests, 4u);
  EXPECT_EQ(station.Counters().eventsDelivered, 2u);
}

TEST(StationToravine, MalformedRequestsAreRefused) {
  Station station(9, kHardwareTORAVINE);
  EXPECT_EQ(Ask(station, {9, 3, 0x56, 0x63, 1, 0x58}), (Bytes{9, 1, kNakBadLength, 0x56}));
  EXPECT_EQ(Ask(station, {9, 4, 0x56, 0x64, 1, 0x58, 0}), (Bytes{9, 1, kNakBadData, 0x56}));
  EXPECT_EQ(Ask(station, {9, 4, 0x56, 0x63, 1, 0x59, 0}), (Bytes{9, 1, kNakBadData, 0x56}));
}

TEST(FrameAssembler, SplitsAStreamIntoFramesByTheirCount) {
  FrameAssembler assembler;
  std::vector<Bytes> frames;
  const Bytes stream = {1, 3, 0x64, 0, 0, 2, 7, 2, 0x0F, 0x11, 0, 9, 0, 0x10, 5};
  // Byte by byte...
  for (std::uint8_t byte : stream) assembler.Add(std::span<const std::uint8_t>(&byte, 1), &frames);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], (Bytes{1, 3, 0x64, 0, 0, 2}));
  EXPECT_EQ(frames[1], (Bytes{7, 2, 0x0F, 0x11, 0}));
  EXPECT_EQ(frames[2], (Bytes{9, 0, 0x10}));
  EXPECT_EQ(assembler.PendingSize(), 1u);
  // ...or all at once.
  FrameAssembler whole;
  frames.clear();
  whole.Add(stream, &frames);
  EXPECT_EQ(frames.size(), 3u);
  // A discarded partial frame leaves the next byte to start a new one.
  assembler.Discard();
  frames.clear();
  assembler.Add(Bytes{1, 0, 0x99}, &frames);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Bytes{1, 0, 0x99}));
}

TEST(FrameAssembler, TheLongestFrameIs258Bytes) {
  FrameAssembler assembler;
  std::vector<Bytes> frames;
  Bytes frame(kMaxFrameSize, 0xAA);
  frame[1] = 255;
  assembler.Add(frame, &frames);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), 258u);
}

TEST(FrameAssembler, HexBytesForTheLog) {
  EXPECT_EQ(HexBytes(Bytes{1, 0x0F, 0xAB}), "01 0F AB");
  EXPECT_EQ(HexBytes(Bytes{}), "");
}

// Registers that move by themselves, read as a client reads them.
std::uint16_t ReadOne(Station& station, int address, std::int64_t hostNow) {
  const Bytes reply = Ask(station, {5, 3, 0x64, static_cast<std::uint8_t>(address >> 8),
                                    static_cast<std::uint8_t>(address), 1}, hostNow);
  return static_cast<std::uint16_t>(reply.at(6) << 8 | reply.at(7));
}

TEST(StationMoving, ARampRisesToHighAndFallsBackOverItsPeriod) {
  Station station(5, kHardwareZOLT);
  station.AddMoving({MovingRegister::Kind::kRamp, 3, 400, 440, 20});
  EXPECT_EQ(ReadOne(station, 3, kHostNow), 400);
  EXPECT_EQ(ReadOne(station, 3, kHostNow + 5000), 420);
  EXPECT_EQ(ReadOne(station, 3, kHostNow + 10000), 440);
  EXPECT_EQ(ReadOne(station, 3, kHostNow + 15000), 420);
  EXPECT_EQ(ReadOne(station, 3, kHostNow + 20000), 400);
  EXPECT_EQ(ReadOne(station, 3, kHostNow + 25000), 420);
  EXPECT_EQ(ReadOne(station, 4, kHostNow + 25000), 0);  // its neighbour stays
}

TEST(StationMoving, AWanderStaysInsideItsRangeAndMovesAtMostItsStepASecond) {
  Station station(5, kHardwareZOLT);
  station.AddMoving({MovingRegister::Kind::kWander, 101, 250, 256, 1, 2});
  int previous = ReadOne(station, 101, kHostNow);
  EXPECT_EQ(previous, 253);
  std::set<int> seen;
  for (int second = 1; second <= 300; ++second) {
    const int value = ReadOne(station, 101, kHostNow + 1000 * second);
    EXPECT_GE(value, 250);
    EXPECT_LE(value, 256);
    EXPECT_LE(std::abs(value - previous), 2);
    seen.insert(value);
    previous = value;
  }
  EXPECT_EQ(seen.size(), 7u);  // it does wander over the whole range
  // Asked again after a day, it catches up on an hour's steps, not a day's.
  const int later = ReadOne(station, 101, kHostNow + 86400000);
  EXPECT_GE(later, 250);
  EXPECT_LE(later, 256);
}

TEST(StationMoving, AToggleFlipsItsBitAndLeavesTheOthers) {
  Station station(5, kHardwareZOLT);
  station.SetRegister(5, 0x8001);
  station.AddMoving({MovingRegister::Kind::kToggle, 5, 0, 0, 7, 1, 4});
  EXPECT_EQ(ReadOne(station, 5, kHostNow), 0x8001);
  EXPECT_EQ(ReadOne(station, 5, kHostNow + 6999), 0x8001);
  EXPECT_EQ(ReadOne(station, 5, kHostNow + 7000), 0x8011);
  EXPECT_EQ(ReadOne(station, 5, kHostNow + 13999), 0x8011);
  EXPECT_EQ(ReadOne(station, 5, kHostNow + 14000), 0x8001);
}

}  // namespace
}  // namespace vrt::sim
