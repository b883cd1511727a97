// The network file: the example that ships, defaults, and the messages for
// files that are wrong.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "dit_codes.h"
#include "network_file.h"

namespace vrt::sim {
namespace {

std::string ReadExample() {
  std::ifstream file(VRT_SIM_EXAMPLE_NETWORK, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(NetworkFile, TheShippedExampleDescribesTwoCardsAndFiveStations) {
  NetworkSpec network;
  std::string error;
  ASSERT_TRUE(ParseNetwork(ReadExample(), &network, &error)) << error;
  EXPECT_EQ(network.controlPort, 5819);
  ASSERT_EQ(network.cards.size(), 2u);
  const CardSpec& card0 = network.cards[0];
  EXPECT_EQ(card0.card, 0);
  EXPECT_EQ(card0.port, 5820);
  EXPECT_EQ(card0.baudRate, 0);
  ASSERT_EQ(card0.stations.size(), 4u);
  const StationSpec& zolt = card0.stations[0];
  EXPECT_EQ(zolt.number, 1);
  EXPECT_EQ(zolt.hardwareType, kHardwareZOLT);
  const std::vector<std::pair<int, std::uint16_t>> registers = {{0, 100}, {1, 200}, {2, 300}, {3, 0xFFFF}, {0x40, 5}};
  EXPECT_EQ(zolt.registers, registers);
  const StationSpec& recorder = card0.stations[2];
  EXPECT_EQ(recorder.hardwareType, kHardwareEVR420);
  ASSERT_TRUE(recorder.clock.has_value());
  EXPECT_EQ(*recorder.clock, (CivilTime{2024, 5, 1, 8, 0, 0, 0}));
  ASSERT_EQ(recorder.events.size(), 3u);
  EXPECT_EQ(recorder.events[0].event.code, 33);
  EXPECT_EQ(recorder.events[0].event.state, 1);
  EXPECT_FALSE(recorder.events[0].stampNow);
  EXPECT_EQ(recorder.events[0].event.stamp, (CivilTime{2024, 5, 1, 7, 59, 58, 250}));
  EXPECT_EQ(recorder.events[1].event.state, 0);
  EXPECT_TRUE(recorder.events[2].stampNow);  // no time given: stamped when the simulator starts
  EXPECT_EQ(card0.stations[3].hardwareType, kHardwareTORAVINE);
  EXPECT_EQ(network.cards[1].port, 5821);
  EXPECT_EQ(network.cards[1].baudRate, 9600);
}

TEST(NetworkFile, DefaultsFillWhatIsLeftOut) {
  NetworkSpec network;
  std::string error;
  ASSERT_TRUE(ParseNetwork(R"({"cards": [{"card": 2, "stations": [{"station": 0, "type": 12}]}, {"card": 3}]})",
                           &network, &error))
      << error;
  EXPECT_EQ(network.controlPort, kDefaultControlPort);
  EXPECT_EQ(network.cards[0].port, 5822);
  EXPECT_EQ(network.cards[1].port, 5823);
  EXPECT_TRUE(network.cards[1].stations.empty());
  EXPECT_EQ(network.cards[0].stations[0].hardwareType, 12);
  EXPECT_FALSE(network.cards[0].stations[0].clock.has_value());
}

TEST(NetworkFile, HardwareTypesByNameInAnyCaseOrByCode) {
  EXPECT_EQ(HardwareTypeFromName("evr420"), kHardwareEVR420);
  EXPECT_EQ(HardwareTypeFromName("Toravine"), kHardwareTORAVINE);
  EXPECT_EQ(HardwareTypeFromName("EVR42"), std::nullopt);
  EXPECT_EQ(HardwareTypeName(35), "SELMARO");
  EXPECT_EQ(HardwareTypeName(99), "99");
}

TEST(NetworkFile, RawStampsMayBeOutOfRangeButMustFitTheReply) {
  NetworkSpec network;
  std::string error;
  ASSERT_TRUE(ParseNetwork(R"({"cards": [{"card": 0, "stations": [{"station": 7, "type": "EVR420", "events": [
      {"code": 1, "state": 0, "raw_time": [2003, 13, 0, 24, 60, 60, 1000]}]}]}]})",
                           &network, &error))
      << error;
  EXPECT_EQ(network.cards[0].stations[0].events[0].event.stamp, (CivilTime{2003, 13, 0, 24, 60, 60, 1000}));
}

