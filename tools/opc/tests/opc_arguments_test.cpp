#include "opc_arguments.h"

#include <gtest/gtest.h>

#include <limits>

namespace vrt::tool {
namespace {

struct ParseCase {
  std::vector<std::string> words;
  OpcCommand command;
  std::vector<std::string> operands;
  bool device;
  std::uint16_t requestedType;
};

TEST(OpcArguments, OptionsAreTakenInAnyPosition) {
  const ParseCase cases[] = {
      {{}, OpcCommand::kHelp, {}, false, 0},
      {{"status"}, OpcCommand::kStatus, {}, false, 0},
      {{"read", "--device", "A:DIT:1", "B:DIT:2"}, OpcCommand::kRead, {"A:DIT:1", "B:DIT:2"}, true, 0},
      {{"read", "A:DIT:1", "--type", "r8", "B:DIT:2", "--device"}, OpcCommand::kRead, {"A:DIT:1", "B:DIT:2"}, true, 5},
      {{"items", "--type", "BSTR", "A:DIT:1"}, OpcCommand::kItems, {"A:DIT:1"}, false, 8},
      {{"write", "--type", "I2", "A:DIT:1", "-12"}, OpcCommand::kWrite, {"A:DIT:1", "-12"}, false, 2},
      {{"write", "A:DIT:1", "on", "--type", "Bool"}, OpcCommand::kWrite, {"A:DIT:1", "on"}, false, 11},
      {{"write", "A:DIT:1", "x", "--type", "EMPTY"}, OpcCommand::kWrite, {"A:DIT:1", "x"}, false, 0},
      {{"read", "A:DIT:1", "--type", "I4", "--type", "R4"}, OpcCommand::kRead, {"A:DIT:1"}, false, 4},
      {{"write", "A:DIT:1", "5", "--help"}, OpcCommand::kHelp, {"A:DIT:1", "5"}, false, 0},
      {{"items", "--type", "R4", "-h", "--bogus"}, OpcCommand::kHelp, {}, false, 4},  // nothing after it counts
  };
  for (const ParseCase& expected : cases) {
    std::string error;
    const auto arguments = ParseOpcArguments(expected.words, error);
    const std::string words = ::testing::PrintToString(expected.words);
    ASSERT_TRUE(arguments) << words << ": " << error;
    EXPECT_EQ(arguments->command, expected.command) << words;
    EXPECT_EQ(arguments->operands, expected.operands) << words;
    EXPECT_EQ(arguments->device, expected.device) << words;
    EXPECT_EQ(arguments->requestedType, expected.requestedType) << words;
  }
}

TEST(OpcArguments, UsageErrorsAreNamed) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"browse"}, "unknown command \"browse\""},
      {{"--device"}, "unknown command \"--device\""},
      {{"read"}, "name at least one item ID"},
      {{"read", "--device", "--type", "R4"}, "name at least one item ID"},
      {{"items"}, "name at least one item ID"},
      {{"write", "A:DIT:1"}, "write takes an item ID and a value"},
      {{"write", "A:DIT:1", "1", "2"}, "write takes an item ID and a value"},
      {{"read", "A:DIT:1", "--type", "FLOAT"}, "unknown type \"FLOAT\" (EMPTY, BOOL, I2, I4, R4, R8 or BSTR)"},
      {{"read", "A:DIT:1", "--type"}, "--type needs a value"},
      {{"read", "A:DIT:1", "--cache"}, "unknown option --cache"},
      {{"items", "A:DIT:1", "--device"}, "--device belongs to read"},
      {{"write", "A:DIT:1", "1", "--device"}, "--device belongs to read"},
      {{"status", "--type", "R4"}, "--type belongs to items, read and write"},
      {{"status", "A:DIT:1"}, "unexpected \"A:DIT:1\""},
  };
  for (const auto& [words, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseOpcArguments(words, error)) << ::testing::PrintToString(words);
    EXPECT_EQ(error, expected) << ::testing::PrintToString(words);
  }
}

