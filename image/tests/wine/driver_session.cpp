#include "driver_session.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "dit_mapping.h"
#include "shared_access.h"

namespace vrt::testing {

using namespace std::chrono_literals;

DriverSession::DriverSession(const std::string& name, const std::string& networkJson, const std::vector<int>& cards) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  directory = std::string(temp) + name;
  CreateDirectoryA(directory.c_str(), nullptr);
  DeleteFileA((directory + "\\VRT_LOG.TXT").c_str());
  UseNetwork(networkJson, cards);
}

void DriverSession::UseNetwork(const std::string& networkJson, const std::vector<int>& cards) {
  simulator.reset();
  simulator = std::make_unique<SimulatorSession>(directory, networkJson);
  if (!simulator->Ready()) {
    ADD_FAILURE() << "the simulator did not start: " << simulator->Problem();
    return;
  }
  simulator->ServeCards(cards);
}

DriverSession::~DriverSession() {
  if (block != nullptr) SharedStore(block->RunRequest, kRequestExit);
  if (driver) WaitFor([&] { return !driver->Running(); }, 5s);
}

void DriverSession::UseConfiguration(const std::string& path, const std::vector<std::uint8_t>& image) {
  configFile = path;
  InstallConfiguration(path, image);
}

std::unique_ptr<ProbeProcess> DriverSession::StartDriver(const std::string& arguments) {
  auto process = std::make_unique<ProbeProcess>(driverDirectory + "\\VRTSPOLL.exe", arguments, directory);
  EXPECT_TRUE(process->Started()) << process->StartFailure();
  EXPECT_TRUE(WaitFor([&] { return (block = OpenExistingControlBlock()) != nullptr; }, 10s));
  EXPECT_TRUE(WaitFor([&] { return block && SharedLoad(block->RunState) == kStateRunning; }, 10s));
  return process;
}

bool DriverSession::Request(RunRequestCode request, RunStateCode state, std::chrono::milliseconds timeout) {
  if (block == nullptr) return false;
  SharedStore(block->RunRequest, static_cast<std::uint16_t>(request));
  return WaitFor([&] { return SharedLoad(block->RunState) == state; }, timeout);
}

bool Eventually(ProbeProcess& client, const std::string& command, const std::string& expected,
                std::chrono::milliseconds timeout) {
  std::string last;
  const bool seen = WaitFor(
      [&] {
        last = client.Ask(command, command.substr(0, command.find(' ')));
        return last.rfind(expected, 0) == 0;
      },
      timeout);
  if (!seen) ADD_FAILURE() << "last answer to \"" << command << "\": " << last;
  return seen;
}

}  // namespace vrt::testing
