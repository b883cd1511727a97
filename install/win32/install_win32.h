// What Setup.dll, setup.exe and uninstall.exe share over Win32: registry
// values, file stamps for the queue's overwrite rules, the Start-menu
// folders and shortcuts, regsvr32 runs, the file-queue callback and the
// fingerprints of the configuration files the installer made.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "install_rules.h"
#include "win32_util.h"

namespace vrt::install {

// Where an installation step's errors go: a message box, or a text kept for
// an unattended run.
class InstallReporter {
 public:
  virtual ~InstallReporter() = default;
  virtual void Error(const std::string& text, const char* caption) = 0;
  // A question; an unattended run answers `unattended`.
  virtual bool Ask(const std::string& text, const char* caption, bool unattended) = 0;
  virtual void Note(const std::string& text) = 0;
};

class MessageBoxReporter final : public InstallReporter {
 public:
  explicit MessageBoxReporter(HWND owner = nullptr) : owner_(owner) {}
  void Error(const std::string& text, const char* caption) override;
  bool Ask(const std::string& text, const char* caption, bool unattended) override;
  void Note(const std::string& text) override { notes.push_back(text); }
  std::vector<std::string> notes;  // for the closing message

 private:
  HWND owner_;
};

// Keeps the first error and every note for standard error.
class TextReporter final : public InstallReporter {
 public:
  void Error(const std::string& text, const char*) override {
    if (error.empty()) error = text;
  }
  bool Ask(const std::string&, const char*, bool unattended) override { return unattended; }
  void Note(const std::string& text) override { notes.push_back(text); }
  std::string error;
  std::vector<std::string> notes;
};

// A line on standard error, or on the console the program was started from
// (the programs are window programs).
void PrintError(const std::string& text);
// The program's own directory, with a trailing backslash.
std::string OwnDirectory();

// Deletes `key` and then its parents up to (not including) `stop` while they
// have neither values nor subkeys.
void DeleteEmptyKeys(const std::string& key, const std::string& stop);

// The configuration key's path (DriverExe, ConfigFile).
inline constexpr char kConfigKey[] = "Software\\Kalvento\\Tavex\\Config";
// Fingerprints of the configuration files the installer made.
inline constexpr char kInstalledConfigurationsKey[] = "Software\\Kalvento\\Tavex\\InstalledConfigurations";

std::string SystemDirectory();
std::string DirectoryOf(const std::string& path);
bool IsDirectory(const std::string& path);
bool FileExists(const std::string& path);
// Creates the directory and its missing parents.
bool CreateDirectories(const std::string& path);
FileStamp StampOf(const std::string& path);

// Size and content hash of a file ("size:hash"), empty when it cannot be read.
std::string Fingerprint(const std::string& path);

// The programs menu folder of the shortcuts, created when `create`.
std::optional<std::string> ShortcutDirectory(const ShortcutFolder& folder, bool create);
bool CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingDirectory);

// Runs "regsvr32 [/u] /s "path"" in `directory` and waits: its exit code,
// or nullopt when it could not be started.
std::optional<unsigned long> RunRegsvr32(const std::string& path, bool unregister, const std::string& directory);

// The file-queue callback: the default callback's work, with the overwrite
// rules for copies (files going into the system directory take the system
// rule) and in-use files deleted at the next restart instead of failing.
struct QueueContext {
  void* defaultContext = nullptr;
  std::string systemDirectory;
  std::vector<std::string> skipped;   // kept targets
  std::vector<std::string> deferred;  // deleted at the next restart
  unsigned long failure = 0;          // the first copy or delete error
  std::string failedFile;             // and the file it concerned
};
UINT CALLBACK QueueCallback(PVOID context, UINT notification, UINT_PTR first, UINT_PTR second);

}  // namespace vrt::install
