// Calendar arithmetic for the simulator's clocks: a local date and time held
// as milliseconds since 1970-01-01 00:00:00 of the same (unnamed) time zone.
// Stations keep local time, as the driver's time sync sends it, so no time
// zone ever enters the arithmetic.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vrt::sim {

struct CivilTime {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  friend bool operator==(const CivilTime&, const CivilTime&) = default;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// True when every field names a real moment (month 1-12, a day that month
// has, hour 0-23, minute and second 0-59, millisecond 0-999).
bool IsValidCivilTime(const CivilTime& time);

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, int month, int day);

// Milliseconds since the epoch for a valid time, and back.
std::int64_t MillisecondsFromCivil(const CivilTime& time);
CivilTime CivilFromMilliseconds(std::int64_t milliseconds);

// "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD HH:MM:SS.mmm" (a 'T' may stand for
// the blank). The time must be valid; `error` says what is wrong.
bool ParseCivilTime(std::string_view text, CivilTime* time, std::string* error);

// "YYYY-MM-DD HH:MM:SS.mmm"; fields out of range are printed as they are.
std::string FormatCivilTime(const CivilTime& time);

}  // namespace vrt::sim
