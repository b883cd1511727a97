// A small plant for the NIO tests: a driver "process" loads its image from
// the fake system's file, a client "process" attaches as the NIO library
// does, and points are built the way a client builds them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "captured_log.h"
#include "dit_codes.h"
#include "fake_mapping_platform.h"
#include "nio_addressing.h"
#include "nio_types.h"
#include "sample_configuration.h"
#include "vrtstsr_point.h"

namespace vrt::testing {

// Global poll record indices of the plant.
enum PlantRecord : int {
  kPumpUnsigned = 0,   // PUMP1 DIT 100..131, Unsigned, Analog exceptions
  kPumpSigned = 1,     // PUMP1 DIT 200..207, Signed
  kPumpEvents = 2,     // PUMP1 EVENT 0..3
  kValveDigital = 3,   // VALVE2 DIT 0..3, Digital, Digital exceptions
  kValveFloat = 4,     // VALVE2 DIT 10..17, Float
  kValveUnsigned32 = 5,  // VALVE2 DIT 20..27, Unsigned32
  kValveSigned32 = 6,  // VALVE2 DIT 30..37, Signed32, Analog exceptions
  kTextRecord = 7,     // TEXTDEV DIT 0..7, Unsigned, ASCII exceptions
  kOddFloat = 8,       // TEXTDEV DIT 40..42, Float with an odd register count
  kLongName = 9,       // ABCDEFGHIJK DIT 0..3
};

inline DitConfiguration PlantConfiguration() {
  DitConfiguration configuration;
  configuration.channels.push_back(SampleChannel(
      0, {SampleDevice("PUMP1", 1,
                       {SamplePollRecord(100, 32, kDataUnsigned, kExceptionAnalog),
                        SamplePollRecord(200, 8, kDataSigned), SamplePollRecord(0, 4, kDataUnsigned, 0, kPollKindEvent)}),
          SampleDevice("VALVE2", 2,
                       {SamplePollRecord(0, 4, kDataDigital, kExceptionDigital), SamplePollRecord(10, 8, kDataFloat),
                        SamplePollRecord(20, 8, kDataUnsigned32),
                        SamplePollRecord(30, 8, kDataSigned32, kExceptionAnalog)})}));
  configuration.channels.push_back(SampleChannel(
      1, {SampleDevice("TEXTDEV", 3,
                       {SamplePollRecord(0, 8, kDataUnsigned, kExceptionAscii), SamplePollRecord(40, 3, kDataFloat)}),
          SampleDevice("ABCDEFGHIJK", 4, {SamplePollRecord(0, 4, kDataUnsigned)})}));
  return configuration;
}

inline constexpr const char* kPlantFile = "C:\\VRT\\PLANT.VRT";

// One client point: the three records a client owns, EGU span 100.
struct Point : NioPoint {
  Point() { valueSpec.eguSpan = 100.0f; }
};

class Plant : public ::testing::Test {
 protected:
  void SetUp() override {
    CapturedLog().clear();
    system.registry[kConfigFileValue] = kPlantFile;
    DitConfiguration configuration = PlantConfiguration();
    DitWriteResult written = WriteDitImage(configuration, 0);
    ASSERT_TRUE(written.error.empty()) << written.error;
    system.files[kPlantFile] = written.bytes;
    driver = std::make_unique<Process>(system, kDriverFlavour);
    ASSERT_NE(driver->mapping.nio_map_hdr(), nullptr);
    Block().RunState = kStateRunning;
    // Every record polled and good.
    for (int k = 0; k < Image().PollRecordCount(); ++k) Image().PollRecord(k)->status = kStatusGood;
  }

  DriverControlBlock& Block() { return *reinterpret_cast<DriverControlBlock*>(system.controlBlock->data()); }
  // The driver's view of the current image.
  const DitImage& Image() { return driver->mapping.Image(); }
  std::uint16_t* Words(int record, int area) { return reinterpret_cast<std::uint16_t*>(Image().Area(record, area)); }
  DitPollRuntime& Runtime(int record) { return *Image().Runtime(record); }

  // Parses `text` into `point` with the given value kind; the status.
  std::uint16_t Parse(Point& point, const char* text, std::uint8_t valueKind = kValueKindAnalog) {
    point.valueSpec.valueKind = valueKind;
    std::uint16_t status = 0xEEEE;
    nio_paddr(client.mapping, &status, &point.block, &point.valueSpec, text);
    return status;
  }

  // Reloads the image from the file after `edit` changed it.
  template <typename Edit>
  void Reload(Edit edit) {
    DitConfiguration configuration = PlantConfiguration();
    edit(configuration);
    DitWriteResult written = WriteDitImage(configuration, 0);
    ASSERT_TRUE(written.error.empty()) << written.error;
    system.files[kPlantFile] = written.bytes;
    driver->mapping.nio_poll_reload();
    for (int k = 0; k < Image().PollRecordCount(); ++k) Image().PollRecord(k)->status = kStatusGood;
  }

  FakeSystem system;
  std::unique_ptr<Process> driver;
  Process client{system, kNioFlavour};
};

}  // namespace vrt::testing
