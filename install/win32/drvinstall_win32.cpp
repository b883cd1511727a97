// Setup.dll: InstallDriver puts the suite on a node from the distribution
// media's VRT.inf, in the order the installation has always taken: the
// directory ids, the file queue, the registry sections, the shortcuts, the
// shared OPC library references, the node's configuration and the OPC
// server's registration.
//
// Unlike the installer it replaces, every failure ends the installation
// with 0 (not only the first five steps), and the OPC server's
// registration is waited for and its failure reported.
#include <windows.h>

#include <objbase.h>
#include <setupapi.h>

#include <cstring>

#include "install_rules.h"
#include "install_win32.h"

namespace vrt::install {
namespace {

struct InstallArguments {
  int enable = 0;
  int hostEdition = 0;
  int server = 0;
  std::string media, directory, databasePath, nodeName, folder;
};

std::string Text(const char* value) { return value == nullptr ? std::string() : std::string(value); }

class Installation {
 public:
  Installation(const InstallArguments& arguments, InstallReporter& reporter)
      : arguments_(arguments), reporter_(reporter) {}
  ~Installation() {
    if (callbackContext_ != nullptr) SetupTermDefaultQueueCallback(callbackContext_);
    if (queue_ != INVALID_HANDLE_VALUE) SetupCloseFileQueue(queue_);
    if (inf_ != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf_);
  }

  int Run() {
    if (arguments_.enable == 0) return 0;
    if (arguments_.media.empty()) return Fail(kNoMediaPath, ERROR_INVALID_PARAMETER);
    const std::string media = WithTrailingBackslash(arguments_.media);
    const std::string directory = arguments_.directory;

    // 1. The setup information file.
    const std::string infPath = media + kInfFileName;
    inf_ = SetupOpenInfFileA(infPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (inf_ == INVALID_HANDLE_VALUE) return Fail(kOpenInfFailed + infPath, GetLastError());

    // 2.-4. The directory ids. The installation directory must be one we
    // can make: a path naming a file or an unusable drive stops here.
    if (directory.empty() || !CreateDirectories(directory) ||
        !SetupSetDirectoryIdA(inf_, kDirIdInstallation, directory.c_str())) {
      return Fail(kDirectoryIdFailed + directory, LastErrorOr(ERROR_BAD_PATHNAME));
    }
    const std::string configuration =
        ConfigurationTarget(directory, arguments_.databasePath, arguments_.nodeName);
    if (!SetupSetDirectoryIdA(inf_, kDirIdConfiguration, configuration.c_str())) {
      return Fail(kDirectoryIdFailed + configuration, LastErrorOr(ERROR_BAD_PATHNAME));
    }
    const std::string driver = DriverExecutable(directory);
    if (!SetupSetDirectoryIdA(inf_, kDirIdDriverExecutable, driver.c_str())) {
      return Fail(FillText(kBadDriverDirectory, driver), LastErrorOr(ERROR_BAD_PATHNAME));
    }

    // 5. The file queue and its callback.
    queue_ = SetupOpenFileQueue();
    if (queue_ == INVALID_HANDLE_VALUE) return Fail(kOpenQueueFailed, GetLastError());
    callbackContext_ = SetupInitDefaultQueueCallbackEx(nullptr, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr);
    if (callbackContext_ == nullptr) return Fail(kQueueCallbackFailed, LastErrorOr(ERROR_NOT_ENOUGH_MEMORY));

    // 6. The node's files and the system files.
    const bool server = arguments_.server != 0;
    if (!SetupInstallFilesFromInfSectionA(inf_, nullptr, queue_, server ? kSectionScadaNode : kSectionViewNode,
                                          media.c_str(), 0)) {
      return Fail(server ? kScadaFilesFailed : kViewFilesFailed, GetLastError());
    }
    if (!SetupInstallFilesFromInfSectionA(inf_, nullptr, queue_, kSectionSystemFiles, media.c_str(), 0)) {
      return Fail(kSystemFilesFailed, GetLastError());
    }

    // 7. Copy.
    QueueContext context;
    context.defaultContext = callbackContext_;
    context.systemDirectory = SystemDirectory();
    if (!SetupCommitFileQueueA(nullptr, queue_, QueueCallback, &context) || context.failure != 0) {
      if (!context.failedFile.empty()) reporter_.Note("the file: " + context.failedFile);
      return Fail(kCommitFailed, context.failure != 0 ? context.failure : GetLastError());
    }
    for (const std::string& kept : context.skipped) reporter_.Note("kept the newer " + kept);

    // 8. The registry.
    if (!InstallRegistry(kSectionProductInstall)) {
      reporter_.Error(kRegistryFailed, kRegistryCaption);
      return 0;
    }
    if (!InstallRegistry(server ? kSectionScadaNode : kSectionViewNode)) {
      reporter_.Error(server ? kScadaRegistryFailed : kViewRegistryFailed, kRegistryCaption);
      return 0;
    }

    // 9. Shortcuts and the shared OPC libraries' references.
    if (!MakeShortcuts(directory)) return 0;
    const std::string system = SystemDirectory();
    for (const char* library : kSharedOpcLibraries) {
      if (!AddSharedReference(system + "\\" + library)) {
        return Fail(std::string("Failed to count a reference to ") + library, GetLastError());
      }
    }

    // 10. The node's own configuration, never overwritten. The uninstaller
    // removes the configuration files made here only while nobody has
    // changed them.
    const std::string defaultConfiguration = DefaultConfiguration(directory);
    RememberConfiguration(defaultConfiguration);
    if (!arguments_.nodeName.empty()) {
      const std::string nodeConfiguration = NodeConfiguration(arguments_.databasePath, arguments_.nodeName);
      if (CopyFileA(defaultConfiguration.c_str(), nodeConfiguration.c_str(), TRUE)) {
        RememberConfiguration(nodeConfiguration);
      } else if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
        reporter_.Note("the node's configuration " + nodeConfiguration + " could not be made");
      }
    }

    // 11. The OPC server and the proxy/stub libraries it is reached through,
    // registered before setup reports success.
    if (server) {
      for (const char* library : kProxyLibraries) {
        const std::string path = system + "\\" + library;
        if (!FileExists(path)) continue;  // media without them
        const std::optional<unsigned long> code = RunRegsvr32(path, false, system);
        if (!code || *code != 0) return Fail(kRegisterProxyFailed + path, code ? *code : GetLastError());
      }
      const std::string opcServer = Join(directory, kOpcServerFileName);
      const std::optional<unsigned long> code = RunRegsvr32(opcServer, false, directory);
      if (!code || *code != 0) {
        // The exit code of regsvr32 stands where the system error would.
        return Fail(kRegisterServerFailed + opcServer, code ? *code : GetLastError());
      }
    }
    return 1;
  }

