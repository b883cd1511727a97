// Address texts to address records and back, re-resolution after reloads,
// the signal-conditioning dictionary and the hardware options.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "nio_addressing.h"
#include "nio_test_plant.h"

namespace vrt {
namespace {

using testing::CountLogged;
using testing::kLongName;
using testing::kPumpEvents;
using testing::kPumpUnsigned;
using testing::kTextRecord;
using testing::kValveDigital;
using testing::Plant;
using testing::Point;

class Addressing : public Plant {
 protected:
  std::string Format(Point& point, std::size_t capacity = 64) {
    std::vector<char> text(capacity + 1, '#');
    std::uint16_t status = 0xEEEE;
    nio_daddr(client.mapping, &status, &point.block, &point.valueSpec, text.data(), capacity);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(text[capacity], '#');  // nothing beyond the capacity
    return text.data();
  }
};

TEST_F(Addressing, AFullAddressResolvesToItsPollRecord) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:120"), 0);
  EXPECT_EQ(RegisterOf(point.address), 120);
  EXPECT_EQ(BitOf(point.address), 0);
  EXPECT_EQ(PointPollKindOf(point.address), kPollKindDit);
  EXPECT_EQ(ChannelOf(point.address), 0);
  EXPECT_EQ(DeviceNumberOf(point.address), 0);
  EXPECT_EQ(ResolvedIndexOf(point.address), kPumpUnsigned);
  EXPECT_EQ(GenerationTagOf(point.address), 0);
  EXPECT_NE(point.address.resolution & kResolvedMark, 0u);
  EXPECT_STREQ(point.deviceText.deviceName, "PUMP1");
  EXPECT_EQ(point.valueSpec.valueKind, kValueKindAnalog);

