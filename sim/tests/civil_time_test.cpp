// Calendar arithmetic behind the stations' clocks and event stamps.
#include <gtest/gtest.h>

#include "civil_time.h"

namespace vrt::sim {
namespace {

TEST(CivilTime, DayNumbersOfKnownDates) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1969, 12, 31), -1);
  EXPECT_EQ(DaysFromCivil(2000, 1, 1), 10957);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);  // after the leap day of a 400-year
  EXPECT_EQ(DaysFromCivil(2024, 5, 1), 19844);
  EXPECT_EQ(DaysFromCivil(2100, 3, 1) - DaysFromCivil(2100, 2, 28), 1);  // 2100 is no leap year
}

TEST(CivilTime, EveryDayFrom1900To2200SurvivesTheRoundTrip) {
  CivilTime previous = CivilFromMilliseconds(MillisecondsFromCivil({1899, 12, 31, 23, 59, 59, 999}));
  for (std::int64_t day = DaysFromCivil(1900, 1, 1); day <= DaysFromCivil(2200, 12, 31); ++day) {
    const std::int64_t ms = day * 86400000 + 12 * 3600000 + 34 * 60000 + 56 * 1000 + 789;
    const CivilTime time = CivilFromMilliseconds(ms);
    ASSERT_TRUE(IsValidCivilTime(time)) << FormatCivilTime(time);
    ASSERT_EQ(MillisecondsFromCivil(time), ms);
    ASSERT_EQ(time.hour, 12);
    ASSERT_EQ(time.millisecond, 789);
    // Consecutive days: the next day of the month, or the first of the next month.
    if (time.day != 1) {
      ASSERT_EQ(time.day, previous.day + 1);
      ASSERT_EQ(time.month, previous.month);
    } else {
      ASSERT_EQ(previous.day, DaysInMonth(previous.year, previous.month));
    }
    previous = time;
  }
}

TEST(CivilTime, MomentsBeforeTheEpochBorrowFromThePreviousDay) {
  EXPECT_EQ(CivilFromMilliseconds(-1), (CivilTime{1969, 12, 31, 23, 59, 59, 999}));
}

TEST(CivilTime, ValidityFollowsTheCalendar) {
  EXPECT_TRUE(IsValidCivilTime({2024, 2, 29, 0, 0, 0, 0}));
  EXPECT_TRUE(IsValidCivilTime({2000, 2, 29, 23, 59, 59, 999}));
  EXPECT_FALSE(IsValidCivilTime({2023, 2, 29, 0, 0, 0, 0}));
  EXPECT_FALSE(IsValidCivilTime({1900, 2, 29, 0, 0, 0, 0}));
  EXPECT_FALSE(IsValidCivilTime({2024, 4, 31, 0, 0, 0, 0}));
  EXPECT_FALSE(IsValidCivilTime({2024, 13, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(IsValidCivilTime({2024, 0, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(IsValidCivilTime({2024, 1, 1, 24, 0, 0, 0}));
  EXPECT_FALSE(IsValidCivilTime({2024, 1, 1, 0, 60, 0, 0}));
  EXPECT_FALSE(IsValidCivilTime({2024, 1, 1, 0, 0, 60, 0}));
  EXPECT_FALSE(IsValidCivilTime({2024, 1, 1, 0, 0, 0, 1000}));
}

TEST(CivilTime, ParsesBothWrittenForms) {
  CivilTime time;
  std::string error;
  ASSERT_TRUE(ParseCivilTime("2024-05-01 07:59:58.250", &time, &error)) << error;
  EXPECT_EQ(time, (CivilTime{2024, 5, 1, 7, 59, 58, 250}));
  ASSERT_TRUE(ParseCivilTime("2005-03-07T14:05:09", &time, &error)) << error;
  EXPECT_EQ(time, (CivilTime{2005, 3, 7, 14, 5, 9, 0}));
}

TEST(CivilTime, RefusesMisshapenAndImpossibleTimes) {
  CivilTime time{1999, 1, 1, 0, 0, 0, 0};
  const CivilTime untouched = time;
  std::string error;
  for (const char* text : {"", "2024-05-01", "2024-5-01 07:59:58", "2024-05-01 07:59", "2024-05-01 07:59:58.25",
                           "2024-05-01 07:59:58.2500", "2024-05-01 07:59:58x", "2024/05/01 07:59:58",
                           "2024-05-01  7:59:58", "2024-05-01 07:59:5a"}) {
    EXPECT_FALSE(ParseCivilTime(text, &time, &error)) << text;
    EXPECT_NE(error.find("YYYY-MM-DD HH:MM:SS"), std::string::npos) << text;
  }
  EXPECT_FALSE(ParseCivilTime("2023-02-29 00:00:00", &time, &error));
  EXPECT_EQ(error, "\"2023-02-29 00:00:00\" is not a real date and time");
  EXPECT_FALSE(ParseCivilTime("2024-05-01 24:00:00", &time, &error));
  EXPECT_EQ(time, untouched);
}

TEST(CivilTime, FormatsFieldsAsTheyAre) {
  EXPECT_EQ(FormatCivilTime({2024, 5, 1, 7, 9, 8, 5}), "2024-05-01 07:09:08.005");
  EXPECT_EQ(FormatCivilTime({2003, 13, 0, 25, 61, 99, 1000}), "2003-13-00 25:61:99.1000");
}

}  // namespace
}  // namespace vrt::sim
