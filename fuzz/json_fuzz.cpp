// The simulator's strict JSON reader over any text: what it accepts keeps
// its promises (nesting, unique member names, UTF-8 strings, places), and,
// written out again, reads back to the same values. A refusal names a place
// inside the text.
//
// Input: the text.
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "json_reader.h"

namespace {

using vrt::sim::JsonValue;

bool ValidUtf8(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    int length = 0;
    unsigned code = 0;
    if (lead < 0x80) {
      ++at;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07;
    } else {
      return false;
    }
    if (at + length > text.size()) return false;
    for (int i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    const unsigned minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    at += length;
  }
  return true;
}

// Counts values and checks each one's own promises.
std::size_t Walk(const JsonValue& value, int depth, int lines) {
  VRT_FUZZ_CHECK(value.position.line >= 1 && value.position.line <= lines && value.position.column >= 1,
                 "a value's place is outside the text");
  std::size_t count = 1;
  switch (value.kind) {
    case JsonValue::Kind::kString:
      VRT_FUZZ_CHECK(ValidUtf8(value.text), "a string is not UTF-8");
      break;
    case JsonValue::Kind::kNumber:
      if (value.isInteger) {
        VRT_FUZZ_CHECK(static_cast<double>(value.integer) == value.number, "an integer lost its value");
      }
      break;
    case JsonValue::Kind::kArray:
      VRT_FUZZ_CHECK(depth < vrt::sim::kJsonMaxDepth, "arrays nested deeper than allowed");
      for (const JsonValue& item : value.items) count += Walk(item, depth + 1, lines);
      break;
    case JsonValue::Kind::kObject: {
      VRT_FUZZ_CHECK(depth < vrt::sim::kJsonMaxDepth, "objects nested deeper than allowed");
      std::set<std::string> names;
      for (const auto& [name, member] : value.members) {
        VRT_FUZZ_CHECK(ValidUtf8(name), "a member name is not UTF-8");
        VRT_FUZZ_CHECK(names.insert(name).second, "a member name appears twice");
        VRT_FUZZ_CHECK(value.Find(name) == &member, "a member cannot be found by its name");
        count += Walk(member, depth + 1, lines);
      }
      break;
    }
    default: break;
  }
  return count;
}

void WriteString(const std::string& text, std::string* out) {
  *out += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", byte);
      *out += escape;
    } else {
      *out += c;
    }
  }
  *out += '"';
}

void Write(const JsonValue& value, std::string* out) {
  switch (value.kind) {
    case JsonValue::Kind::kNull: *out += "null"; break;
    case JsonValue::Kind::kBool: *out += value.boolean ? "true" : "false"; break;
    case JsonValue::Kind::kNumber: {
      if (value.isInteger) {
        *out += std::to_string(value.integer);
      } else {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", value.number);
        *out += text;
      }
      break;
    }
    case JsonValue::Kind::kString: WriteString(value.text, out); break;
    case JsonValue::Kind::kArray:
      *out += '[';
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        if (i > 0) *out += ',';
        Write(value.items[i], out);
      }
      *out += ']';
      break;
    case JsonValue::Kind::kObject:
      *out += "{\n";
      for (std::size_t i = 0; i < value.members.size(); ++i) {
        if (i > 0) *out += ",\n";
        WriteString(value.members[i].first, out);
        *out += ": ";
        Write(value.members[i].second, out);
      }
      *out += "\n}";
      break;
  }
}

void ExpectSame(const JsonValue& a, const JsonValue& b) {
  VRT_FUZZ_CHECK(a.kind == b.kind, "a value came back as another kind");
  switch (a.kind) {
    case JsonValue::Kind::kBool: VRT_FUZZ_CHECK(a.boolean == b.boolean, "a truth value changed"); break;
    case JsonValue::Kind::kNumber:
      VRT_FUZZ_CHECK(a.number == b.number, "a number changed");
      if (a.isInteger) VRT_FUZZ_CHECK(b.isInteger && a.integer == b.integer, "an integer changed");
      break;
    case JsonValue::Kind::kString: VRT_FUZZ_CHECK(a.text == b.text, "a string changed"); break;
    case JsonValue::Kind::kArray:
      VRT_FUZZ_CHECK(a.items.size() == b.items.size(), "an array changed its length");
      for (std::size_t i = 0; i < a.items.size(); ++i) ExpectSame(a.items[i], b.items[i]);
      break;
    case JsonValue::Kind::kObject:
      VRT_FUZZ_CHECK(a.members.size() == b.members.size(), "an object changed its members");
      for (std::size_t i = 0; i < a.members.size(); ++i) {
        VRT_FUZZ_CHECK(a.members[i].first == b.members[i].first, "a member changed its name or place");
        ExpectSame(a.members[i].second, b.members[i].second);
      }
      break;
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int lines = 1;
  for (char c : text) lines += c == '\n' ? 1 : 0;

  JsonValue value;
  vrt::sim::JsonError error;
  // A small value limit now and then, so that the limit's refusal is met.
  const std::size_t limit = size % 7 == 0 ? 16 : vrt::sim::kJsonMaxValues;
  if (!vrt::sim::ParseJson(text, &value, &error, limit)) {
    VRT_FUZZ_CHECK(!error.message.empty(), "a refusal without a reason");
    VRT_FUZZ_CHECK(error.position.line >= 1 && error.position.line <= lines && error.position.column >= 1,
                   "a refusal names a place outside the text");
    VRT_FUZZ_CHECK(!error.ToString().empty(), "a refusal without its text");
    return 0;
  }
  VRT_FUZZ_CHECK(Walk(value, 0, lines) <= limit, "more values accepted than the limit");

  std::string written;
  Write(value, &written);
  JsonValue again;
  vrt::sim::JsonError againError;
  if (!vrt::sim::ParseJson(written, &again, &againError)) {
    std::fprintf(stderr, "written: %s\nrefused: %s\n", written.c_str(), againError.ToString().c_str());
  }
  VRT_FUZZ_CHECK(vrt::sim::ParseJson(written, &again, &againError), "a value written out again is refused");
  ExpectSame(value, again);
  return 0;
}
