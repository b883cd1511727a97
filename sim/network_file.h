// The network file: which cards the simulator serves, on which TCP ports,
// and the stations on each card with their registers, clocks and events.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "civil_time.h"
#include "station.h"

namespace vrt::sim {

inline constexpr int kMaxCards = 4;
inline constexpr int kFirstCardPort = 5820;  // card n listens on 5820 + n unless told otherwise
inline constexpr int kDefaultControlPort = 5819;
inline constexpr int kMinBaudRate = 50;
inline constexpr int kMaxBaudRate = 10000000;
// Network files larger than this are refused before parsing.
inline constexpr std::size_t kMaxNetworkFileSize = 16u << 20;

struct EventSpec {
  StationEvent event;
  // Stamped with the station's clock when the simulator starts, instead of
  // `event.stamp`.
  bool stampNow = false;
};

struct StationSpec {
  int number = 0;
  int hardwareType = 0;
  std::vector<std::pair<int, std::uint16_t>> registers;  // address, initial value
  std::optional<CivilTime> clock;
  std::vector<EventSpec> events;
  std::vector<MovingRegister> moving;
};

struct CardSpec {
  int card = 0;
  int port = 0;  // 0: any free port
  int baudRate = 0;  // 0: replies go out at once
  std::vector<StationSpec> stations;
};

struct NetworkSpec {
  int controlPort = kDefaultControlPort;  // 0: any free port
  std::vector<CardSpec> cards;
};

// Reads a network description from JSON text. A fault gives "line L, column
// C: what is wrong" (with the path of the value, such as
// cards[0].stations[1].type) in `error`.
bool ParseNetwork(std::string_view json, NetworkSpec* network, std::string* error);

// The hardware type for a name of the code table (any case) or nothing.
std::optional<int> HardwareTypeFromName(std::string_view name);
// The name of a hardware type code, or its number as text.
std::string HardwareTypeName(int code);

// Whole numbers as the control commands and the file's register addresses
// write them: decimal, or hexadecimal with 0x. Nothing else is accepted.
bool ParseWholeNumber(std::string_view text, std::int64_t* value);

}  // namespace vrt::sim
