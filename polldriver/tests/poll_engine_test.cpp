// The poll engine over a real image with a fake card and a fake clock: what
// it sends, when, and what lands in the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <utility>

#include "captured_log.h"
#include "dit_codes.h"
#include "poll_engine.h"
#include "sample_configuration.h"

namespace vrt {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::CapturedLog;
using testing::CountLogged;
using testing::SampleChannel;
using testing::SampleDevice;
using testing::SamplePollRecord;
using testing::WasLogged;

struct SentFrame {
  int card;
  Bytes bytes;
};

// The card: remembers what was sent; an optional station answers each frame.
class FakeCard final : public CardAccess {
 public:
  std::int16_t Send(std::int16_t card, std::int16_t length, const std::uint8_t* frame) override {
    sent.push_back({card, Bytes(frame, frame + std::max<std::int16_t>(length, 0))});
    if (station) {
      Bytes reply = station(sent.back().bytes);
      if (!reply.empty()) replies.push_back(reply);
    }
    return sendResult;
  }
  std::int16_t Receive(std::int16_t, std::int16_t* length, std::uint8_t* buffer) override {
    if (replies.empty()) return 1;
    const Bytes reply = replies.front();
    replies.pop_front();
    std::memcpy(buffer, reply.data(), reply.size());
    *length = static_cast<std::int16_t>(reply.size());
    return 0;
  }
  std::vector<SentFrame> sent;
  std::deque<Bytes> replies;
  std::function<Bytes(const Bytes&)> station;
  std::int16_t sendResult = 0;
};

class FakeHost final : public EngineHost {
 public:
  void SleepMilliseconds(unsigned) override {}
  std::uint32_t TickCount() override { return ticks; }
  CivilTime LocalTime() override { return {2005, 3, 7, 14, 5, 9, 0}; }
  ReplyCheck EventReply(int, int pollRecord, const std::uint8_t* frame, std::size_t length) override {
    events.push_back({pollRecord, Bytes(frame, frame + length)});
    return ReplyCheck::kGood;
  }
  void KickEventWriter() override { ++kicks; }
  std::uint32_t ticks = 1000000;
  std::vector<std::pair<int, Bytes>> events;
  int kicks = 0;
};

// A station that answers read words with counting data and writes with an
// acknowledgement.
Bytes AnsweringStation(const Bytes& request) {
  if (request.size() >= 6 && request[2] == 0x64) {
    Bytes reply = {request[0], static_cast<std::uint8_t>(3 + 2 * request[5]), 0x65, request[3], request[4], request[5]};
    for (int i = 0; i < request[5]; ++i) {
      reply.push_back(0x10);
      reply.push_back(static_cast<std::uint8_t>(i));
    }
    return reply;
  }
  if (request.size() >= 3 && request[2] == 0x66) return {request[0], 0, 0x67};
  return {};
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { CapturedLog().clear(); }

  // One channel (ports 0 and 1), one device (station 5, backup 6).
  void Build(std::vector<DitPollRecord> records, std::uint16_t hardware = kHardwareZOLT) {
    DitConfiguration configuration;
    DitDeviceSource device = SampleDevice("D1", 5, std::move(records));
    device.record.backupStation = 6;
    device.record.hardwareType = hardware;
    DitChannelSource channel = SampleChannel(0, {device});
    channel.record.backup = channel.record.primary;
    channel.record.backup.port = 1;
    channel.record.primary.retries = 2;
    channel.record.primary.replyTimeout = 5;
    channel.record.primary.failureDelay = 100;
    channel.record.backup.failureDelay = 300;
    configuration.channels.push_back(channel);
    Start(configuration);
  }

  // The engine over the image of `configuration`, its first channel started.
  void Start(DitConfiguration& configuration) {
    bytes = WriteDitImage(configuration, 0).bytes;
    ASSERT_FALSE(bytes.empty());
    image = DitImage(bytes.data(), bytes.size());
    engine = std::make_unique<PollEngine>(image, card, host);
    ASSERT_TRUE(engine->StartChannel(0));
  }

  void Cycles(int count, std::uint32_t elapsed = 1) {
    for (int i = 0; i < count; ++i) engine->PollCycle(elapsed);
  }
  std::uint16_t Word(int record, int area, int index) {
    std::uint16_t value = 0;
    std::memcpy(&value, image.Area(record, area) + 2 * index, 2);
    return value;
  }
  void SetWord(int record, int area, int index, std::uint16_t value) {
    std::memcpy(image.Area(record, area) + 2 * index, &value, 2);
  }
  DitExceptionEntry* Entries(int record) {
    return reinterpret_cast<DitExceptionEntry*>(image.Area(record, kExceptionArea));
  }
  std::vector<std::uint8_t> Commands() {
    std::vector<std::uint8_t> commands;
    for (const SentFrame& frame : card.sent) commands.push_back(frame.bytes.size() > 2 ? frame.bytes[2] : 0);
    return commands;
  }

  Bytes bytes;
  DitImage image;
  FakeCard card;
  FakeHost host;
  std::unique_ptr<PollEngine> engine;
};

TEST_F(Engine, ARecordWithPollTimeZeroIsReadEveryIdleCycleAndItsValuesLand) {
  DitPollRecord record = SamplePollRecord(0x12C, 4);
  record.pollTime = 0;
  Build({record});
  card.station = AnsweringStation;
  Cycles(10);
  ASSERT_EQ(card.sent.size(), 10u);
  EXPECT_EQ(card.sent[0].bytes, (Bytes{5, 3, 0x64, 0x01, 0x2C, 4}));
  EXPECT_EQ(card.sent[0].card, 1);  // primary port 0 + 1
  EXPECT_EQ(image.PollRecord(0)->status, kStatusGood);
  EXPECT_EQ(Word(0, kValueArea, 0), 0x1000);
  EXPECT_EQ(Word(0, kValueArea, 3), 0x1003);
  EXPECT_EQ(image.Channel(0)->statistics.framesSent, 10);
  EXPECT_EQ(image.Channel(0)->statistics.framesReceived, 9);
}

// Records due at the same time are read in turn, the scan going on after
// the record read last, so one that is always due starves no other.
TEST_F(Engine, RecordsDueTogetherAreReadInTurn) {
  std::vector<DitPollRecord> records;
  for (std::uint16_t start : {0x10, 0x20, 0x30}) {
    records.push_back(SamplePollRecord(start, 1));
    records.back().pollTime = 0;
  }
  Build(records);
  card.station = AnsweringStation;
  Cycles(6);
  std::vector<std::uint8_t> addresses;
  for (const SentFrame& frame : card.sent) addresses.push_back(frame.bytes[4]);
  EXPECT_EQ(addresses, (std::vector<std::uint8_t>{0x10, 0x20, 0x30, 0x10, 0x20, 0x30}));
}

TEST_F(Engine, PollTimesCountInTicks) {
  DitPollRecord record = SamplePollRecord(0, 2);
  record.pollTime = 50;  // half a second
  Build({record});
  card.station = AnsweringStation;
  Cycles(100);
  EXPECT_EQ(card.sent.size(), 2u);  // at tick 1 and after 50 more
  Cycles(60, 5);
  EXPECT_EQ(card.sent.size(), 8u);
}

TEST_F(Engine, ReadsAndWritesAlternateWhileBothWait) {
  DitPollRecord reader = SamplePollRecord(0, 2);
  reader.pollTime = 0;
  DitPollRecord writer = SamplePollRecord(100, 8);
  writer.pollTime = 100000;
  Build({reader, writer});
  card.station = AnsweringStation;
  image.Runtime(1)->pollCountdown = 100000;
  for (int i : {0, 2, 4, 6}) SetWord(1, kWriteFlagArea, i, kWholeWord);
  image.Runtime(1)->pendingWrites = 64;
  Cycles(9);
  const std::vector<std::uint8_t> commands = Commands();
  ASSERT_GE(commands.size(), 8u);
  EXPECT_EQ(std::vector<std::uint8_t>(commands.begin(), commands.begin() + 8),
            (std::vector<std::uint8_t>{0x64, 0x66, 0x64, 0x66, 0x64, 0x66, 0x64, 0x66}));
  EXPECT_EQ(image.Runtime(1)->pendingWrites, 0);
}

TEST_F(Engine, ARunOfWholeWordFlagsIsOneWriteWordsRequest) {
  Build({SamplePollRecord(0x20, 6)});
  image.Runtime(0)->pollCountdown = 5000;
  for (int i = 1; i <= 3; ++i) SetWord(0, kWriteFlagArea, i, kWholeWord);
  SetWord(0, kWriteValueArea, 1, 0x0102);
  SetWord(0, kWriteValueArea, 2, 0x0304);
  SetWord(0, kWriteValueArea, 3, 0xA0B0);
  image.Runtime(0)->pendingWrites = 48;
  Cycles(1);
  ASSERT_EQ(card.sent.size(), 1u);
  EXPECT_EQ(card.sent[0].bytes, (Bytes{5, 9, 0x66, 0x00, 0x21, 3, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0}));
  EXPECT_EQ(image.Runtime(0)->pendingWrites, 0);
  EXPECT_EQ(image.Runtime(0)->pollCountdown, 0);  // read back at once
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Word(0, kWriteFlagArea, i), 0);
  EXPECT_EQ(image.Channel(0)->statistics.writeRequests, 1);
}

