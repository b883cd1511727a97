// Event replies from recorders: the driver's event reply check and then the
// sequence-of-events decoder over a small image, with the event logger
// behind it. A stored input event must land as its bit and its time stamp
// in the record that covers it, and each event line's texts must be whole.
//
// Input: replies, each a selector byte (which event record, which request),
// a length byte and that many bytes.
#include <cstring>
#include <vector>

#include "dit_codes.h"
#include "dit_writer.h"
#include "event_log.h"
#include "event_text_checks.h"
#include "fuzz_check.h"
#include "sample_configuration.h"
#include "soe_decoder.h"

namespace {

using namespace vrt;
using testing::SampleChannel;
using testing::SampleDevice;
using testing::SamplePollRecord;

// Global poll record indices of the image.
enum Record : int {
  kRecorderEvents = 0,  // REC7, EVENT 0..13
  kRecorderInputs = 1,  // REC7, DIT 32..47, Unsigned with digital exceptions: values and time stamps
  kRecorderFlags = 2,   // REC7, DIT 48..55, Digital: values only
  kRecorderOther = 3,   // REC7, DIT 200..215, Signed
  kToravineEvents = 4,  // TORA9, EVENT 0..13
  kSmallEvents = 5,     // SMALL3, EVENT 0..3: too small for an event record
};
constexpr std::uint8_t kStations[] = {7, 9, 3};
constexpr int kEventRecords[] = {kRecorderEvents, kToravineEvents, kSmallEvents};

std::vector<std::uint8_t> BuildImage() {
  DitConfiguration configuration;
  DitDeviceSource recorder = SampleDevice("REC7", 7,
                                          {SamplePollRecord(0, 14, kDataUnsigned, 0, kPollKindEvent),
                                           SamplePollRecord(32, 16, kDataUnsigned, kExceptionDigital),
                                           SamplePollRecord(48, 8, kDataDigital),
                                           SamplePollRecord(200, 16, kDataSigned)});
  recorder.record.hardwareType = kHardwareEVR420;
  DitDeviceSource toravine = SampleDevice("TO'RA9", 9, {SamplePollRecord(0, 14, kDataUnsigned, 0, kPollKindEvent)});
  toravine.record.hardwareType = kHardwareTORAVINE;
  DitDeviceSource small = SampleDevice("SMALL3", 3, {SamplePollRecord(0, 4, kDataUnsigned, 0, kPollKindEvent)});
  small.record.hardwareType = kHardwareEVR420;
  configuration.channels.push_back(SampleChannel(0, {recorder, toravine, small}));
  return WriteDitImage(configuration, 0).bytes;
}

class Sleepless final : public Sleeper {
 public:
  void SleepMilliseconds(unsigned) override {}
};

class RecordingOutput final : public EventLogOutput {
 public:
  Append AppendToFile(const std::string& path, const std::string& header, const std::string& row) override {
    VRT_FUZZ_CHECK(header == kCsvHeader, "the day's file got another header");
    VRT_FUZZ_CHECK(!row.empty(), "an empty row");
    ++rows;
    return path.size() % 2 == 0 ? Append::kCreated : Append::kAppended;
  }
  void WakeWriter() override {}
  int rows = 0;
};

// Forwards to the driver's event logger and checks each event line's texts.
class CheckingSink final : public EventLineSink {
 public:
  CheckingSink(const LoggingSettings& settings, EventLogOutput& output, SqlQueue& queue)
      : settings_(settings), logger_(settings, output, &queue) {}
  void EventLine(const DitDevice& device, const SoeEventRecord& event) override {
    VRT_FUZZ_CHECK(event.valid == 1 && event.code >= 1 && event.code <= 4096, "an invalid event reached the log");
    fuzz::CheckEventTexts(DeviceName(device, kDitVersion), event, settings_);
    logger_.EventLine(device, event);
    ++lines;
  }
  int lines = 0;

