// VRTSTSR.dll in client processes while the real driver VRTSPOLL.exe polls
// the simulator through the real card library and card server.
#include <gtest/gtest.h>

#include <windows.h>

#include "dit_codes.h"
#include "dit_mapping.h"
#include "dit_writer.h"
#include "driver_session.h"
#include "probe_process.h"
#include "sample_configuration.h"
#include "shared_access.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::ProbeProcess;
using testing::ProgramDirectory;
using testing::WaitFor;

// Stations 5 (the pump) and 6 (a fan) on card 1.
constexpr const char* kNetwork = R"({ "control_port": 0, "cards": [
  { "card": 1, "port": 0, "stations": [
    { "station": 5, "type": "ZOLT", "registers": { "0x100": [11, 22, 33, 44] } },
    { "station": 6, "type": "ZOLT", "registers": { "0x200": [7, 8] } } ] }
] })";

DitPollRecord FastRecord(std::uint16_t start, std::uint16_t length) {
  DitPollRecord record = testing::SamplePollRecord(start, length, kDataUnsigned, kExceptionAnalog);
  record.pollTime = 10;  // 0.1 s
  record.accessTime = kAccessNeverExpires;
  return record;
}

// PUMP's registers 0x100..0x103; with `fanFirst` a device FAN comes before
// it, so that PUMP and its record move up by one index.
std::vector<std::uint8_t> PlantImage(bool fanFirst) {
  std::vector<DitDeviceSource> devices;
  if (fanFirst) devices.push_back(testing::SampleDevice("FAN", 6, {FastRecord(0x200, 2)}));
  devices.push_back(testing::SampleDevice("PUMP", 5, {FastRecord(0x100, 4)}));
  DitChannelSource channel = testing::SampleChannel(0, devices);
  testing::MakeLinkQuick(channel.record.primary);
  DitConfiguration configuration;
  configuration.channels.push_back(channel);
  return WriteDitImage(configuration, 1800000000).bytes;
}

class NioProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.simulator->Ready());
    session.UseConfiguration(session.directory + "\\PLANT.VRT", PlantImage(false));
    session.driver = session.StartDriver();
  }

  // A client of the library (of this build, or of the build in `directory`),
  // started once the driver runs.
  std::unique_ptr<ProbeProcess> StartClient(const std::string& directory = ProgramDirectory()) {
    auto client = std::make_unique<ProbeProcess>(directory + "\\nio_probe.exe", "");
    EXPECT_EQ(client->Expect("ready"), "ready");
    return client;
  }

  std::vector<std::string> Registers(const std::string& address, int count) {
    return session.simulator->Command("get 1 5 " + address + " " + std::to_string(count));
  }

  testing::DriverSession session{
      "vrt-nio-" + std::to_string(::testing::UnitTest::GetInstance()->current_test_info()->line()), kNetwork, {1}};
};

TEST_F(NioProcesses, ASendExWriteReachesTheStationAndReadsBackGood) {
  auto client = StartClient();
  ASSERT_EQ(client->Ask("point 0 PUMP:DIT:257 1", "point"), "point 0 1");
  EXPECT_TRUE(Eventually(*client, "readex 0", "readex 0 192 R4 22"));
  EXPECT_EQ(client->Ask("sendex 0 999", "sendex"), "sendex 0");
  EXPECT_TRUE(WaitFor([&] { return Registers("0x101", 1) == std::vector<std::string>{"999"}; }, 10s));
  EXPECT_TRUE(Eventually(*client, "readex 0", "readex 0 192 R4 999"));

  // Conditioned both ways: 50 % of 0..100 under 12BN is raw 2048 at the
  // station, which reads back as 50.0122.
  ASSERT_EQ(client->Ask("point 1 pump,d,258 1", "point"), "point 0 1");
  ASSERT_EQ(client->Ask("sig 1 12BN", "sig"), "sig 0");
  EXPECT_EQ(client->Ask("sendex 1 50", "sendex"), "sendex 0");
  EXPECT_TRUE(WaitFor([&] { return Registers("0x102", 1) == std::vector<std::string>{"2048"}; }, 10s));
  EXPECT_TRUE(Eventually(*client, "readex 1", "readex 0 192 R4 50.0122"));

  // A point the image has no record for is refused and nothing is sent.
  EXPECT_EQ(client->Ask("point 2 PUMP:DIT:300 1", "point"), "point 514 1");
  EXPECT_EQ(client->Ask("sendex 2 5", "sendex"), "sendex 514");
}

