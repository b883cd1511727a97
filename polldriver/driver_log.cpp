#include "driver_log.h"

#include <cstdio>

#include "../image/control_block.h"

namespace vrt {

namespace {
bool consolePaused = false;
}

void SetConsolePaused(bool paused) { consolePaused = paused; }
bool ConsolePaused() { return consolePaused; }

std::string DriverLogLine(int dayOfMonth, int hour, int minute, int second, const char* text) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%d %02d:%02d:%02d |", dayOfMonth, hour, minute, second);
  return std::string(prefix) + text + "\r\n";
}

std::string DriverLogFileName() { return std::string(".") + "\\" + kAcronym + "_LOG.TXT"; }

}  // namespace vrt
