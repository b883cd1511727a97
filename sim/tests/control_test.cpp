// The control port's commands as a test or a person types them.
#include <gtest/gtest.h>

#include "control.h"
#include "fake_clock.h"
#include "network_file.h"

namespace vrt::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FakeClock;

NetworkSpec Network() {
  NetworkSpec network;
  std::string error;
  EXPECT_TRUE(ParseNetwork(R"({"control_port": 0, "cards": [
      {"card": 0, "port": 0, "stations": [{"station": 1, "type": "ZOLT", "registers": {"0": [10, 20, 30]}},
                                          {"station": 7, "type": "EVR420", "clock": "2024-01-02 03:04:05"}]},
      {"card": 2, "port": 0, "baud": 19200, "stations": [{"station": 9, "type": "TORAVINE"}]}]})",
                           &network, &error))
      << error;
  return network;
}

class ControlTest : public ::testing::Test {
 protected:
  std::string Run(std::string_view line) { return RunControlCommand(simulator_, line).text; }

  FakeClock clock_;
  Simulator simulator_{Network(), clock_};
};

TEST_F(ControlTest, SetAndGetRegisters) {
  EXPECT_EQ(Run("get 0 1 0 3"), "10 20 30\nOK\n");
  EXPECT_EQ(Run("set 0 1 0x7FE 65535 -1"), "OK\n");
  EXPECT_EQ(Run("get 0 1 2046 2"), "65535 65535\nOK\n");
  EXPECT_EQ(Run("get 0 1 1"), "20\nOK\n");
  // A read frame sees what was set.
  EXPECT_EQ(simulator_.HandleRequest(0, Bytes{1, 3, 0x64, 0x07, 0xFE, 2}).reply,
            (Bytes{1, 7, 0x65, 0x07, 0xFE, 2, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(ControlTest, GetShowsWhatTheDriverWrote) {
  simulator_.HandleRequest(0, Bytes{1, 7, 0x66, 0, 4, 2, 0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(Run("get 0 1 4 2"), "258 772\nOK\n");
}

TEST_F(ControlTest, ABadValueInASetChangesNothing) {
  EXPECT_EQ(Run("set 0 1 0 1 2 70000"), "ERR VALUE must be a number from -32768 to 65535, not \"70000\"\n");
  EXPECT_EQ(Run("get 0 1 0 3"), "10 20 30\nOK\n");
  EXPECT_EQ(Run("set 0 1 2047 1 2"), "ERR the values run past register 2047\n");
  EXPECT_EQ(Run("get 0 1 2047 2"), "ERR COUNT must be a number from 1 to 1, not \"2\"\n");
  EXPECT_EQ(Run("set 0 1 2048 1"), "ERR ADDRESS must be a number from 0 to 2047, not \"2048\"\n");
  EXPECT_EQ(Run("set 0 1 0"), "ERR too few arguments (try help)\n");
}

TEST_F(ControlTest, CardsAndStationsMustExist) {
  EXPECT_EQ(Run("get 1 1 0"), "ERR no card 1 in this network\n");
  EXPECT_EQ(Run("get 4 1 0"), "ERR CARD must be a number from 0 to 3, not \"4\"\n");
  EXPECT_EQ(Run("get 0 2 0"), "ERR card 0 has no station 2\n");
  EXPECT_EQ(Run("get 0 x 0"), "ERR STATION must be a number from 0 to 255, not \"x\"\n");
}

TEST_F(ControlTest, EventsQueuedNowAtATimeOrRaw) {
  EXPECT_EQ(Run("event 0 7 33 1"), "queued 1\nOK\n");
  clock_.Advance(1500);
  EXPECT_EQ(Run("event 0 7 34 0 now"), "queued 2\nOK\n");
  EXPECT_EQ(Run("event 0 7 9402 1 2024-01-02 03:00:00.125"), "queued 3\nOK\n");
  EXPECT_EQ(Run("event 0 7 35 1 2024-01-02T03:00:00"), "queued 4\nOK\n");
  EXPECT_EQ(Run("event 0 7 36 1 raw 2003 13 0 24 60 60 1000"), "queued 5\nOK\n");
  EXPECT_EQ(Run("events 0 7"),
            "code 33 state 1 time 2024-01-02 03:04:05.000\n"
            "code 34 state 0 time 2024-01-02 03:04:06.500\n"
            "code 9402 state 1 time 2024-01-02 03:00:00.125\n"
            "code 35 state 1 time 2024-01-02 03:00:00.000\n"
            "code 36 state 1 time 2003-13-00 24:60:60.1000\n"
            "OK\n");
  // The queued input events show in the recorder's input register: codes
  // 33, 35 and 36 set bits 0, 2 and 3 of register 34, code 34 cleared bit 1.
  EXPECT_EQ(Run("get 0 7 34"), "13\nOK\n");
  EXPECT_EQ(Run("delivered 0 7"), "OK\n");  // nothing handed out yet
  const Bytes reply = simulator_.HandleRequest(0, Bytes{7, 2, 0x0F, 0x11, 0}).reply;
  EXPECT_EQ(reply, (Bytes{7, 12, 0x0F, 0x11, 4, 24, 1, 2, 3, 4, 5, 0, 0, 0, 33}));
  // The handed-out event is no longer queued; a repeat would give it again.
  EXPECT_EQ(Run("delivered 0 7"), "code 33 state 1 time 2024-01-02 03:04:05.000\nOK\n");
  EXPECT_EQ(Run("events 0 7").rfind("code 34 state 0", 0), 0u);
  EXPECT_EQ(Run("delivered 0 1"), "ERR station 1 keeps no events\n");
  EXPECT_EQ(Run("clearevents 0 7"), "OK\n");
  EXPECT_EQ(Run("events 0 7"), "OK\n");
}

TEST_F(ControlTest, EventsThatCannotBeQueuedAreRefused) {
  EXPECT_EQ(Run("event 0 1 33 1"), "ERR station 1 is neither an event recorder nor a TORAVINE device\n");
  EXPECT_EQ(Run("event 0 7 0 1"), "ERR CODE must be a number from 1 to 32767, not \"0\"\n");
  EXPECT_EQ(Run("event 0 7 1 2"), "ERR STATE must be a number from 0 to 1, not \"2\"\n");
  EXPECT_EQ(Run("event 0 7 1 1 2024-02-30 00:00:00"), "ERR \"2024-02-30 00:00:00\" is not a real date and time\n");
  EXPECT_EQ(Run("event 0 7 1 1 raw 1999 1 1 0 0 0 0"), "ERR YEAR must be a number from 2000 to 2155, not \"1999\"\n");
  EXPECT_EQ(Run("event 0 7 1 1 raw 2024 1 1"), "ERR too few arguments (try help)\n");
  EXPECT_EQ(Run("event 0 7 1 1 2024-01-01 00:00:00 extra"), "ERR too many arguments after the time\n");
  EXPECT_EQ(Run("events 0 1"), "ERR station 1 keeps no events\n");
  EXPECT_EQ(Run("events 0 7"), "OK\n");
}

TEST_F(ControlTest, ClockShowsAndSets) {
  EXPECT_EQ(Run("clock 0 7"), "2024-01-02 03:04:05.000\nOK\n");
  clock_.Advance(61000);
  EXPECT_EQ(Run("clock 0 7"), "2024-01-02 03:05:06.000\nOK\n");
  EXPECT_EQ(Run("clock 2 9 2030-12-31 23:59:59.900"), "2030-12-31 23:59:59.900\nOK\n");
  clock_.Advance(100);
  EXPECT_EQ(Run("clock 2 9"), "2031-01-01 00:00:00.000\nOK\n");
  EXPECT_EQ(Run("clock 0 1"), "ERR station 1 keeps no clock\n");
  EXPECT_EQ(Run("clock 0 7 tomorrow"), "ERR a time is written \"YYYY-MM-DD HH:MM:SS\" or \"YYYY-MM-DD HH:MM:SS.mmm\"\n");
}

TEST_F(ControlTest, FaultsAreSetListedAndCleared) {
  EXPECT_EQ(Run("fault 0 1 noreply"), "OK\n");
  EXPECT_EQ(Run("fault 0 * nak 0x1E 3"), "OK\n");
  EXPECT_EQ(Run("fault 0 7 delay 250"), "OK\n");
  EXPECT_EQ(Run("fault 2 9 drop"), "OK\n");
  EXPECT_EQ(Run("fault 0 1 wronglength 2"), "OK\n");
  EXPECT_EQ(Run("faults"),
            "card 0 station 1 noreply remaining 1\n"
            "card 0 station * nak 30 remaining 3\n"
            "card 0 station 7 delay 250 remaining 1\n"
            "card 0 station 1 wronglength remaining 2\n"
            "card 2 station 9 drop remaining 1\n"
            "OK\n");
  EXPECT_EQ(simulator_.HandleRequest(0, Bytes{1, 3, 0x64, 0, 0, 1}).action, RequestAction::kNoReply);
  EXPECT_EQ(simulator_.HandleRequest(0, Bytes{1, 3, 0x64, 0, 0, 1}).reply, (Bytes{1, 1, 30, 0x64}));
  EXPECT_EQ(Run("faults"),
            "card 0 station * nak 30 remaining 2\n"
            "card 0 station 7 delay 250 remaining 1\n"
            "card 0 station 1 wronglength remaining 2\n"
            "card 2 station 9 drop remaining 1\n"
            "OK\n");
  EXPECT_EQ(Run("clearfaults 0"), "OK\n");
  EXPECT_EQ(Run("faults"), "card 2 station 9 drop remaining 1\nOK\n");
  EXPECT_EQ(Run("clearfaults"), "OK\n");
  EXPECT_EQ(Run("faults"), "OK\n");
}

TEST_F(ControlTest, MalformedFaultsAreRefused) {
  EXPECT_EQ(Run("fault 0 1 sulk"),
            "ERR unknown fault \"sulk\" (noreply, lostreply, nak, wrongstation, wronglength, wrongcommand, "
            "wrongaddress, delay, drop)\n");
  EXPECT_EQ(Run("fault 0 1 nak"), "ERR missing CODE\n");
  EXPECT_EQ(Run("fault 0 1 nak 256"), "ERR CODE must be a number from 0 to 255, not \"256\"\n");
  EXPECT_EQ(Run("fault 0 1 delay -5"), "ERR MS must be a number from 0 to 600000, not \"-5\"\n");
  EXPECT_EQ(Run("fault 0 1 noreply 0"), "ERR COUNT must be a number from 1 to 1000000, not \"0\"\n");
  EXPECT_EQ(Run("fault 0 1 noreply 1 2"), "ERR too many arguments (try help)\n");
  EXPECT_EQ(Run("fault 0 2 noreply"), "ERR card 0 has no station 2\n");
  EXPECT_EQ(Run("faults"), "OK\n");
}

TEST_F(ControlTest, BaudSetsTheWireTimeModel) {
  EXPECT_EQ(Run("baud 0 9600"), "OK\n");
  EXPECT_EQ(simulator_.HandleRequest(0, Bytes{1, 3, 0x64, 0, 0, 1}).delayMs, WireTimeMs(9600, 6, 8));
  EXPECT_EQ(Run("baud 0 0"), "OK\n");
  EXPECT_EQ(simulator_.HandleRequest(0, Bytes{1, 3, 0x64, 0, 0, 1}).delayMs, 0);
  EXPECT_EQ(Run("baud 0 49"), "ERR RATE is 0 (off) or 50 and more\n");
}

TEST_F(ControlTest, StationsDescribesTheNetwork) {
  EXPECT_EQ(Run("stations"),
            "control port 0\n"
            "card 0 port 0 baud 0 stations 2\n"
            "  station 1 ZOLT\n"
            "  station 7 EVR420 events 0 clock 2024-01-02 03:04:05.000\n"
            "card 2 port 0 baud 19200 stations 1\n"
            "  station 9 TORAVINE events 0 clock 2024-05-01 08:00:00.000\n"
            "OK\n");
}

TEST_F(ControlTest, CountersCountRequestsRepliesAndStationWork) {
  simulator_.HandleRequest(0, Bytes{1, 3, 0x64, 0, 0, 1});
  simulator_.ReplySent(0, Bytes{1, 5, 0x65, 0, 0, 1, 0, 10});
  simulator_.HandleRequest(0, Bytes{5, 3, 0x64, 0, 0, 1});
  simulator_.HandleRequest(0, Bytes{7, 7, 0x0F, 0x0A, 14, 5, 9, 3, 7, 5});
  simulator_.HandleRequest(0, Bytes{7, 2, 0x0F, 0x11, 0});
  EXPECT_EQ(Run("counters 0"),
            "card 0 connections 0 requests 4 replies 1 unknown_station 1 faults 0 incomplete 0 bytes_in 27 bytes_out 8\n"
            "card 0 station 1 reads 1 writes 0 event_requests 0 events_delivered 0 time_syncs 0 toravine 0 naks 0\n"
            "card 0 station 7 reads 0 writes 0 event_requests 1 events_delivered 0 time_syncs 1 toravine 0 naks 0\n"
            "OK\n");
  const std::string all = Run("counters");
  EXPECT_NE(all.find("card 2 station 9 reads 0"), std::string::npos);
}

TEST_F(ControlTest, LogShowsTheLastLines) {
  simulator_.HandleRequest(0, Bytes{1, 3, 0x64, 0, 0, 1});
  EXPECT_EQ(Run("log 1"), "2024-05-01 08:00:00.000 card 0 rx 01 03 64 00 00 01\nOK\n");
  EXPECT_EQ(Run("clearlog"), "OK\n");
  EXPECT_EQ(Run("log"), "OK\n");
  EXPECT_EQ(Run("log 0"), "ERR COUNT must be a number from 1 to 2000, not \"0\"\n");
}

TEST_F(ControlTest, QuitShutdownHelpAndNonsense) {
  EXPECT_TRUE(RunControlCommand(simulator_, "quit").close);
  EXPECT_FALSE(RunControlCommand(simulator_, "quit now").close);
  EXPECT_TRUE(RunControlCommand(simulator_, "shutdown").shutdown);
  EXPECT_EQ(Run("  \t "), "OK\n");
  EXPECT_EQ(Run("frobnicate 1"), "ERR unknown command \"frobnicate\" (try help)\n");
  EXPECT_EQ(Run("SET 0 1 0 1"), "ERR unknown command \"SET\" (try help)\n");
  EXPECT_EQ(Run(std::string(kMaxControlLine + 1, 'x')), "ERR the line is longer than 4096 characters\n");
  const std::string help = Run("help");
  for (const char* command : {"stations", "set ", "get ", "event ", "events ", "clearevents", "clock ", "fault ",
                              "faults", "clearfaults", "baud ", "counters", "log ", "clearlog", "quit", "shutdown"}) {
    EXPECT_NE(help.find("  " + std::string(command)), std::string::npos) << command;
  }
  EXPECT_EQ(help.substr(help.size() - 3), "OK\n");
}

TEST_F(ControlTest, CarriageReturnsOfTelnetStyleLinesAreIgnored) {
  EXPECT_EQ(Run("get 0 1 0 2\r"), "10 20\nOK\n");
}

}  // namespace
}  // namespace vrt::sim
