// The mapping library's logic over an in-memory operating system: several
// DitMapping objects on one FakeSystem stand for several processes sharing
// named mappings, the registry and a clock that advances only when someone
// sleeps.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "captured_log.h"
#include "dit_mapping.h"
#include "fake_mapping_platform.h"
#include "log_message.h"
#include "sample_configuration.h"

namespace vrt {
namespace {

using testing::Bytes;
using testing::CapturedLog;
using testing::CountLogged;
using testing::FakeSystem;
using testing::Process;
using testing::WasLogged;

class Mapping : public ::testing::Test {
 protected:
  void SetUp() override {
    CapturedLog().clear();
    system.registry[kConfigFileValue] = "C:\\VRT\\PLANT.VRT";
    system.files["C:\\VRT\\PLANT.VRT"] = testing::SampleImage(2, 2, 2);
  }

  DriverControlBlock& Block() { return *reinterpret_cast<DriverControlBlock*>(system.controlBlock->data()); }

  // Starts a driver process that loads generation 0 and reports running.
  std::unique_ptr<Process> StartDriver() {
    auto driver = std::make_unique<Process>(system, kDriverFlavour);
    EXPECT_NE(driver->mapping.nio_map_hdr(), nullptr);
    Block().RunState = kStateRunning;
    return driver;
  }

