#include "driver_session.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

#include "dit_mapping.h"
#include "shared_access.h"

namespace vrt::testing {

using namespace std::chrono_literals;

void SetMachineValue(const char* key, const char* name, const std::string& value) {
  HKEY handle = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
  RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
}

DriverSession::DriverSession(const std::string& name, const std::string& networkJson, const std::vector<int>& cards) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  directory = std::string(temp) + name;
  CreateDirectoryA(directory.c_str(), nullptr);
  DeleteFileA((directory + "\\VRT_LOG.TXT").c_str());
  simulator = std::make_unique<SimulatorSession>(directory, networkJson);
  if (!simulator->Ready()) {
    ADD_FAILURE() << "the simulator did not start";
    return;
  }
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Kalvento\\Tavex\\CardServer");
  for (int card : cards) {
    SetMachineValue("Software\\Kalvento\\Tavex\\CardServer", ("Card" + std::to_string(card)).c_str(),
                    "127.0.0.1:" + std::to_string(simulator->CardPort(card)));
  }
}

DriverSession::~DriverSession() {
  if (block != nullptr) SharedStore(block->RunRequest, kRequestExit);
  if (driver) WaitFor([&] { return !driver->Running(); }, 5s);
}

void DriverSession::UseConfiguration(const std::string& path, const std::vector<std::uint8_t>& image) {
  configFile = path;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  file.close();
  SetMachineValue(kConfigRegistryKey, kConfigFileValue, path);
}

std::unique_ptr<ProbeProcess> DriverSession::StartDriver(const std::string& arguments) {
  auto process = std::make_unique<ProbeProcess>(ProgramDirectory() + "\\VRTSPOLL.exe", arguments, directory);
  EXPECT_TRUE(process->Started());
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
