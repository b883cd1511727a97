// OpcGroup: group state, item management and synchronous reads and writes.
#include "opc_group.h"

#include <cstring>
#include <new>
#include <vector>

#include "com_boundary.h"
#include "enumerators.h"
#include "item_values.h"
#include "opc_server.h"
#include "server_rules.h"
#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

HRESULT Overall(const HRESULT* errors, DWORD count) {
  for (DWORD k = 0; k < count; ++k) {
    if (errors[k] != S_OK) return S_FALSE;
  }
  return S_OK;
}

}  // namespace

OpcGroup::OpcGroup(OpcServer* server, OPCHANDLE serverHandle) : server_(server), serverHandle_(serverHandle) {
  TIME_ZONE_INFORMATION zone{};
  GetTimeZoneInformation(&zone);
  timeBias_ = zone.Bias;
}

OpcGroup::~OpcGroup() {
  // The client's sinks go on the poll thread: this may be the client's own
  // last Release, which the COM runtime serves while it waits for nothing
  // else of that client.
  server_->ReleaseOnPollThread(dataCallback_.Slot().TakeAll());
  for (auto& slot : adviseSinks_) server_->ReleaseOnPollThread(slot.TakeAll());
  readRequests_.clear();
  writeRequests_.clear();
  items_.Clear();
}

OpcGroup::QueuedRequest::~QueuedRequest() {
  for (VARIANT& value : values) VariantClear(&value);
}

HRESULT OpcGroup::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *object = static_cast<IOPCGroupStateMgt*>(this);
  } else if (IsEqualIID(iid, IID_IOPCGroupStateMgt)) {
    *object = static_cast<IOPCGroupStateMgt*>(this);
  } else if (IsEqualIID(iid, IID_IOPCGroupStateMgt2)) {
    *object = static_cast<IOPCGroupStateMgt2*>(this);
  } else if (IsEqualIID(iid, IID_IOPCSyncIO)) {
    SendDriverMessage(kMessageInformation, kSyncIoConnecting);
    *object = static_cast<IOPCSyncIO*>(this);
  } else if (IsEqualIID(iid, IID_IOPCSyncIO2)) {
    *object = static_cast<IOPCSyncIO2*>(this);
  } else if (IsEqualIID(iid, IID_IOPCAsyncIO)) {
    SendDriverMessage(kMessageInformation, kVersion1Connecting);
    *object = static_cast<IOPCAsyncIO*>(this);
  } else if (IsEqualIID(iid, IID_IOPCItemMgt)) {
    *object = static_cast<IOPCItemMgt*>(this);
  } else if (IsEqualIID(iid, IID_IDataObject)) {
    if (!dataObjectCreated_) {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      formats_[kFormatData] = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATA"));
      formats_[kFormatDataTime] = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATATIME"));
      formats_[kFormatWriteComplete] = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE"));
      dataObjectCreated_ = true;
    }
    *object = static_cast<IDataObject*>(this);
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else if (IsEqualIID(iid, IID_IOPCAsyncIO2)) {
    SendDriverMessage(kMessageInformation, kVersion2Connecting);
    *object = static_cast<IOPCAsyncIO2*>(this);
  } else if (IsEqualIID(iid, IID_IOPCAsyncIO3)) {
    *object = static_cast<IOPCAsyncIO3*>(this);
  } else if (IsEqualIID(iid, IID_IOPCItemDeadbandMgt)) {
    *object = static_cast<IOPCItemDeadbandMgt*>(this);
  } else if (IsEqualIID(iid, IID_IOPCItemSamplingMgt)) {
    *object = static_cast<IOPCItemSamplingMgt*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG OpcGroup::AddRef() {
  ++clientReferences_;
  const long count = ++references_;
  server_->AddRef();
  return static_cast<ULONG>(count);
}

ULONG OpcGroup::Release() {
  OpcServer* server = server_;
  --clientReferences_;
  const long count = --references_;
  if (count == 0) delete this;
  server->Release();
  return static_cast<ULONG>(count);
}

void OpcGroup::ReleaseServerReference() {
  if (--references_ == 0) delete this;
}

void OpcGroup::Initialise(BOOL active, DWORD updateRate, OPCHANDLE clientHandle, LCID lcid) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  clientHandle_ = clientHandle;
  lcid_ = lcid;
  updateRate_ = updateRate;
  active_ = active ? TRUE : FALSE;
  countdown_ = 0;
}

bool OpcGroup::SetPercentDeadband(float percent) {
  if (!DeadbandAccepted(percent)) return false;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  percentDeadband_ = percent;
  return true;
}

void OpcGroup::SetTimeBias(LONG bias) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  timeBias_ = bias;
}

