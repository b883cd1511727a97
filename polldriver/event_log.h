// Event logging: the settings of ".\VRT.INI" section "LOGGING", the texts
// formed for each event (event line, CSV row, INSERT statement), the day's
// CSV file name, and the queue of statements for the database writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "soe_decoder.h"

namespace vrt {

inline constexpr const char* kLoggingSettingsFile = ".\\VRT.INI";
inline constexpr const char* kLoggingSection = "LOGGING";
inline constexpr const char* kCsvHeader = "IO_ADDR,TIME_STAMP,MILLI,EVENT,VALUE\r\n";

struct LoggingSettings {
  bool loggingEnabled = false;
  std::string logDataPath;
  bool dayFirst = false;      // "Date_format" non-zero: day/month/year
  bool milliseconds = false;  // "MSec_included"
  bool odbcEnabled = false;
  std::string dsn;
  std::string uid;
  std::string pwd;
  bool odbcDebug = false;
};

// Where the settings come from (the private-profile file on Windows).
class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  virtual int Integer(const char* key, int fallback) = 0;
  // At most `maxLength` characters.
  virtual std::string Text(const char* key, const char* fallback, std::size_t maxLength) = 0;
};

// Reads the section; with "Logging_enabled" 0 nothing else is read, and
// with "ODBC_enabled" 0 none of the database keys.
LoggingSettings ReadLoggingSettings(SettingsSource& source);

// "PUMPS:DIT:33:4"
std::string IoAddressText(const std::string& deviceName, const SoeEventRecord& event);
// "03/07/2005 14:05:09" (month first) or "07/03/2005 14:05:09", with ".123"
// when milliseconds are included.
std::string TimeStampText(const SoeEventRecord& event, const LoggingSettings& settings);
// The driver's message for the event: "Event %s=%d %s (%d)".
std::string EventLineText(const std::string& ioAddress, const SoeEventRecord& event, const std::string& timeStamp);
// "%s\VRT_LOG%04u%02u%02u.TXT" from the path and the event's own date.
std::string CsvFileName(const LoggingSettings& settings, const SoeEventRecord& event);
std::string CsvRow(const std::string& ioAddress, const std::string& timeStamp, const SoeEventRecord& event);
// "INSERT INTO EVENTS VALUES ('%s','%s',%u,%u,%u);" with quotes in the texts
// doubled, so that no name can end the text early.
std::string InsertStatement(const std::string& ioAddress, const std::string& timeStamp, const SoeEventRecord& event);

// The day's file of rows the database refused, beside its CSV file:
// "%s\VRT_REJ%04u%02u%02u.TXT".
std::string RejectedRowsFileName(const LoggingSettings& settings, const SoeEventRecord& event);
// Its first line: the CSV columns, the SQLSTATE and the database's own words.
inline constexpr const char* kRejectedRowsHeader = "IO_ADDR,TIME_STAMP,MILLI,EVENT,VALUE,SQLSTATE,ERROR\r\n";

// One event on its way to the database: the statement, and where the row
// goes whole (as in the CSV file) if the database refuses it for good.
struct QueuedRow {
  std::string statement;
  std::string csvRow;        // without its line end
  std::string rejectedFile;  // empty: nowhere (the row is reported only)
};

// Statements waiting for the database writer. Nothing is ever overwritten
// or cut: statements are kept whole, in order, up to `capacity`; a
// statement that does not fit is refused (and the caller reports it).
// One mutex guards the deque; nothing else is called while it is held.
class SqlQueue {
 public:
  static constexpr std::size_t kDefaultCapacity = 100000;
  explicit SqlQueue(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  bool Push(QueuedRow row);
  bool Push(std::string statement) { return Push(QueuedRow{std::move(statement), {}, {}}); }
  // The row at the head, left in place until Pop (a failed statement is
  // tried again).
  std::optional<QueuedRow> Front() const;
  void Pop();
  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::deque<QueuedRow> rows_;
  std::size_t capacity_;
};

// Where the event lines go besides the driver's messages.
class EventLogOutput {
 public:
  enum class Append { kAppended, kCreated, kFailed };
  virtual ~EventLogOutput() = default;
  // Opens the file (shared for reading, created if absent), writes `header`
  // first when it was created, appends `row` and closes it again.
  virtual Append AppendToFile(const std::string& path, const std::string& header, const std::string& row) = 0;
  // Wakes the database writer.
  virtual void WakeWriter() = 0;
};

// Writes every stored event: the driver's message, the day's CSV file and,
// when a database is connected, its INSERT statement.
class EventLogger final : public EventLineSink {
 public:
  EventLogger(const LoggingSettings& settings, EventLogOutput& output, SqlQueue* database)
      : settings_(settings), output_(output), database_(database) {}
  void EventLine(const DitDevice& device, const SoeEventRecord& event) override;

 private:
  LoggingSettings settings_;
  EventLogOutput& output_;
  SqlQueue* database_;
};

}  // namespace vrt
