#include "dit_image.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace vrt {

DitAreaSizes AreaSizesFor(std::uint16_t dataType, std::uint8_t exceptionType, std::uint16_t length) {
  const std::uint32_t n = length;
  DitAreaSizes sizes{};
  sizes.size[0] = 2 * n;
  sizes.size[1] = 2 * n;
  sizes.size[2] = 2 * n;
  sizes.size[3] = (dataType == 1 || dataType == 2) ? 128 * n : 0;
  switch (exceptionType) {
    case 1:
    case 3: sizes.size[4] = 4 * n; break;
    case 2: sizes.size[4] = 64 * n; break;
    default: sizes.size[4] = 0; break;
  }
  return sizes;
}

DitHeader* DitImage::Header() const {
  if (base_ == nullptr || size_ < kImageHeaderEnd) return nullptr;
  return reinterpret_cast<DitHeader*>(base_ + kPreambleSize);
}

int DitImage::ChannelCount() const {
  const DitHeader* header = Header();
  return header ? header->channelCount : 0;
}

int DitImage::DeviceCount() const {
  const DitHeader* header = Header();
  return header ? header->deviceCount : 0;
}

int DitImage::PollRecordCount() const {
  const DitHeader* header = Header();
  return header ? header->pollRecordCount : 0;
}

std::uint8_t* DitImage::AtHeaderOffset(std::uint64_t offset, std::uint64_t length) const {
  if (base_ == nullptr || size_ < kPreambleSize) return nullptr;
  const std::uint64_t available = size_ - kPreambleSize;
  if (offset > available || length > available - offset) return nullptr;
  return base_ + kPreambleSize + offset;
}

namespace {

// Reads one 32-bit entry of an offset table.
bool TableEntry(const DitImage& image, std::uint32_t tableOffset, int index, std::uint32_t* entry) {
  const std::uint8_t* at = image.AtHeaderOffset(tableOffset + 4ull * static_cast<std::uint64_t>(index), 4);
  if (at == nullptr) return false;
  std::memcpy(entry, at, 4);
  return true;
}

}  // namespace

DitChannel* DitImage::Channel(int index) const {
  const DitHeader* header = Header();
  if (header == nullptr || index < 0 || index >= header->channelCount) return nullptr;
  std::uint32_t offset = 0;
  if (!TableEntry(*this, header->channelTableOffset, index, &offset)) return nullptr;
  return reinterpret_cast<DitChannel*>(AtHeaderOffset(offset, sizeof(DitChannel)));
}

DitDevice* DitImage::Device(int index) const {
  const DitHeader* header = Header();
  if (header == nullptr || index < 0 || index >= header->deviceCount) return nullptr;
  std::uint32_t offset = 0;
  if (!TableEntry(*this, header->deviceTableOffset, index, &offset)) return nullptr;
  return reinterpret_cast<DitDevice*>(AtHeaderOffset(offset, sizeof(DitDevice)));
}

DitPollRuntime* DitImage::Runtime(int index) const {
  const DitHeader* header = Header();
  if (header == nullptr || index < 0 || index >= header->pollRecordCount) return nullptr;
  return reinterpret_cast<DitPollRuntime*>(AtHeaderOffset(
      header->runtimeTableOffset + sizeof(DitPollRuntime) * static_cast<std::uint64_t>(index),
      sizeof(DitPollRuntime)));
}

DitPollRuntime* DitImage::RuntimeRange(int first, int count) const {
  const DitHeader* header = Header();
  if (header == nullptr || count <= 0 || first < 0 || first > header->pollRecordCount - count) return nullptr;
  return reinterpret_cast<DitPollRuntime*>(AtHeaderOffset(
      header->runtimeTableOffset + sizeof(DitPollRuntime) * static_cast<std::uint64_t>(first),
      sizeof(DitPollRuntime) * static_cast<std::uint64_t>(count)));
}

