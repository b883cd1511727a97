#include "soe_decoder.h"

#include <cstring>

#include "../image/control_block.h"
#include "../image/dit_codes.h"
#include "../image/log_message.h"

namespace vrt {

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1 January 1601 to the given date.
std::int64_t DaysSince1601(int year, int month, int day) {
  // Counting from 1 March of year 0 makes the leap day the year's last.
  const int y = month <= 2 ? year - 1 : year;
  const int era = y / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t daysSinceYear0March = static_cast<std::int64_t>(era) * 146097 + dayOfEra;
  constexpr std::int64_t k1601 = 584694;  // 1 January 1601 counted the same way
  return daysSinceYear0March - k1601;
}

}  // namespace

std::uint64_t FileTimeOf(const SoeEventRecord& event) {
  const int year = event.year;
  if (year < 1601 || year > 30827 || event.month < 1 || event.month > 12 || event.day < 1 ||
      event.day > DaysInMonth(year, event.month) || event.hour > 23 || event.minute > 59 || event.second > 59 ||
      event.milliseconds > 999) {
    return 0;
  }
  const std::int64_t days = DaysSince1601(year, event.month, event.day);
  const std::int64_t milliseconds =
      ((days * 24 + event.hour) * 60 + event.minute) * 60000 + event.second * 1000 + event.milliseconds;
  return static_cast<std::uint64_t>(milliseconds) * 10000;
}

const char* SpecialEventText(int code) {
  struct Special {
    int code;
    const char* text;
  };
  static constexpr Special kTexts[] = {
      {9037, "SER(%u) EVENT - Start test input %u"},
      {9301, "SER(%u) EVENT - %u Waring Low paper"},
      {9302, "SER(%u) EVENT - %u Out of paper"},
      {9303, "SER(%u) EVENT - %u Checksum fail Configuration data"},
      {9304, "SER(%u) EVENT - %u Checksum fail port mask"},
      {9305, "SER(%u) EVENT - %u Checksum fail message data"},
      {9306, "SER(%u) EVENT - %u RAM fault"},
      {9307, "SER(%u) EVENT - %u Input card faulty"},
      {9308, "SER(%u) EVENT - %u Input card input fault"},
      {9309, "SER(%u) EVENT - %u Input card checksum error"},
      {9401, "SER(%u) EVENT - %u Power failed"},
      {9402, "SER(%u) EVENT - %u Power return"},
      {9403, "SER(%u) EVENT - %u Periodic report"},
      {9404, "SER(%u) EVENT - %u Input card healthy"},
      {9405, "SER(%u) EVENT - %u Advance functions entry"},
      {9406, "SER(%u) EVENT - %u History queue cleared"},
      {9407, "SER(%u) EVENT - %u Date changed"},
      {9408, "SER(%u) EVENT - %u New Date"},
      {9409, "SER(%u) EVENT - %u time changed"},
      {9410, "SER(%u) EVENT - %u New time"},
  };
  if (code >= 9001 && code <= 9020) return "SER(%u) EVENT - Status points %u";
  if (code >= 9021 && code <= 9036) return "SER(%u) EVENT - Derived Input %u";
  for (const Special& special : kTexts) {
    if (special.code == code) return special.text;
  }
  return "SER(%u) EVENT - %u Unknown event";
}

void SoeDecoder::NoEvent(DitDevice& device) { device.emptyEventCount = device.emptyEventCount + 1; }