TEST_F(NioProcesses, AStationThatStopsAnsweringReadsWithQuality24) {
  auto client = StartClient();
  ASSERT_EQ(client->Ask("point 0 PUMP:DIT:256 1", "point"), "point 0 1");
  ASSERT_TRUE(Eventually(*client, "readex 0", "readex 0 192 R4 11"));
  ASSERT_TRUE(session.simulator->Command("fault 1 5 noreply 100000").empty());
  EXPECT_TRUE(Eventually(*client, "readex 0", "readex 0 24 ", 20s));
  EXPECT_EQ(client->Ask("read 0", "read"), "read 0 4293 0");
  ASSERT_TRUE(session.simulator->Command("clearfaults").empty());
  EXPECT_TRUE(Eventually(*client, "readex 0", "readex 0 192 R4 11", 20s));
}

TEST_F(NioProcesses, AChangedRegisterIsFetchedUntilThePointIsRead) {
  auto client = StartClient();
  ASSERT_EQ(client->Ask("point 0 PUMP:DIT:256 1", "point"), "point 0 1");
  ASSERT_EQ(client->Ask("point 1 PUMP:DIT:259 1", "point"), "point 0 1");
  ASSERT_TRUE(Eventually(*client, "read 0", "read 0 0 11"));
  // Off until the process switches it on.
  EXPECT_EQ(client->Ask("on 0 7", "on"), "on 0");
  EXPECT_EQ(client->Ask("enable 1", "enable"), "enable 1");
  EXPECT_EQ(client->Ask("on 0 7", "on"), "on 520");
  EXPECT_EQ(client->Ask("on 1 9", "on"), "on 520");
  EXPECT_EQ(client->Ask("on 0 8", "on"), "on 522");
  EXPECT_EQ(client->Ask("fetch 8", "fetch"), "fetch 0 0");

  ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 4242").empty());
  EXPECT_TRUE(Eventually(*client, "fetch 8", "fetch 0 1 7"));
  EXPECT_EQ(client->Ask("fetch 8", "fetch"), "fetch 0 1 7");  // reported until read
  EXPECT_EQ(client->Ask("read 0", "read"), "read 0 0 4242");
  EXPECT_EQ(client->Ask("fetch 8", "fetch"), "fetch 0 0");

  ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 1 2 3 4").empty());
  EXPECT_TRUE(Eventually(*client, "fetch 8", "fetch 0 2 7 9"));
}

TEST_F(NioProcesses, APointKeepsWorkingAcrossAReloadThatMovedItsDevice) {
  auto client = StartClient();
  ASSERT_EQ(client->Ask("point 0 PUMP:DIT:257 1", "point"), "point 0 1");
  ASSERT_TRUE(Eventually(*client, "readex 0", "readex 0 192 R4 22"));
  EXPECT_EQ(client->Ask("resolution 0", "resolution"), "resolution 0 0 0");

  // The driver reloads the file at a stop: FAN now comes first.
  session.UseConfiguration(session.configFile, PlantImage(true));
  ASSERT_TRUE(session.Request(kRequestStop, kStateStopped, 10s));
  EXPECT_TRUE(WaitFor([&] { return SharedLoad(session.block->LoadedGeneration) == 1; }, 10s));
  EXPECT_TRUE(Eventually(*client, "readex 0", "readex 0 28 "));
  ASSERT_TRUE(session.Request(kRequestStart, kStateRunning, 10s));

  EXPECT_TRUE(Eventually(*client, "readex 0", "readex 0 192 R4 22"));
  EXPECT_EQ(client->Ask("resolution 0", "resolution"), "resolution 0 1 1");
  EXPECT_EQ(client->Ask("daddr 0", "daddr"), "daddr PUMP:DIT:257");
  EXPECT_EQ(client->Ask("sendex 0 321", "sendex"), "sendex 0");
  EXPECT_TRUE(WaitFor([&] { return Registers("0x101", 1) == std::vector<std::string>{"321"}; }, 10s));
}

