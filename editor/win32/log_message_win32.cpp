// LogMessage of the configuration editor: errors (attribute 70) are shown
// in a message box; other messages are dropped. A message that arrives while
// a box is open is dropped too, so boxes never pile up.
#include <windows.h>

#include <atomic>
#include <cstdarg>

#include "../../image/control_block.h"
#include "../../image/log_message.h"

namespace {
std::atomic<bool> boxOpen{false};
}

void LogMessage(int attribute, const char* format, ...) {
  if (attribute != vrt::kAttrError) return;
  char text[vrt::kMessageBufferSize];
  va_list arguments;
  va_start(arguments, format);
  vrt::FormatMessageText(text, "", format, arguments);
  va_end(arguments);
  if (boxOpen.exchange(true)) return;
  MessageBoxA(nullptr, text, "xxxDIDW.EXE", MB_OK);
  boxOpen = false;
}
