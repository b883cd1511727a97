#include "nio_arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

namespace vrt::tool {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::optional<long> ParseInteger(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

}  // namespace

const char* NioUsage() {
  return R"(nio - read, write and watch the points of the running Tavex driver

Usage:
  nio list [DEVICE...]            devices and their poll records
  nio read ADDRESS... [POINT]     read points once
  nio write ADDRESS VALUE [POINT] request a write
  nio watch ADDRESS... [POINT] [--seconds N] [--interval MS]
                                  print every change with its quality
  nio messages [--follow] [--seconds N]
                                  the driver's last 64 messages (and new ones)
  nio stats [CHANNEL] [--reset]   channel statistics (channels count from 1)
  nio status                      server identification and whether it is alive
  nio --help

An ADDRESS is DEVICE:DIT:REGISTER, DEVICE:EVENT:REGISTER, or with a bit
DEVICE:DIT:REGISTER:BIT (digital). Any of : ; , . / \ and blank separate.

POINT options:
  --kind analog|digital|text      value kind (default: digital when the
                                  address has a bit, else analog)
  --sig NAME                      signal conditioning: NONE LIN 3BCD 4BCD
                                  12BN 12AL 15BN 15AL 4maL 4maS 16SQ
                                  (default: the raw register)
  --egu LOW:HIGH                  engineering units range (default 0:100)
  --decimals N                    decimals kept by LIN (default 2)
  --options TEXT                  hardware options, e.g. 100:4000
  --offset N                      element offset

A digital VALUE is 1/0, on/off or true/false; a text VALUE is written as it
is. Quality: 192 good, 84 uncertain (EGU units exceeded), 24 bad
(communication failure), 28 bad (out of service).

Loading the library attaches to the driver's image and starts the driver
(DriverExe) when none runs. Exit status: 0 done, 1 a point or call failed,
2 usage or the library could not be loaded.
)";
}

