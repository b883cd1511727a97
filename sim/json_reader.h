// A small, strict JSON reader (RFC 8259) for the simulator's network file.
// It accepts exactly the JSON grammar: no comments, no trailing commas, no
// single quotes, no duplicate member names, strings of valid UTF-8 only.
// Every value remembers where it starts so that later checks of the network
// description can point at the line and column of the offending value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vrt::sim {

struct JsonPosition {
  int line = 1;    // 1-based
  int column = 1;  // 1-based, counted in characters (not bytes)
};

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  // Defined where the class is complete: `members` holds JsonValue inside
  // std::pair, which clang with libstdc++ needs complete before these are
  // formed.
  JsonValue();
  JsonValue(const JsonValue&);
  JsonValue(JsonValue&&) noexcept;
  JsonValue& operator=(const JsonValue&);
  JsonValue& operator=(JsonValue&&) noexcept;
  ~JsonValue();

  Kind kind = Kind::kNull;
  JsonPosition position;

  bool boolean = false;
  // Numbers: `number` always; `isInteger` when the literal has no fraction or
  // exponent and fits in 64 bits, and then `integer` holds it exactly.
  double number = 0;
  bool isInteger = false;
  std::int64_t integer = 0;
  std::string text;                                         // kString (UTF-8)
  std::vector<JsonValue> items;                             // kArray
  std::vector<std::pair<std::string, JsonValue>> members;   // kObject, in file order

  bool IsNull() const { return kind == Kind::kNull; }
  bool IsObject() const { return kind == Kind::kObject; }
  bool IsArray() const { return kind == Kind::kArray; }
  bool IsString() const { return kind == Kind::kString; }
  bool IsNumber() const { return kind == Kind::kNumber; }

  // The member of that name, or null (also when this is not an object).
  const JsonValue* Find(std::string_view name) const;
};

// The name of a kind for messages: "an object", "a string", ...
const char* JsonKindName(JsonValue::Kind kind);

struct JsonError {
  JsonPosition position;
  std::string message;
  // "line L, column C: message"
  std::string ToString() const;
};

// Deepest nesting of arrays and objects accepted; deeper input is refused
// rather than risking the stack.
inline constexpr int kJsonMaxDepth = 64;

// Most values (of any kind, nested ones included) one text may hold; a
// larger file is refused instead of building a tree that eats the memory.
inline constexpr std::size_t kJsonMaxValues = 1000000;

// Parses one JSON text (a leading UTF-8 byte order mark is skipped). On
// failure `error` holds the position and a description and `value` is left
// unspecified. `maxValues` bounds the values of the text.
bool ParseJson(std::string_view text, JsonValue* value, JsonError* error, std::size_t maxValues = kJsonMaxValues);

}  // namespace vrt::sim
