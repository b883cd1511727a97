#include "opc_arguments.h"

#include "opc_quality.h"

#include <algorithm>
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

// "0", "1000": digits only, no sign, and small enough for a DWORD.
std::optional<std::uint32_t> WholeNumber(const std::string& text) {
  std::uint32_t number = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, number);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) return std::nullopt;
  return number;
}

// "0", "2.5", "100": a plain decimal number from 0 to 100.
std::optional<float> Percentage(const std::string& text) {
  float number = 0.0f;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, number, std::chars_format::fixed);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) return std::nullopt;
  if (!(number >= 0.0f && number <= 100.0f)) return std::nullopt;  // also refuses NaN
  return number + 0.0f;  // "-0" as 0
}

// Days from 1970-01-01 to the date in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool LeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// A run of exactly `width` digits at `at`.
std::optional<unsigned> Digits(const std::string& text, std::size_t at, std::size_t width) {
  if (at + width > text.size()) return std::nullopt;
  unsigned number = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    number = number * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return number;
}

template <typename Real>
std::string ShortestText(Real value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace

std::optional<std::uint64_t> FileTimeOfText(const std::string& text) {
  // YYYY-MM-DDTHH:MM:SS, then optionally .f to .fffffff
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') ||
      text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  static const unsigned kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*year < 1601 || *month < 1 || *month > 12 || *day < 1) return std::nullopt;
  const unsigned monthDays = kMonthDays[*month - 1] + (*month == 2 && LeapYear(*year) ? 1 : 0);
  if (*day > monthDays || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  std::uint64_t fraction = 0;  // in 100 ns steps
  if (text.size() > 19) {
    const std::size_t places = text.size() - 20;
    if (text[19] != '.' || places < 1 || places > 7) return std::nullopt;
    const auto digits = Digits(text, 20, places);
    if (!digits) return std::nullopt;
    fraction = *digits;
    for (std::size_t i = places; i < 7; ++i) fraction *= 10;
  }
  constexpr std::int64_t kDays1601To1970 = 134774;
  const auto days = static_cast<std::uint64_t>(DaysFromCivil(*year, *month, *day) + kDays1601To1970);
  const std::uint64_t seconds = days * 86400 + *hour * 3600ull + *minute * 60ull + *second;
  return seconds * 10000000ull + fraction;
}

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
  opc watch ITEMID... [--rate MS] [--deadband P] [--seconds S] [--da1] [--type T]
                                      subscribe to the items and print every
                                      value the server sends, for S seconds
                                      (0, the default: until Ctrl-C)
  opc browse [DEVICE] [--filter F] [--flat]
                                      the devices, or the poll records of a
                                      device with their item IDs
  opc props ITEMID                    the item's properties and their values

OPC DA 3.0:
  opc browse3 [BRANCH] [--max N] [--props]
                                      every element below the root or the
                                      branch (IOPCBrowse), following the
                                      continuation points in pages of N
  opc read ITEMID... --max-age MS     read by item ID (IOPCItemIO) with a
                                      maximum age: 0 from the device,
                                      4294967295 from the cache
  opc write ITEMID VALUE --vqt [--quality Q] [--time T] [--type T]
                                      write by item ID (IOPCItemIO::WriteVQT),
                                      with a quality and a time stamp if given
  opc watch ITEMID... --keep-alive MS ...
                                      watch with a keep-alive time
  opc deadband ITEMID PERCENT         set the item's own percent deadband
  opc --help

Every command also takes
  --sta                               run in a single-threaded apartment, as
                                      clients with a user interface do: the
                                      calls and callbacks go through the
                                      proxies (OPCProxy.dll, opccomn_ps.dll)
                                      and a message loop
  --local-server                      create the server out of process, in
                                      the system's surrogate (its AppID's
                                      DllSurrogate), instead of in this one

T is EMPTY, BOOL, I2, I4, R4, R8 or BSTR. For items, read and watch it is
the type the values are requested in (EMPTY, the default: the item's own
type). For write the value travels as text (BSTR) and the server converts
it; with a type other than EMPTY it is converted here first, in the
invariant locale (so "12.5" with a decimal point).

read prints ITEMID = VALUE TYPE QUALITY [Q] TIME per item, for example
  PUMPS:DIT:0 = 12.5 R4 good [192] 2026-12-08 14:00:00.123
with the time stamp in local time. A failed item prints
ITEMID: error 0x........ and the server's text.

