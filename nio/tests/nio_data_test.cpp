// Reads and writes through the image: conversions on real records, element
// offsets, value statuses, write flags and pending counts, exception changes,
// the lock bytes and the access countdown.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "nio_conversion.h"
#include "nio_data.h"
#include "nio_test_plant.h"

namespace vrt {
namespace {

using testing::kLongName;
using testing::kOddFloat;
using testing::kPumpSigned;
using testing::kPumpUnsigned;
using testing::kTextRecord;
using testing::kValveDigital;
using testing::kValveFloat;
using testing::kValveSigned32;
using testing::kValveUnsigned32;
using testing::Plant;
using testing::Point;

class Data : public Plant {
 protected:
  // An analog point with EGU low..low+span and signal conditioning `code`.
  void Analog(Point& point, const char* text, int code, float low = 0.0f, float span = 100.0f) {
    ASSERT_EQ(Parse(point, text), 0) << text;
    point.address.signalConditioning = static_cast<std::int16_t>(code);
    point.valueSpec.eguLow = low;
    point.valueSpec.eguSpan = span;
  }

  struct Read {
    std::uint16_t status = 0xEEEE;
    std::uint16_t valueStatus = 0xEEEE;
    float value = -999.0f;
    std::uint8_t tag = 0xEE;
    std::uint8_t length = 0;
  };

  Read ReadAnalog(Point& point, std::uint8_t capacity = 4) {
    Read result;
    NioValue value{0xEE, capacity, 0xEEEE, &result.value};
    nio_read(process, &result.status, &point.block, &point.valueSpec, &value);
    result.valueStatus = value.valueStatus;
    result.tag = value.tag;
    result.length = value.length;
    return result;
  }

  std::uint16_t Send(Point& point, float number, std::uint8_t length = 4) {
    NioValue value{kValueTagFloat, length, 0xEEEE, &number};
    std::uint16_t status = 0xEEEE;
    nio_send(process, &status, &point.block, &point.valueSpec, &value);
    if (status == 0) {
      EXPECT_EQ(value.valueStatus, 0);
    }
    return status;
  }

  std::uint16_t SendBit(Point& point, std::uint16_t bit, std::uint8_t length = 1) {
    NioValue value{kValueTagBoolean, length, 0, &bit};
    std::uint16_t status = 0xEEEE;
    nio_send(process, &status, &point.block, &point.valueSpec, &value);
    return status;
  }

  int ReadBit(Point& point, std::uint16_t* status = nullptr) {
    std::uint8_t bit = 0xEE;
    NioValue value{0, 1, 0, &bit};
    std::uint16_t local = 0xEEEE;
    nio_read(process, &local, &point.block, &point.valueSpec, &value);
    if (status != nullptr) *status = local;
    EXPECT_TRUE(local != 0 || value.tag == kValueTagBoolean);
    return local == 0 ? bit : -1;
  }

  // 32-bit entries of pair records (areas need not be 4-byte aligned).
  std::uint32_t Get32(int record, int area, int entry) {
    std::uint32_t bits;
    std::memcpy(&bits, Image().Area(record, area) + 4 * entry, 4);
    return bits;
  }
  void Set32(int record, int area, int entry, std::uint32_t bits) {
    std::memcpy(Image().Area(record, area) + 4 * entry, &bits, 4);
  }
  void SetFloat(int record, int entry, float value) {
    std::memcpy(Image().Area(record, kValueArea) + 4 * entry, &value, 4);
  }
  DitExceptionEntry& Exception(int record, int entry) {
    return reinterpret_cast<DitExceptionEntry*>(Image().Area(record, kExceptionArea))[entry];
  }

  NioProcess process{client.mapping, client.platform};
};

TEST_F(Data, TwelveBitPointReadsAndWritesTheWorkedValues) {
  Point point;
  Analog(point, "PUMP1:DIT:120", kSig12Bn);
  Words(kPumpUnsigned, kValueArea)[20] = 2048;
  const Read read = ReadAnalog(point);
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.valueStatus, 0);
  EXPECT_EQ(read.tag, kValueTagFloat);
  EXPECT_EQ(read.length, 4);
  EXPECT_NEAR(read.value, 50.0122f, 0.0001f);

  EXPECT_EQ(Send(point, 50.0f), 0);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[20], 2048);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteFlagArea)[20], 0xFFFF);
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingWrites, 16);
  // The value area is the driver's: a write does not touch it.
  EXPECT_EQ(Words(kPumpUnsigned, kValueArea)[20], 2048);
  // A second write before the driver sent the first adds nothing.
  EXPECT_EQ(Send(point, 25.0f), 0);
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingWrites, 16);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[20], 1024);
}