void OpcGroup::AssignName(const std::wstring& name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  name_ = name;
}

std::wstring OpcGroup::Name() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return name_;
}

void OpcGroup::MakeDue() {
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    countdown_ = 0;
  }
  server_->WakePollThread();
}

bool OpcGroup::CopyInto(OpcGroup& clone) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::lock_guard<std::recursive_mutex> cloneGuard(clone.lock_);
  clone.active_ = FALSE;
  clone.clientHandle_ = clientHandle_;
  clone.updateRate_ = updateRate_;
  clone.keepAlive_ = keepAlive_;
  clone.itemsSampled_ = itemsSampled_;
  clone.timeBias_ = timeBias_;
  clone.percentDeadband_ = percentDeadband_;
  clone.lcid_ = lcid_;
  for (auto& [handle, item] : items_) {
    const OPCHANDLE copyHandle = server_->Handles().Next();
    if (copyHandle == 0) return false;
    auto copy = std::make_shared<OpcItem>();
    copy->CopyFrom(*item, copyHandle);
    if (!clone.items_.Add(copyHandle, copy)) return false;
  }
  return true;
}

std::vector<std::shared_ptr<OpcItem>> OpcGroup::ItemSnapshot() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::vector<std::shared_ptr<OpcItem>> items;
  items.reserve(items_.Size());
  for (auto& [handle, item] : items_) items.push_back(item);
  return items;
}

std::shared_ptr<OpcItem> OpcGroup::FindItemById(const std::wstring& itemId, bool activeOnly) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (auto& [handle, item] : items_) {
    const OpcItem::Attributes attributes = item->Describe();
    if (attributes.itemId == itemId && (!activeOnly || attributes.active)) return item;
  }
  return nullptr;
}

std::shared_ptr<OpcItem> OpcGroup::FindItem(OPCHANDLE handle) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto* found = items_.Find(handle);
  return found == nullptr ? nullptr : *found;
}

// IOPCGroupStateMgt

HRESULT OpcGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                           FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                           OPCHANDLE* phServerGroup) {
  return Guarded([&]() -> HRESULT {
    if (deleted_) return E_FAIL;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (ppName != nullptr) {
      *ppName = TaskString(name_);
      if (*ppName == nullptr) return E_FAIL;
    }
    if (pUpdateRate != nullptr) *pUpdateRate = updateRate_;
    if (pActive != nullptr) *pActive = active_;
    if (pTimeBias != nullptr) *pTimeBias = timeBias_;
    if (pPercentDeadband != nullptr) *pPercentDeadband = percentDeadband_;
    if (pLCID != nullptr) *pLCID = lcid_;
    if (phClientGroup != nullptr) *phClientGroup = clientHandle_;
    if (phServerGroup != nullptr) *phServerGroup = serverHandle_;
    return S_OK;
  });
}

