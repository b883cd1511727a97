// Locating records and checking images at attach: bad indices, bad counts,
// and corrupt or truncated images that must be refused without a read
// outside the buffer (run under native-asan).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "dit_image.h"
#include "sample_configuration.h"

namespace vrt {
namespace {

constexpr ImageBounds kNio{32, 1024};
constexpr ImageBounds kEditor{15, 255};

// Copies bytes into a buffer of exactly their size, so that the sanitizer
// sees any read past the end.
class ExactBuffer {
 public:
  explicit ExactBuffer(const std::vector<std::uint8_t>& bytes, std::size_t size)
      : data_(new std::uint8_t[size == 0 ? 1 : size]), size_(size) {
    std::memcpy(data_.get(), bytes.data(), std::min(size, bytes.size()));
  }
  DitImage Image() const { return DitImage(data_.get(), size_); }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_;
};

DitHeader& HeaderOf(std::vector<std::uint8_t>& bytes) {
  return *reinterpret_cast<DitHeader*>(bytes.data() + kPreambleSize);
}

// Visits everything a client could reach through the locators.
void WalkEverything(const DitImage& image) {
  volatile std::uint32_t sink = 0;
  for (int i = -1; i <= image.ChannelCount(); ++i) {
    if (const DitChannel* channel = image.Channel(i)) sink = sink + channel->deviceCount + channel->reserved96[11];
  }
  for (int j = -1; j <= image.DeviceCount(); ++j) {
    if (const DitDevice* device = image.Device(j)) sink = sink + device->reserved120[3];
  }
  for (int k = -1; k <= image.PollRecordCount(); ++k) {
    if (const DitPollRecord* record = image.PollRecord(k)) sink = sink + record->reserved74[7];
    for (int area = 0; area <= 6; ++area) {
      std::uint16_t size = 0;
      if (const std::uint8_t* data = image.Area(k, area, &size)) {
        if (size > 0) sink = sink + data[size - 1];
      }
    }
  }
}

TEST(DitImage, LocatorsRefuseIndicesOutsideTheCounts) {
  std::vector<std::uint8_t> bytes = testing::SampleImage(2, 2, 2);
  DitImage image(bytes.data(), bytes.size());
  EXPECT_NE(image.Channel(1), nullptr);
  EXPECT_EQ(image.Channel(2), nullptr);
  EXPECT_EQ(image.Channel(-1), nullptr);
  EXPECT_NE(image.Device(3), nullptr);
  EXPECT_EQ(image.Device(4), nullptr);
  EXPECT_EQ(image.Device(-1), nullptr);
  EXPECT_NE(image.PollRecord(7), nullptr);
  EXPECT_EQ(image.PollRecord(8), nullptr);
  EXPECT_EQ(image.Runtime(-1), nullptr);
  EXPECT_EQ(image.Area(0, 0), nullptr);
  EXPECT_EQ(image.Area(0, 6), nullptr);
  EXPECT_NE(image.Area(0, 1), nullptr);
  EXPECT_EQ(DitImage().Header(), nullptr);
  EXPECT_EQ(DitImage().Channel(0), nullptr);
}

// The counts decide, even where the bytes just past a table, a run of
// runtime entries or the five area descriptors would make a usable entry.
TEST(DitImage, LocatorsStopAtTheCountsWhateverLiesBeyond) {
  std::vector<std::uint8_t> bytes = testing::SampleImage(2, 2, 2);
  DitImage image(bytes.data(), bytes.size());
  const DitHeader& header = *image.Header();
  std::uint32_t device0 = 0;
  std::memcpy(&device0, bytes.data() + kPreambleSize + header.deviceTableOffset, 4);
  // A fifth device table entry naming device 0's record.
  std::memcpy(bytes.data() + kPreambleSize + header.deviceTableOffset + 4 * 4, &device0, 4);
  EXPECT_NE(image.Device(3), nullptr);
  EXPECT_EQ(image.Device(4), nullptr);

  EXPECT_NE(image.RuntimeRange(0, 8), nullptr);
  EXPECT_NE(image.RuntimeRange(7, 1), nullptr);
  EXPECT_EQ(image.RuntimeRange(1, 8), nullptr);
  EXPECT_EQ(image.RuntimeRange(8, 1), nullptr);

  // A sixth descriptor (the fields after the five) that would name the record itself.
  const std::uint32_t record = image.Runtime(0)->recordOffset;
  const std::uint8_t sixth[6] = {0, 0, 0, 0, 2, 0};
  std::memcpy(bytes.data() + kPreambleSize + record + 28 + 5 * 6, sixth, sizeof sixth);
  EXPECT_NE(image.Area(0, 5), nullptr);
  EXPECT_EQ(image.Area(0, 6), nullptr);
}

TEST(DitImage, HeaderChecksGiveTheirMessagesInOrder) {
  const std::vector<std::uint8_t> good = testing::SampleImage(2, 2, 2);
  auto check = [&](auto change, ImageBounds bounds = kNio) {
    std::vector<std::uint8_t> bytes = good;
    change(HeaderOf(bytes));
    return std::string(ImageCheckMessage(CheckImage(DitImage(bytes.data(), bytes.size()), bounds)));
  };
  EXPECT_EQ(check([](DitHeader&) {}), "");
  EXPECT_EQ(check([](DitHeader& h) { h.formatVersion = 278; }), "");
  EXPECT_EQ(check([](DitHeader& h) { h.formatVersion = 280; }), "init_dit() Corrupted file");
  EXPECT_EQ(check([](DitHeader& h) { h.formatVersion = 277; }), "init_dit() Corrupted file");
  EXPECT_EQ(check([](DitHeader& h) { h.channelCount = 0; }), "init_dit() bad object counts");
  EXPECT_EQ(check([](DitHeader& h) { h.channelCount = 33; }), "init_dit() bad object counts");
  EXPECT_EQ(check([](DitHeader& h) { h.channelCount = -1; }), "init_dit() bad object counts");
  EXPECT_EQ(check([](DitHeader& h) { h.deviceCount = 0; }), "init_dit() bad object counts");
  EXPECT_EQ(check([](DitHeader& h) { h.pollRecordCount = 0; }), "init_dit() bad object counts");
  EXPECT_EQ(check([](DitHeader& h) { h.pollRecordCount = 10001; }), "init_dit() bad object counts");
  EXPECT_EQ(check([](DitHeader& h) { h.checkByte = 'L'; }), "");
  EXPECT_EQ(check([](DitHeader& h) { h.checkByte = 'X'; }), "init_dit() Bad Lock");
  // Version first, then counts, then the check byte.
  EXPECT_EQ(check([](DitHeader& h) { h.formatVersion = 1; h.channelCount = 0; h.checkByte = 0; }),
            "init_dit() Corrupted file");
  EXPECT_EQ(check([](DitHeader& h) { h.channelCount = 0; h.checkByte = 0; }), "init_dit() bad object counts");
}

TEST(DitImage, SixteenChannelsPassTheClientBoundsButNotTheEditors) {
  std::vector<std::uint8_t> bytes = testing::SampleImage(16, 1, 1);
  DitImage image(bytes.data(), bytes.size());
  EXPECT_EQ(CheckImage(image, kNio), ImageCheck::kGood);
  EXPECT_EQ(CheckImage(image, kEditor), ImageCheck::kBadCounts);
  std::vector<std::uint8_t> fifteen = testing::SampleImage(15, 1, 1);
  EXPECT_EQ(CheckImage(DitImage(fifteen.data(), fifteen.size()), kEditor), ImageCheck::kGood);
}

TEST(DitImage, TruncatedImagesAreRefusedAtEveryLength) {
  const std::vector<std::uint8_t> bytes = testing::SampleImage(2, 2, 3);
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    ExactBuffer buffer(bytes, size);
    const DitImage image = buffer.Image();
    ASSERT_NE(CheckImage(image, kNio), ImageCheck::kGood) << "accepted at " << size << " bytes";
    WalkEverything(image);
  }
  ExactBuffer whole(bytes, bytes.size());
  EXPECT_EQ(CheckImage(whole.Image(), kNio), ImageCheck::kGood);
}

TEST(DitImage, StoredOffsetsThatLeadOutsideAreRefused) {
  const std::vector<std::uint8_t> good = testing::SampleImage(2, 2, 2);
  const DitImage goodImage(const_cast<std::uint8_t*>(good.data()), good.size());
  const std::size_t recordAt = goodImage.Runtime(3)->recordOffset + kPreambleSize;
  const std::size_t runtimeAt = HeaderOf(const_cast<std::vector<std::uint8_t>&>(good)).runtimeTableOffset + kPreambleSize;
  const std::size_t deviceTableAt = HeaderOf(const_cast<std::vector<std::uint8_t>&>(good)).deviceTableOffset + kPreambleSize;
  const std::size_t channelTableAt = HeaderOf(const_cast<std::vector<std::uint8_t>&>(good)).channelTableOffset + kPreambleSize;
  auto at = [&](const void* record) {
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(record) - good.data());
  };

