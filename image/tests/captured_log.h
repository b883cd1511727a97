// LogMessage for the platform-neutral tests: every message is kept in order.
#pragma once

#include <string>
#include <vector>

namespace vrt::testing {

struct LoggedMessage {
  int attribute;
  std::string text;
};

std::vector<LoggedMessage>& CapturedLog();
bool WasLogged(const std::string& text);
int CountLogged(const std::string& text);

}  // namespace vrt::testing
