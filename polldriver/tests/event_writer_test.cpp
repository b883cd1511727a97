// The event-database writer through outages and refused rows, against a
// database that follows a script and a clock that moves only when the
// writer waits.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "captured_log.h"
#include "event_writer.h"
#include "memory_files.h"

namespace vrt {
namespace {

// A database that is up or down by the clock, refuses statements that
// contain a given text, and records what it committed and when.
class ScriptedDatabase final : public EventDatabaseLink {
 public:
  explicit ScriptedDatabase(const std::uint64_t& now) : now_(now) {}
  SqlOutcome Connect() override {
    ++connects;
    if (Down()) return {-1, "08001", "could not connect to server: Connection refused / Is the server running?"};
    connected_ = true;
    return {};
  }
  SqlOutcome Execute(const std::string& statement) override {
    ++executes[statement];
    if (!connected_) return {-1, "08003", "no connection to the server"};
    if (Down()) {
      // The first statement after a shutdown sees the shutdown itself, not
      // a communication failure.
      connected_ = false;
      return {-1, "57P01", "FATAL: terminating connection due to administrator command"};
    }
    if (!refuse.empty() && statement.find(refuse) != std::string::npos) {
      return {-1, "22008", "ERROR: date/time field value out of range: \"13/12/2026 10:00:00\""};
    }
    committed.push_back(statement);
    commitTimes.push_back(now_);
    return {};
  }
  void Disconnect() override { connected_ = false; }

  bool Down() const { return now_ >= downFrom && now_ < downUntil; }

  std::uint64_t downFrom = ~0ull;
  std::uint64_t downUntil = 0;
  std::string refuse;
  int connects = 0;
  std::map<std::string, int> executes;
  std::vector<std::string> committed;
  std::vector<std::uint64_t> commitTimes;

 private:
  const std::uint64_t& now_;
  bool connected_ = false;
};

using testing::MemoryFiles;

class WriterRun : public ::testing::Test {
 protected:
  void SetUp() override { testing::CapturedLog().clear(); }

  // Rows arrive with the poll thread's wake-ups; between them the writer
  // sleeps as long as it asked to.
  void Queue(int first, int last) {
    for (int row = first; row <= last; ++row) {
      queue.Push(QueuedRow{Statement(row), "EVR1:DIT:32:0,x," + std::to_string(row), "L\\VRT_REJ20261213.TXT"});
    }
    wokenAt = now;
  }
  static std::string Statement(int row) { return "INSERT " + std::to_string(row); }

  // Runs the writer thread's loop until `until`: it calls Work when woken
  // or when its wait is over.
  void RunUntil(std::uint64_t until) {
    while (now < until) {
      const std::optional<std::uint64_t> wait = writer.Work(now);
      if (wait && *wait == 0) continue;
      std::uint64_t next = wait ? now + *wait : until;
      if (wokenAt > now && wokenAt < next) next = wokenAt;
      now = std::min(next, until);
    }
  }

  std::vector<std::string> Statements(int first, int last) {
    std::vector<std::string> statements;
    for (int row = first; row <= last; ++row) statements.push_back(Statement(row));
    return statements;
  }

