#include "driver_program.h"

#include <cctype>

#include "../image/control_block.h"
#include "../image/dit_codes.h"
#include "../image/log_message.h"
#include "../image/shared_access.h"
#include "driver_log.h"
#include "driver_messages.h"

namespace vrt {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  line.anyArgument = !arguments.empty();
  for (std::string argument : arguments) {
    for (char& c : argument) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (argument.find('F') != std::string::npos) {
      line.fileLog = true;
    } else if (argument.find('S') != std::string::npos) {
      // Start: the driver starts anyway.
    } else if (argument.find('P') != std::string::npos) {
      line.paused = true;
    }
  }
  return line;
}

std::uint32_t TickClock::Advance(std::uint32_t now) {
  const std::uint32_t elapsed = now - last_ + remainder_;
  last_ = now;
#if defined(VRT_BENCH_DISCARD_TICK_REMAINDER)
  // Only for measuring the old behaviour: every cycle's remainder is lost.
  remainder_ = 0;
#else
  remainder_ = elapsed % 10;
#endif
  return elapsed / 10;
}

// The poll engine's host during a run: the system's services, with event
// replies decoded over the run's image.
class DriverProgram::RunHost final : public EngineHost {
 public:
  RunHost(DriverSystem& system, SoeDecoder& decoder) : system_(system), decoder_(decoder) {}
  void SleepMilliseconds(unsigned milliseconds) override { system_.SleepMilliseconds(milliseconds); }
  std::uint32_t TickCount() override { return system_.TickCount(); }
  CivilTime LocalTime() override { return system_.LocalTime(); }
  ReplyCheck EventReply(int, int pollRecord, const std::uint8_t* frame, std::size_t length) override {
    return decoder_.Decode(pollRecord, frame, length);
  }
  void KickEventWriter() override { system_.KickEventWriter(); }

 private:
  DriverSystem& system_;
  SoeDecoder& decoder_;
};

DriverProgram::DriverProgram(DitMapping& mapping, DriverSystem& system) : mapping_(mapping), system_(system) {}
DriverProgram::~DriverProgram() = default;

void DriverProgram::HandleKey(char key) {
  key = static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
  switch (key) {
    case 'S':
      if (SharedLoad(block_->RunState) == kStateRunning) {
        SharedStore(block_->RunRequest, kRequestStop);
        LogMessage(kAttrWarning, "Stop Requested");
      } else {
        SharedStore(block_->RunRequest, kRequestStart);
        LogMessage(kAttrWarning, "Start Requested");
      }
      break;
    case 'P':
      SetConsolePaused(!ConsolePaused());
      break;
    case 'F': {
      const int fileLog = SharedLoad(block_->FileLogEnabled) ? 0 : 1;
      SharedStore(block_->FileLogEnabled, fileLog);
      LogMessage(kAttrBanner, "Toggle File Log = %d", fileLog);
      break;
    }
    default:
      SetConsolePaused(false);
      LogMessage(kAttrBanner, "%s (%s) V%s", kProductCaption, kAcronym, kDriverVersion);
      LogMessage(kAttrBanner, "Usage: 'S' Stop/Start");
      LogMessage(kAttrBanner, "       'P' Toggle Pause");
      break;
  }
}

void DriverProgram::ProcessKeys() {
  char key = 0;
  while (system_.NextKey(&key)) HandleKey(key);
}

int DriverProgram::Run(const std::vector<std::string>& arguments) {
  LogMessage(kAttrBanner, "%s (%s) V%s Started", kProductCaption, kAcronym, kDriverVersion);
  block_ = mapping_.OpenDriverControlBlock(false);
  if (block_ == nullptr) return 1;

  const CommandLine line = ParseCommandLine(arguments);
  if (line.anyArgument) SharedStore(block_->AliveCount, 0u);
  if (line.fileLog) SharedStore(block_->FileLogEnabled, 1);
  if (line.paused) SetConsolePaused(true);

  // Another driver keeps counting AliveCount: give it half a second.
  if (SharedLoad(block_->AliveCount) != 0) {
    SharedStore(block_->AliveCount, 0u);
    system_.SleepMilliseconds(500);
    if (SharedLoad(block_->AliveCount) != 0) return 0;
  }
  SharedStore(block_->AliveCount, 1u);
  SharedStore(block_->KeepAlive, kKeepAliveValue);
  SharedStore(block_->RunRequest, kRequestStart);
  system_.RaisePriority();

  while (SharedLoad(block_->RunRequest) != kRequestExit) {
    if (SharedLoad(block_->RunState) != kStateStopped) SharedStore(block_->RunRequest, kRequestStart);
    system_.SleepMilliseconds(50);
    ProcessKeys();
    while (SharedLoad(block_->RunRequest) == kRequestStart) {
      LogMessage(kAttrActivity, " %s Starting", kAcronym);
      DitHeader* header = mapping_.nio_map_hdr();
      if (header == nullptr) {
        SharedStore(block_->RunRequest, kRequestStop);
      } else {
        NetworkStartup();
      }
      MainLoop(header);
      SharedStore(block_->RunState, kStateStopped);
      LogMessage(kAttrActivity, " %s Stopping..", kAcronym);
      if (header != nullptr) {
        NetworkShutdown();
        if (SharedLoad(block_->RunRequest) != kRequestExit) mapping_.nio_poll_reload();
      }
    }
  }
  SharedStore(block_->RunState, kStateExited);
  SharedStore(block_->AliveCount, 0u);
  system_.SleepMilliseconds(1000);
  return 0;
}

