#include "network_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "dit_codes.h"
#include "json_reader.h"

namespace vrt::sim {

std::optional<int> HardwareTypeFromName(std::string_view name) {
  for (const CodeName& entry : kHardwareTypeCodes) {
    const std::string_view known = entry.name;
    if (known.size() == name.size() &&
        std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        })) {
      return entry.code;
    }
  }
  return std::nullopt;
}

std::string HardwareTypeName(int code) {
  const char* name = CodeNameOf(kHardwareTypeCodes, code);
  return name ? std::string(name) : std::to_string(code);
}

bool ParseWholeNumber(std::string_view text, std::int64_t* value) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 18) return false;
  std::int64_t result = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), result, base);
  if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) return false;
  *value = negative ? -result : result;
  return true;
}

namespace {

// Walks the JSON tree with the path of the value at hand, so that every
// message names the place in the file and the value's meaning.
class Reader {
 public:
  explicit Reader(std::string* error) : error_(error) {}

  bool Fail(const JsonValue& at, const std::string& path, const std::string& message) {
    JsonError error{at.position, path.empty() ? message : path + ": " + message};
    *error_ = error.ToString();
    return false;
  }

  bool Expect(const JsonValue& value, JsonValue::Kind kind, const std::string& path) {
    if (value.kind == kind) return true;
    return Fail(value, path, std::string("must be ") + JsonKindName(kind) + ", not " + JsonKindName(value.kind));
  }

  // Refuses members other than `known` (and "comment"), catching misspelt
  // names that would otherwise be silently ignored.
  bool OnlyMembers(const JsonValue& object, const std::string& path, std::initializer_list<std::string_view> known) {
    for (const auto& [name, value] : object.members) {
      if (name == "comment") continue;
      if (std::find(known.begin(), known.end(), name) == known.end()) {
        std::string list;
        for (std::string_view k : known) list += (list.empty() ? "" : ", ") + std::string(k);
        return Fail(value, path, "unknown member \"" + name + "\" (known: " + list + ")");
      }
    }
    return true;
  }