  struct Corruption {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    int width;
  };
  const Corruption corruptions[] = {
      {"channel table offset", kPreambleSize + 22, 0xFFFFFFF0u, 4},
      {"device table offset", kPreambleSize + 26, static_cast<std::uint32_t>(good.size()), 4},
      {"runtime table offset", kPreambleSize + 30, static_cast<std::uint32_t>(good.size() - 200), 4},
      {"channel table entry", channelTableAt + 4, static_cast<std::uint32_t>(good.size() - kPreambleSize - 50), 4},
      {"device table entry", deviceTableAt + 8, 0xFFFFFFFFu, 4},
      {"runtime record offset", runtimeAt + 3 * 32, static_cast<std::uint32_t>(good.size() - kPreambleSize - 40), 4},
      {"area offset", recordAt + 28, 0x7FFFFFFFu, 4},
      {"area size smaller than the registers", recordAt + 28 + 6 * 2 + 4, 2, 2},
      {"register count beyond the areas", recordAt + 60, 500, 2},
      {"channel device range", at(goodImage.Channel(1)) + 40, 3, 2},
      {"device poll record range", at(goodImage.Device(3)) + 2, 5, 2},
      {"device index of a poll record", recordAt + 14, 4, 2},
  };
  for (const Corruption& corruption : corruptions) {
    std::vector<std::uint8_t> bytes = good;
    std::memcpy(bytes.data() + corruption.at, &corruption.value, corruption.width);
    ExactBuffer buffer(bytes, bytes.size());
    const DitImage image = buffer.Image();
    EXPECT_EQ(CheckImage(image, kNio), ImageCheck::kCorrupted) << corruption.what;
    WalkEverything(image);
  }
}

