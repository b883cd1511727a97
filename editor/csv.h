// The configuration as separated values: export and import of the three
// sections (channels, devices, poll records), each after its keyword line.
// Import applies the objects' setters to every field, so every value passes
// the dialogs' validation; its complaints go to the error file.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "did_doc.h"
#include "editor_services.h"

namespace vrt::editor {

// The first character of the Windows list separator (`sList`), or "," when
// it cannot be read, is empty, or could not separate fields (a double quote,
// a blank, a line end, or a character that starts a line's kind).
char SeparatorFromListSetting(const std::optional<std::string>& sList);
bool UsableSeparator(char separator);

inline constexpr std::size_t kMaxCsvLineLength = 1023;

// The fields of one line. A field may be enclosed in double quotes, inside
// which two double quotes stand for one and the separator loses its
// meaning; leading white space of a field is skipped.
struct CsvSplit {
  std::vector<std::string> fields;
  bool unclosedQuote = false;
};
CsvSplit SplitCsvLine(std::string_view line, char separator);

// One field as export writes it: quoted (inner quotes doubled) when it holds
// the separator or a double quote, or when it starts with something the
// reader would skip or take for a line kind (white space, "[", "!").
std::string QuoteCsvField(std::string_view field, char separator);
std::string JoinCsvFields(const std::vector<std::string>& fields, char separator);

// "[ VRT  , Monday December 07 2026, 01:54 AM ]"
std::string CsvTitleLine(const std::tm& localTime);

// The exported text, lines ending in a line feed; nothing when the document
// has no channel. Channels are renumbered by position, devices with poll
// records get their channel's number, poll records are numbered 1, 2, 3 ...
std::optional<std::string> ExportCsvText(CDidDoc& doc, char separator, const std::tm& localTime);

// Export to a file with its messages; false when nothing was written.
bool ExportCsv(CDidDoc& doc, const std::string& path, char separator, EditorServices& services);

// Import from a text held in memory (the lines of a file): the document is
// cleared first, then filled; every problem is reported through the
// reporter, which the caller has switched to the error file.
void ImportCsvText(CDidDoc& doc, std::string_view text, char separator, Reporter& reporter);

struct CsvImport {
  bool opened = false;
  int errors = 0;
};

// Import from a file: the errors go to `errors` as lines
// "Line Number %3d : message"; when any were counted the closing message
// names their number and the error file. The document becomes untitled and
// modified.
CsvImport ImportCsv(CDidDoc& doc, const std::string& path, char separator, ImportErrorSink& errors,
                    EditorServices& services);

}  // namespace vrt::editor
