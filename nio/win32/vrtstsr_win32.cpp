// VRTSTSR.dll: the exports of the NIO library over the platform-neutral core,
// the process's state, the data-access critical section and the VARIANT
// forms of reads and writes.
#define VRTSTSR_BUILDING
#include <windows.h>
#include <oleauto.h>

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
  std::uint64_t stamp = 0;
  vrt::NioVariantRead read;
  {
    DataAccessGuard guard;
    read = vrt::NioReadForVariant(Process(), status, block, valueSpec, &stamp, quality);
  }
  if (timeStamp != nullptr) {
    timeStamp->dwLowDateTime = static_cast<DWORD>(stamp);
    timeStamp->dwHighDateTime = static_cast<DWORD>(stamp >> 32);
  }
  if (value == nullptr) return;
  if (read.kind == vrt::NioVariantKind::kFloat) {
    VariantClear(value);
    value->vt = VT_R4;
    value->fltVal = read.number;
  } else if (read.kind == vrt::NioVariantKind::kBoolean) {
    VariantClear(value);
    value->vt = VT_BOOL;
    value->boolVal = read.boolean ? VARIANT_TRUE : VARIANT_FALSE;
  }
}

void nio_sendEx(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, uint16_t, uint16_t, VARIANT* value) {
  SetStatus(status, vrt::kNioOk);
  const vrt::NioVariantKind kind = vrt::NioVariantKindOf(valueSpec);
  if (kind != vrt::NioVariantKind::kFloat && kind != vrt::NioVariantKind::kBoolean) {
    SetStatus(status, vrt::kNioUnsupportedKind);
    return;
  }
  VARIANT converted;
  VariantInit(&converted);
  if (value == nullptr ||
      FAILED(VariantChangeType(&converted, value, 0, kind == vrt::NioVariantKind::kFloat ? VT_R4 : VT_BOOL))) {
    SetStatus(status, vrt::kNioKindMismatch);
    return;
  }
  DataAccessGuard guard;
  if (kind == vrt::NioVariantKind::kFloat) {
    vrt::NioSendNumber(Process(), status, block, valueSpec, converted.fltVal);
  } else {
    vrt::NioSendBoolean(Process(), status, block, valueSpec, converted.boolVal != VARIANT_FALSE);
  }
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