TEST(DitImage, RecordsAndAreasThatOverlapAreRefused) {
  const std::vector<std::uint8_t> good = testing::SampleImage(2, 2, 2);
  DitImage goodImage(const_cast<std::uint8_t*>(good.data()), good.size());
  const DitHeader& header = *goodImage.Header();
  const std::uint32_t recordOffset = goodImage.Runtime(3)->recordOffset;
  const std::uint32_t nextRecordOffset = goodImage.Runtime(4)->recordOffset;
  const std::uint32_t device0 = static_cast<std::uint32_t>(reinterpret_cast<std::uint8_t*>(goodImage.Device(0)) -
                                                           good.data() - kPreambleSize);
  std::uint32_t channel0 = 0;
  std::memcpy(&channel0, good.data() + kPreambleSize + header.channelTableOffset, 4);
  // Record 3's area that ends last, moved to end one byte into record 4.
  int lastArea = 0;
  std::uint32_t lastAreaEnd = 0;
  std::uint16_t lastAreaSize = 0;
  for (int area = 1; area <= kAreaCount; ++area) {
    std::uint16_t size = 0;
    const std::uint8_t* at = goodImage.Area(3, area, &size);
    const auto end = static_cast<std::uint32_t>(at - good.data()) + size;
    if (at != nullptr && size > 0 && end > lastAreaEnd) lastArea = area, lastAreaEnd = end, lastAreaSize = size;
  }
  ASSERT_GT(lastArea, 0);

  struct Overlap {
    const char* what;
    std::size_t at;  // header offset of the 32-bit field changed
    std::uint32_t value;
  };
  const Overlap overlaps[] = {
      // A channel record over the header: the driver's frame counter would
      // change the channel count.
      {"channel record over the header", header.channelTableOffset + 4, 0},
      {"two channels in one record", header.channelTableOffset + 4, channel0},
      {"device record over another", header.deviceTableOffset + 4, device0 + 10},
      {"two runtime entries for one poll record", header.runtimeTableOffset + 4 * 32, recordOffset},
      {"value area over its own record", recordOffset + 28, 10},
      {"write flag area over the next record", recordOffset + 28 + 2 * 6, nextRecordOffset - recordOffset},
      {"an area one byte into the next record", recordOffset + 28 + (lastArea - 1) * 6,
       nextRecordOffset - recordOffset - lastAreaSize + 1},
  };
  for (const Overlap& overlap : overlaps) {
    std::vector<std::uint8_t> bytes = good;
    std::memcpy(bytes.data() + kPreambleSize + overlap.at, &overlap.value, 4);
    ExactBuffer buffer(bytes, bytes.size());
    EXPECT_EQ(CheckImage(buffer.Image(), kNio), ImageCheck::kCorrupted) << overlap.what;
  }
  EXPECT_EQ(CheckImage(goodImage, kNio), ImageCheck::kGood);
  std::vector<std::uint8_t> largest = testing::LargestImage();
  EXPECT_EQ(CheckImage(DitImage(largest.data(), largest.size()), kNio), ImageCheck::kGood);
}

