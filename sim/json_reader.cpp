#include "json_reader.h"

#include <charconv>
#include <cstdio>
#include <unordered_set>

namespace vrt::sim {

JsonValue::JsonValue() = default;
JsonValue::JsonValue(const JsonValue&) = default;
JsonValue::JsonValue(JsonValue&&) noexcept = default;
JsonValue& JsonValue::operator=(const JsonValue&) = default;
JsonValue& JsonValue::operator=(JsonValue&&) noexcept = default;
JsonValue::~JsonValue() = default;

const JsonValue* JsonValue::Find(std::string_view name) const {
  if (kind != Kind::kObject) return nullptr;
  for (const auto& member : members) {
    if (member.first == name) return &member.second;
  }
  return nullptr;
}

const char* JsonKindName(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::kNull: return "null";
    case JsonValue::Kind::kBool: return "true or false";
    case JsonValue::Kind::kNumber: return "a number";
    case JsonValue::Kind::kString: return "a string";
    case JsonValue::Kind::kArray: return "an array";
    case JsonValue::Kind::kObject: return "an object";
  }
  return "a value";
}

std::string JsonError::ToString() const {
  return "line " + std::to_string(position.line) + ", column " + std::to_string(position.column) + ": " + message;
}

namespace {

class Parser {
 public:
  Parser(std::string_view text, std::size_t maxValues) : text_(text), maxValues_(maxValues) {}

  bool ParseDocument(JsonValue* value, JsonError* error) {
    error_ = error;
    if (text_.size() >= 3 && static_cast<unsigned char>(text_[0]) == 0xEF &&
        static_cast<unsigned char>(text_[1]) == 0xBB && static_cast<unsigned char>(text_[2]) == 0xBF) {
      at_ = 3;
    }
    SkipWhitespace();
    if (AtEnd()) return Fail("the file holds no JSON value");
    if (!ParseValue(value, 0)) return false;
    SkipWhitespace();
    if (!AtEnd()) return Fail("unexpected " + Describe() + " after the end of the JSON value");
    return true;
  }

 private:
  bool AtEnd() const { return at_ >= text_.size(); }
  unsigned char Peek() const { return static_cast<unsigned char>(text_[at_]); }

  // Moves one byte on, keeping line and column; UTF-8 continuation bytes do
  // not start a new column.
  void Advance() {
    const unsigned char c = Peek();
    ++at_;
    if (c == '\n') {
      ++position_.line;
      position_.column = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++position_.column;
    }
  }

  bool Fail(std::string message) { return FailAt(position_, std::move(message)); }
  bool FailAt(JsonPosition position, std::string message) {
    if (error_) {
      error_->position = position;
      error_->message = std::move(message);
    }
    return false;
  }

  // What stands at the current place, for messages.
  std::string Describe() const {
    if (AtEnd()) return "end of file";
    const unsigned char c = Peek();
    if (c >= 0x21 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
    char text[32];
    std::snprintf(text, sizeof text, "byte 0x%02X", c);
    return text;
  }

  void SkipWhitespace() {
    while (!AtEnd()) {
      const unsigned char c = Peek();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      Advance();
    }
  }

  bool ParseValue(JsonValue* value, int depth) {
    value->position = position_;
    if (AtEnd()) return Fail("expected a value, found end of file");
    if (++valueCount_ > maxValues_) {
      return Fail("the file holds more than " + std::to_string(maxValues_) + " values");
    }
    const unsigned char c = Peek();
    switch (c) {
      case '{': return ParseObject(value, depth + 1);
      case '[': return ParseArray(value, depth + 1);
      case '"':
        value->kind = JsonValue::Kind::kString;
        return ParseString(&value->text);
      case 't': return ParseLiteral("true", value, JsonValue::Kind::kBool, true);
      case 'f': return ParseLiteral("false", value, JsonValue::Kind::kBool, false);
      case 'n': return ParseLiteral("null", value, JsonValue::Kind::kNull, false);
      default:
        if (c == '-' || (c >= '0' && c <= '9')) return ParseNumber(value);
        if (c == '\'') return Fail("strings are written in double quotes");
        if (c == '/') return Fail("comments are not allowed in JSON");
        return Fail("expected a value, found " + Describe());
    }
  }

  bool ParseLiteral(std::string_view word, JsonValue* value, JsonValue::Kind kind, bool boolean) {
    if (text_.substr(at_, word.size()) != word) return Fail("expected a value, found " + Describe());
    for (std::size_t i = 0; i < word.size(); ++i) Advance();
    if (!AtEnd()) {
      const unsigned char c = Peek();
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
        return FailAt(value->position, "expected a value, found an unknown word");
      }
    }
    value->kind = kind;
    value->boolean = boolean;
    return true;
  }

