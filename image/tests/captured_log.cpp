#include "captured_log.h"

#include <cstdarg>

#include "control_block.h"
#include "log_message.h"

namespace vrt::testing {

std::vector<LoggedMessage>& CapturedLog() {
  static std::vector<LoggedMessage> log;
  return log;
}

int CountLogged(const std::string& text) {
  int count = 0;
  for (const LoggedMessage& message : CapturedLog()) count += message.text == text ? 1 : 0;
  return count;
}

bool WasLogged(const std::string& text) { return CountLogged(text) > 0; }

}  // namespace vrt::testing

void LogMessage(int attribute, const char* format, ...) {
  char text[vrt::kMessageBufferSize];
  va_list arguments;
  va_start(arguments, format);
  vrt::FormatMessageText(text, "", format, arguments);
  va_end(arguments);
  vrt::testing::CapturedLog().push_back({attribute, text});
}