TEST_F(Data, OutOfRangeRawValuesCarryValueStatus4292) {
  Point alarm;
  Analog(alarm, "PUMP1:DIT:121", kSig12Al);
  Words(kPumpUnsigned, kValueArea)[21] = 4096;
  Read read = ReadAnalog(alarm);
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.valueStatus, kValueOutOfRange);
  EXPECT_EQ(NioQuality(read.status, read.valueStatus, 0), kQualityEguExceeded);

  Point bcd;
  Analog(bcd, "PUMP1:DIT:122", kSig3Bcd);
  Words(kPumpUnsigned, kValueArea)[22] = 0x0123;
  read = ReadAnalog(bcd);
  EXPECT_FLOAT_EQ(read.value, 123.0f);
  EXPECT_EQ(read.valueStatus, 0);
  Words(kPumpUnsigned, kValueArea)[22] = 0x012A;
  EXPECT_EQ(ReadAnalog(bcd).valueStatus, kValueOutOfRange);
}

TEST_F(Data, LinearWithTwoDecimalsOnUnsignedAndSignedRecords) {
  Point onUnsigned;
  Analog(onUnsigned, "PUMP1:DIT:123", kSigLinear, 0.0f, 10.0f);
  onUnsigned.valueSpec.decimals = 2;
  Words(kPumpUnsigned, kValueArea)[23] = 32768;
  EXPECT_FLOAT_EQ(ReadAnalog(onUnsigned).value, 5.0f);

  Point onSigned;
  Analog(onSigned, "PUMP1:DIT:201", kSigLinear, 0.0f, 10.0f);
  onSigned.valueSpec.decimals = 2;
  Words(kPumpSigned, kValueArea)[1] = 0x8000;
  EXPECT_FLOAT_EQ(ReadAnalog(onSigned).value, 0.0f);
  EXPECT_EQ(Send(onSigned, 10.0f), 0);
  EXPECT_EQ(Words(kPumpSigned, kWriteValueArea)[1], 0x7FFF);
}

TEST_F(Data, FourToTwentyMilliampPoints) {
  Point linear;
  Analog(linear, "PUMP1:DIT:124", kSig4To20Linear, 10.0f, 90.0f);
  Words(kPumpUnsigned, kValueArea)[24] = 13107;
  EXPECT_FLOAT_EQ(ReadAnalog(linear).value, 10.0f);
  EXPECT_EQ(Send(linear, 10.0f), 0);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[24], 13107);
  Words(kPumpUnsigned, kWriteValueArea)[24] = 0;
  EXPECT_EQ(Send(linear, 2.0f), 0);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[24], 13107);

  Point root;
  Analog(root, "PUMP1:DIT:125", kSig4To20SquareRoot, 0.0f, 400.0f);
  EXPECT_EQ(Send(root, 100.0f), 0);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[25], 16384);
  Words(kPumpUnsigned, kValueArea)[25] = 16384;
  EXPECT_NEAR(ReadAnalog(root).value, 100.0f, 0.01f);
  // Below 4 mA there is no square root: EGU low, out of range.
  Words(kPumpUnsigned, kValueArea)[25] = 100;
  const Read below = ReadAnalog(root);
  EXPECT_FLOAT_EQ(below.value, 0.0f);
  EXPECT_EQ(below.valueStatus, kValueOutOfRange);
}

TEST_F(Data, OptionCodesUseTheDeviceTextsOptions) {
  Point point;
  Analog(point, "PUMP1:DIT:126", kSigRange);
  point.deviceText.optionLow = 100;
  point.deviceText.optionHigh = 3900;
  Words(kPumpUnsigned, kValueArea)[26] = 4000;
  EXPECT_FLOAT_EQ(ReadAnalog(point).value, 100.0f);
  EXPECT_EQ(Send(point, 50.0f), 0);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[26], 2050);
}

TEST_F(Data, AZeroSpanWriteIsRefusedAndChangesNothing) {
  Point point;
  Analog(point, "PUMP1:DIT:127", kSig12Bn, 5.0f, 0.0f);
  Runtime(kPumpUnsigned).accessCountdown = 3;
  EXPECT_EQ(Send(point, 5.0f), kNioKindMismatch);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteFlagArea)[27], 0);
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingWrites, 0);
  EXPECT_EQ(Runtime(kPumpUnsigned).accessCountdown, 3);
  EXPECT_EQ(Send(point, std::numeric_limits<float>::quiet_NaN()), kNioKindMismatch);
}

TEST_F(Data, FloatPairCodeSpansTwoRegistersAndFlagsBoth) {
  Point point;
  Analog(point, "PUMP1:DIT:128", kSigFloatPair);
  EXPECT_EQ(Send(point, 1.5f), 0);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[28], 0x3FC0);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[29], 0x0000);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteFlagArea)[29], 0xFFFF);
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingWrites, 32);
  Words(kPumpUnsigned, kValueArea)[28] = 0xC2F6;  // -123.0 = 0xC2F60000
  EXPECT_FLOAT_EQ(ReadAnalog(point).value, -123.0f);
  // The last register has no next one.
  Point last;
  Analog(last, "PUMP1:DIT:131", kSigFloatPair);
  EXPECT_EQ(ReadAnalog(last).status, kNioAddressError);
  EXPECT_EQ(Send(last, 1.5f), kNioAddressError);
}