void DriverProgram::MainLoop(DitHeader* header) {
  TickClock clock(system_.TickCount());
  for (;;) {
    const std::uint16_t request = SharedLoad(block_->RunRequest);
    if (request == kRequestStop || request == kRequestExit) return;
    SharedStore(block_->RunState, kStateRunning);
    system_.SleepMilliseconds(clock.UntilNextTick());
    if (header != nullptr) header->cycleCounter = static_cast<std::uint16_t>(header->cycleCounter + 1);
    SharedStore(block_->AliveCount, SharedLoad(block_->AliveCount) + 1);
    const std::uint32_t ticks = clock.Advance(system_.TickCount());
    // A wake before the tick is due polls nothing: at most one cycle a tick.
    if (ticks > 0 && header != nullptr && (header->flags & kRunningFlag) != 0 && engine_) engine_->PollCycle(ticks);
    ProcessKeys();
  }
}

bool DriverProgram::NetworkStartup() {
  LogMessage(kAttrInformation, "%sV%s started", kAcronym, kDriverVersion);
  LogMessage(kAttrActivity, "%sV%s started", kAcronym, kDriverVersion);
  system_.InitTavexInterface();
  const DitImage& image = mapping_.Image();
  decoder_ = std::make_unique<SoeDecoder>(image, system_, &system_);
  host_ = std::make_unique<RunHost>(system_, *decoder_);
  engine_ = std::make_unique<PollEngine>(image, system_, *host_);
  for (int channel = 0; channel < image.ChannelCount(); ++channel) {
    if (!engine_->StartChannel(channel)) {
      const DitChannel* record = image.Channel(channel);
      if (record != nullptr && record->messageEnable != 0) {
        LogMessage(kAttrActivity, DriverMessageText(kMessageMcbAllocation), channel + 1);
      }
      LogMessage(kAttrInformation, DriverMessageText(kMessageMcbAllocation), channel + 1);
      continue;
    }
    system_.InitTavexCard(static_cast<std::int16_t>(engine_->CardOf(channel)));
    // The backup link's card is opened too: after a failure the channel
    // switches to it, and a card that was never opened cannot carry frames.
    const DitChannel* record = image.Channel(channel);
    if (record->backup.port != kNoPort && record->backup.port != record->primary.port) {
      system_.InitTavexCard(static_cast<std::int16_t>(record->backup.port + 1));
    }
  }
  system_.StartEventLogging();
  DitHeader* header = image.Header();
  header->flags = static_cast<std::uint8_t>(header->flags | kRunningFlag);
  return true;
}

void DriverProgram::NetworkShutdown() {
  system_.StopEventLogging();
  LogMessage(kAttrActivity, "%sV%s stopped", kAcronym, kDriverVersion);
  LogMessage(kAttrInformation, "%sV%s stopped", kAcronym, kDriverVersion);
  const DitImage& image = mapping_.Image();
  if (engine_) {
    for (int channel = 0; channel < image.ChannelCount(); ++channel) {
      if (engine_->ChannelFailed(channel)) continue;
      const DitChannel* record = image.Channel(channel);
      system_.CloseTavexCard(static_cast<std::int16_t>(record->primary.port + 1));
      if (record->backup.port != kNoPort && record->backup.port != record->primary.port) {
        system_.CloseTavexCard(static_cast<std::int16_t>(record->backup.port + 1));
      }
      engine_->StopChannel(channel);
    }
  }
  system_.ReleaseTavexInterface();
  if (DitHeader* header = image.Header()) {
    LockByteGuard lock(header->lockByte, system_);
    header->flags = static_cast<std::uint8_t>(header->flags & ~kRunningFlag);
  }
  engine_.reset();
  host_.reset();
  decoder_.reset();
}

}  // namespace vrt
