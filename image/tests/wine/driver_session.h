// The real driver VRTSPOLL.exe polling a simulator of the test's own through
// the real card library and card server: what every end-to-end test needs
// before its clients start.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control_block.h"
#include "probe_process.h"
#include "simulator_session.h"

namespace vrt::testing {

class DriverSession {
 public:
  // Makes a directory named after the running test, starts the simulator
  // there on `networkJson` and points card server cards `cards` at it.
  DriverSession(const std::string& name, const std::string& networkJson, const std::vector<int>& cards);
  // Replaces the simulator by one on another network (before the driver starts).
  void UseNetwork(const std::string& networkJson, const std::vector<int>& cards);
  // Asks a running driver to exit and waits for it.
  ~DriverSession();

  // Writes `image` to `path` and registers it as ConfigFile.
  void UseConfiguration(const std::string& path, const std::vector<std::uint8_t>& image);
  // Starts VRTSPOLL.exe (of `driverDirectory`) in the directory and waits until it runs; `block`
  // is then the control block.
  std::unique_ptr<ProbeProcess> StartDriver(const std::string& arguments = "");
  // Sets RunRequest and waits for RunState.
  bool Request(RunRequestCode request, RunStateCode state, std::chrono::milliseconds timeout);

  std::string directory;
  // Where StartDriver takes VRTSPOLL.exe from: this build's directory, or
  // the other bitness's.
  std::string driverDirectory = ProgramDirectory();
  std::string configFile;
  std::unique_ptr<SimulatorSession> simulator;
  std::unique_ptr<ProbeProcess> driver;
  DriverControlBlock* block = nullptr;
};

// Asks the client until the answer starts with `expected`; reports the last
// answer as a test failure when it never does.
bool Eventually(ProbeProcess& client, const std::string& command, const std::string& expected,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace vrt::testing
