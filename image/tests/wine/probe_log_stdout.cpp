// LogMessage for the editor-flavour probe: the editor shows errors in message
// boxes, which a test cannot click; the probe prints them instead.
#include <cstdarg>
#include <iostream>

#include "control_block.h"
#include "log_message.h"

void LogMessage(int attribute, const char* format, ...) {
  char text[vrt::kMessageBufferSize];
  va_list arguments;
  va_start(arguments, format);
  vrt::FormatMessageText(text, "", format, arguments);
  va_end(arguments);
  std::cout << "log " << attribute << " " << text << std::endl;
}