  FakeSystem system;
};

TEST_F(Mapping, AttachBeforeTheDriverHasLoadedFailsAfterOneRetry) {
  Process client(system, kNioFlavour);
  EXPECT_EQ(client.mapping.nio_map_hdr(), nullptr);
  EXPECT_EQ(CountLogged("MapToDIT() Map VRT0 Does not exist"), 2);
  EXPECT_TRUE(WasLogged("nio_map_hdr() failed"));
  EXPECT_EQ(system.clock, 100u);

  // The next access tries again from the start.
  auto driver = StartDriver();
  EXPECT_NE(client.mapping.nio_map_hdr(), nullptr);
  EXPECT_EQ(client.mapping.ChannelCount(), 2);
  EXPECT_EQ(client.mapping.DeviceCount(), 4);
  EXPECT_EQ(client.mapping.PollRecordCount(), 8);
}

TEST_F(Mapping, TheFirstClientCreatesTheControlBlockAndStartsTheDriver) {
  system.registry[kDriverExeValue] = "C:\\VRT\\VRTSPOLL.exe";
  Process first(system, kNioFlavour);
  ASSERT_NE(first.mapping.OpenDriverControlBlock(true), nullptr);
  EXPECT_EQ(system.launches, 1);
  EXPECT_EQ(system.clock, 2000u);
  EXPECT_EQ(Block().blockMarker, 1);
  EXPECT_EQ(Block().RunRequest, kRequestStart);
  EXPECT_EQ(Block().MessagesEnabled, 1);
  EXPECT_EQ(Block().AliveCount, 0u);

  Process second(system, kNioFlavour);
  ASSERT_NE(second.mapping.OpenDriverControlBlock(true), nullptr);
  EXPECT_EQ(system.launches, 1);
  EXPECT_EQ(system.clock, 2000u);
}

TEST_F(Mapping, NoRegisteredDriverMeansNothingStartedAndNoWait) {
  Process client(system, kNioFlavour);
  EXPECT_EQ(client.mapping.StartDriverProcess(), 0);
  EXPECT_EQ(system.clock, 0u);
}

TEST_F(Mapping, ClientsFollowEveryReloadToTheNextGeneration) {
  auto driver = StartDriver();
  Process client(system, kNioFlavour);
  ASSERT_NE(client.mapping.nio_map_dev(0), nullptr);
  EXPECT_EQ(client.mapping.AttachedGeneration(), 0);
  EXPECT_STREQ(Block().mapName, "VRT0");

  const int expected[] = {1, 2, 3, 1, 2};
  for (int generation : expected) {
    // Each reload loads an edited file: the first device gets a new name.
    Bytes& file = system.files["C:\\VRT\\PLANT.VRT"];
    DitImage edited(file.data(), file.size());
    const std::string name = "GEN" + std::to_string(generation);
    std::strcpy(edited.Device(0)->name, name.c_str());

    driver->mapping.nio_poll_reload();
    EXPECT_EQ(Block().MapGeneration, generation);
    EXPECT_EQ(Block().LoadedGeneration, generation);
    EXPECT_EQ(std::string(Block().mapName), "VRT" + std::to_string(generation));

    const DitDevice* device = client.mapping.nio_map_dev(0);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(client.mapping.AttachedGeneration(), generation);
    EXPECT_EQ(DeviceName(*device, 279), name);
    EXPECT_EQ(Block().KeepAlive, kKeepAliveValue);
  }
  EXPECT_TRUE(WasLogged("nio_poll_reload()"));
}

TEST_F(Mapping, AnIdleClientFollowsAFileLoadedIntoTheMappingItStillHolds) {
  auto driver = StartDriver();
  driver->mapping.nio_poll_reload();  // generation 1
  Process client(system, kNioFlavour);
  ASSERT_NE(client.mapping.nio_map_dev(3), nullptr);
  EXPECT_EQ(client.mapping.AttachedGeneration(), 1);
  ASSERT_EQ(client.mapping.DeviceCount(), 4);

  // Three reloads while the client looks away; the last, a smaller plant,
  // lands in the generation-1 mapping the client still holds.
  driver->mapping.nio_poll_reload();
  driver->mapping.nio_poll_reload();
  system.files["C:\\VRT\\PLANT.VRT"] = testing::SampleImage(1, 1, 2);
  DitImage(system.files["C:\\VRT\\PLANT.VRT"].data(), system.files["C:\\VRT\\PLANT.VRT"].size())
      .Header()->saveTime += 1;
  driver->mapping.nio_poll_reload();
  ASSERT_EQ(Block().MapGeneration, 1);
  ASSERT_TRUE(driver->mapping.Attached());

  ASSERT_NE(client.mapping.nio_map_hdr(), nullptr);
  EXPECT_EQ(client.mapping.DeviceCount(), 1);
  EXPECT_EQ(client.mapping.PollRecordCount(), 2);
  EXPECT_EQ(client.mapping.nio_map_dev(3), nullptr);
  EXPECT_FALSE(WasLogged("init_dit() Corrupted file"));
}

TEST_F(Mapping, AReloadMovesOnWhenAnIdleClientHoldsTheNextNameTooSmall) {
  auto driver = StartDriver();
  driver->mapping.nio_poll_reload();  // generation 1
  Process idle(system, kNioFlavour);
  ASSERT_NE(idle.mapping.nio_map_dev(3), nullptr);
  ASSERT_EQ(idle.mapping.AttachedGeneration(), 1);
  Process active(system, kNioFlavour);
  ASSERT_NE(active.mapping.nio_map_hdr(), nullptr);

  // Two reloads the idle client sits out; the third, of a larger plant,
  // comes round to the name it still holds: the driver takes the next one.
  driver->mapping.nio_poll_reload();
  driver->mapping.nio_poll_reload();
  ASSERT_EQ(Block().MapGeneration, 3);
  ASSERT_NE(active.mapping.nio_map_hdr(), nullptr);
  system.files["C:\\VRT\\PLANT.VRT"] = testing::SampleImage(3, 3, 2);
  driver->mapping.nio_poll_reload();
  EXPECT_TRUE(driver->mapping.Attached());
  EXPECT_EQ(Block().MapGeneration, 2);
  EXPECT_EQ(Block().LoadedGeneration, 2);
  EXPECT_STREQ(Block().mapName, "VRT2");

  // Both clients follow to the larger plant.
  ASSERT_NE(active.mapping.nio_map_hdr(), nullptr);
  EXPECT_EQ(active.mapping.AttachedGeneration(), 2);
  EXPECT_EQ(active.mapping.DeviceCount(), 9);
  ASSERT_NE(idle.mapping.nio_map_dev(8), nullptr);
  EXPECT_EQ(idle.mapping.AttachedGeneration(), 2);
}

TEST_F(Mapping, AClientWaitsForALiveDriverToFinishLoading) {
  auto driver = StartDriver();
  Process client(system, kNioFlavour);
  ASSERT_NE(client.mapping.nio_map_hdr(), nullptr);

  // The driver has announced generation 1 and keeps counting while it loads.
  Block().MapGeneration = 1;
  int sleeps = 0;
  system.onSleep = [&] {
    ++Block().AliveCount;
    if (++sleeps == 40) {
      // The load completes: generation 1 is created and published.
      Block().MapGeneration = 0;
      driver->mapping.nio_poll_reload();
    }
  };
  ASSERT_NE(client.mapping.nio_map_chan(0), nullptr);
  EXPECT_EQ(client.mapping.AttachedGeneration(), 1);
  EXPECT_FALSE(WasLogged("ReMapDIT() Driver not running"));
  EXPECT_GT(system.clock, 3000u);
}

TEST_F(Mapping, AClientGivesUpOnADriverThatDiedDuringAReload) {
  auto driver = StartDriver();
  Process client(system, kNioFlavour);
  ASSERT_NE(client.mapping.nio_map_hdr(), nullptr);

  Block().MapGeneration = 1;  // announced, never loaded; the alive count stands still
  Block().KeepAlive = 0;
  const std::uint64_t before = system.clock;
  EXPECT_EQ(client.mapping.nio_map_chan(0), nullptr);
  EXPECT_TRUE(WasLogged("ReMapDIT() Driver not running"));
  EXPECT_FALSE(client.mapping.Attached());
  // 10 ms after detaching, then more than ten 100 ms passes.
  EXPECT_EQ(system.clock - before, 10u + 12 * 100u);
  EXPECT_NE(Block().KeepAlive, kKeepAliveValue);

  // A driver that comes back and loads the generation is followed at the next access.
  Block().MapGeneration = 0;
  driver->mapping.nio_poll_reload();
  ASSERT_NE(client.mapping.nio_map_chan(0), nullptr);
  EXPECT_EQ(client.mapping.AttachedGeneration(), 1);
}

TEST_F(Mapping, StartAndStopWaitForTheDriversConfirmation) {
  auto driver = StartDriver();
  Process client(system, kNioFlavour);
  ASSERT_NE(client.mapping.nio_map_hdr(), nullptr);

  const std::uint64_t before = system.clock;
  EXPECT_EQ(client.mapping.nio_StartStop(1), 1);  // already running: confirmed at the first poll
  EXPECT_EQ(system.clock - before, 50u);
  EXPECT_EQ(Block().RunRequest, kRequestStart);

  int polls = 0;
  system.onSleep = [&] {
    if (++polls == 7 && Block().RunRequest == kRequestStop) Block().RunState = kStateStopped;
  };
  EXPECT_EQ(client.mapping.nio_StartStop(0), 1);
  EXPECT_EQ(Block().RunRequest, kRequestStop);
  EXPECT_EQ(polls, 7);

  system.onSleep = nullptr;
  const std::uint64_t start = system.clock;
  EXPECT_EQ(client.mapping.nio_StartStop(1), 0);  // nobody answers
  EXPECT_EQ(system.clock - start, 5000u);
  EXPECT_TRUE(WasLogged("nio_stop() Failed !"));
  EXPECT_TRUE(WasLogged("nio_StartStop()"));
}

TEST_F(Mapping, RecordAccessChecksIndicesAndRemembersTheLastRecord) {
  auto driver = StartDriver();
  Process client(system, kNioFlavour);
  EXPECT_EQ(client.mapping.nio_map_chan(2), nullptr);
  EXPECT_TRUE(WasLogged("nio_map_chan(2) NIOLIB Bad Handle"));
  EXPECT_EQ(client.mapping.nio_map_dev(-1), nullptr);
  EXPECT_TRUE(WasLogged("nio_map_dev() NIOLIB Bad Handle"));
  EXPECT_EQ(client.mapping.nio_map_dit(8), nullptr);
  EXPECT_TRUE(WasLogged("nio_map_ptr() NIOLIB Bad Handle"));
  EXPECT_TRUE(WasLogged("nio_map_dit(8) NIOLIB Bad Handle"));

  CapturedLog().clear();
  DitPollRecord* record = client.mapping.nio_map_dit(5);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(client.mapping.nio_find_data(5, 0), reinterpret_cast<std::uint8_t*>(record));
  EXPECT_EQ(client.mapping.nio_find_data(5, 1), reinterpret_cast<std::uint8_t*>(record) + 82);
  EXPECT_EQ(client.mapping.nio_find_data(5, 2), reinterpret_cast<std::uint8_t*>(record) + 82 + 16);
  EXPECT_TRUE(CapturedLog().empty());

  std::uint8_t* other = client.mapping.nio_find_data(6, 1);
  EXPECT_TRUE(WasLogged("nio_find_data(6,1) different from map"));
  EXPECT_EQ(other, reinterpret_cast<std::uint8_t*>(client.mapping.nio_map_dit(6)) + 82);
  EXPECT_EQ(client.mapping.nio_find_data(9, 1), nullptr);
  EXPECT_TRUE(WasLogged("nio_find_data(9,1) FAILED"));
}

TEST_F(Mapping, ChannelRelativeIndicesStayInsideTheChannel) {
  auto driver = StartDriver();
  Process client(system, kNioFlavour);
  EXPECT_EQ(client.mapping.ChannelDeviceIndex(1, 0), 2);
  EXPECT_EQ(client.mapping.ChannelDeviceIndex(1, 1), 3);
  EXPECT_EQ(client.mapping.ChannelDeviceIndex(1, 2), -1);
  // One past the first channel's devices and records is the second channel's, not the first's.
  EXPECT_EQ(client.mapping.ChannelDeviceIndex(0, 1), 1);
  EXPECT_EQ(client.mapping.ChannelDeviceIndex(0, 2), -1);
  EXPECT_EQ(client.mapping.ChannelPollRecordIndex(0, 3), 3);
  EXPECT_EQ(client.mapping.ChannelPollRecordIndex(0, 4), -1);
  EXPECT_EQ(client.mapping.ChannelDeviceIndex(0, -1), -1);
  EXPECT_EQ(client.mapping.ChannelPollRecordIndex(1, 3), 7);
  EXPECT_EQ(client.mapping.ChannelPollRecordIndex(1, 4), -1);
  EXPECT_EQ(client.mapping.ChannelPollRecordIndex(5, 0), -1);
}

TEST_F(Mapping, EachFlavourAppliesItsOwnBounds) {
  system.files["C:\\VRT\\PLANT.VRT"] = testing::SampleImage(16, 1, 1);
  auto driver = StartDriver();
  EXPECT_TRUE(driver->mapping.Attached());
  Process client(system, kNioFlavour);
  EXPECT_NE(client.mapping.nio_map_hdr(), nullptr);
  Process editor(system, kEditorFlavour);
  CapturedLog().clear();
  EXPECT_EQ(editor.mapping.nio_map_hdr(), nullptr);
  EXPECT_EQ(CountLogged("init_dit() bad object counts"), 2);
}

TEST_F(Mapping, ACorruptFileIsRefusedByTheDriverAndItsClients) {
  Bytes& file = system.files["C:\\VRT\\PLANT.VRT"];
  file.resize(file.size() - 10);
  Process driver(system, kDriverFlavour);
  EXPECT_EQ(driver.mapping.nio_map_hdr(), nullptr);
  EXPECT_TRUE(WasLogged("init_dit() Corrupted file"));
  Process client(system, kNioFlavour);
  EXPECT_EQ(client.mapping.nio_map_dev(0), nullptr);
  EXPECT_FALSE(client.mapping.Attached());
}

TEST_F(Mapping, TheAcronymMustHaveThreeCharacters) {
  Process client(system, kNioFlavour);
  EXPECT_EQ(client.mapping.MapToDIT("VRTX", 1), 0);
  EXPECT_TRUE(WasLogged("MapToDIT() failed to open DIT Table - Bad Accronym"));
}

TEST_F(Mapping, ReadingMessagesSwitchesTheRingOn) {
  Process reader(system, kEditorFlavour);
  ASSERT_NE(reader.mapping.OpenDriverControlBlock(false), nullptr);
  Block().MessagesEnabled = 0;
  const char* text = nullptr;
  int attribute = 0;
  EXPECT_EQ(reader.mapping.ReadDriverMessage(&text, &attribute, 0), 0);
  EXPECT_EQ(Block().MessagesEnabled, 1);
  EXPECT_EQ(Block().FileLogEnabled, 0);
  PutRingMessage(Block(), 39, "polling");
  EXPECT_EQ(reader.mapping.ReadDriverMessage(&text, &attribute, 1), 1);
  EXPECT_STREQ(text, "polling");
  EXPECT_EQ(attribute, 39);
  EXPECT_EQ(Block().FileLogEnabled, 1);
}

}  // namespace
}  // namespace vrt