  bool IsDigit() const { return !AtEnd() && Peek() >= '0' && Peek() <= '9'; }

  bool ParseNumber(JsonValue* value) {
    const std::size_t start = at_;
    bool integral = true;
    if (Peek() == '-') Advance();
    if (!IsDigit()) return Fail("a number needs a digit after '-'");
    if (Peek() == '0') {
      Advance();
      if (IsDigit()) return FailAt(value->position, "numbers must not have leading zeros");
    } else {
      while (IsDigit()) Advance();
    }
    if (!AtEnd() && Peek() == '.') {
      integral = false;
      Advance();
      if (!IsDigit()) return Fail("a number needs digits after its decimal point");
      while (IsDigit()) Advance();
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      integral = false;
      Advance();
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) Advance();
      if (!IsDigit()) return Fail("a number needs digits in its exponent");
      while (IsDigit()) Advance();
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + at_;
    value->kind = JsonValue::Kind::kNumber;
    if (integral) {
      std::int64_t integer = 0;
      const auto result = std::from_chars(first, last, integer);
      if (result.ec == std::errc() && result.ptr == last) {
        value->isInteger = true;
        value->integer = integer;
        value->number = static_cast<double>(integer);
        return true;
      }
    }
    double number = 0;
    const auto result = std::from_chars(first, last, number);
    if (result.ec != std::errc() || result.ptr != last) {
      return FailAt(value->position, "the number " + std::string(first, last) + " is out of range");
    }
    value->number = number;
    return true;
  }

  static int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  bool ReadHex4(unsigned* code) {
    unsigned result = 0;
    for (int i = 0; i < 4; ++i) {
      if (AtEnd()) return Fail("\\u needs four hexadecimal digits");
      const int digit = HexValue(Peek());
      if (digit < 0) return Fail("\\u needs four hexadecimal digits");
      result = result * 16 + static_cast<unsigned>(digit);
      Advance();
    }
    *code = result;
    return true;
  }