TEST_F(Engine, ALongRunOfWholeWordFlagsGoesOutInFramesThatFitTheTransmitArea) {
  Build({SamplePollRecord(0, 130)});
  card.station = AnsweringStation;
  image.Runtime(0)->enabled = 0;  // written only, never read
  image.Runtime(0)->pollCountdown = 5000;
  for (int i = 0; i < 130; ++i) {
    SetWord(0, kWriteFlagArea, i, kWholeWord);
    SetWord(0, kWriteValueArea, i, static_cast<std::uint16_t>(i));
  }
  image.Runtime(0)->pendingWrites = 130 * 16;
  Cycles(3);
  ASSERT_EQ(card.sent.size(), 2u);
  // 125 words: 256 bytes, the most the transmit area holds.
  ASSERT_EQ(card.sent[0].bytes.size(), kFrameAreaSize);
  EXPECT_EQ(card.sent[0].bytes[1], 253);
  EXPECT_EQ(card.sent[0].bytes[5], 125);
  EXPECT_EQ(card.sent[0].bytes[255], 124);  // low byte of the last word sent
  // The other 5 follow in a request of their own, from register 125.
  EXPECT_EQ(card.sent[1].bytes, (Bytes{5, 13, 0x66, 0x00, 125, 5, 0, 125, 0, 126, 0, 127, 0, 128, 0, 129}));
  EXPECT_EQ(image.Runtime(0)->pendingWrites, 0);
}

