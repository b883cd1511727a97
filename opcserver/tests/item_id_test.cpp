// Item IDs parsed over the NIO library's real parsers and a small plant.
#include <gtest/gtest.h>

#include "item_id.h"
#include "nio_test_plant.h"

namespace vrt::opc {
namespace {

using testing::Plant;

class ItemIds : public Plant, public ItemParseHost {
 protected:
  std::uint16_t ParseAddress(NioBlock* block, NioValueSpec* valueSpec, const char* text) override {
    ++addressCalls;
    std::uint16_t status = 0xEEEE;
    vrt::nio_paddr(client.mapping, &status, block, valueSpec, text);
    return status;
  }
  std::uint16_t ParseSignalConditioning(NioBlock* block, NioValueSpec* valueSpec, const char* name) override {
    // The library's dictionary takes any name (unknown ones read raw), so
    // a refusal is only seen from a library that has a stricter one.
    if (refuseSignals) return NIO_SIGNAL_NAME_REJECTED;
    std::uint16_t status = 0xEEEE;
    vrt::nio_psig(&status, block, valueSpec, name);
    return status;
  }
  std::uint16_t ParseHardwareOptions(NioBlock* block, NioValueSpec* valueSpec, const char* text) override {
    ++optionCalls;
    if (refuseOptions) return NIO_ADDRESS_ERROR;
    std::uint16_t status = 0xEEEE;
    vrt::nio_popt(&status, block, valueSpec, text);
    return status;
  }
  void SendMessage(int attribute, const std::string& text) override {
    messages.push_back(std::to_string(attribute) + " " + text);
  }

  std::uint32_t Parse(const std::string& id, bool reportMessages = true) {
    item = ParsedItem();
    return ParseItemId(id, settings, *this, reportMessages, item);
  }
  std::string Signal() {
    char text[NIO_SIGNAL_NAME_SIZE] = {};
    std::uint16_t status = 0;
    vrt::nio_dsig(&status, &item.point.block, &item.point.valueSpec, text, sizeof text);
    return text;
  }

