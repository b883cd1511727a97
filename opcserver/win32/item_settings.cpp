// The group's per-item settings of DA 3.0: IOPCItemDeadbandMgt, an analog
// item's own percent deadband, which its change test uses instead of the
// group's until it is cleared; IOPCItemSamplingMgt, an item's own sampling
// rate and the buffering of what it samples between two updates.
#include <mutex>

#include "dit_api.h"
#include "item_sampling.h"
#include "item_values.h"
#include "opc_group.h"
#include "opc_results.h"
#include "server_rules.h"

namespace vrt::opc {

namespace {

// The poll time of the image's poll record `index` in milliseconds, 0 when
// it cannot be told. VRTSTSR exports no record's settings, so the server
// maps the image itself, through the mapping library's NIO flavour; its
// process-wide state is not for several threads at once, hence the lock (a
// leaf: nothing is taken under it).
std::uint32_t PollTimeMs(int index) {
  static std::mutex mappingLock;
  if (index < 0) return 0;
  std::lock_guard<std::mutex> guard(mappingLock);
  if (!vrt::ProcessMapping().Attached() && !vrt::init_dit()) return 0;
  if (index >= vrt::PollRecordCount()) return 0;
  const DitPollRecord* record = vrt::nio_map_dit(index);
  return record == nullptr ? 0 : record->pollTime * 10;  // hundredths of a second
}

// The per-item Get calls of DA 3.0: a value array and an error array, entry
// k from get(k, value), which gives its error.
template <typename T, typename GetEntry>
HRESULT ItemSettings(DWORD count, bool argumentsGiven, T** ppValues, HRESULT** ppErrors, GetEntry get) {
  if (ppValues != nullptr) *ppValues = nullptr;
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (count == 0 || !argumentsGiven || ppValues == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  auto* values = static_cast<T*>(TaskAlloc(sizeof(T) * count));
  auto* errors = static_cast<HRESULT*>(TaskAlloc(sizeof(HRESULT) * count));
  if (values == nullptr || errors == nullptr) {
    TaskFree(values);
    TaskFree(errors);
    return E_OUTOFMEMORY;
  }
  bool anyFailed = false;
  for (DWORD k = 0; k < count; ++k) {
    values[k] = T{};
    errors[k] = get(k, values[k]);
    if (FAILED(errors[k])) anyFailed = true;
  }
  *ppValues = values;
  *ppErrors = errors;
  return anyFailed ? S_FALSE : S_OK;
}

}  // namespace

HRESULT OpcGroup::SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband, HRESULT** ppErrors) {
  return EntryErrors(dwCount, phServer != nullptr && pPercentDeadband != nullptr, ppErrors, [&](DWORD k) {
    auto item = FindItem(phServer[k]);
    return item == nullptr ? static_cast<HRESULT>(kInvalidHandle) : item->SetDeadband(pPercentDeadband[k]);
  });
}

HRESULT OpcGroup::GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband, HRESULT** ppErrors) {
  return ItemSettings(dwCount, phServer != nullptr, ppPercentDeadband, ppErrors, [&](DWORD k, FLOAT& percent) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) return static_cast<HRESULT>(kInvalidHandle);
    const std::optional<float> deadband = item->Deadband();
    percent = deadband.value_or(0.0f);
    return deadband ? S_OK : static_cast<HRESULT>(kDeadbandNotSet);
  });
}

HRESULT OpcGroup::ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  return EntryErrors(dwCount, phServer != nullptr, ppErrors, [&](DWORD k) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) return static_cast<HRESULT>(kInvalidHandle);
    if (!item->Deadband()) return static_cast<HRESULT>(kDeadbandNotSet);
    item->ClearDeadband();
    return S_OK;
  });
}

// IOPCItemSamplingMgt. The revised rate is never quicker than the item's
// poll record is polled (the image holds nothing newer in between) nor than
// the poll thread ticks; OPC_S_UNSUPPORTEDRATE says it differs.
HRESULT OpcGroup::SetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwRequestedSamplingRate,
                                      DWORD** ppdwRevisedSamplingRate, HRESULT** ppErrors) {
  const HRESULT result = ItemSettings(
      dwCount, phServer != nullptr && pdwRequestedSamplingRate != nullptr, ppdwRevisedSamplingRate, ppErrors,
      [&](DWORD k, DWORD& revised) {
        auto item = FindItem(phServer[k]);
        if (item == nullptr) return static_cast<HRESULT>(kInvalidHandle);
        const DWORD requested = pdwRequestedSamplingRate[k];
        revised = RevisedSamplingRate(requested, PollTimeMs(item->PollRecordIndex()), Module().settings.threadSleepTime);
        item->SetSamplingRate(revised);
        return revised == requested ? S_OK : static_cast<HRESULT>(kUnsupportedRate);
      });
  if (SUCCEEDED(result)) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    itemsSampled_ = true;
  }
  return result;
}

HRESULT OpcGroup::GetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD** ppdwSamplingRate,
                                      HRESULT** ppErrors) {
  return ItemSettings(dwCount, phServer != nullptr, ppdwSamplingRate, ppErrors, [&](DWORD k, DWORD& rate) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) return static_cast<HRESULT>(kInvalidHandle);
    const std::optional<std::uint32_t> own = item->SamplingRate();
    rate = own.value_or(0);
    return own ? S_OK : static_cast<HRESULT>(kRateNotSet);
  });
}

HRESULT OpcGroup::ClearItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  return EntryErrors(dwCount, phServer != nullptr, ppErrors, [&](DWORD k) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) return static_cast<HRESULT>(kInvalidHandle);
    if (!item->SamplingRate()) return static_cast<HRESULT>(kRateNotSet);
    item->ClearSamplingRate();
    return S_OK;
  });
}

// Every item can buffer (a text item too), so OPC_E_NOBUFFERING is never
// given. Buffering matters only to an item sampled quicker than its group's
// updates; without a rate of its own it is kept until one is set.
HRESULT OpcGroup::SetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL* pbEnable, HRESULT** ppErrors) {
  return EntryErrors(dwCount, phServer != nullptr && pbEnable != nullptr, ppErrors, [&](DWORD k) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) return static_cast<HRESULT>(kInvalidHandle);
    item->SetBufferEnable(pbEnable[k] != FALSE);
    return S_OK;
  });
}

HRESULT OpcGroup::GetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL** ppbEnable, HRESULT** ppErrors) {
  return ItemSettings(dwCount, phServer != nullptr, ppbEnable, ppErrors, [&](DWORD k, BOOL& enabled) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) return static_cast<HRESULT>(kInvalidHandle);
    enabled = item->BufferEnabled() ? TRUE : FALSE;
    return S_OK;
  });
}

}  // namespace vrt::opc
