// The image writer: layout, linkage, the 64 KiB rule and device dropping.
#include <gtest/gtest.h>

#include <cstring>

#include "dit_codes.h"
#include "dit_image.h"
#include "dit_writer.h"
#include "sample_configuration.h"

namespace vrt {
namespace {

using testing::SampleChannel;
using testing::SampleConfiguration;
using testing::SampleDevice;
using testing::SamplePollRecord;

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

TEST(DitWriter, HeaderPreambleAndTablesDescribeTheConfiguration) {
  DitConfiguration configuration = SampleConfiguration(2, 3, 2);
  std::vector<std::uint8_t> bytes = WriteDitImage(configuration, 1234567).bytes;
  ASSERT_FALSE(bytes.empty());

  EXPECT_EQ(U32At(bytes, 0), bytes.size());
  EXPECT_EQ(U32At(bytes, 4), bytes.size());
  for (std::size_t i = 8; i < kPreambleSize; ++i) ASSERT_EQ(bytes[i], 0) << "preamble byte " << i;

  DitImage image(bytes.data(), bytes.size());
  const DitHeader& header = *image.Header();
  EXPECT_EQ(+header.reserved0, 0);
  EXPECT_EQ(+header.lockByte, 'U');
  EXPECT_EQ(+header.checkByte, 'U');
  EXPECT_EQ(+header.channelCount, 2);
  EXPECT_EQ(+header.deviceCount, 6);
  EXPECT_EQ(+header.flags, 0);
  EXPECT_EQ(+header.saveTime, 1234567u);
  EXPECT_EQ(+header.formatVersion, 279u);
  EXPECT_EQ(+header.cycleCounter, 0);
  EXPECT_EQ(+header.channelRecordSize, 108);
  EXPECT_EQ(+header.pollRecordCount, 12);
  EXPECT_EQ(+header.deviceRecordSize, 124);
  EXPECT_EQ(+header.channelTableOffset, 34u);  // straight after the header
  EXPECT_EQ(CheckImage(image, {32, 1024}), ImageCheck::kGood);

  for (int c = 0; c < 2; ++c) {
    const DitChannel& channel = *image.Channel(c);
    EXPECT_EQ(+channel.firstDevice, 3 * c);
    EXPECT_EQ(+channel.deviceCount, 3);
    EXPECT_EQ(+channel.firstPollRecord, 6 * c);
    EXPECT_EQ(+channel.pollRecordCount, 6);
    EXPECT_EQ(+channel.primary.port, c);
    EXPECT_EQ(+channel.lockByte82, 'U');
    EXPECT_EQ(+channel.lockByte83, 'U');
  }
  for (int d = 0; d < 6; ++d) {
    const DitDevice& device = *image.Device(d);
    EXPECT_EQ(DeviceName(device, 279), "DEV" + std::to_string(d + 1));
    EXPECT_EQ(+device.firstPollRecord, 2 * d);
    EXPECT_EQ(+device.pollRecordCount, 2);
  }
  for (int k = 0; k < 12; ++k) {
    const DitPollRuntime& runtime = *image.Runtime(k);
    const DitPollRecord& record = *image.PollRecord(k);
    EXPECT_EQ(+record.deviceIndex, k / 2);
    EXPECT_EQ(+record.dataLock, 'U');
    EXPECT_EQ(+record.secondLock, 'U');
    EXPECT_EQ(+record.status, kStatusStopped);
    EXPECT_EQ(StartAddressOf(record.addressWord), (k % 2) * 100);
    EXPECT_EQ(+runtime.pollCountdown, 0);
    EXPECT_EQ(+runtime.accessCountdown, 6000);
    EXPECT_EQ(+runtime.enabled, 1);
    EXPECT_EQ(+runtime.entryLock, 'U');
    EXPECT_EQ(+runtime.lockByte17, 'U');
    EXPECT_EQ(+runtime.pendingWrites, 0);
  }
}

// The address word other programs read: start address in bits 0-10, poll
// kind in bits 15-19, as stored in the image.
TEST(DitWriter, AddressWordsKeepStartAndPollKindInTheirBits) {
  DitConfiguration configuration;
  configuration.channels.push_back(SampleChannel(
      0, {SampleDevice("D", 1, {SamplePollRecord(2047, 1), SamplePollRecord(1024, 1, 2, 0, kPollKindEvent)})}));
  std::vector<std::uint8_t> bytes = WriteDitImage(configuration, 0).bytes;
  ASSERT_FALSE(bytes.empty());
  DitImage image(bytes.data(), bytes.size());
  EXPECT_EQ(+image.PollRecord(0)->addressWord, 0x000007FFu);  // a copy: the record is packed
  EXPECT_EQ(+image.PollRecord(1)->addressWord, 0x00008400u);
  EXPECT_EQ(StartAddressOf(0xFFF7FFFFu), 2047);
  EXPECT_EQ(PollKindOf(0x000F8000u), 0x1F);
  EXPECT_EQ(PollKindOf(0x00100000u), 0);
}

TEST(DitWriter, AreaSizesFollowDataTypeAndExceptionType) {
  struct Case {
    std::uint16_t dataType;
    std::uint8_t exceptionType;
    std::uint32_t sizes[5];
  };
  const std::uint16_t n = 10;
  const Case cases[] = {
      {4, 2, {2 * n, 2 * n, 2 * n, 0, 64 * n}},        // digital points, one entry per bit
      {1, 0, {2 * n, 2 * n, 2 * n, 128 * n, 0}},       // signed: time stamps, no exceptions
      {2, 1, {2 * n, 2 * n, 2 * n, 128 * n, 4 * n}},   // unsigned, analog exceptions
      {4, 3, {2 * n, 2 * n, 2 * n, 0, 4 * n}},         // ASCII exceptions
      {3, 1, {2 * n, 2 * n, 2 * n, 0, 4 * n}},         // float over register pairs
  };
  DitConfiguration configuration;
  std::vector<DitPollRecord> records;
  for (const Case& c : cases) records.push_back(SamplePollRecord(0, n, c.dataType, c.exceptionType));
  configuration.channels.push_back(SampleChannel(0, {SampleDevice("D", 1, records)}));
  std::vector<std::uint8_t> bytes = WriteDitImage(configuration, 0).bytes;
  DitImage image(bytes.data(), bytes.size());
  ASSERT_EQ(CheckImage(image, {32, 1024}), ImageCheck::kGood);

  for (int k = 0; k < 5; ++k) {
    const DitPollRecord& record = *image.PollRecord(k);
    std::uint32_t expectedOffset = 82;
    for (int a = 0; a < 5; ++a) {
      EXPECT_EQ(+record.areas[a].size, cases[k].sizes[a]) << "record " << k << " area " << a + 1;
      EXPECT_EQ(+record.areas[a].offset, expectedOffset) << "record " << k << " area " << a + 1;
      expectedOffset += cases[k].sizes[a];
    }
    // The next record follows the last area directly (no boundary here).
    if (k + 1 < 5) {
      EXPECT_EQ(+image.Runtime(k + 1)->recordOffset, image.Runtime(k)->recordOffset + expectedOffset);
    }
  }
  for (std::size_t i = image.Runtime(0)->recordOffset + kPreambleSize + 82; i < bytes.size(); ++i) {
    if (bytes[i] != 0) {
      // Only the fixed parts of later records may be non-zero; areas are zero-filled.
      bool inFixedPart = false;
      for (int k = 1; k < 5; ++k) {
        const std::size_t start = image.Runtime(k)->recordOffset + kPreambleSize;
        inFixedPart |= i >= start && i < start + 82;
      }
      ASSERT_TRUE(inFixedPart) << "non-zero data area byte at " << i;
    }
  }
}

TEST(DitWriter, ItemsThatWouldCrossA64KiBBoundaryStartOnItAfterFiller) {
  // Records of 82 + 6 * 200 + 25600 = 26882 bytes: the third would cross 64 KiB.
  DitConfiguration configuration;
  std::vector<DitPollRecord> records;
  for (int i = 0; i < 5; ++i) records.push_back(SamplePollRecord(static_cast<std::uint16_t>(i * 200), 200, 1, 0));
  configuration.channels.push_back(SampleChannel(0, {SampleDevice("BIG", 7, records)}));
  std::vector<std::uint8_t> bytes = WriteDitImage(configuration, 0).bytes;
  DitImage image(bytes.data(), bytes.size());
  ASSERT_EQ(CheckImage(image, {32, 1024}), ImageCheck::kGood);

  int boundaryStarts = 0;
  for (int k = 0; k < 5; ++k) {
    const std::size_t start = image.Runtime(k)->recordOffset + kPreambleSize;
    const std::size_t size = image.PollRecord(k)->areas[4].offset + image.PollRecord(k)->areas[4].size;
    EXPECT_EQ(start / 65536, (start + size - 1) / 65536) << "record " << k << " straddles a boundary";
    EXPECT_EQ(+image.PollRecord(k)->length, 200);
    EXPECT_EQ(StartAddressOf(image.PollRecord(k)->addressWord), k * 200);
    if (start % 65536 == 0) {
      ++boundaryStarts;
      // Filler runs from the end of the previous record up to the boundary.
      const std::size_t previousEnd = image.Runtime(k - 1)->recordOffset + kPreambleSize + size;
      ASSERT_LT(previousEnd, start);
      for (std::size_t i = previousEnd; i < start; ++i) ASSERT_EQ(bytes[i], 'F') << "at " << i;
    }
  }
  EXPECT_EQ(boundaryStarts, 2);  // at 64 KiB and at 128 KiB
}

TEST(DitWriter, BoundaryRulePadsOnlyWhenTheItemWouldCross) {
  std::vector<std::uint8_t> file(65536 - 100, 0);
  ApplyBoundaryRule(file, 100);  // ends exactly on the boundary: no filler
  EXPECT_EQ(file.size(), 65536u - 100);
  ApplyBoundaryRule(file, 101);
  EXPECT_EQ(file.size(), 65536u);
  EXPECT_EQ(file.back(), 'F');
  EXPECT_EQ(file[65536 - 101], 0);
}

TEST(DitWriter, DevicesWithoutPollRecordsAreDroppedAndIndicesShift) {
  DitConfiguration configuration;
  configuration.channels.push_back(SampleChannel(
      0, {SampleDevice("A", 1, {SamplePollRecord(0, 4)}), SampleDevice("EMPTY", 2, {}),
          SampleDevice("C", 3, {SamplePollRecord(0, 4), SamplePollRecord(10, 4)})}));
  configuration.channels.push_back(SampleChannel(1, {SampleDevice("NONE", 4, {}), SampleDevice("E", 5, {SamplePollRecord(0, 2)})}));
  std::vector<std::uint8_t> bytes = WriteDitImage(configuration, 0).bytes;
  DitImage image(bytes.data(), bytes.size());
  ASSERT_EQ(CheckImage(image, {32, 1024}), ImageCheck::kGood);

  EXPECT_EQ(configuration.channels[0].devices.size(), 2u);  // removed from the configuration too
  EXPECT_EQ(configuration.channels[1].devices.size(), 1u);
  EXPECT_EQ(+image.DeviceCount(), 3);
  EXPECT_EQ(+image.Channel(0)->deviceCount, 2);
  EXPECT_EQ(+image.Channel(0)->pollRecordCount, 3);
  EXPECT_EQ(+image.Channel(1)->firstDevice, 2);
  EXPECT_EQ(+image.Channel(1)->deviceCount, 1);
  EXPECT_EQ(+image.Channel(1)->firstPollRecord, 3);
  EXPECT_EQ(DeviceName(*image.Device(1), 279), "C");
  EXPECT_EQ(DeviceName(*image.Device(2), 279), "E");
  EXPECT_EQ(+image.PollRecord(1)->deviceIndex, 1);
  EXPECT_EQ(+image.PollRecord(2)->deviceIndex, 1);
  EXPECT_EQ(+image.PollRecord(3)->deviceIndex, 2);
  EXPECT_EQ(+image.Device(2)->firstPollRecord, 3);
}

TEST(DitWriter, RefusesWhatItsFieldsCannotHold) {
  DitConfiguration configuration;
  configuration.channels.push_back(SampleChannel(0, {SampleDevice("A", 1, {SamplePollRecord(0, 600, 1, 0)})}));
  DitWriteResult result = WriteDitImage(configuration, 0);  // 128 * 600 bytes of time stamps
  EXPECT_TRUE(result.bytes.empty());
  EXPECT_NE(result.error.find("65535"), std::string::npos);

  DitConfiguration tooManyDevices = SampleConfiguration(2, 128, 1);
  result = WriteDitImage(tooManyDevices, 0);
  EXPECT_TRUE(result.bytes.empty());
  EXPECT_EQ(result.error, "Too many devices: 256");
}

}  // namespace
}  // namespace vrt
