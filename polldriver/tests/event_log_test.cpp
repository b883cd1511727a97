// The texts formed for each event, the settings and the statement queue.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "captured_log.h"
#include "event_log.h"
#include "memory_files.h"

namespace vrt {
namespace {

// 2005-03-07 14:05:09.123, code 33 went to 1: PUMPS:DIT:34:0.
SoeEventRecord Event() { return SoeEventRecord{2005, 3, 0, 7, 14, 5, 9, 123, 33, 34, 0, 1, 0, 1}; }

class MapSettings final : public SettingsSource {
 public:
  int Integer(const char* key, int fallback) override {
    read.push_back(key);
    return values.contains(key) ? std::stoi(values[key]) : fallback;
  }
  std::string Text(const char* key, const char* fallback, std::size_t maxLength) override {
    read.push_back(key);
    return (values.contains(key) ? values[key] : std::string(fallback)).substr(0, maxLength);
  }
  std::map<std::string, std::string> values;
  std::vector<std::string> read;
};

TEST(EventTexts, RowsAndStatementsForBothDateFormatsWithAndWithoutMilliseconds) {
  LoggingSettings settings;
  const SoeEventRecord event = Event();
  const std::string address = IoAddressText("PUMPS", event);
  EXPECT_EQ(address, "PUMPS:DIT:34:0");
  EXPECT_EQ(TimeStampText(event, settings), "03/07/2005 14:05:09");
  settings.milliseconds = true;
  EXPECT_EQ(TimeStampText(event, settings), "03/07/2005 14:05:09.123");
  settings.dayFirst = true;
  const std::string stamp = TimeStampText(event, settings);
  EXPECT_EQ(stamp, "07/03/2005 14:05:09.123");
  settings.milliseconds = false;
  EXPECT_EQ(TimeStampText(event, settings), "07/03/2005 14:05:09");

  EXPECT_EQ(CsvRow(address, stamp, event), "PUMPS:DIT:34:0,07/03/2005 14:05:09.123,123,33,1\r\n");
  EXPECT_EQ(InsertStatement(address, stamp, event),
            "INSERT INTO EVENTS VALUES ('PUMPS:DIT:34:0','07/03/2005 14:05:09.123',123,33,1);");
  EXPECT_EQ(EventLineText(address, event, stamp), "Event PUMPS:DIT:34:0=1 07/03/2005 14:05:09.123 (123)");
  SoeEventRecord early = event;
  early.milliseconds = 7;
  EXPECT_EQ(CsvRow(address, "x", early), "PUMPS:DIT:34:0,x,007,33,1\r\n");
  settings.milliseconds = true;
  EXPECT_EQ(TimeStampText(early, settings), "07/03/2005 14:05:09.007");  // always three digits
  settings.milliseconds = false;

  settings.logDataPath = ".\\LOGDATA";
  EXPECT_EQ(CsvFileName(settings, event), ".\\LOGDATA\\VRT_LOG20050307.TXT");
  // A quote in a name cannot end the statement's text.
  EXPECT_EQ(InsertStatement("O'HARA:DIT:34:0", "t", event), "INSERT INTO EVENTS VALUES ('O''HARA:DIT:34:0','t',123,33,1);");
}

TEST(LoggingSettings, DefaultsAndTheKeysReadOnlyWhenEnabled) {
  MapSettings none;
  const LoggingSettings off = ReadLoggingSettings(none);
  EXPECT_FALSE(off.loggingEnabled);
  EXPECT_EQ(none.read, (std::vector<std::string>{"Logging_enabled"}));
  EXPECT_EQ(off.logDataPath, "");

  MapSettings csvOnly;
  csvOnly.values = {{"Logging_enabled", "1"}, {"DSN", "plant"}};
  const LoggingSettings csv = ReadLoggingSettings(csvOnly);
  EXPECT_EQ(csv.logDataPath, ".\\LOGDATA");
  EXPECT_FALSE(csv.odbcEnabled);
  EXPECT_EQ(csv.dsn, "");  // not read without ODBC
  EXPECT_FALSE(csv.milliseconds);  // both off unless the file says so
  EXPECT_FALSE(csv.dayFirst);

  MapSettings all;
  all.values = {{"Logging_enabled", "1"}, {"LOGDATA_PATH", "D:\\EVENTS"}, {"Date_format", "1"}, {"MSec_included", "2"},
                {"ODBC_enabled", "1"}, {"DSN", "a-data-source-name-too-long"}, {"UID", "op"}, {"PWD", "pw"},
                {"ODBC_debug", "1"}};
  const LoggingSettings full = ReadLoggingSettings(all);
  EXPECT_EQ(full.logDataPath, "D:\\EVENTS");
  EXPECT_TRUE(full.dayFirst);
  EXPECT_TRUE(full.milliseconds);
  EXPECT_EQ(full.dsn, "a-data-source-n");  // 15 characters
  EXPECT_EQ(full.uid, "op");
  EXPECT_TRUE(full.odbcDebug);
}

TEST(SqlQueue, KeepsStatementsWholeInOrderAndRefusesBeyondItsCapacity) {
  SqlQueue queue(3);
  const std::string longStatement = "INSERT INTO EVENTS VALUES ('" + std::string(300, 'N') + "','t',1,2,3);";
  EXPECT_TRUE(queue.Push("one"));
  EXPECT_TRUE(queue.Push(longStatement));
  EXPECT_TRUE(queue.Push("three"));
  EXPECT_FALSE(queue.Push("four"));  // refused, never overwriting
  EXPECT_EQ(queue.Front()->statement, "one");
  EXPECT_EQ(queue.Front()->statement, "one");  // stays until written
  queue.Pop();
  EXPECT_EQ(queue.Front()->statement, longStatement);
  queue.Pop();
  queue.Pop();
  EXPECT_FALSE(queue.Front());
  queue.Pop();
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(SqlQueue, APollThreadAndAWriterLoseNothing) {
  SqlQueue queue;
  constexpr int kStatements = 20000;
  std::thread writer([&] {
    for (int i = 0; i < kStatements; ++i) ASSERT_TRUE(queue.Push(std::to_string(i)));
  });
  int next = 0;
  while (next < kStatements) {
    if (auto row = queue.Front()) {
      ASSERT_EQ(row->statement, std::to_string(next));
      queue.Pop();
      ++next;
    }
  }
  writer.join();
  EXPECT_EQ(queue.Size(), 0u);
}

}  // namespace
}  // namespace vrt

namespace vrt {
namespace {

using FakeOutput = testing::MemoryFiles;

DitDevice Pumps() {
  DitDevice device{};
  std::snprintf(device.name, sizeof device.name, "PUMPS");
  return device;
}

TEST(EventLogger, EveryEventIsAMessageAndWithLoggingARowInItsDaysFileAndAStatement) {
  testing::CapturedLog().clear();
  LoggingSettings settings;
  settings.loggingEnabled = true;
  settings.logDataPath = "D:\\LOG";
  settings.odbcEnabled = true;
  FakeOutput output;
  SqlQueue queue;
  EventLogger logger(settings, output, &queue);
  SoeEventRecord event = Event();
  logger.EventLine(Pumps(), event);
  SoeEventRecord earlier = event;
  earlier.day = 6;
  logger.EventLine(Pumps(), earlier);  // stamped on the day before: that day's file
  logger.EventLine(Pumps(), event);

  EXPECT_TRUE(testing::WasLogged("Event PUMPS:DIT:34:0=1 03/07/2005 14:05:09 (123)"));
  EXPECT_EQ(testing::CountLogged("New time tag event log file opened"), 2);
  EXPECT_EQ(output.files["D:\\LOG\\VRT_LOG20050307.TXT"],
            std::string(kCsvHeader) + "PUMPS:DIT:34:0,03/07/2005 14:05:09,123,33,1\r\n" +
                "PUMPS:DIT:34:0,03/07/2005 14:05:09,123,33,1\r\n");
  EXPECT_EQ(output.files["D:\\LOG\\VRT_LOG20050306.TXT"],
            std::string(kCsvHeader) + "PUMPS:DIT:34:0,03/06/2005 14:05:09,123,33,1\r\n");
  EXPECT_EQ(queue.Size(), 3u);
  EXPECT_EQ(output.wakes, 3);
  // Each row knows where it goes whole if the database refuses it: beside
  // its own day's file.
  queue.Pop();
  EXPECT_EQ(queue.Front()->csvRow, "PUMPS:DIT:34:0,03/06/2005 14:05:09,123,33,1");
  EXPECT_EQ(queue.Front()->rejectedFile, "D:\\LOG\\VRT_REJ20050306.TXT");
}

TEST(EventLogger, WithoutLoggingOnlyTheMessageAndAFailedFileStopsTheRow) {
  testing::CapturedLog().clear();
  LoggingSettings settings;
  settings.odbcEnabled = true;  // ignored while logging is off
  FakeOutput output;
  SqlQueue queue;
  EventLogger quiet(settings, output, &queue);
  quiet.EventLine(Pumps(), Event());
  EXPECT_EQ(testing::CapturedLog().size(), 1u);
  EXPECT_TRUE(output.files.empty());
  EXPECT_EQ(queue.Size(), 0u);

  settings.loggingEnabled = true;
  output.failing = true;
  EventLogger failing(settings, output, &queue);
  failing.EventLine(Pumps(), Event());
  EXPECT_TRUE(testing::WasLogged("failed to open event log file "));
  EXPECT_EQ(queue.Size(), 0u);  // no database row either

  output.failing = false;
  SqlQueue full(0);
  EventLogger behind(settings, output, &full);
  behind.EventLine(Pumps(), Event());
  EXPECT_TRUE(testing::WasLogged(
      "Event not queued for the database: INSERT INTO EVENTS VALUES ('PUMPS:DIT:34:0','03/07/2005 14:05:09',123,33,1);"));
}

}  // namespace
}  // namespace vrt