  Point second;
  ASSERT_EQ(Parse(second, "TEXTDEV:DIT:7"), 0);
  EXPECT_EQ(ChannelOf(second.address), 1);
  EXPECT_EQ(DeviceNumberOf(second.address), 0);
  EXPECT_EQ(ResolvedIndexOf(second.address), kTextRecord);
}

TEST_F(Addressing, ThePollKindMustMatchTheRecord) {
  Point point;
  EXPECT_EQ(Parse(point, "PUMP1:EVENT:120"), kNioAddressError);
  EXPECT_EQ(point.address.resolution, 0u);
  ASSERT_EQ(Parse(point, "PUMP1,EVENT,2"), 0);
  EXPECT_EQ(ResolvedIndexOf(point.address), kPumpEvents);
  EXPECT_EQ(PointPollKindOf(point.address), kPollKindEvent);
  // Only the first letter counts: anything but D is EVENT.
  ASSERT_EQ(Parse(point, "PUMP1:X:3"), 0);
  EXPECT_EQ(ResolvedIndexOf(point.address), kPumpEvents);
}

TEST_F(Addressing, EverySeparatorAndAnyCaseAreAccepted) {
  for (const char* text : {"pump1:d:120", "PUMP1;DIT;120", "PUMP1,DIT,120", "PUMP1.DIT.120", "PUMP1/DIT/120",
                           "PUMP1\\DIT\\120", "pump1 d 120", "Pump1:dit: 120", "PUMP1:DIT:2168"}) {
    Point point;
    ASSERT_EQ(Parse(point, text), 0) << text;
    EXPECT_EQ(RegisterOf(point.address), 120) << text;  // 2168 wraps modulo 2048
    EXPECT_EQ(ResolvedIndexOf(point.address), kPumpUnsigned) << text;
    EXPECT_STREQ(point.deviceText.deviceName, "PUMP1") << text;
  }
}

TEST_F(Addressing, DigitalPointsNeedABitAndKeepItModulo16) {
  Point point;
  EXPECT_EQ(Parse(point, "VALVE2:DIT:1", kValueKindDigital), kNioAddressError);
  ASSERT_EQ(Parse(point, "VALVE2:DIT:1:19", kValueKindDigital), 0);
  EXPECT_EQ(BitOf(point.address), 3);
  EXPECT_EQ(ResolvedIndexOf(point.address), kValveDigital);
  ASSERT_EQ(Parse(point, "valve2 d 2 15", kValueKindDigital), 0);
  EXPECT_EQ(RegisterOf(point.address), 2);
  EXPECT_EQ(BitOf(point.address), 15);
  // Analog and text points take no bit.
  ASSERT_EQ(Parse(point, "VALVE2:DIT:1:7", kValueKindAnalog), 0);
  EXPECT_EQ(BitOf(point.address), 0);
}

TEST_F(Addressing, ValueKindFiveDecidesFromTheAddress) {
  Point analog;
  ASSERT_EQ(Parse(analog, "PUMP1:DIT:120", kValueKindFromAddress), 0);
  EXPECT_EQ(analog.valueSpec.valueKind, kValueKindAnalog);
  Point digital;
  ASSERT_EQ(Parse(digital, "VALVE2:DIT:1:5", kValueKindFromAddress), 0);
  EXPECT_EQ(digital.valueSpec.valueKind, kValueKindDigital);
  EXPECT_EQ(BitOf(digital.address), 5);
}

TEST_F(Addressing, TheDevicePartIsCutToTenCharacters) {
  EXPECT_EQ(nio_find_dev(client.mapping, "ABCDEFGHIJK"), 1);
  EXPECT_EQ(nio_find_dev(client.mapping, "abcdefghijk"), 1);
  Point point;
  EXPECT_EQ(Parse(point, "ABCDEFGHIJK:DIT:0"), kNioAddressError);
  // A ten-character prefix of another name is not that name.
  EXPECT_EQ(nio_find_dev(client.mapping, "ABCDEFGHIJ"), 0);
  (void)kLongName;
}

// An image may have 32 channels: the devices of the last one are found,
// resolved and have their channel's statistics.
TEST_F(Addressing, DevicesOfTheThirtySecondChannelAreFound) {
  Reload([](DitConfiguration& configuration) {
    while (configuration.channels.size() < 32) {
      const auto number = static_cast<std::uint8_t>(configuration.channels.size() + 1);
      configuration.channels.push_back(testing::SampleChannel(
          number, {testing::SampleDevice("CH" + std::to_string(number), 1, {testing::SamplePollRecord(0, 2)})}));
    }
  });
  EXPECT_EQ(nio_find_dev(client.mapping, "CH31"), 1);
  EXPECT_EQ(nio_find_dev(client.mapping, "CH32"), 1);
  Point point;
  ASSERT_EQ(Parse(point, "CH32:DIT:1"), 0);
  EXPECT_EQ(ChannelOf(point.address), 31);
  EXPECT_EQ(DeviceNumberOf(point.address), 0);
  EXPECT_EQ(StartAddressOf(Image().PollRecord(ResolvedIndexOf(point.address))->addressWord), 0);
}

TEST_F(Addressing, DeviceLookupRefusesNullUnknownAndOverlongNames) {
  EXPECT_EQ(nio_find_dev(client.mapping, nullptr), 0);
  EXPECT_EQ(nio_find_dev(client.mapping, "NOPE"), 0);
  EXPECT_EQ(nio_find_dev(client.mapping, "pump1"), 1);
  EXPECT_EQ(nio_find_dev(client.mapping, std::string(31, 'X').c_str()), 0);
  EXPECT_EQ(nio_find_dev(client.mapping, std::string(40, 'P').c_str()), 0);
}

TEST_F(Addressing, FailuresLeaveTheClientsRecordAsItWas) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:120"), 0);
  point.address.registerWord |= 0xABC00000u;  // the client's own bits
  const NioAddress before = point.address;
  const NioDeviceText textBefore = point.deviceText;
  for (const char* text : {"PUMP1", "PUMP1:DIT", "NOPE:DIT:1", "PUMP1:DIT:150", "PUMP1:EVENT:100", ":DIT:1"}) {
    EXPECT_EQ(Parse(point, text), kNioAddressError) << text;
    EXPECT_EQ(std::memcmp(&point.address, &before, sizeof before), 0) << text;
    EXPECT_EQ(std::memcmp(&point.deviceText, &textBefore, sizeof textBefore), 0) << text;
  }
  ASSERT_EQ(Parse(point, "PUMP1:DIT:121"), 0);
  EXPECT_EQ(point.address.registerWord & 0xFFF00000u, 0xABC00000u);
}

TEST_F(Addressing, OverlongTextsAndNullRecordsAreRefused) {
  Point point;
  const std::string longest = "PUMP1:DIT:120" + std::string(kMaxAddressText - 13, ' ');
  EXPECT_EQ(Parse(point, longest.c_str()), 0);
  EXPECT_EQ(Parse(point, (longest + " ").c_str()), kNioAddressError);
  std::uint16_t status = 0;
  nio_paddr(client.mapping, &status, &point.block, &point.valueSpec, nullptr);
  EXPECT_EQ(status, kNioAddressError);
  NioBlock empty{};
  nio_paddr(client.mapping, &status, &empty, &point.valueSpec, "PUMP1:DIT:120");
  EXPECT_EQ(status, kNioAddressError);
  nio_paddr(client.mapping, nullptr, &point.block, &point.valueSpec, "PUMP1:DIT:120");  // no status wanted
  EXPECT_EQ(ResolveAddress(client.mapping, nullptr), -1);
}