TEST(DitImage, RandomDamageNeverLeadsOutsideTheBuffer) {
  const std::vector<std::uint8_t> good = testing::SampleImage(3, 2, 2);
  std::mt19937 random(20261208);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> bytes = good;
    const int damage = 1 + static_cast<int>(random() % 4);
    for (int d = 0; d < damage; ++d) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    const std::size_t size = random() % 4 == 0 ? random() % bytes.size() : bytes.size();
    ExactBuffer buffer(bytes, size);
    const DitImage image = buffer.Image();
    CheckImage(image, kNio);
    WalkEverything(image);
  }
}

TEST(DitImage, Version278KeepsFiveCharacterNamesAndTheEarlierDescription) {
  std::vector<std::uint8_t> bytes = testing::SampleImage(1, 2, 1);
  DitImage image(bytes.data(), bytes.size());
  HeaderOf(bytes).formatVersion = 278;
  for (int d = 0; d < 2; ++d) {
    DitDevice& device = *image.Device(d);
    std::memset(device.name, 0, kDeviceNameField + kDescriptionField);
    auto* raw = reinterpret_cast<char*>(&device);
    std::strcpy(raw + 4, d == 0 ? "PUMP1" : "FAN");
    std::strcpy(raw + kDescriptionOffset278, d == 0 ? "Pump house, north wall" : "Cooling fan");
  }
  ASSERT_EQ(CheckImage(image, kNio), ImageCheck::kGood);
  EXPECT_EQ(DeviceName(*image.Device(0), 278), "PUMP1");
  EXPECT_EQ(DeviceDescription(*image.Device(0), 278), "Pump house, north wall");
  EXPECT_EQ(DeviceName(*image.Device(1), 278), "FAN");
  EXPECT_EQ(DeviceDescription(*image.Device(1), 278), "Cooling fan");
  EXPECT_EQ(DeviceName(*image.Device(1), 279), "FAN");

  // A name that fills its field is read without running into the next one.
  std::memcpy(image.Device(0)->name, "ABCDEFGHIJKL", 12);
  EXPECT_EQ(DeviceName(*image.Device(0), 279), "ABCDEFGHIJKL");
}

}  // namespace
}  // namespace vrt
