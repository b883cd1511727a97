#include "event_writer.h"

#include <algorithm>

#include "../image/control_block.h"
#include "../image/log_message.h"

namespace vrt {

FailureKind ClassifyFailure(const std::string& sqlState) {
  const std::string stateClass = sqlState.substr(0, 2);
  if (stateClass == "22" || stateClass == "23") return FailureKind::kRowRefused;
  return FailureKind::kConnectionLost;
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    const bool blank = c == '\r' || c == '\n' || c == '\t';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::uint64_t ReconnectDelayMs(std::uint64_t downForMs) {
  return std::clamp<std::uint64_t>(downForMs / 8, 500, 8000);
}

void EventWriter::StartUp(std::uint64_t nowMs) {
  const SqlOutcome outcome = link_.Connect();
  LogMessage(kAttrActivity, "SQLDriverConnect retcode = %d state=%s", outcome.code, outcome.state.c_str());
  LogMessage(kAttrActivity, "msg=%s", outcome.text.c_str());
  if (outcome.Failed()) {
    link_.Disconnect();
    ConnectionFailed(nowMs, outcome);
    return;
  }
  connected_ = true;
}

bool EventWriter::TryConnect(std::uint64_t nowMs) {
  const SqlOutcome outcome = link_.Connect();
  if (outcome.Failed()) {
    link_.Disconnect();
    ConnectionFailed(nowMs, outcome);
    return false;
  }
  connected_ = true;
  if (away_) {
    const std::uint64_t awayMs = nowMs - awaySince_;
    LogMessage(kAttrActivity, "Event database back after %llu.%llu s, %u failed attempts; %zu rows waited",
               static_cast<unsigned long long>(awayMs / 1000), static_cast<unsigned long long>(awayMs % 1000 / 100),
               failedAttempts_, queue_.Size());
  }
  away_ = false;
  failedAttempts_ = 0;
  return true;
}

void EventWriter::ConnectionFailed(std::uint64_t nowMs, const SqlOutcome& outcome) {
  connected_ = false;
  ++failedAttempts_;
  if (!away_) {
    away_ = true;
    awaySince_ = nowMs;
    lastReportAt_ = nowMs;
    LogMessage(kAttrError, "Event database lost, rows wait: %s %s", outcome.state.c_str(), outcome.text.c_str());
  } else if (nowMs - lastReportAt_ >= kOutageReminderMs) {
    lastReportAt_ = nowMs;
    LogMessage(kAttrWarning, "Event database still away after %llu s: %u failed attempts, %zu rows waiting",
               static_cast<unsigned long long>((nowMs - awaySince_) / 1000), failedAttempts_, queue_.Size());
  }
  nextAttemptAt_ = nowMs + ReconnectDelayMs(nowMs - awaySince_);
}

void EventWriter::RowRefused(std::uint64_t nowMs, const QueuedRow& row, const SqlOutcome& outcome) {
  if (++headRefusals_ < kRefusedRowAttempts) {
    nextRowAttemptAt_ = nowMs + kRefusedRowRetryMs;
    return;
  }
  // Set aside whole: the CSV file has the row too, and the rejected-rows
  // file says why the database would not take it.
  std::string quoted;
  for (char c : outcome.text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  const std::string line = row.csvRow + "," + outcome.state + ",\"" + quoted + "\"\r\n";
  const bool kept = !row.rejectedFile.empty() &&
                    files_.AppendToFile(row.rejectedFile, kRejectedRowsHeader, line) != EventLogOutput::Append::kFailed;
  if (kept) {
    LogMessage(kAttrError, "Event row refused by the database, kept in %s: %s %s", row.rejectedFile.c_str(),
               outcome.state.c_str(), outcome.text.c_str());
  } else {
    LogMessage(kAttrError, "Event row refused by the database: %s %s %s", row.statement.c_str(),
               outcome.state.c_str(), outcome.text.c_str());
  }
  queue_.Pop();
  headRefusals_ = 0;
  nextRowAttemptAt_ = 0;
}

std::optional<std::uint64_t> EventWriter::Work(std::uint64_t nowMs) {
  if (!connected_) {
    const bool rowsWait = queue_.Size() > 0;
    if (nowMs < nextAttemptAt_) {
      if (rowsWait) return nextAttemptAt_ - nowMs;
      return std::nullopt;  // nothing waits: the next event or kick
    }
    if (settings_.odbcDebug) LogMessage(kAttrActivity, "SQL database connect failure");
    if (!TryConnect(nowMs)) return rowsWait ? std::optional<std::uint64_t>(nextAttemptAt_ - nowMs) : std::nullopt;
  }
  for (std::size_t written = 0; written < kRowsPerWork; ++written) {
    if (nowMs < nextRowAttemptAt_) return nextRowAttemptAt_ - nowMs;
    const std::optional<QueuedRow> row = queue_.Front();
    if (!row) return std::nullopt;
    const SqlOutcome outcome = link_.Execute(row->statement);
    if (settings_.odbcDebug) LogMessage(kAttrActivity, "%s", row->statement.c_str());
    if (!outcome.Failed()) {
      queue_.Pop();
      headRefusals_ = 0;
      continue;
    }
    if (ClassifyFailure(outcome.state) == FailureKind::kRowRefused) {
      RowRefused(nowMs, *row, outcome);
      continue;
    }
    // The row stays at the head and is written once the connection is back.
    link_.Disconnect();
    ConnectionFailed(nowMs, outcome);
    return nextAttemptAt_ - nowMs;
  }
  return 0;  // more rows: call again at once
}

}  // namespace vrt
