#include "sample_configuration.h"

#include <cstring>

#include "dit_codes.h"

namespace vrt::testing {

DitPollRecord SamplePollRecord(std::uint16_t startAddress, std::uint16_t length, std::uint16_t dataType,
                               std::uint8_t exceptionType, std::uint8_t pollKind) {
  DitPollRecord record{};
  record.status = kStatusStopped;
  record.enabled = 1;
  record.exceptionType = exceptionType;
  record.pollTime = 100;
  record.accessTime = 6000;
  record.deadBand = 1.5f;
  record.deadBandInteger = 1;
  record.dataType = dataType;
  record.length = length;
  record.addressWord = MakeAddressWord(startAddress, pollKind);
  return record;
}

DitDeviceSource SampleDevice(const std::string& name, std::uint16_t station, std::vector<DitPollRecord> records) {
  DitDeviceSource device;
  std::strncpy(device.record.name, name.c_str(), kDeviceNameField - 1);
  const std::string description = "Station " + std::to_string(station);
  std::strncpy(device.record.description, description.c_str(), kDescriptionField - 1);
  device.record.hardwareType = kHardwareZOLT;
  device.record.activeStation = station;
  device.record.primaryStation = station;
  device.record.backupStation = kNoBackupStation;
  device.pollRecords = std::move(records);
  return device;
}

void MakeLinkQuick(DitLink& link) {
  link.retries = 1;
  link.replyTimeout = 20;
  link.failureDelay = 30;
}

DitChannelSource SampleChannel(std::uint8_t port, std::vector<DitDeviceSource> devices) {
  DitChannelSource channel;
  channel.record.activePort = static_cast<std::int8_t>(port);
  channel.record.messageEnable = 1;
  channel.record.primary = DitLink{port, 14, 3, 0, 0, 0, 0, 3, 100, 500};
  channel.record.backup = DitLink{kNoPort, 14, 3, 0, 0, 0, 0, 3, 100, 500};
  channel.devices = std::move(devices);
  return channel;
}

DitConfiguration SampleConfiguration(int channels, int devicesPerChannel, int recordsPerDevice) {
  DitConfiguration configuration;
  int station = 1;
  for (int c = 0; c < channels; ++c) {
    std::vector<DitDeviceSource> devices;
    for (int d = 0; d < devicesPerChannel; ++d) {
      std::vector<DitPollRecord> records;
      for (int r = 0; r < recordsPerDevice; ++r) {
        records.push_back(SamplePollRecord(static_cast<std::uint16_t>(r * 100), 8));
      }
      devices.push_back(SampleDevice("DEV" + std::to_string(station), static_cast<std::uint16_t>(station),
                                     std::move(records)));
      ++station;
    }
    configuration.channels.push_back(SampleChannel(static_cast<std::uint8_t>(c), std::move(devices)));
  }
  return configuration;
}

std::vector<std::uint8_t> SampleImage(int channels, int devicesPerChannel, int recordsPerDevice) {
  DitConfiguration configuration = SampleConfiguration(channels, devicesPerChannel, recordsPerDevice);
  return WriteDitImage(configuration, 1700000000).bytes;
}

namespace {

// The largest image's layout: 32 channels of 7 devices sharing 10000 poll
// records of 8 registers as evenly as they divide.
template <typename Visit>
void ForEachLargestImageDevice(Visit visit) {
  int remaining = 10000;
  for (int c = 0; c < 32; ++c) {
    for (int d = 0; d < 7; ++d) {
      const int left = 32 * 7 - (c * 7 + d);
      const int count = remaining / left;
      remaining -= count;
      visit(c, "D" + std::to_string(c * 7 + d), count);
    }
  }
}

}  // namespace

std::vector<std::uint8_t> LargestImage(std::uint16_t status) {
  DitConfiguration configuration;
  std::vector<DitDeviceSource> devices;
  ForEachLargestImageDevice([&](int channel, const std::string& name, int count) {
    std::vector<DitPollRecord> records;
    for (int r = 0; r < count; ++r) {
      DitPollRecord record = SamplePollRecord(static_cast<std::uint16_t>(r * 8), 8);
      record.status = status;
      records.push_back(record);
    }
    devices.push_back(SampleDevice(name, 1, std::move(records)));
    if (devices.size() == 7) {
      configuration.channels.push_back(SampleChannel(static_cast<std::uint8_t>(channel), std::move(devices)));
      devices.clear();
    }
  });
  return WriteDitImage(configuration, 0).bytes;
}

std::vector<std::string> LargestImageAddresses() {
  std::vector<std::string> addresses;
  ForEachLargestImageDevice([&](int, const std::string& name, int count) {
    for (int r = 0; r < count; ++r) addresses.push_back(name + ":DIT:" + std::to_string(r * 8));
  });
  return addresses;
}

}  // namespace vrt::testing