DitPollRecord* DitImage::PollRecord(int index) const {
  const DitPollRuntime* runtime = Runtime(index);
  if (runtime == nullptr) return nullptr;
  return reinterpret_cast<DitPollRecord*>(AtHeaderOffset(runtime->recordOffset, sizeof(DitPollRecord)));
}

std::uint8_t* DitImage::Area(int pollRecordIndex, int area, std::uint16_t* size) const {
  if (area < 1 || area > kAreaCount) return nullptr;
  const DitPollRuntime* runtime = Runtime(pollRecordIndex);
  if (runtime == nullptr) return nullptr;
  const DitPollRecord* record =
      reinterpret_cast<const DitPollRecord*>(AtHeaderOffset(runtime->recordOffset, sizeof(DitPollRecord)));
  if (record == nullptr) return nullptr;
  const DitAreaDescriptor descriptor = record->areas[area - 1];
  std::uint8_t* at = AtHeaderOffset(static_cast<std::uint64_t>(runtime->recordOffset) + descriptor.offset,
                                    descriptor.size);
  if (at != nullptr && size != nullptr) *size = descriptor.size;
  return at;
}

std::string DeviceName(const DitDevice& device, std::uint32_t formatVersion) {
  const std::size_t field = formatVersion == kDitVersionPrevious ? kDeviceNameField278 : kDeviceNameField;
  const char* name = device.name;
  std::size_t length = 0;
  while (length < field && name[length] != '\0') ++length;
  return std::string(name, length);
}

std::string DeviceDescription(const DitDevice& device, std::uint32_t formatVersion) {
  const auto* bytes = reinterpret_cast<const char*>(&device);
  const std::size_t start = formatVersion == kDitVersionPrevious ? kDescriptionOffset278
                                                                  : offsetof(DitDevice, description);
  const std::size_t end = start + kDescriptionField;
  std::size_t length = 0;
  while (start + length < end && bytes[start + length] != '\0') ++length;
  return std::string(bytes + start, length);
}

