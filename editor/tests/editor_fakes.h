// Fakes of the program around the editor's core, for the tests: a user
// interface that records what it was shown and answers as told, a registry
// held in memory, a fixed clock, and a scratch folder.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "did_doc.h"
#include "editor_services.h"

namespace vrt::editor::testing {

struct ShownMessage {
  std::string text;
  std::string title;
  MessageIcon icon;
};

class RecordingUi : public EditorUserInterface {
 public:
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    shown.push_back({text, title, icon});
  }
  Answer Ask(const std::string& text, const std::string& title, Buttons, MessageIcon) override {
    asked.push_back({text, title, MessageIcon::kQuestion});
    return answer;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const ShownMessage& message : shown) texts.push_back(message.text);
    return texts;
  }

  std::vector<ShownMessage> shown;
  std::vector<ShownMessage> asked;
  Answer answer = Answer::kNo;
};

class MemorySettings : public EditorSettings {
 public:
  std::optional<std::string> ConfigFile() override { return configFile; }
  bool SetStartupConfigFile(const std::string& path) override {
    configFile = path;
    ++writes;
    return true;
  }
  std::optional<std::string> DriverExe() override { return driverExe; }
  std::string HostValue(const std::string& name) override {
    const auto found = host.find(name);
    return found != host.end() ? found->second : std::string();
  }

  std::optional<std::string> configFile;
  std::map<std::string, std::string> host;
  std::optional<std::string> driverExe;
  int writes = 0;
};

class FixedClock : public EditorClock {
 public:
  std::uint32_t SecondsSince1970() override { return seconds; }
  std::tm LocalTime() override { return local; }

  std::uint32_t seconds = 1796713200;
  std::tm local = [] {
    std::tm time{};
    time.tm_year = 2026 - 1900;
    time.tm_mon = 11;
    time.tm_mday = 7;
    time.tm_wday = 1;
    time.tm_hour = 1;
    time.tm_min = 54;
    return time;
  }();
};

// Error file lines kept in memory.
class MemoryErrorSink : public ImportErrorSink {
 public:
  bool AppendLine(const std::string& line, bool first) override {
    if (first) lines.clear();
    lines.push_back(line);
    return true;
  }
  std::string Name() const override { return "memory"; }
  std::vector<std::string> lines;
};

// Everything a document command needs, with the fakes above.
struct Editor {
  RecordingUi ui;
  MemorySettings settings;
  FixedClock clock;
  Reporter reporter{ui};
  EditorServices services{ui, settings, clock, reporter};
  CDidDoc doc;
};

// A folder of its own under the system's temporary folder, removed at the
// end of the test.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

 private:
  std::filesystem::path folder_;
};

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A small configuration built through the setters, as a user would enter it:
// `channels` channels, each with `devicesPerChannel` devices of
// `recordsPerDevice` poll records.
void BuildSample(CDidDoc& doc, Reporter& reporter, int channels = 2, int devicesPerChannel = 2,
                 int recordsPerDevice = 3);

// The same bytes apart from the header's save time (file offsets 108..111).
bool SameExceptSaveTime(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace vrt::editor::testing
