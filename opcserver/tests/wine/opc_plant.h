// The plant of the OPC end-to-end tests: station 5 on card 1 of a simulator
// of the test's own, polled every 0.1 s by the real driver through the
// real card library and server; the test is the OPC client.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include "dit_codes.h"
#include "dit_mapping.h"
#include "dit_writer.h"
#include "driver_session.h"
#include "opc_client.h"
#include "probe_process.h"
#include "sample_configuration.h"

namespace vrt::testing {

using namespace std::chrono_literals;

inline constexpr HRESULT kInvalidItemId = static_cast<HRESULT>(0xC0040008);
inline constexpr HRESULT kBadType = static_cast<HRESULT>(0xC0040004);
inline constexpr HRESULT kInactiveCacheRead = static_cast<HRESULT>(0x00048001);

// Station 5 on card 1: registers 0x100.. and, from 0x200, the text "PUMPHOUS".
inline constexpr const char* kNetwork = R"({ "control_port": 0, "cards": [
  { "card": 1, "port": 0, "stations": [
    { "station": 5, "type": "ZOLT", "registers": { "0x100": [1234, 5, 0, 0], "0x200": [21840, 20557, 20296, 21333] } } ] }
] })";

// Sets station 5's register at `address` in the simulator, as the field
// would change it.
inline void SetRegister(DriverSession& session, const std::string& address, int value) {
  ASSERT_TRUE(session.simulator->Command("set 1 5 " + address + " " + std::to_string(value)).empty());
}

inline DitPollRecord FastRecord(std::uint16_t start, std::uint16_t length, std::uint16_t exception) {
  DitPollRecord record = SamplePollRecord(start, length, kDataUnsigned, exception);
  record.pollTime = 10;  // 0.1 s
  record.accessTime = kAccessNeverExpires;
  return record;
}

inline std::vector<std::uint8_t> PlantImage() {
  DitChannelSource channel = SampleChannel(
      0, {SampleDevice("PUMPS", 5,
                                {FastRecord(0x100, 4, kExceptionAnalog), FastRecord(0x200, 4, kExceptionAscii)})});
  MakeLinkQuick(channel.record.primary);
  DitConfiguration configuration;
  configuration.channels.push_back(channel);
  return WriteDitImage(configuration, 1800000000).bytes;
}

// Runs opc.exe (this build's, or the one in `directory`) to its end (at
// most a minute); the lines it printed.
inline std::vector<std::string> RunOpc(const std::string& arguments, const std::string& directory = ProgramDirectory()) {
  ProbeProcess opc(directory + "\\opc.exe", arguments);
  EXPECT_TRUE(opc.WaitForEnd(60s)) << arguments;
  return opc.Output();
}

class OpcProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.simulator->Ready());
    session.UseConfiguration(session.directory + "\\PLANT.VRT", PlantImage());
    session.driver = session.StartDriver();
    ASSERT_EQ(CreateServer(server), S_OK);
  }

  std::vector<std::string> Registers(const std::string& address, int count) {
    return session.simulator->Command("get 1 5 " + address + " " + std::to_string(count));
  }

  // Reads the item from the device until the text starts with `expected`.
  bool ReadsEventually(IOPCSyncIO& io, OPCHANDLE handle, const std::wstring& expected, WORD quality = 192) {
    ReadResult last;
    const bool seen = WaitFor(
        [&] {
          last = ReadItem(io, handle, OPC_DS_DEVICE);
          return last.quality == quality && last.text.rfind(expected, 0) == 0;
        },
        20s);
    if (!seen) {
      ADD_FAILURE() << "last read: quality " << last.quality << " value \"" << std::string(last.text.begin(), last.text.end())
                    << "\" error " << std::hex << last.error;
    }
    return seen;
  }

  DriverSession session{
      "vrt-opc-" + std::to_string(::testing::UnitTest::GetInstance()->current_test_info()->line()), kNetwork, {1}};
  ComApartment apartment;
  ComPtr<IOPCServer> server;
};

}  // namespace vrt::testing