  static void AppendUtf8(unsigned code, std::string* out) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  bool ParseEscape(std::string* out) {
    const JsonPosition escapeStart = position_;
    Advance();  // the backslash
    if (AtEnd()) return Fail("the file ends inside a string");
    const unsigned char c = Peek();
    Advance();
    switch (c) {
      case '"': out->push_back('"'); return true;
      case '\\': out->push_back('\\'); return true;
      case '/': out->push_back('/'); return true;
      case 'b': out->push_back('\b'); return true;
      case 'f': out->push_back('\f'); return true;
      case 'n': out->push_back('\n'); return true;
      case 'r': out->push_back('\r'); return true;
      case 't': out->push_back('\t'); return true;
      case 'u': break;
      default: return FailAt(escapeStart, "unknown escape sequence in a string");
    }
    unsigned code = 0;
    if (!ReadHex4(&code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return FailAt(escapeStart, "a \\u escape holds a lone low surrogate");
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (text_.substr(at_, 2) != "\\u") return FailAt(escapeStart, "a \\u escape holds a lone high surrogate");
      Advance();
      Advance();
      unsigned low = 0;
      if (!ReadHex4(&low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return FailAt(escapeStart, "a \\u escape holds a lone high surrogate");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(code, out);
    return true;
  }

  // Copies one UTF-8 encoded character, refusing malformed, overlong and
  // surrogate encodings.
  bool CopyUtf8Character(std::string* out) {
    const unsigned char lead = Peek();
    int length = 0;
    unsigned code = 0;
    unsigned minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
      return Fail("a string holds bytes that are not UTF-8");
    }
    if (at_ + length > text_.size()) return Fail("a string holds bytes that are not UTF-8");
    for (int i = 1; i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(text_[at_ + i]);
      if ((next & 0xC0) != 0x80) return Fail("a string holds bytes that are not UTF-8");
      code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return Fail("a string holds bytes that are not UTF-8");
    }
    for (int i = 0; i < length; ++i) {
      out->push_back(static_cast<char>(Peek()));
      Advance();
    }
    return true;
  }

  bool ParseString(std::string* out) {
    const JsonPosition start = position_;
    Advance();  // opening quote
    out->clear();
    for (;;) {
      if (AtEnd()) return FailAt(start, "this string is not closed");
      const unsigned char c = Peek();
      if (c == '"') {
        Advance();
        return true;
      }
      if (c == '\\') {
        if (!ParseEscape(out)) return false;
      } else if (c < 0x20) {
        return Fail(c == '\n' ? std::string("this string is not closed on its line")
                              : std::string("a control character must be escaped in a string"));
      } else if (c < 0x80) {
        out->push_back(static_cast<char>(c));
        Advance();
      } else if (!CopyUtf8Character(out)) {
        return false;
      }
    }
  }

  bool CheckDepth(int depth) {
    if (depth > kJsonMaxDepth) {
      return Fail("arrays and objects are nested more than " + std::to_string(kJsonMaxDepth) + " deep");
    }
    return true;
  }

  bool ParseArray(JsonValue* value, int depth) {
    if (!CheckDepth(depth)) return false;
    value->kind = JsonValue::Kind::kArray;
    Advance();  // '['
    SkipWhitespace();
    if (!AtEnd() && Peek() == ']') {
      Advance();
      return true;
    }
    for (;;) {
      SkipWhitespace();
      if (!AtEnd() && Peek() == ']') return Fail("a trailing comma is not allowed before ']'");
      value->items.emplace_back();
      if (!ParseValue(&value->items.back(), depth)) return false;
      SkipWhitespace();
      if (AtEnd()) return FailAt(value->position, "this array is not closed");
      if (Peek() == ',') {
        Advance();
        continue;
      }
      if (Peek() == ']') {
        Advance();
        return true;
      }
      return Fail("expected ',' or ']' in an array, found " + Describe());
    }
  }

  bool ParseObject(JsonValue* value, int depth) {
    if (!CheckDepth(depth)) return false;
    value->kind = JsonValue::Kind::kObject;
    Advance();  // '{'
    SkipWhitespace();
    if (!AtEnd() && Peek() == '}') {
      Advance();
      return true;
    }
    // Names seen so far, so that a large object is checked for repeats in
    // linear time.
    std::unordered_set<std::string> names;
    for (;;) {
      SkipWhitespace();
      if (AtEnd()) return FailAt(value->position, "this object is not closed");
      if (Peek() == '}') return Fail("a trailing comma is not allowed before '}'");
      if (Peek() != '"') return Fail("expected a member name in double quotes, found " + Describe());
      const JsonPosition namePosition = position_;
      std::string name;
      if (!ParseString(&name)) return false;
      if (!names.insert(name).second) return FailAt(namePosition, "the member \"" + name + "\" appears twice");
      SkipWhitespace();
      if (AtEnd() || Peek() != ':') return Fail("expected ':' after the member name \"" + name + "\"");
      Advance();
      SkipWhitespace();
      value->members.emplace_back(std::move(name), JsonValue());
      if (!ParseValue(&value->members.back().second, depth)) return false;
      SkipWhitespace();
      if (AtEnd()) return FailAt(value->position, "this object is not closed");
      if (Peek() == ',') {
        Advance();
        continue;
      }
      if (Peek() == '}') {
        Advance();
        return true;
      }
      return Fail("expected ',' or '}' in an object, found " + Describe());
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  JsonPosition position_;
  JsonError* error_ = nullptr;
  std::size_t maxValues_;
  std::size_t valueCount_ = 0;
};

}  // namespace

bool ParseJson(std::string_view text, JsonValue* value, JsonError* error, std::size_t maxValues) {
  *value = JsonValue();
  Parser parser(text, maxValues);
  return parser.ParseDocument(value, error);
}

}  // namespace vrt::sim
