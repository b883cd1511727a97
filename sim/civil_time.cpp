#include "civil_time.h"

#include <cstdio>

namespace vrt::sim {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

bool IsValidCivilTime(const CivilTime& time) {
  return time.year >= 1 && time.year <= 9999 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
         time.day <= DaysInMonth(time.year, time.month) && time.hour >= 0 && time.hour <= 23 &&
         time.minute >= 0 && time.minute <= 59 && time.second >= 0 && time.second <= 59 &&
         time.millisecond >= 0 && time.millisecond <= 999;
}

// Counts whole 400-year eras from 0000-03-01 so that the leap day falls at
// the end of each counted year; this keeps the arithmetic free of branches
// on the month.
std::int64_t DaysFromCivil(int year, int month, int day) {
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::int64_t MillisecondsFromCivil(const CivilTime& time) {
  const std::int64_t days = DaysFromCivil(time.year, time.month, time.day);
  const std::int64_t seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
  return seconds * 1000 + time.millisecond;
}

CivilTime CivilFromMilliseconds(std::int64_t milliseconds) {
  std::int64_t days = milliseconds / 86400000;
  std::int64_t rest = milliseconds % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  CivilTime time;
  time.hour = static_cast<int>(rest / 3600000);
  time.minute = static_cast<int>(rest / 60000 % 60);
  time.second = static_cast<int>(rest / 1000 % 60);
  time.millisecond = static_cast<int>(rest % 1000);

  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  time.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  time.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  time.year = static_cast<int>(yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0));
  return time;
}

namespace {

// Reads exactly `digits` decimal digits at `at`.
bool ReadDigits(std::string_view text, std::size_t at, int digits, int* value) {
  if (at + digits > text.size()) return false;
  int result = 0;
  for (int i = 0; i < digits; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return true;
}

}  // namespace

bool ParseCivilTime(std::string_view text, CivilTime* time, std::string* error) {
  CivilTime parsed;
  const bool shapeGood = (text.size() == 19 || text.size() == 23) && ReadDigits(text, 0, 4, &parsed.year) &&
                         text[4] == '-' && ReadDigits(text, 5, 2, &parsed.month) && text[7] == '-' &&
                         ReadDigits(text, 8, 2, &parsed.day) && (text[10] == ' ' || text[10] == 'T') &&
                         ReadDigits(text, 11, 2, &parsed.hour) && text[13] == ':' &&
                         ReadDigits(text, 14, 2, &parsed.minute) && text[16] == ':' &&
                         ReadDigits(text, 17, 2, &parsed.second) &&
                         (text.size() == 19 || (text[19] == '.' && ReadDigits(text, 20, 3, &parsed.millisecond)));
  if (!shapeGood) {
    if (error) *error = "a time is written \"YYYY-MM-DD HH:MM:SS\" or \"YYYY-MM-DD HH:MM:SS.mmm\"";
    return false;
  }
  if (!IsValidCivilTime(parsed)) {
    if (error) *error = "\"" + std::string(text) + "\" is not a real date and time";
    return false;
  }
  *time = parsed;
  return true;
}

std::string FormatCivilTime(const CivilTime& time) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", time.year, time.month, time.day, time.hour,
                time.minute, time.second, time.millisecond);
  return text;
}

}  // namespace vrt::sim