TEST_F(Addressing, TheEmptyTextMarksTheAddressUndefined) {
  Point point;
  ASSERT_EQ(Parse(point, "PUMP1:DIT:120"), 0);
  EXPECT_EQ(Parse(point, ""), 0);
  EXPECT_EQ(DeviceNumberOf(point.address), kUndefinedDevice);
  EXPECT_EQ(ResolveAddress(client.mapping, &point.block), -1);
  EXPECT_EQ(Format(point), "--UNDEFINED--");
}

TEST_F(Addressing, AddressesFormatBackToText) {
  Point analog;
  ASSERT_EQ(Parse(analog, "pump1,d,120"), 0);
  EXPECT_EQ(Format(analog), "PUMP1:DIT:120");
  Point event;
  ASSERT_EQ(Parse(event, "PUMP1:E:2"), 0);
  EXPECT_EQ(Format(event), "PUMP1:EVENT:2");
  Point digital;
  ASSERT_EQ(Parse(digital, "VALVE2:DIT:1:19", kValueKindDigital), 0);
  EXPECT_EQ(Format(digital), "VALVE2:DIT:1:3");
  EXPECT_EQ(Format(digital, 4), "VAL");
  EXPECT_EQ(Format(digital, 1), "");
  // A device number beyond the channel's devices is undefined too.
  SetChannelAndDevice(analog.address, 0, 7);
  EXPECT_EQ(Format(analog), "--UNDEFINED--");
}

TEST_F(Addressing, AReloadThatMovesTheDeviceIsFollowedByName) {
  Point point;
  ASSERT_EQ(Parse(point, "TEXTDEV:DIT:3"), 0);
  ASSERT_EQ(ResolveAddress(client.mapping, &point.block), kTextRecord);

  // TEXTDEV moves behind ABCDEFGHIJK, and channel 0 gains a device.
  Reload([](DitConfiguration& configuration) {
    std::swap(configuration.channels[1].devices[0], configuration.channels[1].devices[1]);
    configuration.channels[0].devices.push_back(
        testing::SampleDevice("NEW", 9, {testing::SamplePollRecord(0, 2, kDataUnsigned)}));
  });
  const int moved = ResolveAddress(client.mapping, &point.block);
  EXPECT_EQ(moved, 9);  // 7 of PUMP1 and VALVE2, 1 of NEW, 1 of ABCDEFGHIJK
  EXPECT_EQ(ChannelOf(point.address), 1);
  EXPECT_EQ(DeviceNumberOf(point.address), 1);
  EXPECT_EQ(GenerationTagOf(point.address), 1);
  EXPECT_EQ(ResolvedIndexOf(point.address), moved);
  EXPECT_EQ(client.mapping.AttachedGeneration(), 1);
  // The next access reuses the resolution.
  const std::uint32_t resolution = point.address.resolution;
  EXPECT_EQ(ResolveAddress(client.mapping, &point.block), moved);
  EXPECT_EQ(point.address.resolution, resolution);
}

TEST_F(Addressing, ADeviceGoneAfterAReloadIsReportedOnceAndStaysUndefined) {
  Point point;
  ASSERT_EQ(Parse(point, "TEXTDEV:DIT:3"), 0);
  Reload([](DitConfiguration& configuration) { configuration.channels[1].devices.erase(configuration.channels[1].devices.begin()); });
  EXPECT_EQ(ResolveAddress(client.mapping, &point.block), -1);
  EXPECT_EQ(DeviceNumberOf(point.address), kUndefinedDevice);
  EXPECT_EQ(ResolveAddress(client.mapping, &point.block), -1);
  EXPECT_EQ(CountLogged("IO Address Err: Device name not found - TEXTDEV"), 1);
  EXPECT_EQ(testing::CapturedLog().back().attribute, kAttrInformation);
}

