// Cost of the NIO data path over the largest image (224 devices, 10000 poll
// records): a read and a write of an analog point, and parsing an address
// whose device is the last one in the image (the device lookup is linear),
// a fetch that finds nothing changed (a round of the whole table), and the
// enumerations of the devices and of the last device's poll records.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "captured_log.h"
#include "fake_mapping_platform.h"
#include "nio_addressing.h"
#include "nio_conversion.h"
#include "nio_data.h"
#include "nio_enumeration.h"
#include "nio_exceptions.h"
#include "sample_configuration.h"

namespace vrt {
namespace {

struct Bench {
  Bench() {
    system.registry[kConfigFileValue] = "PLANT.VRT";
    system.files["PLANT.VRT"] = testing::LargestImage(kStatusGood);
    driver = std::make_unique<testing::Process>(system, kDriverFlavour);
    driver->mapping.nio_map_hdr();
    block.address = &address;
    block.deviceText = &deviceText;
    valueSpec.valueKind = kValueKindAnalog;
    valueSpec.eguSpan = 100.0f;
  }
  testing::FakeSystem system;
  std::unique_ptr<testing::Process> driver;
  testing::Process client{system, kNioFlavour};
  NioProcess process{client.mapping, client.platform};
  NioBlock block{};
  NioAddress address{};
  NioDeviceText deviceText{};
  NioValueSpec valueSpec{};
};

void ReadAnalogPoint(benchmark::State& state) {
  Bench bench;
  std::uint16_t status = 0;
  nio_paddr(bench.client.mapping, &status, &bench.block, &bench.valueSpec, "D223:DIT:300");
  bench.address.signalConditioning = kSig12Bn;
  float value = 0;
  for (auto _ : state) {
    NioValue nioValue{0, 4, 0, &value};
    nio_read(bench.process, &status, &bench.block, &bench.valueSpec, &nioValue);
    benchmark::DoNotOptimize(value);
  }
  if (status != 0) state.SkipWithError("read failed");
}
BENCHMARK(ReadAnalogPoint);

void SendAnalogPoint(benchmark::State& state) {
  Bench bench;
  std::uint16_t status = 0;
  nio_paddr(bench.client.mapping, &status, &bench.block, &bench.valueSpec, "D223:DIT:300");
  bench.address.signalConditioning = kSig12Bn;
  float value = 42.0f;
  for (auto _ : state) {
    NioValue nioValue{kValueTagFloat, 4, 0, &value};
    nio_send(bench.process, &status, &bench.block, &bench.valueSpec, &nioValue);
  }
  if (status != 0) state.SkipWithError("send failed");
}
BENCHMARK(SendAnalogPoint);

void ParseAddressOfTheLastDevice(benchmark::State& state) {
  Bench bench;
  std::uint16_t status = 0;
  for (auto _ : state) {
    nio_paddr(bench.client.mapping, &status, &bench.block, &bench.valueSpec, "d223:dit:300");
    benchmark::DoNotOptimize(bench.address);
  }
  if (status != 0) state.SkipWithError("parse failed");
}
BENCHMARK(ParseAddressOfTheLastDevice);

void FetchWithNothingChanged(benchmark::State& state) {
  Bench bench;
  nio_enable_options(bench.process, kOptionNotification);
  std::uint8_t keys[4 * 64];
  std::uint16_t status = 0;
  int count = 0;
  for (auto _ : state) {
    nio_fetch(bench.process, &status, keys, 64, &count);
    benchmark::DoNotOptimize(count);
  }
  if (status != 0 || count != 0) state.SkipWithError("fetch failed");
}
BENCHMARK(FetchWithNothingChanged);

void EnumerateDevices(benchmark::State& state) {
  Bench bench;
  bench.client.mapping.nio_map_hdr();
  std::uint16_t status = 0;
  std::uint32_t count = 0;
  for (auto _ : state) {
    char* list = nullptr;
    nio_Enum_Devices(bench.process, &status, &count, &list);
    nio_Free(bench.process, list);
  }
  if (status != 0 || count != 224) state.SkipWithError("enumeration failed");
}
BENCHMARK(EnumerateDevices);

void EnumeratePollRecordsOfTheLastDevice(benchmark::State& state) {
  Bench bench;
  bench.client.mapping.nio_map_hdr();
  std::uint16_t status = 0;
  std::uint32_t count = 0;
  for (auto _ : state) {
    char* list = nullptr;
    nio_Enum_PollRecs(bench.process, &status, "D223", &count, &list);
    nio_Free(bench.process, list);
  }
  if (status != 0 || count == 0) state.SkipWithError("enumeration failed");
}
BENCHMARK(EnumeratePollRecordsOfTheLastDevice);

}  // namespace
}  // namespace vrt

BENCHMARK_MAIN();
