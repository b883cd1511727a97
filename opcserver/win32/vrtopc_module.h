// What VRTOPC keeps per process: the identity of its class, the settings
// read at load, the task allocator, the live-server and lock counts, the
// event-log reporter and the registry of live servers.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <mutex>
#include <string>

#include "opc_da.h"
#include "opc_results.h"
#include "opc_settings.h"
#include "vrtopc_identity.h"

namespace vrt::opc {

// {5C1E7A42-9B3D-4F60-A8E2-3D71C0B94F15}
inline constexpr GUID CLSID_VrtOpcServer = {0x5c1e7a42, 0x9b3d, 0x4f60, {0xa8, 0xe2, 0x3d, 0x71, 0xc0, 0xb9, 0x4f, 0x15}};

// The maker's web address: the prefix of the class description and the
// value of the ProgID's OPC\Vendor key.
inline constexpr const char* kMakerAddress = "www.kalvento.com";
inline constexpr const char* kServerName = "Harnix Tavex OPC Server";
inline constexpr const char* kVersionIndependentProgId = kVrtOpcProgId;
inline constexpr const char* kProgIdVersion = "6.9.6";

class OpcServer;

struct OpcModule {
  HMODULE module = nullptr;
  IMalloc* allocator = nullptr;
  FILETIME loadTime{};
  OpcSettings settings;
  std::string classDescription;
  std::string versionIndependentProgId;
  std::string progId;
  std::atomic<long> liveServers{0};
  std::atomic<long> locks{0};
  EventReporter* reporter = nullptr;
};

OpcModule& Module();

// Blocks from the task allocator; null when it has none.
void* TaskAlloc(std::size_t bytes);
void TaskFree(void* block);
// A copy of `text` in a block from the task allocator, or null.
LPWSTR TaskString(const std::wstring& text);

// A message into the driver's message ring through the NIO library.
void SendDriverMessage(int attribute, const std::string& text);

// Serialises the NIO library's address parsers between the server's threads.
std::mutex& NioParseLock();

// The server registry: live servers by serial number.
std::uint32_t RegisterServer(OpcServer* server);
// Takes the server out; true when others remain.
bool UnregisterServer(std::uint32_t serial);

// The wide text of an ANSI string, and back (the ANSI code page).
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace vrt::opc
