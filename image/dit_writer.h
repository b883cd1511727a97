// Writing a driver image from a configuration held in memory: the layout the
// editor saves and the driver loads byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dit_format.h"

namespace vrt {

// A configuration as records: the caller fills each record's own fields
// (names, links, stations, poll settings); the writer fills everything that
// links them (indices, counts, offsets, area descriptors, runtime entries,
// lock bytes).
struct DitDeviceSource {
  DitDevice record{};
  std::vector<DitPollRecord> pollRecords;
};

struct DitChannelSource {
  DitChannel record{};
  std::vector<DitDeviceSource> devices;
};

struct DitConfiguration {
  std::vector<DitChannelSource> channels;
};

struct DitWriteResult {
  std::vector<std::uint8_t> bytes;  // empty on failure
  std::string error;                // why nothing was written
};

// Saves the configuration in format 279. Devices without poll records are
// removed from `configuration` (they are not written). Fails, writing
// nothing, when a count or an area size cannot be stored in its field.
DitWriteResult WriteDitImage(DitConfiguration& configuration, std::uint32_t saveTime);

// Before an item of `itemSize` bytes is appended: when it would run past the
// next 64 KiB boundary of the file, pad with 'F' up to that boundary.
void ApplyBoundaryRule(std::vector<std::uint8_t>& file, std::size_t itemSize);

}  // namespace vrt
