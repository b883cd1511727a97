// The driver image, as it comes from a configuration file or a mapping
// another process filled: the check at attach, every locator over any bytes,
// the mapping library attaching in each flavour, an NIO client enumerating,
// reading and writing over an image the driver accepted, and the poll engine
// running a few cycles over it.
//
// Input: the image's bytes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dit_codes.h"
#include "dit_image.h"
#include "dit_mapping.h"
#include "engine_fakes.h"
#include "fake_mapping_platform.h"
#include "fuzz_check.h"
#include "nio_addressing.h"
#include "nio_data.h"
#include "nio_enumeration.h"
#include "vrtstsr_point.h"

namespace {

using namespace vrt;
using vrt::fuzz::TouchBytes;

constexpr const char* kConfigFile = "C:\\VRT\\PLANT.VRT";

// Every record and area the locators hand out must lie wholly inside the
// buffer; indices around and beyond the counts must give null.
void WalkLocators(const DitImage& image) {
  const std::uint8_t* begin = image.Base();
  const std::uint8_t* end = image.Base() + image.Size();
  auto inside = [&](const void* at, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(at);
    VRT_FUZZ_CHECK(bytes >= begin && bytes <= end && size <= static_cast<std::size_t>(end - bytes),
                   "a locator handed out bytes outside the image");
    TouchBytes(at, size);
  };
  if (const DitHeader* header = image.Header()) inside(header, sizeof *header);
  for (int i : {-1, image.ChannelCount(), image.ChannelCount() + 1, 1 << 20}) {
    VRT_FUZZ_CHECK(image.Channel(i) == nullptr, "a channel outside the count was found");
  }
  for (int i = 0; i < image.ChannelCount(); ++i) {
    if (const DitChannel* channel = image.Channel(i)) inside(channel, sizeof *channel);
  }
  for (int j : {-1, image.DeviceCount(), 1 << 20}) {
    VRT_FUZZ_CHECK(image.Device(j) == nullptr, "a device outside the count was found");
  }
  for (int j = 0; j < image.DeviceCount(); ++j) {
    if (const DitDevice* device = image.Device(j)) {
      inside(device, sizeof *device);
      for (std::uint32_t version : {kDitVersion, kDitVersionPrevious}) {
        VRT_FUZZ_CHECK(DeviceName(*device, version).size() <= kDeviceNameField, "a device name ran past its field");
        VRT_FUZZ_CHECK(DeviceDescription(*device, version).size() <= kDescriptionField,
                       "a description ran past its field");
      }
    }
  }
  for (int k : {-1, image.PollRecordCount(), 1 << 20}) {
    VRT_FUZZ_CHECK(image.Runtime(k) == nullptr && image.PollRecord(k) == nullptr,
                   "a poll record outside the count was found");
  }
  for (int k = 0; k < image.PollRecordCount(); ++k) {
    if (const DitPollRuntime* runtime = image.Runtime(k)) inside(runtime, sizeof *runtime);
    if (const DitPollRecord* record = image.PollRecord(k)) inside(record, sizeof *record);
    for (int area = 0; area <= kAreaCount + 1; ++area) {
      std::uint16_t size = 0;
      const std::uint8_t* data = image.Area(k, area, &size);
      if (area < 1 || area > kAreaCount) {
        VRT_FUZZ_CHECK(data == nullptr, "an area number outside 1..5 gave an area");
      } else if (data != nullptr) {
        inside(data, size);
      }
    }
  }
}

// What an accepted image promises its readers.
void CheckAccepted(const DitImage& image, ImageBounds bounds) {
  const DitHeader& header = *image.Header();
  const int channels = image.ChannelCount();
  const int devices = image.DeviceCount();
  const int records = image.PollRecordCount();
  VRT_FUZZ_CHECK(channels >= 1 && channels <= bounds.maxChannels, "accepted with a bad channel count");
  VRT_FUZZ_CHECK(devices >= 1 && devices <= bounds.maxDevices, "accepted with a bad device count");
  VRT_FUZZ_CHECK(records >= 1 && records <= kMaxPollRecords, "accepted with a bad poll record count");
  VRT_FUZZ_CHECK(header.formatVersion == kDitVersion || header.formatVersion == kDitVersionPrevious,
                 "accepted an unknown format");
  for (int i = 0; i < channels; ++i) {
    const DitChannel* channel = image.Channel(i);
    VRT_FUZZ_CHECK(channel != nullptr, "an accepted image lost a channel");
    VRT_FUZZ_CHECK(channel->firstDevice + channel->deviceCount <= devices, "a channel's devices leave the table");
    VRT_FUZZ_CHECK(channel->firstPollRecord + channel->pollRecordCount <= records,
                   "a channel's poll records leave the table");
  }
  for (int j = 0; j < devices; ++j) {
    const DitDevice* device = image.Device(j);
    VRT_FUZZ_CHECK(device != nullptr, "an accepted image lost a device");
    VRT_FUZZ_CHECK(device->firstPollRecord + device->pollRecordCount <= records,
                   "a device's poll records leave the table");
  }
  for (int k = 0; k < records; ++k) {
    const DitPollRecord* record = image.PollRecord(k);
    VRT_FUZZ_CHECK(record != nullptr && image.Runtime(k) != nullptr, "an accepted image lost a poll record");
    VRT_FUZZ_CHECK(record->deviceIndex < devices, "a poll record names a device outside the table");
    const DitAreaSizes needed = AreaSizesFor(record->dataType, record->exceptionType, record->length);
    for (int area = 1; area <= kAreaCount; ++area) {
      std::uint16_t size = 0;
      VRT_FUZZ_CHECK(image.Area(k, area, &size) != nullptr, "an accepted image lost an area");
      VRT_FUZZ_CHECK(size >= needed.size[area - 1], "an area is smaller than its record's registers");
    }
  }
}

// The mapping library's locators in one process, for every index it may be
// asked for (clients pass what they like).
void WalkMapping(DitMapping& mapping) {
  const int channels = mapping.ChannelCount();
  const int devices = mapping.DeviceCount();
  const int records = mapping.PollRecordCount();
  for (int i = -1; i <= channels; ++i) {
    if (const DitChannel* channel = mapping.nio_map_chan(i)) {
      TouchBytes(channel, sizeof *channel);
      for (int number : {-1, 0, channel->deviceCount - 1, static_cast<int>(channel->deviceCount)}) {
        const int device = mapping.ChannelDeviceIndex(i, number);
        VRT_FUZZ_CHECK(device == -1 || (device >= 0 && device < devices), "a channel's device index left the table");
      }
      for (int number : {-1, 0, channel->pollRecordCount - 1, static_cast<int>(channel->pollRecordCount)}) {
        const int record = mapping.ChannelPollRecordIndex(i, number);
        VRT_FUZZ_CHECK(record == -1 || (record >= 0 && record < records),
                       "a channel's poll record index left the table");
      }
    }
  }
  for (int j = -1; j <= devices; ++j) {
    if (const DitDevice* device = mapping.nio_map_dev(j)) TouchBytes(device, sizeof *device);
  }
  for (int k = -1; k <= records; ++k) {
    if (const DitPollRuntime* runtime = mapping.nio_map_ptr(k)) TouchBytes(runtime, sizeof *runtime);
    if (const DitPollRecord* record = mapping.nio_map_dit(k)) {
      TouchBytes(record, sizeof *record);
      for (int area = 0; area <= kAreaCount; ++area) {
        std::uint16_t size = 0;
        if (area >= 1) mapping.Image().Area(k, area, &size);
        if (const std::uint8_t* data = mapping.nio_find_data(k, area)) {
          TouchBytes(data, area >= 1 ? size : sizeof(DitPollRecord));
        }
      }
    }
  }
}

// Enumeration slots are zero-terminated texts of their fixed size.
std::vector<std::string> Slots(const char* list, std::uint32_t count) {
  std::vector<std::string> texts;
  for (std::uint32_t k = 0; k < count; ++k) {
    const char* slot = list + static_cast<std::size_t>(k) * kEnumerationSlot;
    VRT_FUZZ_CHECK(std::memchr(slot, '\0', kEnumerationSlot) != nullptr, "an enumeration slot is not terminated");
    texts.emplace_back(slot);
  }
  return texts;
}

// What an NIO client does with an image it attached to: list the devices
// and their poll records, then read and write points of the records.
void UseAsNioClient(testing::Process& client) {
  NioProcess process{client.mapping, client.platform};
  std::uint16_t status = 0xEEEE;
  std::uint32_t count = 0;
  char* list = nullptr;
  nio_Enum_Devices(process, &status, &count, &list);
  std::vector<std::string> devices;
  if (status == kNioOk && list != nullptr) {
    VRT_FUZZ_CHECK(static_cast<int>(count) == client.mapping.DeviceCount(), "a device list of another length");
    devices = Slots(list, count);
  }
  nio_Free(process, list);
  for (const std::string& device : devices) {
    std::uint32_t records = 0;
    char* recordList = nullptr;
    nio_Enum_PollRecs(process, &status, device.c_str(), &records, &recordList);
    if (status == kNioOk && recordList != nullptr) Slots(recordList, records);
    nio_Free(process, recordList);
  }

  const DitImage& image = client.mapping.Image();
  const int records = std::min(image.PollRecordCount(), 24);
  for (int k = 0; k < records; ++k) {
    const DitPollRecord* record = image.PollRecord(k);
    const DitDevice* device = record ? image.Device(record->deviceIndex) : nullptr;
    if (device == nullptr) continue;
    const std::string address = DeviceName(*device, image.Header()->formatVersion) + ":" +
                                (PollKindOf(record->addressWord) == kPollKindDit ? "DIT:" : "EVENT:") +
                                std::to_string(StartAddressOf(record->addressWord) + record->length / 2);
    for (std::uint8_t kind : {kValueKindAnalog, kValueKindDigital, kValueKindText}) {
      NioPoint point;
      point.valueSpec.valueKind = kind;
      point.valueSpec.eguSpan = 100.0f;
      const std::string text = kind == kValueKindDigital ? address + ":" + std::to_string(k % 16) : address;
      nio_paddr(client.mapping, &status, &point.block, &point.valueSpec, text.c_str());
      if (status != kNioOk) continue;
      point.address.signalConditioning = static_cast<std::int16_t>(k % 23);
      // Values land in buffers of exactly their capacity.
      const std::uint8_t capacity = kind == kValueKindText ? static_cast<std::uint8_t>(1 + k % 40) : 4;
      const auto buffer = fuzz::ExactCopy(std::vector<std::uint8_t>(capacity, 0xEE).data(), capacity);
      NioValue value{0xEE, capacity, 0xEEEE, buffer.get()};
      nio_read(process, &status, &point.block, &point.valueSpec, &value);
      if (status == kNioOk) VRT_FUZZ_CHECK(value.length <= capacity, "a read delivered more than its buffer holds");
      float number = 12.5f;
      std::uint16_t bit = 1;
      NioValue written{kind == kValueKindDigital ? kValueTagBoolean : kValueTagFloat,
                       static_cast<std::uint8_t>(kind == kValueKindDigital ? 2 : 4), 0xEEEE,
                       kind == kValueKindDigital ? static_cast<void*>(&bit) : static_cast<void*>(&number)};
      if (kind != kValueKindText) nio_send(process, &status, &point.block, &point.valueSpec, &written);
    }
  }
}

// A few cycles of the driver over its accepted image: a silent card, so
// every request times out, is retried and fails; then the network stops.
void RunEngine(const DitImage& image) {
  fuzz::FuzzCard card;
  fuzz::FuzzHost host(image);
  PollEngine engine(image, card, host);
  for (int channel = 0; channel < image.ChannelCount(); ++channel) engine.StartChannel(channel);
  for (int cycle = 0; cycle < 8; ++cycle) {
    host.ticks += 100000;
    engine.PollCycle(cycle < 4 ? 1 : 100000);
  }
  for (int channel = 0; channel < image.ChannelCount(); ++channel) engine.StopChannel(channel);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A buffer of exactly the input's size: a read past its end is seen.
  std::vector<std::uint8_t> bytes(data, data + size);
  const DitImage image(bytes.data(), bytes.size());
  WalkLocators(image);

  const ImageCheck nio = CheckImage(image, kNioFlavour.bounds);
  const ImageCheck editor = CheckImage(image, kEditorFlavour.bounds);
  if (editor == ImageCheck::kGood) VRT_FUZZ_CHECK(nio == ImageCheck::kGood, "the editor accepts what clients refuse");
  if (nio == ImageCheck::kGood) CheckAccepted(image, kNioFlavour.bounds);
  if (editor == ImageCheck::kGood) CheckAccepted(image, kEditorFlavour.bounds);
  VRT_FUZZ_CHECK(ImageCheckMessage(nio) != nullptr, "no message for a check");

  // The same bytes through the mapping library: the driver creates the image
  // from the file, then a client of each flavour attaches to it.
  testing::FakeSystem system;
  system.registry[kConfigFileValue] = kConfigFile;
  system.files[kConfigFile] = bytes;
  testing::Process driver(system, kDriverFlavour);
  const bool loaded = driver.mapping.nio_map_hdr() != nullptr;
  VRT_FUZZ_CHECK(loaded == (CheckImage(image, kDriverFlavour.bounds) == ImageCheck::kGood),
                 "the driver's load disagrees with the check");
  if (!loaded) return 0;
  DriverControlBlock& block = *reinterpret_cast<DriverControlBlock*>(system.controlBlock->data());
  block.LoadedGeneration = block.MapGeneration;
  testing::Process client(system, kNioFlavour);
  testing::Process editorClient(system, kEditorFlavour);
  VRT_FUZZ_CHECK(client.mapping.nio_map_hdr() != nullptr, "a client refused what the driver loaded");
  VRT_FUZZ_CHECK((editorClient.mapping.nio_map_hdr() != nullptr) == (editor == ImageCheck::kGood),
                 "the editor's attach disagrees with the check");
  WalkMapping(client.mapping);
  WalkMapping(editorClient.mapping);
  UseAsNioClient(client);

  RunEngine(driver.mapping.Image());
  // Whatever the engine wrote into the image, the clients still find it whole.
  WalkLocators(driver.mapping.Image());
  WalkMapping(client.mapping);
  return 0;
}
