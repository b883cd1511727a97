// The driver image (DIT): the configuration file written by the editor and,
// byte for byte, the shared mapping the poll driver creates from it.
//
// Every record is packed and little-endian. All offsets stored inside the
// image are relative to the start of the header, which follows a 102-byte
// preamble. Sizes and field offsets are asserted below and hold in the 32-bit
// and 64-bit builds alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vrt {

inline constexpr std::size_t kPreambleSize = 102;
inline constexpr std::uint32_t kDitVersion = 279;
inline constexpr std::uint32_t kDitVersionPrevious = 278;

inline constexpr std::uint8_t kLockFree = 'U';
inline constexpr std::uint8_t kLockTaken = 'L';
inline constexpr std::uint8_t kFillerByte = 'F';

// Poll record status words.
inline constexpr std::uint16_t kStatusGood = 0;
inline constexpr std::uint16_t kStatusCommFailure = 4293;
inline constexpr std::uint16_t kStatusNotAccessed = 4296;
inline constexpr std::uint16_t kStatusStopped = 4297;

// An access countdown holding this value never expires.
inline constexpr std::int32_t kAccessNeverExpires = 17280100;

// Header flag byte, bit 0: the driver's network start-up is complete.
inline constexpr std::uint8_t kRunningFlag = 0x01;

#pragma pack(push, 1)

struct DitPreamble {
  std::uint32_t fileLength;
  std::uint32_t fileLengthAgain;
  std::uint8_t zero[94];
};

struct DitHeader {
  std::uint8_t reserved0;
  std::uint8_t lockByte;
  std::uint8_t checkByte;
  std::int8_t channelCount;
  std::uint8_t deviceCount;
  std::uint8_t flags;
  std::uint32_t saveTime;
  std::uint32_t formatVersion;
  std::uint16_t cycleCounter;
  std::uint16_t channelRecordSize;
  std::uint16_t pollRecordCount;
  std::uint16_t deviceRecordSize;
  std::uint32_t channelTableOffset;
  std::uint32_t deviceTableOffset;
  // The header ends with this field: 34 bytes in all, the channel offset
  // table following at header offset 34.
  std::uint32_t runtimeTableOffset;
};

// The settings of one link (primary or backup) of a channel.
struct DitLink {
  std::uint8_t port;       // 0..31, 255 = none
  std::uint8_t baudRate;   // baud-rate code
  std::uint8_t dataBits;   // code in the low nibble; high nibble: port value bits 8-11
  std::uint8_t stopBits;
  std::uint8_t parity;
  std::uint8_t reserved;
  std::uint8_t handshake;
  std::uint8_t retries;
  std::uint32_t replyTimeout;  // hundredths of a second
  std::uint32_t failureDelay;  // hundredths of a second
};

// Channel statistics words (bytes 2..39 of the channel record).
struct DitChannelStatistics {
  std::uint16_t framesSent;          // channel offset 2
  std::uint16_t framesReceived;      // 4
  std::uint16_t retries;             // 6
  std::uint16_t replyTimeouts;       // 8
  std::uint16_t unused10;            // 10
  std::uint16_t writeRequests;       // 12, the station number after a reply timeout
  std::uint16_t lastNakStation;      // 14
  std::uint16_t unused16[3];         // 16..21
  std::uint16_t naksAndBadReplies;   // 22
  std::uint16_t unused24[8];         // 24..39
};

struct DitChannel {
  std::int8_t activePort;
  std::uint8_t reserved1;
  DitChannelStatistics statistics;
  std::uint16_t firstDevice;
  std::uint16_t deviceCount;
  std::uint16_t firstPollRecord;
  std::uint16_t pollRecordCount;
  std::uint8_t messageEnable;
  std::uint8_t channelOption;
  DitLink primary;
  DitLink backup;
  std::uint8_t lockByte82;
  std::uint8_t lockByte83;
  std::uint8_t reserved84[8];
  std::uint32_t driverBlockPointer;
  std::uint8_t reserved96[12];
};

inline constexpr std::size_t kDeviceNameField = 12;
inline constexpr std::size_t kDeviceNameField278 = 6;
inline constexpr std::size_t kDescriptionField = 36;
inline constexpr std::size_t kDescriptionOffset278 = 10;
inline constexpr std::uint16_t kNoBackupStation = 0xFFFF;

struct DitDevice {
  std::uint16_t firstPollRecord;
  std::uint16_t pollRecordCount;
  char name[kDeviceNameField];
  char description[kDescriptionField];
  std::uint8_t lockByte52;
  std::uint8_t lockByte53;
  std::uint8_t reserved54[12];
  std::uint16_t hardwareType;
  std::uint16_t activeStation;
  std::uint16_t primaryStation;
  std::uint16_t backupStation;
  std::uint16_t deviceOption;
  std::uint8_t reserved76[36];
  std::uint32_t timeSyncInterval;
  std::uint32_t emptyEventCount;
  std::uint8_t reserved120[4];
};

struct DitAreaDescriptor {
  std::uint32_t offset;  // from the start of the poll record
  std::uint16_t size;    // bytes
};