 private:
  static unsigned long LastErrorOr(unsigned long fallback) {
    const DWORD error = GetLastError();
    return error != 0 ? error : fallback;
  }

  int Fail(const std::string& message, unsigned long error) {
    reporter_.Error(SetupErrorText(message, error), kSetupErrorCaption);
    return 0;
  }

  bool InstallRegistry(const char* section) {
    return SetupInstallFromInfSectionA(nullptr, inf_, section, SPINST_REGISTRY, nullptr, nullptr, 0, nullptr,
                                       nullptr, nullptr, nullptr) != FALSE;
  }

  bool MakeShortcuts(const std::string& directory) {
    const ShortcutFolder folder = ChooseShortcutFolder(arguments_.folder, arguments_.hostEdition != 0);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool made = false;
    std::string failure;
    if (const std::optional<std::string> folderPath = ShortcutDirectory(folder, true)) {
      made = true;
      const bool winHelp = FileExists(Join(directory, std::string(kAcronym) + "DOC.hlp"));
      for (const Shortcut& shortcut : Shortcuts(directory, winHelp)) {
        const std::string link = *folderPath + "\\" + shortcut.name + ".lnk";
        if (!CreateShortcut(link, shortcut.target, directory)) {
          made = false;
          failure = "Failed to create the shortcut " + link;
          break;
        }
      }
    } else {
      failure = "Failed to create the program folder " + folder.name;
    }
    if (SUCCEEDED(com)) CoUninitialize();
    if (!made) {
      Fail(failure, LastErrorOr(ERROR_CANNOT_MAKE));
      return false;
    }
    if (!WriteString(HKEY_LOCAL_MACHINE, kProductKey, kFolderNameValue, folder.name)) {
      Fail("Failed to store the program folder's name", GetLastError());
      return false;
    }
    return true;
  }

  static bool AddSharedReference(const std::string& path) {
    const DWORD count = CountAfterAdd(ReadCount(HKEY_LOCAL_MACHINE, kSharedDllsKey, path));
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    const LONG result =
        RegSetValueExA(handle, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
  }

  void RememberConfiguration(const std::string& path) {
    const std::string fingerprint = Fingerprint(path);
    if (!fingerprint.empty()) WriteString(HKEY_LOCAL_MACHINE, kInstalledConfigurationsKey, path, fingerprint);
  }

  InstallArguments arguments_;
  InstallReporter& reporter_;
  HINF inf_ = INVALID_HANDLE_VALUE;
  HSPFILEQ queue_ = INVALID_HANDLE_VALUE;
  void* callbackContext_ = nullptr;
};

int Install(int enable, int hostEdition, int server, const char* media, const char* directory,
            const char* databasePath, const char* nodeName, const char* folder, InstallReporter& reporter) {
  InstallArguments arguments{enable, hostEdition, server, Text(media), Text(directory), Text(databasePath),
                             Text(nodeName), Text(folder)};
  try {
    return Installation(arguments, reporter).Run();
  } catch (...) {
    reporter.Error(SetupErrorText("Setup ran out of memory", ERROR_NOT_ENOUGH_MEMORY), kSetupErrorCaption);
    return 0;
  }
}

}  // namespace
}  // namespace vrt::install

// The installation as setup's wizard runs it: errors in message boxes.
extern "C" int __stdcall InstallDriver(int enable, int hostEdition, int server,
                                                             const char* media, const char* directory,
                                                             const char* databasePath, const char* nodeName,
                                                             const char* folder) {
  vrt::install::MessageBoxReporter reporter;
  return vrt::install::Install(enable, hostEdition, server, media, directory, databasePath, nodeName, folder,
                               reporter);
}

// The same for unattended installations: no window; the first error's text
// (and the notes, one a line, after it) in `report`.
extern "C" int __stdcall InstallDriverUnattended(int enable, int hostEdition, int server,
                                                                       const char* media, const char* directory,
                                                                       const char* databasePath,
                                                                       const char* nodeName, const char* folder,
                                                                       char* report, int reportSize) {
  vrt::install::TextReporter reporter;
  const int result = vrt::install::Install(enable, hostEdition, server, media, directory, databasePath, nodeName,
                                           folder, reporter);
  if (report != nullptr && reportSize > 0) {
    std::string text = reporter.error;
    for (const std::string& note : reporter.notes) text += (text.empty() ? "" : "\n") + note;
    const std::size_t length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(reportSize - 1));
    std::memcpy(report, text.data(), length);
    report[length] = '\0';
  }
  return result;
}
