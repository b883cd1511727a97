// LogMessage of the NIO library: messages go to the driver's message ring
// with the prefix "NIO-"; nothing is shown or filed.
#include <cstdarg>

#include "dit_api.h"
#include "log_message.h"

void LogMessage(int attribute, const char* format, ...) {
  char text[vrt::kMessageBufferSize];
  va_list arguments;
  va_start(arguments, format);
  vrt::FormatMessageText(text, "NIO-", format, arguments);
  va_end(arguments);
  if (vrt::DriverControlBlock* block = vrt::DriverControl()) vrt::PutRingMessage(*block, attribute, text);
}
