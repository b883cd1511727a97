// Code tables: how a typed text picks an entry, and the conversions between
// codes, positions and texts.
#include <gtest/gtest.h>

#include "dictionary.h"

namespace vrt::editor {
namespace {

TEST(CodeTableMatching, TheFirstCharactersOfAnEntryDecide) {
  EXPECT_EQ(baud_dct().Match("9"), 14);  // 9600
  EXPECT_EQ(baud_dct().Match("96000"), 14);
  EXPECT_EQ(baud_dct().Match("115200"), 19);
  EXPECT_EQ(baud_dct().Match("11"), kNoMatch);  // "110" compares three characters
  EXPECT_EQ(parity_dct().Match("E"), 3);       // Even
  EXPECT_EQ(parity_dct().Match("Odd"), 1);
  EXPECT_EQ(handshake_dct().Match("RTS/CTS"), 18);
  EXPECT_EQ(handshake_dct().Match("RTS Toggle"), 4);
  EXPECT_EQ(handshake_dct().Match("RTS Tog CTS"), 20);
  EXPECT_EQ(handshake_dct().Match("RTS T CTS+CD"), 148);
  EXPECT_EQ(VRT_Hardware_Type_dct().Match("EVR41"), 5);
  EXPECT_EQ(VRT_Hardware_Type_dct().Match("TO"), 56);
}

TEST(CodeTableMatching, DigSelectsDigitalAndDisSelectsDisabled) {
  EXPECT_EQ(VRT_Exception_dct().Match("Dig"), 2);
  EXPECT_EQ(VRT_Exception_dct().Match("Dis"), 0);
  EXPECT_EQ(VRT_Exception_dct().Match("Di"), kNoMatch);
  EXPECT_EQ(VRT_Data_Type_dct().Match("Dig"), 4);
}

TEST(CodeTableMatching, IsCaseSensitiveAndRefusesUnknownTexts) {
  EXPECT_EQ(parity_dct().Match("even"), kNoMatch);
  EXPECT_EQ(VRT_Data_Type_dct().Match("Long"), kNoMatch);
  EXPECT_EQ(VRT_Data_Type_dct().Match(""), kNoMatch);
  EXPECT_EQ(Yes_No_dct().Match("yes"), kNoMatch);
  EXPECT_EQ(Yes_No_dct().Match("N"), 0);
}

TEST(CodeTableMatching, PortTextsGivePortNumberMinusOne) {
  EXPECT_EQ(port_dct().Match("COM25:"), 24);  // port 25
  EXPECT_EQ(port_dct().Match("COM1:"), 0);
  EXPECT_EQ(port_dct().Match("COM10:"), 9);
  EXPECT_EQ(port_dct().Match("COM32:"), 31);
  EXPECT_EQ(port_dct().Match("None"), -1);  // port 0
  // COM4: to COM9: compare four characters, COM1: to COM3: five.
  EXPECT_EQ(port_dct().Match("COM4"), 3);
  EXPECT_EQ(port_dct().Match("COM9"), 8);
  EXPECT_EQ(port_dct().Match("COM3"), kNoMatch);
  EXPECT_EQ(port_dct().Match("COM1"), kNoMatch);
}

TEST(CodeTableMatching, StopsAtTheEndMarkerSoUndefinedIsNotAPort) {
  EXPECT_EQ(port_dct().Match("UNDEFINED"), kNoMatch);
  EXPECT_EQ(port_dct().Match("COM33:"), kNoMatch);
}

TEST(CodeTableMatching, GivesUpAfter255Entries) {
  std::vector<std::string> texts;
  std::vector<CDictionary::Entry> entries;
  for (int i = 0; i < 300; ++i) texts.push_back("T" + std::to_string(i));
  for (int i = 0; i < 300; ++i) entries.push_back({4, texts[static_cast<std::size_t>(i)].c_str(), i});
  const CDictionary table("long", entries);
  EXPECT_EQ(table.Match("T254"), 254);
  EXPECT_EQ(table.Match("T255"), kNoMatch);
}

TEST(CodeTableConversions, CodesPositionsAndTexts) {
  const CDictionary& table = VRT_Data_Type_dct();
  EXPECT_EQ(table.IndexOfCode(2), 0);  // Unsigned first
  EXPECT_EQ(table.IndexOfCode(4), 2);
  EXPECT_EQ(table.IndexOfCode(3), table.EndIndex());  // float: no entry
  EXPECT_EQ(table.EndIndex(), 3);
  EXPECT_EQ(table.CodeAt(1), 1);
  EXPECT_EQ(table.CodeAt(table.EndIndex()), kStopCode);
  EXPECT_EQ(static_cast<std::uint16_t>(table.CodeAt(table.EndIndex())), kNoMatch);
  EXPECT_STREQ(table.TextOf(4), "Digital");
  EXPECT_EQ(table.TextOf(7), nullptr);
  EXPECT_EQ(table.TextOrUndefined(7), "UNDEFINED");
}

TEST(CodeTableConversions, PortTableShowsNoneForPortZeroAndNothingPastItsEnd) {
  EXPECT_STREQ(port_dct().TextOf(-1), "None");
  EXPECT_STREQ(port_dct().TextOf(24), "COM25:");
  EXPECT_EQ(port_dct().TextOf(255), nullptr);
  EXPECT_EQ(port_dct().TextOf(-2), nullptr);
  EXPECT_EQ(port_dct().EndIndex(), 33);
}

TEST(CodeTableConversions, ComboItemsListEveryTextWithItsCodeInOrder) {
  const auto items = handshake_dct().ComboItems();
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].first, "None");
  EXPECT_EQ(items[5].first, "RTS T CTS+CD");
  EXPECT_EQ(items[5].second, 148);
  EXPECT_EQ(VRT_Hardware_Type_dct().ComboItems().front().first, "EVR420");
  EXPECT_EQ(handshake_dct().ComboTexts().size(), items.size());
  EXPECT_EQ(handshake_dct().ComboTexts().front(), items.front().first);
  EXPECT_EQ(handshake_dct().ComboPosition(items.back().second), static_cast<int>(items.size()) - 1);
  EXPECT_EQ(handshake_dct().ComboPosition(kNoMatch), -1);
}

}  // namespace
}  // namespace vrt::editor
