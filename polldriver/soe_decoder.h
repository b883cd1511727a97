// Sequence-of-events decoding: an event recorder's reply to the event request
// becomes the event record kept in the event poll record's value area, the
// new state and time stamp of one bit in the data poll record that covers the
// point, and an event line; recorder status codes become messages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../image/dit_image.h"
#include "../image/lock_byte.h"
#include "frames.h"

namespace vrt {

// The last decoded event, in the event poll record's value area (16-bit
// little-endian words). The time is a Win32 SYSTEMTIME.
struct SoeEventRecord {
  std::uint16_t year;
  std::uint16_t month;
  std::uint16_t dayOfWeek;  // always 0
  std::uint16_t day;
  std::uint16_t hour;
  std::uint16_t minute;
  std::uint16_t second;
  std::uint16_t milliseconds;
  std::uint16_t code;          // 1..4096
  std::uint16_t pointAddress;  // (code - 1) / 16 + 32
  std::uint16_t bit;           // (code - 1) % 16
  std::uint16_t state;         // 1: the input went to 1
  std::uint16_t duplicateFlags;
  std::uint16_t valid;
};
static_assert(sizeof(SoeEventRecord) == kMinimumEventRecordBytes);
static_assert(offsetof(SoeEventRecord, code) == 16);
static_assert(offsetof(SoeEventRecord, valid) == 26);

// Duplicate flag bits: the field equals the previous event's.
enum DuplicateFlag : std::uint16_t {
  kSameHour = 1,
  kSameMinute = 2,
  kSameSecond = 4,
  kSameMilliseconds = 8,
  kSameCode = 16,
  kSameState = 32,
  kAllSame = 63,
};

inline constexpr int kFirstEventPointAddress = 32;
inline constexpr int kLastInputEventCode = 4096;

// A Win32 FILETIME (100 ns units since 1 January 1601) for the record's
// local time, as SystemTimeToFileTime forms it; 0 for an impossible date.
std::uint64_t FileTimeOf(const SoeEventRecord& event);

// The message format of a recorder status code (above 4096), to be filled
// with the station and the code.
const char* SpecialEventText(int code);

// Receives each stored event that is not a duplicate: its line goes to the
// driver's messages, the day's CSV file and the database.
class EventLineSink {
 public:
  virtual ~EventLineSink() = default;
  virtual void EventLine(const DitDevice& device, const SoeEventRecord& event) = 0;
};

class SoeDecoder {
 public:
  SoeDecoder(const DitImage& image, Sleeper& sleeper, EventLineSink* sink)
      : image_(image), sleeper_(sleeper), sink_(sink) {}

  // Decodes an event reply (already checked: station, command, 15 bytes)
  // for the event poll record and judges it: a reply with an invalid time
  // is bad (and retried), every other reply is good.
  ReplyCheck Decode(int eventPollRecord, const std::uint8_t* frame, std::size_t length);

 private:
  void NoEvent(DitDevice& device);
  void Store(int eventPollRecord, DitDevice& device, const SoeEventRecord& event, const std::uint8_t* frame);

  DitImage image_;
  Sleeper& sleeper_;
  EventLineSink* sink_;
};

}  // namespace vrt
