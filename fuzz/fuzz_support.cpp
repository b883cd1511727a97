// What every fuzz target links: the LogMessage the image library and the
// driver call. Each message is formatted as the programs format theirs, so
// that a format and its arguments that do not match show under the
// sanitizers, and then dropped.
#include <cstdarg>
#include <cstring>

#include "control_block.h"
#include "fuzz_check.h"
#include "log_message.h"

void LogMessage(int, const char* format, ...) {
  char text[vrt::kMessageBufferSize];
  va_list arguments;
  va_start(arguments, format);
  const std::size_t length = vrt::FormatMessageText(text, "NIO-", format, arguments);
  va_end(arguments);
  VRT_FUZZ_CHECK(length < sizeof text && std::strlen(text) == length, "a message overran its buffer");
}
