// CPU time of one poll cycle over the largest image: 32 channels, 10000
// poll records, nothing to receive and nothing due, so every cycle is the
// timer step over every record plus a receive call and a schedule scan per
// channel. Beside it, a bare pass over the same runtime entries: the
// cycle should cost at most twice that.
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

void PollCycleOverTheLargestImage(benchmark::State& state) {
  std::vector<std::uint8_t> bytes = testing::LargestImage();
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

// The floor to hold the cycle against: one bare sequential pass over the
// same runtime entries doing the timer step's arithmetic and nothing else.
void BarePassOverTheRuntimeEntries(benchmark::State& state) {
  std::vector<std::uint8_t> bytes = testing::LargestImage();
  DitImage image(bytes.data(), bytes.size());
  const int count = image.PollRecordCount();
  DitPollRuntime* entries = image.RuntimeRange(0, count);
  for (int k = 0; k < count; ++k) entries[k].pollCountdown = 1000000000;
  bool writes = false;
  for (auto _ : state) {
    for (int k = 0; k < count; ++k) {
      DitPollRuntime& runtime = entries[k];
      if (runtime.pollCountdown != 0 && runtime.enabled != 0) runtime.pollCountdown -= 1;
      const std::int32_t access = runtime.accessCountdown;
      if (access != 0 && access != kAccessNeverExpires && runtime.enabled != 0) runtime.accessCountdown = access - 1;
      writes = writes || runtime.pendingWrites > 0;
    }
    benchmark::DoNotOptimize(writes);
    benchmark::ClobberMemory();
  }
  state.counters["poll_records"] = count;
}
BENCHMARK(BarePassOverTheRuntimeEntries)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vrt

BENCHMARK_MAIN();
