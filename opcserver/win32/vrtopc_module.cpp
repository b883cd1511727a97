// VRTOPC.dll's process-wide state and its load and unload.
#include "vrtopc_module.h"

#include <cstring>
#include <map>
#include <utility>

#include <process.h>

#include "opc_server.h"
#include "vrtstsr.h"

namespace vrt::opc {

EventReporter* CreateWindowsEventLog();

namespace {

OpcModule module;

struct ServerRegistry {
  std::mutex lock;
  std::map<std::uint32_t, OpcServer*> servers;
  std::uint32_t nextSerial = 1;
};
ServerRegistry registry;

class RegistrySettings final : public SettingsSource {
 public:
  std::optional<std::uint32_t> Dword(const char* subKey, const char* name) override {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (!Query(subKey, name, &type, &value, &size) || type != REG_DWORD || size != sizeof value) return std::nullopt;
    return value;
  }
  std::optional<std::string> String(const char* subKey, const char* name) override {
    char text[100] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    if (!Query(subKey, name, &type, text, &size) || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    text[sizeof text - 1] = '\0';
    return std::string(text, strnlen(text, size));
  }

 private:
  static bool Query(const char* subKey, const char* name, DWORD* type, void* data, DWORD* size) {
    const std::string path = std::string(kSettingsKey) + "\\" + subKey;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const LONG result = RegQueryValueExA(key, name, nullptr, type, static_cast<BYTE*>(data), size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
  }
};

bool ProcessAttach(HMODULE handle) {
  module.classDescription = std::string(kMakerAddress) + " " + kServerName;
  module.versionIndependentProgId = kVersionIndependentProgId;
  module.progId = module.versionIndependentProgId + "." + kProgIdVersion;
  module.module = handle;
  CoFileTimeNow(&module.loadTime);
  module.reporter = CreateWindowsEventLog();
  if (FAILED(CoGetMalloc(1, &module.allocator)) || module.allocator == nullptr) {
    module.reporter->Report(NoAllocatorReport());
    return false;
  }
  RegistrySettings settings;
  module.settings = ReadOpcSettings(settings);
  return true;
}

void ProcessDetach() {
  if (module.allocator != nullptr) module.allocator->Release();
  module.allocator = nullptr;
  delete module.reporter;
  module.reporter = nullptr;
}

}  // namespace

OpcModule& Module() { return module; }

void* TaskAlloc(std::size_t bytes) {
  return module.allocator == nullptr ? nullptr : module.allocator->Alloc(static_cast<SIZE_T>(bytes));
}

void TaskFree(void* block) {
  if (module.allocator != nullptr && block != nullptr) module.allocator->Free(block);
}

LPWSTR TaskString(const std::wstring& text) {
  auto* copy = static_cast<LPWSTR>(TaskAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  return copy;
}

void SendDriverMessage(int attribute, const std::string& text) { nio_SendMsg(attribute, text.c_str()); }

std::mutex& NioParseLock() {
  static std::mutex lock;
  return lock;
}

namespace {

// The bandwidth thread: one per process while any server lives. Every
// 500 ms each server's serviced group cycles per hundred ticks become its
// dwBandWidth.
struct BandwidthThread {
  std::mutex lifecycle;
  HANDLE thread = nullptr;
  HANDLE stop = nullptr;
};
BandwidthThread bandwidth;
constexpr DWORD kBandwidthPeriod = 500;

unsigned __stdcall BandwidthMain(void* stopEvent) {
  if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL)) module.reporter->Report(BandwidthPriorityReport());
  while (WaitForSingleObject(static_cast<HANDLE>(stopEvent), kBandwidthPeriod) == WAIT_TIMEOUT) {
    std::lock_guard<std::mutex> lock(registry.lock);
    for (auto& [serial, server] : registry.servers) server->UpdateBandwidth();
  }
  return 0;
}

void StartBandwidthThread() {
  std::lock_guard<std::mutex> lock(bandwidth.lifecycle);
  if (bandwidth.thread != nullptr) return;
  bandwidth.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (bandwidth.stop == nullptr) return;
  bandwidth.thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &BandwidthMain, bandwidth.stop, 0, nullptr));
  if (bandwidth.thread == nullptr) {
    CloseHandle(bandwidth.stop);
    bandwidth.stop = nullptr;
  }
}

// Stopped when the last server goes: woken, so it ends at once and is
// waited for, never killed. The handles are taken under the lock and the
// wait happens after it; a server created meanwhile starts a thread of its
// own.
void StopBandwidthThreadWhenIdle() {
  HANDLE thread = nullptr;
  HANDLE stop = nullptr;
  {
    std::lock_guard<std::mutex> lock(bandwidth.lifecycle);
    {
      std::lock_guard<std::mutex> registryLock(registry.lock);
      if (!registry.servers.empty()) return;
    }
    thread = std::exchange(bandwidth.thread, nullptr);
    stop = std::exchange(bandwidth.stop, nullptr);
  }
  if (thread == nullptr) return;
  SetEvent(stop);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(stop);
}

}  // namespace

std::uint32_t RegisterServer(OpcServer* server) {
  std::uint32_t serial;
  {
    std::lock_guard<std::mutex> lock(registry.lock);
    serial = registry.nextSerial++;
    registry.servers[serial] = server;
  }
  StartBandwidthThread();
  return serial;
}

bool UnregisterServer(std::uint32_t serial) {
  bool othersRemain;
  {
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.servers.erase(serial);
    othersRemain = !registry.servers.empty();
  }
  if (!othersRemain) StopBandwidthThreadWhenIdle();
  return othersRemain;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

}  // namespace vrt::opc

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    return vrt::opc::ProcessAttach(instance) ? TRUE : FALSE;
  }
  if (reason == DLL_PROCESS_DETACH) vrt::opc::ProcessDetach();
  return TRUE;
}
