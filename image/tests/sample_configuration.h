// Configurations for tests, built the way the editor fills records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dit_writer.h"

namespace vrt::testing {

DitPollRecord SamplePollRecord(std::uint16_t startAddress, std::uint16_t length, std::uint16_t dataType = 2,
                               std::uint8_t exceptionType = 0, std::uint8_t pollKind = 0);
DitDeviceSource SampleDevice(const std::string& name, std::uint16_t station, std::vector<DitPollRecord> records);
DitChannelSource SampleChannel(std::uint8_t port, std::vector<DitDeviceSource> devices);
// Link settings under which a silent station is given up within a few
// tenths of a second: one retry, 0.2 s reply timeout, 0.3 s failure delay.
void MakeLinkQuick(DitLink& link);

// `channels` channels, each with `devicesPerChannel` devices of
// `recordsPerDevice` poll records of 8 unsigned registers.
DitConfiguration SampleConfiguration(int channels = 2, int devicesPerChannel = 2, int recordsPerDevice = 2);

// The largest image the driver polls: 32 channels of 7 devices sharing 10000
// poll records of 8 registers, each record with the given status.
std::vector<std::uint8_t> LargestImage(std::uint16_t status = kStatusStopped);
// The first register of every poll record of that image, as "D7:DIT:16".
std::vector<std::string> LargestImageAddresses();

std::vector<std::uint8_t> SampleImage(int channels = 2, int devicesPerChannel = 2, int recordsPerDevice = 2);

}  // namespace vrt::testing
