// The poll driver's messages: console (in colour), message ring and the
// driver log file ".\VRT_LOG.TXT".
#pragma once

#include <cstddef>
#include <string>

namespace vrt {

// Messages are not printed to the console while paused; they still reach
// the ring and the log file.
void SetConsolePaused(bool paused);
bool ConsolePaused();

// The line appended to the driver log file for one message.
std::string DriverLogLine(int dayOfMonth, int hour, int minute, int second, const char* text);

// ".\VRT_LOG.TXT": "%s\%s_LOG.TXT" from "." and the acronym.
std::string DriverLogFileName();

}  // namespace vrt
