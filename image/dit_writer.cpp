#include "dit_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vrt {

namespace {

constexpr std::size_t kBoundary = 65536;

std::size_t Append(std::vector<std::uint8_t>& file, std::size_t size) {
  const std::size_t at = file.size();
  file.resize(at + size, 0);
  return at;
}

template <typename Record>
void Put(std::vector<std::uint8_t>& file, std::size_t at, const Record& record) {
  std::memcpy(file.data() + at, &record, sizeof(Record));
}

void PutU32(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t value) {
  std::memcpy(file.data() + at, &value, 4);
}

std::uint32_t HeaderRelative(std::size_t filePosition) {
  return static_cast<std::uint32_t>(filePosition - kPreambleSize);
}

}  // namespace

void ApplyBoundaryRule(std::vector<std::uint8_t>& file, std::size_t itemSize) {
  const std::size_t position = file.size() % kBoundary;
  if (position + itemSize % kBoundary > kBoundary) {
    file.resize(file.size() + (kBoundary - position), kFillerByte);
  }
}

DitWriteResult WriteDitImage(DitConfiguration& configuration, std::uint32_t saveTime) {
  DitWriteResult result;

  for (DitChannelSource& channel : configuration.channels) {
    std::erase_if(channel.devices, [](const DitDeviceSource& device) { return device.pollRecords.empty(); });
  }

  std::size_t deviceTotal = 0;
  std::size_t pollRecordTotal = 0;
  for (const DitChannelSource& channel : configuration.channels) {
    deviceTotal += channel.devices.size();
    for (const DitDeviceSource& device : channel.devices) {
      pollRecordTotal += device.pollRecords.size();
      for (const DitPollRecord& record : device.pollRecords) {
        const DitAreaSizes sizes = AreaSizesFor(record.dataType, record.exceptionType, record.length);
        for (std::uint32_t size : sizes.size) {
          if (size > std::numeric_limits<std::uint16_t>::max()) {
            result.error = "A poll record of " + std::to_string(record.length) +
                           " registers has a data area larger than 65535 bytes";
            return result;
          }
        }
      }
    }
  }
  const std::size_t channelTotal = configuration.channels.size();
  if (channelTotal > static_cast<std::size_t>(std::numeric_limits<std::int8_t>::max())) {
    result.error = "Too many channels: " + std::to_string(channelTotal);
    return result;
  }
  if (deviceTotal > std::numeric_limits<std::uint8_t>::max()) {
    result.error = "Too many devices: " + std::to_string(deviceTotal);
    return result;
  }
  if (pollRecordTotal > std::numeric_limits<std::uint16_t>::max()) {
    result.error = "Too many poll records: " + std::to_string(pollRecordTotal);
    return result;
  }

  std::vector<std::uint8_t>& file = result.bytes;
  // The whole file at once (filler aside): large images are tens of MB.
  std::size_t expected = kImageHeaderEnd + 4 * channelTotal + sizeof(DitChannel) * channelTotal +
                         (4 + sizeof(DitDevice)) * deviceTotal + sizeof(DitPollRuntime) * pollRecordTotal;
  for (const DitChannelSource& channel : configuration.channels) {
    for (const DitDeviceSource& device : channel.devices) {
      for (const DitPollRecord& record : device.pollRecords) {
        expected += sizeof(DitPollRecord) + AreaSizesFor(record.dataType, record.exceptionType, record.length).Total();
      }
    }
  }
  file.reserve(expected + expected / 8);
  Append(file, kPreambleSize);
  const std::size_t headerAt = Append(file, sizeof(DitHeader));

  // Channel records, behind their offset table.
  ApplyBoundaryRule(file, 4 * channelTotal);
  const std::size_t channelTableAt = Append(file, 4 * channelTotal);
  std::uint16_t devicesSoFar = 0;
  std::uint16_t pollRecordsSoFar = 0;
  for (std::size_t i = 0; i < channelTotal; ++i) {
    DitChannelSource& source = configuration.channels[i];
    ApplyBoundaryRule(file, sizeof(DitChannel));
    const std::size_t at = Append(file, sizeof(DitChannel));
    DitChannel& record = source.record;
    record.firstDevice = devicesSoFar;
    record.firstPollRecord = pollRecordsSoFar;
    record.deviceCount = static_cast<std::uint16_t>(source.devices.size());
    std::uint16_t channelPollRecords = 0;
    for (const DitDeviceSource& device : source.devices) {
      channelPollRecords = static_cast<std::uint16_t>(channelPollRecords + device.pollRecords.size());
    }
    record.pollRecordCount = channelPollRecords;
    record.lockByte82 = kLockFree;
    record.lockByte83 = kLockFree;
    Put(file, at, record);
    PutU32(file, channelTableAt + 4 * i, HeaderRelative(at));
    devicesSoFar = static_cast<std::uint16_t>(devicesSoFar + record.deviceCount);
    pollRecordsSoFar = static_cast<std::uint16_t>(pollRecordsSoFar + channelPollRecords);
  }

  // Device records, behind their offset table.
  ApplyBoundaryRule(file, 4 * deviceTotal);
  const std::size_t deviceTableAt = Append(file, 4 * deviceTotal);
  std::size_t deviceIndex = 0;
  pollRecordsSoFar = 0;
  for (DitChannelSource& channel : configuration.channels) {
    for (DitDeviceSource& device : channel.devices) {
      ApplyBoundaryRule(file, sizeof(DitDevice));
      const std::size_t at = Append(file, sizeof(DitDevice));
      device.record.firstPollRecord = pollRecordsSoFar;
      device.record.pollRecordCount = static_cast<std::uint16_t>(device.pollRecords.size());
      device.record.lockByte52 = kLockFree;
      device.record.lockByte53 = kLockFree;
      Put(file, at, device.record);
      PutU32(file, deviceTableAt + 4 * deviceIndex, HeaderRelative(at));
      pollRecordsSoFar = static_cast<std::uint16_t>(pollRecordsSoFar + device.record.pollRecordCount);
      ++deviceIndex;
    }
  }

  // Poll records with their data areas, behind the runtime table.
  ApplyBoundaryRule(file, sizeof(DitPollRuntime) * pollRecordTotal);
  const std::size_t runtimeTableAt = Append(file, sizeof(DitPollRuntime) * pollRecordTotal);
  std::size_t pollRecordIndex = 0;
  deviceIndex = 0;
  for (DitChannelSource& channel : configuration.channels) {
    for (DitDeviceSource& device : channel.devices) {
      for (DitPollRecord& record : device.pollRecords) {
        const DitAreaSizes sizes = AreaSizesFor(record.dataType, record.exceptionType, record.length);
        std::uint32_t areaOffset = sizeof(DitPollRecord);
        for (int area = 0; area < kAreaCount; ++area) {
          record.areas[area].offset = areaOffset;
          record.areas[area].size = static_cast<std::uint16_t>(sizes.size[area]);
          areaOffset += sizes.size[area];
        }
        record.deviceIndex = static_cast<std::uint16_t>(deviceIndex);
        record.dataLock = kLockFree;
        record.secondLock = kLockFree;

        ApplyBoundaryRule(file, sizeof(DitPollRecord) + sizes.Total());
        const std::size_t at = Append(file, sizeof(DitPollRecord) + sizes.Total());
        Put(file, at, record);

        DitPollRuntime runtime{};
        runtime.recordOffset = HeaderRelative(at);
        runtime.pollCountdown = 0;
        runtime.accessCountdown = static_cast<std::int32_t>(record.accessTime);
        runtime.enabled = record.enabled;
        runtime.entryLock = kLockFree;
        runtime.lockByte17 = kLockFree;
        Put(file, runtimeTableAt + sizeof(DitPollRuntime) * pollRecordIndex, runtime);
        ++pollRecordIndex;
      }
      ++deviceIndex;
    }
  }

  const auto fileLength = static_cast<std::uint32_t>(file.size());
  PutU32(file, 0, fileLength);
  PutU32(file, 4, fileLength);

  DitHeader header{};
  header.lockByte = kLockFree;
  header.checkByte = kLockFree;
  header.channelCount = static_cast<std::int8_t>(channelTotal);
  header.deviceCount = static_cast<std::uint8_t>(deviceTotal);
  header.flags = 0;
  header.saveTime = saveTime;
  header.formatVersion = kDitVersion;
  header.cycleCounter = 0;
  header.channelRecordSize = kChannelRecordSize;
  header.pollRecordCount = static_cast<std::uint16_t>(pollRecordTotal);
  header.deviceRecordSize = kDeviceRecordSize;
  header.channelTableOffset = HeaderRelative(channelTableAt);
  header.deviceTableOffset = HeaderRelative(deviceTableAt);
  header.runtimeTableOffset = HeaderRelative(runtimeTableAt);
  Put(file, headerAt, header);
  return result;
}

}  // namespace vrt
