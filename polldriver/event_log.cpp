#include "event_log.h"

#include <cstdio>

#include "../image/control_block.h"
#include "../image/log_message.h"

namespace vrt {

LoggingSettings ReadLoggingSettings(SettingsSource& source) {
  LoggingSettings settings;
  settings.loggingEnabled = source.Integer("Logging_enabled", 0) != 0;
  if (!settings.loggingEnabled) return settings;
  settings.logDataPath = source.Text("LOGDATA_PATH", ".\\LOGDATA", 255);
  settings.dayFirst = source.Integer("Date_format", 0) != 0;
  settings.milliseconds = source.Integer("MSec_included", 0) != 0;
  settings.odbcEnabled = source.Integer("ODBC_enabled", 0) != 0;
  if (!settings.odbcEnabled) return settings;
  settings.dsn = source.Text("DSN", "", 15);
  settings.uid = source.Text("UID", "", 15);
  settings.pwd = source.Text("PWD", "", 15);
  settings.odbcDebug = source.Integer("ODBC_debug", 0) != 0;
  return settings;
}

std::string IoAddressText(const std::string& deviceName, const SoeEventRecord& event) {
  char text[64];
  std::snprintf(text, sizeof text, ":DIT:%u:%u", event.pointAddress, event.bit);
  return deviceName + text;
}

std::string TimeStampText(const SoeEventRecord& event, const LoggingSettings& settings) {
  char text[64];
  const unsigned first = settings.dayFirst ? event.day : event.month;
  const unsigned second = settings.dayFirst ? event.month : event.day;
  std::snprintf(text, sizeof text, "%02u/%02u/%4u %02u:%02u:%02u", first, second, static_cast<unsigned>(event.year),
                static_cast<unsigned>(event.hour), static_cast<unsigned>(event.minute),
                static_cast<unsigned>(event.second));
  std::string stamp = text;
  if (settings.milliseconds) {
    std::snprintf(text, sizeof text, ".%03u", static_cast<unsigned>(event.milliseconds));
    stamp += text;
  }
  return stamp;
}

std::string EventLineText(const std::string& ioAddress, const SoeEventRecord& event, const std::string& timeStamp) {
  char tail[64];
  std::snprintf(tail, sizeof tail, " (%d)", static_cast<int>(event.milliseconds));
  return "Event " + ioAddress + "=" + std::to_string(event.state) + " " + timeStamp + tail;
}

namespace {

std::string DayFileName(const LoggingSettings& settings, const char* prefix, const SoeEventRecord& event) {
  char name[40];
  std::snprintf(name, sizeof name, "\\%s%04u%02u%02u.TXT", prefix, static_cast<unsigned>(event.year),
                static_cast<unsigned>(event.month), static_cast<unsigned>(event.day));
  return settings.logDataPath + name;
}

}  // namespace

std::string CsvFileName(const LoggingSettings& settings, const SoeEventRecord& event) {
  return DayFileName(settings, "VRT_LOG", event);
}

std::string RejectedRowsFileName(const LoggingSettings& settings, const SoeEventRecord& event) {
  return DayFileName(settings, "VRT_REJ", event);
}

std::string CsvRow(const std::string& ioAddress, const std::string& timeStamp, const SoeEventRecord& event) {
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, ",%03u,%u,%u\r\n", static_cast<unsigned>(event.milliseconds),
                static_cast<unsigned>(event.code), static_cast<unsigned>(event.state));
  return ioAddress + "," + timeStamp + numbers;
}

namespace {

std::string Quoted(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted;
}

}  // namespace

std::string InsertStatement(const std::string& ioAddress, const std::string& timeStamp, const SoeEventRecord& event) {
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, "',%u,%u,%u);", static_cast<unsigned>(event.milliseconds),
                static_cast<unsigned>(event.code), static_cast<unsigned>(event.state));
  return "INSERT INTO EVENTS VALUES ('" + Quoted(ioAddress) + "','" + Quoted(timeStamp) + numbers;
}

bool SqlQueue::Push(QueuedRow row) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (rows_.size() >= capacity_) return false;
  rows_.push_back(std::move(row));
  return true;
}

std::optional<QueuedRow> SqlQueue::Front() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (rows_.empty()) return std::nullopt;
  return rows_.front();
}

void SqlQueue::Pop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!rows_.empty()) rows_.pop_front();
}

std::size_t SqlQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_.size();
}

void EventLogger::EventLine(const DitDevice& device, const SoeEventRecord& event) {
  const std::string address = IoAddressText(DeviceName(device, kDitVersion), event);
  const std::string stamp = TimeStampText(event, settings_);
  LogMessage(kAttrInformation, "%s", EventLineText(address, event, stamp).c_str());
  if (!settings_.loggingEnabled) return;
  switch (output_.AppendToFile(CsvFileName(settings_, event), kCsvHeader, CsvRow(address, stamp, event))) {
    case EventLogOutput::Append::kFailed:
      LogMessage(kAttrActivity, "failed to open event log file ");
      return;
    case EventLogOutput::Append::kCreated:
      LogMessage(kAttrActivity, "New time tag event log file opened");
      break;
    case EventLogOutput::Append::kAppended:
      break;
  }
  if (!settings_.odbcEnabled || database_ == nullptr) return;
  const std::string statement = InsertStatement(address, stamp, event);
  std::string row = CsvRow(address, stamp, event);
  row.resize(row.size() - 2);  // the line end
  if (!database_->Push(QueuedRow{statement, std::move(row), RejectedRowsFileName(settings_, event)})) {
    // The writer is far behind: say which row the database will miss.
    LogMessage(kAttrError, "Event not queued for the database: %s", statement.c_str());
    return;
  }
  output_.WakeWriter();
}

}  // namespace vrt