HRESULT OpcGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                           FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) {
  return Guarded([&]() -> HRESULT {
    if (deleted_) return E_FAIL;
    if (pRequestedUpdateRate != nullptr && pRevisedUpdateRate == nullptr) return E_INVALIDARG;
    HRESULT result = S_OK;
    bool wake = false;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      if (pRequestedUpdateRate != nullptr) {
        updateRate_ = RevisedUpdateRate(*pRequestedUpdateRate, Module().settings.threadSleepTime);
        *pRevisedUpdateRate = updateRate_;
        if (updateRate_ != *pRequestedUpdateRate) result = static_cast<HRESULT>(kUnsupportedRate);
      }
      if (pActive != nullptr) {
        active_ = *pActive ? TRUE : FALSE;
        countdown_ = 0;
        wake = true;
      }
      if (phClientGroup != nullptr) clientHandle_ = *phClientGroup;
      // A refused deadband leaves the other fields applied.
      if (pPercentDeadband != nullptr) {
        if (DeadbandAccepted(*pPercentDeadband)) {
          percentDeadband_ = *pPercentDeadband;
        } else {
          result = E_INVALIDARG;
        }
      }
      if (pLCID != nullptr) lcid_ = *pLCID;
      if (pTimeBias != nullptr) timeBias_ = *pTimeBias;
      // An [out] value is always given: through a proxy the client would
      // otherwise read whatever the stub had there.
      if (pRevisedUpdateRate != nullptr) *pRevisedUpdateRate = updateRate_;
    }
    if (wake) server_->WakePollThread();
    return result;
  });
}

HRESULT OpcGroup::SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) {
  if (pdwRevisedKeepAliveTime == nullptr) return E_INVALIDARG;
  *pdwRevisedKeepAliveTime = 0;
  if (deleted_) return E_FAIL;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  // Never quicker than the poll thread looks at the group.
  keepAlive_ = dwKeepAliveTime == 0 ? 0 : RevisedUpdateRate(dwKeepAliveTime, Module().settings.threadSleepTime);
  keepAliveQuiet_ = 0;
  *pdwRevisedKeepAliveTime = keepAlive_;
  return keepAlive_ == dwKeepAliveTime ? S_OK : static_cast<HRESULT>(kUnsupportedRate);
}

HRESULT OpcGroup::GetKeepAlive(DWORD* pdwKeepAliveTime) {
  if (pdwKeepAliveTime == nullptr) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  *pdwKeepAliveTime = keepAlive_;
  return S_OK;
}

HRESULT OpcGroup::SetName(LPCWSTR szName) {
  return Guarded([&]() -> HRESULT {
    if (deleted_) return E_FAIL;
    if (szName == nullptr || *szName == L'\0') return E_INVALIDARG;
    return server_->RenameGroup(*this, szName) ? S_OK : static_cast<HRESULT>(kDuplicateName);
  });
}

HRESULT OpcGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  return Guarded([&]() -> HRESULT {
    if (deleted_) return E_FAIL;
    if (szName == nullptr || ppUnk == nullptr) return E_INVALIDARG;
    *ppUnk = nullptr;
    return server_->AddClone(*this, szName, riid, ppUnk);
  });
}

// IOPCItemMgt

