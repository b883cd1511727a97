// uninstall.exe: takes off a node what setup put on it, in four steps
// with a progress bar: the OPC server unregistered, the files removed (the
// setup information file's "RemoveFiles", the shared OPC library
// references), the registry values removed ("RemoveKeys"), the shortcuts
// deleted.
//
// A configuration file the installer made is removed only while its
// content is what the installer left; one a person edited is theirs and
// stays (and the uninstaller says so).
//
//   uninstall.exe        asks, shows the progress, reports
//   uninstall.exe /S     no window, no question (a library no longer used
//                        is kept); exit 0, or 1 with the error on standard error
#include <windows.h>

#include <commctrl.h>
#include <setupapi.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "control_block.h"
#include "install_resources.h"
#include "install_rules.h"
#include "install_win32.h"
#include "shared_access.h"

namespace vrt::install {
namespace {

constexpr char kCaption[] = "Uninstall";
// The running driver processes started from `driverPath`.
std::vector<HANDLE> DriverProcesses(const std::string& driverPath) {
  std::vector<HANDLE> processes;
  const std::string name = driverPath.substr(driverPath.find_last_of('\\') + 1);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, name.c_str()) != 0) continue;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 entry.th32ProcessID);
    if (process == nullptr) continue;
    char path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameA(process, 0, path, &size) && lstrcmpiA(path, driverPath.c_str()) == 0) {
      processes.push_back(process);
    } else {
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
  return processes;
}

// A running driver holds its program and the card library open: it is asked
// to exit, as its console's exit key would, and given ten seconds before it
// is ended.
void StopDriver(const std::string& driverPath, InstallReporter& reporter) {
  std::vector<HANDLE> processes = DriverProcesses(driverPath);
  if (processes.empty()) return;
  if (HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, vrt::kControlBlockName)) {
    if (auto* block = static_cast<vrt::DriverControlBlock*>(
            MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, vrt::kControlBlockSize))) {
      vrt::SharedStore(block->RunRequest, vrt::kRequestExit);
      UnmapViewOfFile(block);
    }
    CloseHandle(mapping);
  }
  for (HANDLE process : processes) {
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) {
      reporter.Note("the driver did not exit when asked: ended");
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
  }
}

constexpr char kNotInstalled[] = "The OPC Server is not installed on this node (no DriverExe value)";

// The progress dialog, or nothing for an unattended run.
class Progress {
 public:
  Progress(HINSTANCE instance, bool show) {
    if (!show) return;
    dialog_ = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_UNINSTALL_PROGRESS), nullptr, Procedure, 0);
    if (dialog_ != nullptr) {
      SendDlgItemMessageA(dialog_, IDC_PROGRESS, PBM_SETRANGE32, 0, 100);
      ShowWindow(dialog_, SW_SHOW);
      Pump();
    }
  }
  ~Progress() {
    if (dialog_ != nullptr) DestroyWindow(dialog_);
  }
  HWND Window() const { return dialog_; }
  void Step(int index) {
    if (dialog_ == nullptr) return;
    SetDlgItemTextA(dialog_, IDC_STEP, kUninstallSteps[index]);
    SendDlgItemMessageA(dialog_, IDC_PROGRESS, PBM_SETPOS, 25 * (index + 1), 0);
    Pump();
  }

 private:
  static INT_PTR CALLBACK Procedure(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }
  static void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  HWND dialog_ = nullptr;
};

class Uninstallation {
 public:
  Uninstallation(HINSTANCE instance, bool silent, InstallReporter& reporter)
      : instance_(instance), silent_(silent), reporter_(reporter) {}
  ~Uninstallation() {
    if (inf_ != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf_);
  }