TEST_F(Data, FloatRecordsHoldIeeeValuesAndRejectInvalidOnes) {
  Point point;
  Analog(point, "VALVE2:DIT:12", kSig12Bn);  // no conversion on float records
  SetFloat(kValveFloat, 1, 273.15f);
  Read read = ReadAnalog(point);
  EXPECT_FLOAT_EQ(read.value, 273.15f);
  EXPECT_EQ(read.valueStatus, 0);
  // The odd register of a pair names the same value.
  Point odd;
  Analog(odd, "VALVE2:DIT:13", kSigNone);
  EXPECT_FLOAT_EQ(ReadAnalog(odd).value, 273.15f);

  for (std::uint32_t bits : {0x7F800000u, 0x7FC00000u, 0x00000001u}) {
    Set32(kValveFloat, kValueArea, 1, bits);
    read = ReadAnalog(point);
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.value, 0.0f);
    EXPECT_EQ(read.valueStatus, kValueInvalidFloat);
    EXPECT_EQ(NioQuality(read.status, read.valueStatus, 0), 0);
  }

  EXPECT_EQ(Send(point, -2.5f), 0);
  float written = 0;
  const std::uint32_t writtenBits = Get32(kValveFloat, kWriteValueArea, 1);
  std::memcpy(&written, &writtenBits, 4);
  EXPECT_EQ(written, -2.5f);
  // The flag word numbered by the value index, not by the register.
  EXPECT_EQ(Words(kValveFloat, kWriteFlagArea)[1], 0xFFFF);
  EXPECT_EQ(Words(kValveFloat, kWriteFlagArea)[2], 0);
  EXPECT_EQ(Runtime(kValveFloat).pendingWrites, 16);
  EXPECT_EQ(Send(point, std::numeric_limits<float>::infinity()), kNioKindMismatch);
}

TEST_F(Data, ThirtyTwoBitIntegerRecords) {
  Point unsignedPoint;
  Analog(unsignedPoint, "VALVE2:DIT:24", kSigNone);
  Set32(kValveUnsigned32, kValueArea, 2, 3000000000u);
  EXPECT_FLOAT_EQ(ReadAnalog(unsignedPoint).value, 3e9f);
  EXPECT_EQ(Send(unsignedPoint, -1.0f), 0);
  EXPECT_EQ(Get32(kValveUnsigned32, kWriteValueArea, 2), 0u);
  EXPECT_EQ(Words(kValveUnsigned32, kWriteFlagArea)[2], 0xFFFF);

  Point signedPoint;
  Analog(signedPoint, "VALVE2:DIT:30", kSigNone);
  Set32(kValveSigned32, kValueArea, 0, static_cast<std::uint32_t>(-5));
  EXPECT_FLOAT_EQ(ReadAnalog(signedPoint).value, -5.0f);
  EXPECT_EQ(Send(signedPoint, -7.9f), 0);
  EXPECT_EQ(static_cast<std::int32_t>(Get32(kValveSigned32, kWriteValueArea, 0)), -7);
}

TEST_F(Data, OddRegisterCountsNeverReachBeyondTheArea) {
  // Three registers: the pair at registers 2..3 would leave the 6-byte area.
  Point point;
  Analog(point, "TEXTDEV:DIT:42", kSigNone);
  EXPECT_EQ(ReadAnalog(point).status, kNioAddressError);
  EXPECT_EQ(Send(point, 1.0f), kNioAddressError);
  Point first;
  Analog(first, "TEXTDEV:DIT:41", kSigNone);
  EXPECT_EQ(ReadAnalog(first).status, 0);
  (void)kOddFloat;
}

