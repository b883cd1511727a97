#include "control_block.h"

#include <cstdio>
#include <cstring>

#include "shared_access.h"

namespace vrt {

void InitialiseControlBlock(DriverControlBlock& block) {
  std::memset(&block, 0, sizeof block);
  block.blockMarker = 1;
  SharedStore(block.RunRequest, kRequestStart);
  SharedStore(block.MessagesEnabled, 1);
}

std::size_t FormatMessageText(char (&buffer)[kMessageBufferSize], const char* prefix, const char* format,
                              std::va_list arguments) {
  std::size_t used = std::strlen(prefix);
  if (used >= kMessageBufferSize) used = kMessageBufferSize - 1;
  std::memcpy(buffer, prefix, used);
  buffer[used] = '\0';
  std::vsnprintf(buffer + used, kMessageBufferSize - used, format, arguments);
  buffer[kMessageBufferSize - 1] = '\0';
  const std::size_t length = std::strcspn(buffer, "\r\n");
  buffer[length] = '\0';
  return length;
}

namespace {

// Another process may have left any value in a ring index.
int RingIndex(std::int32_t stored) { return (stored >= 0 && stored < kRingSlots) ? stored : 0; }

}  // namespace

void PutRingMessage(DriverControlBlock& block, int attribute, const char* text) {
  if (SharedLoad(block.MessagesEnabled) == 0) return;
  const int index = RingIndex(SharedLoad(block.MessageIndex));
  DriverMessageSlot& slot = block.ring[index];
  const std::size_t length = strnlen(text, kRingTextMax);
  std::memcpy(slot.text, text, length);
  slot.text[length] = '\0';
  slot.length = static_cast<std::uint16_t>(length);
  slot.attribute = static_cast<std::uint16_t>(attribute);
  SharedStore(block.MessageIndex, (index + 1) % kRingSlots);
}

bool TakeRingMessage(DriverControlBlock& block, const char** text, int* attribute) {
  const int readIndex = RingIndex(SharedLoad(block.MessageReadIndex));
  if (readIndex == SharedLoad(block.MessageIndex)) return false;
  DriverMessageSlot& slot = block.ring[readIndex];
  slot.text[kRingTextMax] = '\0';
  slot.text[std::strcspn(slot.text, "\r")] = '\0';
  *text = slot.text;
  *attribute = slot.attribute;
  SharedStore(block.MessageReadIndex, (readIndex + 1) % kRingSlots);
  return true;
}

int NextMapGeneration(int generation) {
  const int next = generation + 1;
  return next > 3 ? 1 : next;
}

}  // namespace vrt
