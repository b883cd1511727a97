#include "opc_arguments.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(OpcArguments, EveryCommandRunsInAnApartmentOrProcessOfItsChoice) {
  std::string error;
  auto arguments = ParseOpcArguments({"watch", "A:DIT:1", "--sta", "--seconds", "2"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_TRUE(arguments->sta);
  EXPECT_FALSE(arguments->localServer);
  arguments = ParseOpcArguments({"status", "--local-server", "--sta"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_TRUE(arguments->sta && arguments->localServer);
  arguments = ParseOpcArguments({"browse", "PUMPS", "--local-server"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_TRUE(arguments->localServer);
  EXPECT_EQ(arguments->operands, std::vector<std::string>{"PUMPS"});
  EXPECT_FALSE(ParseOpcArguments({"status", "--sta=1"}, error));
}

TEST(OpcArguments, UsageErrorsAreNamed) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"subscribe", "A:DIT:1"}, "unknown command \"subscribe\""},
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
      {{"status", "--type", "R4"}, "--type belongs to items, read, write and watch"},
      {{"status", "A:DIT:1"}, "unexpected \"A:DIT:1\""},
  };
  for (const auto& [words, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseOpcArguments(words, error)) << ::testing::PrintToString(words);
    EXPECT_EQ(error, expected) << ::testing::PrintToString(words);
  }
}

struct WatchCase {
  std::vector<std::string> words;
  std::vector<std::string> operands;
  std::uint32_t updateRate;
  float deadband;
  std::uint32_t seconds;
  bool da1;
  std::uint16_t requestedType;
};

TEST(OpcArguments, WatchTakesItsOptionsInAnyOrder) {
  const WatchCase cases[] = {
      {{"watch", "A:DIT:1"}, {"A:DIT:1"}, 1000, 0.0f, 0, false, 0},
      {{"watch", "--rate", "250", "A:DIT:1", "B:DIT:2"}, {"A:DIT:1", "B:DIT:2"}, 250, 0.0f, 0, false, 0},
      {{"watch", "A:DIT:1", "--da1", "--seconds", "5", "--rate", "0"}, {"A:DIT:1"}, 0, 0.0f, 5, true, 0},
      {{"watch", "--deadband", "2.5", "--type", "bstr", "A:DIT:1$8", "--seconds", "0"}, {"A:DIT:1$8"}, 1000, 2.5f,
       0, false, 8},
      {{"watch", "--seconds", "30", "--deadband", "100", "A", "--deadband", "0", "B", "--rate", "4294967295"},
       {"A", "B"}, 4294967295u, 0.0f, 30, false, 0},
      {{"watch", "A", "--deadband", "-0"}, {"A"}, 1000, 0.0f, 0, false, 0},
      {{"watch", "A", "--deadband", "0.001"}, {"A"}, 1000, 0.001f, 0, false, 0},
  };
  for (const WatchCase& expected : cases) {
    std::string error;
    const auto arguments = ParseOpcArguments(expected.words, error);
    const std::string words = ::testing::PrintToString(expected.words);
    ASSERT_TRUE(arguments) << words << ": " << error;
    EXPECT_EQ(arguments->command, OpcCommand::kWatch) << words;
    EXPECT_EQ(arguments->operands, expected.operands) << words;
    EXPECT_EQ(arguments->updateRate, expected.updateRate) << words;
    EXPECT_EQ(arguments->deadband, expected.deadband) << words;
    EXPECT_FALSE(std::signbit(arguments->deadband)) << words;
    EXPECT_EQ(arguments->seconds, expected.seconds) << words;
    EXPECT_EQ(arguments->da1, expected.da1) << words;
    EXPECT_EQ(arguments->requestedType, expected.requestedType) << words;
  }
}

TEST(OpcArguments, BrowseAndPropsTakeTheirOperands) {
  struct BrowseCase {
    std::vector<std::string> words;
    OpcCommand command;
    std::vector<std::string> operands;
    std::string filter;
    bool flat;
  };
  const BrowseCase cases[] = {
      {{"browse"}, OpcCommand::kBrowse, {}, "", false},
      {{"browse", "PUMPS"}, OpcCommand::kBrowse, {"PUMPS"}, "", false},
      {{"browse", "--filter", "P*"}, OpcCommand::kBrowse, {}, "P*", false},
      {{"browse", "--filter", "DIT:1*", "PUMPS"}, OpcCommand::kBrowse, {"PUMPS"}, "DIT:1*", false},
      {{"browse", "--filter", ""}, OpcCommand::kBrowse, {}, "", false},
      {{"browse", "--flat"}, OpcCommand::kBrowse, {}, "", true},
      {{"browse", "--flat", "VALVES"}, OpcCommand::kBrowse, {"VALVES"}, "", true},
      {{"browse", "--filter", "--flat"}, OpcCommand::kBrowse, {}, "--flat", false},  // the filter's value
      {{"props", "PUMPS:DIT:0"}, OpcCommand::kProps, {"PUMPS:DIT:0"}, "", false},
      {{"props", "TURBINE:DIT:50$8"}, OpcCommand::kProps, {"TURBINE:DIT:50$8"}, "", false},
  };
  for (const BrowseCase& expected : cases) {
    std::string error;
    const auto arguments = ParseOpcArguments(expected.words, error);
    const std::string words = ::testing::PrintToString(expected.words);
    ASSERT_TRUE(arguments) << words << ": " << error;
    EXPECT_EQ(arguments->command, expected.command) << words;
    EXPECT_EQ(arguments->operands, expected.operands) << words;
    EXPECT_EQ(arguments->filter, expected.filter) << words;
    EXPECT_EQ(arguments->flat, expected.flat) << words;
  }
}

TEST(OpcArguments, WatchBrowseAndPropsUsageErrorsAreNamed) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"watch"}, "name at least one item ID"},
      {{"watch", "--rate", "100", "--da1"}, "name at least one item ID"},
      {{"watch", "A", "--rate"}, "--rate needs a value"},
      {{"watch", "A", "--rate", "-1"}, "--rate needs a whole number of milliseconds (0 or more), not \"-1\""},
      {{"watch", "A", "--rate", "fast"}, "--rate needs a whole number of milliseconds (0 or more), not \"fast\""},
      {{"watch", "A", "--rate", "1.5"}, "--rate needs a whole number of milliseconds (0 or more), not \"1.5\""},
      {{"watch", "A", "--rate", "+5"}, "--rate needs a whole number of milliseconds (0 or more), not \"+5\""},
      {{"watch", "A", "--rate", ""}, "--rate needs a whole number of milliseconds (0 or more), not \"\""},
      {{"watch", "A", "--rate", "4294967296"},
       "--rate needs a whole number of milliseconds (0 or more), not \"4294967296\""},
      {{"watch", "A", "--seconds", "-3"}, "--seconds needs a whole number of seconds (0 or more), not \"-3\""},
      {{"watch", "A", "--seconds", "10s"}, "--seconds needs a whole number of seconds (0 or more), not \"10s\""},
      {{"watch", "A", "--seconds"}, "--seconds needs a value"},
      {{"watch", "A", "--deadband", "-0.5"}, "--deadband needs a percentage from 0 to 100, not \"-0.5\""},
      {{"watch", "A", "--deadband", "100.5"}, "--deadband needs a percentage from 0 to 100, not \"100.5\""},
      {{"watch", "A", "--deadband", "half"}, "--deadband needs a percentage from 0 to 100, not \"half\""},
      {{"watch", "A", "--deadband", "nan"}, "--deadband needs a percentage from 0 to 100, not \"nan\""},
      {{"watch", "A", "--deadband", "5%"}, "--deadband needs a percentage from 0 to 100, not \"5%\""},
      {{"watch", "A", "--deadband"}, "--deadband needs a value"},
      {{"watch", "A", "--flat"}, "--flat belongs to browse"},
      {{"watch", "A", "--filter", "X"}, "--filter belongs to browse"},
      {{"watch", "A", "--device"}, "--device belongs to read"},
      {{"read", "A", "--da1"}, "--da1 belongs to watch"},
      {{"read", "A", "--rate", "100"}, "--rate belongs to watch"},
      {{"items", "A", "--seconds", "1"}, "--seconds belongs to watch"},
      {{"write", "A", "1", "--deadband", "1"}, "--deadband belongs to watch"},
      {{"browse", "--da1"}, "--da1 belongs to watch"},
      {{"browse", "--type", "R4"}, "--type belongs to items, read, write and watch"},
      {{"browse", "A", "B"}, "browse takes at most one device name"},
      {{"browse", "--filter"}, "--filter needs a value"},
      {{"browse", "--flat", "--filter", "P*"}, "--filter does not go with --flat, which lists every name"},
      {{"browse", "--filter", "P*", "--flat"}, "--filter does not go with --flat, which lists every name"},
      {{"props"}, "props takes one item ID"},
      {{"props", "A", "B"}, "props takes one item ID"},
      {{"props", "A", "--flat"}, "--flat belongs to browse"},
      {{"props", "A", "--type", "R4"}, "--type belongs to items, read, write and watch"},
      {{"status", "--filter", "X"}, "--filter belongs to browse"},
  };
  for (const auto& [words, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseOpcArguments(words, error)) << ::testing::PrintToString(words);
    EXPECT_EQ(error, expected) << ::testing::PrintToString(words);
  }
}

