// Register <-> engineering value conversions, code by code, in both
// directions and at the edges of each range.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "nio_conversion.h"
#include "nio_types.h"

namespace vrt {
namespace {

ConversionSettings Settings(int code, float low = 0.0f, float span = 100.0f, std::uint16_t dataType = 2) {
  ConversionSettings settings;
  settings.code = code;
  settings.eguLow = low;
  settings.eguSpan = span;
  settings.dataType = dataType;
  return settings;
}

float Read(std::uint16_t raw, const ConversionSettings& settings, std::uint16_t* status = nullptr) {
  const ConvertedValue converted = ConvertRegisterToValue(raw, 0, settings);
  if (status != nullptr) *status = converted.valueStatus;
  return converted.value;
}

std::uint16_t Write(float value, const ConversionSettings& settings) {
  const ConvertedRegister converted = ConvertValueToRegister(value, settings);
  EXPECT_EQ(converted.status, 0) << "value " << value << " code " << settings.code;
  return converted.raw;
}

TEST(ScaledConversion, TwelveBitBinaryReadsAndWritesTheMidScale) {
  const ConversionSettings settings = Settings(kSig12Bn);
  EXPECT_NEAR(Read(2048, settings), 50.0122f, 0.0001f);
  EXPECT_EQ(Write(50.0f, settings), 2048);
  EXPECT_FLOAT_EQ(Read(0, settings), 0.0f);
  EXPECT_FLOAT_EQ(Read(4095, settings), 100.0f);
  EXPECT_EQ(Write(100.0f, settings), 4095);
  EXPECT_EQ(Write(0.0f, settings), 0);
}

TEST(ScaledConversion, EguLowShiftsTheScale) {
  const ConversionSettings settings = Settings(kSig12Bn, -50.0f, 100.0f);
  EXPECT_FLOAT_EQ(Read(0, settings), -50.0f);
  EXPECT_FLOAT_EQ(Read(4095, settings), 50.0f);
  EXPECT_EQ(Write(0.0f, settings), 2048);
}

TEST(ScaledConversion, WritesOutsideTheRangeStayAtTheNearerEnd) {
  // Below the range the bottom of the raw range is written, never the top.
  EXPECT_EQ(Write(-1.0f, Settings(kSig12Bn)), 0);
  EXPECT_EQ(Write(-1000.0f, Settings(kSig12Al)), 0);
  EXPECT_EQ(Write(200.0f, Settings(kSig12Bn)), 4095);
  EXPECT_EQ(Write(-1.0f, Settings(kSig15Bn)), 0);
  EXPECT_EQ(Write(101.0f, Settings(kSig15Al)), 32767);
  EXPECT_EQ(Write(-5.0f, Settings(kSig8Bn)), 0);
  EXPECT_EQ(Write(101.0f, Settings(kSig8Bn)), 255);
  EXPECT_EQ(Write(-5.0f, Settings(kSigLinear)), 0);
  EXPECT_EQ(Write(100.5f, Settings(kSigLinear)), 65535);
  EXPECT_EQ(Write(1e30f, Settings(kSigLinear)), 65535);
}

TEST(ScaledConversion, AlarmCodesMarkRawValuesOutsideTheirWidth) {
  std::uint16_t status = 0;
  Read(4096, Settings(kSig12Al), &status);
  EXPECT_EQ(status, kValueOutOfRange);
  Read(4095, Settings(kSig12Al), &status);
  EXPECT_EQ(status, kValueGood);
  Read(4096, Settings(kSig12Bn), &status);
  EXPECT_EQ(status, kValueGood);
  Read(0x8000, Settings(kSig15Al), &status);
  EXPECT_EQ(status, kValueOutOfRange);
  EXPECT_FLOAT_EQ(Read(32767, Settings(kSig15Al), &status), 100.0f);
  EXPECT_EQ(status, kValueGood);
  EXPECT_FLOAT_EQ(Read(32767, Settings(kSig15Bn)), 100.0f);
  EXPECT_EQ(Write(50.0f, Settings(kSig15Bn)), 16384);
}

TEST(ScaledConversion, EightBitCode) {
  EXPECT_FLOAT_EQ(Read(255, Settings(kSig8Bn)), 100.0f);
  EXPECT_EQ(Write(50.0f, Settings(kSig8Bn)), 128);
}

TEST(ScaledConversion, ZeroSpanWritesAreRefusedNotDividedByZero) {
  for (int code : {3, 4, 5, 6, 7, 8, 15, 16, 20, 21, 22}) {
    ConversionSettings settings = Settings(code, 10.0f, 0.0f);
    settings.optionHigh = 100;
    EXPECT_EQ(ConvertValueToRegister(10.0f, settings).status, kNioKindMismatch) << code;
    // Reads need no division by the span: everything reads as the EGU low.
    EXPECT_FLOAT_EQ(Read(0, Settings(code, 10.0f, 0.0f)), 10.0f) << code;
  }
  // Unscaled codes do not use the span.
  EXPECT_EQ(ConvertValueToRegister(7.0f, Settings(kSigNone, 0.0f, 0.0f)).status, 0);
}

TEST(ScaledConversion, NonFiniteValuesAreNeverWritten) {
  for (int code : {0, 1, 3, 8, 14, 17, 18, -1}) {
    EXPECT_EQ(ConvertValueToRegister(std::numeric_limits<float>::quiet_NaN(), Settings(code)).status,
              kNioKindMismatch);
    EXPECT_EQ(ConvertValueToRegister(std::numeric_limits<float>::infinity(), Settings(code)).status,
              kNioKindMismatch);
  }
}

TEST(LinearConversion, TwoDecimalsOnUnsignedAndSignedRecords) {
  ConversionSettings unsignedRecord = Settings(kSigLinear, 0.0f, 10.0f, 2);
  unsignedRecord.decimals = 2;
  EXPECT_FLOAT_EQ(Read(32768, unsignedRecord), 5.0f);  // 5.000076 rounded to 5.00
  EXPECT_FLOAT_EQ(Read(65535, unsignedRecord), 10.0f);
  EXPECT_FLOAT_EQ(Read(12345, unsignedRecord), 1.88f);  // 1.88373
  ConversionSettings signedRecord = unsignedRecord;
  signedRecord.dataType = 1;
  EXPECT_FLOAT_EQ(Read(0x8000, signedRecord), 0.0f);
  EXPECT_FLOAT_EQ(Read(0x7FFF, signedRecord), 10.0f);
  EXPECT_FLOAT_EQ(Read(0x0000, signedRecord), 5.0f);
  // Writes on a Signed record are offset by 32768.
  EXPECT_EQ(Write(5.0f, unsignedRecord), 32768);
  EXPECT_EQ(Write(5.0f, signedRecord), 0);
  EXPECT_EQ(Write(0.0f, signedRecord), 0x8000);
  EXPECT_EQ(Write(10.0f, signedRecord), 0x7FFF);
}

TEST(LinearConversion, NegativeValuesRoundAwayFromZero) {
  ConversionSettings settings = Settings(kSigLinear, -10.0f, 10.0f, 2);
  settings.decimals = 1;
  // -10 + 6553/65535*10 = -9.000092: rounds to -9.0, not -8.9 or -9.1.
  EXPECT_FLOAT_EQ(Read(6553, settings), -9.0f);
}

TEST(BcdConversion, ThreeAndFourDigitsWithInvalidNibbles) {
  std::uint16_t status = 0;
  EXPECT_FLOAT_EQ(Read(0x0123, Settings(kSig3Bcd), &status), 123.0f);
  EXPECT_EQ(status, kValueGood);
  Read(0x012A, Settings(kSig3Bcd), &status);
  EXPECT_EQ(status, kValueOutOfRange);
  // The fourth nibble is no digit of a three-digit value.
  EXPECT_FLOAT_EQ(Read(0xF999, Settings(kSig3Bcd), &status), 999.0f);
  EXPECT_EQ(status, kValueGood);
  EXPECT_FLOAT_EQ(Read(0x9876, Settings(kSig4Bcd), &status), 9876.0f);
  EXPECT_EQ(status, kValueGood);
  Read(0xA000, Settings(kSig4Bcd), &status);
  EXPECT_EQ(status, kValueOutOfRange);

  EXPECT_EQ(Write(123.0f, Settings(kSig3Bcd)), 0x0123);
  EXPECT_EQ(Write(123.9f, Settings(kSig3Bcd)), 0x0123);
  EXPECT_EQ(Write(4321.0f, Settings(kSig4Bcd)), 0x4321);
  EXPECT_EQ(Write(1234.0f, Settings(kSig3Bcd)), 0x0999);
  EXPECT_EQ(Write(12345.0f, Settings(kSig4Bcd)), 0x9999);
  EXPECT_EQ(Write(-7.0f, Settings(kSig3Bcd)), 0);
}

TEST(CurrentLoopConversion, FourToTwentyLinearClampsAtTheLowEnd) {
  const ConversionSettings settings = Settings(kSig4To20Linear, 20.0f, 80.0f);
  EXPECT_FLOAT_EQ(Read(13107, settings), 20.0f);
  EXPECT_FLOAT_EQ(Read(65535, settings), 100.0f);
  EXPECT_EQ(Write(20.0f, settings), 13107);
  EXPECT_EQ(Write(0.0f, settings), 13107);
  EXPECT_EQ(Write(100.0f, settings), 65535);
  EXPECT_EQ(Write(200.0f, settings), 65535);
  // Below 4 mA reads below the EGU range (a broken loop shows as such).
  EXPECT_LT(Read(0, settings), 20.0f);
}

TEST(CurrentLoopConversion, FourToTwentySquareRootAtAQuarterOfTheSpan) {
  const ConversionSettings settings = Settings(kSig4To20SquareRoot, 0.0f, 200.0f);
  EXPECT_EQ(Write(50.0f, settings), 16384);
  EXPECT_NEAR(Read(16384, settings), 50.0f, 0.01f);
  EXPECT_EQ(Write(0.0f, settings), 13107);
  EXPECT_EQ(Write(-50.0f, settings), 13107);  // not the square of a negative fraction
  EXPECT_EQ(Write(200.0f, settings), 65535);
}

TEST(CurrentLoopConversion, NegativeSquareRootArgumentReadsEguLowOutOfRange) {
  std::uint16_t status = 0;
  EXPECT_FLOAT_EQ(Read(13106, Settings(kSig4To20SquareRoot, 5.0f, 10.0f), &status), 5.0f);
  EXPECT_EQ(status, kValueOutOfRange);
  EXPECT_FLOAT_EQ(Read(13107, Settings(kSig4To20SquareRoot, 5.0f, 10.0f), &status), 5.0f);
  EXPECT_EQ(status, kValueGood);
}

TEST(SquareRootConversion, SixteenBit) {
  EXPECT_FLOAT_EQ(Read(65535, Settings(kSig16SquareRoot)), 100.0f);
  EXPECT_NEAR(Read(16384, Settings(kSig16SquareRoot)), 50.0f, 0.001f);
  EXPECT_EQ(Write(50.0f, Settings(kSig16SquareRoot)), 16384);
  EXPECT_EQ(Write(100.0f, Settings(kSig16SquareRoot)), 65535);
  EXPECT_EQ(Write(-100.0f, Settings(kSig16SquareRoot)), 0);
}

TEST(OptionConversion, RangeBetweenLowAndHighRaw) {
  ConversionSettings settings = Settings(kSigRange);
  settings.optionLow = 100;
  settings.optionHigh = 3900;
  EXPECT_FLOAT_EQ(Read(100, settings), 0.0f);
  EXPECT_FLOAT_EQ(Read(4000, settings), 100.0f);
  EXPECT_FLOAT_EQ(Read(2050, settings), 50.0f);
  EXPECT_EQ(Write(50.0f, settings), 2050);
  EXPECT_EQ(Write(-10.0f, settings), 100);
  EXPECT_EQ(Write(110.0f, settings), 4000);
}

TEST(OptionConversion, RangeSquareRootAndItsNegativeArgument) {
  ConversionSettings settings = Settings(kSigRangeSquareRoot, 0.0f, 10.0f);
  settings.optionLow = 1000;
  settings.optionHigh = 4000;
  EXPECT_FLOAT_EQ(Read(2000, settings), 5.0f);  // sqrt(0.25)
  EXPECT_EQ(Write(5.0f, settings), 2000);
  EXPECT_EQ(Write(20.0f, settings), 5000);
  std::uint16_t status = 0;
  EXPECT_FLOAT_EQ(Read(999, settings, &status), 0.0f);
  EXPECT_EQ(status, kValueOutOfRange);
  settings.optionHigh = 0;
  EXPECT_FLOAT_EQ(Read(2000, settings, &status), 0.0f);
  EXPECT_EQ(status, kValueOutOfRange);
  settings.code = kSigRange;
  Read(2000, settings, &status);
  EXPECT_EQ(status, kValueOutOfRange);
}

TEST(OptionConversion, ShiftAndMask) {
  ConversionSettings settings = Settings(kSigShiftMask);
  settings.optionLow = 4;
  settings.optionHigh = 15;
  EXPECT_FLOAT_EQ(Read(0x0A5F, settings), 5.0f);
  EXPECT_EQ(Write(11.0f, settings), 0x00B0);
  EXPECT_EQ(Write(0x1B, settings), 0x00B0);  // the mask keeps 4 bits
  settings.optionLow = 15;  // the highest shift there is: the top bit
  settings.optionHigh = 1;
  EXPECT_FLOAT_EQ(Read(0x8000, settings), 1.0f);
  EXPECT_FLOAT_EQ(Read(0x7FFF, settings), 0.0f);
  settings.optionLow = 16;
  EXPECT_FLOAT_EQ(Read(0xFFFF, settings), 0.0f);
  settings.optionHigh = 15;
  settings.optionLow = 20;
  EXPECT_FLOAT_EQ(Read(0xFFFF, settings), 0.0f);
  EXPECT_EQ(Write(11.0f, settings), 0);
  settings.optionLow = -1;
  EXPECT_FLOAT_EQ(Read(0xFFFF, settings), 0.0f);
}

TEST(UnscaledConversion, RawSignedTenthsAndHundredths) {
  EXPECT_FLOAT_EQ(Read(0xFFFF, Settings(kSigNone, 0, 0, 1)), -1.0f);
  EXPECT_FLOAT_EQ(Read(0xFFFF, Settings(kSigNone, 0, 0, 2)), 65535.0f);
  EXPECT_FLOAT_EQ(Read(0xFFFE, Settings(kSigSigned)), -2.0f);
  EXPECT_FLOAT_EQ(Read(0xFFFF, Settings(kSigRaw, 0, 0, 1)), 65535.0f);
  EXPECT_FLOAT_EQ(Read(0xFFFF, Settings(99, 0, 0, 1)), 65535.0f);
  EXPECT_NEAR(Read(123, Settings(kSigTenths)), 12.3f, 1e-5f);
  EXPECT_NEAR(Read(123, Settings(kSigHundredths)), 1.23f, 1e-6f);

  EXPECT_EQ(Write(-1.0f, Settings(kSigNone, 0, 0, 1)), 0xFFFF);
  EXPECT_EQ(Write(-40000.0f, Settings(kSigNone, 0, 0, 1)), 0x8000);
  EXPECT_EQ(Write(40000.0f, Settings(kSigNone, 0, 0, 1)), 0x7FFF);
  EXPECT_EQ(Write(-2.7f, Settings(kSigNone, 0, 0, 1)), 0xFFFE);  // truncated toward zero
  EXPECT_EQ(Write(2.5f, Settings(kSigNone)), 3);
  EXPECT_EQ(Write(70000.0f, Settings(kSigNone)), 65535);
  EXPECT_EQ(Write(-3.0f, Settings(kSigRaw)), 0);
  EXPECT_EQ(Write(12.3f, Settings(kSigTenths)), 123);
  EXPECT_EQ(Write(1.23f, Settings(kSigHundredths)), 123);
  // Code 12 writes what it reads: a signed number, on any record type.
  for (std::uint16_t dataType : {1, 2}) {
    EXPECT_EQ(Write(-5.0f, Settings(kSigSigned, 0, 0, dataType)), 0xFFFB);
    EXPECT_EQ(Write(-4.5f, Settings(kSigSigned, 0, 0, dataType)), 0xFFFB);
    EXPECT_EQ(Write(1234.4f, Settings(kSigSigned, 0, 0, dataType)), 1234);
    EXPECT_EQ(Write(-40000.0f, Settings(kSigSigned, 0, 0, dataType)), 0x8000);
    EXPECT_EQ(Write(40000.0f, Settings(kSigSigned, 0, 0, dataType)), 0x7FFF);
    EXPECT_FLOAT_EQ(Read(Write(-321.0f, Settings(kSigSigned, 0, 0, dataType)), Settings(kSigSigned, 0, 0, dataType)),
                    -321.0f);
  }
  // Any other code but 0 on a Signed record is offset by 32768.
  EXPECT_EQ(Write(50.0f, Settings(kSig12Bn, 0, 100, 1)), 0x8800);
}

TEST(UnscaledConversion, TenthsAndHundredthsStayInsideTheRegister) {
  EXPECT_NEAR(Read(65535, Settings(kSigTenths)), 6553.5f, 1e-3f);
  EXPECT_NEAR(Read(65535, Settings(kSigHundredths)), 655.35f, 1e-4f);
  EXPECT_EQ(Write(6553.5f, Settings(kSigTenths)), 65535);
  EXPECT_EQ(Write(7000.0f, Settings(kSigTenths)), 65535);
  EXPECT_EQ(Write(-1.0f, Settings(kSigTenths)), 0);
  EXPECT_EQ(Write(655.35f, Settings(kSigHundredths)), 65535);
  EXPECT_EQ(Write(-0.5f, Settings(kSigHundredths)), 0);
  EXPECT_FLOAT_EQ(Read(0, Settings(kSig8Bn, 1.0f, 2.0f)), 1.0f);
}

TEST(FloatPairConversion, HighWordFirstBothWays) {
  float value = 1.5f;
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const ConvertedValue read = ConvertRegisterToValue(static_cast<std::uint16_t>(bits >> 16),
                                                     static_cast<std::uint16_t>(bits), Settings(kSigFloatPair));
  EXPECT_FLOAT_EQ(read.value, 1.5f);
  const ConvertedRegister written = ConvertValueToRegister(-123.25f, Settings(kSigFloatPair, 0, 0, 1));
  EXPECT_EQ(written.status, 0);
  EXPECT_FLOAT_EQ(ConvertRegisterToValue(written.raw, written.next, Settings(kSigFloatPair)).value, -123.25f);
  EXPECT_TRUE(UsesTwoRegisters(kSigFloatPair));
  EXPECT_FALSE(UsesTwoRegisters(kSigLinear));
}

TEST(FloatEntries, InvalidBitPatterns) {
  EXPECT_FALSE(IsInvalidFloatBits(0x00000000));
  EXPECT_FALSE(IsInvalidFloatBits(0x80000000));  // negative zero
  EXPECT_FALSE(IsInvalidFloatBits(0x3F800000));
  EXPECT_FALSE(IsInvalidFloatBits(0x00800000));  // smallest normal
  EXPECT_TRUE(IsInvalidFloatBits(0x00000001));   // denormal
  EXPECT_TRUE(IsInvalidFloatBits(0x7F800000));   // infinity
  EXPECT_TRUE(IsInvalidFloatBits(0xFFC00000));   // not a number
}

TEST(FloatEntries, IntegerEntriesTruncateAndLimit) {
  std::uint32_t bits = 0;
  ASSERT_TRUE(FloatToInteger32(-2.9f, true, bits));
  EXPECT_EQ(static_cast<std::int32_t>(bits), -2);
  ASSERT_TRUE(FloatToInteger32(3e9f, false, bits));
  EXPECT_EQ(bits, 3000000000u);
  ASSERT_TRUE(FloatToInteger32(1e20f, true, bits));
  EXPECT_EQ(static_cast<std::int32_t>(bits), 2147483647);
  ASSERT_TRUE(FloatToInteger32(-5.0f, false, bits));
  EXPECT_EQ(bits, 0u);
  EXPECT_FALSE(FloatToInteger32(std::numeric_limits<float>::quiet_NaN(), true, bits));
}

}  // namespace
}  // namespace vrt
