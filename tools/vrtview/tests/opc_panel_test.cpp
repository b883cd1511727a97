#include "opc_panel.h"

#include <gtest/gtest.h>

#include <thread>

namespace vrt::view {
namespace {

using Ids = std::vector<std::string>;

TEST(OpcPanel, ItemListsSplitAtCommasBetweenItems) {
  const std::pair<std::string, Ids> cases[] = {
      {kDefaultOpcItems, {"PUMPS:DIT:2", "PUMPS:DIT:101", "VALVES:DIT:0:8", "TURBINE:DIT:50$8"}},
      {"PUMPS:DIT:0", {"PUMPS:DIT:0"}},
      {"PUMPS:DIT:100|LIN,0.00,100,,degC,VALVES:DIT:0:3|NONE,Closed,Open,PUMPS:DIT:0",
       {"PUMPS:DIT:100|LIN,0.00,100,,degC", "VALVES:DIT:0:3|NONE,Closed,Open", "PUMPS:DIT:0"}},
      {"A:DIT:1|LIN,,,,", {"A:DIT:1|LIN,,,,"}},  // empty conditioning fields belong to the item
      {"A:DIT:1,,B:DIT:2,", {"A:DIT:1", "B:DIT:2"}},
      {",A:DIT:1", {"A:DIT:1"}},
      {"A:DIT:1,NOCOLON", {"A:DIT:1", "NOCOLON"}},  // the server refuses it, by name
      {"", {}},
      {",,", {}},
  };
  for (const auto& [list, ids] : cases) EXPECT_EQ(SplitOpcItemList(list), ids) << list;
}

TEST(OpcPanel, EveryItemShowsWhatIsKnownOfIt) {
  OpcPanel panel(SplitOpcItemList(kDefaultOpcItems));
  panel.SetAddResult(0, 0);
  panel.SetAddResult(1, 0);
  panel.SetAddResult(2, 0x00040010u);  // a success code is no error
  panel.SetAddResult(3, 0xC0040007u);
  panel.SetAddResult(4, 0xC0040007u);  // no such item: ignored
  panel.Update(1, "120", 0xC0, "14:00:00.000", "14:00:00.250");
  panel.Update(5, "99", 0xC0, "x", "y");  // not the view's handle
  panel.Update(0, "99", 0xC0, "x", "y");
  EXPECT_EQ(panel.Lines(42), (Ids{
                                 "OPC subscription (bandwidth 42 %)",
                                 "  PUMPS:DIT:2 = 120  quality 192 (good)  changed 14:00:00.000  arrived 14:00:00.250",
                                 "  PUMPS:DIT:101 = (no value yet)",
                                 "  VALVES:DIT:0:8 = (no value yet)",
                                 "  TURBINE:DIT:50$8: error 0xC0040007",
                             }));

  panel.Update(1, "121.5", 0x18, "14:00:01.000", "14:00:01.500");
  panel.Update(3, "true", 0xC0, "14:00:01.010", "14:00:01.500");
  panel.UpdateError(2, 0x80004005u);
  const Ids lines = panel.Lines(std::nullopt);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "OPC subscription (bandwidth ? %)");
  EXPECT_EQ(lines[1],
            "  PUMPS:DIT:2 = 121.5  quality 24 (bad: communication failure)  changed 14:00:01.000  "
            "arrived 14:00:01.500");
  EXPECT_EQ(lines[2], "  PUMPS:DIT:101: error 0x80004005");
  EXPECT_EQ(lines[3], "  VALVES:DIT:0:8 = true  quality 192 (good)  changed 14:00:01.010  arrived 14:00:01.500");

  // A value after an error shows again.
  panel.Update(2, "-40", 0xC0, "14:00:02.000", "14:00:02.100");
  EXPECT_EQ(panel.Lines(0)[2], "  PUMPS:DIT:101 = -40  quality 192 (good)  changed 14:00:02.000  arrived 14:00:02.100");
}

TEST(OpcPanel, AFailedSetUpIsOneLine) {
  OpcPanel panel({"PUMPS:DIT:0"});
  panel.SetFailure("OPC: server not available (" + CodeText(0x80040154u) + ")");
  EXPECT_EQ(panel.Lines(10), Ids{"OPC: server not available (0x80040154)"});
}

TEST(OpcPanel, CallbacksAndRefreshesMayRunAtOnce) {
  OpcPanel panel({"A:DIT:1", "B:DIT:2"});
  std::thread server([&panel] {
    for (int i = 0; i < 20000; ++i) {
      panel.Update(static_cast<std::uint32_t>(1 + i % 2), std::to_string(i), 0xC0, "00:00:00.000", "00:00:00.001");
    }
  });
  for (int i = 0; i < 2000; ++i) {
    const Ids lines = panel.Lines(1);
    ASSERT_EQ(lines.size(), 3u);
  }
  server.join();
  const Ids lines = panel.Lines(1);
  EXPECT_EQ(lines[1], "  A:DIT:1 = 19998  quality 192 (good)  changed 00:00:00.000  arrived 00:00:00.001");
  EXPECT_EQ(lines[2], "  B:DIT:2 = 19999  quality 192 (good)  changed 00:00:00.000  arrived 00:00:00.001");
}

}  // namespace
}  // namespace vrt::view