TEST_F(NioProcesses, TheAliveFlagFollowsTheDriversCycles) {
  auto client = StartClient();
  EXPECT_EQ(client->Ask("alive", "alive"), "alive 1 1 Harnix Tavex V6.9.10");
  Sleep(100);
  EXPECT_EQ(client->Ask("alive", "alive"), "alive 1 1 Harnix Tavex V6.9.10");
  ASSERT_TRUE(session.Request(kRequestStop, kStateStopped, 10s));
  ASSERT_TRUE(WaitFor([&] { return SharedLoad(session.block->LoadedGeneration) == 1; }, 10s));
  client->Ask("alive", "alive");  // sees the reloaded image's counter once
  Sleep(100);
  EXPECT_EQ(client->Ask("alive", "alive"), "alive 1 0 Harnix Tavex V6.9.10");
  ASSERT_TRUE(session.Request(kRequestStart, kStateRunning, 10s));
  Sleep(100);
  EXPECT_EQ(client->Ask("alive", "alive"), "alive 1 1 Harnix Tavex V6.9.10");
}

// No driver runs yet: the first client to load the library starts the one
// registered under DriverExe and waits for it.
class NioFirstClient : public NioProcesses {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.simulator->Ready());
    session.UseConfiguration(session.directory + "\\PLANT.VRT", PlantImage(false));
    testing::SetConfigValue(kDriverExeValue, ProgramDirectory() + "\\VRTSPOLL.exe");
  }
  void TearDown() override { testing::DeleteConfigValue(kDriverExeValue); }
};

TEST_F(NioFirstClient, LoadingTheLibraryStartsTheDriver) {
  ASSERT_EQ(testing::OpenExistingControlBlock(), nullptr);
  auto client = StartClient();
  session.block = testing::OpenExistingControlBlock();
  ASSERT_NE(session.block, nullptr);
  ASSERT_EQ(client->Ask("point 0 PUMP:DIT:257 1", "point"), "point 0 1");
  EXPECT_TRUE(Eventually(*client, "readex 0", "readex 0 192 R4 22"));
  EXPECT_EQ(SharedLoad(session.block->RunState), kStateRunning);
}

// The image and the control block are shared memory between the programs
// of both bitnesses (32-bit clients on a 64-bit driver's node, and back):
// their layout must not depend on it. Run from the win32 build's tests
// with the win64 build beside it.
class NioAcrossBitness : public NioProcesses {
 protected:
  void SetUp() override {
    ASSERT_FALSE(other.empty()) << "VRT_OTHER_BITNESS_BIN names no build of the other bitness";
    ASSERT_TRUE(session.simulator->Ready());
    session.UseConfiguration(session.directory + "\\PLANT.VRT", PlantImage(false));
    // Each bitness reads its own registry view: the configuration and the
    // card server's cards go where the other bitness's programs read them,
    // as that bitness's installation would have put them.
    ASSERT_TRUE(testing::CopyMachineKeyToTheOtherView("Software\\Kalvento\\Tavex"));
  }

  // Points, conditioned values, qualities, writes, status and messages
  // through the one image.
  void ReadAndWrite(ProbeProcess& client) {
    ASSERT_EQ(client.Ask("point 0 PUMP:DIT:257 1", "point"), "point 0 1");
    EXPECT_TRUE(Eventually(client, "readex 0", "readex 0 192 R4 22"));
    EXPECT_EQ(client.Ask("sendex 0 999", "sendex"), "sendex 0");
    EXPECT_TRUE(WaitFor([&] { return Registers("0x101", 1) == std::vector<std::string>{"999"}; }, 10s));
    EXPECT_TRUE(Eventually(client, "readex 0", "readex 0 192 R4 999"));
    EXPECT_EQ(client.Ask("daddr 0", "daddr"), "daddr PUMP:DIT:257");

    ASSERT_EQ(client.Ask("point 1 pump,d,258 1", "point"), "point 0 1");
    ASSERT_EQ(client.Ask("sig 1 12BN", "sig"), "sig 0");
    EXPECT_EQ(client.Ask("sendex 1 50", "sendex"), "sendex 0");
    EXPECT_TRUE(WaitFor([&] { return Registers("0x102", 1) == std::vector<std::string>{"2048"}; }, 10s));
    EXPECT_TRUE(Eventually(client, "readex 1", "readex 0 192 R4 50.0122"));

    // The change flags the driver sets, fetched by the client.
    ASSERT_EQ(client.Ask("point 2 PUMP:DIT:259 1", "point"), "point 0 1");
    ASSERT_TRUE(Eventually(client, "read 2", "read 0 0 44"));
    EXPECT_EQ(client.Ask("enable 1", "enable"), "enable 1");
    EXPECT_EQ(client.Ask("on 2 7", "on"), "on 520");
    ASSERT_TRUE(session.simulator->Command("set 1 5 0x103 4242").empty());
    EXPECT_TRUE(Eventually(client, "fetch 8", "fetch 0 1 7"));
    EXPECT_EQ(client.Ask("read 2", "read"), "read 0 0 4242");

    ASSERT_TRUE(session.simulator->Command("fault 1 5 noreply 100000").empty());
    EXPECT_TRUE(Eventually(client, "readex 0", "readex 0 24 ", 20s));
    ASSERT_TRUE(session.simulator->Command("clearfaults").empty());
    EXPECT_TRUE(Eventually(client, "readex 0", "readex 0 192 R4 999", 20s));
    EXPECT_EQ(client.Ask("alive", "alive"), "alive 1 1 Harnix Tavex V6.9.10");
  }