TEST(OpcArguments, TypeNamesAndNumbersMatch) {
  for (const char* name : {"EMPTY", "BOOL", "I2", "I4", "R4", "R8", "BSTR"}) {
    const auto type = VarTypeOfName(name);
    ASSERT_TRUE(type) << name;
    EXPECT_EQ(VarTypeName(*type), name);
  }
  EXPECT_EQ(VarTypeOfName("bool"), 11);
  EXPECT_EQ(VarTypeOfName("BSTR"), 8);
  EXPECT_FALSE(VarTypeOfName("VT 17"));
  EXPECT_FALSE(VarTypeOfName(""));
  EXPECT_EQ(VarTypeName(17), "VT 17");
  EXPECT_EQ(VarTypeName(0x2005), "VT 8197");  // an array of R8
}

TEST(OpcArguments, QualitiesReadAsText) {
  const std::pair<std::uint16_t, const char*> cases[] = {
      {0xC0, "good"},
      {0xD8, "good, local override"},
      {0x40, "uncertain"},
      {0x44, "uncertain: last usable"},
      {0x54, "uncertain: EGU exceeded"},
      {0x00, "bad"},
      {0x04, "bad: configuration error"},
      {0x08, "bad: not connected"},
      {0x0C, "bad: device failure"},
      {0x10, "bad: sensor failure"},
      {0x14, "bad: last known value"},
      {0x18, "bad: communication failure"},
      {0x1C, "bad: out of service"},
      {0xC0 | 0x02, "good"},               // limit bits do not change the text
      {0x0100 | 0x54 | 0x01, "uncertain: EGU exceeded"},  // nor does the vendor byte
      {0xC4, "good"},                      // a sub-status without a name
      {0x58, "uncertain"},
      {0x20, "bad"},
      {0x80, "bad"},                       // quality 10 is not in use
  };
  for (const auto& [quality, text] : cases) EXPECT_EQ(OpcQualityText(quality), text) << quality;
}

TEST(OpcArguments, NumbersAndCodesReadAsText) {
  EXPECT_EQ(HresultText(0xC0040007u), "0xC0040007");
  EXPECT_EQ(HresultText(0), "0x00000000");
  EXPECT_EQ(HresultText(0x0004000Eu), "0x0004000E");
  EXPECT_EQ(RealText(12.5f), "12.5");
  EXPECT_EQ(RealText(0.1f), "0.1");  // not 0.100000001
  EXPECT_EQ(RealText(16777215.0f), "16777215");
  EXPECT_EQ(RealText(-3.0), "-3");
  EXPECT_EQ(RealText(0.1 + 0.2), "0.30000000000000004");  // an R8 keeps every digit it has
  EXPECT_EQ(RealText(1e20), "1e+20");
  EXPECT_EQ(RealText(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(ServerStateText(1), "running");
  EXPECT_EQ(ServerStateText(3), "no configuration");
  EXPECT_EQ(ServerStateText(5), "test");
  EXPECT_EQ(ServerStateText(6), "unknown (6)");
}

TEST(OpcArguments, ResultLinesStayOnOneLine) {
  EXPECT_EQ(ItemErrorLine("X:DIT:1", 0xC0040008u, "Item ID was invalid and not found.\r\n"),
            "X:DIT:1: error 0xC0040008 Item ID was invalid and not found.");
  EXPECT_EQ(WriteResultLine("A:DIT:1", "12.5", 0, ""), "A:DIT:1 <- 12.5: ok");
  EXPECT_EQ(WriteResultLine("A:DIT:1", "99999", 0x0004000Eu, "clamped"), "A:DIT:1 <- 99999: ok");
  EXPECT_EQ(WriteResultLine("A:DIT:1", "x", 0xC0040006u, "Not writable. \n"),
            "A:DIT:1 <- x: error 0xC0040006 Not writable.");
}

}  // namespace
}  // namespace vrt::tool
