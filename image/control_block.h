// The driver control block "VRT_TO_IOC": run request and state, alive
// counter, image generations, map name, configuration path and the ring of
// the last 64 driver messages. All fields are naturally aligned and changed
// by single 16- or 32-bit stores; there is no lock.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace vrt {

inline constexpr const char* kAcronym = "VRT";
inline constexpr const char* kControlBlockName = "VRT_TO_IOC";
inline constexpr std::size_t kControlBlockSize = 8380;
inline constexpr int kRingSlots = 64;
inline constexpr int kRingTextMax = 123;
inline constexpr int kKeepAliveValue = 30000;

enum RunRequestCode : std::uint16_t { kRequestStart = 1, kRequestStop = 2, kRequestExit = 3 };
enum RunStateCode : std::uint16_t { kStateNeverRun = 0, kStateRunning = 1, kStateStopped = 2, kStateExited = 3 };

// Message attributes: console colours that are also the message's class.
enum MessageAttribute : int {
  kAttrBanner = 7,
  kAttrInformation = 23,
  kAttrActivity = 39,
  kAttrError = 70,
  kAttrSendFailure = 71,
  kAttrWarning = 80,
};

struct DriverMessageSlot {
  std::uint16_t attribute;
  std::uint16_t length;
  char text[kRingTextMax + 1];
};

struct DriverControlBlock {
  std::uint16_t blockMarker;
  std::uint16_t RunRequest;
  std::uint16_t RunState;
  std::uint16_t reserved6;
  std::uint32_t AliveCount;
  std::int32_t KeepAlive;
  std::int32_t LoadedGeneration;
  std::int32_t MapGeneration;
  std::uint8_t reserved24[8];
  char mapName[8];
  char configPath[128];
  std::int32_t MessageIndex;
  std::int32_t MessageReadIndex;
  std::int32_t reserved176;
  std::int32_t MessagesEnabled;
  std::int32_t FileLogEnabled;
  DriverMessageSlot ring[kRingSlots];
};

static_assert(sizeof(DriverMessageSlot) == 128);
static_assert(sizeof(DriverControlBlock) == kControlBlockSize);
static_assert(offsetof(DriverControlBlock, RunRequest) == 2);
static_assert(offsetof(DriverControlBlock, RunState) == 4);
static_assert(offsetof(DriverControlBlock, AliveCount) == 8);
static_assert(offsetof(DriverControlBlock, KeepAlive) == 12);
static_assert(offsetof(DriverControlBlock, LoadedGeneration) == 16);
static_assert(offsetof(DriverControlBlock, MapGeneration) == 20);
static_assert(offsetof(DriverControlBlock, mapName) == 32);
static_assert(offsetof(DriverControlBlock, configPath) == 40);
static_assert(offsetof(DriverControlBlock, MessageIndex) == 168);
static_assert(offsetof(DriverControlBlock, MessageReadIndex) == 172);
static_assert(offsetof(DriverControlBlock, MessagesEnabled) == 180);
static_assert(offsetof(DriverControlBlock, FileLogEnabled) == 184);
static_assert(offsetof(DriverControlBlock, ring) == 188);

// Fills a freshly created block: zeroes, marker 1, start requested, ring on.
void InitialiseControlBlock(DriverControlBlock& block);

// Formats a message into `buffer` (printf rules) behind `prefix`, truncating
// rather than overrunning, and cuts it at its first carriage return or line
// feed. Returns the text's length.
inline constexpr std::size_t kMessageBufferSize = 256;
std::size_t FormatMessageText(char (&buffer)[kMessageBufferSize], const char* prefix, const char* format,
                              std::va_list arguments);

// Puts a message into the ring slot `MessageIndex` (cut to 123 characters)
// and advances the index, when `MessagesEnabled` is set.
void PutRingMessage(DriverControlBlock& block, int attribute, const char* text);

// Takes the next unread message: cuts its text at the first carriage return
// and returns it (pointing into the ring) with its attribute. False when the
// reader has caught up with the writer.
bool TakeRingMessage(DriverControlBlock& block, const char** text, int* attribute);

// The next generation number after `generation`: 1, 2, 3, 1, ...
int NextMapGeneration(int generation);

}  // namespace vrt