  const std::string other = testing::OtherBitnessDirectory();
};

TEST_F(NioAcrossBitness, AClientReadsAndWritesThroughTheImageOfADriverOfTheOtherBitness) {
  session.driverDirectory = other;
  session.driver = session.StartDriver();
  ASSERT_NE(session.block, nullptr);
  auto client = StartClient();
  ReadAndWrite(*client);
}

TEST_F(NioAcrossBitness, AClientOfTheOtherBitnessReadsAndWritesThroughThisDriversImage) {
  session.driver = session.StartDriver();
  ASSERT_NE(session.block, nullptr);
  auto client = StartClient(other);
  ReadAndWrite(*client);
}

// The command-line client, run as a user runs it.
std::vector<std::string> RunNio(const std::string& arguments, std::chrono::milliseconds timeout = 20s) {
  ProbeProcess nio(ProgramDirectory() + "\\nio.exe", arguments);
  EXPECT_TRUE(nio.WaitForEnd(timeout)) << arguments;
  return nio.Output();
}

TEST_F(NioProcesses, TheNioToolListsReadsWritesAndWatches) {
  EXPECT_EQ(RunNio("list"), (std::vector<std::string>{"PUMP", "  DIT:256 - 260"}));
  ASSERT_TRUE(WaitFor([&] { return RunNio("read PUMP:DIT:257") ==
                               std::vector<std::string>{"PUMP:DIT:257 = 22  quality 192 (good)"}; },
                      10s));
  EXPECT_EQ(RunNio("read PUMP:DIT:256:3 PUMP:DIT:258 --sig 12BN --egu 0:200"),
            (std::vector<std::string>{"PUMP:DIT:256:3 = 1  quality 192 (good)",  // 11 = 0b1011
                                      "PUMP:DIT:258 = 1.61172  quality 192 (good)"}));
  EXPECT_EQ(RunNio("write PUMP:DIT:258 77"), std::vector<std::string>{"PUMP:DIT:258 <- 77 (requested)"});
  EXPECT_TRUE(WaitFor([&] { return Registers("0x102", 1) == std::vector<std::string>{"77"}; }, 10s));
  EXPECT_EQ(RunNio("write PUMP:DIT:999 77"), std::vector<std::string>{"nio: PUMP:DIT:999: address error"});

  ProbeProcess watch(ProgramDirectory() + "\\nio.exe", "watch PUMP:DIT:259 --seconds 6");
  EXPECT_NE(watch.Expect("").find("PUMP:DIT:259 = 44  quality 192 (good)"), std::string::npos);
  ASSERT_TRUE(session.simulator->Command("set 1 5 0x103 4444").empty());
  EXPECT_NE(watch.Expect("", 10s).find("PUMP:DIT:259 = 4444  quality 192 (good)"), std::string::npos);

  const std::vector<std::string> stats = RunNio("stats");
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].rfind("channel 1  port 1  sent ", 0), 0u) << stats[0];
  EXPECT_EQ(RunNio("status"), (std::vector<std::string>{"Harnix Tavex V6.9.10", "driver alive"}));
  bool started = false;
  for (const std::string& line : RunNio("messages")) started = started || line == "[23] VRTV6.9.11 started";
  EXPECT_TRUE(started);
}

}  // namespace
}  // namespace vrt
