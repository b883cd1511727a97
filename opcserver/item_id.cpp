#include "item_id.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace vrt::opc {

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> SplitFields(std::string_view fields) {
  // At most five fields: the units are everything after the fourth ",".
  std::vector<std::string> result;
  std::size_t start = 0;
  while (result.size() < 4) {
    const std::size_t comma = fields.find(',', start);
    if (comma == std::string_view::npos) break;
    result.emplace_back(fields.substr(start, comma - start));
    start = comma + 1;
  }
  result.emplace_back(fields.substr(start));
  return result;
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

ItemIdParts SplitItemId(std::string_view trimmedId) {
  ItemIdParts parts;
  const std::size_t separator = trimmedId.find_first_of("|$");
  if (separator == std::string_view::npos || separator == 0) {
    parts.address = std::string(trimmedId);
    return parts;
  }
  parts.address = std::string(trimmedId.substr(0, separator));
  parts.fields = std::string(trimmedId.substr(separator + 1));
  parts.textSeparator = trimmedId[separator] == '$';
  return parts;
}

ConditioningFields FillConditioningFields(std::string_view fields, bool digital, const OpcSettings& settings) {
  ConditioningFields filled{settings.signalConditioning, settings.loEgu, settings.hiEgu, settings.hardwareOptions, {}};
  if (fields.empty()) {
    if (digital) {
      filled.loEgu = "OFF";
      filled.hiEgu = "ON";
    }
    return filled;
  }
  const std::vector<std::string> given = SplitFields(fields);
  const std::size_t count = given.size();
  // The last field given is taken as written; an empty earlier one keeps
  // its default. The hardware options keep theirs even when last.
  auto take = [&](std::size_t index, std::string& target, bool asWrittenWhenLast) {
    if (index >= count) return;
    if (!given[index].empty() || (asWrittenWhenLast && index == count - 1)) target = given[index];
  };
  take(0, filled.signalConditioning, false);
  take(1, filled.loEgu, true);
  take(2, filled.hiEgu, true);
  take(3, filled.hardwareOptions, false);
  if (count == 5) filled.units = given[4];
  return filled;
}

std::uint32_t TextLengthOf(std::string_view fields, std::uint16_t defaultLength) {
  if (fields.empty()) return defaultLength;
  std::uint32_t length = 0;
  for (char c : fields) {
    if (c < '0' || c > '9') break;
    // Stop counting once the length is plainly too long; it is refused anyway.
    if (length <= 100000) length = length * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return length;
}

float EguNumber(const std::string& text) { return static_cast<float>(std::strtod(text.c_str(), nullptr)); }

std::uint8_t DecimalsOf(const std::string& loEgu) {
  const std::size_t point = loEgu.find('.');
  if (point == std::string::npos) return 0;
  return static_cast<std::uint8_t>(std::min<std::size_t>(loEgu.size() - point - 1, 255));
}

std::uint32_t ParseItemId(std::string_view ansiId, const OpcSettings& settings, ItemParseHost& host,
                          bool reportMessages, ParsedItem& item) {
  NioValueSpec& valueSpec = item.point.valueSpec;
  valueSpec.valueKind = NIO_KIND_FROM_ADDRESS;
  item.canonicalType = kTypeR4;
  item.stringLength = 1;

  const std::string trimmed = TrimBlanks(ansiId);
  const ItemIdParts parts = SplitItemId(trimmed);
  if (parts.textSeparator) valueSpec.valueKind = NIO_KIND_TEXT;

  // The library takes an empty address as "no point yet"; an item must name one.
  if (parts.address.empty()) return kInvalidItemId;
  const std::string address = UpperCase(parts.address);
  if (host.ParseAddress(&item.point.block, &valueSpec, address.c_str()) != NIO_OK) return kInvalidItemId;
  switch (valueSpec.valueKind) {
    case NIO_KIND_DIGITAL: item.canonicalType = kTypeBool; break;
    case NIO_KIND_TEXT: item.canonicalType = kTypeBstr; break;
    default: item.canonicalType = kTypeR4; break;
  }

  if (valueSpec.valueKind == NIO_KIND_ANALOG || valueSpec.valueKind == NIO_KIND_DIGITAL) {
    const bool digital = valueSpec.valueKind == NIO_KIND_DIGITAL;
    const ConditioningFields fields = FillConditioningFields(parts.fields, digital, settings);
    item.stringLength = 1;
    if (digital) {
      item.openLabel = fields.loEgu.substr(0, kLabelLength);
      item.closeLabel = fields.hiEgu.substr(0, kLabelLength);
    } else {
      valueSpec.eguLow = EguNumber(fields.loEgu);
      valueSpec.eguSpan = EguNumber(fields.hiEgu) - valueSpec.eguLow;
      valueSpec.decimals = DecimalsOf(fields.loEgu);
      item.units = fields.units.substr(0, kUnitsLength);
      const std::string signal = UpperCase(fields.signalConditioning);
      if (host.ParseSignalConditioning(&item.point.block, &valueSpec, signal.c_str()) != NIO_OK) {
        if (reportMessages) host.SendMessage(kMessageFailure, BadSignalConditioningMessage(signal));
        return kInvalidItemId;
      }
    }
    if (!fields.hardwareOptions.empty() &&
        host.ParseHardwareOptions(&item.point.block, &valueSpec, fields.hardwareOptions.c_str()) != NIO_OK) {
      if (reportMessages) host.SendMessage(kMessageFailure, BadHardwareOptionsMessage(fields.hardwareOptions));
      return kInvalidItemId;
    }
    return kOk;
  }

  // Text items (and any other kind the address leaves): the length field.
  const std::string lengthField = parts.fields.substr(0, parts.fields.find(','));
  const std::uint32_t length = parts.fields.empty() ? settings.stringLength : TextLengthOf(lengthField, 0);
  if (length > kLongestText) return kInvalidItemId;
  item.stringLength = static_cast<std::uint16_t>(length);
  return kOk;
}

}  // namespace vrt::opc
