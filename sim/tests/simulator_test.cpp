// The network as a whole: routing frames to stations, every injected fault,
// the wire-time model, counters and the frame log.
#include <gtest/gtest.h>

#include "fake_clock.h"
#include "simulator.h"

namespace vrt::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FakeClock;

NetworkSpec TwoStations(int baudRate = 0) {
  NetworkSpec network;
  CardSpec card;
  card.card = 1;
  card.port = 0;
  card.baudRate = baudRate;
  StationSpec zolt;
  zolt.number = 1;
  zolt.hardwareType = 23;
  zolt.registers = {{0, 10}, {1, 20}};
  StationSpec recorder;
  recorder.number = 7;
  recorder.hardwareType = 3;
  recorder.clock = CivilTime{2024, 1, 2, 3, 4, 5, 0};
  EventSpec first;
  first.event = StationEvent{33, 1, {2024, 1, 2, 3, 4, 4, 500}};
  EventSpec second;
  second.event = StationEvent{34, 1, {}};
  second.stampNow = true;
  recorder.events = {first, second};
  card.stations = {zolt, recorder};
  network.cards = {card};
  return network;
}

const Bytes kRead = {1, 3, 0x64, 0, 0, 2};
const Bytes kReadReply = {1, 7, 0x65, 0, 0, 2, 0, 10, 0, 20};
const Bytes kWrite = {1, 5, 0x66, 0, 5, 1, 0x12, 0x34};
const Bytes kNextEvent = {7, 2, 0x0F, 0x11, 0};
const Bytes kRepeatEvent = {7, 2, 0x0F, 0x13, 0};

class SimulatorTest : public ::testing::Test {
 protected:
  RequestOutcome Send(const Bytes& frame) { return simulator_.HandleRequest(1, frame); }
  void AddFault(FaultKind kind, int station = 1, int argument = 0, int count = 1) {
    std::string error;
    ASSERT_TRUE(simulator_.AddFault(1, Fault{kind, station, argument, count}, &error)) << error;
  }
  Station& Zolt() { return *simulator_.FindCard(1)->FindStation(1); }

  FakeClock clock_;
  Simulator simulator_{TwoStations(), clock_};
};