watch adds the items to a group with the update rate MS (default 1000; 0
asks for the fastest the server offers) and the percent deadband P (0 to
100, default 0), and prints a line as read does for every value the server
sends. The values come to an IOPCDataCallback, or with --da1 as data
streams with time stamps to an IAdviseSink.

browse without DEVICE lists the devices (with --filter, those the server's
filter F takes). With DEVICE it lists the device's poll records as
ITEMID  (NAME). --flat lists every name below the root or the device as
the server gives it.

props prints ID DESCRIPTION = VALUE per property, or
ID DESCRIPTION: error 0x........ and the server's text.

browse3 prints NAME  item ITEMID, NAME  branch or NAME  branch, item ITEMID
per element, and with --props the item's properties with their values
below it, indented. With --max each page starts with a line
"page K: N elements".

read --max-age takes the value from the cache when it is no older than MS,
else from the device; it does not go with --device or --type (IOPCItemIO
reads in the item's own type).

write --vqt: Q is the quality as a number (192 is good), T the time stamp
in UTC as 2026-12-08T14:00:00 or 2026-12-08T14:00:00.123. The server may
refuse a quality or time stamp (OPC_E_NOTSUPPORTED).

watch --keep-alive MS asks the server for a callback at least every MS
milliseconds while nothing changes; it prints the revised time and a line
"keep-alive TIME" for each such callback.

deadband adds the item to a group, sets its deadband (0 to 100) and prints
the deadband the server then reports; an item that is not analog has none
(OPC_E_DEADBANDNOTSUPPORTED).

Exit status: 0 done, 1 an item or call failed (or the server could not be
created), 2 usage.
)";
}