inline constexpr int kAreaCount = 5;
enum DitArea : int {
  kValueArea = 1,
  kWriteValueArea = 2,
  kWriteFlagArea = 3,
  kTimeStampArea = 4,
  kExceptionArea = 5,
};

struct DitPollRecord {
  std::uint16_t status;
  std::uint8_t enabled;
  std::uint8_t dataLock;
  std::uint8_t secondLock;
  std::uint8_t exceptionType;
  std::uint32_t pollTime;    // hundredths of a second
  std::uint32_t accessTime;  // hundredths of a second
  std::uint16_t deviceIndex;
  std::uint8_t reserved16[4];
  float deadBand;
  std::int16_t deadBandInteger;
  std::uint16_t reserved26;
  DitAreaDescriptor areas[kAreaCount];
  std::uint16_t dataType;
  std::uint16_t length;  // registers polled
  std::uint8_t reserved62[8];
  std::uint32_t addressWord;
  std::uint8_t reserved74[8];
};

struct DitExceptionEntry {
  std::uint8_t changed;
  std::uint8_t ownerByte;
  std::uint16_t ownerWord;  // 0xFFFF with ownerByte 0: continuation of an ASCII point
};

struct DitPollRuntime {
  std::uint32_t recordOffset;
  std::int32_t pollCountdown;
  std::int32_t accessCountdown;
  std::uint16_t pendingWrites;
  std::uint8_t enabled;
  std::uint8_t accessExpired;
  std::uint8_t entryLock;
  std::uint8_t lockByte17;
  std::uint16_t pendingExceptions;
  std::uint8_t reserved20[12];
};

#pragma pack(pop)

static_assert(sizeof(DitPreamble) == kPreambleSize);

static_assert(sizeof(DitHeader) == 34);
static_assert(offsetof(DitHeader, lockByte) == 1);
static_assert(offsetof(DitHeader, checkByte) == 2);
static_assert(offsetof(DitHeader, channelCount) == 3);
static_assert(offsetof(DitHeader, deviceCount) == 4);
static_assert(offsetof(DitHeader, flags) == 5);
static_assert(offsetof(DitHeader, saveTime) == 6);
static_assert(offsetof(DitHeader, formatVersion) == 10);
static_assert(offsetof(DitHeader, cycleCounter) == 14);
static_assert(offsetof(DitHeader, channelRecordSize) == 16);
static_assert(offsetof(DitHeader, pollRecordCount) == 18);
static_assert(offsetof(DitHeader, deviceRecordSize) == 20);
static_assert(offsetof(DitHeader, channelTableOffset) == 22);
static_assert(offsetof(DitHeader, deviceTableOffset) == 26);
static_assert(offsetof(DitHeader, runtimeTableOffset) == 30);

static_assert(sizeof(DitLink) == 16);
static_assert(offsetof(DitLink, handshake) == 6);
static_assert(offsetof(DitLink, retries) == 7);
static_assert(offsetof(DitLink, replyTimeout) == 8);
static_assert(offsetof(DitLink, failureDelay) == 12);

static_assert(sizeof(DitChannelStatistics) == 38);
static_assert(offsetof(DitChannelStatistics, writeRequests) == 10);
static_assert(offsetof(DitChannelStatistics, naksAndBadReplies) == 20);

static_assert(sizeof(DitChannel) == 108);
static_assert(offsetof(DitChannel, statistics) == 2);
static_assert(offsetof(DitChannel, statistics) + offsetof(DitChannelStatistics, framesReceived) == 4);
static_assert(offsetof(DitChannel, statistics) + offsetof(DitChannelStatistics, retries) == 6);
static_assert(offsetof(DitChannel, statistics) + offsetof(DitChannelStatistics, replyTimeouts) == 8);
static_assert(offsetof(DitChannel, statistics) + offsetof(DitChannelStatistics, writeRequests) == 12);
static_assert(offsetof(DitChannel, statistics) + offsetof(DitChannelStatistics, lastNakStation) == 14);
static_assert(offsetof(DitChannel, statistics) + offsetof(DitChannelStatistics, naksAndBadReplies) == 22);
static_assert(offsetof(DitChannel, firstDevice) == 40);
static_assert(offsetof(DitChannel, deviceCount) == 42);
static_assert(offsetof(DitChannel, firstPollRecord) == 44);
static_assert(offsetof(DitChannel, pollRecordCount) == 46);
static_assert(offsetof(DitChannel, messageEnable) == 48);
static_assert(offsetof(DitChannel, channelOption) == 49);
static_assert(offsetof(DitChannel, primary) == 50);
static_assert(offsetof(DitChannel, primary) + offsetof(DitLink, dataBits) == 52);
static_assert(offsetof(DitChannel, primary) + offsetof(DitLink, handshake) == 56);
static_assert(offsetof(DitChannel, primary) + offsetof(DitLink, replyTimeout) == 58);
static_assert(offsetof(DitChannel, primary) + offsetof(DitLink, failureDelay) == 62);
static_assert(offsetof(DitChannel, backup) == 66);
static_assert(offsetof(DitChannel, backup) + offsetof(DitLink, handshake) == 72);
static_assert(offsetof(DitChannel, backup) + offsetof(DitLink, retries) == 73);
static_assert(offsetof(DitChannel, backup) + offsetof(DitLink, replyTimeout) == 74);
static_assert(offsetof(DitChannel, backup) + offsetof(DitLink, failureDelay) == 78);
static_assert(offsetof(DitChannel, lockByte82) == 82);
static_assert(offsetof(DitChannel, lockByte83) == 83);
static_assert(offsetof(DitChannel, driverBlockPointer) == 92);
static_assert(offsetof(DitChannel, reserved96) == 96);

