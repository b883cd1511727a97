// The NIO tests' plant for the fuzz targets: the driver "process" loads the
// plant's image through the fake mapping platform and a client "process"
// attaches as the NIO library does, once per run (parsing changes nothing
// in the image).
#pragma once

#include <memory>

#include "fake_mapping_platform.h"
#include "fuzz_check.h"
#include "nio_test_plant.h"

namespace vrt::fuzz {

struct NioPlant {
  NioPlant() {
    system.registry[kConfigFileValue] = testing::kPlantFile;
    DitConfiguration configuration = testing::PlantConfiguration();
    const DitWriteResult written = WriteDitImage(configuration, 0);
    VRT_FUZZ_CHECK(written.error.empty(), "the plant cannot be written");
    system.files[testing::kPlantFile] = written.bytes;
    driver = std::make_unique<testing::Process>(system, kDriverFlavour);
    VRT_FUZZ_CHECK(driver->mapping.nio_map_hdr() != nullptr, "the driver cannot load the plant");
    reinterpret_cast<DriverControlBlock*>(system.controlBlock->data())->RunState = kStateRunning;
    const DitImage& image = driver->mapping.Image();
    for (int k = 0; k < image.PollRecordCount(); ++k) image.PollRecord(k)->status = kStatusGood;
    client = std::make_unique<testing::Process>(system, kNioFlavour);
    VRT_FUZZ_CHECK(client->mapping.nio_map_hdr() != nullptr, "the client cannot attach to the plant");
  }

  DitMapping& Client() { return client->mapping; }

  testing::FakeSystem system;
  std::unique_ptr<testing::Process> driver;
  std::unique_ptr<testing::Process> client;
};

inline NioPlant& Plant() {
  static NioPlant plant;
  return plant;
}

}  // namespace vrt::fuzz
