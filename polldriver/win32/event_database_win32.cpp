#include "event_database_win32.h"

#include <sqlext.h>

#include <cstring>
#include <string>

#include "../../image/control_block.h"
#include "../../image/log_message.h"

namespace vrt {

namespace {

// DSN, UID and PWD travel in 16-byte fields.
struct Field16 {
  explicit Field16(const std::string& text) {
    std::strncpy(reinterpret_cast<char*>(bytes), text.c_str(), sizeof bytes - 1);
  }
  SQLCHAR bytes[16] = {};
};

// A server's diagnostic text can be long (a connect failure lists every
// address it tried); the records are read until there are no more.
constexpr int kMaxDiagnosticRecords = 16;
constexpr SQLSMALLINT kDiagnosticTextSize = 4096;

std::uint64_t SteadyMs() { return GetTickCount64(); }

}  // namespace

SqlOutcome OdbcEventLink::Diagnose(SQLRETURN result, SQLHSTMT statement) {
  SqlOutcome outcome;
  outcome.code = result;
  std::string text;
  for (int record = 0; record < kMaxDiagnosticRecords; ++record) {
    SQLCHAR state[8] = {};
    std::string message(kDiagnosticTextSize, '\0');
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN got = SQLError(environment_, connection_, statement, state, &native,
                                   reinterpret_cast<SQLCHAR*>(message.data()), kDiagnosticTextSize - 1, &length);
    if (got != SQL_SUCCESS && got != SQL_SUCCESS_WITH_INFO) break;
    message.resize(std::strlen(message.c_str()));
    if (record == 0) outcome.state = reinterpret_cast<const char*>(state);
    const std::string line = OneLine(message);
    if (line.empty()) continue;
    if (!text.empty()) text += " / ";
    text += line;
  }
  if (outcome.state.empty()) outcome.state = "00000";
  outcome.text = text;
  return outcome;
}

void OdbcEventLink::LogDebug(const SqlOutcome& outcome) {
  LogMessage(kAttrActivity, "ODBC debug ok=%u retcode=%d state=%s pcbErrorMsg=%d t=%d h=%u",
             statement_ != SQL_NULL_HSTMT && outcome.code >= 0 ? 1u : 0u, outcome.code, outcome.state.c_str(),
             static_cast<int>(outcome.text.size()), 0, static_cast<unsigned>(queue_.Size()));
  const std::string& text = outcome.text;
  if (!text.empty()) {
    LogMessage(kAttrActivity, "%s", text.c_str());
    if (text.size() > 80) LogMessage(kAttrActivity, "%s", text.c_str() + 80);
    if (text.size() > 160) LogMessage(kAttrActivity, "%s", text.c_str() + 160);
  }
}

SqlOutcome OdbcEventLink::Connect() {
  Disconnect();
  if (SQLAllocEnv(&environment_) == SQL_ERROR) {
    environment_ = SQL_NULL_HENV;
    return {SQL_ERROR, "HY001", "the ODBC environment could not be allocated"};
  }
  if (SQLAllocConnect(environment_, &connection_) == SQL_ERROR) {
    connection_ = SQL_NULL_HDBC;
    return {SQL_ERROR, "HY001", "the ODBC connection could not be allocated"};
  }
  Field16 dsn(settings_.dsn), uid(settings_.uid), pwd(settings_.pwd);
  const SQLRETURN result = SQLConnect(connection_, dsn.bytes, SQL_NTS, uid.bytes, SQL_NTS, pwd.bytes, SQL_NTS);
  const SqlOutcome outcome = Diagnose(result, SQL_NULL_HSTMT);
  if (settings_.odbcDebug) LogDebug(outcome);
  if (outcome.Failed()) return outcome;
  if (!NewStatement()) return {SQL_ERROR, "HY001", "no statement handle on the new connection"};
  if (settings_.odbcDebug) LogMessage(kAttrActivity, "Connected to ODBC Database");
  return outcome;
}

bool OdbcEventLink::NewStatement() {
  if (statement_ != SQL_NULL_HSTMT) SQLFreeStmt(statement_, SQL_DROP);
  statement_ = SQL_NULL_HSTMT;
  if (SQLAllocStmt(connection_, &statement_) == SQL_ERROR) {
    statement_ = SQL_NULL_HSTMT;
    return false;
  }
  return true;
}

SqlOutcome OdbcEventLink::Execute(const std::string& statement) {
  if (statement_ == SQL_NULL_HSTMT) return {SQL_ERROR, "08003", "no statement handle on the connection"};
  const SQLRETURN result = SQLExecDirect(statement_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.c_str())),
                                         static_cast<SQLINTEGER>(statement.size()));
  if (result == SQL_SUCCESS && !settings_.odbcDebug) return {};
  SqlOutcome outcome = Diagnose(result, statement_);
  if (settings_.odbcDebug) LogDebug(outcome);
  // Anything but plain success (an error, with information, no data)
  // leaves the statement handle in a state of its own: start afresh.
  if (result != SQL_SUCCESS) NewStatement();
  return outcome;
}

void OdbcEventLink::Disconnect() {
  if (statement_ != SQL_NULL_HSTMT) SQLFreeStmt(statement_, SQL_DROP);
  if (connection_ != SQL_NULL_HDBC) {
    SQLDisconnect(connection_);
    SQLFreeConnect(connection_);
  }
  if (environment_ != SQL_NULL_HENV) SQLFreeEnv(environment_);
  statement_ = SQL_NULL_HSTMT;
  connection_ = SQL_NULL_HDBC;
  environment_ = SQL_NULL_HENV;
}

void EventDatabase::Start() {
  writer_.StartUp(SteadyMs());
  semaphore_ = CreateSemaphoreA(nullptr, 0, 16, "RP5");
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
}

void EventDatabase::Wake() {
  if (semaphore_ != nullptr) ReleaseSemaphore(semaphore_, 1, nullptr);
}

void EventDatabase::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  ReleaseSemaphore(semaphore_, 1, nullptr);
  thread_.join();
  link_.Disconnect();
  CloseHandle(semaphore_);
  semaphore_ = nullptr;
}

// The writer waits for the semaphore, or for as long as EventWriter asked
// (the next connection attempt, the next try of a refused row), whichever
// comes first; every wake-up lets it do what is due. No lock is held here:
// the queue locks itself for each look.
void EventDatabase::Run() {
  while (!stopping_) {
    std::optional<std::uint64_t> wait = writer_.Work(SteadyMs());
    if (stopping_) break;
#if defined(VRT_BENCH_WRITER_WAITS_FOR_WAKEUPS)
    // The writer as it was: it looks again only when an event or the
    // periodic kick wakes it.
    if (wait && *wait > 0) wait.reset();
#endif
    if (wait && *wait == 0) continue;
    WaitForSingleObject(semaphore_, wait ? static_cast<DWORD>(*wait) : INFINITE);
  }
}

}  // namespace vrt