TEST_F(Data, ElementOffsetsMoveAnalogPointsAndMayNotLeaveTheRecord) {
  Point point;
  Analog(point, "PUMP1:DIT:120", kSigNone);
  Words(kPumpUnsigned, kValueArea)[25] = 777;
  point.address.elementOffset = 5;
  EXPECT_FLOAT_EQ(ReadAnalog(point).value, 777.0f);
  point.address.elementOffset = 11;  // register 131, the last one
  EXPECT_EQ(ReadAnalog(point).status, 0);
  Runtime(kPumpUnsigned).accessCountdown = 3;
  for (std::int16_t offset : {12, -21, 2000}) {
    point.address.elementOffset = offset;
    EXPECT_EQ(ReadAnalog(point).status, kNioAddressError) << offset;
    EXPECT_EQ(Send(point, 1.0f), kNioAddressError) << offset;
  }
  EXPECT_EQ(Runtime(kPumpUnsigned).accessCountdown, 3);  // not re-armed
  point.address.elementOffset = -20;  // register 100, the first
  EXPECT_EQ(ReadAnalog(point).status, 0);

  // Two registers per element on float records.
  Point pair;
  Analog(pair, "VALVE2:DIT:10", kSigNone);
  SetFloat(kValveFloat, 2, 3.0f);
  pair.address.elementOffset = 2;
  EXPECT_FLOAT_EQ(ReadAnalog(pair).value, 3.0f);
  pair.address.elementOffset = 4;
  EXPECT_EQ(ReadAnalog(pair).status, kNioAddressError);
}

TEST_F(Data, ElementOffsetsMoveDigitalPointsBitByBit) {
  Point point;
  ASSERT_EQ(Parse(point, "VALVE2:DIT:1:14", kValueKindDigital), 0);
  point.address.elementOffset = 3;  // bit 17 = register 2, bit 1
  Words(kValveDigital, kValueArea)[2] = 0x0002;
  EXPECT_EQ(ReadBit(point), 1);
  EXPECT_EQ(SendBit(point, 0), 0);
  EXPECT_EQ(Words(kValveDigital, kWriteFlagArea)[2], 0x0002);
  point.address.elementOffset = 49;  // bit 63 from register 1: register 4, beyond the record
  std::uint16_t status = 0;
  ReadBit(point, &status);
  EXPECT_EQ(status, kNioAddressError);
  // A text point ignores the element offset.
  Point text;
  ASSERT_EQ(Parse(text, "TEXTDEV:DIT:7", kValueKindText), 0);
  text.address.elementOffset = 100;
  char buffer[4];
  NioValue value{0, sizeof buffer, 0, buffer};
  nio_read(process, &status, &text.block, &text.valueSpec, &value);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(value.length, 2);
}

TEST_F(Data, DigitalWritesCountNewBitsAndWholeWords) {
  Point bit3;
  ASSERT_EQ(Parse(bit3, "VALVE2:DIT:1:3", kValueKindDigital), 0);
  Words(kValveDigital, kWriteValueArea)[1] = 0xFF00;
  EXPECT_EQ(SendBit(bit3, 1), 0);
  EXPECT_EQ(Words(kValveDigital, kWriteValueArea)[1], 0xFF08);
  EXPECT_EQ(Words(kValveDigital, kWriteFlagArea)[1], 0x0008);
  EXPECT_EQ(Runtime(kValveDigital).pendingWrites, 1);
  EXPECT_EQ(SendBit(bit3, 1), 0);  // already flagged
  EXPECT_EQ(Runtime(kValveDigital).pendingWrites, 1);

  Point bit8;
  ASSERT_EQ(Parse(bit8, "VALVE2:DIT:1:8", kValueKindDigital), 0);
  EXPECT_EQ(SendBit(bit8, 0, 2), 0);  // a 16-bit value
  EXPECT_EQ(Words(kValveDigital, kWriteValueArea)[1], 0xFE08);
  EXPECT_EQ(Runtime(kValveDigital).pendingWrites, 2);
  // Any non-zero value sets only the point's own bit.
  Point bit4;
  ASSERT_EQ(Parse(bit4, "VALVE2:DIT:1:4", kValueKindDigital), 0);
  EXPECT_EQ(SendBit(bit4, 0x0006, 2), 0);
  EXPECT_EQ(Words(kValveDigital, kWriteValueArea)[1], 0xFE18);
  EXPECT_EQ(Runtime(kValveDigital).pendingWrites, 3);
  // A value of another length writes nothing and says so.
  EXPECT_EQ(SendBit(bit4, 0, 3), kNioKindMismatch);
  EXPECT_EQ(Words(kValveDigital, kWriteValueArea)[1], 0xFE18);
  EXPECT_EQ(Runtime(kValveDigital).pendingWrites, 3);

  // A whole-word write on a clear flag word counts 16, then bits count nothing.
  Point word;
  Analog(word, "VALVE2:DIT:2", kSigNone);
  EXPECT_EQ(Send(word, 5.0f), 0);
  EXPECT_EQ(Runtime(kValveDigital).pendingWrites, 19);
  Point bitOfWord;
  ASSERT_EQ(Parse(bitOfWord, "VALVE2:DIT:2:9", kValueKindDigital), 0);
  EXPECT_EQ(SendBit(bitOfWord, 1), 0);
  EXPECT_EQ(Runtime(kValveDigital).pendingWrites, 19);
}