  std::uint64_t now = 1000;
  std::uint64_t wokenAt = 0;
  LoggingSettings settings;
  SqlQueue queue;
  ScriptedDatabase database{now};
  MemoryFiles files;
  EventWriter writer{settings, queue, database, files};
};

TEST(EventWriterRules, WhatAFailedStatementMeans) {
  struct Case {
    const char* state;
    FailureKind kind;
  } cases[] = {
      {"08S01", FailureKind::kConnectionLost},  // communication link failure
      {"08001", FailureKind::kConnectionLost},
      {"57P01", FailureKind::kConnectionLost},  // administrator shutdown
      {"57P02", FailureKind::kConnectionLost},  // crash shutdown
      {"42P01", FailureKind::kConnectionLost},  // no such table: nothing wrong with the row
      {"HY000", FailureKind::kConnectionLost},
      {"", FailureKind::kConnectionLost},
      {"22007", FailureKind::kRowRefused},  // invalid date/time format
      {"22008", FailureKind::kRowRefused},  // date/time field out of range
      {"23505", FailureKind::kRowRefused},  // unique violation
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyFailure(c.state), c.kind) << c.state;
}

TEST(EventWriterRules, TheBackOffStartsAtHalfASecondAndStopsGrowingAtEight) {
  EXPECT_EQ(ReconnectDelayMs(0), 500u);
  EXPECT_EQ(ReconnectDelayMs(4000), 500u);
  EXPECT_EQ(ReconnectDelayMs(10000), 1250u);
  EXPECT_EQ(ReconnectDelayMs(64000), 8000u);
  EXPECT_EQ(ReconnectDelayMs(3600000), 8000u);
  EXPECT_EQ(OneLine("ERROR:  value too long\n\tDETAIL: x\r\n"), "ERROR:  value too long DETAIL: x");
}

TEST_F(WriterRun, ATenSecondOutageEndsWithEveryRowInOrderWithinTwoSecondsAndFewMessages) {
  writer.StartUp(now);
  ASSERT_TRUE(writer.Connected());
  Queue(1, 100);
  database.downFrom = now + 1;  // just after the first rows went in
  database.downUntil = now + 10000;
  RunUntil(now + 1);
  Queue(101, 200);  // arrive during the outage
  RunUntil(database.downUntil + 20000);

  std::vector<std::string> expected = Statements(1, 200);
  EXPECT_EQ(database.committed, expected);
  EXPECT_EQ(queue.Size(), 0u);
  // The last row is in within two seconds of the server's return.
  ASSERT_FALSE(database.commitTimes.empty());
  EXPECT_LE(database.commitTimes.back(), database.downUntil + 2000);
  // A handful of attempts, not hundreds.
  EXPECT_LT(database.connects, 25);
  // One line when lost, with the whole text, none while away for ten
  // seconds, one when back.
  EXPECT_TRUE(testing::WasLogged(
      "Event database lost, rows wait: 57P01 FATAL: terminating connection due to administrator command"));
  EXPECT_EQ(testing::CapturedLog().size(), 4u);  // two of the start-up connect, lost, back
  bool back = false;
  for (const testing::LoggedMessage& message : testing::CapturedLog()) {
    if (message.text.rfind("Event database back after 1", 0) == 0) {
      back = message.text.find("; 100 rows waited") != std::string::npos;  // rows 101..200 waited; 1..100 before
    }
  }
  EXPECT_TRUE(back);
}

TEST_F(WriterRun, ALongOutageRemindsOnceAMinuteAndBacksOffToEightSeconds) {
  writer.StartUp(now);
  database.downFrom = now;
  database.downUntil = now + 290000;
  Queue(1, 3);
  RunUntil(database.downUntil + 10000);
  EXPECT_EQ(database.committed, Statements(1, 3));
  int reminders = 0;
  for (const testing::LoggedMessage& message : testing::CapturedLog()) {
    if (message.text.rfind("Event database still away", 0) == 0) {
      ++reminders;
      EXPECT_EQ(message.attribute, 80);
    }
  }
  EXPECT_EQ(reminders, 4);  // at about 1, 2, 3 and 4 minutes
  EXPECT_LT(database.connects, 70);
  EXPECT_LE(database.commitTimes.back(), database.downUntil + 8000);
}

TEST_F(WriterRun, ARefusedRowIsSetAsideAndTheRowsBehindItGoOn) {
  writer.StartUp(now);
  database.refuse = "INSERT 2";
  Queue(1, 4);
  RunUntil(now + 10000);
  EXPECT_EQ(database.committed, (std::vector<std::string>{"INSERT 1", "INSERT 3", "INSERT 4"}));
  EXPECT_EQ(database.executes["INSERT 2"], kRefusedRowAttempts);
  EXPECT_EQ(files.files["L\\VRT_REJ20261213.TXT"],
            std::string(kRejectedRowsHeader) +
                "EVR1:DIT:32:0,x,2,22008,\"ERROR: date/time field value out of range: \"\"13/12/2026 10:00:00\"\"\"\r\n");
  EXPECT_EQ(testing::CountLogged(
                "Event row refused by the database, kept in L\\VRT_REJ20261213.TXT: 22008 ERROR: date/time field "
                "value out of range: \"13/12/2026 10:00:00\""),
            1);
  EXPECT_TRUE(writer.Connected());

  // With no file to keep it in, the statement itself is in the message.
  files.failing = true;
  Queue(2, 2);
  RunUntil(now + 10000);
  EXPECT_TRUE(testing::WasLogged(
      "Event row refused by the database: INSERT 2 22008 ERROR: date/time field value out of range: \"13/12/2026 "
      "10:00:00\""));
  EXPECT_EQ(queue.Size(), 0u);
}

TEST_F(WriterRun, AFailedStartUpIsReportedAndRowsWaitForTheDatabase) {
  database.downFrom = 0;
  database.downUntil = now + 3000;
  writer.StartUp(now);
  EXPECT_FALSE(writer.Connected());
  EXPECT_TRUE(testing::WasLogged("SQLDriverConnect retcode = -1 state=08001"));
  EXPECT_TRUE(testing::WasLogged("msg=could not connect to server: Connection refused / Is the server running?"));
  // Nothing waits: the writer sleeps until woken.
  EXPECT_FALSE(writer.Work(now + 100).has_value());
  Queue(1, 2);
  RunUntil(now + 10000);
  EXPECT_EQ(database.committed, Statements(1, 2));
  EXPECT_EQ(testing::CountLogged("Event database lost, rows wait: 08001 could not connect to server: Connection "
                                 "refused / Is the server running?"),
            1);
}

}  // namespace
}  // namespace vrt
