// How OPC clients of this suite (opc.exe, the live view) show what a server
// hands them: texts between the ANSI code page and UTF-16, time stamps in
// local time and VARIANT values as text.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace vrt::tool {

// The command line and the console use the ANSI code page.
std::wstring Wide(const std::string& text);
// `characters` -1: up to the terminating zero.
std::string Narrow(const wchar_t* text, int characters = -1);

// "2026-12-08 14:00:00" (with ".123" when asked), in local time at that
// moment, so that a summer stamp read in winter still shows summer time;
// "-" for a stamp that is no time.
std::string LocalTimeText(const FILETIME& stamp, bool milliseconds);
// "14:00:00.123", the same local time of day.
std::string LocalClockText(const FILETIME& stamp);

// A VARIANT as the read line shows it (shortest round-trip numbers,
// "true"/"false", texts as they are, dates in local time; other types
// through the invariant locale, "?" when they do not convert). Not const:
// the conversion takes its source as non-const.
std::string ValueText(VARIANT& value);

}  // namespace vrt::tool