  bool Run() {
    const std::optional<std::string> driver = ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "DriverExe");
    if (!driver || driver->empty()) {
      reporter_.Error(kNotInstalled, kCaption);
      return false;
    }
    const std::string folderName = ReadString(HKEY_LOCAL_MACHINE, kProductKey, kFolderNameValue).value_or("");
    if (!reporter_.Ask(kUninstallQuestion, kCaption, true)) return false;
    directory_ = DirectoryOf(*driver);
    const std::string infPath = WithTrailingBackslash(directory_) + kInfFileName;
    inf_ = SetupOpenInfFileA(infPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (inf_ == INVALID_HANDLE_VALUE || !SetupSetDirectoryIdA(inf_, kDirIdInstallation, directory_.c_str())) {
      reporter_.Error(SetupErrorText(kOpenInfFailed + infPath, GetLastError()), kCaption);
      return false;
    }

    Progress progress(instance_, !silent_);
    progress.Step(0);
    const std::string opcServer = WithTrailingBackslash(directory_) + kOpcServerFileName;
    if (FileExists(opcServer)) {
      const std::optional<unsigned long> code = RunRegsvr32(opcServer, true, directory_);
      if (!code || *code != 0) reporter_.Note("regsvr32 /u /s " + opcServer + " failed; its registration may remain");
    }

    progress.Step(1);
    StopDriver(*driver, reporter_);
    if (!RemoveFiles()) return false;
    RemoveConfigurations();
    RemoveSharedReferences();

    progress.Step(2);
    if (!SetupInstallFromInfSectionA(nullptr, inf_, kSectionRemoveKeys, SPINST_REGISTRY, nullptr, nullptr, 0,
                                     nullptr, nullptr, nullptr, nullptr)) {
      reporter_.Error(SetupErrorText(kUninstallCommandsFailed, GetLastError()), kCaption);
      return false;
    }
    DeleteEmptyKeys(kConfigKey, "Software");

    progress.Step(3);
    RemoveShortcuts(folderName);
    if (!RemoveDirectoryA(directory_.c_str()) && !deferred_.empty()) {
      MoveFileExA(directory_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return true;
  }

 private:
  bool RemoveFiles() {
    HSPFILEQ queue = SetupOpenFileQueue();
    void* defaultContext = SetupInitDefaultQueueCallbackEx(nullptr, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0,
                                                           nullptr);
    QueueContext context;
    context.defaultContext = defaultContext;
    context.systemDirectory = SystemDirectory();
    const bool done = queue != INVALID_HANDLE_VALUE && defaultContext != nullptr &&
                      SetupInstallFilesFromInfSectionA(inf_, nullptr, queue, kSectionRemoveFiles, nullptr, 0) &&
                      SetupCommitFileQueueA(nullptr, queue, QueueCallback, &context) && context.failure == 0;
    const DWORD error = context.failure != 0 ? context.failure : GetLastError();
    if (defaultContext != nullptr) SetupTermDefaultQueueCallback(defaultContext);
    if (queue != INVALID_HANDLE_VALUE) SetupCloseFileQueue(queue);
    if (!done) {
      reporter_.Error(SetupErrorText(kUninstallCommandsFailed, error), kCaption);
      return false;
    }
    deferred_ = context.deferred;
    for (const std::string& file : deferred_) reporter_.Note("in use, removed at the next restart: " + file);
    return true;
  }

  void RemoveConfigurations() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstalledConfigurationsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    std::vector<std::pair<std::string, std::string>> made;
    for (DWORD index = 0;; ++index) {
      char name[MAX_PATH * 2];
      char value[128];
      DWORD nameSize = sizeof name, valueSize = sizeof value - 1, type = 0;
      if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(value), &valueSize) !=
          ERROR_SUCCESS) {
        break;
      }
      value[valueSize] = '\0';
      if (type == REG_SZ) made.emplace_back(name, value);
    }
    RegCloseKey(key);
    for (const auto& [path, fingerprint] : made) {
      if (!FileExists(path)) continue;
      if (Fingerprint(path) == fingerprint) {
        DeleteFileA(path.c_str());
      } else {
        reporter_.Note("left in place, changed after the installation: " + path);
      }
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstalledConfigurationsKey);
  }

  void RemoveSharedReferences() {
    const std::string system = SystemDirectory();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return;
    for (const char* library : kSharedOpcLibraries) {
      const std::string path = system + "\\" + library;
      const std::optional<std::uint32_t> count = ReadCount(HKEY_LOCAL_MACHINE, kSharedDllsKey, path);
      if (!count) continue;
      if (const std::optional<std::uint32_t> left = CountAfterRemove(count)) {
        const DWORD value = *left;
        RegSetValueExA(key, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        continue;
      }
      RegDeleteValueA(key, path.c_str());
      if (!FileExists(path)) continue;
      if (reporter_.Ask(FillText(kUnusedFileQuestion, path), kCaption, false)) {
        RunRegsvr32(path, true, system);
        DeleteFileA(path.c_str());
      } else {
        reporter_.Note("no longer used, kept: " + path);
      }
    }
    RegCloseKey(key);
  }

  void RemoveShortcuts(const std::string& folderName) {
    if (folderName.empty()) return;
    for (ProgramsMenu menu : {ProgramsMenu::kAllUsers, ProgramsMenu::kCurrentUser}) {
      const std::optional<std::string> folder = ShortcutDirectory({menu, folderName}, false);
      if (!folder) continue;
      for (const Shortcut& shortcut : Shortcuts(directory_, false)) {
        DeleteFileA((*folder + "\\" + shortcut.name + ".lnk").c_str());
      }
      RemoveDirectoryA(folder->c_str());  // only when nothing else is in it
    }
  }

  HINSTANCE instance_;
  bool silent_;
  InstallReporter& reporter_;
  HINF inf_ = INVALID_HANDLE_VALUE;
  std::string directory_;
  std::vector<std::string> deferred_;
};

}  // namespace
}  // namespace vrt::install

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace vrt::install;
  const UninstallCommandLine line = ParseUninstallCommandLine(ArgumentsAfterProgramName(GetCommandLineA()));
  if (!line.error.empty()) {
    PrintError(line.error);
    return 2;
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  if (line.silent) {
    TextReporter reporter;
    const bool done = Uninstallation(instance, true, reporter).Run();
    if (!done) PrintError(reporter.error);
    for (const std::string& note : reporter.notes) PrintError(note);
    if (done) PrintError(kUninstallSuccessful);
    return done ? 0 : 1;
  }
  MessageBoxReporter reporter;
  const bool done = Uninstallation(instance, false, reporter).Run();
  if (done) {
    std::string text = kUninstallSuccessful;
    for (const std::string& note : reporter.notes) text += "\n\n" + note;
    MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONINFORMATION);
  }
  return done ? 0 : 1;
}
