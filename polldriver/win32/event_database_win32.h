// The event-database writer's thread and its ODBC connection: INSERT
// statements queued by the poll thread are executed by a thread of their
// own, woken by the semaphore "RP5" or by the end of a wait the writer asked
// for (a back-off while the database is away). What to do when is decided
// by EventWriter; this file only talks ODBC and runs the thread.
#pragma once

#include <windows.h>
#include <sql.h>

#include <atomic>
#include <memory>
#include <thread>

#include "../event_writer.h"

namespace vrt {

// One ODBC connection with one statement handle, used by one thread at a time.
class OdbcEventLink final : public EventDatabaseLink {
 public:
  OdbcEventLink(const LoggingSettings& settings, const SqlQueue& queue) : settings_(settings), queue_(queue) {}
  ~OdbcEventLink() override { Disconnect(); }
  SqlOutcome Connect() override;
  SqlOutcome Execute(const std::string& statement) override;
  void Disconnect() override;

 private:
  // Every diagnostic record of the last call, whole.
  SqlOutcome Diagnose(SQLRETURN result, SQLHSTMT statement);
  void LogDebug(const SqlOutcome& outcome);
  bool NewStatement();

  LoggingSettings settings_;
  const SqlQueue& queue_;
  SQLHENV environment_ = SQL_NULL_HENV;
  SQLHDBC connection_ = SQL_NULL_HDBC;
  SQLHSTMT statement_ = SQL_NULL_HSTMT;
};

class EventDatabase {
 public:
  EventDatabase(const LoggingSettings& settings, SqlQueue& queue, EventLogOutput& files)
      : link_(settings, queue), writer_(settings, queue, link_, files) {}
  ~EventDatabase() { Stop(); }

  // Connects on the calling thread, then starts the writer.
  void Start();
  // Ends the writer before any handle is freed.
  void Stop();
  // Lets the writer look at its queue (an event, or the periodic kick).
  void Wake();

 private:
  void Run();

  OdbcEventLink link_;
  EventWriter writer_;  // used by the writer thread only once it runs
  HANDLE semaphore_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace vrt
