// The [LOGGING] section of VRT.INI: the driver reads it through the
// settings interface (on Windows the private-profile calls do the parsing),
// then forms every event's texts and file names from it. Here an INI text
// is read the way those calls read it (sections and keys without regard to
// case, the first key of a name wins, blanks around names and values
// dropped, values of at most 255 characters, numbers as their leading
// digits), and what the settings lead to is checked for every event.
//
// Input: the device name (first line), 28 bytes of an event record, then
// the INI text.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "event_log.h"
#include "event_text_checks.h"
#include "fuzz_check.h"

namespace {

using namespace vrt;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && (text[first] == ' ' || text[first] == '\t' || text[first] == '\r')) ++first;
  while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t' || text[last - 1] == '\r')) --last;
  return text.substr(first, last - first);
}

class IniSettings final : public SettingsSource {
 public:
  explicit IniSettings(const std::string& text) {
    std::string section;
    std::size_t at = 0;
    while (at <= text.size()) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string line = Trim(text.substr(at, end - at));
      at = end + 1;
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        const std::size_t close = line.find(']');
        section = Lower(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
        continue;
      }
      const std::size_t equals = line.find('=');
      if (section != "logging" || equals == std::string::npos) continue;
      std::string value = Trim(line.substr(equals + 1));
      // The profile calls hand back at most 255 characters, up to a zero.
      value = value.substr(0, std::min<std::size_t>(std::strlen(value.c_str()), 255));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      values_.emplace(Lower(Trim(line.substr(0, equals))), value);
    }
  }

  int Integer(const char* key, int fallback) override {
    read.insert(key);
    const auto found = values_.find(Lower(key));
    if (found == values_.end()) return fallback;
    const std::string& value = found->second;
    std::size_t at = 0;
    const bool negative = at < value.size() && value[at] == '-';
    if (negative) ++at;
    unsigned number = 0;
    for (; at < value.size() && value[at] >= '0' && value[at] <= '9'; ++at) number = number * 10u + (value[at] - '0');
    return static_cast<int>(negative ? 0u - number : number);
  }

  std::string Text(const char* key, const char* fallback, std::size_t maxLength) override {
    read.insert(key);
    const auto found = values_.find(Lower(key));
    const std::string value = found == values_.end() ? std::string(fallback) : found->second;
    return value.substr(0, maxLength);
  }

  std::set<std::string> read;

 private:
  std::map<std::string, std::string> values_;
};

class RecordingOutput final : public EventLogOutput {
 public:
  Append AppendToFile(const std::string& path, const std::string& header, const std::string& row) override {
    VRT_FUZZ_CHECK(header == kCsvHeader, "the day's file got another header");
    VRT_FUZZ_CHECK(!path.empty() && !row.empty(), "an empty file name or row");
    ++rows;
    return (rows % 3 == 0) ? Append::kFailed : Append::kAppended;
  }
  void WakeWriter() override { ++wakes; }
  int rows = 0;
  int wakes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  DitDevice device{};
  const std::string name = input.Line();
  std::memcpy(device.name, name.data(), std::min(name.size(), sizeof device.name));
  SoeEventRecord stored{};
  const std::vector<std::uint8_t> eventBytes = input.Bytes(sizeof stored);
  if (!eventBytes.empty()) std::memcpy(&stored, eventBytes.data(), eventBytes.size());
  IniSettings source(input.RestText());

  const LoggingSettings settings = ReadLoggingSettings(source);
  if (!settings.loggingEnabled) {
    VRT_FUZZ_CHECK(source.read == std::set<std::string>{"Logging_enabled"}, "keys read with logging off");
    VRT_FUZZ_CHECK(settings.logDataPath.empty() && !settings.odbcEnabled, "settings taken with logging off");
  }
  if (!settings.odbcEnabled) {
    VRT_FUZZ_CHECK(settings.dsn.empty() && settings.uid.empty() && settings.pwd.empty() && !settings.odbcDebug,
                   "database settings taken with the database off");
  }
  VRT_FUZZ_CHECK(settings.dsn.size() <= 15 && settings.uid.size() <= 15 && settings.pwd.size() <= 15,
                 "a database name, user or password longer than 15 characters");
  VRT_FUZZ_CHECK(settings.logDataPath.size() <= 255, "a log data path longer than 255 characters");

  // The fuzzed event and a few the decoder can store (first and last input,
  // odd stamps), each through the texts and the logger.
  std::vector<SoeEventRecord> events = {stored};
  events.push_back(SoeEventRecord{2004, 1, 0, 1, 0, 0, 0, 0, 1, 32, 0, 1, 0, 1});
  events.push_back(SoeEventRecord{2099, 12, 0, 31, 23, 59, 59, 999, 4096, 287, 15, 0, 0, 1});
  events.push_back(
      SoeEventRecord{65535, 65535, 0, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 0, 1});
  RecordingOutput output;
  SqlQueue queue(2);
  EventLogger logger(settings, output, &queue);
  const std::string deviceName = DeviceName(device, kDitVersion);
  for (const SoeEventRecord& event : events) {
    fuzz::CheckEventTexts(deviceName, event, settings);
    logger.EventLine(device, event);
  }
  VRT_FUZZ_CHECK(settings.loggingEnabled || output.rows == 0, "rows written with logging off");
  VRT_FUZZ_CHECK(settings.odbcEnabled || queue.Size() == 0, "statements queued with the database off");
  VRT_FUZZ_CHECK(queue.Size() <= 2, "the statement queue grew past its capacity");
  return 0;
}