std::optional<OpcArguments> ParseOpcArguments(const std::vector<std::string>& words, std::string& error) {
  static const std::map<std::string, OpcCommand> kCommands = {
      {"status", OpcCommand::kStatus}, {"read", OpcCommand::kRead},     {"write", OpcCommand::kWrite},
      {"items", OpcCommand::kItems},   {"watch", OpcCommand::kWatch},   {"browse", OpcCommand::kBrowse},
      {"props", OpcCommand::kProps},   {"browse3", OpcCommand::kBrowse3}, {"deadband", OpcCommand::kDeadband},
      {"--help", OpcCommand::kHelp},   {"-h", OpcCommand::kHelp},
      {"help", OpcCommand::kHelp}};
  // Each option, whether a value follows it, and the commands it belongs
  // to with the words that name them in the usage error.
  struct Option {
    bool takesValue;
    std::vector<OpcCommand> commands;
    const char* belongsTo;
  };
  static const std::vector<OpcCommand> kEveryCommand = {
      OpcCommand::kStatus, OpcCommand::kRead,  OpcCommand::kWrite,   OpcCommand::kItems,   OpcCommand::kWatch,
      OpcCommand::kBrowse, OpcCommand::kProps, OpcCommand::kBrowse3, OpcCommand::kDeadband};
  static const std::map<std::string, Option> kOptions = {
      {"--device", {false, {OpcCommand::kRead}, "read"}},
      {"--type",
       {true, {OpcCommand::kItems, OpcCommand::kRead, OpcCommand::kWrite, OpcCommand::kWatch},
        "items, read, write and watch"}},
      {"--rate", {true, {OpcCommand::kWatch}, "watch"}},
      {"--deadband", {true, {OpcCommand::kWatch}, "watch"}},
      {"--seconds", {true, {OpcCommand::kWatch}, "watch"}},
      {"--da1", {false, {OpcCommand::kWatch}, "watch"}},
      {"--filter", {true, {OpcCommand::kBrowse}, "browse"}},
      {"--flat", {false, {OpcCommand::kBrowse}, "browse"}},
      {"--max", {true, {OpcCommand::kBrowse3}, "browse3"}},
      {"--props", {false, {OpcCommand::kBrowse3}, "browse3"}},
      {"--max-age", {true, {OpcCommand::kRead}, "read"}},
      {"--vqt", {false, {OpcCommand::kWrite}, "write"}},
      {"--quality", {true, {OpcCommand::kWrite}, "write --vqt"}},
      {"--time", {true, {OpcCommand::kWrite}, "write --vqt"}},
      {"--keep-alive", {true, {OpcCommand::kWatch}, "watch"}},
      {"--sta", {false, kEveryCommand, "every command"}},
      {"--local-server", {false, kEveryCommand, "every command"}},
  };
  OpcArguments arguments;
  if (words.empty()) return arguments;
  const auto command = kCommands.find(words[0]);
  if (command == kCommands.end()) {
    error = "unknown command \"" + words[0] + "\"";
    return std::nullopt;
  }
  arguments.command = command->second;
  std::vector<std::string> given;  // options in the order they came
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
    const auto option = kOptions.find(word);
    if (option == kOptions.end()) {
      error = "unknown option " + word;
      return std::nullopt;
    }
    given.push_back(word);
    if (!option->second.takesValue) {
      if (word == "--device") arguments.device = true;
      if (word == "--da1") arguments.da1 = true;
      if (word == "--flat") arguments.flat = true;
      if (word == "--sta") arguments.sta = true;
      if (word == "--local-server") arguments.localServer = true;
      if (word == "--props") arguments.properties = true;
      if (word == "--vqt") arguments.vqt = true;
      continue;
    }
    if (i + 1 >= words.size()) {
      error = word + " needs a value";
      return std::nullopt;
    }
    const std::string& value = words[++i];
    if (word == "--type") {
      const auto type = VarTypeOfName(value);
      if (!type) {
        error = "unknown type \"" + value + "\" (EMPTY, BOOL, I2, I4, R4, R8 or BSTR)";
        return std::nullopt;
      }
      arguments.requestedType = *type;
    } else if (word == "--rate") {
      const auto rate = WholeNumber(value);
      if (!rate) {
        error = "--rate needs a whole number of milliseconds (0 or more), not \"" + value + "\"";
        return std::nullopt;
      }
      arguments.updateRate = *rate;
    } else if (word == "--seconds") {
      const auto seconds = WholeNumber(value);
      if (!seconds) {
        error = "--seconds needs a whole number of seconds (0 or more), not \"" + value + "\"";
        return std::nullopt;
      }
      arguments.seconds = *seconds;
    } else if (word == "--deadband") {
      const auto deadband = Percentage(value);
      if (!deadband) {
        error = "--deadband needs a percentage from 0 to 100, not \"" + value + "\"";
        return std::nullopt;
      }
      arguments.deadband = *deadband;
    } else if (word == "--max" || word == "--max-age" || word == "--keep-alive") {
      const auto number = WholeNumber(value);
      if (!number || (word == "--max" && *number == 0)) {
        error = word + (word == "--max" ? " needs a whole number of elements (1 or more)"
                                        : " needs a whole number of milliseconds (0 to 4294967295)") +
                ", not \"" + value + "\"";
        return std::nullopt;
      }
      if (word == "--max") arguments.maxElements = *number;
      if (word == "--max-age") arguments.maxAge = *number;
      if (word == "--keep-alive") arguments.keepAlive = *number;
    } else if (word == "--quality") {
      const auto quality = WholeNumber(value);
      if (!quality || *quality > 0xFFFF) {
        error = "--quality needs a whole number from 0 to 65535 (192 is good), not \"" + value + "\"";
        return std::nullopt;
      }
      arguments.quality = static_cast<std::uint16_t>(*quality);
    } else if (word == "--time") {
      arguments.timeStamp = FileTimeOfText(value);
      if (!arguments.timeStamp) {
        error = "--time needs a UTC time as 2026-12-08T14:00:00[.123], not \"" + value + "\"";
        return std::nullopt;
      }
    } else {
      arguments.filter = value;
    }
  }
  for (const std::string& word : given) {
    const Option& option = kOptions.at(word);
    bool belongs = false;
    for (const OpcCommand owner : option.commands) belongs = belongs || owner == arguments.command;
    if (!belongs) {
      error = word + " belongs to " + option.belongsTo;
      return std::nullopt;
    }
  }
  if (arguments.flat && std::find(given.begin(), given.end(), "--filter") != given.end()) {
    error = "--filter does not go with --flat, which lists every name";
    return std::nullopt;
  }
  const auto givenOption = [&given](const char* name) {
    return std::find(given.begin(), given.end(), name) != given.end();
  };
  if (arguments.maxAge && (arguments.device || givenOption("--type"))) {
    error = std::string("--max-age does not go with ") + (arguments.device ? "--device" : "--type") +
            ": the age decides where the value comes from, in the item's own type";
    return std::nullopt;
  }
  if ((arguments.quality || arguments.timeStamp) && !arguments.vqt) {
    error = std::string(arguments.quality ? "--quality" : "--time") + " needs --vqt";
    return std::nullopt;
  }
  const std::size_t count = arguments.operands.size();
  if ((arguments.command == OpcCommand::kRead || arguments.command == OpcCommand::kItems ||
       arguments.command == OpcCommand::kWatch) &&
      count == 0) {
    error = "name at least one item ID";
    return std::nullopt;
  }
  if (arguments.command == OpcCommand::kWrite && count != 2) {
    error = "write takes an item ID and a value";
    return std::nullopt;
  }
  if (arguments.command == OpcCommand::kProps && count != 1) {
    error = "props takes one item ID";
    return std::nullopt;
  }
  if (arguments.command == OpcCommand::kBrowse && count > 1) {
    error = "browse takes at most one device name";
    return std::nullopt;
  }
  if (arguments.command == OpcCommand::kBrowse3 && count > 1) {
    error = "browse3 takes at most one branch";
    return std::nullopt;
  }
  if (arguments.command == OpcCommand::kDeadband) {
    if (count != 2) {
      error = "deadband takes an item ID and a percentage";
      return std::nullopt;
    }
    const auto percent = Percentage(arguments.operands[1]);
    if (!percent) {
      error = "deadband needs a percentage from 0 to 100, not \"" + arguments.operands[1] + "\"";
      return std::nullopt;
    }
    arguments.percent = *percent;
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
  switch (quality & OPC_STATUS_MASK) {
    case OPC_QUALITY_GOOD: return "good";
    case OPC_QUALITY_LOCAL_OVERRIDE: return "good, local override";
    case OPC_QUALITY_UNCERTAIN: return "uncertain";
    case OPC_QUALITY_LAST_USABLE: return "uncertain: last usable";
    case OPC_QUALITY_EGU_EXCEEDED: return "uncertain: EGU exceeded";
    case OPC_QUALITY_BAD: return "bad";
    case OPC_QUALITY_CONFIG_ERROR: return "bad: configuration error";
    case OPC_QUALITY_NOT_CONNECTED: return "bad: not connected";
    case OPC_QUALITY_DEVICE_FAILURE: return "bad: device failure";
    case OPC_QUALITY_SENSOR_FAILURE: return "bad: sensor failure";
    case OPC_QUALITY_LAST_KNOWN: return "bad: last known value";
    case OPC_QUALITY_COMM_FAILURE: return "bad: communication failure";
    case OPC_QUALITY_OUT_OF_SERVICE: return "bad: out of service";
    default: break;
  }
  // A sub-status we have no words for still tells good from uncertain; the
  // unused quality 10 is shown as bad, since nothing vouches for the value.
  switch (quality & OPC_QUALITY_MASK) {
    case OPC_QUALITY_GOOD: return "good";
    case OPC_QUALITY_UNCERTAIN: return "uncertain";
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

std::string ValueLine(const std::string& itemId, const std::string& value, std::uint16_t varType,
                      std::uint16_t quality, const std::string& time) {
  return itemId + " = " + value + " " + VarTypeName(varType) + " " + OpcQualityText(quality) + " [" +
         std::to_string(quality) + "] " + time;
}

std::string BrowsedLeafLine(const std::string& itemId, const std::string& name) {
  return itemId + "  (" + name + ")";
}

std::string BrowseElementLine(const std::string& name, const std::string& itemId, std::uint32_t flags) {
  constexpr std::uint32_t kHasChildren = 1, kIsItem = 2;
  std::string line = name + " ";
  if ((flags & kHasChildren) != 0) line += " branch";
  if ((flags & (kHasChildren | kIsItem)) == (kHasChildren | kIsItem)) line += ",";
  if ((flags & kIsItem) != 0) line += " item " + itemId;
  if ((flags & (kHasChildren | kIsItem)) == 0) line += " (neither branch nor item)";
  return line;
}

std::string KeepAliveLine(const std::string& time) { return "keep-alive " + time; }

std::string DeadbandResultLine(const std::string& itemId, float percent, std::uint32_t code, const std::string& text) {
  const std::string head = itemId + " deadband " + RealText(percent) + "%: ";
  if ((code & 0x80000000u) == 0) return head + "ok";
  return head + "error " + HresultText(code) + " " + TrimmedEnd(text);
}

std::string PropertyLine(std::uint32_t id, const std::string& description, const std::string& value) {
  return std::to_string(id) + " " + description + " = " + value;
}

std::string PropertyErrorLine(std::uint32_t id, const std::string& description, std::uint32_t code,
                              const std::string& text) {
  return ItemErrorLine(std::to_string(id) + " " + description, code, text);
}

}  // namespace vrt::tool