TEST_F(Engine, ABitMaskIsOneMaskedWriteWithTheMergedValue) {
  DitPollRecord record = SamplePollRecord(0x20, 4, kDataDigital, kExceptionDigital);
  Build({record});
  image.Runtime(0)->pollCountdown = 5000;
  SetWord(0, kValueArea, 1, 0x1230);
  SetWord(0, kWriteValueArea, 1, 0xFFFF);
  SetWord(0, kWriteFlagArea, 1, 0x0005);
  image.Runtime(0)->pendingWrites = 2;
  Entries(0)[16 + 0].ownerByte = 1;  // bit 0 of word 1 is watched
  Entries(0)[16 + 2].ownerByte = 1;
  Cycles(1);
  ASSERT_EQ(card.sent.size(), 1u);
  EXPECT_EQ(card.sent[0].bytes, (Bytes{5, 5, 0x66, 0x00, 0x21, 1, 0x12, 0x35}));
  EXPECT_EQ(Word(0, kValueArea, 1), 0x1235);
  EXPECT_EQ(Word(0, kWriteFlagArea, 1), 0);
  EXPECT_EQ(image.Runtime(0)->pendingWrites, 0);
  EXPECT_EQ(Entries(0)[16].changed, 1);
  EXPECT_EQ(Entries(0)[18].changed, 1);
  EXPECT_EQ(image.Runtime(0)->pendingExceptions, 2);
}

// The record's last word is written like any other, and the pending count
// goes down by exactly the bits a request carried.
TEST_F(Engine, WritesReachTheRecordsLastWordAndCountDownWhatWasSent) {
  Build({SamplePollRecord(0x20, 4, kDataDigital, kExceptionDigital)});
  image.Runtime(0)->pollCountdown = 5000;
  SetWord(0, kValueArea, 3, 0x00F0);
  SetWord(0, kWriteValueArea, 3, 0x0001);
  SetWord(0, kWriteFlagArea, 3, 0x0001);
  image.Runtime(0)->pendingWrites = 3;
  Cycles(1);
  ASSERT_EQ(card.sent.size(), 1u);
  EXPECT_EQ(card.sent[0].bytes, (Bytes{5, 5, 0x66, 0x00, 0x23, 1, 0x00, 0xF1}));
  EXPECT_EQ(image.Runtime(0)->pendingWrites, 2);

  card.station = AnsweringStation;
  card.replies.push_back({5, 0, 0x67});
  Cycles(3);  // the reply, the read back and its reply
  card.sent.clear();
  SetWord(0, kWriteFlagArea, 1, kWholeWord);
  SetWord(0, kWriteFlagArea, 2, kWholeWord);
  image.Runtime(0)->pendingWrites = 40;
  image.Runtime(0)->pollCountdown = 5000;
  Cycles(1);
  ASSERT_EQ(Commands(), (std::vector<std::uint8_t>{0x66}));
  EXPECT_EQ(card.sent[0].bytes[5], 2);
  EXPECT_EQ(image.Runtime(0)->pendingWrites, 40 - 32);
}

