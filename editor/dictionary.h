// Code tables of the configuration editor: every enumerated field is shown,
// typed and stored through one of these. The image stores codes; the tables
// give the texts and the rule by which a typed text picks an entry.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vrt::editor {

// The code a text gets when it matches no entry (0xFFFE, -2 as a 16-bit
// signed value, which is also the code of every table's stop entry).
inline constexpr int kNoMatch = 0xFFFE;
inline constexpr int kStopCode = -2;

class CDictionary {
 public:
  struct Entry {
    int matchLength;  // characters compared by Match; negative: never matched
    const char* text;
    int code;
  };

  // `entries` are the table's entries in order; a stop entry (empty text,
  // code -2) is added at the end unless the table brings its own (any entry
  // whose code is below -1).
  CDictionary(const char* name, std::vector<Entry> entries);

  const char* Name() const { return name_; }

  // Text -> code. The entries are tried in order; an entry agrees when the
  // first N characters of `text` and of the entry's text are equal
  // (case-sensitive, a shorter text never agrees with a longer prefix). The
  // walk ends at the first entry whose code is below -1, or after 255
  // entries; no agreeing entry gives kNoMatch.
  int Match(std::string_view text) const;

  // Position of the first entry with `code`, or EndIndex() when none has it.
  int IndexOfCode(int code) const;
  // Code at a position; the stop entry's code (-2) for EndIndex() and for
  // positions outside the table.
  int CodeAt(int index) const;
  // Text of the first entry with `code` before the stop entry, or null.
  const char* TextOf(int code) const;
  // Text of `code`, or "UNDEFINED" when the table has no such code.
  std::string TextOrUndefined(int code) const;

  // Position of the stop entry: the number of selectable entries.
  int EndIndex() const { return endIndex_; }

  // The selectable entries in order, text with its code: what a drop-down
  // list is filled with.
  std::vector<std::pair<std::string, int>> ComboItems() const;
  // Their texts alone, and the list position of a code (-1 when no
  // selectable entry has it).
  std::vector<std::string> ComboTexts() const;
  int ComboPosition(int code) const {
    const int index = IndexOfCode(code);
    return index < endIndex_ ? index : -1;
  }

 private:
  const char* name_;
  std::vector<Entry> entries_;
  int endIndex_ = 0;
};

// The tables. The port table is used by CSV only: port number = code + 1, so
// "None" is port 0 and "COM25:" port 25.
const CDictionary& port_dct();
const CDictionary& baud_dct();
const CDictionary& data_bits_dct();
const CDictionary& stop_bits_dct();
const CDictionary& parity_dct();
const CDictionary& handshake_dct();
const CDictionary& Yes_No_dct();
const CDictionary& VRT_Hardware_Type_dct();
const CDictionary& VRT_poll_type_dct();
const CDictionary& VRT_Data_Type_dct();
const CDictionary& VRT_Exception_dct();

inline constexpr const char* kUndefinedText = "UNDEFINED";

}  // namespace vrt::editor
