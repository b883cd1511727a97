#include "dictionary.h"

#include <cstring>

namespace vrt::editor {

namespace {

constexpr int kMaxEntriesWalked = 255;

// strncmp over a text that need not be terminated and an entry text that is.
bool FirstCharactersAgree(std::string_view text, const char* entryText, int count) {
  for (int i = 0; i < count; ++i) {
    const char a = static_cast<std::size_t>(i) < text.size() ? text[static_cast<std::size_t>(i)] : '\0';
    const char b = entryText[i];
    if (a != b) return false;
    if (a == '\0') return true;
  }
  return true;
}

}  // namespace

CDictionary::CDictionary(const char* name, std::vector<Entry> entries) : name_(name), entries_(std::move(entries)) {
  int stop = -1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].code < -1) {
      stop = static_cast<int>(i);
      break;
    }
  }
  if (stop < 0) {
    entries_.push_back({0, "", kStopCode});
    stop = static_cast<int>(entries_.size()) - 1;
  }
  endIndex_ = stop;
}

int CDictionary::Match(std::string_view text) const {
  const int walked = static_cast<int>(entries_.size()) < kMaxEntriesWalked ? static_cast<int>(entries_.size())
                                                                            : kMaxEntriesWalked;
  for (int i = 0; i < walked; ++i) {
    const Entry& entry = entries_[static_cast<std::size_t>(i)];
    if (entry.code < -1) break;
    if (entry.matchLength < 0) continue;
    if (FirstCharactersAgree(text, entry.text, entry.matchLength)) return entry.code;
  }
  return kNoMatch;
}

int CDictionary::IndexOfCode(int code) const {
  for (int i = 0; i < endIndex_; ++i) {
    if (entries_[static_cast<std::size_t>(i)].code == code) return i;
  }
  return endIndex_;
}

int CDictionary::CodeAt(int index) const {
  if (index < 0 || index >= endIndex_) return kStopCode;
  return entries_[static_cast<std::size_t>(index)].code;
}

const char* CDictionary::TextOf(int code) const {
  const int index = IndexOfCode(code);
  return index < endIndex_ ? entries_[static_cast<std::size_t>(index)].text : nullptr;
}

std::string CDictionary::TextOrUndefined(int code) const {
  const char* text = TextOf(code);
  return text != nullptr ? text : kUndefinedText;
}

std::vector<std::pair<std::string, int>> CDictionary::ComboItems() const {
  std::vector<std::pair<std::string, int>> items;
  for (int i = 0; i < endIndex_; ++i) {
    items.emplace_back(entries_[static_cast<std::size_t>(i)].text, entries_[static_cast<std::size_t>(i)].code);
  }
  return items;
}

std::vector<std::string> CDictionary::ComboTexts() const {
  std::vector<std::string> texts;
  for (int i = 0; i < endIndex_; ++i) texts.emplace_back(entries_[static_cast<std::size_t>(i)].text);
  return texts;
}

namespace {

std::vector<CDictionary::Entry> PortEntries() {
  // The texts must outlive the table: they are built once, here.
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (int port = 1; port <= 32; ++port) list.push_back("COM" + std::to_string(port) + ":");
    return list;
  }();
  std::vector<CDictionary::Entry> entries;
  entries.push_back({4, "None", -1});
  for (int port = 1; port <= 32; ++port) {
    // COM1: to COM3: compare five characters, COM4: to COM9: four, the
    // two-digit ports five.
    const int length = (port >= 4 && port <= 9) ? 4 : 5;
    entries.push_back({length, names[static_cast<std::size_t>(port - 1)].c_str(), port - 1});
  }
  entries.push_back({4, "None", -2});
  entries.push_back({3, "UNDEFINED", -1});
  return entries;
}

}  // namespace

const CDictionary& port_dct() {
  static const CDictionary table("port_dct", PortEntries());
  return table;
}

const CDictionary& baud_dct() {
  static const CDictionary table("baud_dct", {{3, "110", 2},
                                              {2, "300", 5},
                                              {1, "600", 6},
                                              {3, "1200", 7},
                                              {2, "2400", 10},
                                              {1, "4800", 12},
                                              {1, "9600", 14},
                                              {3, "19200", 15},
                                              {2, "38400", 16},
                                              {2, "57600", 17},
                                              {3, "115200", 19}});
  return table;
}

const CDictionary& data_bits_dct() {
  static const CDictionary table("data_bits_dct", {{1, "7", 2}, {1, "8", 3}});
  return table;
}

const CDictionary& stop_bits_dct() {
  static const CDictionary table("stop_bits_dct", {{1, "1", 0}, {1, "2", 1}});
  return table;
}

const CDictionary& parity_dct() {
  static const CDictionary table("parity_dct", {{1, "None", 0}, {1, "Odd", 1}, {1, "Even", 3}});
  return table;
}

const CDictionary& handshake_dct() {
  static const CDictionary table("handshake_dct", {{1, "None", 0},
                                                   {7, "RTS/CTS", 18},
                                                   {1, "DTR/DSR", 33},
                                                   {9, "RTS Toggle", 4},
                                                   {9, "RTS Tog CTS", 20},
                                                   {9, "RTS T CTS+CD", 148}});
  return table;
}

const CDictionary& Yes_No_dct() {
  static const CDictionary table("Yes_No_dct", {{1, "Yes", 1}, {1, "No", 0}});
  return table;
}

const CDictionary& VRT_Hardware_Type_dct() {
  static const CDictionary table("VRT_Hardware_Type_dct", {{5, "EVR420", 3},
                                                           {5, "EVR410", 5},
                                                           {2, "PRISMOTE", 12},
                                                           {2, "ZOLT", 23},
                                                           {2, "SELMARO", 35},
                                                           {2, "TORAVINE", 56}});
  return table;
}

const CDictionary& VRT_poll_type_dct() {
  static const CDictionary table("VRT_poll_type_dct", {{1, "DIT", 0}, {1, "EVENT", 1}});
  return table;
}

const CDictionary& VRT_Data_Type_dct() {
  static const CDictionary table("VRT_Data_Type_dct", {{1, "Unsigned", 2}, {1, "Signed", 1}, {1, "Digital", 4}});
  return table;
}

const CDictionary& VRT_Exception_dct() {
  static const CDictionary table("VRT_Exception_dct",
                                 {{3, "Disabled", 0}, {2, "Analog", 1}, {3, "Digital", 2}, {2, "ASCII", 3}});
  return table;
}

}  // namespace vrt::editor
