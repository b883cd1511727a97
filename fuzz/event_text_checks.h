// Checks of the texts formed for each stored event, shared by the targets
// that store events: the database statement must carry each text whole (no
// name or stamp can end its quoted text early) and the numbers as given.
#pragma once

#include <string>
#include <string_view>

#include "event_log.h"
#include "fuzz_check.h"

namespace vrt::fuzz {

// Reads a quoted SQL text at `at` ('...' with '' for a quote inside).
inline bool ReadSqlText(std::string_view statement, std::size_t& at, std::string* text) {
  if (at >= statement.size() || statement[at] != '\'') return false;
  ++at;
  text->clear();
  while (at < statement.size()) {
    if (statement[at] == '\'') {
      if (at + 1 < statement.size() && statement[at + 1] == '\'') {
        *text += '\'';
        at += 2;
        continue;
      }
      ++at;
      return true;
    }
    *text += statement[at++];
  }
  return false;
}

inline bool ReadLiteral(std::string_view statement, std::size_t& at, std::string_view literal) {
  if (statement.substr(at, literal.size()) != literal) return false;
  at += literal.size();
  return true;
}

inline void CheckEventTexts(const std::string& deviceName, const SoeEventRecord& event,
                            const LoggingSettings& settings) {
  const std::string address = IoAddressText(deviceName, event);
  const std::string stamp = TimeStampText(event, settings);
  const std::string statement = InsertStatement(address, stamp, event);
  std::size_t at = 0;
  std::string readAddress, readStamp;
  const std::string numbers = "," + std::to_string(event.milliseconds) + "," + std::to_string(event.code) + "," +
                              std::to_string(event.state) + ");";
  const bool whole = ReadLiteral(statement, at, "INSERT INTO EVENTS VALUES (") &&
                     ReadSqlText(statement, at, &readAddress) && ReadLiteral(statement, at, ",") &&
                     ReadSqlText(statement, at, &readStamp) && ReadLiteral(statement, at, numbers) &&
                     at == statement.size();
  VRT_FUZZ_CHECK(whole, "the INSERT statement does not have its shape");
  VRT_FUZZ_CHECK(readAddress == address && readStamp == stamp, "the INSERT statement does not carry its texts whole");

  const std::string row = CsvRow(address, stamp, event);
  VRT_FUZZ_CHECK(row.size() >= 2 && row.compare(row.size() - 2, 2, "\r\n") == 0, "a CSV row without its line end");
  const std::string file = CsvFileName(settings, event);
  VRT_FUZZ_CHECK(file.compare(0, settings.logDataPath.size(), settings.logDataPath) == 0 &&
                     file.size() > settings.logDataPath.size(),
                 "the day's file is not in the log data folder");
  const std::string line = EventLineText(address, event, stamp);
  VRT_FUZZ_CHECK(line.compare(0, 6 + address.size(), "Event " + address) == 0, "an event line without its address");
}

}  // namespace vrt::fuzz
