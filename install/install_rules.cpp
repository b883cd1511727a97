#include "install_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace vrt::install {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsHostEditionName(const std::string& folder) {
  return folder == "Intellution FIX" || folder == "FIX Dynamics" || folder == "iFIX";
}

}  // namespace

std::string Join(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  const char last = directory.back();
  return (last == '\\' || last == '/') ? directory + name : directory + "\\" + name;
}

std::string WithTrailingBackslash(std::string path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

std::string ConfigurationTarget(const std::string& installationDirectory, const std::string& databasePath,
                                const std::string& nodeName) {
  const std::string upper = Upper(installationDirectory);
  const bool hostDirectory = upper.find("DYNAMICS") != std::string::npos || upper.find("FIX") != std::string::npos;
  if (hostDirectory && !nodeName.empty()) return NodeConfiguration(databasePath, nodeName);
  return Join(installationDirectory, std::string("default.") + kAcronym);
}

std::string NodeConfiguration(const std::string& databasePath, const std::string& nodeName) {
  return Join(databasePath, nodeName + "." + kAcronym);
}

std::string DefaultConfiguration(const std::string& installationDirectory) {
  return Join(installationDirectory, std::string("DEFAULT.") + kAcronym);
}

std::string DriverExecutable(const std::string& installationDirectory) {
  return Join(installationDirectory, std::string(kAcronym) + "SPOLL.EXE");
}

std::string FillText(const char* format, const std::string& value) {
  std::string text(format);
  for (const char* slot : {"%s", "%d", "%lu"}) {
    const std::size_t at = text.find(slot);
    if (at != std::string::npos) return text.replace(at, std::char_traits<char>::length(slot), value);
  }
  return text;
}

std::string SetupErrorText(const std::string& message, unsigned long systemError) {
  return message + "\nWin32 error code: " + std::to_string(systemError) + "\n\n" + kSetupAborted;
}

ShortcutFolder ChooseShortcutFolder(const std::string& folderGiven, bool hostEdition) {
  if (!IsHostEditionName(folderGiven)) return {ProgramsMenu::kAllUsers, folderGiven};
  if (!hostEdition) return {ProgramsMenu::kCurrentUser, "Intellution FIX"};
  return {ProgramsMenu::kAllUsers, folderGiven == "iFIX" ? "iFIX" : "FIX Dynamics"};
}

std::vector<Shortcut> Shortcuts(const std::string& installationDirectory, bool winHelpPresent) {
  const std::string product = kProductName;
  const std::string help = std::string(kAcronym) + (winHelpPresent ? "DOC.hlp" : "DOC.htm");
  return {{product + " Configurator", Join(installationDirectory, std::string(kAcronym) + "didw.exe")},
          {product + " Configurator Help", Join(installationDirectory, help)}};
}

bool ShouldCopy(CopyRule rule, const FileStamp& target, const FileStamp& source) {
  if (!target.exists) return true;
  const bool byVersion = target.version.has_value() && source.version.has_value();
  const bool targetNewer = byVersion ? *target.version > *source.version : target.writeTime > source.writeTime;
  const bool sourceNewer = byVersion ? *source.version > *target.version : source.writeTime > target.writeTime;
  return rule == CopyRule::kNodeFiles ? !targetNewer : sourceNewer;
}

std::uint32_t CountAfterAdd(std::optional<std::uint32_t> count) {
  if (!count || *count == 0) return 1;
  return *count == std::numeric_limits<std::uint32_t>::max() ? *count : *count + 1;
}

std::optional<std::uint32_t> CountAfterRemove(std::optional<std::uint32_t> count) {
  if (!count || *count <= 1) return std::nullopt;
  return *count - 1;
}

std::string ContentFingerprint(std::string_view content) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : content) hash = (hash ^ c) * 1099511628211ull;
  char text[48];
  std::snprintf(text, sizeof text, "%zu:%016llx", content.size(), static_cast<unsigned long long>(hash));
  return text;
}

