// The NIO library's texts from its clients, over the tests' plant: address
// texts (nio_paddr and back with nio_daddr), signal-conditioning names
// (nio_psig, nio_dsig), hardware options (nio_popt, nio_dopt) and device
// names (nio_find_dev). A refused address leaves the client's records as
// they were; an accepted one resolves to a poll record that holds it and
// formats to a text that parses to the same point; names and options read
// back to what they set.
//
// Input: the value kind, a signal-conditioning code, then lines: the
// address, the signal name, the options text and a device name.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "dit_codes.h"
#include "fuzz_check.h"
#include "nio_addressing.h"
#include "nio_plant.h"

namespace {

using namespace vrt;

constexpr std::uint8_t kKinds[] = {kValueKindAnalog, kValueKindDigital, kValueKindText, kValueKindFromAddress};

struct Point : NioPoint {
  Point() { valueSpec.eguSpan = 100.0f; }
};

bool SameRecords(const Point& a, const Point& b) {
  return std::memcmp(&a.address, &b.address, sizeof a.address) == 0 &&
         std::memcmp(&a.deviceText, &b.deviceText, sizeof a.deviceText) == 0 &&
         std::memcmp(&a.valueSpec, &b.valueSpec, sizeof a.valueSpec) == 0;
}

// nio_daddr into `capacity` bytes with a guard byte after them.
std::string Format(DitMapping& mapping, Point& point, std::size_t capacity) {
  std::vector<char> text(capacity + 1, '#');
  std::uint16_t status = 0xEEEE;
  nio_daddr(mapping, &status, &point.block, &point.valueSpec, capacity == 0 ? nullptr : text.data(), capacity);
  VRT_FUZZ_CHECK(status == kNioOk, "formatting an address failed");
  VRT_FUZZ_CHECK(text[capacity] == '#', "nio_daddr wrote past its capacity");
  if (capacity == 0) return {};
  VRT_FUZZ_CHECK(std::memchr(text.data(), '\0', capacity) != nullptr, "nio_daddr left its text unterminated");
  return text.data();
}

void CheckAddress(DitMapping& mapping, const std::string& address, std::uint8_t kind) {
  Point point;
  std::uint16_t status = 0xEEEE;
  nio_paddr(mapping, &status, &point.block, &point.valueSpec, "PUMP1:DIT:120");
  VRT_FUZZ_CHECK(status == kNioOk, "the plant's first point does not parse");
  point.address.registerWord |= 0xABC00000u;  // the client's own bits
  point.valueSpec.valueKind = kind;
  const Point before = point;

  nio_paddr(mapping, &status, &point.block, &point.valueSpec, address.c_str());
  VRT_FUZZ_CHECK(status == kNioOk || status == kNioAddressError, "nio_paddr gave another status");
  if (status != kNioOk) {
    VRT_FUZZ_CHECK(SameRecords(point, before), "a refused address changed the client's records");
    return;
  }
  VRT_FUZZ_CHECK((point.address.registerWord & 0xFFF00000u) == 0xABC00000u, "a parse took the client's own bits");
  if (address.c_str()[0] == '\0') {
    VRT_FUZZ_CHECK(DeviceNumberOf(point.address) == kUndefinedDevice, "an empty address left a device");
    VRT_FUZZ_CHECK(ResolveAddress(mapping, &point.block) == -1, "an empty address resolved");
    return;
  }
  const std::uint8_t parsedKind = point.valueSpec.valueKind;
  if (kind == kValueKindFromAddress) {
    VRT_FUZZ_CHECK(parsedKind == kValueKindAnalog || parsedKind == kValueKindDigital, "kind 5 was not decided");
  } else {
    VRT_FUZZ_CHECK(parsedKind == kind, "a parse changed an explicit kind");
  }

  // The point resolves to a poll record of its device that holds it.
  const int index = ResolveAddress(mapping, &point.block);
  VRT_FUZZ_CHECK(index >= 0 && index == ResolvedIndexOf(point.address), "an accepted address does not resolve");
  const DitImage& image = mapping.Image();
  const DitPollRecord* record = image.PollRecord(index);
  VRT_FUZZ_CHECK(record != nullptr, "an accepted address resolved to no poll record");
  const int start = StartAddressOf(record->addressWord);
  VRT_FUZZ_CHECK(RegisterOf(point.address) >= start && RegisterOf(point.address) < start + record->length &&
                     PollKindOf(record->addressWord) == PointPollKindOf(point.address),
                 "an address resolved to a record that does not hold it");
  const DitDevice* device = image.Device(record->deviceIndex);
  VRT_FUZZ_CHECK(device != nullptr && DeviceName(*device, image.Header()->formatVersion) == point.deviceText.deviceName,
                 "an address resolved to another device's record");

  // Formatted and parsed again: the same point.
  const std::string text = Format(mapping, point, 64);
  for (std::size_t capacity : {std::size_t{0}, std::size_t{1}, std::size_t{6}, text.size(), text.size() + 1}) {
    const std::string cut = Format(mapping, point, capacity);
    VRT_FUZZ_CHECK(text.compare(0, cut.size(), cut) == 0, "a shorter capacity gave another text");
  }
  Point again;
  again.valueSpec.valueKind = parsedKind;
  nio_paddr(mapping, &status, &again.block, &again.valueSpec, text.c_str());
  VRT_FUZZ_CHECK(status == kNioOk, "a formatted address does not parse");
  if (parsedKind == kValueKindDigital) {
    VRT_FUZZ_CHECK(BitOf(again.address) == BitOf(point.address), "a digital point came back with another bit");
  }
  VRT_FUZZ_CHECK(RegisterOf(again.address) == RegisterOf(point.address) &&
                     PointPollKindOf(again.address) == PointPollKindOf(point.address) &&
                     again.address.resolution == point.address.resolution &&
                     std::strcmp(again.deviceText.deviceName, point.deviceText.deviceName) == 0,
                 "a formatted address parses to another point");
}

void CheckSignal(const std::string& name) {
  Point point;
  std::uint16_t status = 0xEEEE;
  nio_psig(&status, &point.block, &point.valueSpec, name.c_str());
  VRT_FUZZ_CHECK(status == kNioOk || status == kNioSignalNameRejected, "nio_psig gave another status");
  const std::int16_t code = point.address.signalConditioning;
  char text[NIO_SIGNAL_NAME_SIZE + 1];
  std::memset(text, '#', sizeof text);
  nio_dsig(&status, &point.block, &point.valueSpec, text, NIO_SIGNAL_NAME_SIZE);
  VRT_FUZZ_CHECK(text[NIO_SIGNAL_NAME_SIZE] == '#', "nio_dsig wrote past its capacity");
  VRT_FUZZ_CHECK(std::memchr(text, '\0', NIO_SIGNAL_NAME_SIZE) != nullptr, "nio_dsig left its text unterminated");
  Point again;
  nio_psig(&status, &again.block, &again.valueSpec, text);
  VRT_FUZZ_CHECK(again.address.signalConditioning == code, "a signal name does not read back to its code");
}

void CheckOptions(const std::string& options, std::int16_t code, std::uint8_t kind) {
  Point point;
  point.valueSpec.valueKind = kind;
  point.address.signalConditioning = code;
  point.address.optionWord = 0x5A5A;
  std::uint16_t status = 0xEEEE;
  const NioDeviceText before = point.deviceText;
  nio_popt(&status, &point.block, &point.valueSpec, options.c_str());
  VRT_FUZZ_CHECK(status == kNioOk && point.address.optionWord == 0, "nio_popt failed or kept the option word");
  if (kind != kValueKindAnalog) {
    VRT_FUZZ_CHECK(std::memcmp(&before, &point.deviceText, sizeof before) == 0, "options taken for a non-analog point");
  }
  char text[NIO_OPTION_TEXT_SIZE + 1];
  std::memset(text, '#', sizeof text);
  nio_dopt(&status, &point.block, &point.valueSpec, text, NIO_OPTION_TEXT_SIZE);
  VRT_FUZZ_CHECK(text[NIO_OPTION_TEXT_SIZE] == '#', "nio_dopt wrote past its capacity");
  VRT_FUZZ_CHECK(std::memchr(text, '\0', NIO_OPTION_TEXT_SIZE) != nullptr, "nio_dopt left its text unterminated");
  if (kind == kValueKindAnalog && (code == 15 || code == 16 || code == 17)) {
    Point again;
    again.valueSpec.valueKind = kind;
    again.address.signalConditioning = code;
    nio_popt(&status, &again.block, &again.valueSpec, text);
    VRT_FUZZ_CHECK(again.deviceText.optionLow == point.deviceText.optionLow &&
                       again.deviceText.optionHigh == point.deviceText.optionHigh,
                   "hardware options do not read back");
  }
}

void CheckDevice(DitMapping& mapping, const std::string& name) {
  DeviceLocation location;
  const bool found = FindDevice(mapping, name.c_str(), location);
  VRT_FUZZ_CHECK(found == (nio_find_dev(mapping, name.c_str()) == 1), "nio_find_dev disagrees with the lookup");
  if (!found) return;
  const DitImage& image = mapping.Image();
  const DitDevice* device = image.Device(location.index);
  std::string upper = name.c_str();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  VRT_FUZZ_CHECK(device != nullptr && DeviceName(*device, image.Header()->formatVersion) == upper,
                 "a device was found under another name");
  VRT_FUZZ_CHECK(mapping.ChannelDeviceIndex(location.channel, location.number) == location.index,
                 "a found device is not where its location says");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DitMapping& mapping = fuzz::Plant().Client();
  fuzz::InputReader input(data, size);
  const std::uint8_t kind = kKinds[input.Byte() % sizeof kKinds];
  const auto code = static_cast<std::int16_t>(static_cast<std::int8_t>(input.Byte()));
  const std::string address = input.Line();
  const std::string signal = input.Line();
  const std::string options = input.Line();
  const std::string device = input.Line();

  CheckAddress(mapping, address, kind);
  CheckSignal(signal);
  CheckOptions(options, code, kValueKindAnalog);
  CheckOptions(options, code, kind);
  CheckDevice(mapping, device);
  for (const std::string* text : {&address, &signal, &options, &device}) {
    fuzz::Keep(static_cast<std::uint32_t>(ParseDecimal(text->c_str())));
  }
  return 0;
}