std::optional<NioArguments> ParseNioArguments(const std::vector<std::string>& words, std::string& error) {
  static const std::map<std::string, NioCommand> kCommands = {
      {"list", NioCommand::kList},   {"read", NioCommand::kRead},         {"write", NioCommand::kWrite},
      {"watch", NioCommand::kWatch}, {"messages", NioCommand::kMessages}, {"stats", NioCommand::kStats},
      {"status", NioCommand::kStatus}, {"--help", NioCommand::kHelp},     {"-h", NioCommand::kHelp},
      {"help", NioCommand::kHelp}};
  NioArguments arguments;
  if (words.empty()) return arguments;
  const auto command = kCommands.find(words[0]);
  if (command == kCommands.end()) {
    error = "unknown command \"" + words[0] + "\"";
    return std::nullopt;
  }
  arguments.command = command->second;
  bool pointOptions = false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "-h") {
      arguments.command = NioCommand::kHelp;
      return arguments;
    }
    if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
      arguments.operands.push_back(word);
      continue;
    }
    if (word == "--follow") {
      arguments.follow = true;
      continue;
    }
    if (word == "--reset") {
      arguments.reset = true;
      continue;
    }
    if (i + 1 >= words.size()) {
      error = word + " needs a value";
      return std::nullopt;
    }
    const std::string& value = words[++i];
    const std::string bad = "bad value \"" + value + "\" for " + word;
    if (word == "--kind") {
      const std::string kind = Lower(value);
      if (kind == "analog") {
        arguments.point.valueKind = 1;
      } else if (kind == "digital") {
        arguments.point.valueKind = 2;
      } else if (kind == "text") {
        arguments.point.valueKind = 3;
      } else {
        error = bad;
        return std::nullopt;
      }
      pointOptions = true;
    } else if (word == "--sig") {
      arguments.point.signalConditioning = value;
      pointOptions = true;
    } else if (word == "--options") {
      arguments.point.hardwareOptions = value;
      pointOptions = true;
    } else if (word == "--egu") {
      const std::size_t colon = value.find(':', 1);
      const auto low = colon == std::string::npos ? std::nullopt : ParseNumber(value.substr(0, colon));
      const auto high = colon == std::string::npos ? std::nullopt : ParseNumber(value.substr(colon + 1));
      if (!low || !high) {
        error = bad;
        return std::nullopt;
      }
      arguments.point.eguLow = static_cast<float>(*low);
      arguments.point.eguHigh = static_cast<float>(*high);
      pointOptions = true;
    } else if (word == "--decimals" || word == "--offset" || word == "--interval") {
      const auto number = ParseInteger(value);
      const bool inRange = number && (word == "--decimals"   ? *number >= 0 && *number <= 9
                                      : word == "--offset" ? *number >= -32768 && *number <= 32767
                                                           : *number >= 1 && *number <= 60000);
      if (!inRange) {
        error = bad;
        return std::nullopt;
      }
      if (word == "--decimals") arguments.point.decimals = static_cast<std::uint8_t>(*number);
      if (word == "--offset") arguments.point.elementOffset = static_cast<std::int16_t>(*number);
      if (word == "--interval") arguments.intervalMs = static_cast<int>(*number);
      pointOptions = word != "--interval";
    } else if (word == "--seconds") {
      const auto number = ParseNumber(value);
      if (!number || *number < 0) {
        error = bad;
        return std::nullopt;
      }
      arguments.seconds = *number;
    } else {
      error = "unknown option " + word;
      return std::nullopt;
    }
  }
  const bool takesPoints = arguments.command == NioCommand::kRead || arguments.command == NioCommand::kWrite ||
                           arguments.command == NioCommand::kWatch;
  if (pointOptions && !takesPoints) {
    error = "point options belong to read, write and watch";
    return std::nullopt;
  }
  const std::size_t count = arguments.operands.size();
  if ((arguments.command == NioCommand::kRead || arguments.command == NioCommand::kWatch) && count == 0) {
    error = "name at least one address";
    return std::nullopt;
  }
  if (arguments.command == NioCommand::kWrite && count != 2) {
    error = "write takes an address and a value";
    return std::nullopt;
  }
  if (arguments.command == NioCommand::kStats && count > 1) {
    error = "stats takes at most one channel";
    return std::nullopt;
  }
  if (arguments.command == NioCommand::kStats && count == 1) {
    const auto channel = ParseInteger(arguments.operands[0]);
    if (!channel || *channel < 1 || *channel > 255) {
      error = "bad channel \"" + arguments.operands[0] + "\"";
      return std::nullopt;
    }
  }
  if ((arguments.command == NioCommand::kMessages || arguments.command == NioCommand::kStatus) && count != 0) {
    error = "unexpected \"" + arguments.operands[0] + "\"";
    return std::nullopt;
  }
  return arguments;
}

std::string QualityText(std::uint16_t quality) {
  switch (quality & 0xFC) {
    case 192: return "good";
    case 84: return "uncertain: EGU units exceeded";
    case 24: return "bad: communication failure";
    case 28: return "bad: out of service";
    default: break;
  }
  if ((quality & 0xC0) == 0x40) return "uncertain";
  return "bad";
}

std::string StatusText(std::uint16_t status) {
  switch (status) {
    case 0: return "ok";
    case 100: return "enumeration failed";
    case 510: return "unsupported value kind or channel";
    case 514: return "address error";
    case 516: return "signal conditioning name rejected";
    case 519: return "value does not fit the point";
    case 520: return "registered";
    case 521: return "change notification disabled for the record";
    case 522: return "entry already owned";
    default: return "status " + std::to_string(status);
  }
}

std::optional<bool> ParseDigital(const std::string& text) {
  const std::string word = Lower(text);
  if (word == "1" || word == "on" || word == "true") return true;
  if (word == "0" || word == "off" || word == "false") return false;
  return std::nullopt;
}

std::optional<double> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

void KeyOfPoint(int point, std::uint8_t (&key)[4]) {
  key[0] = static_cast<std::uint8_t>(point % 255 + 1);
  key[1] = 0;
  key[2] = static_cast<std::uint8_t>(point & 0xFF);
  key[3] = static_cast<std::uint8_t>((point >> 8) & 0xFF);
}

int PointOfKey(const std::uint8_t* key, int pointCount) {
  const int point = key[2] | (key[3] << 8);
  if (point >= pointCount || key[0] != point % 255 + 1) return -1;
  return point;
}

}  // namespace vrt::tool
