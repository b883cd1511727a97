// Reading numbers and writing the editor's number texts.
#include <gtest/gtest.h>

#include <cmath>

#include "editor_text.h"

namespace vrt::editor {
namespace {

TEST(EditorNumberReading, IntegersReadLikeTheFieldsAlwaysHave) {
  EXPECT_EQ(LeadingInteger("  42abc"), 42);
  EXPECT_EQ(LeadingInteger("-7"), -7);
  EXPECT_EQ(LeadingInteger("+8"), 8);
  EXPECT_EQ(LeadingInteger("x1"), 0);
  EXPECT_EQ(LeadingInteger("99999999999999999999999999"), std::int64_t{1} << 53);
  EXPECT_FALSE(ReadInteger("abc"));
  EXPECT_FALSE(ReadInteger(""));
  EXPECT_FALSE(ReadInteger("-"));
  EXPECT_EQ(*ReadInteger(" 12 "), 12);
}

TEST(EditorNumberReading, RealsAcceptFractionsAndExponentsButNotWords) {
  EXPECT_DOUBLE_EQ(LeadingReal("0.125"), 0.125);
  EXPECT_DOUBLE_EQ(LeadingReal(" -1.5e2x"), -150.0);
  EXPECT_DOUBLE_EQ(LeadingReal(".5"), 0.5);
  EXPECT_DOUBLE_EQ(LeadingReal("3."), 3.0);
  EXPECT_DOUBLE_EQ(LeadingReal("1e"), 1.0);
  EXPECT_EQ(LeadingReal("inf"), 0.0);
  EXPECT_EQ(LeadingReal("nan"), 0.0);
  EXPECT_TRUE(std::isinf(LeadingReal("1e999")));
  EXPECT_EQ(LeadingReal("1e-999"), 0.0);
  EXPECT_FALSE(ReadReal("Disabled"));
  EXPECT_FALSE(ReadReal("."));
  EXPECT_DOUBLE_EQ(*ReadReal(".25"), 0.25);
}

TEST(EditorHundredths, ChannelTimesRoundAndPollTimesTruncate) {
  EXPECT_EQ(HundredthsRounded(0.125), 13);
  EXPECT_EQ(HundredthsTruncated(0.125), 12);
  EXPECT_EQ(HundredthsRounded(0.124), 12);
  EXPECT_EQ(HundredthsTruncated(0.129), 12);
  EXPECT_EQ(HundredthsTruncated(-1.0), -100);
  EXPECT_EQ(HundredthsTruncated(172801.0), 17280100);
}

TEST(EditorHundredths, DecimalTextsAreNotCutByBinaryFractions) {
  // 0.29 is held as 0.28999999999999998; it still means 29 hundredths.
  EXPECT_EQ(HundredthsTruncated(0.29), 29);
  EXPECT_EQ(HundredthsRounded(0.145), 15);
}

TEST(EditorHundredths, EveryStoredValueReadsBackToItself) {
  for (std::int64_t stored = 0; stored <= 200000; ++stored) {
    const double seconds = static_cast<double>(stored) / 100.0;
    ASSERT_EQ(HundredthsTruncated(seconds), stored) << stored;
    ASSERT_EQ(HundredthsRounded(seconds), stored) << stored;
  }
  for (std::int64_t stored : {8640000ll, 17280000ll, 2147483647ll, 4294967295ll}) {
    EXPECT_EQ(HundredthsTruncated(static_cast<double>(stored) / 100.0), stored);
    EXPECT_EQ(HundredthsRounded(static_cast<double>(stored) / 100.0), stored);
  }
}

TEST(EditorNumberTexts, TimesShowOneDecimalOrTwoWhenNeeded) {
  EXPECT_EQ(HundredthsText(100), "1.0");
  EXPECT_EQ(HundredthsText(12), "0.12");
  EXPECT_EQ(HundredthsText(1000), "10.0");
  EXPECT_EQ(HundredthsText(8640000), "86400.0");
  EXPECT_EQ(HundredthsText(-100), "-1.0");
  EXPECT_EQ(HundredthsText(5), "0.05");
}

TEST(EditorNumberTexts, FixedTextIsCorrectlyRoundedWithoutNegativeZero) {
  EXPECT_EQ(FixedText(0.1, 2), "0.10");
  EXPECT_EQ(FixedText(1800, 2), "1800.00");
  EXPECT_EQ(FixedText(-0.001, 1), "0.0");
  EXPECT_EQ(FixedText(2.5, 0), "2");
}

TEST(EditorNumberTexts, DeadBandHasFiveDecimalsAndReadsBackExactly) {
  EXPECT_EQ(DeadBandText(0.0f), "0.00000");
  EXPECT_EQ(DeadBandText(1.5f), "1.50000");
  EXPECT_EQ(DeadBandText(0.1f), "0.10000");
  for (float value : {1e-7f, 123456.789f, 3.0e20f, 0.333333f}) {
    const std::string text = DeadBandText(value);
    EXPECT_EQ(static_cast<float>(LeadingReal(text)), value) << text;
  }
}

TEST(EditorMessageArguments, IntegersAndRealBoundsReplaceTheirMarkers) {
  EXPECT_EQ(WithIntegers("Invalid station number, valid range %1 - %2", 0, 127),
            "Invalid station number, valid range 0 - 127");
  EXPECT_EQ(WithReals("(Valid Range %1 - %2)", 0.1, 1800), "(Valid Range   0.10 - 1800.00)");
  EXPECT_EQ(WithReals("%1 - %2", 0, 3600), "  0.00 - 3600.00");
  EXPECT_EQ(WithTexts("%1 Errors detected, file %2", "%2", "E.ERR"), "%2 Errors detected, file E.ERR");
  EXPECT_EQ(WithStrings("to %s with %s ?", "A%sB", "C"), "to A%sB with C ?");
  EXPECT_EQ(WithDecimal("WARNING ! %d", 120), "WARNING ! 120");
}

TEST(EditorTexts, CaseHelpers) {
  EXPECT_EQ(UpperAscii("c:\\cfg\\plant.vrt"), "C:\\CFG\\PLANT.VRT");
  EXPECT_TRUE(EqualsIgnoringCase("Device Name", "DEVICE NAME"));
  EXPECT_FALSE(EqualsIgnoringCase("IOREC", "IOREC "));
}

}  // namespace
}  // namespace vrt::editor