  bool Integer(const JsonValue& value, const std::string& path, std::int64_t low, std::int64_t high,
               std::int64_t* out) {
    if (value.kind != JsonValue::Kind::kNumber || !value.isInteger || value.integer < low || value.integer > high) {
      return Fail(value, path,
                  "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    *out = value.integer;
    return true;
  }

  bool Network(const JsonValue& root, NetworkSpec* network) {
    if (!Expect(root, JsonValue::Kind::kObject, "the network file")) return false;
    if (!OnlyMembers(root, "", {"control_port", "cards"})) return false;
    std::int64_t number = 0;
    if (const JsonValue* port = root.Find("control_port")) {
      if (!Integer(*port, "control_port", 0, 65535, &number)) return false;
      network->controlPort = static_cast<int>(number);
    }
    const JsonValue* cards = root.Find("cards");
    if (cards == nullptr) return Fail(root, "", "the member \"cards\" is missing");
    if (!Expect(*cards, JsonValue::Kind::kArray, "cards")) return false;
    if (cards->items.empty()) return Fail(*cards, "cards", "must name at least one card");
    for (std::size_t i = 0; i < cards->items.size(); ++i) {
      CardSpec card;
      const std::string path = "cards[" + std::to_string(i) + "]";
      if (!Card(cards->items[i], path, &card)) return false;
      for (const CardSpec& other : network->cards) {
        if (other.card == card.card) return Fail(cards->items[i], path, "card " + std::to_string(card.card) + " is described twice");
        if (card.port != 0 && other.port == card.port) {
          return Fail(cards->items[i], path, "port " + std::to_string(card.port) + " is already card " + std::to_string(other.card) + "'s");
        }
      }
      if (card.port != 0 && card.port == network->controlPort) {
        return Fail(cards->items[i], path, "port " + std::to_string(card.port) + " is the control port");
      }
      network->cards.push_back(std::move(card));
    }
    return true;
  }

  bool Card(const JsonValue& value, const std::string& path, CardSpec* card) {
    if (!Expect(value, JsonValue::Kind::kObject, path)) return false;
    if (!OnlyMembers(value, path, {"card", "port", "baud", "stations"})) return false;
    std::int64_t number = 0;
    const JsonValue* cardNumber = value.Find("card");
    if (cardNumber == nullptr) return Fail(value, path, "the member \"card\" (0 to 3) is missing");
    if (!Integer(*cardNumber, path + ".card", 0, kMaxCards - 1, &number)) return false;
    card->card = static_cast<int>(number);
    card->port = kFirstCardPort + card->card;
    if (const JsonValue* port = value.Find("port")) {
      if (!Integer(*port, path + ".port", 0, 65535, &number)) return false;
      card->port = static_cast<int>(number);
    }
    if (const JsonValue* baud = value.Find("baud")) {
      if (!Integer(*baud, path + ".baud", 0, kMaxBaudRate, &number)) return false;
      if (number != 0 && number < kMinBaudRate) {
        return Fail(*baud, path + ".baud", "must be 0 (no wire time) or from " + std::to_string(kMinBaudRate) + " to " + std::to_string(kMaxBaudRate));
      }
      card->baudRate = static_cast<int>(number);
    }
    if (const JsonValue* stations = value.Find("stations")) {
      if (!Expect(*stations, JsonValue::Kind::kArray, path + ".stations")) return false;
      for (std::size_t i = 0; i < stations->items.size(); ++i) {
        StationSpec station;
        const std::string stationPath = path + ".stations[" + std::to_string(i) + "]";
        if (!Station(stations->items[i], stationPath, &station)) return false;
        for (const StationSpec& other : card->stations) {
          if (other.number == station.number) {
            return Fail(stations->items[i], stationPath, "station " + std::to_string(station.number) + " is already on this card");
          }
        }
        card->stations.push_back(std::move(station));
      }
    }
    return true;
  }

  bool Station(const JsonValue& value, const std::string& path, StationSpec* station) {
    if (!Expect(value, JsonValue::Kind::kObject, path)) return false;
    if (!OnlyMembers(value, path, {"station", "type", "registers", "clock", "events", "moving"})) return false;
    std::int64_t number = 0;
    const JsonValue* stationNumber = value.Find("station");
    if (stationNumber == nullptr) return Fail(value, path, "the member \"station\" (0 to 255) is missing");
    if (!Integer(*stationNumber, path + ".station", 0, 255, &number)) return false;
    station->number = static_cast<int>(number);

    const JsonValue* type = value.Find("type");
    if (type == nullptr) return Fail(value, path, "the member \"type\" (hardware type) is missing");
    if (type->kind == JsonValue::Kind::kString) {
      const std::optional<int> code = HardwareTypeFromName(type->text);
      if (!code) {
        return Fail(*type, path + ".type",
                    "unknown hardware type \"" + type->text + "\" (known: EVR420, EVR410, PRISMOTE, ZOLT, SELMARO, TORAVINE, or a code number)");
      }
      station->hardwareType = *code;
    } else {
      if (!Integer(*type, path + ".type", 0, 65535, &number)) return false;
      station->hardwareType = static_cast<int>(number);
    }
    const vrt::sim::Station probe(0, static_cast<std::uint16_t>(station->hardwareType));

    if (const JsonValue* registers = value.Find("registers")) {
      if (!Registers(*registers, path + ".registers", station)) return false;
    }
    if (const JsonValue* clock = value.Find("clock")) {
      if (!probe.KeepsEvents()) return Fail(*clock, path + ".clock", "only event recorders (EVR420) and TORAVINE devices keep a clock");
      if (!Expect(*clock, JsonValue::Kind::kString, path + ".clock")) return false;
      CivilTime time;
      std::string message;
      if (!ParseCivilTime(clock->text, &time, &message)) return Fail(*clock, path + ".clock", message);
      station->clock = time;
    }
    if (const JsonValue* events = value.Find("events")) {
      if (!probe.KeepsEvents()) return Fail(*events, path + ".events", "only event recorders (EVR420) and TORAVINE devices queue events");
      if (!Expect(*events, JsonValue::Kind::kArray, path + ".events")) return false;
      if (events->items.size() > kMaxQueuedEvents) {
        return Fail(*events, path + ".events", "at most " + std::to_string(kMaxQueuedEvents) + " events fit a station's queue");
      }
      for (std::size_t i = 0; i < events->items.size(); ++i) {
        EventSpec event;
        if (!Event(events->items[i], path + ".events[" + std::to_string(i) + "]", &event)) return false;
        station->events.push_back(event);
      }
    }
    if (const JsonValue* moving = value.Find("moving")) {
      if (!Expect(*moving, JsonValue::Kind::kArray, path + ".moving")) return false;
      for (std::size_t i = 0; i < moving->items.size(); ++i) {
        MovingRegister motion;
        if (!Moving(moving->items[i], path + ".moving[" + std::to_string(i) + "]", &motion)) return false;
        station->moving.push_back(motion);
      }
    }
    return true;
  }

  // { "register": R, "kind": "ramp", "low": L, "high": H, "seconds": S },
  // { "register": R, "kind": "wander", "low": L, "high": H, "step": N } or
  // { "register": R, "kind": "toggle", "bit": B, "seconds": S }.
  bool Moving(const JsonValue& value, const std::string& path, MovingRegister* motion) {
    if (!Expect(value, JsonValue::Kind::kObject, path)) return false;
    if (!OnlyMembers(value, path, {"register", "kind", "low", "high", "seconds", "step", "bit"})) return false;
    const JsonValue* kind = value.Find("kind");
    if (kind == nullptr || kind->kind != JsonValue::Kind::kString ||
        (kind->text != "ramp" && kind->text != "wander" && kind->text != "toggle")) {
      return Fail(kind ? *kind : value, path + ".kind", "must be \"ramp\", \"wander\" or \"toggle\"");
    }
    motion->kind = kind->text == "ramp"     ? MovingRegister::Kind::kRamp
                 : kind->text == "wander" ? MovingRegister::Kind::kWander
                                          : MovingRegister::Kind::kToggle;
    std::int64_t number = 0;
    // A member the kind needs must be there; one it does not use is refused.
    auto member = [&](const char* name, bool needed, std::int64_t low, std::int64_t high, int* out) {
      const JsonValue* found = value.Find(name);
      if (found == nullptr) return !needed || Fail(value, path, std::string("the member \"") + name + "\" is missing");
      if (!needed) return Fail(*found, path + "." + name, "is not used by a " + kind->text);
      if (!Integer(*found, path + "." + name, low, high, &number)) return false;
      *out = static_cast<int>(number);
      return true;
    };
    const bool toggle = motion->kind == MovingRegister::Kind::kToggle;
    const bool wander = motion->kind == MovingRegister::Kind::kWander;
    if (!member("register", true, 0, kRegisterCount - 1, &motion->address) ||
        !member("low", !toggle, -32768, 65535, &motion->low) || !member("high", !toggle, -32768, 65535, &motion->high) ||
        !member("seconds", !wander, 1, 86400, &motion->seconds) || !member("bit", toggle, 0, 15, &motion->bit)) {
      return false;
    }
    if (value.Find("step") != nullptr && !member("step", wander, 1, 65535, &motion->step)) return false;
    if (!toggle && motion->low > motion->high) return Fail(value, path, "low must not lie above high");
    return true;
  }

  bool RegisterValue(const JsonValue& value, const std::string& path, std::uint16_t* out) {
    std::int64_t number = 0;
    if (!Integer(value, path, -32768, 65535, &number)) return false;
    *out = static_cast<std::uint16_t>(number & 0xFFFF);
    return true;
  }

  // "registers": { "ADDRESS": VALUE or [VALUE, ...], ... } where ADDRESS is
  // decimal or 0x hexadecimal and an array fills consecutive registers.
  bool Registers(const JsonValue& value, const std::string& path, StationSpec* station) {
    if (!Expect(value, JsonValue::Kind::kObject, path)) return false;
    for (const auto& [name, item] : value.members) {
      const std::string itemPath = path + "[\"" + name + "\"]";
      std::int64_t address = 0;
      if (!ParseWholeNumber(name, &address) || address < 0 || address >= kRegisterCount) {
        return Fail(item, itemPath, "a register address is a whole number from 0 to 2047 (decimal or 0x hexadecimal)");
      }
      if (item.kind == JsonValue::Kind::kArray) {
        if (item.items.empty()) return Fail(item, itemPath, "an array of register values must not be empty");
        if (address + static_cast<std::int64_t>(item.items.size()) > kRegisterCount) {
          return Fail(item, itemPath, "the values run past register 2047");
        }
        for (std::size_t i = 0; i < item.items.size(); ++i) {
          std::uint16_t word = 0;
          if (!RegisterValue(item.items[i], itemPath + "[" + std::to_string(i) + "]", &word)) return false;
          station->registers.emplace_back(static_cast<int>(address) + static_cast<int>(i), word);
        }
      } else {
        std::uint16_t word = 0;
        if (!RegisterValue(item, itemPath, &word)) return false;
        station->registers.emplace_back(static_cast<int>(address), word);
      }
    }
    return true;
  }

  // { "code": C, "state": 0|1, "time": "now" | "YYYY-MM-DD HH:MM:SS[.mmm]" }
  // or { "code": C, "state": S, "raw_time": [Y, MO, D, H, MI, S, MS] } for a
  // stamp whose fields are sent as given, even out of range.
  bool Event(const JsonValue& value, const std::string& path, EventSpec* planned) {
    if (!Expect(value, JsonValue::Kind::kObject, path)) return false;
    if (!OnlyMembers(value, path, {"code", "state", "time", "raw_time"})) return false;
    std::int64_t number = 0;
    const JsonValue* code = value.Find("code");
    if (code == nullptr) return Fail(value, path, "the member \"code\" (1 to 32767) is missing");
    if (!Integer(*code, path + ".code", 1, kMaxEventCode, &number)) return false;
    planned->event.code = static_cast<int>(number);
    const JsonValue* state = value.Find("state");
    if (state == nullptr) return Fail(value, path, "the member \"state\" (0 or 1) is missing");
    if (!Integer(*state, path + ".state", 0, 1, &number)) return false;
    planned->event.state = static_cast<int>(number);

    const JsonValue* time = value.Find("time");
    const JsonValue* raw = value.Find("raw_time");
    if (time != nullptr && raw != nullptr) return Fail(*raw, path, "give either \"time\" or \"raw_time\", not both");
    planned->stampNow = true;
    if (time != nullptr) {
      if (!Expect(*time, JsonValue::Kind::kString, path + ".time")) return false;
      if (time->text != "now") {
        std::string message;
        if (!ParseCivilTime(time->text, &planned->event.stamp, &message)) {
          return Fail(*time, path + ".time", message + ", or \"now\"");
        }
        planned->stampNow = false;
      }
    }
    if (raw != nullptr) {
      const std::string rawPath = path + ".raw_time";
      if (!Expect(*raw, JsonValue::Kind::kArray, rawPath)) return false;
      if (raw->items.size() != 7) return Fail(*raw, rawPath, "must hold 7 numbers: year, month, day, hour, minute, second, milliseconds");
      static constexpr std::int64_t kLow[7] = {2000, 0, 0, 0, 0, 0, 0};
      static constexpr std::int64_t kHigh[7] = {2155, 255, 255, 255, 255, 255, 65535};
      int fields[7] = {};
      for (int i = 0; i < 7; ++i) {
        if (!Integer(raw->items[static_cast<std::size_t>(i)], rawPath + "[" + std::to_string(i) + "]", kLow[i], kHigh[i], &number)) return false;
        fields[i] = static_cast<int>(number);
      }
      planned->event.stamp = CivilTime{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6]};
      planned->stampNow = false;
    }
    if (!planned->stampNow) {
      std::string message;
      if (!CheckStationEvent(planned->event, &message)) return Fail(time ? *time : *raw, path, message);
    }
    return true;
  }

 private:
  std::string* error_;
};

}  // namespace

bool ParseNetwork(std::string_view json, NetworkSpec* network, std::string* error) {
  *network = NetworkSpec();
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (json.size() > kMaxNetworkFileSize) {
    *error = "the network file is larger than " + std::to_string(kMaxNetworkFileSize >> 20) + " MiB";
    return false;
  }
  JsonValue root;
  JsonError jsonError;
  if (!ParseJson(json, &root, &jsonError)) {
    *error = jsonError.ToString();
    return false;
  }
  Reader reader(error);
  return reader.Network(root, network);
}

}  // namespace vrt::sim
