// The event-database writer's decisions, apart from ODBC and threads: when
// to connect again, what a failed INSERT means, what the operator is told
// during an outage, and where a row the database refuses for good goes.
//
// The writer keeps every queued row and their order. While the database is
// away it tries again on a back-off of its own, not only when an event or
// the periodic kick wakes it, and writes every waiting row as soon as a
// connection is made. A row the database refuses for its content (a data
// or constraint error) is tried a few times and then set aside whole, with
// the database's words, in the day's rejected-rows file, so that the rows
// behind it are not held up for ever.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "event_log.h"

namespace vrt {

// What the database said to one call.
struct SqlOutcome {
  int code = 0;       // ODBC return code: 0 success, 1 with information, negative an error
  std::string state;  // SQLSTATE of the first diagnostic record
  std::string text;   // every diagnostic record's message, on one line
  bool Failed() const { return code < 0; }
};

enum class FailureKind {
  // The connection is gone or unusable (class 08, 57 — a server shut down
  // or restarted — and anything that says nothing about the row): the
  // row stays at the head and the connection is made again.
  kConnectionLost,
  // The database refuses this row's content (class 22 data exception,
  // class 23 integrity constraint violation).
  kRowRefused,
};
FailureKind ClassifyFailure(const std::string& sqlState);

// Diagnostic messages as one line: line breaks and tabs of the database's
// texts become single blanks, records are joined with " / ".
std::string OneLine(const std::string& text);

// The wait before the next connection attempt, from how long the database
// has been away: an eighth of the outage, at least 0.5 s and at most 8 s,
// so rows wait at most about an eighth longer than the outage itself while
// a long outage costs a few attempts a minute.
std::uint64_t ReconnectDelayMs(std::uint64_t downForMs);

inline constexpr int kRefusedRowAttempts = 3;          // tries of a refused row before it is set aside
inline constexpr std::uint64_t kRefusedRowRetryMs = 500;  // between them
inline constexpr std::uint64_t kOutageReminderMs = 60000;  // at most one reminder a minute
inline constexpr std::size_t kRowsPerWork = 64;        // rows written before the thread looks up again

// The ODBC side: one connection with one statement handle.
class EventDatabaseLink {
 public:
  virtual ~EventDatabaseLink() = default;
  // Connects and allocates the statement handle.
  virtual SqlOutcome Connect() = 0;
  virtual SqlOutcome Execute(const std::string& statement) = 0;
  // Frees whatever Connect made; harmless when nothing is connected.
  virtual void Disconnect() = 0;
};

// Used by the writer thread only; the queue is shared with the poll thread
// through its own lock.
class EventWriter {
 public:
  EventWriter(const LoggingSettings& settings, SqlQueue& queue, EventDatabaseLink& link, EventLogOutput& files)
      : settings_(settings), queue_(queue), link_(link), files_(files) {}

  // The connect at network start-up; reports its result in any case.
  void StartUp(std::uint64_t nowMs);
  // Does what is due at `nowMs` (a steady clock in milliseconds): connect
  // again, write waiting rows. Returns how long the thread may wait for a
  // wake-up before calling again; nothing: until it is woken.
  std::optional<std::uint64_t> Work(std::uint64_t nowMs);

  bool Connected() const { return connected_; }
  std::uint32_t FailedAttempts() const { return failedAttempts_; }

 private:
  bool TryConnect(std::uint64_t nowMs);
  void ConnectionFailed(std::uint64_t nowMs, const SqlOutcome& outcome);
  void RowRefused(std::uint64_t nowMs, const QueuedRow& row, const SqlOutcome& outcome);

  LoggingSettings settings_;
  SqlQueue& queue_;
  EventDatabaseLink& link_;
  EventLogOutput& files_;

  bool connected_ = false;
  bool away_ = false;  // an outage has been reported and not yet ended
  std::uint64_t awaySince_ = 0;
  std::uint64_t nextAttemptAt_ = 0;
  std::uint64_t lastReportAt_ = 0;
  std::uint32_t failedAttempts_ = 0;
  int headRefusals_ = 0;  // how often the row at the head was refused
  std::uint64_t nextRowAttemptAt_ = 0;
};

}  // namespace vrt
