// The event log's Windows side: ".\VRT.INI" and the daily CSV files.
#pragma once

#include "../event_log.h"

namespace vrt {

// Section "LOGGING" of a private-profile file.
class ProfileSettings final : public SettingsSource {
 public:
  explicit ProfileSettings(const char* file) : file_(file) {}
  int Integer(const char* key, int fallback) override;
  std::string Text(const char* key, const char* fallback, std::size_t maxLength) override;

 private:
  const char* file_;
};

class EventDatabase;

class Win32EventLogOutput final : public EventLogOutput {
 public:
  Append AppendToFile(const std::string& path, const std::string& header, const std::string& row) override;
  void WakeWriter() override;
  // The running database writer, if any.
  EventDatabase* database = nullptr;
};

}  // namespace vrt