TEST_F(Addressing, AStaleResolutionWhoseTagMatchesAgainIsNotTrusted) {
  Reload([](DitConfiguration&) {});  // generation 1
  Point point;
  ASSERT_EQ(Parse(point, "TEXTDEV:DIT:3"), 0);
  EXPECT_EQ(GenerationTagOf(point.address), 1);
  // Three more reloads (2, 3, 1) without an access to this point (the
  // process follows them through other accesses); the last one moves TEXTDEV
  // so that its old record index now holds another device's register 3.
  Reload([](DitConfiguration&) {});
  ASSERT_NE(client.mapping.nio_map_hdr(), nullptr);
  Reload([](DitConfiguration&) {});
  ASSERT_NE(client.mapping.nio_map_hdr(), nullptr);
  Reload([](DitConfiguration& configuration) {
    std::swap(configuration.channels[1].devices[0], configuration.channels[1].devices[1]);
  });
  ASSERT_NE(client.mapping.nio_map_hdr(), nullptr);
  ASSERT_EQ(Block().MapGeneration, 1);
  EXPECT_EQ(ResolveAddress(client.mapping, &point.block), 8);
  EXPECT_EQ(DeviceNumberOf(point.address), 1);
}

TEST(SignalConditioning, NamesMatchByTheirSignificantCharacters) {
  struct Case {
    const char* name;
    int code;
  };
  const Case cases[] = {{"", -1},       {"XYZ", -1},  {"none", -1}, {"4MAL", -1}, {"12B", 3},  {"12BN", 3},
                        {"12AL", 4},    {"15BN", 5},  {"15AL", 6},  {"15", -1},   {"NONE", 0}, {"N", 0},
                        {"LINEAR", 8},  {"3BCD", 1},  {"3", 1},     {"4BCD", 2},  {"4B", 2},   {"4maL", 20},
                        {"4maS", 21},   {"16SQ", 22}, {"16S", -1},  {nullptr, -1}};
  for (const Case& c : cases) {
    Point point;
    point.address.signalConditioning = 99;
    std::uint16_t status = 0xEEEE;
    nio_psig(&status, &point.block, &point.valueSpec, c.name);
    EXPECT_EQ(status, 0) << (c.name ? c.name : "null");
    EXPECT_EQ(point.address.signalConditioning, c.code) << (c.name ? c.name : "null");
  }
}

TEST(SignalConditioning, ReverseLookupGivesTheFullNameOrUnknown) {
  auto nameAfter = [](const char* name) {
    Point point;
    std::uint16_t status = 0;
    nio_psig(&status, &point.block, &point.valueSpec, name);
    char text[8] = "#######";
    nio_dsig(&status, &point.block, &point.valueSpec, text, sizeof text);
    EXPECT_EQ(status, 0);
    return std::string(text);
  };
  EXPECT_EQ(nameAfter("12BN"), "12BN");
  EXPECT_EQ(nameAfter("LINEAR"), "LIN");
  EXPECT_EQ(nameAfter("4maS"), "4maS");
  EXPECT_EQ(nameAfter("XYZ"), "*?*");
  EXPECT_EQ(nameAfter("N"), "NONE");
  EXPECT_STREQ(SignalConditioningName(SignalConditioningDictionary(), 17), "*?*");
  Point point;
  point.address.signalConditioning = 5;
  char small[3] = "##";
  nio_dsig(nullptr, &point.block, &point.valueSpec, small, sizeof small);
  EXPECT_STREQ(small, "15");
}

TEST(SignalConditioning, AnEntryBelowMinusOneEndsTheLookupWithoutAMatch) {
  const SignalConditioningEntry table[] = {{-3, "", 0}, {2, "AB", 9}, {0, "", -7}, {0, "", -1}};
  EXPECT_EQ(LookUpSignalConditioning(table, "ABC"), 9);
  EXPECT_EQ(LookUpSignalConditioning(table, "XY"), kNoSignalConditioning);
  EXPECT_STREQ(SignalConditioningName(table, 9), "AB");
  EXPECT_STREQ(SignalConditioningName(table, -1), "*?*");
  // The scan gives up after 255 entries.
  std::vector<SignalConditioningEntry> many(300, SignalConditioningEntry{3, "QQQ", 1});
  many[280] = SignalConditioningEntry{0, "", -1};
  EXPECT_EQ(LookUpSignalConditioning(many, "ZZZ"), kNoSignalConditioning);
  many[200] = SignalConditioningEntry{0, "", -1};
  EXPECT_EQ(LookUpSignalConditioning(many, "ZZZ"), -1);
}

TEST(SignalConditioning, NullRecordsAreRefused) {
  std::uint16_t status = 0;
  nio_psig(&status, nullptr, nullptr, "12BN");
  EXPECT_EQ(status, kNioAddressError);
  char text[8];
  nio_dsig(&status, nullptr, nullptr, text, sizeof text);
  EXPECT_EQ(status, kNioAddressError);
}