HRESULT OpcGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) {
  if (dwCount == 0 || pItemArray == nullptr || ppAddResults == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  *ppAddResults = nullptr;
  *ppErrors = nullptr;
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  if (!Results(dwCount, &results, &errors)) return E_OUTOFMEMORY;
  HRESULT overall = S_OK;
  try {
    for (DWORD k = 0; k < dwCount; ++k) {
      const OPCITEMDEF& definition = pItemArray[k];
      if (definition.szItemID != nullptr && !ItemIdLengthAccepted(wcslen(definition.szItemID))) {
        errors[k] = static_cast<HRESULT>(kInvalidItemId);
        continue;
      }
      const OPCHANDLE handle = server_->Handles().Next();
      if (handle == 0) {
        errors[k] = E_OUTOFMEMORY;
        continue;
      }
      auto item = std::make_shared<OpcItem>();
      errors[k] = item->Parse(definition, true, handle, results[k]);
      if (errors[k] != S_OK) {
        results[k] = OPCITEMRESULT{};
        continue;
      }
      std::lock_guard<std::recursive_mutex> guard(lock_);
      items_.Add(handle, std::move(item));
    }
    overall = Overall(errors, dwCount);
  } catch (...) {
    // Whatever this call added goes again, and so does every other item:
    // the group is left without items rather than half of them.
    std::lock_guard<std::recursive_mutex> guard(lock_);
    items_.Clear();
    TaskFree(results);
    TaskFree(errors);
    return E_FAIL;
  }
  SendDriverMessage(kMessageInformation, ItemsAddedMessage(dwCount, static_cast<std::uint32_t>(overall)));
  MakeDue();
  *ppAddResults = results;
  *ppErrors = errors;
  return overall;
}

HRESULT OpcGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL, OPCITEMRESULT** ppValidationResults,
                                HRESULT** ppErrors) {
  if (dwCount == 0 || pItemArray == nullptr || ppValidationResults == nullptr || ppErrors == nullptr) {
    return E_INVALIDARG;
  }
  *ppValidationResults = nullptr;
  *ppErrors = nullptr;
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  if (!Results(dwCount, &results, &errors)) return E_OUTOFMEMORY;
  HRESULT overall = S_OK;
  try {
    OpcItem temporary;
    for (DWORD k = 0; k < dwCount; ++k) {
      const OPCITEMDEF& definition = pItemArray[k];
      if (definition.szItemID != nullptr && !ItemIdLengthAccepted(wcslen(definition.szItemID))) {
        errors[k] = static_cast<HRESULT>(kInvalidItemId);
        continue;
      }
      errors[k] = temporary.Parse(definition, false, k, results[k]);
      if (errors[k] != S_OK) results[k] = OPCITEMRESULT{};
    }
    overall = Overall(errors, dwCount);
  } catch (...) {
    TaskFree(results);
    TaskFree(errors);
    return E_FAIL;
  }
  *ppValidationResults = results;
  *ppErrors = errors;
  return overall;
}

HRESULT OpcGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  if (dwCount == 0 || phServer == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  *ppErrors = nullptr;
  auto* errors = Results<HRESULT>(dwCount);
  if (errors == nullptr) return E_OUTOFMEMORY;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    for (DWORD k = 0; k < dwCount; ++k) {
      errors[k] = items_.Remove(phServer[k]) ? S_OK : static_cast<HRESULT>(kInvalidHandle);
    }
  }
  *ppErrors = errors;
  return Overall(errors, dwCount);
}

HRESULT OpcGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) {
  if (dwCount == 0 || phServer == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  *ppErrors = nullptr;
  auto* errors = Results<HRESULT>(dwCount);
  if (errors == nullptr) return E_OUTOFMEMORY;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    for (DWORD k = 0; k < dwCount; ++k) {
      auto* item = items_.Find(phServer[k]);
      if (item == nullptr) {
        errors[k] = static_cast<HRESULT>(kInvalidHandle);
        continue;
      }
      (*item)->SetActive(bActive != FALSE);
      errors[k] = S_OK;
    }
  }
  MakeDue();
  *ppErrors = errors;
  return Overall(errors, dwCount);
}

HRESULT OpcGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) {
  if (dwCount == 0 || phServer == nullptr || phClient == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  *ppErrors = nullptr;
  auto* errors = Results<HRESULT>(dwCount);
  if (errors == nullptr) return E_OUTOFMEMORY;
  for (DWORD k = 0; k < dwCount; ++k) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) {
      errors[k] = static_cast<HRESULT>(kInvalidHandle);
      continue;
    }
    item->SetClientHandle(phClient[k]);
    errors[k] = S_OK;
  }
  *ppErrors = errors;
  return Overall(errors, dwCount);
}

HRESULT OpcGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) {
  if (dwCount == 0 || phServer == nullptr || pRequestedDatatypes == nullptr || ppErrors == nullptr) {
    return E_INVALIDARG;
  }
  *ppErrors = nullptr;
  auto* errors = Results<HRESULT>(dwCount);
  if (errors == nullptr) return E_OUTOFMEMORY;
  for (DWORD k = 0; k < dwCount; ++k) {
    auto item = FindItem(phServer[k]);
    errors[k] = item == nullptr ? static_cast<HRESULT>(kInvalidHandle) : item->SetRequestedType(pRequestedDatatypes[k]);
  }
  *ppErrors = errors;
  return Overall(errors, dwCount);
}

