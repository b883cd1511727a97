#include "opc_values_win32.h"

#include <cstdio>

#include "opc_arguments.h"

namespace vrt::tool {
namespace {

bool LocalTime(const FILETIME& stamp, SYSTEMTIME& local) {
  SYSTEMTIME utc{};
  return FileTimeToSystemTime(&stamp, &utc) && SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
}

// The server's dates are UTC, like its FILETIME stamps.
std::string DateText(double date) {
  SYSTEMTIME utc{};
  FILETIME stamp{};
  if (!VariantTimeToSystemTime(date, &utc) || !SystemTimeToFileTime(&utc, &stamp)) return "?";
  return LocalTimeText(stamp, false);
}

}  // namespace

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text, int characters) {
  if (text == nullptr || characters == 0) return {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text, characters, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, characters, narrow.data(), length, nullptr, nullptr);
  if (characters < 0 && !narrow.empty()) narrow.pop_back();  // the counted terminator
  return narrow;
}

std::string LocalTimeText(const FILETIME& stamp, bool milliseconds) {
  SYSTEMTIME local{};
  if (!LocalTime(stamp, local)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay,
                local.wHour, local.wMinute, local.wSecond);
  std::string shown = text;
  if (milliseconds) {
    std::snprintf(text, sizeof text, ".%03u", local.wMilliseconds);
    shown += text;
  }
  return shown;
}

std::string LocalClockText(const FILETIME& stamp) {
  SYSTEMTIME local{};
  if (!LocalTime(stamp, local)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", local.wHour, local.wMinute, local.wSecond,
                local.wMilliseconds);
  return text;
}

// Numbers are formatted here (the shortest text that reads back as the same
// value) rather than through VariantChangeType, whose text depends on the
// locale and cuts an R8 to 15 digits; only types without a rule of their own
// go through the invariant locale's conversion.
std::string ValueText(VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY: return "";
    case VT_BSTR: return Narrow(value.bstrVal, static_cast<int>(SysStringLen(value.bstrVal)));
    case VT_BOOL: return value.boolVal != VARIANT_FALSE ? "true" : "false";
    case VT_I2: return std::to_string(value.iVal);
    case VT_I4: return std::to_string(value.lVal);
    case VT_R4: return RealText(value.fltVal);
    case VT_R8: return RealText(value.dblVal);
    case VT_DATE: return DateText(value.date);
    default: break;
  }
  VARIANT text;
  VariantInit(&text);
  std::string shown = "?";
  if (SUCCEEDED(VariantChangeTypeEx(&text, &value, LOCALE_INVARIANT, 0, VT_BSTR))) {
    shown = Narrow(text.bstrVal, static_cast<int>(SysStringLen(text.bstrVal)));
  }
  VariantClear(&text);
  return shown;
}

}  // namespace vrt::tool
