// The group's per-item settings of DA 3.0: IOPCItemDeadbandMgt, an analog
// item's own percent deadband, which its change test uses instead of the
// group's until it is cleared.
#include "item_values.h"
#include "opc_group.h"
#include "opc_results.h"
#include "server_rules.h"

namespace vrt::opc {

HRESULT OpcGroup::SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband, HRESULT** ppErrors) {
  return EntryErrors(dwCount, phServer != nullptr && pPercentDeadband != nullptr, ppErrors, [&](DWORD k) {
    auto item = FindItem(phServer[k]);
    return item == nullptr ? static_cast<HRESULT>(kInvalidHandle) : item->SetDeadband(pPercentDeadband[k]);
  });
}

HRESULT OpcGroup::GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband, HRESULT** ppErrors) {
  if (ppPercentDeadband != nullptr) *ppPercentDeadband = nullptr;
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (dwCount == 0 || phServer == nullptr || ppPercentDeadband == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  FLOAT* percents = nullptr;
  HRESULT* errors = nullptr;
  if (!Results(dwCount, &percents, &errors)) return E_OUTOFMEMORY;
  bool anyFailed = false;
  for (DWORD k = 0; k < dwCount; ++k) {
    auto item = FindItem(phServer[k]);
    const std::optional<float> deadband = item == nullptr ? std::nullopt : item->Deadband();
    errors[k] = item == nullptr ? static_cast<HRESULT>(kInvalidHandle)
                : !deadband     ? static_cast<HRESULT>(kDeadbandNotSet)
                                : S_OK;
    percents[k] = deadband.value_or(0.0f);
    if (FAILED(errors[k])) anyFailed = true;
  }
  *ppPercentDeadband = percents;
  *ppErrors = errors;
  return anyFailed ? S_FALSE : S_OK;
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

}  // namespace vrt::opc