TEST_F(Data, DigitalReadsTakeTheBitsTimeStampWhereThereIsOne) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:101:5", kValueKindDigital), 0);
  Words(kPumpUnsigned, kValueArea)[1] = 0x0020;
  const std::uint64_t stamp = 0x01D9C0FFEE123456ull;
  std::memcpy(Image().Area(kPumpUnsigned, kTimeStampArea) + 8 * (16 + 5), &stamp, 8);
  EXPECT_EQ(process.lastTimeStamp, 0u);
  EXPECT_EQ(ReadBit(point), 1);
  EXPECT_EQ(process.lastTimeStamp, stamp);

  // A bit is one bit: its neighbours do not show.
  Point lowest;
  ASSERT_EQ(Parse(lowest, "VALVE2:DIT:1:0", kValueKindDigital), 0);
  Words(testing::kValveDigital, kValueArea)[1] = 0x0003;
  EXPECT_EQ(ReadBit(lowest), 1);
  Words(testing::kValveDigital, kValueArea)[1] = 0xFFFE;
  EXPECT_EQ(ReadBit(lowest), 0);
  Words(testing::kValveDigital, kValueArea)[1] = 0;

  // Digital records have no time stamps: the last one stays.
  Point valve;
  ASSERT_EQ(Parse(valve, "VALVE2:DIT:0:0", kValueKindDigital), 0);
  EXPECT_EQ(ReadBit(valve), 0);
  EXPECT_EQ(process.lastTimeStamp, stamp);
}

// What the VARIANT functions build on: the value in its VARIANT form, the
// quality and the last time stamp, or the reasons to leave the VARIANT alone.
TEST_F(Data, ReadsForVariantsCarryKindQualityAndTimeStamp) {
  Point analog, bit, text;
  Analog(analog, "PUMP1:DIT:101", 3);
  ASSERT_EQ(Parse(bit, "PUMP1:DIT:102:2", kValueKindDigital), 0);
  ASSERT_EQ(Parse(text, "TEXTDEV:DIT:2", kValueKindText), 0);
  Words(kPumpUnsigned, kValueArea)[1] = 2048;
  Words(kPumpUnsigned, kValueArea)[2] = 0x0004;
  const std::uint64_t stamp = 0x01D9C0FFEE654321ull;
  std::memcpy(Image().Area(kPumpUnsigned, kTimeStampArea) + 8 * (2 * 16 + 2), &stamp, 8);

  std::uint16_t status = 0xEEEE, quality = 0x0101;
  std::uint64_t timeStamp = 99;
  NioVariantRead read = NioReadForVariant(process, &status, &analog.block, &analog.valueSpec, &timeStamp, &quality);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quality, kQualityGood);
  EXPECT_EQ(read.kind, NioVariantKind::kFloat);
  EXPECT_NEAR(read.number, 50.0122f, 0.0001f);
  EXPECT_EQ(timeStamp, 0u);

  read = NioReadForVariant(process, &status, &bit.block, &bit.valueSpec, &timeStamp, &quality);
  EXPECT_EQ(read.kind, NioVariantKind::kBoolean);
  EXPECT_TRUE(read.boolean);
  EXPECT_EQ(timeStamp, stamp);

  EXPECT_EQ(NioReadForVariant(process, &status, &text.block, &text.valueSpec, &timeStamp, &quality).kind,
            NioVariantKind::kText);
  EXPECT_EQ(NioReadForVariant(process, &status, &analog.block, &analog.valueSpec, nullptr, nullptr).kind,
            NioVariantKind::kText);  // no quality: the VARIANT stays as it is
  analog.valueSpec.valueKind = 4;
  quality = 0x01C1;
  read = NioReadForVariant(process, &status, &analog.block, &analog.valueSpec, nullptr, &quality);
  EXPECT_EQ(read.kind, NioVariantKind::kUnsupported);
  EXPECT_EQ(status, kNioUnsupportedKind);
  EXPECT_EQ(quality, 0x0101);  // the read itself failed: bad, the kept bits stay
}

TEST_F(Data, ConvertedVariantsAreSentAsNumbersAndBits) {
  Point analog, bit;
  Analog(analog, "PUMP1:DIT:101", 3);
  ASSERT_EQ(Parse(bit, "VALVE2:DIT:1:6", kValueKindDigital), 0);
  std::uint16_t status = 0xEEEE;
  NioSendNumber(process, &status, &analog.block, &analog.valueSpec, 50.0f);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Words(kPumpUnsigned, kWriteValueArea)[1], 2048);
  NioSendBoolean(process, &status, &bit.block, &bit.valueSpec, true);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Words(kValveDigital, kWriteValueArea)[1], 1u << 6);
  NioSendBoolean(process, &status, &bit.block, &bit.valueSpec, false);
  EXPECT_EQ(Words(kValveDigital, kWriteValueArea)[1], 0);
}

