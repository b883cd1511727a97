#include "nio_status.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "control_block.h"
#include "dit_codes.h"
#include "shared_access.h"

namespace vrt {
namespace {

void SetStatus(std::uint16_t* status, std::uint16_t value) {
  if (status != nullptr) *status = value;
}

static_assert(offsetof(DitChannel, statistics) == 2);
static_assert(offsetof(DitChannel, statistics) + sizeof(DitChannelStatistics) == kChannelStatisticsSize);

// The channel record of a valid index, or null.
DitChannel* ChannelAt(NioProcess& process, int channelIndex) {
  if (channelIndex < 0 || channelIndex >= process.mapping.ChannelCount()) return nullptr;
  return process.mapping.nio_map_chan(channelIndex);
}

std::size_t FormatWithPrefix(char (&buffer)[kMessageBufferSize], const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const std::size_t length = FormatMessageText(buffer, "NIO-", format, arguments);
  va_end(arguments);
  return length;
}

}  // namespace

void nio_read_stats(NioProcess& process, std::uint16_t* status, int channelIndex, std::int16_t* activePort,
                    std::uint8_t* block) {
  SetStatus(status, kNioOk);
  DitChannel* channel = ChannelAt(process, channelIndex);
  if (channel == nullptr) {
    SetStatus(status, kNioUnsupportedKind);
    return;
  }
  if (block != nullptr) std::memcpy(block, channel, kChannelStatisticsSize);
  if (activePort != nullptr) *activePort = SharedLoad(channel->activePort);
}

void nio_reset_stats(NioProcess& process, std::uint16_t* status, int channelIndex) {
  SetStatus(status, kNioOk);
  DitChannel* channel = ChannelAt(process, channelIndex);
  if (channel == nullptr || static_cast<std::uint8_t>(SharedLoad(channel->activePort)) == kNoPort) {
    SetStatus(status, kNioUnsupportedKind);
    return;
  }
  std::memset(&channel->statistics, 0, sizeof channel->statistics);
}

int nio_get_ServerStatus(NioProcess& process, char* text, std::int32_t* alive) {
  if (text != nullptr) {
    const std::size_t length = std::min(std::strlen(kServerIdentification), kServerTextMax);
    std::memcpy(text, kServerIdentification, length);
    text[length] = '\0';
  }
  if (alive != nullptr) {
    if (const DitHeader* header = process.mapping.nio_map_hdr()) {
      const std::uint16_t counter = SharedLoad(header->cycleCounter);
      *alive = counter != process.lastCycleCounter ? 1 : 0;
      process.lastCycleCounter = counter;
    }
  }
  return 1;
}

void nio_SendMsg(NioProcess& process, int attribute, const char* text) {
  if (text == nullptr) return;
  DriverControlBlock* block = process.mapping.ControlBlock();
  if (block == nullptr) return;
  char buffer[kMessageBufferSize];
  FormatWithPrefix(buffer, "%s", text);
  PutRingMessage(*block, attribute, buffer);
}

void nio_tick() {}
void nio_tick_enable(std::uint16_t* status) { SetStatus(status, kNioOk); }
void nio_tick_disable(std::uint16_t* status) { SetStatus(status, kNioOk); }
void nio_getsub(std::uint16_t* status) { SetStatus(status, kNioOk); }
void nio_reset(std::uint16_t* status) { SetStatus(status, kNioOk); }
void nio_CleanUp(std::uint16_t* status) { SetStatus(status, kNioOk); }
void nio_reload_dit() {}

}  // namespace vrt
