#include "opc_arguments.h"

#include <charconv>
#include <cstdio>
#include <map>

namespace vrt::tool {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return text;
}

std::string TrimmedEnd(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
    text.pop_back();
  }
  return text;
}

template <typename Real>
std::string ShortestText(Real value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace

const char* OpcUsage() {
  return R"(opc - the OPC DA server Kalvento.Tavex from the command line

Usage:
  opc status                          the server's state, vendor, start time,
                                      group count, bandwidth and version
  opc items ITEMID... [--type T]      add the items to a group: handle, type
                                      and access rights (3 = read and write)
  opc read ITEMID... [--device] [--type T]
                                      read once, from the server's cache or
                                      with --device from the device
  opc write ITEMID VALUE [--type T]   write a value
  opc --help

T is EMPTY, BOOL, I2, I4, R4, R8 or BSTR. For items and read it is the type
the values are requested in (EMPTY, the default: the item's own type). For
write the value travels as text (BSTR) and the server converts it; with a
type other than EMPTY it is converted here first, in the invariant locale
(so "12.5" with a decimal point).

read prints ITEMID = VALUE TYPE QUALITY [Q] TIME per item, for example
  PUMPS:DIT:0 = 12.5 R4 good [192] 2026-12-08 14:00:00.123
with the time stamp in local time. A failed item prints
ITEMID: error 0x........ and the server's text.

Exit status: 0 done, 1 an item or call failed (or the server could not be
created), 2 usage.
)";
}

std::optional<OpcArguments> ParseOpcArguments(const std::vector<std::string>& words, std::string& error) {
  static const std::map<std::string, OpcCommand> kCommands = {
      {"status", OpcCommand::kStatus}, {"read", OpcCommand::kRead}, {"write", OpcCommand::kWrite},
      {"items", OpcCommand::kItems},   {"--help", OpcCommand::kHelp}, {"-h", OpcCommand::kHelp},
      {"help", OpcCommand::kHelp}};
  OpcArguments arguments;
  if (words.empty()) return arguments;
  const auto command = kCommands.find(words[0]);
  if (command == kCommands.end()) {
    error = "unknown command \"" + words[0] + "\"";
    return std::nullopt;
  }
  arguments.command = command->second;
  bool typeGiven = false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "-h") {
      arguments.command = OpcCommand::kHelp;
      return arguments;
    }
    // A negative number to write starts with a single dash and is a value.
    if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
      arguments.operands.push_back(word);
      continue;
    }
    if (word == "--device") {
      arguments.device = true;
      continue;
    }
    if (word != "--type") {
      error = "unknown option " + word;
      return std::nullopt;
    }
    if (i + 1 >= words.size()) {
      error = "--type needs a value";
      return std::nullopt;
    }
    const std::string& name = words[++i];
    const auto type = VarTypeOfName(name);
    if (!type) {
      error = "unknown type \"" + name + "\" (EMPTY, BOOL, I2, I4, R4, R8 or BSTR)";
      return std::nullopt;
    }
    arguments.requestedType = *type;
    typeGiven = true;
  }
  if (arguments.device && arguments.command != OpcCommand::kRead) {
    error = "--device belongs to read";
    return std::nullopt;
  }
  if (typeGiven && arguments.command == OpcCommand::kStatus) {
    error = "--type belongs to items, read and write";
    return std::nullopt;
  }
  const std::size_t count = arguments.operands.size();
  if ((arguments.command == OpcCommand::kRead || arguments.command == OpcCommand::kItems) && count == 0) {
    error = "name at least one item ID";
    return std::nullopt;
  }
  if (arguments.command == OpcCommand::kWrite && count != 2) {
    error = "write takes an item ID and a value";
    return std::nullopt;
  }
  if (arguments.command == OpcCommand::kStatus && count != 0) {
    error = "unexpected \"" + arguments.operands[0] + "\"";
    return std::nullopt;
  }
  return arguments;
}

std::optional<std::uint16_t> VarTypeOfName(const std::string& name) {
  static const std::map<std::string, std::uint16_t> kTypes = {{"EMPTY", 0}, {"BOOL", 11}, {"I2", 2}, {"I4", 3},
                                                              {"R4", 4},    {"R8", 5},    {"BSTR", 8}};
  const auto type = kTypes.find(Upper(name));
  if (type == kTypes.end()) return std::nullopt;
  return type->second;
}

std::string VarTypeName(std::uint16_t varType) {
  switch (varType) {
    case 0: return "EMPTY";
    case 2: return "I2";
    case 3: return "I4";
    case 4: return "R4";
    case 5: return "R8";
    case 8: return "BSTR";
    case 11: return "BOOL";
    default: return "VT " + std::to_string(varType);
  }
}

std::string OpcQualityText(std::uint16_t quality) {
  switch (quality & 0xFC) {
    case 0xC0: return "good";
    case 0xD8: return "good, local override";
    case 0x40: return "uncertain";
    case 0x44: return "uncertain: last usable";
    case 0x54: return "uncertain: EGU exceeded";
    case 0x00: return "bad";
    case 0x04: return "bad: configuration error";
    case 0x08: return "bad: not connected";
    case 0x0C: return "bad: device failure";
    case 0x10: return "bad: sensor failure";
    case 0x14: return "bad: last known value";
    case 0x18: return "bad: communication failure";
    case 0x1C: return "bad: out of service";
    default: break;
  }
  // A sub-status we have no words for still tells good from uncertain; the
  // unused quality 10 is shown as bad, since nothing vouches for the value.
  switch (quality & 0xC0) {
    case 0xC0: return "good";
    case 0x40: return "uncertain";
    default: return "bad";
  }
}

std::string HresultText(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

std::string ServerStateText(std::uint32_t state) {
  switch (state) {
    case 1: return "running";
    case 2: return "failed";
    case 3: return "no configuration";
    case 4: return "suspended";
    case 5: return "test";
    default: return "unknown (" + std::to_string(state) + ")";
  }
}

std::string RealText(float value) { return ShortestText(value); }
std::string RealText(double value) { return ShortestText(value); }

std::string ItemErrorLine(const std::string& itemId, std::uint32_t code, const std::string& text) {
  return itemId + ": error " + HresultText(code) + " " + TrimmedEnd(text);
}

std::string WriteResultLine(const std::string& itemId, const std::string& value, std::uint32_t code,
                            const std::string& text) {
  const std::string head = itemId + " <- " + value + ": ";
  if ((code & 0x80000000u) == 0) return head + "ok";
  return head + "error " + HresultText(code) + " " + TrimmedEnd(text);
}

}  // namespace vrt::tool
