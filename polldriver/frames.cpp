#include "frames.h"

#include <cstring>
#include <string>

#include "../image/control_block.h"
#include "../image/log_message.h"

namespace vrt {

namespace {

std::uint8_t AddressHigh(std::uint16_t address) { return static_cast<std::uint8_t>((address >> 8) & 0x07); }
std::uint8_t AddressLow(std::uint16_t address) { return static_cast<std::uint8_t>(address & 0xFF); }

}  // namespace

std::size_t BuildReadWords(std::uint8_t* out, std::uint8_t station, std::uint16_t address, std::uint8_t words) {
  const std::uint8_t frame[] = {station, 3, kCommandReadWords, AddressHigh(address), AddressLow(address), words};
  std::memcpy(out, frame, sizeof frame);
  return sizeof frame;
}

std::size_t BuildEventRequest(std::uint8_t* out, std::uint8_t station, std::uint8_t deviceOption) {
  const std::uint8_t frame[] = {station, 2, kCommandEvent, kEventNext, deviceOption};
  std::memcpy(out, frame, sizeof frame);
  return sizeof frame;
}

std::size_t BuildToravineRequest(std::uint8_t* out, std::uint8_t station, std::uint8_t sequence,
                                 std::uint8_t deviceOption) {
  const std::uint8_t frame[] = {station, 4, kCommandToravine, 0x63, sequence, 0x58, deviceOption};
  std::memcpy(out, frame, sizeof frame);
  return sizeof frame;
}

std::size_t BuildWriteWords(std::uint8_t* out, std::uint8_t station, std::uint16_t address, std::uint8_t words,
                            const std::uint8_t* bytes, std::size_t byteCount) {
  // The count byte holds at most 255: the caller keeps runs short enough.
  const std::size_t length = 6 + byteCount;
  out[0] = station;
  out[1] = static_cast<std::uint8_t>(length - 3);
  out[2] = kCommandWriteWords;
  out[3] = AddressHigh(address);
  out[4] = AddressLow(address);
  out[5] = words;
  std::memcpy(out + 6, bytes, byteCount);
  return length;
}

std::size_t BuildMaskedWrite(std::uint8_t* out, std::uint8_t station, std::uint16_t address, std::uint16_t merged) {
  const std::uint8_t frame[] = {station,
                                5,
                                kCommandWriteWords,
                                AddressHigh(address),
                                AddressLow(address),
                                1,
                                static_cast<std::uint8_t>(merged >> 8),
                                static_cast<std::uint8_t>(merged & 0xFF)};
  std::memcpy(out, frame, sizeof frame);
  return sizeof frame;
}

std::size_t BuildTimeSync(std::uint8_t* out, std::uint8_t station, const CivilTime& now) {
  const std::uint8_t frame[] = {station,
                                7,
                                kCommandEvent,
                                kEventTimeSync,
                                static_cast<std::uint8_t>(now.hour),
                                static_cast<std::uint8_t>(now.minute),
                                static_cast<std::uint8_t>(now.second),
                                static_cast<std::uint8_t>(now.month),
                                static_cast<std::uint8_t>(now.day),
                                static_cast<std::uint8_t>(now.year % 100)};
  std::memcpy(out, frame, sizeof frame);
  return sizeof frame;
}

ReplyCheck CheckDataReply(const std::uint8_t* frame, std::size_t length, std::uint8_t station,
                          std::uint8_t command, std::uint16_t startAddress, std::uint16_t valueAreaSize) {
  if (length < 3) return ReplyCheck::kBad;
  if (frame[0] != station) {
    LogMessage(kAttrActivity, "Expecting DIT data, Got Wrong DID %u", static_cast<unsigned>(frame[0]));
    return ReplyCheck::kBad;
  }
  if (frame[2] != static_cast<std::uint8_t>(command + 1)) {
    LogMessage(kAttrActivity, "Expecting DIT data, Got Wrong Command or Nak %u", static_cast<unsigned>(frame[2]));
    return (frame[2] >= 30 && frame[2] <= 40) ? ReplyCheck::kNegative : ReplyCheck::kBad;
  }
  const int count = frame[1];
  if (valueAreaSize > count - 3) return ReplyCheck::kBad;
  // The frame must also really hold what its count announces.
  if (length < 6 || length < static_cast<std::size_t>(6) + valueAreaSize) return ReplyCheck::kBad;
  const std::uint16_t address = static_cast<std::uint16_t>(((frame[3] & 0x07) << 8) | frame[4]);
  if ((frame[3] & 0xF8) != 0 || address != startAddress) return ReplyCheck::kBad;
  if (valueAreaSize > 2 * frame[5]) return ReplyCheck::kBad;
  return ReplyCheck::kGood;
}

ReplyCheck CheckEventReply(const std::uint8_t* frame, std::size_t length, std::uint8_t station,
                           std::uint8_t command, std::uint16_t valueAreaSize, bool* tooSmall) {
  *tooSmall = false;
  if (valueAreaSize < kMinimumEventRecordBytes) {
    LogMessage(kAttrError, "Event size too small");
    *tooSmall = true;
    return ReplyCheck::kGood;
  }
  if (length < 3) return ReplyCheck::kBad;
  if (frame[0] != station) {
    LogMessage(kAttrActivity, "Expecting Event, Got Wrong DID %u", static_cast<unsigned>(frame[0]));
    return ReplyCheck::kBad;
  }
  if (frame[2] != command) {
    LogMessage(kAttrActivity, "Expecting Event, Got Wrong Command %u", static_cast<unsigned>(frame[2]));
    return ReplyCheck::kBad;
  }
  if (frame[1] != kEventReplyLength - 3 || length < kEventReplyLength) {
    LogMessage(kAttrActivity, "Expecting Event, Got Wrong length %u", static_cast<unsigned>(frame[1]));
    return ReplyCheck::kBad;
  }
  return ReplyCheck::kGood;
}

void LogTimeSync(const char* deviceName, const std::uint8_t* frame) {
  const std::string name(deviceName, strnlen(deviceName, 30));
  LogMessage(kAttrActivity, "Time Sync %s xmt= %02X|%02X|%02X|%02X|%02X|%02X|%02X|%02X|\n", name.c_str(), frame[0],
             frame[1], frame[2], frame[3], frame[4], frame[5], frame[6], frame[7]);
}

}  // namespace vrt