TEST_F(Data, KindsThatDoNotFitTheRecordAreRefused) {
  Runtime(kValveFloat).accessCountdown = 3;
  Point digitalOnFloat;
  ASSERT_EQ(Parse(digitalOnFloat, "VALVE2:DIT:10:1", kValueKindDigital), 0);
  std::uint16_t status = 0;
  ReadBit(digitalOnFloat, &status);
  EXPECT_EQ(status, kNioKindMismatch);
  EXPECT_EQ(SendBit(digitalOnFloat, 1), kNioKindMismatch);
  EXPECT_EQ(Runtime(kValveFloat).accessCountdown, 3);

  Point textOnDigital;
  ASSERT_EQ(Parse(textOnDigital, "VALVE2:DIT:0", kValueKindText), 0);
  char buffer[8];
  NioValue value{0, sizeof buffer, 0, buffer};
  nio_read(process, &status, &textOnDigital.block, &textOnDigital.valueSpec, &value);
  EXPECT_EQ(status, kNioKindMismatch);

  Point otherKind;
  ASSERT_EQ(Parse(otherKind, "PUMP1:DIT:120", 4), 0);
  EXPECT_EQ(ReadAnalog(otherKind).status, kNioKindMismatch);

  Point small;
  Analog(small, "PUMP1:DIT:120", kSigNone);
  EXPECT_EQ(ReadAnalog(small, 2).status, kNioKindMismatch);
  EXPECT_EQ(Send(small, 1.0f, 2), kNioKindMismatch);
  NioValue noBuffer{0, 4, 0, nullptr};
  nio_read(process, &status, &small.block, &small.valueSpec, &noBuffer);
  EXPECT_EQ(status, kNioKindMismatch);
}

// Register numbers take 11 bits: 1023, 1024 and 2047 are registers of their
// own through parse, resolve, read and write; 2048 and above wrap.
TEST_F(Data, RegistersUpTo2047AreParsedResolvedReadAndWritten) {
  Reload([](DitConfiguration& configuration) {
    auto& records = configuration.channels[0].devices[0].pollRecords;
    records.push_back(testing::SamplePollRecord(1020, 8, kDataUnsigned));
    records.push_back(testing::SamplePollRecord(2040, 8, kDataUnsigned));
  });
  struct Case {
    const char* text;
    int registerNumber;
    std::uint16_t recordStart;
  };
  for (const Case& c : {Case{"PUMP1:DIT:1023", 1023, 1020}, Case{"PUMP1:DIT:1024", 1024, 1020},
                        Case{"PUMP1:DIT:1027", 1027, 1020}, Case{"PUMP1:DIT:2040", 2040, 2040},
                        Case{"PUMP1:DIT:2047", 2047, 2040}, Case{"PUMP1:DIT:2148", 100, 100}}) {
    SCOPED_TRACE(c.text);
    Point point;
    Analog(point, c.text, kSigNone);
    EXPECT_EQ(RegisterOf(point.address), c.registerNumber);
    const int record = ResolvedIndexOf(point.address);
    ASSERT_GE(record, 0);
    EXPECT_EQ(StartAddressOf(Image().PollRecord(record)->addressWord), c.recordStart);
    const int offset = c.registerNumber - c.recordStart;
    Words(record, kValueArea)[offset] = static_cast<std::uint16_t>(c.registerNumber + 1);
    EXPECT_FLOAT_EQ(ReadAnalog(point).value, static_cast<float>(c.registerNumber + 1));
    ASSERT_EQ(Send(point, 4321.0f), 0);
    EXPECT_EQ(Words(record, kWriteValueArea)[offset], 4321);
    EXPECT_EQ(Words(record, kWriteFlagArea)[offset], 0xFFFF);
  }
  Point outside;
  EXPECT_EQ(Parse(outside, "PUMP1:DIT:1028"), kNioAddressError);  // between the two records
  EXPECT_EQ(Parse(outside, "PUMP1:DIT:2048"), kNioAddressError);  // wraps to 0, which PUMP1 has no DIT record for
}