ReplyCheck SoeDecoder::Decode(int eventPollRecord, const std::uint8_t* frame, std::size_t length) {
  DitPollRecord* poll = image_.PollRecord(eventPollRecord);
  std::uint16_t size = 0;
  std::uint8_t* area = image_.Area(eventPollRecord, kValueArea, &size);
  DitDevice* device = poll ? image_.Device(poll->deviceIndex) : nullptr;
  if (poll == nullptr || area == nullptr || device == nullptr || size < sizeof(SoeEventRecord) ||
      length < kEventReplyLength) {
    return ReplyCheck::kBad;
  }
  const unsigned station = frame[0];
  const std::uint16_t word = static_cast<std::uint16_t>(frame[13] << 8 | frame[14]);
  const int code = word & 0x7FFF;
  // Code 0 is no event waiting, whatever bit 15 says: it names no input.
  if (code == 0) {
    NoEvent(*device);
    return ReplyCheck::kGood;
  }
  if (code > kLastInputEventCode) {
    LogMessage(kAttrActivity, SpecialEventText(code), station, static_cast<unsigned>(code));
    NoEvent(*device);
    return ReplyCheck::kGood;
  }

  SoeEventRecord event{};
  {
    LockByteGuard lock(poll->dataLock, sleeper_);
    SoeEventRecord previous;
    std::memcpy(&previous, area, sizeof previous);
    event.valid = 1;
    const int yearByte = frame[5];
    event.year = static_cast<std::uint16_t>(yearByte <= 99 ? 2000 + yearByte : 1900 + yearByte);
    event.month = frame[6];
    event.dayOfWeek = 0;
    event.day = frame[7];
    event.hour = frame[8];
    event.minute = frame[9];
    event.second = frame[10];
    event.milliseconds = static_cast<std::uint16_t>(frame[11] << 8 | frame[12]);
    if (event.year < 2004 || event.year > 2099 || event.month < 1 || event.month > 12 || event.day < 1 ||
        event.day > 31 || event.hour > 23 || event.minute > 59 || event.second > 59 || event.milliseconds > 999) {
      event.valid = 0;
    }
    event.code = static_cast<std::uint16_t>(code);
    event.pointAddress = static_cast<std::uint16_t>((code - 1) / 16 + kFirstEventPointAddress);
    event.bit = static_cast<std::uint16_t>((code - 1) % 16);
    event.state = (word & 0x8000) ? 0 : 1;
    std::uint16_t flags = 0;
    if (event.hour == previous.hour) flags |= kSameHour;
    if (event.minute == previous.minute) flags |= kSameMinute;
    if (event.second == previous.second) flags |= kSameSecond;
    if (event.milliseconds == previous.milliseconds) flags |= kSameMilliseconds;
    if (event.code == previous.code) flags |= kSameCode;
    if (event.state == previous.state) flags |= kSameState;
    event.duplicateFlags = flags;
    std::memcpy(area, &event, sizeof event);
  }
  if (event.duplicateFlags == kAllSame) LogMessage(kAttrSendFailure, "Duplicate event");

  if (event.valid == 0) {
    LogMessage(kAttrError,
               "Invalid event rcv= %02X/%02X/%02X/%02X/%02X/%02X/%02X/%02X/%02X/%02X/%02X/%02X/", frame[0], frame[1],
               frame[2], frame[3], frame[4], frame[5], frame[6], frame[7], frame[8], frame[9], frame[10], frame[11]);
    return ReplyCheck::kBad;
  }
  Store(eventPollRecord, *device, event, frame);
  return ReplyCheck::kGood;
}

void SoeDecoder::Store(int eventPollRecord, DitDevice& device, const SoeEventRecord& event, const std::uint8_t*) {
  device.emptyEventCount = 0;
  int found = -1;
  for (int k = device.firstPollRecord; k < device.firstPollRecord + device.pollRecordCount; ++k) {
    const DitPollRecord* candidate = image_.PollRecord(k);
    if (candidate == nullptr || PollKindOf(candidate->addressWord) != kPollKindDit) continue;
    const int start = StartAddressOf(candidate->addressWord);
    if (event.pointAddress >= start && event.pointAddress < start + candidate->length) {
      found = k;
      break;
    }
  }
  if (found < 0) {
    // Dropped; the next event waits for the event record's poll time.
    LogMessage(kAttrActivity, "recieved event for undefined poll record %d:%d", event.pointAddress, event.bit);
    return;
  }
  {
    std::uint64_t stamp = FileTimeOf(event);
    if (stamp == 0) LogMessage(kAttrActivity, "Zero timestamp received %d:%d", event.pointAddress, event.bit);
    DitPollRecord& record = *image_.PollRecord(found);
    const std::size_t word = event.pointAddress - StartAddressOf(record.addressWord);
    std::uint16_t valueSize = 0, stampSize = 0;
    std::uint8_t* values = image_.Area(found, kValueArea, &valueSize);
    std::uint8_t* stamps = image_.Area(found, kTimeStampArea, &stampSize);
    LockByteGuard lock(record.dataLock, sleeper_);
    // Records without a time-stamp area (digital records) keep the state only.
    const std::size_t slot = (word * 16 + event.bit) * 8;
    if (stamps != nullptr && slot + 8 <= stampSize) std::memcpy(stamps + slot, &stamp, 8);
    if (values != nullptr && 2 * (word + 1) <= valueSize) {
      std::uint16_t value = 0;
      std::memcpy(&value, values + 2 * word, 2);
      const auto mask = static_cast<std::uint16_t>(1u << event.bit);
      value = static_cast<std::uint16_t>(event.state ? (value | mask) : (value & ~mask));
      std::memcpy(values + 2 * word, &value, 2);
    }
    if (event.duplicateFlags != kAllSame && sink_ != nullptr) sink_->EventLine(device, event);
  }
  if (DitPollRuntime* runtime = image_.Runtime(eventPollRecord)) runtime->pollCountdown = 0;
}

}  // namespace vrt
