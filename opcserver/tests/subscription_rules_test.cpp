// The rules behind subscriptions, browsing, properties and DA 1.0 streams.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "browse.h"
#include "change_test.h"
#include "da1_stream.h"
#include "item_properties.h"

namespace vrt::opc {
namespace {

ComparableValue Number(float value) { return {4, L"", false, value}; }

TEST(ChangeTest, DeadbandTypesQualitiesAndStatuses) {
  // Deadband 10 % of a span of 100: 9.9 is no change, 10.0 is one.
  EXPECT_FALSE(ValuesDiffer(Number(50.0f), Number(59.9f), 10.0f, 100.0f));
  EXPECT_TRUE(ValuesDiffer(Number(50.0f), Number(60.0f), 10.0f, 100.0f));
  EXPECT_TRUE(ValuesDiffer(Number(50.0f), Number(40.0f), 10.0f, 100.0f));
  // Without a deadband any difference counts.
  EXPECT_TRUE(ValuesDiffer(Number(50.0f), Number(50.0001f), 0.0f, 100.0f));
  EXPECT_FALSE(ValuesDiffer(Number(50.0f), Number(50.0f), 0.0f, 100.0f));
  // Texts exactly, booleans by truth, whatever the deadband.
  EXPECT_TRUE(ValuesDiffer({8, L"PUMP", false, 0}, {8, L"Pump", false, 0}, 50.0f, 100.0f));
  EXPECT_FALSE(ValuesDiffer({8, L"PUMP", false, 0}, {8, L"PUMP", false, 7}, 0.0f, 100.0f));
  EXPECT_TRUE(ValuesDiffer({11, L"", false, 0}, {11, L"", true, 0}, 90.0f, 100.0f));

  ChangeCheck check;
  check.hasValue = true;
  check.before = Number(5.0f);
  check.after = Number(5.0f);
  check.qualityBefore = check.qualityAfter = 192;
  EXPECT_FALSE(ItemChanged(check));
  ChangeCheck quality = check;
  quality.qualityAfter = 24;  // the same value, now BAD
  EXPECT_TRUE(ItemChanged(quality));
  ChangeCheck status = check;
  status.statusAfter = 510;
  EXPECT_TRUE(ItemChanged(status));
  ChangeCheck first = check;
  first.hasValue = false;
  EXPECT_TRUE(ItemChanged(first));
  ChangeCheck pending = check;
  pending.pendingChanges = true;
  EXPECT_TRUE(ItemChanged(pending));
  ChangeCheck type = check;
  type.after.type = 5;
  EXPECT_TRUE(ItemChanged(type));
}

TEST(BrowseFilters, ModesAndNamesShorterThanThePattern) {
  const std::vector<std::wstring> names = {L"PUMPS", L"Pump house", L"VALVES", L"P", L"StandbyPump"};
  auto matching = [&](const wchar_t* criteria) {
    std::vector<std::wstring> found;
    BrowseFilter filter(criteria);
    for (const auto& name : names) {
      if (filter.Matches(name)) found.push_back(name);
    }
    return found;
  };
  EXPECT_EQ(matching(L""), names);
  EXPECT_EQ(matching(L"*"), names);
  EXPECT_EQ(matching(L"*Pump*"), (std::vector<std::wstring>{L"Pump house", L"StandbyPump"}));
  EXPECT_EQ(matching(L"P*"), (std::vector<std::wstring>{L"PUMPS", L"Pump house", L"P"}));
  EXPECT_EQ(matching(L"*S"), (std::vector<std::wstring>{L"PUMPS", L"VALVES"}));
  EXPECT_EQ(matching(L"VALVES"), (std::vector<std::wstring>{L"VALVES"}));
  EXPECT_EQ(matching(L"Pu*se"), names);  // a star between two texts takes every name
  EXPECT_EQ(matching(L"*LongerThanAnyName*"), std::vector<std::wstring>{});
  EXPECT_EQ(matching(L"PUMPSX"), std::vector<std::wstring>{});
  EXPECT_EQ(BrowseFilter(L"*a*b*").Mode(), FilterMode::kAll);

  EXPECT_TRUE(BrowseTypeAccepted(0));
  EXPECT_TRUE(BrowseTypeAccepted(11));
  EXPECT_FALSE(BrowseTypeAccepted(5));  // VT_R8
}

TEST(BrowseFilters, ItemIdsOfBrowsedNames) {
  EXPECT_EQ(BrowsedItemId(true, L"D1", L"PR1 - Pump inputs"), L"D1:PR1");
  EXPECT_EQ(BrowsedItemId(true, L"PUMPS", L"DIT:0 - 7"), L"PUMPS:DIT:0");
  EXPECT_EQ(BrowsedItemId(true, L"PUMPS", L""), L"PUMPS");
  EXPECT_EQ(BrowsedItemId(false, L"", L"  PUMPS:DIT:5 - x "), L"PUMPS:DIT:5 - x");
  EXPECT_EQ(BrowsedItemId(true, L" D1", L"R "), L"D1:R");
}

TEST(BrowseFilters, PagesStopAtTheLimitAndSayWhetherMoreIsLeft) {
  const auto page = [](std::size_t total, std::size_t start, std::uint32_t limit) {
    const BrowsePage p = PageOf(total, start, limit);
    return std::vector<std::size_t>{p.begin, p.end, p.more ? 1u : 0u};
  };
  EXPECT_EQ(page(10, 0, 0), (std::vector<std::size_t>{0, 10, 0}));  // no limit
  EXPECT_EQ(page(10, 0, 9), (std::vector<std::size_t>{0, 9, 1}));
  EXPECT_EQ(page(10, 0, 10), (std::vector<std::size_t>{0, 10, 0}));  // exactly all: nothing left
  EXPECT_EQ(page(10, 0, 11), (std::vector<std::size_t>{0, 10, 0}));
  EXPECT_EQ(page(10, 9, 1), (std::vector<std::size_t>{9, 10, 0}));
  EXPECT_EQ(page(10, 8, 1), (std::vector<std::size_t>{8, 9, 1}));
  EXPECT_EQ(page(10, 12, 5), (std::vector<std::size_t>{10, 10, 0}));  // past the end: empty
  EXPECT_EQ(page(0, 0, 0), (std::vector<std::size_t>{0, 0, 0}));
}

TEST(BrowseFilters, AContinuationPointIsGoodOnceForItsOwnBrowseOfAnUnchangedListing) {
  BrowseContinuations points(7);
  const BrowseContinuations::Browse browse{L"PUMPS", 1, L"DIT*", L""};
  const std::uint64_t listing = ListingFingerprint({L"DIT:0 - 8", L"DIT:100 - 104"});
  const std::wstring first = points.Issue(browse, 5, listing);
  const std::wstring second = points.Issue(browse, 9, listing);
  EXPECT_NE(first, second);
  EXPECT_EQ(points.Take(second, browse, listing), std::optional<std::size_t>(9));
  EXPECT_EQ(points.Take(second, browse, listing), std::nullopt);  // used up
  // Another branch, filter, name filter or vendor filter: refused, and gone.
  for (const BrowseContinuations::Browse& other : {BrowseContinuations::Browse{L"VALVES", 1, L"DIT*", L""},
                                                   BrowseContinuations::Browse{L"PUMPS", 3, L"DIT*", L""},
                                                   BrowseContinuations::Browse{L"PUMPS", 1, L"", L""},
                                                   BrowseContinuations::Browse{L"PUMPS", 1, L"DIT*", L"x"}}) {
    const std::wstring point = points.Issue(browse, 1, listing);
    EXPECT_EQ(points.Take(point, other, listing), std::nullopt);
    EXPECT_EQ(points.Take(point, browse, listing), std::nullopt);
  }
  // The listing changed since: refused.
  EXPECT_NE(ListingFingerprint({L"DIT:0 - 8"}), listing);
  EXPECT_NE(ListingFingerprint({L"DIT:0 - 8", L"DIT:100 - 10"}), ListingFingerprint({L"DIT:0 - 8", L"DIT:100 - 1", L"0"}));
  EXPECT_EQ(points.Take(first, browse, ListingFingerprint({L"DIT:0 - 8"})), std::nullopt);
  // Another server's, a made-up one, and the oldest beyond what is kept.
  BrowseContinuations other(8);
  const std::wstring foreign = other.Issue(browse, 5, listing);
  EXPECT_EQ(points.Take(foreign, browse, listing), std::nullopt);
  EXPECT_EQ(points.Take(L"VRT-7-999-5", browse, listing), std::nullopt);
  const std::wstring oldest = points.Issue(browse, 3, listing);
  for (std::size_t k = 0; k < BrowseContinuations::kKept; ++k) points.Issue(browse, 4, listing);
  EXPECT_EQ(points.Take(oldest, browse, listing), std::nullopt);
}

TEST(ItemProperties, TablesByKind) {
  ASSERT_EQ(PropertiesOf(1).size(), 11u);
  ASSERT_EQ(PropertiesOf(2).size(), 8u);
  ASSERT_EQ(PropertiesOf(3).size(), 8u);
  EXPECT_TRUE(PropertiesOf(5).empty());
  EXPECT_STREQ(PropertiesOf(1)[9].description, "Signal Conditioning");
  EXPECT_EQ(PropertiesOf(1)[9].id, 5000u);
  EXPECT_STREQ(PropertiesOf(3)[1].name, ".A_CV");
  EXPECT_STREQ(PropertiesOf(3)[7].name, "F_LEN");
  EXPECT_EQ(PropertiesOf(2)[6].id, 106u);
  EXPECT_TRUE(PropertyListed(1, 100));
  EXPECT_FALSE(PropertyListed(2, 100));   // digital items have no units
  EXPECT_FALSE(PropertyListed(1, 106));   // nor analog ones labels
  EXPECT_FALSE(PropertyListed(3, 107));
}

std::uint32_t Word(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

TEST(Da1Streams, HeadersOffsetsTextsAndWriteCompletes) {
  for (std::size_t variantSize : {std::size_t{16}, std::size_t{24}}) {
    StreamItem number;
    number.clientHandle = 7;
    number.quality = 192;
    number.timeStamp = 0x0102030405060708ull;
    number.variant.assign(variantSize, 0xAB);
    StreamItem text;
    text.clientHandle = 8;
    text.quality = 24;
    text.variant.assign(variantSize, 0xCD);
    text.hasText = true;
    text.text = u"PUMPS";
    // A text of 5 characters takes the VARIANT, 4 bytes of length and 10 of text.
    EXPECT_EQ(ValueSize(text, variantSize), variantSize + 14);
    if (variantSize == 16) {
      EXPECT_EQ(ValueSize(text, variantSize), 30u);
    }

    const auto timed = BuildDataStream({3, 0}, {number, text}, true, variantSize);
    const std::size_t firstValue = kGroupHeaderSize + 2 * kItemHeaderWithTimeSize;
    ASSERT_EQ(timed.size(), firstValue + variantSize + variantSize + 14);
    EXPECT_EQ(Word(timed, 0), timed.size());
    EXPECT_EQ(Word(timed, 4), 2u);
    EXPECT_EQ(Word(timed, 8), 3u);
    EXPECT_EQ(Word(timed, 12), 0u);
    EXPECT_EQ(Word(timed, 16), 0u);
    EXPECT_EQ(Word(timed, 20), 7u);
    EXPECT_EQ(Word(timed, 24), firstValue);
    EXPECT_EQ(timed[28], 192);
    EXPECT_EQ(Word(timed, 32), 0x05060708u);
    EXPECT_EQ(Word(timed, 36), 0x01020304u);
    EXPECT_EQ(Word(timed, 44), firstValue + variantSize);
    EXPECT_EQ(timed[firstValue], 0xAB);
    const std::size_t textAt = firstValue + 2 * variantSize;
    EXPECT_EQ(Word(timed, textAt), 10u);
    EXPECT_EQ(timed[textAt + 4], 'P');
    EXPECT_EQ(timed[textAt + 5], 0);
    EXPECT_EQ(timed[textAt + 12], 'S');

    const auto plain = BuildDataStream({3, 42}, {number}, false, variantSize);
    ASSERT_EQ(plain.size(), kGroupHeaderSize + kItemHeaderSize + variantSize);
    EXPECT_EQ(Word(plain, 12), 42u);
    EXPECT_EQ(Word(plain, 24), kGroupHeaderSize + kItemHeaderSize);
  }

  const auto written = BuildWriteCompleteStream({9, 77}, {{1, 0}, {2, 0x80004005}});
  ASSERT_EQ(written.size(), kWriteGroupHeaderSize + 2 * kWriteItemHeaderSize);
  EXPECT_EQ(Word(written, 0), 2u);
  EXPECT_EQ(Word(written, 4), 9u);
  EXPECT_EQ(Word(written, 8), 77u);
  EXPECT_EQ(Word(written, 12), 0u);
  EXPECT_EQ(Word(written, 16), 1u);
  EXPECT_EQ(Word(written, 28), 0x80004005u);  // the real result, not S_OK
}

}  // namespace
}  // namespace vrt::opc
