// Statements against an ODBC data source, as the tests and the soak check
// what the driver's event writer put there.
#pragma once

#include <string>
#include <vector>

namespace vrt::testing {

// Runs the statements; the rows of the last one, their first `columns`
// fields joined by `separator`. "connect failed" when the source cannot be reached.
std::vector<std::string> SqlRows(const char* dataSource, const std::vector<std::string>& statements, int columns,
                                 const std::string& separator);

}  // namespace vrt::testing
