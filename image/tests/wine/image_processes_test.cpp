// The image mapping library between real processes under one wineserver:
// a driver-flavour probe creates the image from the configuration file,
// client probes attach by name, follow reloads, start and stop the driver and
// use the message ring. Each scenario runs as its own program start, so named
// objects never carry over from one to the next.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "dit_mapping.h"
#include "dit_writer.h"
#include "probe_process.h"
#include "sample_configuration.h"
#include "shared_access.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using testing::ProbeProcess;
using testing::ProgramDirectory;
using testing::RingHas;
using testing::WaitFor;

class ImageProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    // One directory per scenario, reused by the next run of it.
    directory = std::string(temp) + "vrt-image-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(directory.c_str(), nullptr);
    DeleteFileA((directory + "\\probe_starts.txt").c_str());
    configFile = directory + "\\PLANT.VRT";
    WriteConfiguration(testing::SampleImage(2, 2, 2));
    testing::DeleteConfigValue(kDriverExeValue);
  }

  void TearDown() override {
    if (block != nullptr) SharedStore(block->RunRequest, kRequestExit);
  }

  void WriteConfiguration(const std::vector<std::uint8_t>& bytes) { testing::InstallConfiguration(configFile, bytes); }

  static std::string Probe(const char* flavour) { return ProgramDirectory() + "\\dit_probe_" + flavour + ".exe"; }

  // Starts a driver probe and waits until it serves generation 0.
  std::unique_ptr<ProbeProcess> StartDriver(const std::string& arguments = "") {
    auto driver = std::make_unique<ProbeProcess>(Probe("driver"), arguments);
    EXPECT_TRUE(driver->Started());
    EXPECT_EQ(driver->Expect("serving"), "serving");
    block = testing::OpenExistingControlBlock();
    EXPECT_NE(block, nullptr);
    EXPECT_TRUE(WaitFor([&] { return block && SharedLoad(block->RunState) == kStateRunning; }, 10s));
    return driver;
  }

  int CountStarts() {
    std::ifstream file(directory + "\\probe_starts.txt");
    std::string line;
    int starts = 0;
    while (std::getline(file, line)) starts += line.rfind("started show=0 useshow=1", 0) == 0 ? 1 : 0;
    return starts;
  }

  // What a probe that did not answer had printed, and the starts recorded,
  // for the failure message.
  std::string Describe(ProbeProcess& probe) {
    std::string text = probe.Running() ? "the probe runs; its output:" : "the probe has ended; its output:";
    for (const std::string& line : probe.Output()) text += "\n  " + line;
    text += "\ndriver starts recorded: " + std::to_string(CountStarts());
    return text;
  }

  std::string directory;
  std::string configFile;
  DriverControlBlock* block = nullptr;
};