namespace {

bool IndexRangeInside(std::uint32_t first, std::uint32_t count, int total) {
  return first + count <= static_cast<std::uint32_t>(total);
}

bool StructureInside(const DitImage& image) {
  const DitHeader& header = *image.Header();
  const int channels = header.channelCount;
  const int devices = header.deviceCount;
  const int pollRecords = header.pollRecordCount;

  if (image.AtHeaderOffset(header.channelTableOffset, 4ull * channels) == nullptr) return false;
  for (int i = 0; i < channels; ++i) {
    const DitChannel* channel = image.Channel(i);
    if (channel == nullptr) return false;
    if (!IndexRangeInside(channel->firstDevice, channel->deviceCount, devices)) return false;
    if (!IndexRangeInside(channel->firstPollRecord, channel->pollRecordCount, pollRecords)) return false;
  }

  if (image.AtHeaderOffset(header.deviceTableOffset, 4ull * devices) == nullptr) return false;
  for (int j = 0; j < devices; ++j) {
    const DitDevice* device = image.Device(j);
    if (device == nullptr) return false;
    if (!IndexRangeInside(device->firstPollRecord, device->pollRecordCount, pollRecords)) return false;
  }

  if (image.AtHeaderOffset(header.runtimeTableOffset, sizeof(DitPollRuntime) * static_cast<std::uint64_t>(pollRecords)) ==
      nullptr) {
    return false;
  }
  for (int k = 0; k < pollRecords; ++k) {
    const DitPollRecord* record = image.PollRecord(k);
    if (record == nullptr) return false;
    // The processes share the record's 16-bit fields (its status, its lock
    // bytes' neighbours) with single aligned accesses: a record at an odd
    // offset cannot be shared.
    if ((reinterpret_cast<const std::uint8_t*>(record) - image.Base()) % 2 != 0) return false;
    if (record->deviceIndex >= devices) return false;
    // Readers index the areas by register: each must hold what the record's
    // length, data type and exception type call for.
    const DitAreaSizes needed = AreaSizesFor(record->dataType, record->exceptionType, record->length);
    for (int area = 1; area <= kAreaCount; ++area) {
      std::uint16_t size = 0;
      if (image.Area(k, area, &size) == nullptr) return false;
      if (size < needed.size[area - 1]) return false;
    }
  }
  return true;
}

// The driver and its clients write into channel, device and poll records,
// runtime entries and data areas: a write into one must never move or
// change another, nor the header and tables that locate them. A file the
// writer laid out never overlaps; one that does would let a value written
// into an area take a channel or poll record away under the driver.
bool NothingOverlaps(const DitImage& image) {
  const DitHeader& header = *image.Header();
  const int channels = header.channelCount;
  const int devices = header.deviceCount;
  const int pollRecords = header.pollRecordCount;
  struct Span {
    std::uint64_t begin;
    std::uint64_t end;
  };
  std::vector<Span> spans;
  try {
    spans.reserve(4 + static_cast<std::size_t>(channels) + static_cast<std::size_t>(devices) +
                  static_cast<std::size_t>(pollRecords) * (1 + kAreaCount));
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Every part was located inside the buffer already (StructureInside).
  auto add = [&](const void* at, std::uint64_t size) {
    if (size == 0) return;
    const auto begin = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(at) - image.Base());
    spans.push_back({begin, begin + size});
  };
  add(image.Header(), sizeof(DitHeader));
  add(image.AtHeaderOffset(header.channelTableOffset, 4ull * channels), 4ull * channels);
  add(image.AtHeaderOffset(header.deviceTableOffset, 4ull * devices), 4ull * devices);
  const std::uint64_t runtimeTable = sizeof(DitPollRuntime) * static_cast<std::uint64_t>(pollRecords);
  add(image.AtHeaderOffset(header.runtimeTableOffset, runtimeTable), runtimeTable);
  for (int i = 0; i < channels; ++i) add(image.Channel(i), sizeof(DitChannel));
  for (int j = 0; j < devices; ++j) add(image.Device(j), sizeof(DitDevice));
  for (int k = 0; k < pollRecords; ++k) {
    add(image.PollRecord(k), sizeof(DitPollRecord));
    for (int area = 1; area <= kAreaCount; ++area) {
      std::uint16_t size = 0;
      const std::uint8_t* data = image.Area(k, area, &size);
      add(data, size);
    }
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].begin < spans[i - 1].end) return false;
  }
  return true;
}

}  // namespace

ImageCheck CheckImage(const DitImage& image, ImageBounds bounds) {
  const DitHeader* header = image.Header();
  if (header == nullptr) return ImageCheck::kCorrupted;
  if (header->formatVersion != kDitVersion && header->formatVersion != kDitVersionPrevious) {
    return ImageCheck::kCorrupted;
  }
  const int channels = header->channelCount;
  const int devices = header->deviceCount;
  const int pollRecords = header->pollRecordCount;
  if (channels < 1 || channels > bounds.maxChannels || devices < 1 || devices > bounds.maxDevices ||
      pollRecords < 1 || pollRecords > kMaxPollRecords) {
    return ImageCheck::kBadCounts;
  }
  if (header->checkByte != kLockTaken && header->checkByte != kLockFree) return ImageCheck::kBadLock;
  if (!StructureInside(image) || !NothingOverlaps(image)) return ImageCheck::kCorrupted;
  return ImageCheck::kGood;
}

const char* ImageCheckMessage(ImageCheck check) {
  switch (check) {
    case ImageCheck::kGood: return "";
    case ImageCheck::kCorrupted: return "init_dit() Corrupted file";
    case ImageCheck::kBadCounts: return "init_dit() bad object counts";
    case ImageCheck::kBadLock: return "init_dit() Bad Lock";
  }
  return "init_dit() Corrupted file";
}

}  // namespace vrt