static_assert(sizeof(DitDevice) == 124);
static_assert(offsetof(DitDevice, pollRecordCount) == 2);
static_assert(offsetof(DitDevice, name) == 4);
static_assert(offsetof(DitDevice, description) == 16);
static_assert(offsetof(DitDevice, lockByte52) == 52);
static_assert(offsetof(DitDevice, hardwareType) == 66);
static_assert(offsetof(DitDevice, activeStation) == 68);
static_assert(offsetof(DitDevice, primaryStation) == 70);
static_assert(offsetof(DitDevice, backupStation) == 72);
static_assert(offsetof(DitDevice, deviceOption) == 74);
static_assert(offsetof(DitDevice, timeSyncInterval) == 112);
static_assert(offsetof(DitDevice, emptyEventCount) == 116);

static_assert(sizeof(DitAreaDescriptor) == 6);
static_assert(sizeof(DitPollRecord) == 82);
static_assert(offsetof(DitPollRecord, enabled) == 2);
static_assert(offsetof(DitPollRecord, dataLock) == 3);
static_assert(offsetof(DitPollRecord, secondLock) == 4);
static_assert(offsetof(DitPollRecord, exceptionType) == 5);
static_assert(offsetof(DitPollRecord, pollTime) == 6);
static_assert(offsetof(DitPollRecord, accessTime) == 10);
static_assert(offsetof(DitPollRecord, deviceIndex) == 14);
static_assert(offsetof(DitPollRecord, deadBand) == 20);
static_assert(offsetof(DitPollRecord, deadBandInteger) == 24);
static_assert(offsetof(DitPollRecord, areas) == 28);
static_assert(offsetof(DitPollRecord, dataType) == 58);
static_assert(offsetof(DitPollRecord, length) == 60);
static_assert(offsetof(DitPollRecord, addressWord) == 70);
static_assert(offsetof(DitPollRecord, reserved74) == 74);

static_assert(sizeof(DitExceptionEntry) == 4);
static_assert(offsetof(DitExceptionEntry, ownerWord) == 2);

static_assert(sizeof(DitPollRuntime) == 32);
static_assert(offsetof(DitPollRuntime, pollCountdown) == 4);
static_assert(offsetof(DitPollRuntime, accessCountdown) == 8);
static_assert(offsetof(DitPollRuntime, pendingWrites) == 12);
static_assert(offsetof(DitPollRuntime, enabled) == 14);
static_assert(offsetof(DitPollRuntime, accessExpired) == 15);
static_assert(offsetof(DitPollRuntime, entryLock) == 16);
static_assert(offsetof(DitPollRuntime, lockByte17) == 17);
static_assert(offsetof(DitPollRuntime, pendingExceptions) == 18);

inline constexpr std::uint16_t kChannelRecordSize = sizeof(DitChannel);
inline constexpr std::uint16_t kDeviceRecordSize = sizeof(DitDevice);
inline constexpr std::uint16_t kPollRecordFixedSize = sizeof(DitPollRecord);
inline constexpr std::size_t kImageHeaderEnd = kPreambleSize + sizeof(DitHeader);

// Address word of a poll record: bits 0-10 start address, bits 15-19 poll kind.
inline constexpr std::uint32_t kStartAddressMask = 0x7FF;
inline constexpr int kPollKindShift = 15;
inline constexpr std::uint32_t kPollKindMask = 0x1F;

inline std::uint16_t StartAddressOf(std::uint32_t addressWord) {
  return static_cast<std::uint16_t>(addressWord & kStartAddressMask);
}
inline std::uint8_t PollKindOf(std::uint32_t addressWord) {
  return static_cast<std::uint8_t>((addressWord >> kPollKindShift) & kPollKindMask);
}
inline std::uint32_t MakeAddressWord(std::uint16_t startAddress, std::uint8_t pollKind) {
  return (startAddress & kStartAddressMask) |
         ((static_cast<std::uint32_t>(pollKind) & kPollKindMask) << kPollKindShift);
}

// Sizes of the five data areas of a poll record of n registers.
struct DitAreaSizes {
  std::uint32_t size[kAreaCount];
  std::uint32_t Total() const { return size[0] + size[1] + size[2] + size[3] + size[4]; }
};
DitAreaSizes AreaSizesFor(std::uint16_t dataType, std::uint8_t exceptionType, std::uint16_t length);

}  // namespace vrt
