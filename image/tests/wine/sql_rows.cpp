#include "sql_rows.h"

#include <windows.h>
#include <sql.h>
#include <sqlext.h>

namespace vrt::testing {

std::vector<std::string> SqlRows(const char* dataSource, const std::vector<std::string>& statements, int columns,
                                 const std::string& separator) {
  std::vector<std::string> rows;
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLAllocEnv(&environment);
  SQLAllocConnect(environment, &connection);
  if (SQLConnect(connection, reinterpret_cast<SQLCHAR*>(const_cast<char*>(dataSource)), SQL_NTS, nullptr, 0, nullptr,
                 0) < 0) {
    rows.push_back("connect failed");
  } else {
    for (const std::string& text : statements) {
      SQLHSTMT statement = SQL_NULL_HSTMT;
      SQLAllocStmt(connection, &statement);
      SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
      rows.clear();
      while (SQLFetch(statement) == SQL_SUCCESS) {
        std::string row;
        for (SQLUSMALLINT column = 1; column <= columns; ++column) {
          char field[128] = {};
          SQLLEN length = 0;
          if (SQLGetData(statement, column, SQL_C_CHAR, field, sizeof field, &length) < 0) break;
          row += (column > 1 ? separator : "") + std::string(field);
        }
        rows.push_back(row);
      }
      SQLFreeStmt(statement, SQL_DROP);
    }
    SQLDisconnect(connection);
  }
  SQLFreeConnect(connection);
  SQLFreeEnv(environment);
  return rows;
}

}  // namespace vrt::testing
