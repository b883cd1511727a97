#include "nio_arguments.h"

#include <gtest/gtest.h>

namespace vrt::tool {
namespace {

std::optional<NioArguments> Parse(const std::vector<std::string>& words, std::string* error = nullptr) {
  std::string ignored;
  return ParseNioArguments(words, error ? *error : ignored);
}

TEST(NioArguments, PointOptionsAreReadIntoTheSettings) {
  const auto arguments = Parse({"read", "PUMPS:DIT:100", "--sig", "4maL", "--egu", "-10:90", "--decimals", "3",
                                "--options", "100:4000", "--offset", "-2", "--kind", "Analog"});
  ASSERT_TRUE(arguments);
  EXPECT_EQ(arguments->command, NioCommand::kRead);
  EXPECT_EQ(arguments->operands, std::vector<std::string>{"PUMPS:DIT:100"});
  EXPECT_EQ(arguments->point.signalConditioning, "4maL");
  EXPECT_EQ(arguments->point.eguLow, -10.0f);
  EXPECT_EQ(arguments->point.eguHigh, 90.0f);
  EXPECT_EQ(arguments->point.decimals, 3);
  EXPECT_EQ(arguments->point.hardwareOptions, "100:4000");
  EXPECT_EQ(arguments->point.elementOffset, -2);
  EXPECT_EQ(arguments->point.valueKind, 1);
}

TEST(NioArguments, DefaultsLetTheAddressDecideTheKind) {
  const auto arguments = Parse({"watch", "VALVES:DIT:0:3", "PUMPS:DIT:100", "--seconds", "2.5"});
  ASSERT_TRUE(arguments);
  EXPECT_EQ(arguments->point.valueKind, 5);
  EXPECT_EQ(arguments->operands.size(), 2u);
  EXPECT_EQ(arguments->seconds, 2.5);
  EXPECT_EQ(arguments->intervalMs, 100);
  EXPECT_EQ(Parse({})->command, NioCommand::kHelp);
  EXPECT_EQ(Parse({"write", "A:D:1", "5", "--help"})->command, NioCommand::kHelp);
}

TEST(NioArguments, UsageErrorsAreNamed) {
  std::string error;
  EXPECT_FALSE(Parse({"frobnicate"}, &error));
  EXPECT_EQ(error, "unknown command \"frobnicate\"");
  EXPECT_FALSE(Parse({"read"}, &error));
  EXPECT_EQ(error, "name at least one address");
  EXPECT_FALSE(Parse({"write", "PUMPS:DIT:100"}, &error));
  EXPECT_EQ(error, "write takes an address and a value");
  EXPECT_FALSE(Parse({"read", "X:D:1", "--egu", "10"}, &error));
  EXPECT_EQ(error, "bad value \"10\" for --egu");
  EXPECT_FALSE(Parse({"read", "X:D:1", "--kind", "float"}, &error));
  EXPECT_FALSE(Parse({"read", "X:D:1", "--decimals", "10"}, &error));
  EXPECT_FALSE(Parse({"read", "X:D:1", "--offset", "40000"}, &error));
  EXPECT_FALSE(Parse({"read", "X:D:1", "--sig"}, &error));
  EXPECT_EQ(error, "--sig needs a value");
  EXPECT_FALSE(Parse({"watch", "X:D:1", "--interval", "0"}, &error));
  EXPECT_FALSE(Parse({"watch", "X:D:1", "--seconds", "-1"}, &error));
  EXPECT_FALSE(Parse({"stats", "0"}, &error));
  EXPECT_EQ(error, "bad channel \"0\"");
  EXPECT_FALSE(Parse({"stats", "--sig", "LIN"}, &error));
  EXPECT_EQ(error, "point options belong to read, write and watch");
  EXPECT_FALSE(Parse({"messages", "extra"}, &error));
  EXPECT_FALSE(Parse({"read", "X:D:1", "--bogus", "1"}, &error));
  EXPECT_EQ(error, "unknown option --bogus");
}

TEST(NioArguments, QualitiesAndStatusesReadAsText) {
  EXPECT_EQ(QualityText(192), "good");
  EXPECT_EQ(QualityText(84), "uncertain: EGU units exceeded");
  EXPECT_EQ(QualityText(24), "bad: communication failure");
  EXPECT_EQ(QualityText(0x0100 + 28 + 1), "bad: out of service");  // caller's kept bits do not hide it
  EXPECT_EQ(QualityText(0), "bad");
  EXPECT_EQ(StatusText(514), "address error");
  EXPECT_EQ(StatusText(4242), "status 4242");
}

TEST(NioArguments, ValuesTheUserTypes) {
  EXPECT_EQ(ParseDigital("ON"), true);
  EXPECT_EQ(ParseDigital("false"), false);
  EXPECT_FALSE(ParseDigital("2"));
  EXPECT_EQ(ParseNumber("-12.5"), -12.5);
  EXPECT_FALSE(ParseNumber("12abc"));
  EXPECT_FALSE(ParseNumber("inf"));
  EXPECT_FALSE(ParseNumber(""));
}

TEST(NioArguments, EveryWatchedPointHasAKeyThatComesBackToIt) {
  for (int point : {0, 1, 254, 255, 300, 65535}) {
    std::uint8_t key[4];
    KeyOfPoint(point, key);
    EXPECT_NE(key[0], 0) << point;  // a zero key byte is never reported
    EXPECT_EQ(PointOfKey(key, 65536), point);
  }
  std::uint8_t key[4];
  KeyOfPoint(5, key);
  EXPECT_EQ(PointOfKey(key, 5), -1);
  key[0] = 9;
  EXPECT_EQ(PointOfKey(key, 10), -1);
}

}  // namespace
}  // namespace vrt::tool