TEST_F(SimulatorTest, StationsAreBuiltFromTheDescription) {
  Station& recorder = *simulator_.FindCard(1)->FindStation(7);
  EXPECT_EQ(Zolt().Register(1), 20);
  ASSERT_EQ(recorder.QueuedEvents().size(), 2u);
  EXPECT_EQ(recorder.QueuedEvents()[0].stamp, (CivilTime{2024, 1, 2, 3, 4, 4, 500}));
  // Stamped "now" with the recorder's own clock, not the host's.
  EXPECT_EQ(recorder.QueuedEvents()[1].stamp, (CivilTime{2024, 1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(simulator_.FindCard(0), nullptr);
}

TEST_F(SimulatorTest, AFrameReachesItsStationAndTheReplyGoesBack) {
  const RequestOutcome outcome = Send(kRead);
  EXPECT_EQ(outcome.action, RequestAction::kReply);
  EXPECT_EQ(outcome.reply, kReadReply);
  EXPECT_EQ(outcome.delayMs, 0);
  EXPECT_EQ(simulator_.FindCard(1)->counters.requests, 1u);
  EXPECT_EQ(simulator_.FindCard(1)->counters.bytesIn, 6u);
}

TEST_F(SimulatorTest, NoStationNoReply) {
  const RequestOutcome outcome = Send({9, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(outcome.action, RequestAction::kNoReply);
  EXPECT_EQ(simulator_.FindCard(1)->counters.unknownStation, 1u);
  EXPECT_EQ(simulator_.HandleRequest(3, kRead).action, RequestAction::kNoReply);  // no such card
}

TEST_F(SimulatorTest, NoReplyMeansTheStationNeverHeardTheRequest) {
  AddFault(FaultKind::kNoReply);
  EXPECT_EQ(Send(kWrite).action, RequestAction::kNoReply);
  EXPECT_EQ(Zolt().Register(5), 0);
  EXPECT_EQ(Zolt().Counters().writes, 0u);
  EXPECT_EQ(Send(kWrite).action, RequestAction::kReply);  // the fault is used up
  EXPECT_EQ(Zolt().Register(5), 0x1234);
  EXPECT_EQ(simulator_.FindCard(1)->counters.faults, 1u);
}

TEST_F(SimulatorTest, ALostReplyComesAfterTheStationActed) {
  AddFault(FaultKind::kLostReply);
  EXPECT_EQ(Send(kWrite).action, RequestAction::kNoReply);
  EXPECT_EQ(Zolt().Register(5), 0x1234);
}

TEST_F(SimulatorTest, ALostEventReplyIsRecoveredByTheRepeatRequest) {
  AddFault(FaultKind::kLostReply, 7);
  EXPECT_EQ(Send(kNextEvent).action, RequestAction::kNoReply);
  const RequestOutcome retry = Send(kRepeatEvent);
  ASSERT_EQ(retry.reply.size(), 15u);
  EXPECT_EQ(retry.reply[14], 33);  // the event that was lost on the way
  EXPECT_EQ(Send(kNextEvent).reply[14], 34);
}

TEST_F(SimulatorTest, AnUnheardEventRequestMakesTheRepeatGiveThePreviousEventAgain) {
  EXPECT_EQ(Send(kNextEvent).reply[14], 33);
  AddFault(FaultKind::kNoReply, 7);
  EXPECT_EQ(Send(kNextEvent).action, RequestAction::kNoReply);
  EXPECT_EQ(Send(kRepeatEvent).reply[14], 33);  // a duplicate, as the driver will see it
  EXPECT_EQ(Send(kNextEvent).reply[14], 34);
}

TEST_F(SimulatorTest, ANegativeAcknowledgementCarriesTheCodeAndChangesNothing) {
  AddFault(FaultKind::kNak, 1, 35);
  const RequestOutcome outcome = Send(kWrite);
  EXPECT_EQ(outcome.reply, (Bytes{1, 1, 35, 0x66}));
  EXPECT_EQ(Zolt().Register(5), 0);
  // Any code can be given, also ones the driver takes as merely bad.
  AddFault(FaultKind::kNak, 1, 41);
  EXPECT_EQ(Send(kRead).reply, (Bytes{1, 1, 41, 0x64}));
}

TEST_F(SimulatorTest, WrongStationWrongCommandAndWrongAddressCorruptOnlyTheirField) {
  AddFault(FaultKind::kWrongStation);
  Bytes expected = kReadReply;
  expected[0] = 2;
  EXPECT_EQ(Send(kRead).reply, expected);

  AddFault(FaultKind::kWrongCommand);
  expected = kReadReply;
  expected[2] = 0xE5;
  EXPECT_EQ(Send(kRead).reply, expected);

  AddFault(FaultKind::kWrongAddress);
  expected = kReadReply;
  expected[4] = 1;
  EXPECT_EQ(Send(kRead).reply, expected);

  EXPECT_EQ(Send(kRead).reply, kReadReply);
}

TEST_F(SimulatorTest, WrongLengthGivesAWellFormedFrameOneByteShort) {
  AddFault(FaultKind::kWrongLength);
  EXPECT_EQ(Send(kRead).reply, (Bytes{1, 6, 0x65, 0, 0, 2, 0, 10, 0}));
  AddFault(FaultKind::kWrongLength, 7);
  const Bytes event = Send(kNextEvent).reply;
  ASSERT_EQ(event.size(), 14u);
  EXPECT_EQ(event[1], 11);
}

TEST_F(SimulatorTest, DelayAddsToTheReplysTime) {
  AddFault(FaultKind::kDelay, 1, 250);
  const RequestOutcome outcome = Send(kRead);
  EXPECT_EQ(outcome.reply, kReadReply);
  EXPECT_EQ(outcome.delayMs, 250);
  EXPECT_EQ(Send(kRead).delayMs, 0);
}

TEST_F(SimulatorTest, DropClosesTheConnectionWithoutTheStationHearing) {
  AddFault(FaultKind::kDrop);
  EXPECT_EQ(Send(kWrite).action, RequestAction::kDrop);
  EXPECT_EQ(Zolt().Register(5), 0);
}

TEST_F(SimulatorTest, FaultsHitTheirCountInOrderAndOnlyTheirStation) {
  AddFault(FaultKind::kNak, 7, 30, 2);  // the recorder only
  AddFault(FaultKind::kNoReply, -1, 0, 1);  // any station
  AddFault(FaultKind::kNak, -1, 31, 1);
  EXPECT_EQ(Send(kRead).action, RequestAction::kNoReply);  // the first fault for station 1
  EXPECT_EQ(Send(kRead).reply, (Bytes{1, 1, 31, 0x64}));
  EXPECT_EQ(Send(kRead).reply, kReadReply);
  EXPECT_EQ(Send(kNextEvent).reply, (Bytes{7, 1, 30, 0x0F}));
  EXPECT_EQ(Send(kNextEvent).reply, (Bytes{7, 1, 30, 0x0F}));
  EXPECT_EQ(Send(kNextEvent).reply.size(), 15u);
  EXPECT_TRUE(simulator_.FindCard(1)->faults.empty());
  EXPECT_EQ(simulator_.FindCard(1)->counters.faults, 4u);
}

TEST_F(SimulatorTest, FaultsThatCannotApplyAreRefused) {
  std::string error;
  EXPECT_FALSE(simulator_.AddFault(0, Fault{FaultKind::kNoReply, -1, 0, 1}, &error));
  EXPECT_EQ(error, "no card 0");
  EXPECT_FALSE(simulator_.AddFault(1, Fault{FaultKind::kNoReply, 9, 0, 1}, &error));
  EXPECT_EQ(error, "card 1 has no station 9");
  EXPECT_FALSE(simulator_.AddFault(1, Fault{FaultKind::kNak, 1, 256, 1}, &error));
  EXPECT_FALSE(simulator_.AddFault(1, Fault{FaultKind::kDelay, 1, kMaxFaultDelayMs + 1, 1}, &error));
  EXPECT_FALSE(simulator_.AddFault(1, Fault{FaultKind::kDrop, 1, 0, 0}, &error));
  for (std::size_t i = 0; i < kMaxPendingFaults; ++i) {
    ASSERT_TRUE(simulator_.AddFault(1, Fault{FaultKind::kDelay, 1, 1, 1}, &error));
  }
  EXPECT_FALSE(simulator_.AddFault(1, Fault{FaultKind::kDelay, 1, 1, 1}, &error));
  EXPECT_EQ(error, "too many faults are waiting on card 1");
}

TEST_F(SimulatorTest, FaultNamesGoBothWays) {
  for (FaultKind kind : {FaultKind::kNoReply, FaultKind::kLostReply, FaultKind::kNak, FaultKind::kWrongStation,
                         FaultKind::kWrongLength, FaultKind::kWrongCommand, FaultKind::kWrongAddress,
                         FaultKind::kDelay, FaultKind::kDrop}) {
    EXPECT_EQ(FaultKindFromName(FaultKindName(kind)), kind);
  }
  EXPECT_EQ(FaultKindFromName("NoReply"), std::nullopt);
}

TEST_F(SimulatorTest, EveryFrameIsLoggedWithItsTime) {
  Send(kRead);
  clock_.Advance(1250);
  simulator_.ReplySent(1, kReadReply);
  Send({9, 0, 0x64});
  const std::vector<std::string> lines = simulator_.Log().Last(10);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "2024-05-01 08:00:00.000 card 1 rx 01 03 64 00 00 02");
  EXPECT_EQ(lines[1], "2024-05-01 08:00:01.250 card 1 tx 01 07 65 00 00 02 00 0A 00 14");
  EXPECT_EQ(lines[2], "2024-05-01 08:00:01.250 card 1 rx 09 00 64");
  EXPECT_EQ(lines[3], "2024-05-01 08:00:01.250 card 1 no station 9 on this card: no reply");

  AddFault(FaultKind::kDelay, 1, 40);
  Send(kRead);
  EXPECT_EQ(simulator_.Log().Last(1).front(), "2024-05-01 08:00:01.250 card 1 station 1 fault delay 40");
}

TEST(WireTime, ElevenBitsAByteRoundedUpToWholeMilliseconds) {
  EXPECT_EQ(WireTimeMs(0, 6, 10), 0);
  EXPECT_EQ(WireTimeMs(9600, 6, 10), 19);   // 176 bits: 18.3 ms
  EXPECT_EQ(WireTimeMs(19200, 6, 10), 10);  // 9.2 ms
  EXPECT_EQ(WireTimeMs(11000, 5, 5), 10);   // exactly 10 ms
  EXPECT_EQ(WireTimeMs(115200, 258, 256), 50);  // 5654 bits: 49.08 ms
}

TEST(WireTime, RepliesOfACardWithABaudRateWaitTheirWireTime) {
  FakeClock clock;
  Simulator simulator(TwoStations(9600), clock);
  const RequestOutcome read = simulator.HandleRequest(1, kRead);
  EXPECT_EQ(read.delayMs, WireTimeMs(9600, 6, 10));
  std::string error;
  ASSERT_TRUE(simulator.AddFault(1, Fault{FaultKind::kDelay, 1, 100, 1}, &error));
  EXPECT_EQ(simulator.HandleRequest(1, kRead).delayMs, 100 + WireTimeMs(9600, 6, 10));
  ASSERT_TRUE(simulator.AddFault(1, Fault{FaultKind::kNak, 1, 30, 1}, &error));
  EXPECT_EQ(simulator.HandleRequest(1, kRead).delayMs, WireTimeMs(9600, 6, 4));
}

TEST(FrameLogRing, KeepsTheLastLinesAndFeedsTheSinkWithEvery) {
  FrameLog log(3);
  std::vector<std::string> sunk;
  log.SetSink([&](const std::string& line) { sunk.push_back(line); });
  for (int i = 0; i < 5; ++i) log.Add(MillisecondsFromCivil({2024, 1, 1, 0, 0, 0, i}), "line " + std::to_string(i));
  EXPECT_EQ(sunk.size(), 5u);
  EXPECT_EQ(log.TotalLines(), 5u);
  const std::vector<std::string> last = log.Last(10);
  ASSERT_EQ(last.size(), 3u);
  EXPECT_EQ(last[0], "2024-01-01 00:00:00.002 line 2");
  EXPECT_EQ(last[2], "2024-01-01 00:00:00.004 line 4");
  EXPECT_EQ(log.Last(1).front(), "2024-01-01 00:00:00.004 line 4");
  log.Clear();
  EXPECT_TRUE(log.Last(10).empty());
}

}  // namespace
}  // namespace vrt::sim
