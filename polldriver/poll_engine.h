// The poll engine: what the driver does for every channel in each 10 ms
// cycle. It counts the poll records' timers down, collects and judges the
// reply to the channel's one outstanding request, retries or fails it,
// switches to the backup port and station after a failure, and when the
// channel is idle chooses the next request, reads and client writes in turn.
// Values, statuses and change marks go straight into the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "../image/dit_image.h"
#include "../image/lock_byte.h"
#include "frames.h"

namespace vrt {

// The message control block of a channel: the request in flight.
struct Mcb {
  std::uint8_t busy;
  std::uint8_t kind;  // 0 read, event or TORAVINE; 1 write or time sync
  std::uint16_t pollRecord;
  std::uint16_t device;
  std::uint8_t card;
  std::uint8_t spare;
  std::uint32_t replyTimeout;     // ticks
  std::int32_t timeoutCountdown;  // ticks
  std::uint16_t retriesLeft;
  std::uint16_t transmitLength;
  std::uint16_t receivedLength;
  std::uint32_t addressWord;
  std::uint16_t station;
  std::uint8_t command;
  std::uint8_t sequence;
  std::uint8_t transmit[kFrameAreaSize];
  std::uint8_t receive[kFrameAreaSize];
};
static_assert(sizeof(Mcb) == 544);
static_assert(offsetof(Mcb, replyTimeout) == 8);
static_assert(offsetof(Mcb, retriesLeft) == 16);
static_assert(offsetof(Mcb, addressWord) == 24);
static_assert(offsetof(Mcb, station) == 28);
static_assert(offsetof(Mcb, transmit) == 32);
static_assert(offsetof(Mcb, receive) == 288);

enum RequestKind : std::uint8_t { kReadKind = 0, kWriteKind = 1 };

// The card interface library as the engine uses it.
class CardAccess {
 public:
  virtual ~CardAccess() = default;
  virtual std::int16_t Send(std::int16_t card, std::int16_t length, const std::uint8_t* frame) = 0;
  virtual std::int16_t Receive(std::int16_t card, std::int16_t* length, std::uint8_t* buffer) = 0;
};

// What the engine needs of the rest of the driver.
class EngineHost : public Sleeper {
 public:
  virtual std::uint32_t TickCount() = 0;  // milliseconds
  virtual CivilTime LocalTime() = 0;
  // An event reply that passed its checks, for the sequence-of-events
  // decoder; returns how the reply is to be judged.
  virtual ReplyCheck EventReply(int channel, int pollRecord, const std::uint8_t* frame, std::size_t length) = 0;
  // Lets the event-database writer look at its queue.
  virtual void KickEventWriter() = 0;
};

inline constexpr std::uint32_t kEventRecorderTimeSyncInterval = 600000;  // ms
inline constexpr std::uint32_t kCyclesBetweenPeriodicWork = 1000;
inline constexpr std::uint16_t kWholeWord = 0xFFFF;

class PollEngine {
 public:
  PollEngine(const DitImage& image, CardAccess& card, EngineHost& host);
  ~PollEngine();

  // Network start-up for one channel: its MCB (card = primary port + 1),
  // the devices' time-sync intervals, read mode with both cursors at the
  // channel's first poll record. False when the MCB cannot be had: the
  // channel is then marked failed and skipped.
  bool StartChannel(int channel);
  // Network shut-down for one channel: every poll record gets status 4297
  // with its reportable points marked; the MCB is freed.
  void StopChannel(int channel);
  bool ChannelFailed(int channel) const;
  int CardOf(int channel) const;

  // One main-loop cycle over every channel, with the ticks elapsed.
  void PollCycle(std::uint32_t elapsedTicks);

  const Mcb* McbOf(int channel) const;

 private:
  struct ChannelState {
    bool failed = false;
    std::uint8_t mode = 1;  // 1 read first, 0 write first
    int readCursor = 0;
    int writeCursor = 0;
    int writeOffset = 0;
    std::uint32_t cycleCounter = 0;
    std::uint32_t lastTimeSync = 0;
    bool writePending = false;
    bool timeSyncOutstanding = false;
    // Per poll record of the channel: an event request went out and no
    // event reply came back for it. The recorder may have handed its event
    // out with a reply that was lost; the next request for the record asks
    // for that event again (a repeat the decoder drops as a duplicate when
    // the driver has it already) instead of for the next one.
    std::vector<bool> eventUnanswered;
    // Sends that timed out (retried, or failed for good) since a request
    // last completed: their answers may still come. One of them may be the
    // answer that completes the next request (a late answer and the
    // request's own are alike when the request repeats the one that timed
    // out), so after a completion whatever else arrives within a reply
    // timeout is theirs and is dropped. Taken for the next request, it
    // would put every later answer one request behind, and the one that met
    // a request of another kind would be lost, with the event it carried.
    std::uint16_t sendsTimedOut = 0;
    bool draining = false;
    std::unique_ptr<Mcb> mcb;
  };
  enum class WriteOutcome { kNothingFound, kSentAndDone, kSentMoreToDo };

  bool MarkEventUnanswered(int channel, int pollRecord, bool unanswered);
  void TimerStep(int channel, std::uint32_t elapsed);
  bool ReceiveStep(int channel, std::uint32_t elapsed);
  // The wait for late answers after a completed request (sendsTimedOut);
  // true while it goes on.
  bool DrainStep(int channel, std::uint32_t elapsed);
  void TimeoutStep(int channel, std::uint32_t elapsed);
  void ScheduleStep(int channel);
  bool ReadScan(int channel);
  bool WriteScan(int channel);
  void ReadRequest(int channel, int pollRecord);
  WriteOutcome WriteRecord(int channel, int pollRecord);
  bool TimeSyncCheck(int channel);
  void BeginRequest(int channel, RequestKind kind, int pollRecord, int device, std::uint16_t station);
  void StatusUpdate(int channel, int pollRecord, std::uint16_t status);
  void SwitchPort(int channel);
  void SwitchStation(int channel, int device);
  int StoreDataReply(int pollRecord, const std::uint8_t* data);
  int MarkBitChanges(DitExceptionEntry* entries, std::size_t entryCount, std::size_t word, std::uint16_t changed);
  void AddPendingExceptions(int pollRecord, int count);
  const DitLink& LinkInUse(const DitChannel& channel) const;
  bool MessagesWanted(int channel) const;

  DitImage image_;
  CardAccess& card_;
  EngineHost& host_;
  std::vector<ChannelState> channels_;
};

}  // namespace vrt
