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

}  // namespace

void EventDatabase::LogDiagnostics(SQLRETURN result, SQLHSTMT statement) {
  SQLCHAR state[8] = {};
  SQLCHAR message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLError(environment_, connection_, statement, state, &native, message, sizeof message - 1, &length);
  LogMessage(kAttrActivity, "ODBC debug ok=%u retcode=%d state=%s pcbErrorMsg=%d t=%d h=%u", connected_ ? 1u : 0u,
             static_cast<int>(result), reinterpret_cast<const char*>(state), static_cast<int>(length), 0,
             static_cast<unsigned>(queue_.Size()));
  const std::string text(reinterpret_cast<const char*>(message));
  if (!text.empty()) {
    LogMessage(kAttrActivity, "%s", text.c_str());
    if (text.size() > 80) LogMessage(kAttrActivity, "%s", text.c_str() + 80);
    if (text.size() > 160) LogMessage(kAttrActivity, "%s", text.c_str() + 160);
  }
}

void EventDatabase::Connect() {
  // Unlike the queue of old, a connect keeps the statements waiting: rows
  // that arrive while the database is away reach it once it is back.
  if (SQLAllocEnv(&environment_) == SQL_ERROR) {
    environment_ = SQL_NULL_HENV;
    return;
  }
  if (SQLAllocConnect(environment_, &connection_) == SQL_ERROR) {
    connection_ = SQL_NULL_HDBC;
    return;
  }
  Field16 dsn(settings_.dsn), uid(settings_.uid), pwd(settings_.pwd);
  const SQLRETURN result = SQLConnect(connection_, dsn.bytes, SQL_NTS, uid.bytes, SQL_NTS, pwd.bytes, SQL_NTS);
  if (settings_.odbcDebug) LogDiagnostics(result, SQL_NULL_HSTMT);
  SQLCHAR state[8] = {};
  SQLCHAR message[65] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLError(environment_, connection_, SQL_NULL_HSTMT, state, &native, message, sizeof message - 1, &length);
  LogMessage(kAttrActivity, "SQLDriverConnect retcode = %d state=%s", static_cast<int>(result),
             reinterpret_cast<const char*>(state));
  LogMessage(kAttrActivity, "msg=%s", reinterpret_cast<const char*>(message));
  if (result < 0) return;
  if (SQLAllocStmt(connection_, &statement_) == SQL_ERROR) {
    statement_ = SQL_NULL_HSTMT;
    return;
  }
  connected_ = true;
  if (settings_.odbcDebug) LogMessage(kAttrActivity, "Connected to ODBC Database");
}

void EventDatabase::Disconnect() {
  if (statement_ != SQL_NULL_HSTMT) SQLFreeStmt(statement_, SQL_DROP);
  if (connection_ != SQL_NULL_HDBC) {
    SQLDisconnect(connection_);
    SQLFreeConnect(connection_);
  }
  if (environment_ != SQL_NULL_HENV) SQLFreeEnv(environment_);
  statement_ = SQL_NULL_HSTMT;
  connection_ = SQL_NULL_HDBC;
  environment_ = SQL_NULL_HENV;
  connected_ = false;
}

void EventDatabase::Start() {
  connected_ = false;
  Connect();
  semaphore_ = CreateSemaphoreA(nullptr, 0, 16, "RP5");
  stopping_ = false;
  writer_ = std::thread([this] { Run(); });
}

void EventDatabase::Wake() {
  if (semaphore_ != nullptr) ReleaseSemaphore(semaphore_, 1, nullptr);
}

void EventDatabase::Stop() {
  if (!writer_.joinable()) return;
  stopping_ = true;
  ReleaseSemaphore(semaphore_, 1, nullptr);
  writer_.join();
  Disconnect();
  CloseHandle(semaphore_);
  semaphore_ = nullptr;
}

void EventDatabase::Run() {
  while (!stopping_) {
    if (!connected_) {
      if (settings_.odbcDebug) LogMessage(kAttrActivity, "SQL database connect failure");
      Disconnect();
      Connect();
      WaitForSingleObject(semaphore_, INFINITE);
      continue;
    }
    WaitForSingleObject(semaphore_, INFINITE);
    while (!stopping_) {
      const std::optional<std::string> statement = queue_.Front();
      if (!statement) break;
      const SQLRETURN result =
          SQLExecDirect(statement_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement->c_str())),
                        static_cast<SQLINTEGER>(statement->size()));
      if (settings_.odbcDebug) LogMessage(kAttrActivity, "%s", statement->c_str());
      if (result < 0) {
        if (settings_.odbcDebug) LogDiagnostics(result, statement_);
        // A lost connection (SQLSTATE class 08) is made again: allocating a
        // statement handle on it may still succeed, and the rows would
        // otherwise wait for ever.
        SQLCHAR state[8] = {};
        SQLCHAR message[8] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLError(environment_, connection_, statement_, state, &native, message, sizeof message - 1, &length);
        const bool connectionLost = state[0] == '0' && state[1] == '8';
        SQLFreeStmt(statement_, SQL_DROP);
        statement_ = SQL_NULL_HSTMT;
        if (connectionLost || SQLAllocStmt(connection_, &statement_) == SQL_ERROR) {
          statement_ = SQL_NULL_HSTMT;
          connected_ = false;
        }
        break;  // the statement stays at the head and is tried again
      }
      if (result != SQL_SUCCESS) {
        SQLFreeStmt(statement_, SQL_DROP);
        if (SQLAllocStmt(connection_, &statement_) == SQL_ERROR) {
          statement_ = SQL_NULL_HSTMT;
          connected_ = false;
        }
      }
      queue_.Pop();
      if (settings_.odbcDebug) LogDiagnostics(result, statement_);
    }
  }
}

}  // namespace vrt
