// The simulator's control port over the demo network: any lines as a person
// or a test types them. Every answer has its shape (lines and OK, or one
// ERR line), only quit and shutdown close or stop, and whatever the commands
// set up (registers, events, clocks, faults, baud rates), the stations still
// answer with frames the driver can take.
//
// Input: command lines.
#include <fstream>
#include <sstream>
#include <string>

#include "control.h"
#include "fake_clock.h"
#include "fuzz_check.h"
#include "network_file.h"
#include "sim_checks.h"
#include "simulator.h"

namespace {

using namespace vrt::sim;

NetworkSpec DemoNetwork() {
  std::ifstream file(VRT_SOURCE_DIR "/demo/network.json", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  NetworkSpec network;
  std::string error;
  VRT_FUZZ_CHECK(ParseNetwork(text.str(), &network, &error), "the demo network cannot be read");
  return network;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const NetworkSpec network = DemoNetwork();
  testing::FakeClock clock;
  Simulator simulator(network, clock);

  vrt::fuzz::InputReader input(data, size);
  int lines = 0;
  while (!input.Empty()) {
    const std::string line = input.Line();
    const ControlResult result = RunControlCommand(simulator, line);
    vrt::fuzz::CheckAnswer(result);
    if (result.close || result.shutdown) {
      VRT_FUZZ_CHECK(line.find(result.close ? "quit" : "shutdown") != std::string::npos,
                     "a command other than quit or shutdown closed or stopped");
    }
    clock.Advance(static_cast<std::int64_t>(line.size()) * 250);
    if (++lines % 8 == 0) vrt::fuzz::ExerciseStations(simulator, static_cast<std::uint8_t>(lines));
  }
  vrt::fuzz::ExerciseStations(simulator, static_cast<std::uint8_t>(size));
  vrt::fuzz::CheckAnswer(RunControlCommand(simulator, "counters"));
  vrt::fuzz::CheckAnswer(RunControlCommand(simulator, "log 2000"));
  return 0;
}