  OpcSettings settings;
  ParsedItem item;
  int addressCalls = 0;
  int optionCalls = 0;
  bool refuseSignals = false;
  bool refuseOptions = false;
  std::vector<std::string> messages;
};

TEST_F(ItemIds, AnalogDigitalAndTextItemsTakeTheirFieldsAndDefaults) {
  ASSERT_EQ(Parse("PUMP1:DIT:120|LIN,0.00,100,,degC"), kOk);
  EXPECT_EQ(item.point.valueSpec.valueKind, NIO_KIND_ANALOG);
  EXPECT_EQ(item.canonicalType, kTypeR4);
  EXPECT_EQ(Signal(), "LIN");
  EXPECT_FLOAT_EQ(item.point.valueSpec.eguLow, 0.0f);
  EXPECT_FLOAT_EQ(item.point.valueSpec.eguSpan, 100.0f);
  EXPECT_EQ(item.point.valueSpec.decimals, 2);
  EXPECT_EQ(item.units, "degC");
  EXPECT_EQ(item.stringLength, 1);

  // No fields: every default, "0.0" giving one decimal.
  ASSERT_EQ(Parse("PUMP1:DIT:120"), kOk);
  EXPECT_EQ(Signal(), "NONE");
  EXPECT_FLOAT_EQ(item.point.valueSpec.eguLow, 0.0f);
  EXPECT_FLOAT_EQ(item.point.valueSpec.eguSpan, 65535.0f);
  EXPECT_EQ(item.point.valueSpec.decimals, 1);
  EXPECT_EQ(item.units, "");

  // An empty conditioning field takes the default; the low and high as written.
  ASSERT_EQ(Parse("PUMP1:DIT:120|,0.00,100"), kOk);
  EXPECT_EQ(Signal(), "NONE");
  EXPECT_FLOAT_EQ(item.point.valueSpec.eguSpan, 100.0f);
  EXPECT_EQ(item.point.valueSpec.decimals, 2);

  // Low given with 3 decimals and high as written; negative low widens the span.
  ASSERT_EQ(Parse("PUMP1:DIT:121|NONE,-50.125,50"), kOk);
  EXPECT_FLOAT_EQ(item.point.valueSpec.eguLow, -50.125f);
  EXPECT_FLOAT_EQ(item.point.valueSpec.eguSpan, 100.125f);
  EXPECT_EQ(item.point.valueSpec.decimals, 3);

  ASSERT_EQ(Parse("PUMP1:DIT:120:7"), kOk);
  EXPECT_EQ(item.point.valueSpec.valueKind, NIO_KIND_DIGITAL);
  EXPECT_EQ(item.canonicalType, kTypeBool);
  EXPECT_EQ(item.openLabel, "OFF");
  EXPECT_EQ(item.closeLabel, "ON");

  ASSERT_EQ(Parse("PUMP1:DIT:120$16"), kOk);
  EXPECT_EQ(item.point.valueSpec.valueKind, NIO_KIND_TEXT);
  EXPECT_EQ(item.canonicalType, kTypeBstr);
  EXPECT_EQ(item.stringLength, 16);
  EXPECT_TRUE(messages.empty());
}

TEST_F(ItemIds, DigitalLabelsComeFromTheFieldsOrTheEguDefaults) {
  ASSERT_EQ(Parse("PUMP1:DIT:120:3|NONE,Open,Closed"), kOk);
  EXPECT_EQ(item.openLabel, "Open");
  EXPECT_EQ(item.closeLabel, "Closed");
  // One field: the labels are the LoEGU and HiEGU defaults, not OFF/ON.
  ASSERT_EQ(Parse("PUMP1:DIT:120:3|NONE"), kOk);
  EXPECT_EQ(item.openLabel, "0.0");
  EXPECT_EQ(item.closeLabel, "65535.0");
  settings.loEgu = "Stopped";
  ASSERT_EQ(Parse("PUMP1:DIT:120:3|NONE"), kOk);
  EXPECT_EQ(item.openLabel, "Stopped");
  // Labels are cut to 7 characters, units to 4.
  ASSERT_EQ(Parse("PUMP1:DIT:120:3|NONE,Disengaged,Engaged!!"), kOk);
  EXPECT_EQ(item.openLabel, "Disenga");
  EXPECT_EQ(item.closeLabel, "Engaged");
  ASSERT_EQ(Parse("PUMP1:DIT:120|NONE,0,10,,kg/hour"), kOk);
  EXPECT_EQ(item.units, "kg/h");
}

TEST_F(ItemIds, FieldsFillTheirColumnsOneToFive) {
  struct Case {
    const char* fields;
    ConditioningFields expected;
  };
  const Case cases[] = {
      {"", {"NONE", "0.0", "65535.0", "", ""}},
      {"LIN", {"LIN", "0.0", "65535.0", "", ""}},
      {"LIN,", {"LIN", "", "65535.0", "", ""}},  // the last field as written, even empty
      {",5", {"NONE", "5", "65535.0", "", ""}},
      {"LIN,,", {"LIN", "0.0", "", "", ""}},
      {"LIN,1,2,", {"LIN", "1", "2", "", ""}},  // options keep their default
      {"LIN,1,2,0:100", {"LIN", "1", "2", "0:100", ""}},
      {",,,,m3/h, net", {"NONE", "0.0", "65535.0", "", "m3/h, net"}},
  };
  for (const Case& c : cases) {
    const ConditioningFields filled = FillConditioningFields(c.fields, false, settings);
    EXPECT_EQ(filled.signalConditioning, c.expected.signalConditioning) << c.fields;
    EXPECT_EQ(filled.loEgu, c.expected.loEgu) << c.fields;
    EXPECT_EQ(filled.hiEgu, c.expected.hiEgu) << c.fields;
    EXPECT_EQ(filled.hardwareOptions, c.expected.hardwareOptions) << c.fields;
    EXPECT_EQ(filled.units, c.expected.units) << c.fields;
  }
  // Only without any field does a digital item get OFF and ON.
  EXPECT_EQ(FillConditioningFields("", true, settings).loEgu, "OFF");
  EXPECT_EQ(FillConditioningFields("NONE", true, settings).loEgu, "0.0");
}

TEST_F(ItemIds, TextLengthsUpTo256AreAccepted) {
  ASSERT_EQ(Parse("PUMP1:DIT:120$256"), kOk);
  EXPECT_EQ(item.stringLength, 256);
  EXPECT_EQ(Parse("PUMP1:DIT:120$300"), kInvalidItemId);
  EXPECT_EQ(Parse("PUMP1:DIT:120$99999999999999999999"), kInvalidItemId);
  // Without a length the setting; a length field without digits is 0;
  // anything after the "," is ignored.
  ASSERT_EQ(Parse("PUMP1:DIT:120$"), kOk);
  EXPECT_EQ(item.stringLength, 20);
  ASSERT_EQ(Parse("PUMP1:DIT:120$abc"), kOk);
  EXPECT_EQ(item.stringLength, 0);
  ASSERT_EQ(Parse("PUMP1:DIT:120$12x,999"), kOk);
  EXPECT_EQ(item.stringLength, 12);
}

TEST_F(ItemIds, TheAddressIsUpperCasedTrimmedAndSplitAtTheFirstSeparator) {
  ASSERT_EQ(Parse("  pump1:dit:120|lin,0,1,,degC  "), kOk);
  EXPECT_EQ(Signal(), "LIN");
  EXPECT_EQ(item.units, "degC");  // fields keep their case
  // A separator in the first position leaves the whole ID as the address.
  EXPECT_EQ(SplitItemId("|PUMP1:DIT:120").address, "|PUMP1:DIT:120");
  EXPECT_EQ(SplitItemId("$PUMP1:DIT:120").address, "$PUMP1:DIT:120");
  EXPECT_FALSE(SplitItemId("$PUMP1").textSeparator);
  EXPECT_EQ(Parse("|PUMP1:DIT:120"), kInvalidItemId);
  const ItemIdParts parts = SplitItemId("A:DIT:1$5|x");
  EXPECT_EQ(parts.address, "A:DIT:1");
  EXPECT_EQ(parts.fields, "5|x");
  EXPECT_TRUE(parts.textSeparator);
  // Blanks only: an empty address, refused by the library.
  EXPECT_EQ(Parse("     "), kInvalidItemId);
}

TEST_F(ItemIds, RefusalsAndTheirMessages) {
  EXPECT_EQ(Parse("NOSUCH:DIT:1"), kInvalidItemId);
  EXPECT_EQ(Parse("PUMP1:DIT:999"), kInvalidItemId);
  EXPECT_TRUE(messages.empty());  // an address the library refuses sends nothing

  // Hardware options go to the library only when there are any.
  ASSERT_EQ(Parse("PUMP1:DIT:120|LIN,0,1"), kOk);
  EXPECT_EQ(optionCalls, 0);
  settings.hardwareOptions = "0:4095";
  ASSERT_EQ(Parse("PUMP1:DIT:120|LIN,0,1"), kOk);
  EXPECT_EQ(optionCalls, 1);

  refuseSignals = true;
  EXPECT_EQ(Parse("PUMP1:DIT:120|bogus"), kInvalidItemId);
  refuseSignals = false;
  refuseOptions = true;
  EXPECT_EQ(Parse("PUMP1:DIT:120|NONE,0,1,12:x:y"), kInvalidItemId);
  EXPECT_EQ(Parse("PUMP1:DIT:120:1|NONE,0,1,7"), kInvalidItemId);  // digital items too
  EXPECT_EQ(Parse("PUMP1:DIT:120$8,NONE,0,1,7"), kOk);            // text items have none
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "3 OPC: Invalid signal conditioning passed to nio_psig() (BOGUS)");
  EXPECT_EQ(messages[1], "3 OPC DLL: Invalid hardware options passed to nio_popt() (12:x:y)");
  EXPECT_EQ(messages[2], "3 OPC DLL: Invalid hardware options passed to nio_popt() (7)");

  // Temporary items report nothing.
  refuseSignals = true;
  EXPECT_EQ(Parse("PUMP1:DIT:120|bogus", false), kInvalidItemId);
  EXPECT_EQ(messages.size(), 3u);
}

TEST(ItemIdLengths, FourToSixtyFourCharactersAreAccepted) {
  EXPECT_FALSE(ItemIdLengthAccepted(3));
  EXPECT_TRUE(ItemIdLengthAccepted(4));
  EXPECT_TRUE(ItemIdLengthAccepted(64));
  EXPECT_FALSE(ItemIdLengthAccepted(65));
  EXPECT_EQ(DecimalsOf("12"), 0);
  EXPECT_EQ(DecimalsOf("1.2.3"), 3);
  EXPECT_FLOAT_EQ(EguNumber("abc"), 0.0f);
  EXPECT_FLOAT_EQ(EguNumber("12.5kg"), 12.5f);
}

}  // namespace
}  // namespace vrt::opc
