// Enumeration lists and their release, channel statistics, the server
// status and the message entry point, over the plant's image.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "control_block.h"
#include "nio_enumeration.h"
#include "nio_status.h"
#include "nio_test_plant.h"

namespace vrt {
namespace {

using testing::Plant;

// A heap that knows which blocks are out, releases the rest at the end (so
// lists the library never frees do not count as leaks) and can refuse.
class CountingHeap final : public NioListHeap {
 public:
  ~CountingHeap() override {
    for (char* block : out) delete[] block;
  }
  char* Allocate(std::size_t bytes) override {
    if (refuse) return nullptr;
    char* block = new char[bytes]();
    out.insert(block);
    ++allocations;
    return block;
  }
  void Release(char* block) override {
    ASSERT_EQ(out.count(block), 1u) << "released a block that is not out";
    out.erase(block);
    delete[] block;
    ++releases;
  }
  std::set<char*> out;
  int allocations = 0;
  int releases = 0;
  bool refuse = false;
};

class Enumeration : public Plant {
 protected:
  void SetUp() override {
    Plant::SetUp();
    process.listHeap = &heap;
  }

  void Attach() { ASSERT_NE(client.mapping.nio_map_hdr(), nullptr); }

  static std::vector<std::string> Texts(const char* list, std::uint32_t count) {
    std::vector<std::string> texts;
    for (std::uint32_t k = 0; k < count; ++k) {
      const char* slot = list + k * kEnumerationSlot;
      EXPECT_NE(std::memchr(slot, 0, kEnumerationSlot), nullptr) << "slot " << k << " is not terminated";
      texts.emplace_back(slot);
    }
    return texts;
  }

  std::vector<std::string> PollRecs(const char* device, std::uint16_t expectedStatus = 0) {
    std::uint16_t status = 0xEEEE;
    std::uint32_t count = 0xEEEE;
    char* list = reinterpret_cast<char*>(1);
    nio_Enum_PollRecs(process, &status, device, &count, &list);
    EXPECT_EQ(status, expectedStatus) << device;
    if (status != 0) {
      EXPECT_EQ(count, 0u);
      EXPECT_EQ(list, nullptr);
    }
    std::vector<std::string> texts = list != nullptr ? Texts(list, count) : std::vector<std::string>{};
    nio_Free(process, list);
    return texts;
  }

