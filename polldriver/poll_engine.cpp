#include "poll_engine.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "../image/control_block.h"
#include "../image/dit_codes.h"
#include "../image/log_message.h"
#include "driver_messages.h"

namespace vrt {

namespace {

std::uint16_t ReadWord(const std::uint8_t* area, std::size_t index) {
  std::uint16_t value = 0;
  std::memcpy(&value, area + 2 * index, 2);
  return value;
}

void WriteWord(std::uint8_t* area, std::size_t index, std::uint16_t value) { std::memcpy(area + 2 * index, &value, 2); }

std::int32_t CountDown(std::int32_t value, std::uint32_t elapsed) {
  const std::int64_t left = static_cast<std::int64_t>(value) - elapsed;
  return left > 0 ? static_cast<std::int32_t>(left) : 0;
}

bool IsTwoRegisterType(std::uint16_t dataType) {
  return dataType == kDataFloat || dataType == kDataUnsigned32 || dataType == kDataSigned32;
}

// The largest number of data bytes a write words request can carry: the
// whole frame (six bytes before the data) must fit the MCB's transmit area,
// which also keeps the count byte (bytes after the command) below 256.
constexpr std::size_t kMaxWriteDataBytes = kFrameAreaSize - 6;

}  // namespace

PollEngine::PollEngine(const DitImage& image, CardAccess& card, EngineHost& host)
    : image_(image), card_(card), host_(host), channels_(static_cast<std::size_t>(std::max(0, image.ChannelCount()))) {}

PollEngine::~PollEngine() = default;

bool PollEngine::ChannelFailed(int channel) const { return channels_[channel].failed; }

int PollEngine::CardOf(int channel) const {
  const Mcb* mcb = channels_[channel].mcb.get();
  return mcb ? mcb->card : 0;
}

const Mcb* PollEngine::McbOf(int channel) const { return channels_[channel].mcb.get(); }

// Returns whether the record's last event request went unanswered and
// marks it with `unanswered`.
bool PollEngine::MarkEventUnanswered(int channel, int pollRecord, bool unanswered) {
  std::vector<bool>& marks = channels_[channel].eventUnanswered;
  const std::size_t slot = static_cast<std::size_t>(pollRecord - image_.Channel(channel)->firstPollRecord);
  if (slot >= marks.size()) return false;
  const bool was = marks[slot];
  marks[slot] = unanswered;
  return was;
}

bool PollEngine::MessagesWanted(int channel) const {
  const DitChannel* record = image_.Channel(channel);
  return record != nullptr && record->messageEnable != 0;
}

const DitLink& PollEngine::LinkInUse(const DitChannel& channel) const {
  return static_cast<std::uint8_t>(channel.activePort) == channel.primary.port ? channel.primary : channel.backup;
}

bool PollEngine::StartChannel(int channel) {
  ChannelState& state = channels_[channel];
  DitChannel* record = image_.Channel(channel);
  state = ChannelState{};
  if (record == nullptr) {
    state.failed = true;
    return false;
  }
  state.mcb.reset(new (std::nothrow) Mcb{});
  if (!state.mcb) {
    state.failed = true;
    return false;
  }
  state.mcb->card = static_cast<std::uint8_t>(record->primary.port + 1);
  for (int d = record->firstDevice; d < record->firstDevice + record->deviceCount; ++d) {
    if (DitDevice* device = image_.Device(d)) {
      device->timeSyncInterval = device->hardwareType == kHardwareEVR420 ? kEventRecorderTimeSyncInterval : 0;
    }
  }
  state.eventUnanswered.assign(record->pollRecordCount, false);
  state.mode = 1;
  state.readCursor = record->firstPollRecord;
  state.writeCursor = record->firstPollRecord;
  // Only this process can use the address; others see that the channel runs.
  const auto address = reinterpret_cast<std::uintptr_t>(state.mcb.get());
  record->driverBlockPointer = static_cast<std::uint32_t>(address) | 1u;
  return true;
}

void PollEngine::StopChannel(int channel) {
  ChannelState& state = channels_[channel];
  DitChannel* record = image_.Channel(channel);
  if (record == nullptr) return;
  for (int k = record->firstPollRecord; k < record->firstPollRecord + record->pollRecordCount; ++k) {
    DitPollRecord* poll = image_.PollRecord(k);
    DitPollRuntime* runtime = image_.Runtime(k);
    if (poll == nullptr || runtime == nullptr) continue;
    poll->status = kStatusStopped;
    if (poll->exceptionType == kExceptionDisabled) continue;
    std::uint16_t size = 0;
    auto* entries = reinterpret_cast<DitExceptionEntry*>(image_.Area(k, kExceptionArea, &size));
    if (entries == nullptr) continue;
    int marked = 0;
    for (std::size_t e = 0; e < size / sizeof(DitExceptionEntry); ++e) {
      if (entries[e].ownerByte != 0) {
        entries[e].changed = 1;
        ++marked;
      }
    }
    runtime->pendingExceptions = static_cast<std::uint16_t>(marked);
  }
  state.mcb.reset();
  record->driverBlockPointer = 0;
}

void PollEngine::PollCycle(std::uint32_t elapsedTicks) {
  for (int channel = 0; channel < static_cast<int>(channels_.size()); ++channel) {
    ChannelState& state = channels_[channel];
    if (state.failed || !state.mcb) continue;
    TimerStep(channel, elapsedTicks);
    const bool busy = ReceiveStep(channel, elapsedTicks);
    if (++state.cycleCounter > kCyclesBetweenPeriodicWork) {
      // Periodic work waits for an idle cycle.
      if (busy) continue;
      state.cycleCounter = 0;
      host_.KickEventWriter();
      if (TimeSyncCheck(channel)) continue;
    }
    if (!busy) ScheduleStep(channel);
  }
}

void PollEngine::TimerStep(int channel, std::uint32_t elapsed) {
  ChannelState& state = channels_[channel];
  const DitChannel* record = image_.Channel(channel);
  state.writePending = false;
  auto step = [&](DitPollRuntime& runtime) {
    const bool enabled = runtime.enabled != 0;
    if (runtime.pollCountdown != 0 && enabled) runtime.pollCountdown = CountDown(runtime.pollCountdown, elapsed);
    const std::int32_t access = runtime.accessCountdown;
    if (access != 0 && access != kAccessNeverExpires && enabled) runtime.accessCountdown = CountDown(access, elapsed);
    if (runtime.pendingWrites > 0) state.writePending = true;
  };
  // The channel's entries are consecutive: checked once, then walked.
  const int first = record->firstPollRecord;
  const int count = record->pollRecordCount;
  if (DitPollRuntime* entries = image_.RuntimeRange(first, count)) {
    for (int k = 0; k < count; ++k) step(entries[k]);
    return;
  }
  for (int k = first; k < first + count; ++k) {
    if (DitPollRuntime* runtime = image_.Runtime(k)) step(*runtime);
  }
}

bool PollEngine::DrainStep(int channel, std::uint32_t elapsed) {
  ChannelState& state = channels_[channel];
  Mcb& mcb = *state.mcb;
  std::int16_t length = 0;
  if (card_.Receive(mcb.card, &length, mcb.receive) == 0) {
    ++image_.Channel(channel)->statistics.framesReceived;
    if (state.sendsTimedOut > 0) --state.sendsTimedOut;
  }
  mcb.timeoutCountdown = CountDown(mcb.timeoutCountdown, elapsed);
  if (state.sendsTimedOut > 0 && mcb.timeoutCountdown > 0) return true;
  state.sendsTimedOut = 0;
  state.draining = false;
  mcb.receivedLength = 0;
  mcb.busy = 0;
  return false;
}

bool PollEngine::ReceiveStep(int channel, std::uint32_t elapsed) {
  ChannelState& state = channels_[channel];
  Mcb& mcb = *state.mcb;
  if (state.draining) {
    if (DrainStep(channel, elapsed)) return true;
    state.timeSyncOutstanding = false;
    return false;
  }
  DitChannel& record = *image_.Channel(channel);
  std::int16_t length = 0;
  const std::int16_t result = card_.Receive(mcb.card, &length, mcb.receive);
  if (result != 0) {
    if (result != 1) LogMessage(kAttrError, "receive error %d", result);
  } else {
    mcb.receivedLength = static_cast<std::uint16_t>(length);
    ++record.statistics.framesReceived;
    const std::size_t frameLength = std::min<std::size_t>(static_cast<std::uint16_t>(length), kFrameAreaSize);
    ReplyCheck check = ReplyCheck::kGood;
    if (mcb.kind == kReadKind) {
      const int k = mcb.pollRecord;
      const DitPollRecord* poll = image_.PollRecord(k);
      std::uint16_t valueSize = 0;
      std::uint8_t* values = image_.Area(k, kValueArea, &valueSize);
      if (poll == nullptr || values == nullptr) {
        check = ReplyCheck::kBad;
      } else if (PollKindOf(mcb.addressWord) == kPollKindEvent) {
        bool tooSmall = false;
        check = CheckEventReply(mcb.receive, frameLength, static_cast<std::uint8_t>(mcb.station), mcb.command,
                                valueSize, &tooSmall);
        if (check == ReplyCheck::kGood && !tooSmall) {
          // The recorder answered: whatever it handed out has arrived.
          MarkEventUnanswered(channel, k, false);
          check = host_.EventReply(channel, k, mcb.receive, frameLength);
        }
      } else {
        check = CheckDataReply(mcb.receive, frameLength, static_cast<std::uint8_t>(mcb.station), mcb.command,
                               StartAddressOf(mcb.addressWord), valueSize);
        if (check == ReplyCheck::kGood) AddPendingExceptions(k, StoreDataReply(k, mcb.receive + 6));
      }
    }
    switch (check) {
      case ReplyCheck::kGood:
        if (mcb.kind == kReadKind) StatusUpdate(channel, mcb.pollRecord, kStatusGood);
        mcb.busy = 0;
        break;
      case ReplyCheck::kNegative:
        StatusUpdate(channel, mcb.pollRecord, kStatusCommFailure);
        mcb.busy = 0;
        record.statistics.lastNakStation = mcb.station;
        ++record.statistics.naksAndBadReplies;
        break;
      case ReplyCheck::kBad:
        // Counted and otherwise ignored: the timeout decides.
        ++record.statistics.naksAndBadReplies;
        break;
    }
    mcb.receivedLength = 0;
    if (!mcb.busy && state.sendsTimedOut > 0) {
      mcb.busy = 1;
      state.draining = true;
      mcb.timeoutCountdown = static_cast<std::int32_t>(mcb.replyTimeout);
      return true;
    }
  }
  if (mcb.busy) TimeoutStep(channel, elapsed);
  if (!mcb.busy) state.timeSyncOutstanding = false;
  return mcb.busy != 0;
}

void PollEngine::TimeoutStep(int channel, std::uint32_t elapsed) {
  ChannelState& state = channels_[channel];
  Mcb& mcb = *state.mcb;
  DitChannel& record = *image_.Channel(channel);
  mcb.timeoutCountdown = CountDown(mcb.timeoutCountdown, elapsed);
  if (mcb.timeoutCountdown > 0) return;
  ++record.statistics.replyTimeouts;
  record.statistics.writeRequests = mcb.station;
  mcb.receivedLength = 0;
  ++state.sendsTimedOut;
  if (mcb.retriesLeft == 0) {
    mcb.busy = 0;
    // A time sync has no poll record of its own whose status could fail.
    if (!state.timeSyncOutstanding) StatusUpdate(channel, mcb.pollRecord, kStatusCommFailure);
  } else {
    ++record.statistics.retries;
    if (mcb.command == kCommandEvent && mcb.transmit[3] == kEventNext) mcb.transmit[3] = kEventRepeat;
    const std::int16_t result =
        card_.Send(mcb.card, static_cast<std::int16_t>(mcb.transmitLength), mcb.transmit);
    if (result != 0) LogMessage(kAttrSendFailure, "Retry Send Failed = %d Channel %d", result, channel + 1);
    LogMessage(kAttrActivity, "Channel %d Device %d retry reading poll %d err = %d rc=%d", channel + 1,
               mcb.device + 1, mcb.pollRecord, result, mcb.retriesLeft);
    --mcb.retriesLeft;
    mcb.timeoutCountdown = static_cast<std::int32_t>(mcb.replyTimeout);
  }
  if (!mcb.busy) {
    SwitchPort(channel);
    SwitchStation(channel, mcb.device);
  }
}

void PollEngine::SwitchPort(int channel) {
  DitChannel& record = *image_.Channel(channel);
  if (record.backup.port == kNoPort) return;
  const std::uint8_t old = static_cast<std::uint8_t>(record.activePort);
  const std::uint8_t next = old == record.primary.port ? record.backup.port : record.primary.port;
  record.activePort = static_cast<std::int8_t>(next);
  if (MessagesWanted(channel)) {
    LogMessage(kAttrActivity, DriverMessageText(kMessagePortSwitch), channel + 1, old + 1, next + 1);
  }
}

void PollEngine::SwitchStation(int channel, int deviceIndex) {
  DitDevice* device = image_.Device(deviceIndex);
  if (device == nullptr || device->backupStation == kNoBackupStation) return;
  const std::uint16_t old = device->activeStation;
  const std::uint16_t next = old == device->primaryStation ? device->backupStation : device->primaryStation;
  device->activeStation = next;
  if (MessagesWanted(channel)) {
    LogMessage(kAttrActivity, DriverMessageText(kMessageStationSwitch), channel + 1, deviceIndex + 1, old, next);
  }
}

void PollEngine::StatusUpdate(int channel, int pollRecord, std::uint16_t status) {
  DitPollRecord* poll = image_.PollRecord(pollRecord);
  DitPollRuntime* runtime = image_.Runtime(pollRecord);
  if (poll == nullptr || runtime == nullptr) return;
  const std::uint16_t old = poll->status;
  poll->status = status;
  if (old == kStatusGood && status == kStatusGood) return;
  if ((old == kStatusGood) != (status == kStatusGood) && poll->exceptionType != kExceptionDisabled) {
    // Every reportable point changes quality.
    std::uint16_t size = 0;
    auto* entries = reinterpret_cast<DitExceptionEntry*>(image_.Area(pollRecord, kExceptionArea, &size));
    int marked = 0;
    for (std::size_t e = 0; entries != nullptr && e < size / sizeof(DitExceptionEntry); ++e) {
      if (entries[e].ownerByte != 0 && entries[e].changed != 1) {
        entries[e].changed = 1;
        ++marked;
      }
    }
    AddPendingExceptions(pollRecord, marked);
  }
  const DitDevice* device = image_.Device(poll->deviceIndex);
  const int number = device ? pollRecord - device->firstPollRecord + 1 : pollRecord + 1;
  if (status == kStatusCommFailure) {
    runtime->pollCountdown = static_cast<std::int32_t>(LinkInUse(*image_.Channel(channel)).failureDelay);
    if (old != kStatusCommFailure && MessagesWanted(channel)) {
      LogMessage(kAttrActivity, DriverMessageText(kMessageFailedCommunication), channel + 1, poll->deviceIndex + 1,
                 number);
    }
  } else if (status == kStatusGood && old == kStatusCommFailure && MessagesWanted(channel)) {
    LogMessage(kAttrActivity, DriverMessageText(kMessageRecoveredCommunication), channel + 1, poll->deviceIndex + 1,
               number);
  }
}

void PollEngine::AddPendingExceptions(int pollRecord, int count) {
  if (count == 0) return;
  DitPollRuntime* runtime = image_.Runtime(pollRecord);
  if (runtime == nullptr) return;
  LockByteGuard lock(runtime->entryLock, host_);
  runtime->pendingExceptions = static_cast<std::uint16_t>(runtime->pendingExceptions + count);
}

void PollEngine::BeginRequest(int channel, RequestKind kind, int pollRecord, int device, std::uint16_t station) {
  Mcb& mcb = *channels_[channel].mcb;
  const DitChannel& record = *image_.Channel(channel);
  const DitLink& link = LinkInUse(record);
  std::memset(mcb.receive, 0, sizeof mcb.receive);
  mcb.kind = kind;
  mcb.pollRecord = static_cast<std::uint16_t>(pollRecord);
  mcb.device = static_cast<std::uint16_t>(device);
  mcb.station = station;
  mcb.replyTimeout = link.replyTimeout;
  mcb.timeoutCountdown = static_cast<std::int32_t>(link.replyTimeout);
  mcb.retriesLeft = link.retries;
  mcb.card = static_cast<std::uint8_t>(record.activePort + 1);
  mcb.busy = 1;
  mcb.transmitLength = 0;
  mcb.command = 0;
  mcb.addressWord = 0;
  channels_[channel].timeSyncOutstanding = false;
}

void PollEngine::ScheduleStep(int channel) {
  ChannelState& state = channels_[channel];
  if (state.mode == 0 && !state.writePending) state.mode = 1;
  if (state.mode == 1) {
    if (ReadScan(channel)) {
      state.mode = 0;
    } else if (!WriteScan(channel)) {
      state.mode = 0;
    }
  } else {
    if (WriteScan(channel)) {
      state.mode = 1;
    } else if (!ReadScan(channel)) {
      state.mode = 1;
    }
  }
}

bool PollEngine::ReadScan(int channel) {
  ChannelState& state = channels_[channel];
  const DitChannel& record = *image_.Channel(channel);
  const int first = record.firstPollRecord;
  const int count = record.pollRecordCount;
  if (count == 0) return false;
  const int start = (state.readCursor >= first && state.readCursor < first + count) ? state.readCursor : first;
  // A due record (countdown run out): expire its access or send its read.
  // True when a read went out; the cursor then moves past the record.
  auto visit = [&](int k, DitPollRuntime& runtime) {
    DitPollRecord* poll = image_.PollRecord(k);
    if (poll == nullptr) return false;
    if (runtime.accessCountdown <= 0 && runtime.accessExpired == 0) {
      runtime.accessExpired = 1;
      if (poll->status == kStatusGood) poll->status = kStatusNotAccessed;
      return false;
    }
    if (runtime.accessCountdown > 0 && runtime.enabled != 0) {
      ReadRequest(channel, k);
      runtime.pollCountdown = static_cast<std::int32_t>(poll->pollTime);
      state.readCursor = k + 1 < first + count ? k + 1 : first;
      return true;
    }
    return false;
  };
  if (DitPollRuntime* const entries = image_.RuntimeRange(first, count)) {
    // From the cursor to the end, then from the start to the cursor; most
    // records are not due and cost one comparison each.
    for (const auto& [from, to] : {std::pair{start, first + count}, std::pair{first, start}}) {
      for (int k = from; k < to; ++k) {
        DitPollRuntime& runtime = entries[k - first];
        if (runtime.pollCountdown <= 0 && visit(k, runtime)) return true;
      }
    }
  } else {
    for (int visited = 0, k = start; visited < count; ++visited, k = k + 1 < first + count ? k + 1 : first) {
      DitPollRuntime* runtime = image_.Runtime(k);
      if (runtime != nullptr && runtime->pollCountdown <= 0 && visit(k, *runtime)) return true;
    }
  }
  state.readCursor = start;
  return false;
}

void PollEngine::ReadRequest(int channel, int pollRecord) {
  Mcb& mcb = *channels_[channel].mcb;
  DitChannel& record = *image_.Channel(channel);
  const DitPollRecord& poll = *image_.PollRecord(pollRecord);
  DitDevice* device = image_.Device(poll.deviceIndex);
  if (device == nullptr) return;
  const std::uint8_t kind = PollKindOf(poll.addressWord);
  // An event recorder's data are read only after it has reported events
  // (the empty-event count); until then the record just waits its poll time.
  if (kind == kPollKindDit && device->hardwareType == kHardwareEVR420 && device->emptyEventCount == 0) return;

  BeginRequest(channel, kReadKind, pollRecord, poll.deviceIndex, device->activeStation);
  mcb.addressWord = poll.addressWord;
  const auto station = static_cast<std::uint8_t>(device->activeStation & 0xFF);
  const auto option = static_cast<std::uint8_t>(device->deviceOption & 0xFF);
  std::size_t length = 0;
  if (kind == kPollKindDit) {
    std::uint16_t valueSize = 0;
    image_.Area(pollRecord, kValueArea, &valueSize);
    length = BuildReadWords(mcb.transmit, station, StartAddressOf(poll.addressWord),
                            static_cast<std::uint8_t>(valueSize / 2));
  } else if (device->hardwareType == kHardwareEVR420) {
    length = BuildEventRequest(mcb.transmit, station, option);
    if (MarkEventUnanswered(channel, pollRecord, true)) mcb.transmit[3] = kEventRepeat;
  } else if (device->hardwareType == kHardwareTORAVINE) {
    ++mcb.sequence;
    length = BuildToravineRequest(mcb.transmit, station, mcb.sequence, option);
  }
  mcb.transmitLength = static_cast<std::uint16_t>(length);
  mcb.command = length >= 3 ? mcb.transmit[2] : 0;
  const std::int16_t result = card_.Send(mcb.card, static_cast<std::int16_t>(length), mcb.transmit);
  if (result != 0) LogMessage(kAttrError, "Send Failed = %d Channel %d", result, channel + 1);
  ++record.statistics.framesSent;
}

bool PollEngine::WriteScan(int channel) {
  ChannelState& state = channels_[channel];
  // The timer step of this cycle saw no pending write on the channel: a
  // write a client asks for now is found in the next cycle.
  if (!state.writePending && state.writeOffset == 0) return false;
  const DitChannel& record = *image_.Channel(channel);
  const int first = record.firstPollRecord;
  const int count = record.pollRecordCount;
  if (count == 0) return false;
  int cursor = (state.writeCursor >= first && state.writeCursor < first + count) ? state.writeCursor : first;
  for (int visited = 0; visited < count; ++visited) {
    const int k = cursor;
    const int next = cursor + 1 < first + count ? cursor + 1 : first;
    const DitPollRuntime* runtime = image_.Runtime(k);
    if (runtime == nullptr || runtime->pendingWrites == 0) {
      cursor = next;
      continue;
    }
    switch (WriteRecord(channel, k)) {
      case WriteOutcome::kNothingFound:
        cursor = next;
        continue;
      case WriteOutcome::kSentAndDone:
        state.writeCursor = next;
        return true;
      case WriteOutcome::kSentMoreToDo:
        state.writeCursor = k;
        return true;
    }
  }
  state.writeCursor = cursor;
  return false;
}

PollEngine::WriteOutcome PollEngine::WriteRecord(int channel, int pollRecord) {
  ChannelState& state = channels_[channel];
  Mcb& mcb = *state.mcb;
  DitChannel& record = *image_.Channel(channel);
  DitPollRecord& poll = *image_.PollRecord(pollRecord);
  DitPollRuntime& runtime = *image_.Runtime(pollRecord);
  DitDevice* device = image_.Device(poll.deviceIndex);
  std::uint16_t flagSize = 0, valueSize = 0, writeSize = 0, exceptionSize = 0;
  std::uint8_t* flags = image_.Area(pollRecord, kWriteFlagArea, &flagSize);
  std::uint8_t* values = image_.Area(pollRecord, kValueArea, &valueSize);
  std::uint8_t* writeValues = image_.Area(pollRecord, kWriteValueArea, &writeSize);
  auto* entries = reinterpret_cast<DitExceptionEntry*>(image_.Area(pollRecord, kExceptionArea, &exceptionSize));
  if (device == nullptr || flags == nullptr || values == nullptr || writeValues == nullptr) {
    state.writeOffset = 0;
    return WriteOutcome::kNothingFound;
  }

  BeginRequest(channel, kWriteKind, pollRecord, poll.deviceIndex, device->activeStation);
  mcb.addressWord = poll.addressWord;
  const auto station = static_cast<std::uint8_t>(device->activeStation & 0xFF);
  const std::uint16_t start = StartAddressOf(poll.addressWord);
  const std::size_t flagCount = flagSize / 2;
  std::size_t index = 0;
  std::uint32_t written = 0;
  {
    LockByteGuard lock(poll.dataLock, host_);
    index = static_cast<std::size_t>(state.writeOffset);
    while (index < flagCount && ReadWord(flags, index) == 0) ++index;
    if (index >= flagCount) {
      state.writeOffset = 0;
      mcb.busy = 0;
      return WriteOutcome::kNothingFound;
    }
    const std::uint16_t flag = ReadWord(flags, index);
    std::size_t length = 0;
    if (flag == kWholeWord) {
      std::uint8_t data[kMaxWriteDataBytes];
      std::size_t bytes = 0;
      std::size_t run = 0;
      if (IsTwoRegisterType(poll.dataType)) {
        // 32-bit values: flag k stands for value k, two registers at
        // start + 2k, sent as the bytes the value area keeps them in.
        while (index + run < flagCount && ReadWord(flags, index + run) == kWholeWord &&
               4 * (index + run + 1) <= writeSize && bytes + 4 <= kMaxWriteDataBytes) {
          std::memcpy(data + bytes, writeValues + 4 * (index + run), 4);
          bytes += 4;
          WriteWord(flags, index + run, 0);
          ++run;
        }
        length = BuildWriteWords(mcb.transmit, station, static_cast<std::uint16_t>(start + 2 * index),
                                 static_cast<std::uint8_t>(2 * run), data, bytes);
      } else {
        const bool lowByteFirst = poll.dataType == 0;
        while (index + run < flagCount && ReadWord(flags, index + run) == kWholeWord &&
               2 * (index + run + 1) <= writeSize && bytes + 2 <= kMaxWriteDataBytes) {
          const std::uint16_t word = ReadWord(writeValues, index + run);
          const auto high = static_cast<std::uint8_t>(word >> 8);
          const auto low = static_cast<std::uint8_t>(word & 0xFF);
          data[bytes++] = lowByteFirst ? low : high;
          data[bytes++] = lowByteFirst ? high : low;
          WriteWord(flags, index + run, 0);
          ++run;
        }
        length = BuildWriteWords(mcb.transmit, station, static_cast<std::uint16_t>(start + index),
                                 static_cast<std::uint8_t>(run), data, bytes);
      }
      if (run == 0) {
        // A flag whose value lies outside the write value area: drop it.
        WriteWord(flags, index, 0);
        state.writeOffset = 0;
        mcb.busy = 0;
        return WriteOutcome::kNothingFound;
      }
      written = 16 * static_cast<std::uint32_t>(run);
    } else {
      if (2 * (index + 1) > valueSize || 2 * (index + 1) > writeSize) {
        WriteWord(flags, index, 0);
        state.writeOffset = 0;
        mcb.busy = 0;
        return WriteOutcome::kNothingFound;
      }
      const std::uint16_t current = ReadWord(values, index);
      const std::uint16_t merged =
          static_cast<std::uint16_t>((ReadWord(writeValues, index) & flag) | (current & ~flag));
      if (poll.exceptionType != kExceptionDisabled && entries != nullptr) {
        AddPendingExceptions(pollRecord,
                             MarkBitChanges(entries, exceptionSize / sizeof(DitExceptionEntry), index,
                                            static_cast<std::uint16_t>(merged ^ current)));
      }
      WriteWord(values, index, merged);
      WriteWord(flags, index, 0);
      length = BuildMaskedWrite(mcb.transmit, station, static_cast<std::uint16_t>(start + index), merged);
      written = static_cast<std::uint32_t>(std::popcount(flag));
    }
    mcb.transmitLength = static_cast<std::uint16_t>(length);
    mcb.command = kCommandWriteWords;
  }

  const std::int16_t result = card_.Send(mcb.card, static_cast<std::int16_t>(mcb.transmitLength), mcb.transmit);
  if (result != 0) LogMessage(kAttrSendFailure, "Write Send Failed = %d Channel %d", result, channel + 1);

  WriteOutcome outcome;
  {
    LockByteGuard lock(runtime.entryLock, host_);
    const std::uint32_t pending = runtime.pendingWrites;
    runtime.pendingWrites = static_cast<std::uint16_t>(pending > written ? pending - written : 0);
    runtime.pollCountdown = 0;
    if (runtime.pendingWrites > 0 && index + 1 < flagCount) {
      state.writeOffset = static_cast<int>(index + 1);
      outcome = WriteOutcome::kSentMoreToDo;
    } else {
      state.writeOffset = 0;
      outcome = WriteOutcome::kSentAndDone;
    }
  }
  ++record.statistics.framesSent;
  ++record.statistics.writeRequests;
  return outcome;
}

int PollEngine::MarkBitChanges(DitExceptionEntry* entries, std::size_t entryCount, std::size_t word,
                               std::uint16_t changed) {
  int marked = 0;
  if (entryCount >= 16 * (word + 1)) {
    // One entry per bit (digital points).
    for (int bit = 0; bit < 16; ++bit) {
      if ((changed & (1u << bit)) == 0) continue;
      DitExceptionEntry& entry = entries[16 * word + bit];
      if (entry.ownerByte != 0 && entry.changed == 0) {
        entry.changed = 1;
        ++marked;
      }
    }
  } else if (changed != 0 && word < entryCount) {
    // One entry per word: the word's point changed.
    DitExceptionEntry& entry = entries[word];
    if (entry.ownerByte != 0 && entry.changed == 0) {
      entry.changed = 1;
      ++marked;
    }
  }
  return marked;
}

int PollEngine::StoreDataReply(int pollRecord, const std::uint8_t* data) {
  DitPollRecord& poll = *image_.PollRecord(pollRecord);
  std::uint16_t valueSize = 0, exceptionSize = 0;
  std::uint8_t* values = image_.Area(pollRecord, kValueArea, &valueSize);
  auto* entries = reinterpret_cast<DitExceptionEntry*>(image_.Area(pollRecord, kExceptionArea, &exceptionSize));
  const std::size_t entryCount = entries ? exceptionSize / sizeof(DitExceptionEntry) : 0;
  if (values == nullptr) return 0;
  const std::size_t words = valueSize / 2;
  auto received = [&](std::size_t i) { return static_cast<std::uint16_t>((data[2 * i] << 8) | data[2 * i + 1]); };
  int changes = 0;

  LockByteGuard lock(poll.dataLock, host_);
  if (IsTwoRegisterType(poll.dataType)) {
    // Values over two registers arrive as the bytes the value area keeps.
    std::memcpy(values, data, valueSize);
    return 0;
  }
  if (poll.dataType == 0) {
    // Points that span several words (text): one entry per word, a
    // continuation entry standing for the point it continues.
    std::size_t lead = 0;
    for (std::size_t i = 0; i < words; ++i) {
      const std::uint16_t value = received(i);
      if (poll.exceptionType == kExceptionDisabled || i >= entryCount) {
        WriteWord(values, i, value);
        continue;
      }
      const DitExceptionEntry& own = entries[i];
      if (own.ownerByte == 0 && own.ownerWord == 0) {
        WriteWord(values, i, value);
        continue;
      }
      if (own.ownerWord != 0xFFFF) lead = i;
      DitExceptionEntry& point = entries[lead];
      if (point.changed == 1) {
        WriteWord(values, i, value);
      } else if (value != ReadWord(values, i)) {
        point.changed = 1;
        ++changes;
        WriteWord(values, i, value);
      }
    }
    return changes;
  }
  const auto deadBand = static_cast<std::uint16_t>(poll.deadBandInteger);
  for (std::size_t i = 0; i < words; ++i) {
    const std::uint16_t value = received(i);
    const std::uint16_t old = ReadWord(values, i);
    switch (poll.exceptionType) {
      case kExceptionDigital:
        if (value != old) {
          if (entries != nullptr) changes += MarkBitChanges(entries, entryCount, i, static_cast<std::uint16_t>(value ^ old));
          WriteWord(values, i, value);
        }
        break;
      case kExceptionAnalog:
      case kExceptionAscii: {
        WriteWord(values, i, value);
        const int difference = std::abs(static_cast<int>(static_cast<std::int16_t>(value - old)));
        if (i < entryCount && entries[i].ownerByte != 0 && static_cast<unsigned>(difference) > deadBand) {
          entries[i].changed = 1;
          ++changes;
        }
        break;
      }
      default:
        WriteWord(values, i, value);
        break;
    }
  }
  return changes;
}

bool PollEngine::TimeSyncCheck(int channel) {
  ChannelState& state = channels_[channel];
  const DitChannel& record = *image_.Channel(channel);
  for (int d = record.firstDevice; d < record.firstDevice + record.deviceCount; ++d) {
    DitDevice* device = image_.Device(d);
    if (device == nullptr || device->hardwareType != kHardwareEVR420 || device->timeSyncInterval == 0) continue;
    const std::uint32_t now = host_.TickCount();
    if (now - state.lastTimeSync <= device->timeSyncInterval) continue;
    Mcb& mcb = *state.mcb;
    BeginRequest(channel, kWriteKind, 0, d, device->activeStation);
    state.timeSyncOutstanding = true;
    const std::size_t length =
        BuildTimeSync(mcb.transmit, static_cast<std::uint8_t>(device->activeStation & 0xFF), host_.LocalTime());
    mcb.transmitLength = static_cast<std::uint16_t>(length);
    mcb.command = kCommandEvent;
    const std::int16_t result = card_.Send(mcb.card, static_cast<std::int16_t>(length), mcb.transmit);
    if (result != 0) LogMessage(kAttrSendFailure, "Time Send Failed = %d Channel %d", result, channel + 1);
    LogTimeSync(DeviceName(*device, image_.Header()->formatVersion).c_str(), mcb.transmit);
    state.lastTimeSync = now;
    return true;
  }
  return false;
}

}  // namespace vrt
