// The simulator's network file: any text through the reader; an accepted
// network keeps every range the file's rules give, starts a simulator, and
// that simulator answers its control commands and every kind of request
// with frames the driver can take.
//
// Input: the file's text.
#include <set>
#include <string>

#include "control.h"
#include "fake_clock.h"
#include "fuzz_check.h"
#include "network_file.h"
#include "sim_checks.h"
#include "simulator.h"

namespace {

using namespace vrt::sim;

void CheckNetwork(const NetworkSpec& network) {
  VRT_FUZZ_CHECK(network.controlPort >= 0 && network.controlPort <= 65535, "a control port outside 0..65535");
  VRT_FUZZ_CHECK(!network.cards.empty() && network.cards.size() <= static_cast<std::size_t>(kMaxCards),
                 "a network without cards or with more than four");
  std::set<int> cards;
  std::set<int> ports;
  for (const CardSpec& card : network.cards) {
    VRT_FUZZ_CHECK(card.card >= 0 && card.card < kMaxCards && cards.insert(card.card).second,
                   "a card number outside 0..3 or twice");
    VRT_FUZZ_CHECK(card.port >= 0 && card.port <= 65535, "a card port outside 0..65535");
    if (card.port != 0) {
      VRT_FUZZ_CHECK(ports.insert(card.port).second && card.port != network.controlPort, "a port used twice");
    }
    VRT_FUZZ_CHECK(card.baudRate == 0 || (card.baudRate >= kMinBaudRate && card.baudRate <= kMaxBaudRate),
                   "a baud rate outside its range");
    std::set<int> stations;
    for (const StationSpec& station : card.stations) {
      VRT_FUZZ_CHECK(station.number >= 0 && station.number <= 255 && stations.insert(station.number).second,
                     "a station number outside 0..255 or twice on a card");
      VRT_FUZZ_CHECK(station.hardwareType >= 0 && station.hardwareType <= 65535, "a hardware type outside 16 bits");
      for (const auto& [address, value] : station.registers) {
        VRT_FUZZ_CHECK(address >= 0 && address < kRegisterCount, "a register outside 0..2047");
      }
      VRT_FUZZ_CHECK(station.events.size() <= kMaxQueuedEvents, "more events than a queue holds");
      for (const EventSpec& event : station.events) {
        if (!event.stampNow) {
          std::string message;
          VRT_FUZZ_CHECK(CheckStationEvent(event.event, &message), "an event the reply cannot carry");
        }
      }
      if (station.clock) VRT_FUZZ_CHECK(IsValidCivilTime(*station.clock), "a clock set to no real time");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  NetworkSpec network;
  std::string error;
  if (!ParseNetwork(text, &network, &error)) {
    VRT_FUZZ_CHECK(!error.empty(), "a refused network file without a reason");
    return 0;
  }
  CheckNetwork(network);

  testing::FakeClock clock;
  Simulator simulator(network, clock);
  for (const char* command : {"stations", "counters", "faults", "log 2000", "help"}) {
    vrt::fuzz::CheckAnswer(RunControlCommand(simulator, command));
  }
  for (CardState& card : simulator.Cards()) {
    for (const Station& station : card.stations) {
      const std::string at = std::to_string(card.card) + " " + std::to_string(station.Number());
      for (const std::string& command : {"events " + at, "clock " + at, "get " + at + " 0 125"}) {
        vrt::fuzz::CheckAnswer(RunControlCommand(simulator, command));
      }
    }
  }
  vrt::fuzz::ExerciseStations(simulator, static_cast<std::uint8_t>(size));
  clock.Advance(86400000);
  vrt::fuzz::ExerciseStations(simulator, static_cast<std::uint8_t>(size >> 8));
  vrt::fuzz::CheckAnswer(RunControlCommand(simulator, "counters"));
  return 0;
}