  CountingHeap heap;
  NioProcess process{client.mapping, client.platform};
};

TEST_F(Enumeration, DevicesComeInChannelOrder) {
  Attach();
  std::uint16_t status = 0xEEEE;
  std::uint32_t count = 0;
  char* list = nullptr;
  nio_Enum_Devices(process, &status, &count, &list);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(count, 4u);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(Texts(list, count), (std::vector<std::string>{"PUMP1", "VALVE2", "TEXTDEV", "ABCDEFGHIJK"}));
  // Slots are zero-filled behind their texts.
  for (std::size_t k = 6; k < kEnumerationSlot; ++k) EXPECT_EQ(list[k], 0);
  nio_Free(process, list);
  EXPECT_TRUE(heap.out.empty());
}

TEST_F(Enumeration, BeforeTheFirstAttachTheListsAreEmpty) {
  std::uint16_t status = 0xEEEE;
  std::uint32_t count = 99;
  char* list = reinterpret_cast<char*>(1);
  nio_Enum_Devices(process, &status, &count, &list);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(nio_num_pollblocks(process), 0);
  EXPECT_EQ(heap.allocations, 0);
  Attach();
  EXPECT_EQ(nio_num_pollblocks(process), 10);
}

TEST_F(Enumeration, NullArgumentsGiveStatus100AndAllocateNothing) {
  Attach();
  std::uint16_t status = 0;
  std::uint32_t count = 0;
  char* list = nullptr;
  nio_Enum_Devices(process, &status, nullptr, &list);
  EXPECT_EQ(status, kNioEnumerationFailed);
  status = 0;
  nio_Enum_Devices(process, &status, &count, nullptr);
  EXPECT_EQ(status, kNioEnumerationFailed);
  status = 0;
  nio_Enum_PollRecs(process, &status, nullptr, &count, &list);
  EXPECT_EQ(status, kNioEnumerationFailed);
  status = 0;
  nio_Enum_PollRecs(process, &status, "PUMP1", nullptr, &list);
  EXPECT_EQ(status, kNioEnumerationFailed);
  EXPECT_EQ(heap.allocations, 0);
}

TEST_F(Enumeration, PollRecordTextsGiveKindStartAndEnd) {
  Attach();
  EXPECT_EQ(PollRecs("PUMP1"), (std::vector<std::string>{"DIT:100 - 132", "DIT:200 - 208", "EVENT:0 - 4"}));
  EXPECT_EQ(PollRecs("textdev"), (std::vector<std::string>{"DIT:0 - 8", "DIT:40 - 43"}));
  EXPECT_TRUE(heap.out.empty());
}

TEST_F(Enumeration, ADeviceWithThreeRecordsGivesThreeSlots) {
  Reload([](DitConfiguration& configuration) {
    configuration.channels[1].devices.push_back(testing::SampleDevice(
        "MIXER", 9,
        {testing::SamplePollRecord(0, 16, kDataUnsigned), testing::SamplePollRecord(16, 16, kDataUnsigned),
         testing::SamplePollRecord(0, 8, kDataUnsigned, 0, kPollKindEvent)}));
  });
  Attach();
  EXPECT_EQ(PollRecs("MIXER"), (std::vector<std::string>{"DIT:0 - 16", "DIT:16 - 32", "EVENT:0 - 8"}));
  EXPECT_EQ(nio_num_pollblocks(process), 13);
}

TEST_F(Enumeration, AnUnknownDeviceGivesStatus100AndNoList) {
  Attach();
  EXPECT_TRUE(PollRecs("NOSUCH", kNioEnumerationFailed).empty());
  EXPECT_TRUE(PollRecs("", kNioEnumerationFailed).empty());
  EXPECT_EQ(heap.allocations, 0);
}

TEST_F(Enumeration, OnlyTheLastListIsFreed) {
  Attach();
  std::uint16_t status = 0;
  std::uint32_t count = 0;
  char* first = nullptr;
  char* second = nullptr;
  nio_Enum_Devices(process, &status, &count, &first);
  nio_Enum_PollRecs(process, &status, "VALVE2", &count, &second);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  nio_Free(process, first);
  EXPECT_EQ(heap.releases, 0);
  EXPECT_EQ(heap.out.count(first), 1u);
  nio_Free(process, nullptr);
  nio_Free(process, first + 1);
  EXPECT_EQ(heap.releases, 0);
  nio_Free(process, second);
  EXPECT_EQ(heap.releases, 1);
  EXPECT_EQ(heap.out.count(second), 0u);
  nio_Free(process, second);  // twice frees once
  EXPECT_EQ(heap.releases, 1);
  nio_Free(process, first);  // never the last list
  EXPECT_EQ(heap.releases, 1);
}

TEST_F(Enumeration, AFailedEnumerationKeepsThePreviousLastList) {
  Attach();
  std::uint16_t status = 0;
  std::uint32_t count = 0;
  char* devices = nullptr;
  nio_Enum_Devices(process, &status, &count, &devices);
  ASSERT_NE(devices, nullptr);
  heap.refuse = true;
  char* list = reinterpret_cast<char*>(1);
  nio_Enum_PollRecs(process, &status, "PUMP1", &count, &list);
  EXPECT_EQ(status, kNioEnumerationFailed);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(list, nullptr);
  nio_Enum_Devices(process, &status, &count, &list);
  EXPECT_EQ(status, kNioEnumerationFailed);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(list, nullptr);
  nio_Free(process, devices);
  EXPECT_EQ(heap.releases, 1);
}

TEST_F(Enumeration, AMissingPollRecordReleasesTheList) {
  Attach();
  // A device whose records run past the image's table.
  const int pump = 0;
  DitDevice* device = client.mapping.nio_map_dev(pump);
  ASSERT_NE(device, nullptr);
  device->pollRecordCount = 200;
  EXPECT_TRUE(PollRecs("PUMP1", kNioEnumerationFailed).empty());
  EXPECT_EQ(heap.allocations, 1);
  EXPECT_TRUE(heap.out.empty());
}

TEST_F(Enumeration, DescriptionsFitTheirSlotAtTheLargestAddresses) {
  DitPollRecord record{};
  record.addressWord = MakeAddressWord(2047, kPollKindEvent);
  record.length = 65535;
  char slot[kEnumerationSlot];
  DescribePollRecord(record, slot);
  EXPECT_STREQ(slot, "EVENT:2047 - 67582");
}

class Status : public Enumeration {};

TEST_F(Status, StatisticsAreReadAndResetPerChannel) {
  Attach();
  DitChannel* channel = client.mapping.nio_map_chan(1);
  ASSERT_NE(channel, nullptr);
  channel->activePort = 3;
  channel->reserved1 = 0x77;
  channel->statistics.framesSent = 1000;
  channel->statistics.naksAndBadReplies = 12;
  channel->statistics.unused24[7] = 0x4242;
  const std::uint16_t firstDevice = channel->firstDevice;

  std::uint8_t block[kChannelStatisticsSize + 4];
  std::memset(block, 0xEE, sizeof block);
  std::int16_t port = 0;
  std::uint16_t status = 0xEEEE;
  nio_read_stats(process, &status, 1, &port, block);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(port, 3);
  EXPECT_EQ(std::memcmp(block, channel, kChannelStatisticsSize), 0);
  EXPECT_EQ(block[kChannelStatisticsSize], 0xEE);

  nio_reset_stats(process, &status, 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(channel->activePort, 3);
  EXPECT_EQ(channel->reserved1, 0x77);
  EXPECT_EQ(channel->statistics.framesSent, 0);
  EXPECT_EQ(channel->statistics.naksAndBadReplies, 0);
  EXPECT_EQ(channel->statistics.unused24[7], 0);
  EXPECT_EQ(channel->firstDevice, firstDevice);
}

TEST_F(Status, AChannelWithoutAPortIsNotReset) {
  Attach();
  DitChannel* channel = client.mapping.nio_map_chan(0);
  ASSERT_NE(channel, nullptr);
  channel->activePort = -1;
  channel->statistics.retries = 5;
  std::int16_t port = 0;
  std::uint8_t block[kChannelStatisticsSize];
  std::uint16_t status = 0xEEEE;
  nio_read_stats(process, &status, 0, &port, block);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(port, -1);  // sign-extended
  nio_reset_stats(process, &status, 0);
  EXPECT_EQ(status, kNioUnsupportedKind);
  EXPECT_EQ(channel->statistics.retries, 5);
}

TEST_F(Status, ChannelIndicesOutsideTheImageGive510) {
  std::int16_t port = 77;
  std::uint8_t block[kChannelStatisticsSize] = {};
  std::uint16_t status = 0;
  nio_read_stats(process, &status, 2, &port, block);  // attaches; two channels
  EXPECT_EQ(status, kNioUnsupportedKind);
  EXPECT_EQ(port, 77);
  status = 0;
  nio_read_stats(process, &status, -1, &port, block);
  EXPECT_EQ(status, kNioUnsupportedKind);
  status = 0;
  nio_reset_stats(process, &status, 2);
  EXPECT_EQ(status, kNioUnsupportedKind);
}

TEST_F(Status, TheAliveFlagFollowsTheDriversCycleCounter) {
  char text[kServerTextMax + 1];
  std::int32_t alive = -1;
  DitHeader* header = driver->mapping.Image().Header();
  ASSERT_NE(header, nullptr);
  // The driver runs: its main loop counts cycles every 10 ms.
  header->cycleCounter = 5;
  Block().AliveCount = 5;
  EXPECT_EQ(nio_get_ServerStatus(process, text, &alive), 1);
  EXPECT_STREQ(text, "Harnix Tavex V6.9.10");
  EXPECT_EQ(alive, 1);
  header->cycleCounter = 10;
  Block().AliveCount = 10;
  EXPECT_EQ(nio_get_ServerStatus(process, nullptr, &alive), 1);
  EXPECT_EQ(alive, 1);
  // The driver stopped: the counter stands still.
  EXPECT_EQ(nio_get_ServerStatus(process, nullptr, &alive), 1);
  EXPECT_EQ(alive, 0);
  // Wrapping counts as moving.
  header->cycleCounter = 0;
  EXPECT_EQ(nio_get_ServerStatus(process, nullptr, &alive), 1);
  EXPECT_EQ(alive, 1);
  EXPECT_EQ(nio_get_ServerStatus(process, nullptr, nullptr), 1);
}

TEST_F(Status, WithoutAnImageTheAliveFlagIsLeftAlone) {
  testing::FakeSystem empty;
  testing::Process lonely{empty, kNioFlavour};
  NioProcess without{lonely.mapping, lonely.platform};
  std::int32_t alive = 42;
  char text[kServerTextMax + 1] = {};
  EXPECT_EQ(nio_get_ServerStatus(without, text, &alive), 1);
  EXPECT_EQ(alive, 42);
  EXPECT_STREQ(text, kServerIdentification);
  std::uint32_t count = 9;
  char* list = reinterpret_cast<char*>(1);
  std::uint16_t status = 0xEEEE;
  nio_Enum_Devices(without, &status, &count, &list);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(list, nullptr);
}

TEST_F(Status, MessagesGoIntoTheDriversRingBehindThePrefix) {
  Attach();
  DriverControlBlock& block = Block();
  const std::int32_t before = block.MessageIndex;
  nio_SendMsg(process, kAttrError, "OPC server: group 3 could not be added");
  EXPECT_NE(block.MessageIndex, before);
  const char* text = nullptr;
  int attribute = 0;
  block.MessageReadIndex = before;
  ASSERT_TRUE(TakeRingMessage(block, &text, &attribute));
  EXPECT_STREQ(text, "NIO-OPC server: group 3 could not be added");
  EXPECT_EQ(attribute, kAttrError);

  // Long texts are cut to the slot; format characters are text.
  const std::string longText(300, 'x');
  nio_SendMsg(process, kAttrWarning, ("%s%n" + longText).c_str());
  ASSERT_TRUE(TakeRingMessage(block, &text, &attribute));
  EXPECT_EQ(std::string(text), ("NIO-%s%n" + longText).substr(0, kRingTextMax));
  nio_SendMsg(process, kAttrWarning, nullptr);
  EXPECT_FALSE(TakeRingMessage(block, &text, &attribute));
}

TEST_F(Status, ToolkitEntryPointsOnlySetTheStatus) {
  Attach();
  std::uint16_t status = 0xEEEE;
  nio_tick_enable(&status);
  EXPECT_EQ(status, 0);
  status = 0xEEEE;
  nio_tick_disable(&status);
  EXPECT_EQ(status, 0);
  status = 0xEEEE;
  nio_getsub(&status);
  EXPECT_EQ(status, 0);
  status = 0xEEEE;
  nio_reset(&status);
  EXPECT_EQ(status, 0);
  status = 0xEEEE;
  nio_CleanUp(&status);
  EXPECT_EQ(status, 0);
  nio_tick();
  nio_reload_dit();
  nio_CleanUp(nullptr);
  EXPECT_EQ(nio_num_pollblocks(process), 10);
  EXPECT_EQ(client.mapping.AttachedGeneration(), driver->mapping.AttachedGeneration());
}

}  // namespace
}  // namespace vrt
