// Replies from the network through the poll engine: whatever the card hands
// over is judged by the reply checks and stored into the image (values,
// change marks, statuses), event replies go through the decoder, and client
// writes go out in between. Every frame the engine sends must fit its frame
// area, and the image must stay what its readers expect.
//
// Input: steps. A step byte: 0-3 a cycle with a reply (a length byte and
// that many bytes follow), 4 a cycle without one, 5 time passes, 6 a client
// write (record, word, flag and value bytes follow), 7 the network stops
// and starts again.
#include <cstring>
#include <vector>

#include "dit_codes.h"
#include "dit_writer.h"
#include "engine_fakes.h"
#include "fuzz_check.h"
#include "poll_engine.h"
#include "sample_configuration.h"

namespace {

using namespace vrt;
using testing::SampleChannel;
using testing::SampleDevice;
using testing::SamplePollRecord;

std::vector<std::uint8_t> BuildImage() {
  DitConfiguration configuration;
  auto quick = [](DitPollRecord record) {
    record.pollTime = 0;
    record.accessTime = static_cast<std::uint32_t>(kAccessNeverExpires);
    return record;
  };
  DitDeviceSource station = SampleDevice(
      "D1", 5,
      {quick(SamplePollRecord(0, 8, kDataUnsigned, kExceptionAnalog)), quick(SamplePollRecord(10, 4, kDataSigned)),
       quick(SamplePollRecord(20, 4, kDataDigital, kExceptionDigital)), quick(SamplePollRecord(30, 8, kDataFloat)),
       quick(SamplePollRecord(40, 8, kDataUnsigned32, kExceptionAnalog)),
       quick(SamplePollRecord(50, 8, 0, kExceptionAscii)),
       // Longer than any reply can carry: it can be written, never read.
       quick(SamplePollRecord(300, 200, kDataUnsigned))});
  station.record.backupStation = 6;
  DitDeviceSource recorder = SampleDevice("REC7", 7,
                                          {quick(SamplePollRecord(0, 14, kDataUnsigned, 0, kPollKindEvent)),
                                           quick(SamplePollRecord(32, 16, kDataUnsigned, kExceptionDigital))});
  recorder.record.hardwareType = kHardwareEVR420;
  DitDeviceSource toravine =
      SampleDevice("TORA9", 9, {quick(SamplePollRecord(0, 14, kDataUnsigned, 0, kPollKindEvent))});
  toravine.record.hardwareType = kHardwareTORAVINE;
  DitChannelSource channel = SampleChannel(0, {station, recorder, toravine});
  channel.record.backup = channel.record.primary;
  channel.record.backup.port = 1;
  channel.record.primary.retries = 1;
  channel.record.primary.replyTimeout = 3;
  configuration.channels.push_back(channel);
  return WriteDitImage(configuration, 0).bytes;
}

void CheckImageState(const DitImage& image) {
  for (int k = 0; k < image.PollRecordCount(); ++k) {
    const DitPollRecord& record = *image.PollRecord(k);
    VRT_FUZZ_CHECK(record.status == kStatusGood || record.status == kStatusCommFailure ||
                       record.status == kStatusNotAccessed || record.status == kStatusStopped,
                   "a poll record got a status the driver never gives");
    std::uint16_t size = 0;
    const std::uint8_t* entries = image.Area(k, kExceptionArea, &size);
    for (std::size_t e = 0; entries != nullptr && e < size / sizeof(DitExceptionEntry); ++e) {
      VRT_FUZZ_CHECK(entries[e * sizeof(DitExceptionEntry)] <= 1, "a change mark holds something else than 0 or 1");
    }
  }
}

// A client's write as the NIO library leaves it in the image.
void ClientWrite(const DitImage& image, fuzz::InputReader& input) {
  const int k = input.Byte() % image.PollRecordCount();
  const std::uint16_t word = input.Byte();
  const std::uint16_t flag = (input.Byte() & 1) ? kWholeWord : input.Word();
  const std::uint16_t value = input.Word();
  std::uint16_t flagSize = 0, writeSize = 0;
  std::uint8_t* flags = image.Area(k, kWriteFlagArea, &flagSize);
  std::uint8_t* values = image.Area(k, kWriteValueArea, &writeSize);
  DitPollRuntime& runtime = *image.Runtime(k);
  // A run of words from `word` on, as a client writing a block does.
  const int run = 1 + input.Byte() % 200;
  for (int i = 0; i < run; ++i) {
    const std::size_t at = 2 * (static_cast<std::size_t>(word) + static_cast<std::size_t>(i));
    if (at + 2 > flagSize || at + 2 > writeSize) break;
    std::memcpy(flags + at, &flag, 2);
    std::memcpy(values + at, &value, 2);
    runtime.pendingWrites = static_cast<std::uint16_t>(runtime.pendingWrites + 16);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::uint8_t> pristine = BuildImage();
  std::vector<std::uint8_t> bytes = pristine;
  const DitImage image(bytes.data(), bytes.size());
  fuzz::FuzzCard card;
  fuzz::FuzzHost host(image);
  PollEngine engine(image, card, host);
  engine.StartChannel(0);

  fuzz::InputReader input(data, size);
  int steps = 0;
  while (!input.Empty() && ++steps < 2000) {
    const std::uint8_t step = input.Byte() % 8;
    switch (step) {
      case 0: case 1: case 2: case 3: {
        card.replies.push_back(input.Bytes(input.Byte() + (step == 3 ? 256u : 0u)));
        engine.PollCycle(1);
        break;
      }
      case 4: engine.PollCycle(1); break;
      case 5: {
        const std::uint32_t elapsed = input.Word();
        host.ticks += elapsed * 10;
        engine.PollCycle(elapsed);
        break;
      }
      case 6: ClientWrite(image, input); break;
      case 7:
        engine.StopChannel(0);
        engine.StartChannel(0);
        break;
    }
    card.replies.clear();
    CheckImageState(image);
  }
  engine.StopChannel(0);
  CheckImageState(image);
  return 0;
}
