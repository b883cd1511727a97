#include "nio_enumeration.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "dit_codes.h"
#include "nio_addressing.h"

namespace vrt {
namespace {

void SetStatus(std::uint16_t* status, std::uint16_t value) {
  if (status != nullptr) *status = value;
}

// Makes `list` the process's last list and hands it to the client.
void Publish(NioProcess& process, char* list, char** out) {
  process.lastList = list;
  *out = list;
}

}  // namespace

void DescribePollRecord(const DitPollRecord& record, char (&slot)[kEnumerationSlot]) {
  const unsigned start = StartAddressOf(record.addressWord);
  const unsigned end = start + record.length;
  const char* format = PollKindOf(record.addressWord) == kPollKindEvent ? "EVENT:%u - %u" : "DIT:%u - %u";
  std::snprintf(slot, sizeof slot, format, start, end);
}

void nio_Enum_Devices(NioProcess& process, std::uint16_t* status, std::uint32_t* count, char** list) {
  SetStatus(status, kNioEnumerationFailed);
  if (count == nullptr || list == nullptr) return;
  SetStatus(status, kNioOk);
  *list = nullptr;
  DitMapping& mapping = process.mapping;
  const int devices = mapping.DeviceCount();
  *count = static_cast<std::uint32_t>(devices > 0 ? devices : 0);
  if (devices <= 0) return;

  auto fail = [&](char* allocation) {
    if (allocation != nullptr) process.listHeap->Release(allocation);
    SetStatus(status, kNioEnumerationFailed);
    *count = 0;
  };
  char* allocation = process.listHeap->Allocate(static_cast<std::size_t>(devices) * kEnumerationSlot);
  if (allocation == nullptr) return fail(nullptr);

  const DitHeader* header = mapping.nio_map_hdr();
  if (header == nullptr) return fail(allocation);
  const std::uint32_t version = header->formatVersion;
  int written = 0;
  const int channels = mapping.ChannelCount();
  for (int channel = 0; channel < channels && written < devices; ++channel) {
    const DitChannel* record = mapping.nio_map_chan(channel);
    if (record == nullptr) return fail(allocation);
    for (int number = 0; number < record->deviceCount && written < devices; ++number) {
      const int index = mapping.ChannelDeviceIndex(channel, number);
      const DitDevice* device = index >= 0 ? mapping.nio_map_dev(index) : nullptr;
      if (device == nullptr) return fail(allocation);
      const std::string name = DeviceName(*device, version);
      char* slot = allocation + static_cast<std::size_t>(written) * kEnumerationSlot;
      std::memcpy(slot, name.data(), std::min(name.size(), kEnumerationSlot - 1));
      ++written;
    }
  }
  // Fewer devices reachable through the channels than the header counts:
  // the image does not hold together, and a list with empty slots would
  // pass for names.
  if (written < devices) return fail(allocation);
  Publish(process, allocation, list);
}

void nio_Enum_PollRecs(NioProcess& process, std::uint16_t* status, const char* deviceName, std::uint32_t* count,
                       char** list) {
  SetStatus(status, kNioEnumerationFailed);
  if (count == nullptr || list == nullptr || deviceName == nullptr) return;
  *list = nullptr;
  *count = 0;
  DitMapping& mapping = process.mapping;
  DeviceLocation location;
  if (!FindDevice(mapping, deviceName, location)) return;
  const DitDevice* device = mapping.nio_map_dev(location.index);
  if (device == nullptr) return;
  const std::uint16_t records = device->pollRecordCount;
  const int first = device->firstPollRecord;
  if (records == 0) {
    SetStatus(status, kNioOk);
    return;
  }
  char* allocation = process.listHeap->Allocate(static_cast<std::size_t>(records) * kEnumerationSlot);
  if (allocation == nullptr) return;
  for (int k = 0; k < records; ++k) {
    const DitPollRecord* record = mapping.nio_map_dit(first + k);
    if (record == nullptr) {
      process.listHeap->Release(allocation);
      return;
    }
    char slot[kEnumerationSlot];
    DescribePollRecord(*record, slot);
    std::memcpy(allocation + static_cast<std::size_t>(k) * kEnumerationSlot, slot, sizeof slot);
  }
  *count = records;
  SetStatus(status, kNioOk);
  Publish(process, allocation, list);
}

void nio_Free(NioProcess& process, char* list) {
  if (list == nullptr || list != process.lastList) return;
  process.listHeap->Release(list);
  process.lastList = nullptr;
}

int nio_num_pollblocks(NioProcess& process) { return process.mapping.PollRecordCount(); }

}  // namespace vrt