TEST_F(Engine, UsedUpRetriesFailTheRecordAndSwitchPortAndStation) {
  Build({SamplePollRecord(0x10, 2)});
  Cycles(1);  // request sent
  ASSERT_EQ(card.sent.size(), 1u);
  Cycles(5 * 3);  // three timeouts: two retries, then failure
  ASSERT_EQ(card.sent.size(), 3u);
  EXPECT_EQ(card.sent[1].bytes, card.sent[0].bytes);
  EXPECT_EQ(image.PollRecord(0)->status, kStatusCommFailure);
  EXPECT_EQ(CountLogged("Channel 1 Device 1 Poll Record 1 - Failed Communication"), 1);
  EXPECT_TRUE(WasLogged("Channel 1 Device 1 retry reading poll 0 err = 0 rc=2"));
  EXPECT_TRUE(WasLogged("Channel 1 Device 1 retry reading poll 0 err = 0 rc=1"));
  EXPECT_TRUE(WasLogged("Channel 1 - Switched Port From 1 To 2"));
  EXPECT_TRUE(WasLogged("Channel 1 Device 1 - Switched Station From 5 To 6"));
  EXPECT_EQ(image.Channel(0)->activePort, 1);
  EXPECT_EQ(image.Device(0)->activeStation, 6);
  EXPECT_EQ(image.Runtime(0)->pollCountdown, 100);  // the failure delay of the link that failed
  EXPECT_EQ(image.Channel(0)->statistics.retries, 2);
  EXPECT_EQ(image.Channel(0)->statistics.replyTimeouts, 3);
  EXPECT_EQ(image.Channel(0)->statistics.writeRequests, 5);  // the station of the last timeout

  // The next request goes to the backup station over the backup port, and
  // its answer recovers the record.
  card.station = AnsweringStation;
  Cycles(110);
  ASSERT_GE(card.sent.size(), 4u);
  EXPECT_EQ(card.sent[3].card, 2);
  EXPECT_EQ(card.sent[3].bytes[0], 6);
  EXPECT_EQ(image.PollRecord(0)->status, kStatusGood);
  EXPECT_TRUE(WasLogged("Channel 1 Device 1 Poll Record 1 - Recovered Communication"));
}

TEST_F(Engine, ANegativeAcknowledgementFailsAtOnceWithoutRetryOrSwitch) {
  DitPollRecord record = SamplePollRecord(0x10, 2);
  record.pollTime = 0;
  Build({record});
  card.station = [](const Bytes& request) { return Bytes{request[0], 0, 30}; };
  Cycles(2);
  EXPECT_EQ(image.PollRecord(0)->status, kStatusCommFailure);
  EXPECT_EQ(card.sent.size(), 1u);
  EXPECT_EQ(image.Channel(0)->activePort, 0);
  EXPECT_EQ(image.Device(0)->activeStation, 5);
  EXPECT_EQ(image.Channel(0)->statistics.lastNakStation, 5);
  EXPECT_EQ(image.Channel(0)->statistics.naksAndBadReplies, 1);
  EXPECT_EQ(image.Runtime(0)->pollCountdown, 100);
  Cycles(101);  // polled again after the failure delay, refused again
  EXPECT_EQ(card.sent.size(), 2u);
  EXPECT_EQ(image.Channel(0)->statistics.naksAndBadReplies, 2);
  EXPECT_EQ(CountLogged("Channel 1 Device 1 Poll Record 1 - Failed Communication"), 1);
}

TEST_F(Engine, ABadReplyIsCountedAndALaterGoodOneStillCompletes) {
  Build({SamplePollRecord(0x10, 2)});
  Cycles(1);
  card.replies.push_back({7, 7, 0x65, 0, 0x10, 2, 1, 2, 3, 4});  // another station
  Cycles(1);
  EXPECT_EQ(image.Channel(0)->statistics.naksAndBadReplies, 1);
  EXPECT_EQ(engine->McbOf(0)->busy, 1);
  card.replies.push_back({5, 7, 0x65, 0, 0x10, 2, 1, 2, 3, 4});
  Cycles(1);
  EXPECT_EQ(engine->McbOf(0)->busy, 0);
  EXPECT_EQ(image.PollRecord(0)->status, kStatusGood);
  EXPECT_EQ(Word(0, kValueArea, 1), 0x0304);
}

TEST_F(Engine, AccessExpiryStopsPollingButNeverForTheEndlessCountdown) {
  DitPollRecord expiring = SamplePollRecord(0, 2);
  expiring.pollTime = 0;
  DitPollRecord endless = SamplePollRecord(10, 2);
  endless.pollTime = 0;
  Build({expiring, endless});
  image.Runtime(0)->accessCountdown = 4;
  image.Runtime(1)->accessCountdown = kAccessNeverExpires;
  card.station = AnsweringStation;
  Cycles(50);
  EXPECT_EQ(image.PollRecord(0)->status, kStatusNotAccessed);
  EXPECT_EQ(image.Runtime(0)->accessExpired, 1);
  EXPECT_EQ(image.PollRecord(1)->status, kStatusGood);
  EXPECT_EQ(image.Runtime(1)->accessCountdown, kAccessNeverExpires);
  const std::size_t sent = card.sent.size();
  Cycles(10);
  for (std::size_t i = sent; i < card.sent.size(); ++i) EXPECT_EQ(card.sent[i].bytes[4], 10);  // only the endless one
}

