// One station on the Tavex network as the simulator plays it: 2048 holding
// registers, and for event recorders (EVR420) and TORAVINE devices a queue of
// time-stamped events and a clock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "civil_time.h"
#include "protocol.h"

namespace vrt::sim {

// Event word bits 0-14 carry the code; codes 1-4096 are inputs, higher
// codes are the recorder's own status reports.
inline constexpr int kMaxEventCode = 0x7FFF;
inline constexpr int kMaxInputEventCode = 4096;
inline constexpr std::size_t kMaxQueuedEvents = 10000;

struct StationEvent {
  int code = 1;
  // 1: the input went to 1 (bit 15 of the event word clear); 0: it went to 0.
  int state = 1;
  // As the recorder stamps it. The fields are sent as they are, so a stamp
  // may deliberately be out of range (to see how the driver takes it); the
  // year must lie in 2000-2155, which the year byte can express.
  CivilTime stamp;
};

// Checks an event's code, state and stamp against what the reply can carry.
bool CheckStationEvent(const StationEvent& event, std::string* error);

// The year byte of an event reply: 0-99 for 2000-2099, 200-255 for 2100-2155.
std::uint8_t EventYearByte(int year);

struct StationCounters {
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
  std::uint64_t eventRequests = 0;  // 0x11 and 0x13
  std::uint64_t eventsDelivered = 0;
  std::uint64_t timeSyncs = 0;
  std::uint64_t toravineRequests = 0;
  std::uint64_t naks = 0;
};

// What a station made of one request.
struct StationAnswer {
  std::vector<std::uint8_t> reply;
  std::string note;  // something worth a line in the frame log, or empty
};

// A register the station moves by itself, so that a demo plant looks alive:
// a ramp from `low` up to `high` and back over `seconds`; a wander of up to
// `step` either way each second within low..high; or bit `bit` toggling
// every `seconds`. Time counts from the station's first request after start;
// a value written by a client is moved on at the next request.
struct MovingRegister {
  enum class Kind { kRamp, kWander, kToggle };
  Kind kind = Kind::kRamp;
  int address = 0;
  int low = 0;
  int high = 0;
  int seconds = 1;
  int step = 1;
  int bit = 0;
};

// A wander that was not asked for in a long time moves at most this many
// seconds' worth of steps at once.
inline constexpr std::int64_t kMaxWanderCatchUp = 3600;

class Station {
 public:
  Station(std::uint8_t number, std::uint16_t hardwareType);

  std::uint8_t Number() const { return number_; }
  std::uint16_t HardwareType() const { return hardwareType_; }
  // Event recorders and TORAVINE devices queue events and keep a clock.
  bool KeepsEvents() const;
  // Only event recorders take the time sync.
  bool TakesTimeSync() const;

  std::uint16_t Register(int address) const { return registers_[static_cast<std::size_t>(address)]; }
  // `address` must be 0..2047.
  void SetRegister(int address, std::uint16_t value) { registers_[static_cast<std::size_t>(address)] = value; }

  // The station's clock runs at the host's pace from wherever it was last
  // set; until then it shows the host's local time.
  CivilTime ClockNow(std::int64_t hostLocalMs) const;
  void SetClock(const CivilTime& time, std::int64_t hostLocalMs);

  // Queues an event (the station must keep events). An input event (code
  // 1-4096) also sets or clears its bit in the input registers from 32 on,
  // as a recorder's inputs follow its events.
  bool QueueEvent(const StationEvent& event, std::string* error);
  const std::deque<StationEvent>& QueuedEvents() const { return queue_; }
  // The event the last "next event" request handed out, which a repeat
  // request gives again; nothing when that request found the queue empty.
  const std::optional<StationEvent>& LastDelivered() const { return lastDelivered_; }
  void ClearEvents();

  // Answers one whole frame addressed to this station.
  StationAnswer Answer(std::span<const std::uint8_t> request, std::int64_t hostLocalMs);

  // Registers that move by themselves; Answer moves them before it answers.
  void AddMoving(const MovingRegister& moving);
  void Move(std::int64_t hostLocalMs);

  const StationCounters& Counters() const { return counters_; }

 private:
  std::vector<std::uint8_t> Nak(std::uint8_t code, std::uint8_t command);
  StationAnswer AnswerRead(std::span<const std::uint8_t> request);
  StationAnswer AnswerWrite(std::span<const std::uint8_t> request);
  StationAnswer AnswerRecorder(std::span<const std::uint8_t> request, std::int64_t hostLocalMs);
  StationAnswer AnswerToravine(std::span<const std::uint8_t> request, std::int64_t hostLocalMs);
  std::vector<std::uint8_t> EventReply(std::uint8_t command, std::uint8_t byte3,
                                       const std::optional<StationEvent>& event, std::int64_t hostLocalMs) const;
  std::optional<StationEvent> TakeNextEvent();

  struct Moving {
    MovingRegister motion;
    std::int64_t startMs = -1;
    std::int64_t stepsDone = 0;
    int value = 0;
    std::uint32_t random = 0;
  };

  std::uint8_t number_;
  std::uint16_t hardwareType_;
  std::vector<Moving> moving_;
  std::vector<std::uint16_t> registers_;
  std::int64_t clockOffsetMs_ = 0;
  std::deque<StationEvent> queue_;
  // The event handed out by the last "next event" request (none when the
  // queue was empty), given again by the repeat request.
  std::optional<StationEvent> lastDelivered_;
  // TORAVINE: the sequence number of the last request; a request with the
  // same number is a retry and gets the same event again.
  int lastSequence_ = -1;
  StationCounters counters_;
};

}  // namespace vrt::sim
