// The Tavex network frames the driver sends and the replies it accepts.
// Frame: station, count (bytes after the command), command, count bytes.
// Multi-byte numbers travel high byte first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vrt {

inline constexpr std::size_t kFrameAreaSize = 256;

enum FrameCommand : std::uint8_t {
  kCommandReadWords = 0x64,
  kCommandWriteWords = 0x66,
  kCommandEvent = 0x0F,
  kCommandToravine = 0x56,
};
inline constexpr std::uint8_t kEventNext = 0x11;
inline constexpr std::uint8_t kEventRepeat = 0x13;
inline constexpr std::uint8_t kEventTimeSync = 0x0A;
inline constexpr std::size_t kEventReplyLength = 15;
inline constexpr std::uint16_t kMinimumEventRecordBytes = 28;

struct CivilTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
  int millisecond;
};

// Each builder writes the frame into `out` (kFrameAreaSize bytes) and
// returns its length.
std::size_t BuildReadWords(std::uint8_t* out, std::uint8_t station, std::uint16_t address, std::uint8_t words);
std::size_t BuildEventRequest(std::uint8_t* out, std::uint8_t station, std::uint8_t deviceOption);
std::size_t BuildToravineRequest(std::uint8_t* out, std::uint8_t station, std::uint8_t sequence,
                                 std::uint8_t deviceOption);
// `bytes` are the data bytes of the words, already in their wire order.
std::size_t BuildWriteWords(std::uint8_t* out, std::uint8_t station, std::uint16_t address, std::uint8_t words,
                            const std::uint8_t* bytes, std::size_t byteCount);
std::size_t BuildMaskedWrite(std::uint8_t* out, std::uint8_t station, std::uint16_t address, std::uint16_t merged);
std::size_t BuildTimeSync(std::uint8_t* out, std::uint8_t station, const CivilTime& now);

enum class ReplyCheck { kGood, kNegative, kBad };

// Judges a reply to a read words request (logging the texts for a wrong
// station or code). `valueAreaSize` is the poll record's value area in bytes.
ReplyCheck CheckDataReply(const std::uint8_t* frame, std::size_t length, std::uint8_t station,
                          std::uint8_t command, std::uint16_t startAddress, std::uint16_t valueAreaSize);

// The first checks of an event reply. kGood with `tooSmall` set: the event
// poll record cannot hold an event, nothing is to be decoded.
ReplyCheck CheckEventReply(const std::uint8_t* frame, std::size_t length, std::uint8_t station,
                           std::uint8_t command, std::uint16_t valueAreaSize, bool* tooSmall);

// The time sync report: "Time Sync %s xmt= %02X|..." over bytes 0..7.
void LogTimeSync(const char* deviceName, const std::uint8_t* frame);

}  // namespace vrt
