#include "event_files_win32.h"

#include <windows.h>

#include "event_database_win32.h"

namespace vrt {

int ProfileSettings::Integer(const char* key, int fallback) {
  return static_cast<int>(GetPrivateProfileIntA(kLoggingSection, key, fallback, file_));
}

std::string ProfileSettings::Text(const char* key, const char* fallback, std::size_t maxLength) {
  char buffer[256] = {};
  GetPrivateProfileStringA(kLoggingSection, key, fallback, buffer, sizeof buffer, file_);
  return std::string(buffer).substr(0, maxLength);
}

namespace {

bool WriteAll(HANDLE file, const std::string& text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == static_cast<DWORD>(text.size());
}

}  // namespace

EventLogOutput::Append Win32EventLogOutput::AppendToFile(const std::string& path, const std::string& header,
                                                         const std::string& row) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return Append::kFailed;
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  SetFilePointer(file, 0, nullptr, FILE_END);
  const bool written = (!created || WriteAll(file, header)) && WriteAll(file, row);
  CloseHandle(file);
  if (!written) return Append::kFailed;
  return created ? Append::kCreated : Append::kAppended;
}

void Win32EventLogOutput::WakeWriter() {
  if (database != nullptr) database->Wake();
}

}  // namespace vrt
