// The message hook of the image mapping library. Each program that carries
// the library supplies its own LogMessage: the NIO library writes the message
// ring, the driver its console, ring and log file, the editor a message box.
#pragma once

#if defined(__MINGW32__)
#define VRT_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define VRT_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

void LogMessage(int attribute, const char* format, ...) VRT_PRINTF_FORMAT(2, 3);
