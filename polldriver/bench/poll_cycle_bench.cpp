// CPU time of one poll cycle over the largest image: 32 channels, 10000
// poll records, nothing to receive and nothing due, so every cycle is the
// timer step over every record plus a receive call and a schedule scan per
// channel.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "poll_engine.h"
#include "sample_configuration.h"

namespace vrt {
namespace {

class SilentCard final : public CardAccess {
 public:
  std::int16_t Send(std::int16_t, std::int16_t, const std::uint8_t*) override { return 0; }
  std::int16_t Receive(std::int16_t, std::int16_t*, std::uint8_t*) override { return 1; }
};

class QuietHost final : public EngineHost {
 public:
  void SleepMilliseconds(unsigned) override {}
  std::uint32_t TickCount() override { return 0; }
  CivilTime LocalTime() override { return {}; }
  ReplyCheck EventReply(int, int, const std::uint8_t*, std::size_t) override { return ReplyCheck::kGood; }
  void KickEventWriter() override {}
};

std::vector<std::uint8_t> LargestImage() {
  // 32 channels of 7 devices (224 in all) sharing 10000 poll records.
  DitConfiguration configuration;
  int remaining = 10000;
  for (int c = 0; c < 32; ++c) {
    std::vector<DitDeviceSource> devices;
    for (int d = 0; d < 7; ++d) {
      const int left = 32 * 7 - (c * 7 + d);
      const int count = remaining / left;
      remaining -= count;
      std::vector<DitPollRecord> records;
      for (int r = 0; r < count; ++r) {
        DitPollRecord record = testing::SamplePollRecord(static_cast<std::uint16_t>(r * 8), 8);
        record.pollTime = 1000000;
        records.push_back(record);
      }
      devices.push_back(testing::SampleDevice("D" + std::to_string(c * 7 + d), 1, std::move(records)));
    }
    configuration.channels.push_back(testing::SampleChannel(static_cast<std::uint8_t>(c), std::move(devices)));
  }
  return WriteDitImage(configuration, 0).bytes;
}

void PollCycleOverTheLargestImage(benchmark::State& state) {
  std::vector<std::uint8_t> bytes = LargestImage();
  DitImage image(bytes.data(), bytes.size());
  SilentCard card;
  QuietHost host;
  PollEngine engine(image, card, host);
  for (int c = 0; c < image.ChannelCount(); ++c) engine.StartChannel(c);
  // Every record is waiting for its long poll time: nothing is sent.
  for (int k = 0; k < image.PollRecordCount(); ++k) image.Runtime(k)->pollCountdown = 1000000000;
  for (auto _ : state) engine.PollCycle(1);
  // Per 1000 poll records: the time per cycle divided by 10.
  state.counters["poll_records"] = image.PollRecordCount();
}
BENCHMARK(PollCycleOverTheLargestImage)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vrt

BENCHMARK_MAIN();
