#include <gtest/gtest.h>

#include "stress_watch.h"

namespace vrt::tool {
namespace {

TEST(StressItemIds, RangesKeepTheirPrefixAndSuffix) {
  auto ids = ExpandItemIds("PUMPS:DIT:256..258:0,PUMPS:DIT:512$8");
  ASSERT_TRUE(ids);
  EXPECT_EQ(*ids, (std::vector<std::string>{"PUMPS:DIT:256:0", "PUMPS:DIT:257:0", "PUMPS:DIT:258:0",
                                            "PUMPS:DIT:512$8"}));
  EXPECT_EQ(ExpandItemIds("A:DIT:7..7")->size(), 1u);
  for (const char* bad : {"", "A,,B", "A:DIT:9..8", "A:DIT:..8", "A:DIT:1..", "A:DIT:0..10000"}) {
    EXPECT_FALSE(ExpandItemIds(bad)) << bad;
  }
  EXPECT_EQ(ExpandItemIds("A:DIT:0..9999")->size(), 10000u);
}

TEST(StressStallWatch, ACounterThatStopsIsStalledAfterTheLimitOnly) {
  StallWatch watch(2, 5000);
  EXPECT_FALSE(watch.Stalled(0, 0, 1000));  // first sight
  EXPECT_FALSE(watch.Stalled(0, 0, 5999));
  EXPECT_TRUE(watch.Stalled(0, 0, 6000));   // exactly the limit
  EXPECT_FALSE(watch.Stalled(0, 1, 6001));  // moved again
  EXPECT_EQ(watch.StillFor(0, 7001), 1000u);
  // Each counter on its own.
  EXPECT_FALSE(watch.Stalled(1, 5, 6000));
  EXPECT_FALSE(watch.Stalled(1, 6, 10000));
  EXPECT_FALSE(watch.Stalled(1, 6, 14999));
  EXPECT_TRUE(watch.Stalled(1, 6, 15000));
}

}  // namespace
}  // namespace vrt::tool
