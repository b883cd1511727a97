// The driver's frame over the in-memory operating system: start-up, the
// single-instance test, the run/stop/exit state machine with reloads, keys,
// and the main loop's tick counting.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "captured_log.h"
#include "driver_log.h"
#include "driver_program.h"
#include "fake_mapping_platform.h"
#include "sample_configuration.h"
#include "shared_access.h"

namespace vrt {
namespace {

using testing::CapturedLog;
using testing::CountLogged;
using testing::FakeSystem;
using testing::Process;
using testing::WasLogged;

class FakeDriverSystem final : public DriverSystem {
 public:
  explicit FakeDriverSystem(FakeSystem& system) : system_(system) {}
  void SleepMilliseconds(unsigned milliseconds) override {
    system_.clock += milliseconds;
    if (system_.onSleep) system_.onSleep();
  }
  std::uint32_t TickCount() override { return static_cast<std::uint32_t>(system_.clock * tickScale); }
  CivilTime LocalTime() override { return {2026, 12, 8, 6, 0, 0, 0}; }
  void KickEventWriter() override {}
  std::int16_t Send(std::int16_t card, std::int16_t, const std::uint8_t*) override {
    sentPerCard[card]++;
    return 0;
  }
  std::int16_t Receive(std::int16_t, std::int16_t*, std::uint8_t*) override { return 1; }
  bool NextKey(char* key) override {
    if (keys.empty()) return false;
    *key = keys.front();
    keys.pop_front();
    return true;
  }
  void RaisePriority() override { raised = true; }
  std::int32_t InitTavexInterface() override {
    ++interfaces;
    return 4;
  }
  std::int32_t InitTavexCard(std::int16_t card) override {
    openedCards.push_back(card);
    return card + 1;
  }
  void CloseTavexCard(std::int16_t card) override { closedCards.push_back(card); }
  void ReleaseTavexInterface() override { ++releases; }

  std::deque<char> keys;
  std::map<int, int> sentPerCard;
  std::vector<int> openedCards;
  std::vector<int> closedCards;
  int interfaces = 0;
  int releases = 0;
  bool raised = false;
  double tickScale = 1.0;

 private:
  FakeSystem& system_;
};

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    CapturedLog().clear();
    SetConsolePaused(false);
    system.registry[kConfigFileValue] = "C:\\VRT\\PLANT.VRT";
    system.files["C:\\VRT\\PLANT.VRT"] = testing::SampleImage(2, 1, 2);
  }
  DriverControlBlock& Block() { return *reinterpret_cast<DriverControlBlock*>(system.controlBlock->data()); }

  // Runs the driver; `at` is called on every sleep with the clock.
  int RunDriver(std::function<void(std::uint64_t)> at, std::vector<std::string> arguments = {}) {
    system.onSleep = [&, at] { at(system.clock); };
    return program.Run(arguments);
  }

  FakeSystem system;
  Process process{system, kDriverFlavour};
  FakeDriverSystem driverSystem{system};
  DriverProgram program{process.mapping, driverSystem};
};

