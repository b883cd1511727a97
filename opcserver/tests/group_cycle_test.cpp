// The group tick's rules over a group of fake items: the 32-entry change
// buffer, PRIMEFIRST, which items go out in which stream and in what order,
// the quality of queued reads and the master results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "group_cycle.h"
#include "item_sampling.h"

namespace vrt::opc {
namespace {

// A group whose items change as the test says, and which records what the
// tick sends; a stream clears what it carries, as the item read does.
class FakeGroup final : public GroupCycleHost {
 public:
  struct Item {
    bool active = true;
    bool changes = false;
    std::uint32_t pending = 0;
  };
  std::vector<Item> items;
  std::uint32_t dataAdvf = 0;
  std::uint32_t dataTimeAdvf = 0;
  bool dataSink = false;
  bool dataTimeSink = false;
  std::vector<std::string> sent;  // "change N", "DATA a,b", "DATATIME a,b" in order

  std::size_t ItemCount() override { return items.size(); }
  std::uint32_t ItemServerHandle(std::size_t index) override { return static_cast<std::uint32_t>(100 + index); }
  bool ItemActive(std::size_t index) override { return items[index].active; }
  bool RefreshItem(std::size_t index) override {
    if (!items[index].changes) return false;
    items[index].pending = kPendingAll;
    return true;
  }
  std::uint32_t ItemPending(std::size_t index) override { return items[index].pending; }
  void MarkItemPending(std::size_t index, std::uint32_t bits) override { items[index].pending |= bits; }
  std::uint32_t AdviseFlags(StreamFormat format) override {
    return format == StreamFormat::kData ? dataAdvf : dataTimeAdvf;
  }
  void ClearPrimeFirst() override {
    dataAdvf &= ~kAdvisePrimeFirst;
    dataTimeAdvf &= ~kAdvisePrimeFirst;
  }
  bool StreamSinkHeld(StreamFormat format) override {
    return format == StreamFormat::kData ? dataSink : format == StreamFormat::kDataTime && dataTimeSink;
  }
  void SendSubscriptionStream(StreamFormat format, const std::vector<std::size_t>& indices) override {
    std::string line = format == StreamFormat::kData ? "DATA " : "DATATIME ";
    for (std::size_t index : indices) {
      items[index].pending = 0;
      line += std::to_string(index) + ",";
    }
    sent.push_back(line);
  }
  void SendDataChange(const std::vector<std::uint32_t>& serverHandles) override {
    EXPECT_LE(serverHandles.size(), kChangeBufferSize);
    for (std::uint32_t handle : serverHandles) items[handle - 100].pending = 0;
    sent.push_back("change " + std::to_string(serverHandles.size()));
  }
};

TEST(GroupCycle, ChangesGoOutInCallsOfAtMost32AndNotWithoutASink) {
  for (std::size_t changed : {31u, 32u, 33u, 70u}) {
    FakeGroup group;
    group.items.resize(changed + 5);
    for (std::size_t k = 0; k < changed; ++k) group.items[k].changes = true;
    EXPECT_TRUE(ServiceGroup(group, true));
    std::vector<std::string> expected;
    for (std::size_t left = changed; left > 0; left -= std::min(left, kChangeBufferSize)) {
      expected.push_back("change " + std::to_string(std::min(left, kChangeBufferSize)));
    }
    EXPECT_EQ(group.sent, expected) << changed << " changes";
  }
  // Without a subscriber the buffer is emptied unsent: nothing piles up.
  FakeGroup quiet;
  quiet.items.resize(40, FakeGroup::Item{true, true, 0});
  EXPECT_FALSE(ServiceGroup(quiet, false));
  EXPECT_TRUE(quiet.sent.empty());
  // Inactive items are not read and not reported.
  FakeGroup inactive;
  inactive.items.resize(3, FakeGroup::Item{false, true, 0});
  EXPECT_FALSE(ServiceGroup(inactive, true));
  EXPECT_TRUE(inactive.sent.empty());
}

TEST(GroupCycle, DataTimeGoesBeforeDataAndEachChangeOnce) {
  FakeGroup group;
  group.items.resize(4);
  group.items[1].changes = true;
  group.items[3].changes = true;
  group.dataSink = group.dataTimeSink = true;
  ServiceGroup(group, false);
  // Both formats advised: the change goes only in the DATATIME stream.
  EXPECT_EQ(group.sent, (std::vector<std::string>{"DATATIME 1,3,"}));

  FakeGroup dataOnly;
  dataOnly.items.resize(3);
  dataOnly.items[2].changes = true;
  dataOnly.dataSink = true;
  ServiceGroup(dataOnly, true);
  // The stream, then the callback of the same change (both subscribed).
  EXPECT_EQ(dataOnly.sent, (std::vector<std::string>{"DATA 2,", "change 1"}));

  // An item pending only for DATA (its DATATIME delivered) goes in DATA.
  FakeGroup half;
  half.items.resize(2);
  half.items[0].pending = kPendingData;
  half.dataSink = half.dataTimeSink = true;
  ServiceGroup(half, false);
  EXPECT_EQ(half.sent, (std::vector<std::string>{"DATA 0,"}));
}

TEST(GroupCycle, PrimeFirstSendsEveryActiveItemOnceThenOnlyChanges) {
  FakeGroup group;
  group.items.resize(4);
  group.items[2].active = false;
  group.dataAdvf = kAdvisePrimeFirst;
  group.dataSink = true;
  ServiceGroup(group, false);
  EXPECT_EQ(group.sent, (std::vector<std::string>{"DATA 0,1,3,"}));
  EXPECT_EQ(group.items[2].pending, 0u);  // an inactive item is not primed
  EXPECT_EQ(group.dataAdvf, 0u);
  group.sent.clear();
  ServiceGroup(group, false);
  EXPECT_TRUE(group.sent.empty());  // primed once only

  // Priming DATATIME alone leaves DATA without the unchanged items.
  FakeGroup timeOnly;
  timeOnly.items.resize(2);
  timeOnly.dataTimeAdvf = kAdvisePrimeFirst;
  timeOnly.dataSink = timeOnly.dataTimeSink = true;
  ServiceGroup(timeOnly, false);
  EXPECT_EQ(timeOnly.sent, (std::vector<std::string>{"DATATIME 0,1,"}));
}

TEST(GroupCycle, CountdownAndWhenAGroupIsServiced) {
  std::int64_t countdown = 0;
  EXPECT_TRUE(CountDown(countdown, 0));  // due at once
  countdown = 100;
  EXPECT_FALSE(CountDown(countdown, 99));
  EXPECT_TRUE(CountDown(countdown, 1));  // exactly run out
  countdown = 100;
  EXPECT_TRUE(CountDown(countdown, 250));
  EXPECT_EQ(countdown, -150);

  EXPECT_TRUE(ServicesItems(true, false, true, false));
  EXPECT_TRUE(ServicesItems(true, false, false, true));
  EXPECT_FALSE(ServicesItems(true, false, false, false));  // nobody listens
  EXPECT_FALSE(ServicesItems(false, false, true, true));
  EXPECT_FALSE(ServicesItems(true, true, true, true));  // removed while held
}

TEST(GroupCycle, AKeepAliveComesAfterExactlyItsQuietTimeAndNeverBesideAnUpdate) {
  std::uint64_t quiet = 0;
  // 1000 ms in ticks of 250: due on the fourth, then counted afresh.
  for (int tick = 1; tick <= 3; ++tick) EXPECT_FALSE(KeepAliveDue(1000, quiet, 250, true, false)) << tick;
  EXPECT_TRUE(KeepAliveDue(1000, quiet, 250, true, false));
  EXPECT_EQ(quiet, 0u);
  EXPECT_FALSE(KeepAliveDue(1000, quiet, 999, true, false));
  EXPECT_TRUE(KeepAliveDue(1000, quiet, 1, true, false));
  // An update sent starts the quiet time again.
  EXPECT_FALSE(KeepAliveDue(1000, quiet, 900, true, false));
  EXPECT_FALSE(KeepAliveDue(1000, quiet, 50, true, true));
  EXPECT_FALSE(KeepAliveDue(1000, quiet, 900, true, false));
  EXPECT_TRUE(KeepAliveDue(1000, quiet, 100, true, false));
  // Off, or nobody subscribed to an active group: never, and nothing counts.
  EXPECT_FALSE(KeepAliveDue(0, quiet, 5000, true, false));
  EXPECT_FALSE(KeepAliveDue(1000, quiet, 900, false, false));
  EXPECT_FALSE(KeepAliveDue(1000, quiet, 900, true, false));
  EXPECT_TRUE(KeepAliveDue(1000, quiet, 100, true, false));
}

TEST(ItemSampling, ARateIsNeverQuickerThanThePollRecordOrThePollThread) {
  // Poll record every 500 ms, poll thread every 100 ms.
  EXPECT_EQ(RevisedSamplingRate(0, 500, 100), 500u);  // the quickest
  EXPECT_EQ(RevisedSamplingRate(499, 500, 100), 500u);
  EXPECT_EQ(RevisedSamplingRate(500, 500, 100), 500u);
  EXPECT_EQ(RevisedSamplingRate(501, 500, 100), 501u);
  // A record polled quicker than the thread looks: the thread's wait.
  EXPECT_EQ(RevisedSamplingRate(50, 10, 100), 100u);
  // Poll time not known: the thread's wait alone.
  EXPECT_EQ(RevisedSamplingRate(0, 0, 100), 100u);
  EXPECT_EQ(RevisedSamplingRate(0xFFFFFFFF, 500, 100), 0xFFFFFFFFu);
}

TEST(ItemSampling, ABufferGivesItsSamplesOldestFirstAndSaysWhenItDroppedAny) {
  SampleBuffer<int> buffer(3);
  for (int sample = 1; sample <= 3; ++sample) buffer.Add(sample);
  auto taken = buffer.Take();
  EXPECT_EQ(taken.samples, (std::vector<int>{1, 2, 3}));  // exactly full: nothing dropped
  EXPECT_FALSE(taken.overflowed);
  EXPECT_EQ(buffer.Size(), 0u);
  for (int sample = 1; sample <= 5; ++sample) buffer.Add(sample);
  taken = buffer.Take();
  EXPECT_EQ(taken.samples, (std::vector<int>{3, 4, 5}));  // one over: the oldest went
  EXPECT_TRUE(taken.overflowed);
  // The overflow is told once.
  buffer.Add(6);
  taken = buffer.Take();
  EXPECT_EQ(taken.samples, std::vector<int>{6});
  EXPECT_FALSE(taken.overflowed);
  EXPECT_TRUE(buffer.Take().samples.empty());
  // A buffer of none holds one.
  SampleBuffer<int> least(0);
  least.Add(1);
  least.Add(2);
  taken = least.Take();
  EXPECT_EQ(taken.samples, std::vector<int>{2});
  EXPECT_TRUE(taken.overflowed);
}

TEST(GroupCycle, QueuedReadsOfAnInactiveGroupFromTheCacheAreOutOfService) {
  const std::uint16_t goodHigh = OPC_QUALITY_GOOD | OPC_LIMIT_HIGH;
  EXPECT_EQ(QueuedReadQuality(goodHigh, false, kSourceCache), OPC_QUALITY_OUT_OF_SERVICE | OPC_LIMIT_HIGH);
  EXPECT_EQ(QueuedReadQuality(OPC_QUALITY_GOOD, false, 0), OPC_QUALITY_OUT_OF_SERVICE);  // anything but device is cache
  EXPECT_EQ(QueuedReadQuality(goodHigh, false, kSourceDevice), goodHigh);
  EXPECT_EQ(QueuedReadQuality(goodHigh, true, kSourceCache), goodHigh);
}

TEST(GroupCycle, MasterResultsOfACallback) {
  const std::uint16_t good[] = {0xC0, 0xD8, 0xC3};
  const std::int32_t ok[] = {0, 0, 0};
  MasterResults all = MasterResultsOf(good, ok, 3);
  EXPECT_EQ(all.quality, 0);
  EXPECT_EQ(all.error, 0);
  const std::uint16_t mixed[] = {0xC0, 0x40, 0x1C};
  const std::int32_t errors[] = {0, 0x00048001, static_cast<std::int32_t>(0x80020005)};
  EXPECT_EQ(MasterResultsOf(mixed, ok, 2).quality, 1);  // UNCERTAIN is not GOOD
  EXPECT_EQ(MasterResultsOf(mixed, ok, 1).quality, 0);
  EXPECT_EQ(MasterResultsOf(good, errors, 2).error, 1);  // the inactive-read code counts
  EXPECT_EQ(MasterErrorOf(errors, 1), 0);
  EXPECT_EQ(MasterErrorOf(errors, 3), 1);
}

}  // namespace
}  // namespace vrt::opc
