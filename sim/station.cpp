#include "station.h"

#include <algorithm>

#include "dit_codes.h"

namespace vrt::sim {

bool CheckStationEvent(const StationEvent& event, std::string* error) {
  auto fail = [error](std::string message) {
    if (error) *error = std::move(message);
    return false;
  };
  if (event.code < 1 || event.code > kMaxEventCode) return fail("an event code is 1 to 32767");
  if (event.state != 0 && event.state != 1) return fail("an event state is 0 or 1");
  const CivilTime& t = event.stamp;
  if (t.year < 2000 || t.year > 2155) return fail("an event's year must lie in 2000 to 2155");
  for (int field : {t.month, t.day, t.hour, t.minute, t.second}) {
    if (field < 0 || field > 255) return fail("an event's month, day, hour, minute and second are 0 to 255");
  }
  if (t.millisecond < 0 || t.millisecond > 65535) return fail("an event's milliseconds are 0 to 65535");
  return true;
}

std::uint8_t EventYearByte(int year) {
  return static_cast<std::uint8_t>(year <= 2099 ? year - 2000 : year - 1900);
}

Station::Station(std::uint8_t number, std::uint16_t hardwareType)
    : number_(number), hardwareType_(hardwareType), registers_(kRegisterCount, 0) {}

bool Station::KeepsEvents() const {
  return hardwareType_ == kHardwareEVR420 || hardwareType_ == kHardwareTORAVINE;
}

bool Station::TakesTimeSync() const { return hardwareType_ == kHardwareEVR420; }

CivilTime Station::ClockNow(std::int64_t hostLocalMs) const {
  return CivilFromMilliseconds(hostLocalMs + clockOffsetMs_);
}

void Station::SetClock(const CivilTime& time, std::int64_t hostLocalMs) {
  clockOffsetMs_ = MillisecondsFromCivil(time) - hostLocalMs;
}

bool Station::QueueEvent(const StationEvent& event, std::string* error) {
  if (!KeepsEvents()) {
    if (error) *error = "station " + std::to_string(number_) + " is neither an event recorder nor a TORAVINE device";
    return false;
  }
  if (!CheckStationEvent(event, error)) return false;
  if (queue_.size() >= kMaxQueuedEvents) {
    if (error) *error = "the event queue of station " + std::to_string(number_) + " is full";
    return false;
  }
  queue_.push_back(event);
  if (event.code <= kMaxInputEventCode) {
    const int address = (event.code - 1) / 16 + 32;
    const std::uint16_t bit = static_cast<std::uint16_t>(1u << ((event.code - 1) % 16));
    std::uint16_t& word = registers_[static_cast<std::size_t>(address)];
    word = static_cast<std::uint16_t>(event.state ? (word | bit) : (word & ~bit));
  }
  return true;
}

void Station::ClearEvents() {
  queue_.clear();
  lastDelivered_.reset();
}

std::vector<std::uint8_t> Station::Nak(std::uint8_t code, std::uint8_t command) {
  ++counters_.naks;
  return {number_, 1, code, command};
}

void Station::AddMoving(const MovingRegister& moving) {
  Moving state;
  state.motion = moving;
  state.value = moving.low + (moving.high - moving.low) / 2;
  state.random = static_cast<std::uint32_t>(number_) * 2048u + static_cast<std::uint32_t>(moving.address);
  moving_.push_back(state);
}

void Station::Move(std::int64_t hostLocalMs) {
  for (Moving& moving : moving_) {
    const MovingRegister& motion = moving.motion;
    if (moving.startMs < 0) moving.startMs = hostLocalMs;
    const std::int64_t elapsed = std::max<std::int64_t>(0, hostLocalMs - moving.startMs);
    const std::int64_t period = std::int64_t{motion.seconds} * 1000;
    switch (motion.kind) {
      case MovingRegister::Kind::kRamp: {
        const std::int64_t half = period / 2;
        const std::int64_t at = elapsed % period;
        const std::int64_t risen = at <= half ? at : period - at;
        SetRegister(motion.address, static_cast<std::uint16_t>(motion.low + (motion.high - motion.low) * risen / half));
        break;
      }
      case MovingRegister::Kind::kWander: {
        const std::int64_t due = elapsed / 1000;
        moving.stepsDone = std::max(moving.stepsDone, due - kMaxWanderCatchUp);
        for (; moving.stepsDone < due; ++moving.stepsDone) {
          moving.random = moving.random * 1103515245u + 12345u;
          const auto choices = static_cast<std::uint32_t>(2 * motion.step + 1);
          const int by = static_cast<int>((moving.random >> 16) % choices) - motion.step;
          moving.value = std::clamp(moving.value + by, motion.low, motion.high);
        }
        SetRegister(motion.address, static_cast<std::uint16_t>(moving.value));
        break;
      }
      case MovingRegister::Kind::kToggle: {
        const auto mask = static_cast<std::uint16_t>(1u << motion.bit);
        const bool set = (elapsed / period) % 2 == 1;
        const std::uint16_t word = Register(motion.address);
        SetRegister(motion.address, static_cast<std::uint16_t>(set ? word | mask : word & ~mask));
        break;
      }
    }
  }
}

StationAnswer Station::Answer(std::span<const std::uint8_t> request, std::int64_t hostLocalMs) {
  Move(hostLocalMs);
  const std::uint8_t command = request[2];
  switch (command) {
    case kCommandReadWords: return AnswerRead(request);
    case kCommandWriteWords: return AnswerWrite(request);
    case kCommandRecorder:
      if (TakesTimeSync()) return AnswerRecorder(request, hostLocalMs);
      break;
    case kCommandToravine:
      if (hardwareType_ == kHardwareTORAVINE) return AnswerToravine(request, hostLocalMs);
      break;
    default: break;
  }
  return {Nak(kNakUnknownCommand, command), "command not served by this station"};
}

// Read words: station, 3, 0x64, address high, address low, word count.
StationAnswer Station::AnswerRead(std::span<const std::uint8_t> request) {
  ++counters_.reads;
  if (request.size() != 6) return {Nak(kNakBadLength, request[2]), "read request of the wrong length"};
  const int address = request[3] * 256 + request[4];
  const int words = request[5];
  if (words < 1 || words > kMaxReadWords) return {Nak(kNakBadLength, request[2]), "word count out of range"};
  if (address + words > kRegisterCount) return {Nak(kNakBadAddress, request[2]), "register range out of range"};
  std::vector<std::uint8_t> reply;
  reply.reserve(6 + 2 * static_cast<std::size_t>(words));
  reply.push_back(number_);
  reply.push_back(static_cast<std::uint8_t>(2 * words + 3));
  reply.push_back(static_cast<std::uint8_t>(kCommandReadWords + 1));
  reply.push_back(request[3]);
  reply.push_back(request[4]);
  reply.push_back(static_cast<std::uint8_t>(words));
  for (int i = 0; i < words; ++i) {
    const std::uint16_t value = registers_[static_cast<std::size_t>(address + i)];
    reply.push_back(static_cast<std::uint8_t>(value >> 8));
    reply.push_back(static_cast<std::uint8_t>(value & 0xFF));
  }
  return {std::move(reply), {}};
}

// Write words: station, 2n + 3, 0x66, address high, address low, n, then n
// words high byte first. The station keeps the bytes in the order they come,
// so whatever byte order the writer chose comes back the same on a read.
StationAnswer Station::AnswerWrite(std::span<const std::uint8_t> request) {
  ++counters_.writes;
  if (request.size() < 8) return {Nak(kNakBadLength, request[2]), "write request too short"};
  const int address = request[3] * 256 + request[4];
  const int words = request[5];
  if (words < 1 || request.size() != 6 + 2 * static_cast<std::size_t>(words)) {
    return {Nak(kNakBadLength, request[2]), "write request whose count does not match its words"};
  }
  if (address + words > kRegisterCount) return {Nak(kNakBadAddress, request[2]), "register range out of range"};
  for (int i = 0; i < words; ++i) {
    const std::size_t at = 6 + 2 * static_cast<std::size_t>(i);
    registers_[static_cast<std::size_t>(address + i)] = static_cast<std::uint16_t>(request[at] * 256 + request[at + 1]);
  }
  return {{number_, 3, static_cast<std::uint8_t>(kCommandWriteWords + 1), request[3], request[4], request[5]}, {}};
}

std::optional<StationEvent> Station::TakeNextEvent() {
  if (queue_.empty()) return std::nullopt;
  StationEvent event = queue_.front();
  queue_.pop_front();
  ++counters_.eventsDelivered;
  return event;
}

// Event reply: station, 12, command, byte 3, events still queued, year,
// month, day, hour, minute, second, milliseconds (2), event word (2). With
// no event the time fields show the station's clock and the word is 0.
std::vector<std::uint8_t> Station::EventReply(std::uint8_t command, std::uint8_t byte3,
                                              const std::optional<StationEvent>& event,
                                              std::int64_t hostLocalMs) const {
  const CivilTime stamp = event ? event->stamp : ClockNow(hostLocalMs);
  std::uint16_t word = 0;
  if (event) word = static_cast<std::uint16_t>(event->code | (event->state ? 0 : 0x8000));
  const std::size_t remaining = queue_.size() > 255 ? 255 : queue_.size();
  return {number_,
          12,
          command,
          byte3,
          static_cast<std::uint8_t>(remaining),
          EventYearByte(stamp.year),
          static_cast<std::uint8_t>(stamp.month),
          static_cast<std::uint8_t>(stamp.day),
          static_cast<std::uint8_t>(stamp.hour),
          static_cast<std::uint8_t>(stamp.minute),
          static_cast<std::uint8_t>(stamp.second),
          static_cast<std::uint8_t>(stamp.millisecond >> 8),
          static_cast<std::uint8_t>(stamp.millisecond & 0xFF),
          static_cast<std::uint8_t>(word >> 8),
          static_cast<std::uint8_t>(word & 0xFF)};
}

// Recorder requests: next event (0x11), repeat (0x13), time sync (0x0A).
StationAnswer Station::AnswerRecorder(std::span<const std::uint8_t> request, std::int64_t hostLocalMs) {
  const std::uint8_t command = request[2];
  if (request.size() < 4) return {Nak(kNakBadLength, command), "recorder request without a sub-command"};
  const std::uint8_t sub = request[3];
  if (sub == kRecorderNextEvent || sub == kRecorderRepeatEvent) {
    ++counters_.eventRequests;
    if (request.size() != 5) return {Nak(kNakBadLength, command), "event request of the wrong length"};
    if (sub == kRecorderNextEvent) lastDelivered_ = TakeNextEvent();
    return {EventReply(command, sub, lastDelivered_, hostLocalMs), {}};
  }
  if (sub == kRecorderTimeSync) {
    ++counters_.timeSyncs;
    if (request.size() != 10) return {Nak(kNakBadLength, command), "time sync of the wrong length"};
    CivilTime time;
    time.hour = request[4];
    time.minute = request[5];
    time.second = request[6];
    time.month = request[7];
    time.day = request[8];
    time.year = 2000 + request[9];
    if (request[9] > 99 || !IsValidCivilTime(time)) {
      return {Nak(kNakBadData, command), "time sync naming no real time; clock kept"};
    }
    SetClock(time, hostLocalMs);
    return {{number_, 1, command, sub}, "clock set to " + FormatCivilTime(time)};
  }
  return {Nak(kNakBadData, command), "unknown recorder sub-command"};
}

// TORAVINE request: station, 4, 0x56, 0x63, sequence, 0x58, option byte.
// The reply has the event reply's shape with 0x56 as its code and the
// sequence number in byte 3; a repeated sequence number is a retry.
StationAnswer Station::AnswerToravine(std::span<const std::uint8_t> request, std::int64_t hostLocalMs) {
  const std::uint8_t command = request[2];
  ++counters_.toravineRequests;
  if (request.size() != 7) return {Nak(kNakBadLength, command), "TORAVINE request of the wrong length"};
  if (request[3] != kToravineRequestMark || request[5] != kToravineTrailerMark) {
    return {Nak(kNakBadData, command), "TORAVINE request with unknown marks"};
  }
  const int sequence = request[4];
  std::string note;
  if (sequence == lastSequence_) {
    note = "repeated sequence number: same event again";
  } else {
    lastDelivered_ = TakeNextEvent();
    lastSequence_ = sequence;
  }
  return {EventReply(command, request[4], lastDelivered_, hostLocalMs), note};
}

}  // namespace vrt::sim