SetupDefaults DefaultsFrom(const HostRegistry& host, const std::string& programFiles) {
  SetupDefaults defaults;
  defaults.hostFound = host.newerEditionKey || host.olderEditionKey;
  defaults.hostEdition = host.newerEditionKey;
  if (!defaults.hostFound) {
    defaults.directory = Join(programFiles, "Kalvento\\Tavex\\");
    defaults.folder = kProductName;
    return defaults;
  }
  defaults.directory = host.basePath.empty() ? Join(programFiles, "Kalvento\\Tavex\\") : host.basePath;
  defaults.databasePath = host.databasePath;
  defaults.nodeName = host.nodeName;
  defaults.folder = host.iFixKey ? "iFIX" : "FIX Dynamics";
  return defaults;
}

std::string ArgumentsAfterProgramName(std::string_view commandLine) {
  std::string_view rest = commandLine;
  if (!rest.empty() && rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    rest = close == std::string_view::npos ? std::string_view() : rest.substr(close + 1);
  } else {
    const std::size_t space = rest.find_first_of(" \t");
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space);
  }
  return std::string(rest);
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> arguments;
  std::string current;
  bool inQuotes = false, started = false;
  for (std::size_t k = 0; k < commandLine.size(); ++k) {
    const char c = commandLine[k];
    if (c == '\\') {
      // Backslashes are literal unless a run of them comes before a quote.
      std::size_t run = 0;
      while (k < commandLine.size() && commandLine[k] == '\\') ++run, ++k;
      if (k < commandLine.size() && commandLine[k] == '"') {
        current.append(run / 2, '\\');
        if (run % 2 == 1) {
          current += '"';
        } else {
          inQuotes = !inQuotes;
        }
      } else {
        current.append(run, '\\');
        --k;
      }
      started = true;
    } else if (c == '"') {
      inQuotes = !inQuotes;
      started = true;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (started) arguments.push_back(current);
      current.clear();
      started = false;
    } else {
      current += c;
      started = true;
    }
  }
  if (started) arguments.push_back(current);
  return arguments;
}

namespace {

// "/NAME=value" (NAME in any case): the value, or nullopt.
std::optional<std::string> SwitchValue(const std::string& argument, const char* name) {
  const std::string prefix = std::string("/") + name + "=";
  if (argument.size() < prefix.size() || Upper(argument.substr(0, prefix.size())) != prefix) return std::nullopt;
  return argument.substr(prefix.size());
}

}  // namespace

SetupCommandLine ParseSetupCommandLine(std::string_view commandLine) {
  SetupCommandLine parsed;
  for (const std::string& argument : SplitCommandLine(commandLine)) {
    if (Upper(argument) == "/S") {
      parsed.silent = true;
    } else if (auto directory = SwitchValue(argument, "D")) {
      parsed.directory = *directory;
    } else if (auto node = SwitchValue(argument, "NODE")) {
      parsed.node = *node;
    } else if (auto folder = SwitchValue(argument, "FOLDER")) {
      parsed.folder = *folder;
    } else {
      parsed.error = "setup: unknown argument \"" + argument + "\"\n" + kSetupUsage;
      return parsed;
    }
  }
  if (!parsed.silent && (parsed.directory || parsed.node || parsed.folder)) {
    parsed.error = std::string("setup: /D, /NODE and /FOLDER go with /S\n") + kSetupUsage;
  } else if (parsed.directory && parsed.directory->empty()) {
    parsed.error = std::string("setup: /D= names no directory\n") + kSetupUsage;
  }
  return parsed;
}

UninstallCommandLine ParseUninstallCommandLine(std::string_view commandLine) {
  UninstallCommandLine parsed;
  for (const std::string& argument : SplitCommandLine(commandLine)) {
    if (Upper(argument) == "/S") {
      parsed.silent = true;
    } else {
      parsed.error = "uninstall: unknown argument \"" + argument + "\"\n" + kUninstallUsage;
      return parsed;
    }
  }
  return parsed;
}

}  // namespace vrt::install
