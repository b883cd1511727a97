#include "install_win32.h"

#include <objbase.h>
#include <setupapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vrt::install {

void MessageBoxReporter::Error(const std::string& text, const char* caption) {
  MessageBoxA(owner_, text.c_str(), caption, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

bool MessageBoxReporter::Ask(const std::string& text, const char* caption, bool) {
  return MessageBoxA(owner_, text.c_str(), caption, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
}

void PrintError(const std::string& text) {
  HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    if (AttachConsole(ATTACH_PARENT_PROCESS)) out = GetStdHandle(STD_ERROR_HANDLE);
  }
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  const std::string line = text + "\r\n";
  DWORD written = 0;
  WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string OwnDirectory() { return WithTrailingBackslash(ModuleDirectory()); }

void DeleteEmptyKeys(const std::string& key, const std::string& stop) {
  std::string current = key;
  while (!current.empty() && current != stop) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, current.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS) {
      DWORD subkeys = 0, values = 0;
      RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
      RegCloseKey(handle);
      if (subkeys != 0 || values != 0) return;
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, current.c_str());
    }
    const std::size_t slash = current.rfind('\\');
    current = slash == std::string::npos ? std::string() : current.substr(0, slash);
  }
}

std::string SystemDirectory() {
  char path[MAX_PATH] = {};
  GetSystemDirectoryA(path, MAX_PATH);
  return path;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool CreateDirectories(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 3 && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.pop_back();
  if (trimmed.empty()) return false;
  if (IsDirectory(trimmed)) return true;
  if (GetFileAttributesA(trimmed.c_str()) != INVALID_FILE_ATTRIBUTES) return false;  // a file
  const std::string parent = DirectoryOf(trimmed);
  if (!parent.empty() && parent != trimmed && !IsDirectory(parent) && !CreateDirectories(parent)) return false;
  return CreateDirectoryA(trimmed.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
  stamp.exists = true;
  stamp.writeTime = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                    data.ftLastWriteTime.dwLowDateTime;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size != 0) {
    std::string block(size, '\0');
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoA(path.c_str(), 0, size, block.data()) &&
        VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) && info != nullptr &&
        length >= sizeof *info) {
      stamp.version = (static_cast<std::uint64_t>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
    }
  }
  return stamp;
}

std::string Fingerprint(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return ContentFingerprint(content);
}

std::optional<std::string> ShortcutDirectory(const ShortcutFolder& folder, bool create) {
  char programs[MAX_PATH] = {};
  const int which = folder.menu == ProgramsMenu::kAllUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
  if (FAILED(SHGetFolderPathA(nullptr, which | (create ? CSIDL_FLAG_CREATE : 0), nullptr, SHGFP_TYPE_CURRENT,
                              programs))) {
    return std::nullopt;
  }
  const std::string directory = std::string(programs) + "\\" + folder.name;
  if (create && !CreateDirectories(directory)) return std::nullopt;
  return directory;
}

bool CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingDirectory) {
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link)))) {
    return false;
  }
  bool saved = false;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetWorkingDirectory(workingDirectory.c_str())) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
    saved = SUCCEEDED(file->Save(wide, TRUE));
    file->Release();
  }
  link->Release();
  return saved;
}

std::optional<unsigned long> RunRegsvr32(const std::string& path, bool unregister, const std::string& directory) {
  const std::string program = SystemDirectory() + "\\regsvr32.exe";
  std::string command = "\"" + program + "\" " + (unregister ? "/u " : "") + "/s \"" + path + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    return std::nullopt;
  }
  WaitForSingleObject(process.hProcess, 120000);
  DWORD code = 1;
  if (!GetExitCodeProcess(process.hProcess, &code) || code == STILL_ACTIVE) code = 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

namespace {

bool InDirectory(const std::string& path, const std::string& directory) {
  return path.size() > directory.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(),
                                                          static_cast<int>(directory.size()), directory.c_str(),
                                                          static_cast<int>(directory.size())) == CSTR_EQUAL &&
         (path[directory.size()] == '\\' || path[directory.size()] == '/');
}

}  // namespace

UINT CALLBACK QueueCallback(PVOID raw, UINT notification, UINT_PTR first, UINT_PTR second) {
  auto* context = static_cast<QueueContext*>(raw);
  if (notification == SPFILENOTIFY_STARTCOPY) {
    const auto* paths = reinterpret_cast<const FILEPATHS_A*>(first);
    const CopyRule rule = InDirectory(paths->Target, context->systemDirectory) ? CopyRule::kSystemFiles
                                                                                : CopyRule::kNodeFiles;
    if (!ShouldCopy(rule, StampOf(paths->Target), StampOf(paths->Source))) {
      context->skipped.push_back(paths->Target);
      return FILEOP_SKIP;
    }
    return FILEOP_DOIT;
  }
  if (notification == SPFILENOTIFY_DELETEERROR) {
    const auto* paths = reinterpret_cast<const FILEPATHS_A*>(first);
    if (paths->Win32Error == ERROR_FILE_NOT_FOUND || paths->Win32Error == ERROR_PATH_NOT_FOUND) return FILEOP_SKIP;
    // A program still running (the uninstaller itself): gone at the next restart.
    if (MoveFileExA(paths->Target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      context->deferred.push_back(paths->Target);
      return FILEOP_SKIP;
    }
    if (context->failure == 0) context->failure = paths->Win32Error;
    return FILEOP_SKIP;
  }
  if (notification == SPFILENOTIFY_COPYERROR) {
    const auto* paths = reinterpret_cast<const FILEPATHS_A*>(first);
    if (context->failure == 0) {
      context->failure = paths->Win32Error ? paths->Win32Error : ERROR_GEN_FAILURE;
      context->failedFile = std::string(paths->Source ? paths->Source : "") + " -> " +
                            (paths->Target ? paths->Target : "");
    }
    return FILEOP_ABORT;
  }
  if (notification == SPFILENOTIFY_NEEDMEDIA) {
    const auto* media = reinterpret_cast<const SOURCE_MEDIA_A*>(first);
    // Asked even when the file is where the queue looks: the media is in place.
    const std::string source = WithTrailingBackslash(media->SourcePath ? media->SourcePath : "") +
                               (media->SourceFile ? media->SourceFile : "");
    if (FileExists(source)) return FILEOP_DOIT;
    if (context->failure == 0) {
      context->failure = ERROR_FILE_NOT_FOUND;
      context->failedFile = source;
    }
    return FILEOP_ABORT;
  }
  return SetupDefaultQueueCallbackA(context->defaultContext, notification, first, second);
}

}  // namespace vrt::install