TEST_F(ImageProcesses, DriverLoadsTheFileAndAClientReadsItsRecords) {
  auto driver = StartDriver();
  EXPECT_TRUE(testing::MappingExists("VRT0"));
  EXPECT_STREQ(block->mapName, "VRT0");
  EXPECT_EQ(std::string(block->configPath), configFile);
  EXPECT_EQ(block->KeepAlive, kKeepAliveValue);

  ProbeProcess client(Probe("nio"), "");
  EXPECT_EQ(client.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=0");
  EXPECT_EQ(client.Ask("dev 3", "dev"), "dev DEV4");
  EXPECT_EQ(client.Ask("dev 4", "dev"), "dev null");
  EXPECT_TRUE(RingHas(*block, "23 NIO-Application dit_probe_nio.exe connecting Map VRT0"));
  EXPECT_TRUE(RingHas(*block, "70 NIO-nio_map_dev() NIOLIB Bad Handle"));
  // (cut to the ring's 123 characters where the temporary folder's path is long)
  const std::string opening = "MapToDIT() Opening file " + configFile + " to map VRT0";
  EXPECT_TRUE(RingHas(*block, "23 " + opening.substr(0, kRingTextMax)));
  // Both see the driver's cycle counter move in the one shared image.
  ProbeProcess second(Probe("nio"), "");
  EXPECT_EQ(second.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=0");
  const std::string before = client.Ask("cycle", "cycle");
  Sleep(100);
  EXPECT_NE(second.Ask("cycle", "cycle"), before);
  EXPECT_NE(before, "cycle null");
}

TEST_F(ImageProcesses, ClientsFollowReloadsThroughTheGenerations) {
  auto driver = StartDriver();
  ProbeProcess client(Probe("nio"), "");
  ASSERT_EQ(client.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=0");

  for (int generation : {1, 2, 3, 1}) {
    // An edited configuration takes effect at the reload that follows a stop.
    std::vector<std::uint8_t> bytes = testing::SampleImage(2, 2, 2);
    DitImage image(bytes.data(), bytes.size());
    std::snprintf(image.Device(0)->name, kDeviceNameField, "GEN%d", generation);
    WriteConfiguration(bytes);

    ASSERT_EQ(client.Ask("startstop 0", "startstop", 10s), "startstop 1");
    EXPECT_EQ(SharedLoad(block->MapGeneration), generation);
    EXPECT_EQ(SharedLoad(block->LoadedGeneration), generation);
    EXPECT_EQ(std::string(block->mapName), "VRT" + std::to_string(generation));
    EXPECT_EQ(client.Ask("dev 0", "dev"), "dev GEN" + std::to_string(generation));
    EXPECT_EQ(client.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=" + std::to_string(generation));
    ASSERT_EQ(client.Ask("startstop 1", "startstop", 10s), "startstop 1");
  }
  EXPECT_TRUE(RingHas(*block, "39 nio_poll_reload()"));
}

TEST_F(ImageProcesses, AReloadMovesOnWhenAnIdleClientHoldsTheNextNameTooSmall) {
  auto driver = StartDriver();
  ProbeProcess active(Probe("nio"), "");
  ASSERT_EQ(active.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=0");
  auto reload = [&] {
    ASSERT_EQ(active.Ask("startstop 0", "startstop", 10s), "startstop 1");
    ASSERT_EQ(active.Ask("startstop 1", "startstop", 10s), "startstop 1");
  };
  reload();
  // A client that attaches to generation 1 and then looks away.
  ProbeProcess idle(Probe("nio"), "");
  ASSERT_EQ(idle.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=1");
  reload();
  ASSERT_EQ(active.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=2");
  reload();
  ASSERT_EQ(active.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=3");

  // A larger plant comes round to "VRT1", which the idle client still holds:
  // the driver loads it under the next name, and both clients follow.
  WriteConfiguration(testing::SampleImage(3, 3, 2));
  reload();
  EXPECT_EQ(SharedLoad(block->MapGeneration), 2);
  EXPECT_EQ(SharedLoad(block->LoadedGeneration), 2);
  EXPECT_STREQ(block->mapName, "VRT2");
  EXPECT_EQ(active.Ask("hdr", "hdr"), "hdr ok 3 9 18 gen=2");
  EXPECT_EQ(idle.Ask("hdr", "hdr"), "hdr ok 3 9 18 gen=2");
  EXPECT_EQ(SharedLoad(block->RunState), kStateRunning);
}

TEST_F(ImageProcesses, AClientGivesUpWhenTheDriverDiesDuringAReload) {
  auto driver = StartDriver("--hang-on-reload");
  ProbeProcess client(Probe("nio"), "");
  ASSERT_EQ(client.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=0");

  SharedStore(block->RunRequest, kRequestStop);
  ASSERT_TRUE(WaitFor([&] { return SharedLoad(block->MapGeneration) == 1; }, 10s));
  driver->Kill();

  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(client.Ask("dev 0", "dev"), "dev null");
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_GE(waited, 1100ms);
  EXPECT_LT(waited, 10s);
  EXPECT_TRUE(RingHas(*block, "70 NIO-ReMapDIT() Driver not running"));
}

TEST_F(ImageProcesses, TheFirstClientStartsTheRegisteredDriverHiddenAndASecondStartsNothing) {
  // The driver runs from a directory of its own: its working directory.
  const std::string driverExe = directory + "\\VRTSPOLL.exe";
  ASSERT_TRUE(CopyFileA(Probe("driver").c_str(), driverExe.c_str(), FALSE));
  testing::SetConfigValue(kDriverExeValue, driverExe);

  ProbeProcess first(Probe("nio"), "");
  ASSERT_TRUE(first.Started());
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(first.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=0") << Describe(first);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 2s);
  block = testing::OpenExistingControlBlock();
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(WaitFor([&] { return CountStarts() == 1; }, 5s));

  ProbeProcess second(Probe("nio"), "");
  EXPECT_EQ(second.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=0");
  Sleep(500);
  EXPECT_EQ(CountStarts(), 1);
  const std::uint32_t alive = SharedLoad(block->AliveCount);
  Sleep(200);
  EXPECT_GT(SharedLoad(block->AliveCount), alive);  // the started driver lives
}

TEST_F(ImageProcesses, StartAndStopHandshakeWithTheDriverAndItsFailure) {
  auto driver = StartDriver();
  ProbeProcess client(Probe("nio"), "");
  ASSERT_EQ(client.Ask("hdr", "hdr"), "hdr ok 2 4 8 gen=0");
  EXPECT_EQ(client.Ask("startstop 1", "startstop"), "startstop 1");
  EXPECT_EQ(client.Ask("startstop 0", "startstop"), "startstop 1");
  EXPECT_EQ(SharedLoad(block->RunState), kStateStopped);
  EXPECT_EQ(client.Ask("startstop 1", "startstop"), "startstop 1");
  EXPECT_EQ(SharedLoad(block->RunState), kStateRunning);

  driver->Kill();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(client.Ask("startstop 0", "startstop", 20s), "startstop 0");
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_GE(waited, 4500ms);
  EXPECT_LT(waited, 15s);
  EXPECT_TRUE(RingHas(*block, "70 NIO-nio_stop() Failed !"));
  EXPECT_TRUE(RingHas(*block, "39 NIO-nio_StartStop()"));
}

TEST_F(ImageProcesses, ALongMessageReachesTheRingAs123CharactersWithThePrefix) {
  ProbeProcess client(Probe("nio"), "");
  ASSERT_EQ(client.Ask("cb", "cb"), "cb ok");
  block = testing::OpenExistingControlBlock();
  ASSERT_NE(block, nullptr);
  const int slot = SharedLoad(block->MessageIndex);
  ASSERT_EQ(client.Ask("log " + std::string(200, 'q'), "logged"), "logged");
  EXPECT_EQ(block->ring[slot].length, 123);
  EXPECT_EQ(block->ring[slot].attribute, 70);
  EXPECT_EQ(std::string(block->ring[slot].text), "NIO-" + std::string(119, 'q'));
  EXPECT_EQ(SharedLoad(block->MessageIndex), (slot + 1) % 64);
}

TEST_F(ImageProcesses, ReadingAnEmptyRingReturnsNothingAndSwitchesMessagesOn) {
  ProbeProcess editor(Probe("editor"), "");
  ASSERT_EQ(editor.Ask("cb", "cb"), "cb ok");
  block = testing::OpenExistingControlBlock();
  ASSERT_NE(block, nullptr);
  SharedStore(block->MessagesEnabled, 0);
  EXPECT_EQ(editor.Ask("ring", "end"), "end");
  EXPECT_EQ(SharedLoad(block->MessagesEnabled), 1);

  PutRingMessage(*block, 39, "polling channel 1");
  ASSERT_EQ(editor.Ask("ring", "msg"), "msg 39 polling channel 1");
  EXPECT_EQ(editor.Expect("end"), "end");
}

TEST_F(ImageProcesses, SixteenChannelsAreServedButRefusedByTheEditor) {
  WriteConfiguration(testing::SampleImage(16, 1, 1));
  auto driver = StartDriver();
  ProbeProcess client(Probe("nio"), "");
  EXPECT_EQ(client.Ask("hdr", "hdr"), "hdr ok 16 16 16 gen=0");
  ProbeProcess editor(Probe("editor"), "");
  EXPECT_EQ(editor.Ask("hdr", "hdr"), "hdr null");
  const std::vector<std::string> output = editor.Output();
  EXPECT_NE(std::find(output.begin(), output.end(), "log 70 init_dit() bad object counts"), output.end());
}

TEST_F(ImageProcesses, ADriverRefusesATruncatedFileAndPublishesNothing) {
  std::vector<std::uint8_t> bytes = testing::SampleImage(2, 2, 2);
  bytes.resize(bytes.size() - 64);  // the last poll record's areas run past the end
  WriteConfiguration(bytes);
  ProbeProcess driver(Probe("driver"), "");
  EXPECT_EQ(driver.Expect("no image"), "no image");
  const std::vector<std::string> output = driver.Output();
  EXPECT_NE(std::find(output.begin(), output.end(), "init_dit() Corrupted file"), output.end());
  block = testing::OpenExistingControlBlock();
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(RingHas(*block, "70 init_dit() Corrupted file"));
  EXPECT_FALSE(testing::MappingExists("VRT0"));

  ProbeProcess client(Probe("nio"), "");
  EXPECT_EQ(client.Ask("hdr", "hdr"), "hdr null");
  EXPECT_TRUE(RingHas(*block, "80 NIO-MapToDIT() Map VRT0 Does not exist"));
  EXPECT_TRUE(RingHas(*block, "70 NIO-nio_map_hdr() failed"));
  EXPECT_TRUE(client.Running());
  EXPECT_TRUE(driver.Running());
}

TEST_F(ImageProcesses, AClientRefusesAnImageWhoseOffsetsLeadOutsideTheMapping) {
  // A mapping published by someone other than the driver, with a poll
  // record said to lie far beyond its end.
  std::vector<std::uint8_t> bytes = testing::SampleImage(2, 2, 2);
  DitImage image(bytes.data(), bytes.size());
  image.Runtime(5)->recordOffset = 0x40000000;
  block = testing::OpenExistingControlBlock();
  ASSERT_EQ(block, nullptr);
  HANDLE blockMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           static_cast<DWORD>(kControlBlockSize), kControlBlockName);
  block = static_cast<DriverControlBlock*>(MapViewOfFile(blockMapping, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(block, nullptr);
  InitialiseControlBlock(*block);
  HANDLE imageMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           static_cast<DWORD>(bytes.size()), "VRT0");
  void* view = MapViewOfFile(imageMapping, FILE_MAP_WRITE, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  std::memcpy(view, bytes.data(), bytes.size());

  ProbeProcess client(Probe("nio"), "");
  EXPECT_EQ(client.Ask("hdr", "hdr"), "hdr null");
  EXPECT_EQ(client.Ask("dev 0", "dev"), "dev null");
  EXPECT_TRUE(RingHas(*block, "70 NIO-init_dit() Corrupted file"));
  EXPECT_TRUE(client.Running());
}

}  // namespace
}  // namespace vrt