TEST(NetworkFile, WholeNumbersAreDecimalOrHexadecimal) {
  std::int64_t value = 0;
  EXPECT_TRUE(ParseWholeNumber("2047", &value));
  EXPECT_EQ(value, 2047);
  EXPECT_TRUE(ParseWholeNumber("0x7FF", &value));
  EXPECT_EQ(value, 2047);
  EXPECT_TRUE(ParseWholeNumber("-5", &value));
  EXPECT_EQ(value, -5);
  for (const char* bad : {"", "-", "0x", "12a", " 1", "1 ", "+1", "1.0", "0x1G", "99999999999999999999"}) {
    EXPECT_FALSE(ParseWholeNumber(bad, &value)) << bad;
  }
}

struct BadNetwork {
  const char* json;
  const char* message;  // the whole message, position and path included
};

class NetworkFileRefuses : public ::testing::TestWithParam<BadNetwork> {};

TEST_P(NetworkFileRefuses, SayingWhereAndWhy) {
  NetworkSpec network;
  std::string error;
  EXPECT_FALSE(ParseNetwork(GetParam().json, &network, &error));
  EXPECT_EQ(error, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    BadNetworks, NetworkFileRefuses,
    ::testing::Values(
        BadNetwork{"[]", "line 1, column 1: the network file: must be an object, not an array"},
        BadNetwork{"{}", "line 1, column 1: the member \"cards\" is missing"},
        BadNetwork{"{\"cards\": []}", "line 1, column 11: cards: must name at least one card"},
        BadNetwork{"{\"cards\": [{\"card\": 0,}]}", "line 1, column 23: a trailing comma is not allowed before '}'"},
        BadNetwork{"{\"cards\": [{\"card\": 0}], \"contol_port\": 1}",
                   "line 1, column 41: unknown member \"contol_port\" (known: control_port, cards)"},
        BadNetwork{"{\"cards\": [{\"card\": 4}]}", "line 1, column 21: cards[0].card: must be a whole number from 0 to 3"},
        BadNetwork{"{\"cards\": [{\"card\": 0.0}]}", "line 1, column 21: cards[0].card: must be a whole number from 0 to 3"},
        BadNetwork{"{\"cards\": [{\"port\": 1}]}", "line 1, column 12: cards[0]: the member \"card\" (0 to 3) is missing"},
        BadNetwork{"{\"cards\": [{\"card\": 0}, {\"card\": 0, \"port\": 6000}]}",
                   "line 1, column 25: cards[1]: card 0 is described twice"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"port\": 6000}, {\"card\": 1, \"port\": 6000}]}",
                   "line 1, column 39: cards[1]: port 6000 is already card 0's"},
        BadNetwork{"{\"control_port\": 5820, \"cards\": [{\"card\": 0}]}",
                   "line 1, column 34: cards[0]: port 5820 is the control port"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"baud\": 10}]}",
                   "line 1, column 32: cards[0].baud: must be 0 (no wire time) or from 50 to 10000000"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 256, \"type\": 3}]}]}",
                   "line 1, column 49: cards[0].stations[0].station: must be a whole number from 0 to 255"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1}]}]}",
                   "line 1, column 37: cards[0].stations[0]: the member \"type\" (hardware type) is missing"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR99\"}]}]}",
                   "line 1, column 60: cards[0].stations[0].type: unknown hardware type \"EVR99\" (known: EVR420, "
                   "EVR410, PRISMOTE, ZOLT, SELMARO, TORAVINE, or a code number)"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3}, {\"station\": 1, \"type\": 5}]}]}",
                   "line 1, column 64: cards[0].stations[1]: station 1 is already on this card"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"registers\": {\"2048\": 1}}]}]}",
                   "line 1, column 85: cards[0].stations[0].registers[\"2048\"]: a register address is a whole number "
                   "from 0 to 2047 (decimal or 0x hexadecimal)"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"registers\": {\"2046\": [1, 2, 3]}}]}]}",
                   "line 1, column 85: cards[0].stations[0].registers[\"2046\"]: the values run past register 2047"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"registers\": {\"0\": [1, 65536]}}]}]}",
                   "line 1, column 86: cards[0].stations[0].registers[\"0\"][1]: must be a whole number from -32768 to 65535"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"ZOLT\", \"events\": []}]}]}",
                   "line 1, column 78: cards[0].stations[0].events: only event recorders (EVR420) and TORAVINE devices "
                   "queue events"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR420\", \"clock\": \"2024-02-30 00:00:00\"}]}]}",
                   "line 1, column 79: cards[0].stations[0].clock: \"2024-02-30 00:00:00\" is not a real date and time"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR420\", \"events\": [{\"code\": 0, \"state\": 1}]}]}]}",
                   "line 1, column 90: cards[0].stations[0].events[0].code: must be a whole number from 1 to 32767"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR420\", \"events\": [{\"code\": 1}]}]}]}",
                   "line 1, column 81: cards[0].stations[0].events[0]: the member \"state\" (0 or 1) is missing"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR420\", \"events\": [{\"code\": 1, \"state\": 1, \"time\": \"yesterday\"}]}]}]}",
                   "line 1, column 113: cards[0].stations[0].events[0].time: a time is written \"YYYY-MM-DD HH:MM:SS\" "
                   "or \"YYYY-MM-DD HH:MM:SS.mmm\", or \"now\""},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR420\", \"events\": [{\"code\": 1, \"state\": 1, \"time\": \"now\", \"raw_time\": [2024, 1, 1, 0, 0, 0, 0]}]}]}]}",
                   "line 1, column 132: cards[0].stations[0].events[0]: give either \"time\" or \"raw_time\", not both"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR420\", \"events\": [{\"code\": 1, \"state\": 1, \"raw_time\": [1999, 1, 1, 0, 0, 0, 0]}]}]}]}",
                   "line 1, column 118: cards[0].stations[0].events[0].raw_time[0]: must be a whole number from 2000 to 2155"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR420\", \"events\": [{\"code\": 1, \"state\": 1, \"raw_time\": [2024, 1, 1]}]}]}]}",
                   "line 1, column 117: cards[0].stations[0].events[0].raw_time: must hold 7 numbers: year, month, day, "
                   "hour, minute, second, milliseconds"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": \"EVR420\",\n  \"evnets\": []}]}]}",
                   "line 2, column 13: cards[0].stations[0]: unknown member \"evnets\" (known: station, type, registers, "
                   "clock, events, moving)"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"moving\": [{\"register\": 1, \"kind\": \"saw\"}]}]}]}",
                   "line 1, column 98: cards[0].stations[0].moving[0].kind: must be \"ramp\", \"wander\" or \"toggle\""},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"moving\": [{\"register\": 2048, \"kind\": \"toggle\", \"seconds\": 1, \"bit\": 0}]}]}]}",
                   "line 1, column 87: cards[0].stations[0].moving[0].register: must be a whole number from 0 to 2047"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"moving\": [{\"register\": 1, \"kind\": \"ramp\", \"low\": 1, \"high\": 2}]}]}]}",
                   "line 1, column 74: cards[0].stations[0].moving[0]: the member \"seconds\" is missing"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"moving\": [{\"register\": 1, \"kind\": \"toggle\", \"bit\": 16, \"seconds\": 1}]}]}]}",
                   "line 1, column 115: cards[0].stations[0].moving[0].bit: must be a whole number from 0 to 15"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"moving\": [{\"register\": 1, \"kind\": \"wander\", \"low\": 5, \"high\": 4, \"seconds\": 1}]}]}]}",
                   "line 1, column 140: cards[0].stations[0].moving[0].seconds: is not used by a wander"},
        BadNetwork{"{\"cards\": [{\"card\": 0, \"stations\": [{\"station\": 1, \"type\": 3, \"moving\": [{\"register\": 1, \"kind\": \"wander\", \"low\": 5, \"high\": 4}]}]}]}",
                   "line 1, column 74: cards[0].stations[0].moving[0]: low must not lie above high"}));

TEST(NetworkFile, RefusesAFileLargerThanTheLimitBeforeReadingIt) {
  NetworkSpec network;
  std::string error;
  const std::string huge(kMaxNetworkFileSize + 1, ' ');
  EXPECT_FALSE(ParseNetwork(huge, &network, &error));
  EXPECT_EQ(error, "the network file is larger than 16 MiB");
}

TEST(NetworkFile, AStationQueueHoldsAtMostItsCapacity) {
  std::string json = R"({"cards": [{"card": 0, "stations": [{"station": 7, "type": "EVR420", "events": [)";
  for (std::size_t i = 0; i <= kMaxQueuedEvents; ++i) json += (i ? "," : "") + std::string(R"({"code": 1, "state": 1})");
  json += "]}]}]}";
  NetworkSpec network;
  std::string error;
  EXPECT_FALSE(ParseNetwork(json, &network, &error));
  EXPECT_NE(error.find("at most 10000 events fit a station's queue"), std::string::npos) << error;
}

}  // namespace
}  // namespace vrt::sim