TEST_F(Data, TextPointsReadAndWriteCharacters) {
  Point point;
  ASSERT_EQ(Parse(point, "TEXTDEV:DIT:2", kValueKindText), 0);
  std::memcpy(Image().Area(kTextRecord, kValueArea), "0123456789ABCDEF", 16);
  char buffer[32] = {};
  NioValue value{0xEE, 5, 0, buffer};
  std::uint16_t status = 0xEEEE;
  nio_read(process, &status, &point.block, &point.valueSpec, &value);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(value.tag, kValueTagText);
  EXPECT_EQ(value.length, 5);
  EXPECT_EQ(std::string(buffer, 5), "45678");
  value.length = sizeof buffer;  // more than the area holds from register 2
  nio_read(process, &status, &point.block, &point.valueSpec, &value);
  EXPECT_EQ(value.length, 12);
  EXPECT_EQ(std::string(buffer, 12), "456789ABCDEF");

  char hello[] = "HELLO";
  NioValue text{kValueTagText, 5, 0, hello};
  std::memset(Image().Area(kTextRecord, kWriteValueArea), '#', 16);
  nio_send(process, &status, &point.block, &point.valueSpec, &text);
  EXPECT_EQ(status, 0);
  const auto* written = reinterpret_cast<const char*>(Image().Area(kTextRecord, kWriteValueArea));
  EXPECT_EQ(std::string(written + 4, 7), std::string("HELLO\0#", 7));
  const std::uint16_t* flags = Words(kTextRecord, kWriteFlagArea);
  EXPECT_EQ(flags[1], 0);
  EXPECT_EQ(flags[2], 0xFFFF);
  EXPECT_EQ(flags[3], 0xFFFF);
  EXPECT_EQ(flags[4], 0xFFFF);
  EXPECT_EQ(flags[5], 0);
  EXPECT_EQ(Runtime(kTextRecord).pendingWrites, 48);

  // At the last register only two characters fit.
  Point last;
  ASSERT_EQ(Parse(last, "TEXTDEV:DIT:7", kValueKindText), 0);
  nio_send(process, &status, &last.block, &last.valueSpec, &text);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(written + 14, 2), "HE");
  EXPECT_EQ(Runtime(kTextRecord).pendingWrites, 64);
}

TEST_F(Data, RecordsInFailureDeliverTheirStatusInsteadOfAValue) {
  Point point;
  Analog(point, "PUMP1:DIT:120", kSig12Bn);
  Image().PollRecord(kPumpUnsigned)->status = kStatusCommFailure;
  Read read = ReadAnalog(point);
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.valueStatus, kValueCommFailure);
  EXPECT_EQ(read.value, -999.0f);  // nothing delivered
  EXPECT_EQ(read.length, 0);
  EXPECT_EQ(NioQuality(read.status, read.valueStatus, 0), kQualityCommFailure);
  EXPECT_EQ(NioQuality(read.status, read.valueStatus, 0x1203), 0x1203 + 24);
  EXPECT_EQ(NioQuality(read.status, read.valueStatus, 0x12FF), 0x1203 + 24);

  Image().PollRecord(kPumpUnsigned)->status = kStatusStopped;
  read = ReadAnalog(point);
  EXPECT_EQ(read.valueStatus, kValueNotPolled);
  EXPECT_EQ(NioQuality(read.status, read.valueStatus, 0), kQualityOutOfService);
}

TEST_F(Data, AFailedRecordsChangeIsCollectedEvenForAnUnregisteredPoint) {
  Point point;
  Analog(point, "PUMP1:DIT:120", kSigNone);
  point.address.elementOffset = 3;  // not used for the failure's entry
  Image().PollRecord(kPumpUnsigned)->status = kStatusCommFailure;
  Exception(kPumpUnsigned, 20).changed = 1;
  Runtime(kPumpUnsigned).pendingExceptions = 3;
  ReadAnalog(point);
  EXPECT_EQ(Exception(kPumpUnsigned, 20).changed, 0);
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingExceptions, 2);
}

TEST_F(Data, RegisteredPointsCollectTheirChangeAtTheirEffectivePosition) {
  Point point;
  Analog(point, "PUMP1:DIT:120", kSigNone);
  point.address.elementOffset = 3;
  Exception(kPumpUnsigned, 23).changed = 1;
  Runtime(kPumpUnsigned).pendingExceptions = 1;
  ReadAnalog(point);  // not registered: the change stays
  EXPECT_EQ(Exception(kPumpUnsigned, 23).changed, 1);
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingExceptions, 1);
  point.deviceText.notificationFlag = 1;
  ReadAnalog(point);
  EXPECT_EQ(Exception(kPumpUnsigned, 23).changed, 0);
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingExceptions, 0);
  Exception(kPumpUnsigned, 23).changed = 1;
  ReadAnalog(point);  // pending never goes below 0
  EXPECT_EQ(Runtime(kPumpUnsigned).pendingExceptions, 0);

  // Digital records have one entry per bit; pair records one per two registers.
  Point bit;
  ASSERT_EQ(Parse(bit, "VALVE2:DIT:1:2", kValueKindDigital), 0);
  bit.deviceText.notificationFlag = 1;
  Exception(kValveDigital, 18).changed = 1;
  Runtime(kValveDigital).pendingExceptions = 1;
  ReadBit(bit);
  EXPECT_EQ(Exception(kValveDigital, 18).changed, 0);
  EXPECT_EQ(Runtime(kValveDigital).pendingExceptions, 0);
  Point pair;
  Analog(pair, "VALVE2:DIT:35", kSigNone);
  pair.deviceText.notificationFlag = 1;
  Exception(kValveSigned32, 2).changed = 1;
  ReadAnalog(pair);
  EXPECT_EQ(Exception(kValveSigned32, 2).changed, 0);
}