TEST_F(Engine, ChangesAreMarkedByExceptionType) {
  DitPollRecord digital = SamplePollRecord(0, 1, kDataDigital, kExceptionDigital);
  DitPollRecord analog = SamplePollRecord(10, 1, kDataSigned, kExceptionAnalog);
  analog.deadBandInteger = 10;
  Build({digital, analog});
  Entries(0)[0].ownerByte = 1;
  Entries(0)[3].ownerByte = 1;
  Entries(1)[0].ownerByte = 1;
  // Both polled good before: only value changes mark points now.
  image.PollRecord(0)->status = kStatusGood;
  image.PollRecord(1)->status = kStatusGood;
  image.Runtime(0)->pollCountdown = 0;
  image.Runtime(1)->pollCountdown = 100000;

  auto reply = [&](int record, std::uint16_t value) {
    Cycles(1);  // request
    const Bytes& request = card.sent.back().bytes;
    card.replies.push_back({5, 5, 0x65, request[3], request[4], 1, static_cast<std::uint8_t>(value >> 8),
                            static_cast<std::uint8_t>(value)});
    Cycles(1);  // reply stored
    image.Runtime(record)->pollCountdown = 100000;
    image.Runtime(1 - record)->pollCountdown = 0;
  };
  reply(0, 0x0003);  // bits 0 and 1 went up: bit 0 is watched, bit 1 is not
  EXPECT_EQ(Entries(0)[0].changed, 1);
  EXPECT_EQ(Entries(0)[1].changed, 0);
  EXPECT_EQ(Entries(0)[3].changed, 0);
  EXPECT_EQ(image.Runtime(0)->pendingExceptions, 1);

  reply(1, 5);  // within the dead band
  EXPECT_EQ(Entries(1)[0].changed, 0);
  // The dead band check counted from the stored 0: a fresh record starts at 0 and 5 is within 10.
  image.Runtime(1)->pollCountdown = 0;
  image.Runtime(0)->pollCountdown = 100000;
  Cycles(1);
  const Bytes& request = card.sent.back().bytes;
  card.replies.push_back({5, 5, 0x65, request[3], request[4], 1, 0xFF, 0xF0});  // -16: 21 away from 5
  Cycles(1);
  EXPECT_EQ(Entries(1)[0].changed, 1);
  EXPECT_EQ(image.Runtime(1)->pendingExceptions, 1);
  EXPECT_EQ(Word(1, kValueArea, 0), 0xFFF0);
}

// A word is a change only when it moved by more than the dead band: exactly
// the band is not, one more is; in both directions.
TEST_F(Engine, AChangeMustExceedTheDeadBand) {
  DitPollRecord analog = SamplePollRecord(10, 1, kDataSigned, kExceptionAnalog);
  analog.deadBandInteger = 10;
  Build({analog});
  Entries(0)[0].ownerByte = 1;
  image.PollRecord(0)->status = kStatusGood;
  auto marked = [&](std::uint16_t value) {
    Entries(0)[0].changed = 0;
    image.Runtime(0)->pollCountdown = 0;
    Cycles(1);
    const Bytes& request = card.sent.back().bytes;
    card.replies.push_back({5, 5, 0x65, request[3], request[4], 1, static_cast<std::uint8_t>(value >> 8),
                            static_cast<std::uint8_t>(value)});
    Cycles(1);
    EXPECT_EQ(Word(0, kValueArea, 0), value) << "the word is stored in every case";
    return Entries(0)[0].changed == 1;
  };
  EXPECT_FALSE(marked(10)) << "0 -> 10: exactly the band";
  EXPECT_FALSE(marked(19)) << "10 -> 19: one below";
  EXPECT_TRUE(marked(30)) << "19 -> 30: one above";
  EXPECT_FALSE(marked(20)) << "30 -> 20: the band downwards";
  EXPECT_TRUE(marked(9)) << "20 -> 9: one above downwards";
  EXPECT_FALSE(marked(static_cast<std::uint16_t>(-1))) << "9 -> -1: the band across zero";
  EXPECT_TRUE(marked(static_cast<std::uint16_t>(-12))) << "-1 -> -12";
}

// Digital points have an entry per bit up to the record's last word; a
// text point's continuation word marks the point it continues, not the
// record's first one.
TEST_F(Engine, ChangesAreMarkedOnThePointsOwnEntry) {
  DitPollRecord digital = SamplePollRecord(0, 2, kDataDigital, kExceptionDigital);
  DitPollRecord text = SamplePollRecord(10, 5, 0, kExceptionAscii);
  Build({digital, text});
  image.PollRecord(0)->status = kStatusGood;
  image.PollRecord(1)->status = kStatusGood;
  Entries(0)[16 + 3].ownerByte = 1;  // bit 3 of the last word
  Entries(1)[0] = {0, 1, 5};
  Entries(1)[1] = {0, 0, 0xFFFF};
  Entries(1)[3] = {0, 2, 7};
  Entries(1)[4] = {0, 0, 0xFFFF};
  image.Runtime(1)->pollCountdown = 100000;
  Cycles(1);
  card.replies.push_back({5, 7, 0x65, 0, 0, 2, 0x00, 0x00, 0x00, 0x08});
  Cycles(1);
  EXPECT_EQ(Entries(0)[16 + 3].changed, 1);
  EXPECT_EQ(Entries(0)[1].changed, 0);
  EXPECT_EQ(image.Runtime(0)->pendingExceptions, 1);

  image.Runtime(0)->pollCountdown = 100000;
  image.Runtime(1)->pollCountdown = 0;
  Cycles(1);
  ASSERT_EQ(card.sent.back().bytes, (Bytes{5, 3, 0x64, 0, 10, 5}));
  card.replies.push_back({5, 13, 0x65, 0, 10, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0x41, 0x42});  // only word 4 changed
  Cycles(1);
  EXPECT_EQ(Entries(1)[3].changed, 1);
  EXPECT_EQ(Entries(1)[0].changed, 0);
  EXPECT_EQ(image.Runtime(1)->pendingExceptions, 1);
}

