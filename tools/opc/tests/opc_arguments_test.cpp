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

TEST(OpcArguments, Da3CommandsTakeTheirOptions) {
  std::string error;
  auto arguments = ParseOpcArguments({"browse3"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_EQ(arguments->command, OpcCommand::kBrowse3);
  EXPECT_EQ(arguments->maxElements, 0u);
  EXPECT_FALSE(arguments->properties);
  arguments = ParseOpcArguments({"browse3", "--props", "PUMPS", "--max", "500", "--sta"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_EQ(arguments->operands, std::vector<std::string>{"PUMPS"});
  EXPECT_EQ(arguments->maxElements, 500u);
  EXPECT_TRUE(arguments->properties && arguments->sta);

  arguments = ParseOpcArguments({"read", "A:DIT:1", "--max-age", "4294967295", "B:DIT:2"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_EQ(arguments->command, OpcCommand::kRead);
  EXPECT_EQ(arguments->operands, (std::vector<std::string>{"A:DIT:1", "B:DIT:2"}));
  EXPECT_EQ(arguments->maxAge, std::optional<std::uint32_t>(0xFFFFFFFFu));
  arguments = ParseOpcArguments({"read", "A:DIT:1", "--max-age", "0", "--local-server"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_EQ(arguments->maxAge, std::optional<std::uint32_t>(0u));
  EXPECT_TRUE(arguments->localServer);
  arguments = ParseOpcArguments({"read", "A:DIT:1"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_FALSE(arguments->maxAge);

  arguments = ParseOpcArguments({"write", "A:DIT:1", "-5", "--vqt", "--quality", "192", "--time",
                                 "2026-12-08T14:00:00.5"},
                                error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_TRUE(arguments->vqt);
  EXPECT_EQ(arguments->operands, (std::vector<std::string>{"A:DIT:1", "-5"}));
  EXPECT_EQ(arguments->quality, std::optional<std::uint16_t>(192));
  EXPECT_EQ(arguments->timeStamp, FileTimeOfText("2026-12-08T14:00:00.5000000"));
  arguments = ParseOpcArguments({"write", "A:DIT:1", "7", "--vqt"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_TRUE(arguments->vqt);
  EXPECT_FALSE(arguments->quality || arguments->timeStamp);

  arguments = ParseOpcArguments({"watch", "A:DIT:1", "--keep-alive", "1500", "--rate", "250"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_EQ(arguments->keepAlive, std::optional<std::uint32_t>(1500u));
  EXPECT_EQ(arguments->updateRate, 250u);

  arguments = ParseOpcArguments({"deadband", "A:DIT:1", "12.5", "--sta", "--local-server"}, error);
  ASSERT_TRUE(arguments) << error;
  EXPECT_EQ(arguments->command, OpcCommand::kDeadband);
  EXPECT_EQ(arguments->operands, (std::vector<std::string>{"A:DIT:1", "12.5"}));
  EXPECT_EQ(arguments->percent, 12.5f);
}

TEST(OpcArguments, Da3UsageErrorsAreNamed) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"browse3", "A", "B"}, "browse3 takes at most one branch"},
      {{"browse3", "--max", "0"}, "--max needs a whole number of elements (1 or more), not \"0\""},
      {{"browse3", "--max", "-3"}, "--max needs a whole number of elements (1 or more), not \"-3\""},
      {{"browse3", "--max"}, "--max needs a value"},
      {{"browse3", "--flat"}, "--flat belongs to browse"},
      {{"browse", "--props"}, "--props belongs to browse3"},
      {{"read", "A:DIT:1", "--max-age", "soon"},
       "--max-age needs a whole number of milliseconds (0 to 4294967295), not \"soon\""},
      {{"read", "A:DIT:1", "--max-age", "4294967296"},
       "--max-age needs a whole number of milliseconds (0 to 4294967295), not \"4294967296\""},
      {{"read", "A:DIT:1", "--max-age", "0", "--device"},
       "--max-age does not go with --device: the age decides where the value comes from, in the item's own type"},
      {{"read", "A:DIT:1", "--max-age", "0", "--type", "R8"},
       "--max-age does not go with --type: the age decides where the value comes from, in the item's own type"},
      {{"read", "--max-age", "0"}, "name at least one item ID"},
      {{"items", "A:DIT:1", "--max-age", "0"}, "--max-age belongs to read"},
      {{"write", "A:DIT:1", "1", "--quality", "192"}, "--quality needs --vqt"},
      {{"write", "A:DIT:1", "1", "--time", "2026-12-08T14:00:00"}, "--time needs --vqt"},
      {{"write", "A:DIT:1", "1", "--vqt", "--quality", "65536"},
       "--quality needs a whole number from 0 to 65535 (192 is good), not \"65536\""},
      {{"write", "A:DIT:1", "1", "--vqt", "--time", "yesterday"},
       "--time needs a UTC time as 2026-12-08T14:00:00[.123], not \"yesterday\""},
      {{"write", "A:DIT:1", "--vqt"}, "write takes an item ID and a value"},
      {{"read", "A:DIT:1", "--vqt"}, "--vqt belongs to write"},
      {{"watch", "A:DIT:1", "--keep-alive", "1.5"},
       "--keep-alive needs a whole number of milliseconds (0 to 4294967295), not \"1.5\""},
      {{"read", "A:DIT:1", "--keep-alive", "100"}, "--keep-alive belongs to watch"},
      {{"deadband", "A:DIT:1"}, "deadband takes an item ID and a percentage"},
      {{"deadband", "A:DIT:1", "5", "B:DIT:2"}, "deadband takes an item ID and a percentage"},
      {{"deadband", "A:DIT:1", "101"}, "deadband needs a percentage from 0 to 100, not \"101\""},
      {{"deadband", "A:DIT:1", "ten"}, "deadband needs a percentage from 0 to 100, not \"ten\""},
      {{"deadband", "A:DIT:1", "5", "--rate", "10"}, "--rate belongs to watch"},
  };
  for (const auto& [words, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseOpcArguments(words, error)) << ::testing::PrintToString(words);
    EXPECT_EQ(error, expected) << ::testing::PrintToString(words);
  }
}

TEST(OpcArguments, UtcTimesBecomeFileTimeCounts) {
  // 1601-01-01 is the count's zero; 1970-01-01 lies 11644473600 s later.
  EXPECT_EQ(FileTimeOfText("1601-01-01T00:00:00"), std::optional<std::uint64_t>(0));
  EXPECT_EQ(FileTimeOfText("1970-01-01T00:00:00"), std::optional<std::uint64_t>(116444736000000000ull));
  EXPECT_EQ(FileTimeOfText("1970-01-01 00:00:01.25"), std::optional<std::uint64_t>(116444736012500000ull));
  // 2024-02-29 12:34:56.1234567 = 1709210096 s after 1970.
  EXPECT_EQ(FileTimeOfText("2024-02-29T12:34:56.1234567"),
            std::optional<std::uint64_t>((1709210096ull + 11644473600ull) * 10000000ull + 1234567));
  for (const char* wrong : {"2023-02-29T00:00:00", "2026-13-01T00:00:00", "2026-12-08T24:00:00", "1600-12-31T23:59:59",
                            "2026-12-08", "2026-12-08T14:00:00.", "2026-12-08T14:00:00.12345678",
                            "2026-12-08T14:00:00Z", "2026/12/08T14:00:00", "2026-12-08T1a:00:00"}) {
    EXPECT_FALSE(FileTimeOfText(wrong)) << wrong;
  }
}

TEST(OpcArguments, Da3LinesHaveTheirShapes) {
  EXPECT_EQ(BrowseElementLine("PUMPS", "PUMPS", 1), "PUMPS  branch");
  EXPECT_EQ(BrowseElementLine("DIT 256", "PUMPS:DIT:256", 2), "DIT 256  item PUMPS:DIT:256");
  EXPECT_EQ(BrowseElementLine("X", "A:X", 3), "X  branch, item A:X");
  EXPECT_EQ(BrowseElementLine("Y", "", 0), "Y  (neither branch nor item)");
  EXPECT_EQ(KeepAliveLine("2026-12-08 14:00:00.123"), "keep-alive 2026-12-08 14:00:00.123");
  EXPECT_EQ(DeadbandResultLine("PUMPS:DIT:256", 12.5f, 0, ""), "PUMPS:DIT:256 deadband 12.5%: ok");
  EXPECT_EQ(DeadbandResultLine("PUMPS:DIT:512:0", 5.0f, 0xC0040401u, "The item has no deadband.\r\n"),
            "PUMPS:DIT:512:0 deadband 5%: error 0xC0040401 The item has no deadband.");
  const std::string usage = OpcUsage();
  for (const char* named : {"browse3", "--max-age", "--vqt", "--keep-alive", "deadband ITEMID PERCENT"}) {
    EXPECT_NE(usage.find(named), std::string::npos) << named;
  }
}

}  // namespace
}  // namespace vrt::tool