TEST_F(Data, EveryAccessReArmsTheAccessCountdown) {
  Point point;
  Analog(point, "PUMP1:DIT:120", kSigNone);
  Runtime(kPumpUnsigned).accessCountdown = 5;
  Runtime(kPumpUnsigned).accessExpired = 1;
  ReadAnalog(point);
  EXPECT_EQ(Runtime(kPumpUnsigned).accessCountdown, 6000);
  EXPECT_EQ(Runtime(kPumpUnsigned).accessExpired, 0);
  Runtime(kPumpUnsigned).accessCountdown = 5;
  Runtime(kPumpUnsigned).accessExpired = 1;
  EXPECT_EQ(Send(point, 1.0f), 0);
  EXPECT_EQ(Runtime(kPumpUnsigned).accessCountdown, 6000);
  EXPECT_EQ(Runtime(kPumpUnsigned).accessExpired, 0);
  EXPECT_EQ(Runtime(kPumpUnsigned).entryLock, 'U');
  EXPECT_EQ(Image().PollRecord(kPumpUnsigned)->dataLock, 'U');
}

TEST_F(Data, ADeadHoldersDataLockIsOverriddenAfter31Looks) {
  Point point;
  Analog(point, "PUMP1:DIT:120", kSigNone);
  Image().PollRecord(kPumpUnsigned)->dataLock = 'L';
  const std::uint64_t before = system.clock;
  EXPECT_EQ(ReadAnalog(point).status, 0);
  EXPECT_EQ(system.clock - before, 31u);
  EXPECT_EQ(Image().PollRecord(kPumpUnsigned)->dataLock, 'U');
}

TEST_F(Data, AReadWaitsForTheDriverToFinishStoringValues) {
  Point point;
  Analog(point, "PUMP1:DIT:120", kSigNone);
  DitPollRecord& record = *Image().PollRecord(kPumpUnsigned);
  record.dataLock = 'L';
  Words(kPumpUnsigned, kValueArea)[20] = 1;
  int sleeps = 0;
  system.onSleep = [&] {
    if (++sleeps == 3) {
      Words(kPumpUnsigned, kValueArea)[20] = 2;  // the driver's store completes
      record.dataLock = 'U';
    }
  };
  EXPECT_FLOAT_EQ(ReadAnalog(point).value, 2.0f);
  EXPECT_EQ(sleeps, 3);
}

TEST_F(Data, PointsFollowAReloadThatMovesTheirRecord) {
  Point point;
  Analog(point, "TEXTDEV:DIT:3", kSigNone);
  Words(kTextRecord, kValueArea)[3] = 11;
  EXPECT_FLOAT_EQ(ReadAnalog(point).value, 11.0f);
  Reload([](DitConfiguration& configuration) {
    std::swap(configuration.channels[1].devices[0], configuration.channels[1].devices[1]);
  });
  const int moved = kTextRecord + 1;  // behind ABCDEFGHIJK's record
  Words(moved, kValueArea)[3] = 22;
  EXPECT_FLOAT_EQ(ReadAnalog(point).value, 22.0f);
  EXPECT_EQ(ResolvedIndexOf(point.address), moved);
  EXPECT_EQ(Send(point, 33.0f), 0);
  EXPECT_EQ(Words(moved, kWriteValueArea)[3], 33);
  EXPECT_EQ(Runtime(moved).pendingWrites, 16);
  (void)kLongName;
}

TEST_F(Data, UnresolvedPointsAreRefusedWithoutTouchingTheImage) {
  Point point;
  EXPECT_EQ(ReadAnalog(point).status, kNioAddressError);  // never parsed: channel 0, device 0, no record
  Point undefined;
  ASSERT_EQ(Parse(undefined, ""), 0);
  EXPECT_EQ(ReadAnalog(undefined).status, kNioAddressError);
  EXPECT_EQ(Send(undefined, 1.0f), kNioAddressError);
  std::uint16_t status = 0;
  nio_read(process, &status, nullptr, nullptr, nullptr);
  EXPECT_EQ(status, kNioAddressError);
}

TEST(Quality, GoodBadAndUncertainCodes) {
  EXPECT_EQ(NioQuality(0, 0, 0x1234), 192);
  EXPECT_EQ(NioQuality(514, 0, 0x1203), 0x1203);
  EXPECT_EQ(NioQuality(0, kValueOutOfRange, 0xFFFF), 0xFF03 + 84);
  EXPECT_EQ(NioQuality(0, kValueNotPolled, 0), 28);
  EXPECT_EQ(NioQuality(0, kValueInvalidFloat, 0), 0);
}

}  // namespace
}  // namespace vrt
