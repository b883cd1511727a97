#include "nio_addressing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "dit_codes.h"
#include "log_message.h"
#include "shared_access.h"

namespace vrt {
namespace {

constexpr SignalConditioningEntry kDictionary[] = {
    {-1, "", 0},  // header
    {1, "NONE", 0},  {1, "LIN", 8},   {1, "3BCD", 1},  {2, "4BCD", 2},  {3, "12BN", 3},  {3, "12AL", 4},
    {3, "15BN", 5},  {3, "15AL", 6},  {4, "4maL", 20}, {4, "4maS", 21}, {4, "16SQ", 22}, {0, "", -1},
};

// Lookups never scan further than this, whatever the table holds.
constexpr std::size_t kMaxDictionaryEntries = 255;

constexpr std::size_t kDeviceNameBuffer = sizeof(NioDeviceText::deviceName);
constexpr std::size_t kDevicePartLength = 10;

void SetStatus(std::uint16_t* status, std::uint16_t value) {
  if (status != nullptr) *status = value;
}

bool IsSeparator(char c) { return c != '\0' && std::strchr(kAddressSeparators, c) != nullptr; }

const char* FindSeparator(const char* text) {
  for (; *text != '\0'; ++text) {
    if (IsSeparator(*text)) return text;
  }
  return nullptr;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Copies at most `capacity - 1` bytes of `text` and terminates.
void CopyOut(const char* text, char* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return;
  const std::size_t length = std::min(std::strlen(text), capacity - 1);
  std::memcpy(out, text, length);
  out[length] = '\0';
}

// The device name held in a NioDeviceText, or empty when it is not
// terminated inside its field.
std::string HeldDeviceName(const NioDeviceText& deviceText) {
  const std::size_t length = strnlen(deviceText.deviceName, kDeviceNameBuffer);
  if (length == kDeviceNameBuffer) return {};
  return std::string(deviceText.deviceName, length);
}

bool PollRecordHolds(const DitPollRecord& record, const NioAddress& address) {
  const int start = StartAddressOf(record.addressWord);
  const int end = start + static_cast<int>(record.length) - 1;
  const int point = RegisterOf(address);
  return start <= point && point <= end && PollKindOf(record.addressWord) == PointPollKindOf(address);
}

}  // namespace

std::span<const SignalConditioningEntry> SignalConditioningDictionary() { return kDictionary; }

int LookUpSignalConditioning(std::span<const SignalConditioningEntry> dictionary, const char* name) {
  if (name == nullptr) name = "";
  const std::size_t scanned = std::min(dictionary.size(), kMaxDictionaryEntries);
  for (std::size_t k = 0; k < scanned; ++k) {
    const SignalConditioningEntry& entry = dictionary[k];
    if (entry.length < 0) continue;
    if (entry.code < -1) break;
    if (std::strncmp(entry.name, name, static_cast<std::size_t>(entry.length)) == 0) return entry.code;
  }
  return kNoSignalConditioning;
}

const char* SignalConditioningName(std::span<const SignalConditioningEntry> dictionary, int code) {
  const std::size_t scanned = std::min(dictionary.size(), kMaxDictionaryEntries);
  for (std::size_t k = 0; k < scanned; ++k) {
    const SignalConditioningEntry& entry = dictionary[k];
    if (entry.length < 0) continue;
    if (entry.code < 0) break;
    if (entry.code == code) return entry.name;
  }
  return kUnknownSignalName;
}

std::int32_t ParseDecimal(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' || *text == '\f') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<std::uint32_t>(*text - '0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

bool FindDevice(DitMapping& mapping, const char* name, DeviceLocation& location) {
  if (name == nullptr) return false;
  const std::size_t length = strnlen(name, kDeviceNameBuffer);
  if (length > kMaxDeviceNameText) return false;
  char wanted[kDeviceNameBuffer] = {};
  for (std::size_t k = 0; k < length; ++k) wanted[k] = Upper(name[k]);

  const DitHeader* header = mapping.nio_map_hdr();
  if (header == nullptr) return false;
  const DitImage& image = mapping.Image();
  const int devices = mapping.DeviceCount();
  for (int index = 0; index < devices; ++index) {
    const DitDevice* device = image.Device(index);
    if (device == nullptr) continue;
    if (DeviceName(*device, header->formatVersion) != wanted) continue;
    // The first equal name decides, found or not.
    const int channels = mapping.ChannelCount();
    for (int channel = 0; channel < channels; ++channel) {
      const DitChannel* record = image.Channel(channel);
      if (record == nullptr) continue;
      const int number = index - record->firstDevice;
      if (number < 0 || number >= record->deviceCount) continue;
      // The address record holds 5 bits of channel and 8 of device number,
      // 255 meaning undefined.
      if (channel > 31 || number >= kUndefinedDevice) return false;
      location = DeviceLocation{channel, number, index};
      return true;
    }
    return false;
  }
  return false;
}

int ResolveToPollRecord(DitMapping& mapping, NioAddress& address) {
  DriverControlBlock* block = mapping.OpenDriverControlBlock(true);
  if (block == nullptr) return -1;
  const int deviceIndex = mapping.ChannelDeviceIndex(ChannelOf(address), DeviceNumberOf(address));
  if (deviceIndex < 0) return -1;
  const DitDevice* device = mapping.nio_map_dev(deviceIndex);
  if (device == nullptr) return -1;
  const int first = device->firstPollRecord;
  const int count = device->pollRecordCount;
  for (int k = 0; k < count; ++k) {
    const int index = first + k;
    if (index > static_cast<int>(kResolutionIndexMask)) break;
    const DitPollRecord* record = mapping.nio_map_dit(index);
    if (record == nullptr || !PollRecordHolds(*record, address)) continue;
    const std::uint32_t tag = (static_cast<std::uint32_t>(SharedLoad(block->MapGeneration)) | 4u) & 7u;
    address.resolution = (address.resolution & ~0x0007FFFFu) | static_cast<std::uint32_t>(index) |
                         (tag << kResolutionTagShift);
    return index;
  }
  return -1;
}

int ResolveAddress(DitMapping& mapping, NioBlock* block) {
  if (block == nullptr || block->address == nullptr || block->deviceText == nullptr) return -1;
  NioAddress& address = *block->address;
  if (DeviceNumberOf(address) == kUndefinedDevice) return -1;
  DriverControlBlock* control = mapping.OpenDriverControlBlock(true);
  if (control == nullptr) return -1;

  const int generation = SharedLoad(control->MapGeneration);
  if (address.resolution != 0 && GenerationTagOf(address) == (generation & 3)) {
    // The tag has two bits: after three reloads without an access it matches
    // again, so the record must still be the named device's and hold the
    // register.
    const int index = ResolvedIndexOf(address);
    const DitPollRecord* record = mapping.nio_map_dit(index);
    if (record != nullptr && PollRecordHolds(*record, address)) {
      const DitHeader* header = mapping.Image().Header();
      const DitDevice* device = mapping.Image().Device(record->deviceIndex);
      if (header != nullptr && device != nullptr &&
          DeviceName(*device, header->formatVersion) == HeldDeviceName(*block->deviceText)) {
        return index;
      }
    }
  }

  mapping.ReMapDIT();
  const std::string name = HeldDeviceName(*block->deviceText);
  DeviceLocation location;
  if (name.empty() || !FindDevice(mapping, name.c_str(), location)) {
    if (DeviceNumberOf(address) != kUndefinedDevice) {
      LogMessage(kAttrInformation, "IO Address Err: Device name not found - %s", name.c_str());
    }
    SetChannelAndDevice(address, ChannelOf(address), kUndefinedDevice);
    return -1;
  }
  SetChannelAndDevice(address, location.channel, location.number);
  return ResolveToPollRecord(mapping, address);
}

void nio_paddr(DitMapping& mapping, std::uint16_t* status, NioBlock* block, NioValueSpec* valueSpec,
               const char* text) {
  SetStatus(status, kNioOk);
  if (block == nullptr || block->address == nullptr || block->deviceText == nullptr || valueSpec == nullptr ||
      text == nullptr) {
    SetStatus(status, kNioAddressError);
    return;
  }
  const std::size_t length = strnlen(text, kMaxAddressText + 1);
  if (length > kMaxAddressText) {
    SetStatus(status, kNioAddressError);
    return;
  }
  if (length == 0) {
    SetChannelAndDevice(*block->address, ChannelOf(*block->address), kUndefinedDevice);
    return;
  }
  NioAddress working = *block->address;

  const char* separator = FindSeparator(text);
  if (separator == nullptr) {
    SetStatus(status, kNioAddressError);
    return;
  }
  char device[kDeviceNameBuffer] = {};
  const std::size_t deviceLength = std::min(static_cast<std::size_t>(separator - text), kDevicePartLength);
  for (std::size_t k = 0; k < deviceLength; ++k) device[k] = Upper(text[k]);
  DeviceLocation location;
  if (!FindDevice(mapping, device, location)) {
    SetStatus(status, kNioAddressError);
    return;
  }

  char rest[kMaxAddressText + 1] = {};
  const char* from = separator + 1;
  for (std::size_t k = 0; from[k] != '\0'; ++k) rest[k] = Upper(from[k]);
  const std::uint32_t pollKind = rest[0] == 'D' ? std::uint32_t{kPollKindDit} : std::uint32_t{kPollKindEvent};
  const char* registerSeparator = FindSeparator(rest);
  if (registerSeparator == nullptr) {
    SetStatus(status, kNioAddressError);
    return;
  }
  const char* registerText = registerSeparator + 1;
  const std::int32_t registerNumber = ParseDecimal(registerText);

  std::uint8_t valueKind = valueSpec->valueKind;
  std::int32_t bit = 0;
  if (valueKind == kValueKindDigital || valueKind == kValueKindFromAddress) {
    const char* number = registerText;
    while (*number == ' ') ++number;
    const char* bitSeparator = FindSeparator(number);
    if (bitSeparator != nullptr) {
      bit = ParseDecimal(bitSeparator + 1);
      valueKind = kValueKindDigital;
    } else if (valueKind == kValueKindDigital) {
      SetStatus(status, kNioAddressError);
      return;
    } else {
      valueKind = kValueKindAnalog;
    }
  }

  working.registerWord = (working.registerWord & 0xFFF00000u) | (static_cast<std::uint32_t>(registerNumber) & 0x7FFu) |
                         ((static_cast<std::uint32_t>(bit) & 0xFu) << 11) | (pollKind << 15);
  SetChannelAndDevice(working, location.channel, location.number);
  if (ResolveToPollRecord(mapping, working) < 0) {
    SetStatus(status, kNioAddressError);
    return;
  }
  *block->address = working;
  std::memset(block->deviceText->deviceName, 0, kDeviceNameBuffer);
  std::memcpy(block->deviceText->deviceName, device, deviceLength);
  valueSpec->valueKind = valueKind;
}

void nio_daddr(DitMapping& mapping, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec, char* text,
               std::size_t capacity) {
  SetStatus(status, kNioOk);
  if (block == nullptr || block->address == nullptr || block->deviceText == nullptr) {
    SetStatus(status, kNioAddressError);
    return;
  }
  const NioAddress& address = *block->address;
  const int number = DeviceNumberOf(address);
  const DitChannel* channel = number == kUndefinedDevice ? nullptr : mapping.nio_map_chan(ChannelOf(address));
  if (channel == nullptr || number >= channel->deviceCount) {
    CopyOut(kUndefinedAddressText, text, capacity);
    return;
  }
  char formatted[kDeviceNameBuffer + 32];
  int written = std::snprintf(formatted, sizeof formatted, "%s:%s%d", HeldDeviceName(*block->deviceText).c_str(),
                              PointPollKindOf(address) == kPollKindEvent ? "EVENT:" : "DIT:", RegisterOf(address));
  if (valueSpec != nullptr && valueSpec->valueKind == kValueKindDigital && written > 0) {
    std::snprintf(formatted + written, sizeof formatted - static_cast<std::size_t>(written), ":%d", BitOf(address));
  }
  CopyOut(formatted, text, capacity);
}

void nio_psig(std::uint16_t* status, NioBlock* block, const NioValueSpec*, const char* name) {
  SetStatus(status, kNioOk);
  if (block == nullptr || block->address == nullptr) {
    SetStatus(status, kNioAddressError);
    return;
  }
  const int code = LookUpSignalConditioning(SignalConditioningDictionary(), name);
  if (code == kNoSignalConditioning) {
    block->address->signalConditioning = 0;
    SetStatus(status, kNioSignalNameRejected);
    return;
  }
  block->address->signalConditioning = static_cast<std::int16_t>(code);
}

void nio_dsig(std::uint16_t* status, NioBlock* block, const NioValueSpec*, char* text, std::size_t capacity) {
  SetStatus(status, kNioOk);
  if (block == nullptr || block->address == nullptr) {
    SetStatus(status, kNioAddressError);
    return;
  }
  CopyOut(SignalConditioningName(SignalConditioningDictionary(), block->address->signalConditioning), text, capacity);
}

void nio_popt(std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec, const char* text) {
  SetStatus(status, kNioOk);
  if (block == nullptr || block->address == nullptr || block->deviceText == nullptr) {
    SetStatus(status, kNioAddressError);
    return;
  }
  if (text == nullptr) text = "";
  if (valueSpec != nullptr && valueSpec->valueKind == kValueKindAnalog) {
    const std::int32_t low = ParseDecimal(text);
    const std::size_t length = strnlen(text, kMaxAddressText + 1);
    std::size_t separator = 9;
    for (std::size_t position = 1; position <= 8 && position < length; ++position) {
      if (text[position] == ':') {
        separator = position;
        break;
      }
    }
    // The second number starts after the separator; a text that ends before
    // it has none.
    const std::int32_t second = separator + 1 <= length ? ParseDecimal(text + separator + 1) : 0;
    NioDeviceText& deviceText = *block->deviceText;
    deviceText.optionLow = static_cast<std::int16_t>(low);
    // The span is kept in 16 bits: the difference is taken modulo 2^32, so
    // that numbers far apart cannot overflow.
    const std::uint32_t high = block->address->signalConditioning == 17
                                   ? static_cast<std::uint32_t>(second)
                                   : static_cast<std::uint32_t>(second) - static_cast<std::uint32_t>(low);
    deviceText.optionHigh = static_cast<std::uint16_t>(high);
  }
  block->address->optionWord = 0;
}

void nio_dopt(std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec, char* text,
              std::size_t capacity) {
  SetStatus(status, kNioOk);
  if (block == nullptr || block->address == nullptr || block->deviceText == nullptr) {
    SetStatus(status, kNioAddressError);
    return;
  }
  char formatted[32] = "";
  if (valueSpec != nullptr && valueSpec->valueKind == kValueKindAnalog) {
    const NioDeviceText& deviceText = *block->deviceText;
    const int code = block->address->signalConditioning;
    if (code == 15 || code == 16) {
      std::snprintf(formatted, sizeof formatted, "%d:%d", deviceText.optionLow,
                    deviceText.optionLow + static_cast<int>(deviceText.optionHigh));
    } else if (code == 17) {
      std::snprintf(formatted, sizeof formatted, "%d:%u", deviceText.optionLow,
                    static_cast<unsigned>(deviceText.optionHigh));
    }
  }
  CopyOut(formatted, text, capacity);
}

int nio_find_dev(DitMapping& mapping, const char* name) {
  DeviceLocation location;
  return FindDevice(mapping, name, location) ? 1 : 0;
}

}  // namespace vrt
