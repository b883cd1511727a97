// The control port's command language: one command a line, answered by any
// number of lines and then "OK" or "ERR <reason>".
#pragma once

#include <string>
#include <string_view>

#include "simulator.h"

namespace vrt::sim {

// Longest command line accepted; a longer one is refused whole.
inline constexpr std::size_t kMaxControlLine = 4096;

struct ControlResult {
  std::string text;  // the answer lines, each ending in '\n', the last "OK" or "ERR ..."
  bool close = false;     // "quit": close this control connection
  bool shutdown = false;  // "shutdown": stop the simulator
};

ControlResult RunControlCommand(Simulator& simulator, std::string_view line);

// The command summary printed by "help" (and part of --help).
extern const char* const kControlHelp;

}  // namespace vrt::sim