class HardwareOptions : public ::testing::Test {
 protected:
  std::string RoundTrip(int code, const char* text, std::uint8_t valueKind = kValueKindAnalog) {
    point.address.signalConditioning = static_cast<std::int16_t>(code);
    point.address.optionWord = 0x5555;
    point.valueSpec.valueKind = valueKind;
    std::uint16_t status = 0xEEEE;
    nio_popt(&status, &point.block, &point.valueSpec, text);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(point.address.optionWord, 0);
    char out[32];
    std::memset(out, '#', sizeof out);
    nio_dopt(&status, &point.block, &point.valueSpec, out, sizeof out);
    EXPECT_EQ(status, 0);
    return out;
  }
  Point point;
};

TEST_F(HardwareOptions, RangeCodesStoreLowAndSpan) {
  EXPECT_EQ(RoundTrip(15, "100:4000"), "100:4000");
  EXPECT_EQ(point.deviceText.optionLow, 100);
  EXPECT_EQ(point.deviceText.optionHigh, 3900);
  EXPECT_EQ(RoundTrip(16, "-50:950"), "-50:950");
  EXPECT_EQ(point.deviceText.optionLow, -50);
  EXPECT_EQ(point.deviceText.optionHigh, 1000);
}

TEST_F(HardwareOptions, NumbersFarApartGiveTheirSpanIn16BitsWithoutOverflow) {
  // The span from -99999999 to 2147483647 is more than a signed 32-bit
  // difference holds (and the sanitizer build stops on signed overflow);
  // the span keeps its low 16 bits.
  RoundTrip(15, "-99999999 2147483647");
  EXPECT_EQ(point.deviceText.optionLow, static_cast<std::int16_t>(0x1F01));
  EXPECT_EQ(point.deviceText.optionHigh, 0xE0FE);
  RoundTrip(16, "99999999:-2147483648");
  EXPECT_EQ(point.deviceText.optionLow, static_cast<std::int16_t>(0xE0FF));
  EXPECT_EQ(point.deviceText.optionHigh, 0x1F01);
}

TEST_F(HardwareOptions, ShiftAndMaskStoreBothNumbers) {
  EXPECT_EQ(RoundTrip(17, "4:15"), "4:15");
  EXPECT_EQ(point.deviceText.optionLow, 4);
  EXPECT_EQ(point.deviceText.optionHigh, 15);
  EXPECT_EQ(RoundTrip(17, "2:65535"), "2:65535");
}

TEST_F(HardwareOptions, WithoutAColonTheFieldsAreFixed) {
  EXPECT_EQ(RoundTrip(15, "      100     4000"), "100:4000");
  // Too short for a second field: the second number is 0, nothing is read beyond the text.
  const std::string shortText = "100";
  RoundTrip(17, shortText.c_str());
  EXPECT_EQ(point.deviceText.optionLow, 100);
  EXPECT_EQ(point.deviceText.optionHigh, 0);
  // A colon beyond position 8 is not a separator.
  RoundTrip(17, "000000007:3");
  EXPECT_EQ(point.deviceText.optionLow, 7);
  EXPECT_EQ(point.deviceText.optionHigh, 3);  // the number from position 10 on
}

TEST_F(HardwareOptions, OtherCodesAndKindsShowNoOptions) {
  EXPECT_EQ(RoundTrip(3, "100:4000"), "");
  EXPECT_EQ(point.deviceText.optionLow, 100);  // stored all the same
  point.deviceText = NioDeviceText{};
  EXPECT_EQ(RoundTrip(15, "100:4000", kValueKindDigital), "");
  EXPECT_EQ(point.deviceText.optionLow, 0);  // digital points take no options
  EXPECT_EQ(point.deviceText.optionHigh, 0);
}

TEST(DecimalNumbers, ParseLikeTheStandardConversion) {
  EXPECT_EQ(ParseDecimal("  42abc"), 42);
  EXPECT_EQ(ParseDecimal("-17"), -17);
  EXPECT_EQ(ParseDecimal("+8"), 8);
  EXPECT_EQ(ParseDecimal("x1"), 0);
  EXPECT_EQ(ParseDecimal(""), 0);
  EXPECT_EQ(ParseDecimal(nullptr), 0);
  EXPECT_EQ(ParseDecimal("4294967297"), 1);  // wraps, no undefined overflow
}

}  // namespace
}  // namespace vrt
