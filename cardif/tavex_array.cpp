#include "tavex_array.h"

namespace vrt {

namespace {

std::int32_t Widen(std::uint8_t byte) { return static_cast<std::int8_t>(byte); }
std::uint8_t LowByte(std::int32_t element) { return static_cast<std::uint8_t>(element & 0xFF); }

}  // namespace

std::vector<std::int32_t> SendArrayFor(const std::uint8_t* frame, std::size_t length, std::int32_t handle) {
  std::vector<std::int32_t> elements(length + 5, 0);
  if (length < 2) return elements;
  elements[1] = Widen(frame[0]);
  elements[3] = handle;
  elements[5] = Widen(frame[1]);
  for (std::size_t i = 2; i < length; ++i) elements[i + 5] = Widen(frame[i]);
  return elements;
}

std::vector<std::uint8_t> FrameOfSendArray(const std::int32_t* elements, std::size_t elementCount) {
  std::vector<std::uint8_t> frame;
  if (elementCount < kFirstDataElement) return frame;
  frame.push_back(LowByte(elements[1]));
  frame.push_back(LowByte(elements[5]));
  for (std::size_t i = kFirstDataElement; i < elementCount; ++i) frame.push_back(LowByte(elements[i]));
  return frame;
}

std::vector<std::int32_t> ReceiveArrayFor(const std::uint8_t* frame, std::size_t length) {
  std::vector<std::int32_t> elements(length < 2 ? kFirstDataElement : length + 5, 0);
  if (length < 2) return elements;
  elements[3] = Widen(frame[0]);
  elements[5] = Widen(frame[1]);
  for (std::size_t i = 2; i < length; ++i) elements[i + 5] = Widen(frame[i]);
  return elements;
}

std::int16_t CopyReceiveArray(const std::int32_t* elements, long upperBound, std::uint8_t* buffer,
                              std::uint16_t* length) {
  *length = 0;
  if (elements == nullptr || upperBound < kFirstDataElement) return kReceiveArrayTooShort;
  const std::uint8_t count = LowByte(elements[5]);
  if (upperBound < count + kFirstDataElement) return kReceiveArrayShorterThanCount;
  // Elements 7..upperBound land at buffer bytes 2 on: refuse what would not fit.
  const long bytes = 2 + (upperBound - kFirstDataElement + 1);
  if (bytes > static_cast<long>(kFrameBufferSize)) return kReceiveArrayShorterThanCount;
  buffer[0] = LowByte(elements[3]);
  buffer[1] = count;
  for (long i = kFirstDataElement; i <= upperBound; ++i) buffer[2 + (i - kFirstDataElement)] = LowByte(elements[i]);
  *length = static_cast<std::uint16_t>(count + 3);
  return kReceiveOk;
}

}  // namespace vrt
