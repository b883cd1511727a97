// VRTSTSR.dll: the exports of the NIO library over the platform-neutral core,
// the process's state, the data-access critical section and the VARIANT
// forms of reads and writes.
#define VRTSTSR_BUILDING
#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "dit_api.h"
#include "nio_addressing.h"
#include "nio_data.h"
#include "nio_enumeration.h"
#include "nio_exceptions.h"
#include "nio_status.h"
#include "vrtstsr.h"

namespace {

vrt::NioProcess& Process() {
  static vrt::NioProcess process(vrt::ProcessMapping(), vrt::SystemMappingPlatform());
  return process;
}

CRITICAL_SECTION dataAccess;

class DataAccessGuard {
 public:
  DataAccessGuard() { EnterCriticalSection(&dataAccess); }
  ~DataAccessGuard() { LeaveCriticalSection(&dataAccess); }
  DataAccessGuard(const DataAccessGuard&) = delete;
  DataAccessGuard& operator=(const DataAccessGuard&) = delete;
};

void SetStatus(std::uint16_t* status, std::uint16_t value) {
  if (status != nullptr) *status = value;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&dataAccess);
    // Attach now, so that a client finds its driver running (the first
    // client starts it) before its first call.
    vrt::nio_map_hdr();
    vrt::nio_enable_options(Process(), 0);
  } else if (reason == DLL_PROCESS_DETACH) {
    DeleteCriticalSection(&dataAccess);
  }
  return TRUE;
}

// Addressing.

void nio_paddr(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const char* text) {
  vrt::nio_paddr(Process().mapping, status, block, valueSpec, text);
}

