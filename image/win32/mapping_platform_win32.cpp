// The operating system's side of the image mapping library: named file-less
// mappings open to every account, the registry, and starting the driver.
#include <windows.h>

#include <cstring>
#include <string>

#include "../dit_api.h"
#include "../log_message.h"
#include "win32_util.h"

namespace vrt {

namespace {

// Size of the view mapped at `base` (the mapping's size rounded up to pages).
std::size_t ViewSize(const void* base) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(base, &info, sizeof info) == 0) return 0;
  return info.RegionSize;
}

class Win32MappingPlatform final : public MappingPlatform {
 public:
  void SleepMilliseconds(unsigned milliseconds) override { Sleep(milliseconds); }

  DriverControlBlock* OpenControlBlock(const char* name, bool& created) override {
    OpenSecurity security;
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE, 0,
                                        static_cast<DWORD>(kControlBlockSize), name);
    if (mapping == nullptr) return nullptr;
    created = GetLastError() != ERROR_ALREADY_EXISTS;
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    // A block of the name made smaller by a stranger would be written past.
    if (view != nullptr && ViewSize(view) < kControlBlockSize) {
      UnmapViewOfFile(view);
      view = nullptr;
    }
    if (view == nullptr) {
      CloseHandle(mapping);
      return nullptr;
    }
    return static_cast<DriverControlBlock*>(view);
  }

  bool LaunchDriver() override {
    std::string path;
    if (!ReadConfigRegistryString(kDriverExeValue, &path)) return false;
    std::string directory = path.substr(0, path.find_last_of('\\') == std::string::npos ? 0 : path.find_last_of('\\'));
    // The program is named explicitly, so a path with blanks cannot start
    // some other program along it.
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                       DETACHED_PROCESS | NORMAL_PRIORITY_CLASS, nullptr,
                       directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    return true;
  }

  SharedView AttachImage(const char* mapName) override {
    SharedView view;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, mapName);
    if (mapping == nullptr) {
      LogMessage(kAttrWarning, "MapToDIT() Map %s Does not exist", mapName);
      return view;
    }
    void* base = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    if (base == nullptr) {
      CloseHandle(mapping);
      LogMessage(kAttrError, "MapToDIT() MapViewOfFile failed");
      return view;
    }
    view.base = static_cast<std::uint8_t*>(base);
    view.size = ViewSize(base);
    view.handle = mapping;
    LogMessage(kAttrInformation, "Application %s connecting Map %s", ModuleFileName().c_str(), mapName);
    return view;
  }

  SharedView CreateImage(const char* mapName, DriverControlBlock& block) override {
    SharedView view;
    std::string path;
    if (!ReadConfigRegistryString(kConfigFileValue, &path)) {
      LogMessage(kAttrError, "Failed to open Registry Config File path");
      return view;
    }
    LogMessage(kAttrInformation, "MapToDIT() Opening file %s to map %s", path.c_str(), mapName);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::memset(block.configPath, 0, sizeof block.configPath);
    std::memcpy(block.configPath, path.data(), std::min(path.size(), sizeof block.configPath - 1));
    if (file == INVALID_HANDLE_VALUE) {
      LogMessage(kAttrError, "Failed to open file %s - %s", path.c_str(), SystemErrorText(GetLastError()).c_str());
      return view;
    }
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(file, &sizeHigh);
    OpenSecurity security;
    HANDLE mapping = nullptr;
    if (size != INVALID_FILE_SIZE && sizeHigh == 0 && size != 0) {
      mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE, 0, size, mapName);
    }
    if (mapping == nullptr) {
      CloseHandle(file);
      LogMessage(kAttrError, "MapToDriver() Driver file is not loaded");
      return view;
    }
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    void* base = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (base == nullptr) {
      const DWORD error = GetLastError();
      CloseHandle(mapping);
      CloseHandle(file);
      LogMessage(kAttrError, "MapToDriver() MapViewOfFile failed Err=%d", static_cast<int>(error));
      return view;
    }
    // A client still holding this name from an earlier round of generations
    // keeps the old mapping alive; the file must fit into it.
    if (existed && ViewSize(base) < size) {
      UnmapViewOfFile(base);
      CloseHandle(mapping);
      CloseHandle(file);
      LogMessage(kAttrError, "MapToDriver() Driver file is not loaded");
      view.nameHeldTooSmall = true;
      return view;
    }
    DWORD total = 0;
    while (total < size) {
      DWORD got = 0;
      if (!ReadFile(file, static_cast<std::uint8_t*>(base) + total, size - total, &got, nullptr) || got == 0) {
        LogMessage(kAttrError, "Failed to read file %s - %s", path.c_str(), SystemErrorText(GetLastError()).c_str());
        break;
      }
      total += got;
    }
    CloseHandle(file);
    view.base = static_cast<std::uint8_t*>(base);
    view.size = size;
    view.handle = mapping;
    return view;
  }

  void ReleaseImage(SharedView& view) override {
    if (view.base != nullptr) UnmapViewOfFile(view.base);
    if (view.handle != nullptr) CloseHandle(static_cast<HANDLE>(view.handle));
    view = SharedView{};
  }

  bool SetConfigFile(const char* path) override {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kConfigRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    const LONG result = RegSetValueExA(key, kConfigFileValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                                       static_cast<DWORD>(std::strlen(path) + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
  }
};

}  // namespace

MappingPlatform& SystemMappingPlatform() {
  static Win32MappingPlatform platform;
  return platform;
}

}  // namespace vrt
