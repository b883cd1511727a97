// LogMessage of the poll driver: console in the message's colour, the
// message ring, and (when switched on) the driver log file, opened per line.
#include <windows.h>

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>

#include "../../image/dit_api.h"
#include "../../image/log_message.h"
#include "../../image/win32/win32_util.h"
#include "../driver_log.h"

namespace {

void PrintToConsole(int attribute, const char* text) {
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  if (console == nullptr || console == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  SetConsoleTextAttribute(console, static_cast<WORD>(attribute));
  WriteFile(console, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  SetConsoleTextAttribute(console, 7);
  WriteFile(console, "\r\n", 2, &written, nullptr);
}

void AppendToLogFile(const char* text) {
  HANDLE file = CreateFileA(vrt::DriverLogFileName().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const std::string failure = "Failed to open event log file err=" + vrt::SystemErrorText(GetLastError());
    PrintToConsole(vrt::kAttrError, failure.c_str());
    return;
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::string line = vrt::DriverLogLine(now.wDay, now.wHour, now.wMinute, now.wSecond, text);
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

// The poll thread and the event-database writer both log: one message at a
// time, so lines neither interleave on the console nor collide on the file.
static std::mutex logMutex;

void LogMessage(int attribute, const char* format, ...) {
  std::lock_guard<std::mutex> lock(logMutex);
  char text[vrt::kMessageBufferSize];
  va_list arguments;
  va_start(arguments, format);
  vrt::FormatMessageText(text, "", format, arguments);
  va_end(arguments);

  if (!vrt::ConsolePaused()) PrintToConsole(attribute, text);
  vrt::DriverControlBlock* block = vrt::DriverControl();
  if (block == nullptr) return;
  vrt::PutRingMessage(*block, attribute, text);
  if (block->FileLogEnabled != 0) AppendToLogFile(text);
}
