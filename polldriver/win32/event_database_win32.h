// The event-database writer: INSERT statements queued by the poll thread are
// executed through ODBC by a thread of their own, woken by the semaphore
// "RP5". A connection that fails is made again at every wake-up; a statement
// that fails stays at the head of the queue and is tried again.
#pragma once

#include <windows.h>
#include <sql.h>

#include <atomic>
#include <thread>

#include "../event_log.h"

namespace vrt {

class EventDatabase {
 public:
  EventDatabase(const LoggingSettings& settings, SqlQueue& queue) : settings_(settings), queue_(queue) {}
  ~EventDatabase() { Stop(); }

  // Connects on the calling thread, then starts the writer.
  void Start();
  // Ends the writer before any handle is freed.
  void Stop();
  // Lets the writer look at its queue (an event, or the periodic kick).
  void Wake();

 private:
  void Connect();
  void Disconnect();
  void Run();
  void LogDiagnostics(SQLRETURN result, SQLHSTMT statement);

  LoggingSettings settings_;
  SqlQueue& queue_;
  SQLHENV environment_ = SQL_NULL_HENV;
  SQLHDBC connection_ = SQL_NULL_HDBC;
  SQLHSTMT statement_ = SQL_NULL_HSTMT;
  bool connected_ = false;
  HANDLE semaphore_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::thread writer_;
};

}  // namespace vrt