// Station numbers take the whole byte.
TEST_F(Engine, StationsAbove127AreAddressedByTheirWholeNumber) {
  Build({SamplePollRecord(0x10, 1)});
  image.Device(0)->activeStation = 200;
  Cycles(1);
  ASSERT_EQ(card.sent.size(), 1u);
  EXPECT_EQ(card.sent[0].bytes, (Bytes{200, 3, 0x64, 0x00, 0x10, 1}));
  card.replies.push_back({200, 5, 0x65, 0x00, 0x10, 1, 0x12, 0x34});
  Cycles(1);
  EXPECT_EQ(Word(0, kValueArea, 0), 0x1234);
  EXPECT_EQ(image.PollRecord(0)->status, kStatusGood);
}

TEST_F(Engine, TextPointsOverSeveralWordsAreMarkedOnceAndTwoRegisterValuesCopiedAsTheyCome) {
  DitPollRecord text = SamplePollRecord(0, 4, 0, kExceptionAscii);
  DitPollRecord real = SamplePollRecord(20, 2, kDataFloat, kExceptionDisabled);
  Build({text, real});
  image.PollRecord(0)->status = kStatusGood;
  Entries(0)[0] = {0, 1, 5};       // a point starting at word 0 ...
  Entries(0)[1] = {0, 0, 0xFFFF};  // ... and going on into word 1
  Entries(0)[3] = {0, 2, 7};       // a point of its own at word 3
  SetWord(0, kValueArea, 3, 0x4142);
  image.Runtime(1)->pollCountdown = 100000;
  Cycles(1);
  card.replies.push_back({5, 11, 0x65, 0, 0, 4, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x41, 0x42});
  Cycles(1);
  EXPECT_EQ(Entries(0)[0].changed, 1);
  EXPECT_EQ(Entries(0)[3].changed, 0);  // word 3 came back unchanged
  EXPECT_EQ(image.Runtime(0)->pendingExceptions, 1);
  EXPECT_EQ(Word(0, kValueArea, 0), 0x4849);
  EXPECT_EQ(Word(0, kValueArea, 1), 0x4A4B);
  EXPECT_EQ(Word(0, kValueArea, 2), 0x4C4D);

  image.Runtime(0)->pollCountdown = 100000;
  image.Runtime(1)->pollCountdown = 0;
  Cycles(1);
  ASSERT_EQ(card.sent.back().bytes, (Bytes{5, 3, 0x64, 0, 20, 2}));
  card.replies.push_back({5, 7, 0x65, 0, 20, 2, 0xAA, 0xBB, 0xCC, 0xDD});
  Cycles(1);
  const std::uint8_t* bytes = image.Area(1, kValueArea);
  EXPECT_EQ((Bytes(bytes, bytes + 4)), (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
}

TEST_F(Engine, QualityChangesMarkEveryWatchedPoint) {
  DitPollRecord record = SamplePollRecord(0, 1, kDataDigital, kExceptionDigital);
  Build({record});
  Entries(0)[2].ownerByte = 9;
  Entries(0)[7].ownerByte = 9;
  Entries(0)[7].changed = 1;  // not yet collected
  card.station = [](const Bytes& request) { return Bytes{request[0], 0, 35}; };
  Cycles(2);  // 4297 -> 4293: both non-zero, nothing marked
  EXPECT_EQ(Entries(0)[2].changed, 0);
  card.station = AnsweringStation;
  Cycles(200);  // 4293 -> 0: quality changes
  EXPECT_EQ(image.PollRecord(0)->status, kStatusGood);
  EXPECT_EQ(Entries(0)[2].changed, 1);
  EXPECT_GE(image.Runtime(0)->pendingExceptions, 1);

  engine->StopChannel(0);
  EXPECT_EQ(image.PollRecord(0)->status, kStatusStopped);
  EXPECT_EQ(Entries(0)[7].changed, 1);
  EXPECT_EQ(image.Runtime(0)->pendingExceptions, 2);  // set to the entries marked
  EXPECT_EQ(engine->McbOf(0), nullptr);
  EXPECT_EQ(image.Channel(0)->driverBlockPointer, 0u);
}

TEST_F(Engine, EventRequestsAreRetriedAsRepeatsAndRepliesGoToTheDecoder) {
  DitPollRecord events = SamplePollRecord(0, 14, kDataUnsigned, kExceptionDisabled, kPollKindEvent);
  Build({events}, kHardwareEVR420);
  image.Device(0)->deviceOption = 0x42;
  Cycles(1);
  ASSERT_EQ(card.sent.size(), 1u);
  EXPECT_EQ(card.sent[0].bytes, (Bytes{5, 2, 0x0F, 0x11, 0x42}));
  Cycles(5);
  ASSERT_EQ(card.sent.size(), 2u);
  EXPECT_EQ(card.sent[1].bytes, (Bytes{5, 2, 0x0F, 0x13, 0x42}));
  card.replies.push_back({5, 12, 0x0F, 0, 0, 5, 3, 7, 14, 5, 9, 0x01, 0xF4, 0x00, 0x21});
  Cycles(1);
  ASSERT_EQ(host.events.size(), 1u);
  EXPECT_EQ(host.events[0].first, 0);
  EXPECT_EQ(host.events[0].second.size(), 15u);
  EXPECT_EQ(image.PollRecord(0)->status, kStatusGood);
}

// The recorder hands an event out when it answers "next event"; when that
// answer and every retry's are lost, only a repeat request can fetch it.
TEST_F(Engine, AFailedEventRequestIsFollowedByARepeatUntilTheRecorderAnswers) {
  DitPollRecord events = SamplePollRecord(0, 14, kDataUnsigned, kExceptionDisabled, kPollKindEvent);
  events.pollTime = 0;
  Build({events}, kHardwareEVR420);
  auto subCommands = [&] {
    Bytes bytes;
    for (const SentFrame& frame : card.sent) {
      if (frame.bytes.size() == 5) bytes.push_back(frame.bytes[3]);  // not the time syncs
    }
    return bytes;
  };
  Cycles(400);  // the request and its two retries unanswered; then again after the failure delay
  ASSERT_EQ(image.PollRecord(0)->status, kStatusCommFailure);
  ASSERT_GE(card.sent.size(), 6u);
  const Bytes first = subCommands();
  EXPECT_EQ((Bytes(first.begin(), first.begin() + 6)), (Bytes{0x11, 0x13, 0x13, 0x13, 0x13, 0x13}));

  // A refusal is no answer either.
  card.sent.clear();
  card.station = [](const Bytes& request) { return Bytes{request[0], 1, 30, request[2]}; };
  Cycles(400);
  ASSERT_FALSE(card.sent.empty());
  const Bytes refused = subCommands();
  EXPECT_EQ(refused, Bytes(refused.size(), 0x13));

  // The recorder answers (no event waiting): asking for the next event again.
  card.sent.clear();
  card.station = [](const Bytes& request) {
    return Bytes{request[0], 12, 0x0F, 0, 0, 24, 5, 2, 1, 0, 0, 0, 0, 0, 0};
  };
  Cycles(400);
  ASSERT_GE(card.sent.size(), 2u);
  const Bytes answered = subCommands();
  EXPECT_EQ(answered[0], 0x13);
  EXPECT_EQ(Bytes(answered.begin() + 1, answered.end()), Bytes(answered.size() - 1, 0x11));
  EXPECT_EQ(image.PollRecord(0)->status, kStatusGood);
}

// A recorder whose answer to "next event" comes after the driver gave up
// waiting: the late answer is taken for the repeat's, and the repeat's own
// answer, still on its way, must not be taken for the request after it.
// Otherwise every later answer lands one request late, and the one that
// lands on a request for data is lost with the event in it.
// With retries the late answer meets the retry; without, it meets the
// repeat that follows the failed request.
class LateEventReply : public Engine, public ::testing::WithParamInterface<int> {};

TEST_P(LateEventReply, IsNotTakenForTheNextRequest) {
  // The recorder (station 5), asked as fast as it answers, and a rack
  // (station 7) read now and then, on one channel.
  DitPollRecord events = SamplePollRecord(0, 14, kDataUnsigned, kExceptionDisabled, kPollKindEvent);
  events.pollTime = 0;
  DitPollRecord data = SamplePollRecord(0x10, 2);
  data.pollTime = 10;
  DitConfiguration configuration;
  DitDeviceSource recorder = SampleDevice("SOE", 5, {events});
  recorder.record.hardwareType = kHardwareEVR420;
  DitChannelSource channel = SampleChannel(0, {recorder, SampleDevice("RACK", 7, {data})});
  channel.record.primary.retries = static_cast<std::uint8_t>(GetParam());
  channel.record.primary.replyTimeout = 5;
  channel.record.primary.failureDelay = 0;
  configuration.channels.push_back(channel);
  Start(configuration);
  // The recorder's queue: "next" hands out the following event (an empty
  // queue gives code 0), "repeat" the one handed out last; events are told
  // apart by their code byte.
  std::vector<std::uint8_t> queue;
  for (std::uint8_t code = 1; code <= 40; ++code) queue.push_back(code);
  std::size_t handedOut = 0;
  std::uint8_t current = 0;
  auto answer = [&](const Bytes& request) {
    if (request.size() > 0 && request[0] == 7) return AnsweringStation(request);
    if (request.size() != 5 || request[2] != 0x0F) return Bytes{};
    if (request[3] == 0x11) current = handedOut < queue.size() ? queue[handedOut++] : 0;
    return Bytes{5, 12, 0x0F, 0, static_cast<std::uint8_t>(queue.size() - handedOut), 5, 3, 7, 14, 5, 9, 0x01, 0xF4,
                 0x00, current};
  };
  // One answer of the recorder's held back past the driver's timeout: it
  // arrives just before the answer to the repeat that follows.
  bool holdNext = false;
  Bytes held;
  card.station = [&](const Bytes& request) {
    Bytes reply = answer(request);
    if (request[0] != 5) return reply;
    if (holdNext) {
      held = reply;
      holdNext = false;
      return Bytes{};
    }
    if (!held.empty()) card.replies.push_back(std::exchange(held, Bytes{}));
    return reply;
  };
  Cycles(4);  // the rack read once: not due again for a while
  ASSERT_EQ(std::count_if(card.sent.begin(), card.sent.end(), [](const SentFrame& f) { return f.bytes[0] == 7; }), 1);
  holdNext = true;
  Cycles(400);
  std::vector<std::uint8_t> codes;
  for (const auto& [record, frame] : host.events) {
    if (frame[14] != 0 && (codes.empty() || codes.back() != frame[14])) codes.push_back(frame[14]);
  }
  EXPECT_EQ(codes, queue);
  EXPECT_EQ(handedOut, queue.size());
  EXPECT_EQ(image.PollRecord(1)->status, kStatusGood);  // the rack read on
}

INSTANTIATE_TEST_SUITE_P(Engine, LateEventReply, ::testing::Values(2, 0));

TEST_F(Engine, AnEventRecordersDataWaitForItsEventsAndItIsTimeSynchronised) {
  DitPollRecord data = SamplePollRecord(0, 2);
  data.pollTime = 0;
  Build({data}, kHardwareEVR420);
  EXPECT_EQ(image.Device(0)->timeSyncInterval, kEventRecorderTimeSyncInterval);
  card.station = AnsweringStation;
  Cycles(1000);
  EXPECT_TRUE(card.sent.empty());  // no events reported yet: no data reads
  Cycles(1);  // the 1001st idle cycle
  ASSERT_EQ(card.sent.size(), 1u);
  EXPECT_EQ(card.sent[0].bytes, (Bytes{5, 7, 0x0F, 0x0A, 14, 5, 9, 3, 7, 5}));
  EXPECT_TRUE(WasLogged("Time Sync D1 xmt= 05|07|0F|0A|0E|05|09|03|"));
  EXPECT_EQ(host.kicks, 1);
  EXPECT_EQ(image.Channel(0)->statistics.framesSent, 0);  // time syncs are not counted

  image.Device(0)->emptyEventCount = 1;
  Cycles(30);  // past the unanswered time sync's retries
  EXPECT_EQ(Commands().back(), 0x64);
}

// A recorder is synchronised again only when more than its interval has
// passed since the channel's last time sync.
TEST_F(Engine, ATimeSyncWaitsUntilMoreThanItsIntervalHasPassed) {
  Build({SamplePollRecord(0, 2)}, kHardwareEVR420);
  image.Runtime(0)->pollCountdown = 1000000000;
  card.station = [](const Bytes& request) { return Bytes{request[0], 1, 0x0F, 0x0A}; };
  auto syncs = [&] {
    int count = 0;
    for (const SentFrame& frame : card.sent) count += frame.bytes.size() > 3 && frame.bytes[3] == 0x0A;
    return count;
  };
  Cycles(1001);
  ASSERT_EQ(syncs(), 1);
  const std::uint32_t synchronised = host.ticks;
  host.ticks = synchronised + kEventRecorderTimeSyncInterval;
  Cycles(1001);
  EXPECT_EQ(syncs(), 1) << "exactly the interval";
  host.ticks = synchronised + kEventRecorderTimeSyncInterval + 1;
  Cycles(1001);
  EXPECT_EQ(syncs(), 2) << "one past the interval";
}

TEST_F(Engine, AnUnansweredTimeSyncLeavesThePollRecordsAlone) {
  Build({SamplePollRecord(0, 2)}, kHardwareEVR420);
  image.Runtime(0)->pollCountdown = 1000000;
  Cycles(1001);
  ASSERT_EQ(card.sent.size(), 1u);
  Cycles(20);  // retries used up
  EXPECT_EQ(image.PollRecord(0)->status, kStatusStopped);
  EXPECT_EQ(image.Channel(0)->activePort, 1);  // the link still counts as failed
}

TEST_F(Engine, SendFailuresAreLoggedAndTheTimeoutHandlesThem) {
  Build({SamplePollRecord(0x10, 2)});
  card.sendResult = 2;
  Cycles(1);
  EXPECT_TRUE(WasLogged("Send Failed = 2 Channel 1"));
  Cycles(5);
  EXPECT_TRUE(WasLogged("Retry Send Failed = 2 Channel 1"));
}

}  // namespace
}  // namespace vrt