TEST_F(Driver, StartsLoadsTheImageOpensTheCardsPollsAndExits) {
  std::uint16_t cyclesAtExit = 0;
  const int result = RunDriver([&](std::uint64_t now) {
    if (now >= 1000 && Block().RunRequest != kRequestExit) {
      cyclesAtExit = process.mapping.Image().Header()->cycleCounter;
      Block().RunRequest = kRequestExit;
    }
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Block().RunState, kStateExited);
  EXPECT_EQ(Block().AliveCount, 0u);
  EXPECT_EQ(Block().KeepAlive, kKeepAliveValue);
  EXPECT_TRUE(driverSystem.raised);
  EXPECT_GT(cyclesAtExit, 80);
  EXPECT_EQ(driverSystem.interfaces, 1);
  EXPECT_EQ(driverSystem.openedCards, (std::vector<int>{1, 2}));  // primary ports 0 and 1, plus one
  EXPECT_EQ(driverSystem.closedCards, (std::vector<int>{1, 2}));
  EXPECT_EQ(driverSystem.releases, 1);
  EXPECT_GT(driverSystem.sentPerCard[1], 0);
  EXPECT_GT(driverSystem.sentPerCard[2], 0);

  const DitImage& image = process.mapping.Image();
  EXPECT_EQ(image.Header()->flags & kRunningFlag, 0);
  EXPECT_EQ(image.Header()->lockByte, 'U');
  for (int k = 0; k < image.PollRecordCount(); ++k) EXPECT_EQ(image.PollRecord(k)->status, kStatusStopped);
  EXPECT_EQ(Block().MapGeneration, 0);  // an exit does not reload

  const std::vector<std::string> expected = {"Harnix Tavex (VRT) V6.9.11 Started", " VRT Starting",
                                             "VRTV6.9.11 started", " VRT Stopping..", "VRTV6.9.11 stopped"};
  for (const std::string& text : expected) EXPECT_TRUE(WasLogged(text)) << text;
  EXPECT_EQ(CountLogged("VRTV6.9.11 started"), 2);  // information and activity
}

TEST_F(Driver, EveryStopReloadsTheNextGenerationAndAStartResumes) {
  std::vector<int> generations;
  std::uint64_t stopAt = 300;
  RunDriver([&](std::uint64_t now) {
    DriverControlBlock& block = Block();
    if (block.RunRequest == kRequestStart && block.RunState == kStateRunning && now >= stopAt) {
      block.RunRequest = kRequestStop;
    } else if (block.RunState == kStateStopped && block.RunRequest == kRequestStop) {
      generations.push_back(block.LoadedGeneration);
      if (generations.size() == 4) {
        block.RunRequest = kRequestExit;
      } else {
        block.RunRequest = kRequestStart;
        stopAt = now + 300;
      }
    }
  });
  EXPECT_EQ(generations, (std::vector<int>{1, 2, 3, 1}));
  EXPECT_EQ(Block().MapGeneration, 1);
  EXPECT_EQ(std::string(Block().mapName), "VRT1");
  EXPECT_EQ(CountLogged("nio_poll_reload()"), 4);
  EXPECT_EQ(driverSystem.interfaces, 4);  // four runs, the last one ended by the exit
}

TEST_F(Driver, ASecondDriverEndsWithinHalfASecondWithoutTouchingTheImage) {
  // Another driver already counts in the control block.
  Process other(system, kNioFlavour);
  ASSERT_NE(other.mapping.OpenDriverControlBlock(false), nullptr);
  Block().AliveCount = 77;
  const int result = RunDriver([&](std::uint64_t) { ++Block().AliveCount; });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(system.clock, 500u);
  EXPECT_TRUE(system.mappings.empty());
  EXPECT_EQ(driverSystem.interfaces, 0);
}

TEST_F(Driver, AnyArgumentSkipsTheSingleInstanceTestAndFSwitchesTheLogFileOn) {
  Process other(system, kNioFlavour);
  ASSERT_NE(other.mapping.OpenDriverControlBlock(false), nullptr);
  Block().AliveCount = 77;
  RunDriver(
      [&](std::uint64_t now) {
        ++Block().AliveCount;
        if (now >= 200) Block().RunRequest = kRequestExit;
      },
      {"f"});
  EXPECT_EQ(Block().FileLogEnabled, 1);
  EXPECT_EQ(driverSystem.interfaces, 1);
  EXPECT_FALSE(ConsolePaused());
}

TEST_F(Driver, KeysStopStartToggleAndExplain) {
  bool stopped = false;
  bool restarted = false;
  RunDriver([&](std::uint64_t now) {
    DriverControlBlock& block = Block();
    if (now == 200) driverSystem.keys = {'s'};
    if (block.RunState == kStateStopped && !stopped) {
      stopped = true;
      driverSystem.keys = {'f', 'P', '?'};
    }
    if (stopped && !restarted && now >= 600) {
      restarted = true;
      driverSystem.keys = {'S'};
    }
    if (restarted && block.RunState == kStateRunning && now >= 700) block.RunRequest = kRequestExit;
  });
  EXPECT_TRUE(WasLogged("Stop Requested"));
  EXPECT_TRUE(WasLogged("Start Requested"));
  EXPECT_TRUE(WasLogged("Toggle File Log = 1"));
  EXPECT_TRUE(WasLogged("Usage: 'S' Stop/Start"));
  EXPECT_TRUE(WasLogged("       'P' Toggle Pause"));
  EXPECT_TRUE(WasLogged("Harnix Tavex (VRT) V6.9.11"));
  EXPECT_FALSE(ConsolePaused());  // any other key ends the pause
  for (const auto& message : CapturedLog()) {
    if (message.text == "Stop Requested") {
      EXPECT_EQ(message.attribute, 80);
    }
    if (message.text == "Toggle File Log = 1") {
      EXPECT_EQ(message.attribute, 7);
    }
  }
  EXPECT_EQ(Block().MapGeneration, 1);
}

TEST_F(Driver, WithoutAnImageTheRunEndsAtOnceAndWaitsForAStart) {
  system.registry.erase(kConfigFileValue);
  int starts = 0;
  RunDriver([&](std::uint64_t now) {
    if (Block().RunState == kStateStopped && Block().RunRequest == kRequestStop && starts < 1 && now > 300) {
      ++starts;
      Block().RunRequest = kRequestStart;  // tries again: still no image
    }
    if (now > 1000) Block().RunRequest = kRequestExit;
  });
  EXPECT_EQ(driverSystem.interfaces, 0);
  EXPECT_EQ(Block().MapGeneration, 0);  // no reload without an image
  EXPECT_GE(CountLogged(" VRT Starting"), 2);
  EXPECT_EQ(CountLogged("nio_poll_reload()"), 0);
}

TEST(TickClock, CountsEveryMillisecondOnceWhateverTheTimerStep) {
  // The system timer moves in steps of 15 or 16 ms.
  TickClock clock(1000);
  std::uint32_t now = 1000;
  std::uint32_t ticks = 0;
  for (int cycle = 0; cycle < 640; ++cycle) {
    now += (cycle % 8 == 0) ? 15 : 16;
    ticks += clock.Advance(now);
  }
  EXPECT_EQ(ticks, (now - 1000) / 10);
  // Across the 32-bit wrap of the tick count as well.
  TickClock wrapping(0xFFFFFFF0u);
  EXPECT_EQ(wrapping.Advance(0x00000014u), 3u);
  EXPECT_EQ(wrapping.Advance(0x00000019u), 1u);
}

TEST(TickClock, TheLoopKeepsOneCycleATickWhateverItsOwnWorkTakes) {
  // Each cycle's work takes 2 ms and every sleep 1 ms more than asked.
  TickClock clock(0);
  std::uint32_t now = 0;
  std::uint32_t ticks = 0;
  std::uint32_t advanced = 0;
  int cycles = 0;
  while (now < 10000) {
    now += clock.UntilNextTick() + 1;
    ticks += clock.Advance(now);
    advanced = now;
    now += 2;
    ++cycles;
  }
  EXPECT_EQ(ticks, advanced / 10);  // still every millisecond counted once
  EXPECT_GE(cycles, 990);  // a fixed 10 ms sleep would make 770 cycles of these
  EXPECT_LE(cycles, 1001);
  EXPECT_EQ(TickClock(0).UntilNextTick(), 10u);
}

TEST(CommandLine, TheFirstMatchingLetterDecides) {
  EXPECT_TRUE(ParseCommandLine({"f"}).fileLog);
  EXPECT_TRUE(ParseCommandLine({"x"}).anyArgument);
  EXPECT_FALSE(ParseCommandLine({}).anyArgument);
  EXPECT_TRUE(ParseCommandLine({"p"}).paused);
  EXPECT_FALSE(ParseCommandLine({"sp"}).paused);  // "S" matched first
  EXPECT_FALSE(ParseCommandLine({"pf"}).paused);  // "F" matched first
  EXPECT_TRUE(ParseCommandLine({"pf"}).fileLog);
  const CommandLine both = ParseCommandLine({"S", "P", "F"});
  EXPECT_TRUE(both.paused);
  EXPECT_TRUE(both.fileLog);
}

}  // namespace
}  // namespace vrt
