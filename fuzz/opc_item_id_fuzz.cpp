// OPC item IDs from clients, parsed over the NIO library's real parsers and
// the tests' plant, with the item defaults as the registry may hold them.
// An accepted item has a type that fits its kind, labels and units cut to
// their lengths, a text length the server can serve, and a point that
// resolves; messages go out only for items of a group; the same ID parses
// the same way twice.
//
// Input: a flag byte (bit 0: the item belongs to a group; bit 1: the lines
// after the ID are the item defaults), then lines: the item ID, and the
// defaults signal conditioning, LoEGU, HiEGU, hardware options and string
// length.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "item_id.h"
#include "nio_addressing.h"
#include "nio_plant.h"

namespace {

using namespace vrt;
using namespace vrt::opc;

class PlantParsers final : public ItemParseHost {
 public:
  explicit PlantParsers(DitMapping& mapping) : mapping_(mapping) {}
  std::uint16_t ParseAddress(NioBlock* block, NioValueSpec* valueSpec, const char* text) override {
    std::uint16_t status = 0xEEEE;
    nio_paddr(mapping_, &status, block, valueSpec, text);
    return status;
  }
  std::uint16_t ParseSignalConditioning(NioBlock* block, NioValueSpec* valueSpec, const char* name) override {
    std::uint16_t status = 0xEEEE;
    nio_psig(&status, block, valueSpec, name);
    return status;
  }
  std::uint16_t ParseHardwareOptions(NioBlock* block, NioValueSpec* valueSpec, const char* text) override {
    std::uint16_t status = 0xEEEE;
    nio_popt(&status, block, valueSpec, text);
    return status;
  }
  void SendMessage(int, const std::string& text) override {
    VRT_FUZZ_CHECK(!text.empty(), "an empty driver message");
    ++messages;
  }
  int messages = 0;

 private:
  DitMapping& mapping_;
};

// A registry string value: at most 99 characters, up to a zero.
std::string RegistryText(const std::string& line) {
  std::string text = line.c_str();
  return text.substr(0, 99);
}

bool SameItem(const ParsedItem& a, const ParsedItem& b) {
  return std::memcmp(&a.point.address, &b.point.address, sizeof a.point.address) == 0 &&
         std::memcmp(&a.point.deviceText, &b.point.deviceText, sizeof a.point.deviceText) == 0 &&
         std::memcmp(&a.point.valueSpec, &b.point.valueSpec, sizeof a.point.valueSpec) == 0 &&
         a.canonicalType == b.canonicalType && a.stringLength == b.stringLength && a.units == b.units &&
         a.openLabel == b.openLabel && a.closeLabel == b.closeLabel;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DitMapping& mapping = fuzz::Plant().Client();
  fuzz::InputReader input(data, size);
  const std::uint8_t flags = input.Byte();
  const bool inGroup = (flags & 1) != 0;
  // Item IDs arrive as zero-terminated wide strings and are converted to
  // the ANSI code page: no zero inside.
  const std::string id = input.Line().c_str();
  OpcSettings settings;
  if (flags & 2) {
    settings.signalConditioning = RegistryText(input.Line());
    settings.loEgu = RegistryText(input.Line());
    settings.hiEgu = RegistryText(input.Line());
    settings.hardwareOptions = RegistryText(input.Line());
    settings.stringLength = static_cast<std::uint16_t>(std::strtoul(input.Line().c_str(), nullptr, 10));
  }

  PlantParsers parsers(mapping);
  ParsedItem item;
  const std::uint32_t result = ParseItemId(id, settings, parsers, inGroup, item);
  VRT_FUZZ_CHECK(result == kOk || result == kInvalidItemId, "an item ID gave another result");
  if (!inGroup) VRT_FUZZ_CHECK(parsers.messages == 0, "a message went out for an item outside a group");

  PlantParsers quiet(mapping);
  ParsedItem again;
  VRT_FUZZ_CHECK(ParseItemId(id, settings, quiet, false, again) == result, "an item ID parsed differently twice");
  if (result != kOk) return 0;
  VRT_FUZZ_CHECK(SameItem(item, again), "an item ID gave another item the second time");

  const std::uint8_t kind = item.point.valueSpec.valueKind;
  switch (kind) {
    case NIO_KIND_ANALOG:
      VRT_FUZZ_CHECK(item.canonicalType == kTypeR4 && item.stringLength == 1, "an analog item of another type");
      VRT_FUZZ_CHECK(item.units.size() <= kUnitsLength, "units longer than their field");
      break;
    case NIO_KIND_DIGITAL:
      VRT_FUZZ_CHECK(item.canonicalType == kTypeBool && item.stringLength == 1, "a digital item of another type");
      VRT_FUZZ_CHECK(item.openLabel.size() <= kLabelLength && item.closeLabel.size() <= kLabelLength,
                     "labels longer than their field");
      break;
    case NIO_KIND_TEXT:
      VRT_FUZZ_CHECK(item.canonicalType == kTypeBstr, "a text item of another type");
      VRT_FUZZ_CHECK(item.stringLength <= kLongestText, "a text longer than the server serves");
      break;
    default: VRT_FUZZ_CHECK(false, "an accepted item of no kind");
  }
  NioPoint point = item.point;
  const int index = ResolveAddress(mapping, &point.block);
  VRT_FUZZ_CHECK(index >= 0 && index < mapping.PollRecordCount(), "an accepted item names no poll record");
  return 0;
}
