// OPC item IDs: a driver address, optionally followed by "|" and the
// conditioning fields, or by "$" and the length of a text item. The parse
// fills the item's NIO point records through the NIO library's address,
// signal-conditioning and hardware-options parsers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "opc_results.h"
#include "opc_settings.h"
#include "vrtstsr_point.h"

namespace vrt::opc {

// Longest and shortest item IDs AddItems and ValidateItems accept (characters).
inline constexpr std::size_t kShortestItemId = 4;
inline constexpr std::size_t kLongestItemId = 64;
inline bool ItemIdLengthAccepted(std::size_t length) {
  return length >= kShortestItemId && length <= kLongestItemId;
}

inline constexpr std::size_t kUnitsLength = 4;
inline constexpr std::size_t kLabelLength = 7;
inline constexpr std::uint16_t kLongestText = 256;

// Canonical types of the item kinds (VARTYPE numbers).
inline constexpr std::uint16_t kTypeR4 = 4;
inline constexpr std::uint16_t kTypeBstr = 8;
inline constexpr std::uint16_t kTypeBool = 11;

// The item ID cut at its first "|" or "$"; a separator in the first
// position does not count.
struct ItemIdParts {
  std::string address;
  std::string fields;  // the text after the separator
  bool textSeparator = false;  // "$": a text item
};
std::string TrimBlanks(std::string_view text);
ItemIdParts SplitItemId(std::string_view trimmedId);

// The five conditioning fields of analog and digital items, defaults filled in.
struct ConditioningFields {
  std::string signalConditioning;
  std::string loEgu;  // digital: the open label
  std::string hiEgu;  // digital: the close label
  std::string hardwareOptions;
  std::string units;
};
ConditioningFields FillConditioningFields(std::string_view fields, bool digital, const OpcSettings& settings);

// The length of a text item from its fields; `defaultLength` without fields.
std::uint32_t TextLengthOf(std::string_view fields, std::uint16_t defaultLength);
// A decimal number as an EGU field holds it; text that is no number is 0.
float EguNumber(const std::string& text);
// Characters after the first "." of the LoEGU text.
std::uint8_t DecimalsOf(const std::string& loEgu);

// The NIO calls the parse makes, and the driver messages it sends.
class ItemParseHost {
 public:
  virtual ~ItemParseHost() = default;
  virtual std::uint16_t ParseAddress(NioBlock* block, NioValueSpec* valueSpec, const char* text) = 0;
  virtual std::uint16_t ParseSignalConditioning(NioBlock* block, NioValueSpec* valueSpec, const char* name) = 0;
  virtual std::uint16_t ParseHardwareOptions(NioBlock* block, NioValueSpec* valueSpec, const char* text) = 0;
  virtual void SendMessage(int attribute, const std::string& text) = 0;
};

// What the parse makes of an item ID.
struct ParsedItem {
  NioPoint point;  // address records and value spec (kind, span, low, decimals)
  std::uint16_t canonicalType = kTypeR4;
  std::uint16_t stringLength = 1;
  std::string units;       // analog items
  std::string openLabel;   // digital items
  std::string closeLabel;
  ParsedItem() {
    point.valueSpec.eguSpan = 100.0f;
    point.valueSpec.eguLow = 0.0f;
    point.valueSpec.decimals = 1;
  }
};

// Parses an item ID already converted to the ANSI code page and found not
// empty. Messages go out only when `reportMessages` (items of a group).
// Returns S_OK or OPC_E_INVALIDITEMID.
std::uint32_t ParseItemId(std::string_view ansiId, const OpcSettings& settings, ItemParseHost& host,
                          bool reportMessages, ParsedItem& item);

}  // namespace vrt::opc