void nio_daddr(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, char* text, int capacity) {
  vrt::nio_daddr(Process().mapping, status, block, valueSpec, text,
                 capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
}

void nio_psig(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const char* name) {
  vrt::nio_psig(status, block, valueSpec, name);
}

void nio_dsig(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, char* text) {
  vrt::nio_dsig(status, block, valueSpec, text, NIO_SIGNAL_NAME_SIZE);
}

void nio_popt(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const char* text) {
  vrt::nio_popt(status, block, valueSpec, text);
}

void nio_dopt(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, char* text) {
  vrt::nio_dopt(status, block, valueSpec, text, NIO_OPTION_TEXT_SIZE);
}

int nio_find_dev(const char* name) { return vrt::nio_find_dev(Process().mapping, name); }

// Reads and writes.

void nio_read(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, NioValue* value) {
  vrt::nio_read(Process(), status, block, valueSpec, value);
}

void nio_send(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, NioValue* value) {
  vrt::nio_send(Process(), status, block, valueSpec, value);
}

void nio_readEx(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, FILETIME* timeStamp, uint16_t* quality,
                uint16_t, VARIANT* value) {
  alignas(8) std::uint8_t buffer[8] = {};
  NioValue read{0, sizeof buffer, 0, buffer};
  std::uint16_t callStatus = vrt::kNioOk;
  {
    DataAccessGuard guard;
    vrt::nio_read(Process(), &callStatus, block, valueSpec, &read);
    if (timeStamp != nullptr) {
      timeStamp->dwLowDateTime = static_cast<DWORD>(Process().lastTimeStamp);
      timeStamp->dwHighDateTime = static_cast<DWORD>(Process().lastTimeStamp >> 32);
    }
  }
  SetStatus(status, callStatus);
  if (quality == nullptr) return;
  *quality = vrt::NioQuality(callStatus, read.valueStatus, *quality);
  const std::uint8_t valueKind = valueSpec != nullptr ? valueSpec->valueKind : 0;
  if (valueKind == vrt::kValueKindText) return;
  if (valueKind != vrt::kValueKindAnalog && valueKind != vrt::kValueKindDigital) {
    SetStatus(status, vrt::kNioUnsupportedKind);
    return;
  }
  if (value == nullptr) return;
  VariantClear(value);
  if (valueKind == vrt::kValueKindAnalog) {
    float number = 0.0f;
    std::memcpy(&number, buffer, sizeof number);
    value->vt = VT_R4;
    value->fltVal = number;
  } else {
    value->vt = VT_BOOL;
    value->boolVal = (buffer[0] & 1) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  }
}

void nio_sendEx(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, uint16_t, uint16_t, VARIANT* value) {
  SetStatus(status, vrt::kNioOk);
  const std::uint8_t valueKind = valueSpec != nullptr ? valueSpec->valueKind : 0;
  if (valueKind != vrt::kValueKindAnalog && valueKind != vrt::kValueKindDigital) {
    SetStatus(status, vrt::kNioUnsupportedKind);
    return;
  }
  VARIANT converted;
  VariantInit(&converted);
  const VARTYPE wanted = valueKind == vrt::kValueKindAnalog ? VT_R4 : VT_BOOL;
  if (value == nullptr || FAILED(VariantChangeType(&converted, value, 0, wanted))) {
    SetStatus(status, vrt::kNioKindMismatch);
    return;
  }
  float number = 0.0f;
  std::uint8_t boolean = 0;
  NioValue write{};
  if (valueKind == vrt::kValueKindAnalog) {
    number = converted.fltVal;
    write = NioValue{vrt::kValueTagFloat, sizeof number, 0, &number};
  } else {
    boolean = converted.boolVal != VARIANT_FALSE ? 1 : 0;
    write = NioValue{vrt::kValueTagBoolean, sizeof boolean, 0, &boolean};
  }
  DataAccessGuard guard;
  vrt::nio_send(Process(), status, block, valueSpec, &write);
}

// Change notification.

uint8_t nio_enable_options(void*, uint8_t options) { return vrt::nio_enable_options(Process(), options); }

void nio_on(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const uint8_t* key, int length) {
  vrt::nio_on(Process(), status, block, valueSpec, key, length);
}

void nio_off(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const uint8_t* key) {
  vrt::nio_off(Process(), status, block, valueSpec, key);
}

void nio_fetch(uint16_t* status, void*, uint8_t* keys, int maxCount, int* count) {
  vrt::nio_fetch(Process(), status, keys, maxCount, count);
}

// Enumeration.

void nio_Enum_Devices(uint16_t* status, uint32_t* count, char** list) {
  vrt::nio_Enum_Devices(Process(), status, count, list);
}

void nio_Enum_PollRecs(uint16_t* status, const char* deviceName, uint32_t* count, char** list) {
  vrt::nio_Enum_PollRecs(Process(), status, deviceName, count, list);
}

void nio_Free(char* list) { vrt::nio_Free(Process(), list); }

int nio_num_pollblocks() { return vrt::nio_num_pollblocks(Process()); }

// Statistics and status.

void nio_read_stats(uint16_t* status, void*, int channelIndex, int16_t* activePort, uint8_t* statistics) {
  vrt::nio_read_stats(Process(), status, channelIndex, activePort, statistics);
}

void nio_reset_stats(uint16_t* status, void*, int channelIndex) {
  vrt::nio_reset_stats(Process(), status, channelIndex);
}

int nio_get_ServerStatus(char* text, int32_t* alive) { return vrt::nio_get_ServerStatus(Process(), text, alive); }

void nio_SendMsg(int attribute, const char* text) { vrt::nio_SendMsg(Process(), attribute, text); }

// Toolkit entry points.

void nio_tick() { vrt::nio_tick(); }
void nio_tick_enable(uint16_t* status) { vrt::nio_tick_enable(status); }
void nio_tick_disable(uint16_t* status) { vrt::nio_tick_disable(status); }
void nio_getsub(uint16_t* status) { vrt::nio_getsub(status); }
void nio_reset(uint16_t* status) { vrt::nio_reset(status); }
void nio_CleanUp(uint16_t* status) { vrt::nio_CleanUp(status); }
void nio_reload_dit() { vrt::nio_reload_dit(); }