HRESULT OpcGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
  if (ppUnk == nullptr || !IsEqualIID(riid, IID_IEnumOPCItemAttributes)) return E_INVALIDARG;
  *ppUnk = nullptr;
  return Guarded([&]() -> HRESULT {
    std::vector<OpcItem::Attributes> attributes;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      attributes.reserve(items_.Size());
      for (auto& [handle, item] : items_) attributes.push_back(item->Describe());
    }
    IEnumOPCItemAttributes* enumerator = NewItemAttributesEnumerator(std::move(attributes));
    if (enumerator == nullptr) return E_OUTOFMEMORY;
    *ppUnk = enumerator;
    return S_OK;
  });
}

// IOPCSyncIO

HRESULT OpcGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                       HRESULT** ppErrors) {
  if (dwCount == 0 || phServer == nullptr || ppItemValues == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  *ppItemValues = nullptr;
  *ppErrors = nullptr;
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  if (!Results(dwCount, &states, &errors)) return E_OUTOFMEMORY;
  bool anyFailed = false;
  for (DWORD k = 0; k < dwCount; ++k) {
    VariantInit(&states[k].vDataValue);
    auto item = FindItem(phServer[k]);
    if (item == nullptr) {
      errors[k] = static_cast<HRESULT>(kInvalidHandle);
      anyFailed = true;
      continue;
    }
    states[k].hClient = item->ClientHandle();
    errors[k] = item->Read(dwSource, &states[k].vDataValue, &states[k].wQuality, &states[k].ftTimeStamp);
    if (FAILED(errors[k])) anyFailed = true;
  }
  *ppItemValues = states;
  *ppErrors = errors;
  return anyFailed ? S_FALSE : S_OK;
}

HRESULT OpcGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) {
  return EntryErrors(dwCount, phServer != nullptr && pItemValues != nullptr, ppErrors, [&](DWORD k) {
    auto item = FindItem(phServer[k]);
    return item == nullptr ? static_cast<HRESULT>(kInvalidHandle) : item->Write(pItemValues[k]);
  });
}

// IOPCSyncIO2

HRESULT OpcGroup::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                             WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) {
  return ReadEntries(dwCount, phServer != nullptr && pdwMaxAge != nullptr, ppvValues, ppwQualities, ppftTimeStamps,
                     ppErrors, [&](DWORD k, VARIANT* value, WORD* quality, FILETIME* stamp) {
                       auto item = FindItem(phServer[k]);
                       return item == nullptr ? static_cast<HRESULT>(kInvalidHandle)
                                              : item->ReadMaxAge(pdwMaxAge[k], true, value, quality, stamp);
                     });
}

HRESULT OpcGroup::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) {
  return EntryErrors(dwCount, phServer != nullptr && pItemVQT != nullptr, ppErrors, [&](DWORD k) {
    auto item = FindItem(phServer[k]);
    return item == nullptr                   ? static_cast<HRESULT>(kInvalidHandle)
           : !WritesValueOnly(pItemVQT[k]) ? OPC_E_NOTSUPPORTED
                                             : item->Write(pItemVQT[k].vDataValue);
  });
}

}  // namespace vrt::opc

namespace vrt::opc {

// IConnectionPointContainer

HRESULT OpcGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  dataCallback_.AddRef();
  *ppEnum = NewConnectionPointEnumerator({&dataCallback_});
  if (*ppEnum == nullptr) {
    dataCallback_.Release();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT OpcGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (ppCP == nullptr) return E_POINTER;
  *ppCP = nullptr;
  if (!IsEqualIID(riid, IID_IOPCDataCallback)) return CONNECT_E_NOCONNECTION;
  dataCallback_.AddRef();
  *ppCP = &dataCallback_;
  return S_OK;
}

}  // namespace vrt::opc
