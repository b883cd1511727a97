// The strict JSON reader: what it accepts, what it refuses and where it says
// the fault is.
#include <gtest/gtest.h>

#include <string>

#include "json_reader.h"

namespace vrt::sim {
namespace {

JsonValue MustParse(std::string_view text) {
  JsonValue value;
  JsonError error;
  EXPECT_TRUE(ParseJson(text, &value, &error)) << error.ToString() << "\nin: " << text;
  return value;
}

TEST(JsonReader, ReadsEveryKindOfValue) {
  const JsonValue root = MustParse(R"({"a": [1, -2, 3.5, 1e3, true, false, null, "x"], "b": {}, "c": []})");
  ASSERT_TRUE(root.IsObject());
  ASSERT_EQ(root.members.size(), 3u);
  const JsonValue& a = *root.Find("a");
  ASSERT_EQ(a.items.size(), 8u);
  EXPECT_TRUE(a.items[0].isInteger);
  EXPECT_EQ(a.items[0].integer, 1);
  EXPECT_EQ(a.items[1].integer, -2);
  EXPECT_FALSE(a.items[2].isInteger);
  EXPECT_DOUBLE_EQ(a.items[2].number, 3.5);
  EXPECT_FALSE(a.items[3].isInteger);  // an exponent makes it no integer literal
  EXPECT_DOUBLE_EQ(a.items[3].number, 1000);
  EXPECT_EQ(a.items[4].kind, JsonValue::Kind::kBool);
  EXPECT_TRUE(a.items[4].boolean);
  EXPECT_FALSE(a.items[5].boolean);
  EXPECT_TRUE(a.items[6].IsNull());
  EXPECT_EQ(a.items[7].text, "x");
  EXPECT_TRUE(root.Find("b")->IsObject());
  EXPECT_TRUE(root.Find("c")->IsArray());
  EXPECT_EQ(root.Find("d"), nullptr);
}

TEST(JsonReader, KeepsMembersInFileOrder) {
  const JsonValue root = MustParse(R"({"z": 1, "a": 2, "m": 3})");
  ASSERT_EQ(root.members.size(), 3u);
  EXPECT_EQ(root.members[0].first, "z");
  EXPECT_EQ(root.members[1].first, "a");
  EXPECT_EQ(root.members[2].first, "m");
}

TEST(JsonReader, IntegersBeyond64BitsAreNumbersButNotIntegers) {
  const JsonValue root = MustParse("[9223372036854775807, -9223372036854775808, 9223372036854775808]");
  EXPECT_TRUE(root.items[0].isInteger);
  EXPECT_EQ(root.items[0].integer, INT64_MAX);
  EXPECT_TRUE(root.items[1].isInteger);
  EXPECT_EQ(root.items[1].integer, INT64_MIN);
  EXPECT_FALSE(root.items[2].isInteger);
  EXPECT_GT(root.items[2].number, 9.2e18);
}

TEST(JsonReader, DecodesEscapesIntoUtf8) {
  const JsonValue root = MustParse(R"(["a\"b\\c\/d\b\f\n\r\t", "\u00e9\u20AC", "\ud83d\ude00", "é€"])");
  EXPECT_EQ(root.items[0].text, "a\"b\\c/d\b\f\n\r\t");
  EXPECT_EQ(root.items[1].text, "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(root.items[2].text, "\xF0\x9F\x98\x80");
  EXPECT_EQ(root.items[3].text, "\xC3\xA9\xE2\x82\xAC");
}

TEST(JsonReader, SkipsAByteOrderMarkAndSurroundingWhitespace) {
  const JsonValue root = MustParse("\xEF\xBB\xBF \r\n\t{\"a\" : 1 }\n\n");
  EXPECT_EQ(root.Find("a")->integer, 1);
}

TEST(JsonReader, ValuesKnowTheirLineAndColumn) {
  const JsonValue root = MustParse("{\n  \"a\": 1,\n  \"\xC3\xA9\xC3\xA9\": [true,\n\t\"x\"]\n}");
  EXPECT_EQ(root.position.line, 1);
  EXPECT_EQ(root.position.column, 1);
  const JsonValue& a = *root.Find("a");
  EXPECT_EQ(a.position.line, 2);
  EXPECT_EQ(a.position.column, 8);
  // Columns count characters: the two-byte letters in the name count once each.
  const JsonValue& array = root.members[1].second;
  EXPECT_EQ(array.position.line, 3);
  EXPECT_EQ(array.position.column, 9);
  EXPECT_EQ(array.items[1].position.line, 4);
  EXPECT_EQ(array.items[1].position.column, 2);
}

TEST(JsonReader, AcceptsNestingToTheLimit) {
  const std::string deep = std::string(kJsonMaxDepth, '[') + std::string(kJsonMaxDepth, ']');
  MustParse(deep);
}

struct BadCase {
  const char* text;
  int line;
  int column;
  const char* message;  // a part of the message
};

class JsonReaderRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(JsonReaderRefuses, WithPositionAndReason) {
  const BadCase& bad = GetParam();
  JsonValue value;
  JsonError error;
  ASSERT_FALSE(ParseJson(bad.text, &value, &error)) << bad.text;
  EXPECT_EQ(error.position.line, bad.line) << error.ToString();
  EXPECT_EQ(error.position.column, bad.column) << error.ToString();
  EXPECT_NE(error.message.find(bad.message), std::string::npos) << error.ToString();
  EXPECT_EQ(error.ToString().rfind("line " + std::to_string(bad.line) + ", column " + std::to_string(bad.column) + ": ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, JsonReaderRefuses,
    ::testing::Values(
        BadCase{"", 1, 1, "holds no JSON value"},
        BadCase{"   \n  ", 2, 3, "holds no JSON value"},
        BadCase{"[1, 2,]", 1, 7, "trailing comma"},
        BadCase{"{\"a\": 1,\n}", 2, 1, "trailing comma"},
        BadCase{"[1 2]", 1, 4, "expected ',' or ']'"},
        BadCase{"{\"a\": 1 \"b\": 2}", 1, 9, "expected ',' or '}'"},
        BadCase{"{\"a\" 1}", 1, 6, "expected ':'"},
        BadCase{"{a: 1}", 1, 2, "member name in double quotes"},
        BadCase{"['x']", 1, 2, "double quotes"},
        BadCase{"[1] // note", 1, 5, "after the end"},
        BadCase{"// note\n[1]", 1, 1, "comments are not allowed"},
        BadCase{"[01]", 1, 2, "leading zeros"},
        BadCase{"[1.]", 1, 4, "digits after its decimal point"},
        BadCase{"[-]", 1, 3, "digit after '-'"},
        BadCase{"[1e]", 1, 4, "digits in its exponent"},
        BadCase{"[+1]", 1, 2, "expected a value"},
        BadCase{"[0x10]", 1, 3, "expected ',' or ']'"},
        BadCase{"[NaN]", 1, 2, "expected a value"},
        BadCase{"[1e999]", 1, 2, "out of range"},
        BadCase{"[tru]", 1, 2, "expected a value"},
        BadCase{"[truex]", 1, 2, "unknown word"},
        BadCase{"[nul]", 1, 2, "expected a value"},
        BadCase{"{\"a\": \"abc", 1, 7, "not closed"},
        BadCase{"[\"ab\ncd\"]", 1, 5, "not closed on its line"},
        BadCase{"[\"a\tb\"]", 1, 4, "control character"},
        BadCase{"[\"\\x\"]", 1, 3, "unknown escape"},
        BadCase{"[\"\\u12G4\"]", 1, 7, "four hexadecimal digits"},
        BadCase{"[\"\\ud800\"]", 1, 3, "lone high surrogate"},
        BadCase{"[\"\\ud800\\u0041\"]", 1, 3, "lone high surrogate"},
        BadCase{"[\"\\udc00\"]", 1, 3, "lone low surrogate"},
        BadCase{"[\"\xFF\"]", 1, 3, "not UTF-8"},
        BadCase{"[\"\xC0\xAF\"]", 1, 3, "not UTF-8"},        // overlong '/'
        BadCase{"[\"\xED\xA0\x80\"]", 1, 3, "not UTF-8"},    // an encoded surrogate
        BadCase{"[\"\xE2\x82\"]", 1, 3, "not UTF-8"},        // cut short
        BadCase{"{\"a\": 1, \"a\": 2}", 1, 10, "appears twice"},
        BadCase{"[1] [2]", 1, 5, "after the end"},
        BadCase{"[1, 2", 1, 1, "not closed"},
        BadCase{"{\"a\": [1, {\"b\": 2}", 1, 7, "not closed"}));

TEST(JsonReader, RefusesNestingBeyondTheLimitWithoutRecursingFurther) {
  const std::string deep = std::string(kJsonMaxDepth + 1, '[') + std::string(kJsonMaxDepth + 1, ']');
  JsonValue value;
  JsonError error;
  ASSERT_FALSE(ParseJson(deep, &value, &error));
  EXPECT_EQ(error.position.column, kJsonMaxDepth + 1);
  EXPECT_NE(error.message.find("nested more than 64 deep"), std::string::npos);

  // A hostile file of a million brackets is refused just the same.
  const std::string hostile(1000000, '[');
  EXPECT_FALSE(ParseJson(hostile, &value, &error));
}

TEST(JsonReader, ARepeatedNameIsFoundInALargeObject) {
  std::string text = "{";
  for (int i = 0; i < 20000; ++i) text += "\"m" + std::to_string(i) + "\": " + std::to_string(i) + ",";
  JsonValue value;
  JsonError error;
  ASSERT_TRUE(ParseJson(text.substr(0, text.size() - 1) + "}", &value, &error)) << error.ToString();
  EXPECT_EQ(value.members.size(), 20000u);
  EXPECT_EQ(value.members.back().second.integer, 19999);
  EXPECT_FALSE(ParseJson(text + "\"m17\": 0}", &value, &error));
  EXPECT_EQ(error.message, "the member \"m17\" appears twice");
}

TEST(JsonReader, RefusesMoreValuesThanTheLimit) {
  // Four values: the object, the array and its two numbers.
  JsonValue value;
  JsonError error;
  EXPECT_TRUE(ParseJson(R"({"a": [1, 2]})", &value, &error, 4)) << error.ToString();
  EXPECT_FALSE(ParseJson(R"({"a": [1, 2, 3]})", &value, &error, 4));
  EXPECT_EQ(error.message, "the file holds more than 4 values");
  EXPECT_EQ(error.position.column, 14);
}

TEST(JsonReader, EveryCutOfAGoodDocumentIsRefusedCleanly) {
  const std::string good = R"({"cards": [{"card": 0, "name": "\u00e9t\u00e9 \ud83d\ude00", "x": [1.5e2, -0, true, null]}]})";
  MustParse(good);
  for (std::size_t length = 0; length < good.size(); ++length) {
    JsonValue value;
    JsonError error;
    const std::string cut = good.substr(0, length);
    EXPECT_FALSE(ParseJson(cut, &value, &error)) << cut;
    EXPECT_GE(error.position.line, 1);
    EXPECT_LE(error.position.column, static_cast<int>(length) + 1) << cut;
    EXPECT_FALSE(error.message.empty());
  }
}

}  // namespace
}  // namespace vrt::sim