 private:
  LoggingSettings settings_;
  EventLogger logger_;
};

// After a good reply that stored an input event: its bit and time stamp.
void CheckStored(const DitImage& image, int eventRecord, const SoeEventRecord& before) {
  SoeEventRecord event;
  std::memcpy(&event, image.Area(eventRecord, kValueArea), sizeof event);
  if (std::memcmp(&event, &before, sizeof event) == 0 || event.valid == 0) return;
  VRT_FUZZ_CHECK(event.code >= 1 && event.code <= 4096, "a status code was stored as an input event");
  VRT_FUZZ_CHECK(event.pointAddress == (event.code - 1) / 16 + 32 && event.bit == (event.code - 1) % 16,
                 "an event was stored for another point");
  const DitDevice& device = *image.Device(image.PollRecord(eventRecord)->deviceIndex);
  for (int k = device.firstPollRecord; k < device.firstPollRecord + device.pollRecordCount; ++k) {
    const DitPollRecord& record = *image.PollRecord(k);
    const int start = StartAddressOf(record.addressWord);
    if (PollKindOf(record.addressWord) != kPollKindDit || event.pointAddress < start ||
        event.pointAddress >= start + record.length) {
      continue;
    }
    const std::size_t word = event.pointAddress - start;
    std::uint16_t value = 0;
    std::memcpy(&value, image.Area(k, kValueArea) + 2 * word, 2);
    VRT_FUZZ_CHECK(((value >> event.bit) & 1u) == event.state, "the event's bit does not show its state");
    std::uint16_t stampSize = 0;
    if (const std::uint8_t* stamps = image.Area(k, kTimeStampArea, &stampSize); stamps != nullptr && stampSize > 0) {
      std::uint64_t stamp = 0;
      std::memcpy(&stamp, stamps + (word * 16 + event.bit) * 8, 8);
      VRT_FUZZ_CHECK(stamp == FileTimeOf(event), "the event's time stamp is not the event's time");
    }
    return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::uint8_t> pristine = BuildImage();
  std::vector<std::uint8_t> bytes = pristine;
  const DitImage image(bytes.data(), bytes.size());

  fuzz::InputReader input(data, size);
  LoggingSettings settings;
  settings.loggingEnabled = true;
  settings.logDataPath = ".\\LOGDATA";
  settings.odbcEnabled = true;
  const std::uint8_t options = input.Byte();
  settings.dayFirst = (options & 1) != 0;
  settings.milliseconds = (options & 2) != 0;
  RecordingOutput output;
  SqlQueue queue(4);
  CheckingSink sink(settings, output, queue);
  Sleepless sleeper;
  SoeDecoder decoder(image, sleeper, &sink);

  while (!input.Empty()) {
    const std::uint8_t selector = input.Byte();
    const int which = selector % 3;
    const int eventRecord = kEventRecords[which];
    const std::uint8_t command = (selector & 4) ? kCommandToravine : kCommandEvent;
    const std::vector<std::uint8_t> reply = input.Bytes(input.Byte());
    const auto frame = fuzz::ExactCopy(reply.data(), reply.size());

    std::uint16_t valueSize = 0;
    image.Area(eventRecord, kValueArea, &valueSize);
    SoeEventRecord before{};
    std::memcpy(&before, image.Area(eventRecord, kValueArea), std::min<std::size_t>(valueSize, sizeof before));

    bool tooSmall = false;
    ReplyCheck check = CheckEventReply(frame.get(), reply.size(), kStations[which], command, valueSize, &tooSmall);
    // The decoder stands on its own checks too: now and then it gets a
    // reply the first checks did not see.
    if ((check == ReplyCheck::kGood && !tooSmall) || (selector & 8)) {
      check = decoder.Decode(eventRecord, frame.get(), reply.size());
      if (check == ReplyCheck::kGood && valueSize >= sizeof(SoeEventRecord)) CheckStored(image, eventRecord, before);
    }
  }
  VRT_FUZZ_CHECK(queue.Size() <= 4, "the statement queue grew past its capacity");
  return 0;
}
