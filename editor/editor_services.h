// What the editor's core needs from the program around it: somewhere to show
// messages and ask questions, the registry values it reads and writes, a
// clock, and the one reporting routine through which every validation
// message passes. The window program implements the interfaces with message
// boxes and the registry; the command-line tool with standard error and no
// registry; the tests with fakes.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace vrt::editor {

enum class MessageIcon { kNone, kExclamation, kError, kQuestion, kInformation };
enum class Buttons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class Answer { kOk, kCancel, kYes, kNo };

// The program's title, used as the title of boxes that name no other.
inline constexpr char kProgramTitle[] = "VRTDIDW";

class EditorUserInterface {
 public:
  virtual ~EditorUserInterface() = default;
  virtual void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) = 0;
  virtual Answer Ask(const std::string& text, const std::string& title, Buttons buttons, MessageIcon icon) = 0;
};

// Registry values: `ConfigFile` and `DriverExe` under HKEY_LOCAL_MACHINE
// "Software\Kalvento\Tavex\Config", and the host's path values.
class EditorSettings {
 public:
  virtual ~EditorSettings() = default;
  virtual std::optional<std::string> ConfigFile() = 0;
  // Writes `ConfigFile`, creating the key when it is missing.
  virtual bool SetStartupConfigFile(const std::string& path) = 0;
  virtual std::optional<std::string> DriverExe() = 0;
  // PDBPATH, BASPATH, NODENAME, LOCPATH: empty when the host has none.
  virtual std::string HostValue(const std::string& name) = 0;
};

// A machine without the driver installed: no start-up file, no host. The
// command-line tool uses it, so that saving never asks about the start-up
// file and never changes it.
class NoRegistrySettings : public EditorSettings {
 public:
  std::optional<std::string> ConfigFile() override { return std::nullopt; }
  bool SetStartupConfigFile(const std::string&) override { return false; }
  std::optional<std::string> DriverExe() override { return std::nullopt; }
  std::string HostValue(const std::string&) override { return {}; }
};

// The host's registry key, chosen from the driver program's path: "FIX32"
// in it gives HKEY_CLASSES_ROOT "Software\FixDMACS", otherwise "DYNAMICS"
// gives "Software\Fix Dynamics"; otherwise there is no host key. A value
// NAME is the default value of the subkey NAME under that key.
std::optional<std::string> HostRegistryKey(const std::string& driverExe);

// Where a CSV import writes its errors: the PDBPATH directory, "\" and
// VRTDIDW.ERR.
std::string ImportErrorFilePath(const std::string& pdbPath);

class EditorClock {
 public:
  virtual ~EditorClock() = default;
  // Seconds since 1 January 1970 (the image's save time).
  virtual std::uint32_t SecondsSince1970() = 0;
  // The local time, for the title line of an exported file.
  virtual std::tm LocalTime() = 0;
};

class SystemClock : public EditorClock {
 public:
  std::uint32_t SecondsSince1970() override;
  std::tm LocalTime() override;
};

// Where the lines of an import's error file go.
class ImportErrorSink {
 public:
  virtual ~ImportErrorSink() = default;
  // Appends one line (without its line feed); `first` is set for the first
  // error of an import, which starts the file afresh. False when the line
  // could not be written.
  virtual bool AppendLine(const std::string& line, bool first) = 0;
  // The name under which the errors can be found, for the closing message.
  virtual std::string Name() const = 0;
};

// The error file: created (truncated) by the first error of an import,
// appended to by the later ones.
class ErrorFile : public ImportErrorSink {
 public:
  explicit ErrorFile(std::string path) : path_(std::move(path)) {}
  bool AppendLine(const std::string& line, bool first) override;
  std::string Name() const override { return path_; }

 private:
  std::string path_;
};

// The one reporting routine. Outside an import a message is shown with the
// exclamation icon; while an import runs it becomes a line
// "Line Number %1 : %2" of the error file and is counted.
class Reporter {
 public:
  explicit Reporter(EditorUserInterface& ui) : ui_(ui) {}

  void Report(const std::string& text);

  void BeginImport(ImportErrorSink& sink);
  void SetLineNumber(int line) { lineNumber_ = line; }
  int LineNumber() const { return lineNumber_; }
  // Back to message boxes; returns the number of errors counted.
  int EndImport();
  bool Importing() const { return sink_ != nullptr; }
  int ErrorCount() const { return errorCount_; }

  EditorUserInterface& Ui() { return ui_; }

 private:
  EditorUserInterface& ui_;
  ImportErrorSink* sink_ = nullptr;
  bool fileStarted_ = false;
  int lineNumber_ = 0;
  int errorCount_ = 0;
};

// Everything the document's commands use, bundled.
struct EditorServices {
  EditorUserInterface& ui;
  EditorSettings& settings;
  EditorClock& clock;
  Reporter& reporter;
};

}  // namespace vrt::editor
