// TavexDll, the card server and the station simulator together: frames of
// every kind go out through TavexSend and the stations' replies come back
// through TavexReceive, over real loopback TCP.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <array>
#include <memory>
#include <string>

#include "TavexDll.h"
#include "probe_process.h"
#include "simulator_session.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::SimulatorSession;

constexpr std::int16_t kCard = 1;

std::string Network(int port) {
  return R"({ "control_port": 0, "cards": [ { "card": 1, "port": )" + std::to_string(port) + R"(, "stations": [
      { "station": 5, "type": "ZOLT", "registers": { "0x12C": [4660, 65408] } },
      { "station": 9, "type": "EVR420", "clock": "2024-05-01 08:00:00",
        "events": [ { "code": 33, "state": 1, "time": "2024-05-01 07:59:58.250" } ] },
      { "station": 12, "type": "TORAVINE", "events": [ { "code": 7, "state": 0, "time": "2024-05-01 07:30:00.125" } ] }
  ] } ] })";
}

void SetCardEndpoint(int port) {
  const char* key = "Software\\Kalvento\\Tavex\\CardServer";
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
  HKEY handle = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
  const std::string value = "127.0.0.1:" + std::to_string(port);
  RegSetValueExA(handle, "Card1", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
}

class CardToSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    directory = std::string(temp) + "vrt-cardsim";
    CreateDirectoryA(directory.c_str(), nullptr);
    simulator = std::make_unique<SimulatorSession>(directory, Network(0));
    ASSERT_TRUE(simulator->Ready());
    SetCardEndpoint(simulator->CardPort(1));
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_EQ(InitTavexInterface(), 1);
    ASSERT_EQ(InitTavexCard(kCard), kCard + 1);
  }
  void TearDown() override {
    ReleaseTavexInterface();
    CoUninitialize();
  }

  // Sends a request (retrying while the connection is still being made) and
  // waits for the reply.
  Bytes Exchange(const Bytes& request, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (TavexSend(kCard, static_cast<std::int16_t>(request.size()), request.data()) != 0) {
      if (std::chrono::steady_clock::now() > deadline) return {};
      Sleep(20);
    }
    std::array<std::uint8_t, 256> buffer{};
    std::int16_t length = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::int16_t result = TavexReceive(kCard, &length, buffer.data());
      if (result == 0) return Bytes(buffer.begin(), buffer.begin() + length);
      if (result != 1) return {};
      Sleep(2);
    }
    return {};
  }

  std::string directory;
  std::unique_ptr<SimulatorSession> simulator;
};

TEST_F(CardToSimulator, EveryRequestKindGetsItsReply) {
  EXPECT_EQ(Exchange({5, 3, 0x64, 0x01, 0x2C, 2}), (Bytes{5, 7, 0x65, 0x01, 0x2C, 2, 0x12, 0x34, 0xFF, 0x80}));

  EXPECT_EQ(Exchange({5, 7, 0x66, 0x01, 0x2C, 2, 0x00, 0x01, 0x00, 0x02}), (Bytes{5, 3, 0x67, 0x01, 0x2C, 2}));
  EXPECT_EQ(simulator->Command("get 1 5 0x12C 2"), (std::vector<std::string>{"1 2"}));
  EXPECT_EQ(Exchange({5, 5, 0x66, 0x01, 0x2D, 1, 0xAB, 0xCD}), (Bytes{5, 3, 0x67, 0x01, 0x2D, 1}));
  EXPECT_EQ(simulator->Command("get 1 5 0x12D 1"), (std::vector<std::string>{"43981"}));

  const Bytes event = {9, 12, 0x0F, 0x11, 0, 24, 5, 1, 7, 59, 58, 0x00, 0xFA, 0x00, 0x21};
  EXPECT_EQ(Exchange({9, 2, 0x0F, 0x11, 0}), event);
  Bytes repeated = event;
  repeated[3] = 0x13;
  EXPECT_EQ(Exchange({9, 2, 0x0F, 0x13, 0}), repeated);

  EXPECT_EQ(Exchange({9, 7, 0x0F, 0x0A, 14, 5, 9, 3, 7, 5}), (Bytes{9, 1, 0x0F, 0x0A}));
  const std::vector<std::string> clock = simulator->Command("clock 1 9");
  ASSERT_FALSE(clock.empty());
  EXPECT_NE(clock[0].find("2005-03-07 14:05:"), std::string::npos) << clock[0];

  const Bytes toravine = Exchange({12, 4, 0x56, 0x63, 1, 0x58, 0});
  ASSERT_EQ(toravine.size(), 15u);
  EXPECT_EQ(toravine[2], 0x56);
  EXPECT_EQ(toravine[3], 1);  // the sequence number
  EXPECT_EQ(toravine[13] << 8 | toravine[14], 0x8007);  // code 7, went to 0
}

TEST_F(CardToSimulator, TheCardServerReconnectsAfterTheSimulatorRestarts) {
  const Bytes read = {5, 3, 0x64, 0x01, 0x2C, 1};
  ASSERT_EQ(Exchange(read).size(), 8u);
  const int port = simulator->CardPort(1);
  simulator->Shutdown();
  const std::unique_ptr<SimulatorSession> previous = std::move(simulator);

  // While the network is away, frames cannot be sent.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  std::int16_t sent = 0;
  while (sent == 0 && std::chrono::steady_clock::now() < deadline) {
    std::array<std::uint8_t, 256> buffer{};
    std::int16_t length = 0;
    TavexReceive(kCard, &length, buffer.data());
    sent = TavexSend(kCard, static_cast<std::int16_t>(read.size()), read.data());
    Sleep(20);
  }
  EXPECT_EQ(sent, 2);

  simulator = std::make_unique<SimulatorSession>(directory, Network(0), "", previous.get());
  ASSERT_TRUE(simulator->Ready());
  EXPECT_EQ(simulator->CardPort(1), port);
  EXPECT_EQ(Exchange(read, 10s), (Bytes{5, 5, 0x65, 0x01, 0x2C, 1, 0x12, 0x34}));
}

}  // namespace
}  // namespace vrt
