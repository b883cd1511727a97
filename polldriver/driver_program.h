// The poll driver's frame: start-up, the single-instance test, the command
// line, console keys, the run/stop/exit state machine driven through the
// driver control block, the 10 ms main loop that runs the poll engine, and
// the network start-up and shut-down around each run. A stop always reloads
// the configuration into the image's next generation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../image/dit_mapping.h"
#include "poll_engine.h"
#include "soe_decoder.h"

namespace vrt {

inline constexpr const char* kProductCaption = "Harnix Tavex";
inline constexpr const char* kDriverVersion = "6.9.11";

// What the driver needs of the operating system and the card library. Its
// EventLine writes each stored event (messages, CSV file, database).
class DriverSystem : public EngineHost, public CardAccess, public EventLineSink {
 public:
  // Event replies are decoded by the driver itself (SoeDecoder).
  ReplyCheck EventReply(int, int, const std::uint8_t*, std::size_t) override { return ReplyCheck::kGood; }
  void EventLine(const DitDevice&, const SoeEventRecord&) override {}
  // A key waiting at the console (read without echo), if any.
  virtual bool NextKey(char* key) = 0;
  virtual void RaisePriority() = 0;
  virtual std::int32_t InitTavexInterface() = 0;
  virtual std::int32_t InitTavexCard(std::int16_t card) = 0;
  virtual void CloseTavexCard(std::int16_t card) = 0;
  virtual void ReleaseTavexInterface() = 0;
  // Event logging around each run (settings, database, writer thread).
  virtual void StartEventLogging() {}
  virtual void StopEventLogging() {}
};

struct CommandLine {
  bool fileLog = false;
  bool paused = false;
  bool anyArgument = false;
};
// Each argument, upper-cased, is tested for "F", then "S", then "P"; the
// first that matches decides.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// Milliseconds to 10 ms ticks without losing the remainder from one cycle
// to the next, so that every elapsed millisecond counts once.
class TickClock {
 public:
  explicit TickClock(std::uint32_t now) : last_(now) {}
  std::uint32_t Advance(std::uint32_t now);
  // How long to sleep for the next tick (at least 1 ms): the part of a tick
  // already gone, the loop's own work included, is not slept again, so that
  // the loop keeps one cycle a tick.
  std::uint32_t UntilNextTick() const { return remainder_ >= 9 ? 1 : 10 - remainder_; }

 private:
  std::uint32_t last_;
  std::uint32_t remainder_ = 0;
};

class DriverProgram {
 public:
  DriverProgram(DitMapping& mapping, DriverSystem& system);
  ~DriverProgram();
  // Runs until an exit request; returns the process's exit code.
  int Run(const std::vector<std::string>& arguments);

  // Handles one console key.
  void HandleKey(char key);

 private:
  void ProcessKeys();
  bool NetworkStartup();
  void NetworkShutdown();
  void MainLoop(DitHeader* header);

  class RunHost;

  DitMapping& mapping_;
  DriverSystem& system_;
  DriverControlBlock* block_ = nullptr;
  std::unique_ptr<SoeDecoder> decoder_;
  std::unique_ptr<RunHost> host_;
  std::unique_ptr<PollEngine> engine_;
};

}  // namespace vrt