TEST(OpcArguments, UsageNamesEveryCommand) {
  const std::string usage = OpcUsage();
  for (const char* command : {"opc status", "opc items", "opc read", "opc write", "opc watch", "opc browse",
                              "opc props", "--rate MS", "--deadband P", "--seconds S", "--da1", "--filter F",
                              "--flat"}) {
    EXPECT_NE(usage.find(command), std::string::npos) << command;
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

TEST(OpcArguments, ValueBrowseAndPropertyLinesHaveTheirShapes) {
  EXPECT_EQ(ValueLine("PUMPS:DIT:0", "12.5", 4, 0xC0, "2026-12-08 14:00:00.123"),
            "PUMPS:DIT:0 = 12.5 R4 good [192] 2026-12-08 14:00:00.123");
  EXPECT_EQ(ValueLine("VALVES:DIT:0:1", "true", 11, 0x18, "2026-12-08 14:00:00.000"),
            "VALVES:DIT:0:1 = true BOOL bad: communication failure [24] 2026-12-08 14:00:00.000");
  EXPECT_EQ(ValueLine("TURBINE:DIT:50$8", "", 8, 0x1C, "-"), "TURBINE:DIT:50$8 =  BSTR bad: out of service [28] -");
  EXPECT_EQ(BrowsedLeafLine("PUMPS:DIT:0", "DIT:0 - 7"), "PUMPS:DIT:0  (DIT:0 - 7)");
  EXPECT_EQ(PropertyLine(1, "Item Canonical Data Type", "4"), "1 Item Canonical Data Type = 4");
  EXPECT_EQ(PropertyLine(100, "EU Units", ""), "100 EU Units = ");
  EXPECT_EQ(PropertyErrorLine(2, "Item Value", 0xC0040203u, "The property ID is not valid for the item.\r\n"),
            "2 Item Value: error 0xC0040203 The property ID is not valid for the item.");
}

}  // namespace
}  // namespace vrt::tool
