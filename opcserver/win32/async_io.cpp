// The group's asynchronous I/O: IOPCAsyncIO2, completed in the caller's
// thread through the caller's own IOPCDataCallback before the call returns,
// and the DA 1.0 IOPCAsyncIO, whose requests are queued for the poll thread.
#include <windows.h>

#include <vector>

#include "com_boundary.h"
#include "opc_group.h"
#include "opc_server.h"
#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

constexpr DWORD kReadCancelId = 11;
constexpr DWORD kWriteCancelId = 99;
constexpr DWORD kRefreshCancelId = 88;
constexpr WORD kGoodQuality = 0xC0;

// The values, qualities, time stamps and errors of one callback.
struct Completion {
  explicit Completion(std::size_t count)
      : clientHandles(count, 0), values(count), qualities(count, 0), stamps(count), errors(count, S_OK) {
    for (VARIANT& value : values) VariantInit(&value);
  }
  ~Completion() {
    for (VARIANT& value : values) VariantClear(&value);
  }
  HRESULT MasterQuality() const {
    for (WORD quality : qualities) {
      if ((quality & kGoodQuality) != kGoodQuality) return S_FALSE;
    }
    return S_OK;
  }
  HRESULT MasterError() const {
    for (HRESULT error : errors) {
      if (error != S_OK) return S_FALSE;
    }
    return S_OK;
  }
  std::vector<OPCHANDLE> clientHandles;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
};

// Calls a client's callback; what it throws becomes RPC_E_SERVERFAULT.
template <typename Call>
HRESULT Callback(Call call) {
  try {
    return call();
  } catch (...) {
    return RPC_E_SERVERFAULT;
  }
}

}  // namespace

// IOPCAsyncIO2

HRESULT OpcGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                       HRESULT** ppErrors) {
  IOPCDataCallback* sink = dataCallback_.Slot().CallerSink();
  if (sink == nullptr) return CONNECT_E_NOCONNECTION;
  auto release = [&] { sink->Release(); };
  if (dwCount == 0 || phServer == nullptr || pdwCancelID == nullptr || ppErrors == nullptr) {
    release();
    return E_INVALIDARG;
  }
  *ppErrors = nullptr;
  *pdwCancelID = kReadCancelId;
  HRESULT* errors = Results<HRESULT>(dwCount);
  if (errors == nullptr) {
    release();
    return E_OUTOFMEMORY;
  }
  Completion completion(dwCount);
  bool anyRead = false;
  for (DWORD k = 0; k < dwCount; ++k) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) {
      completion.errors[k] = static_cast<HRESULT>(kInvalidHandle);
      continue;
    }
    completion.clientHandles[k] = item->ClientHandle();
    completion.errors[k] =
        item->Read(OPC_DS_CACHE, &completion.values[k], &completion.qualities[k], &completion.stamps[k]);
    anyRead = anyRead || SUCCEEDED(completion.errors[k]);
  }
  for (DWORD k = 0; k < dwCount; ++k) errors[k] = completion.errors[k];
  HRESULT result = completion.MasterError();
  if (anyRead) {
    OPCHANDLE group;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      group = clientHandle_;
    }
    const HRESULT called = Callback([&] {
      return sink->OnReadComplete(dwTransactionID, group, completion.MasterQuality(), completion.MasterError(), dwCount,
                                  completion.clientHandles.data(), completion.values.data(),
                                  completion.qualities.data(), completion.stamps.data(), completion.errors.data());
    });
    if (FAILED(called)) result = called;
  }
  release();
  *ppErrors = errors;
  return result;
}

HRESULT OpcGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                        DWORD* pdwCancelID, HRESULT** ppErrors) {
  IOPCDataCallback* sink = dataCallback_.Slot().CallerSink();
  if (sink == nullptr) return CONNECT_E_NOCONNECTION;
  auto release = [&] { sink->Release(); };
  if (dwCount == 0 || phServer == nullptr || pItemValues == nullptr || pdwCancelID == nullptr || ppErrors == nullptr) {
    release();
    return E_INVALIDARG;
  }
  *ppErrors = nullptr;
  *pdwCancelID = kWriteCancelId;
  HRESULT* errors = Results<HRESULT>(dwCount);
  if (errors == nullptr) {
    release();
    return E_OUTOFMEMORY;
  }
  std::vector<OPCHANDLE> clientHandles(dwCount, 0);
  bool anyWritten = false;
  for (DWORD k = 0; k < dwCount; ++k) {
    auto item = FindItem(phServer[k]);
    if (item == nullptr) {
      errors[k] = static_cast<HRESULT>(kInvalidHandle);
      continue;
    }
    clientHandles[k] = item->ClientHandle();
    errors[k] = item->Write(pItemValues[k]);
    anyWritten = anyWritten || SUCCEEDED(errors[k]);
  }
  HRESULT master = S_OK;
  for (DWORD k = 0; k < dwCount; ++k) {
    if (errors[k] != S_OK) master = S_FALSE;
  }
  HRESULT result = master;
  if (anyWritten) {
    OPCHANDLE group;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      group = clientHandle_;
    }
    // Each item's real result, a refused write included.
    const HRESULT called = Callback(
        [&] { return sink->OnWriteComplete(dwTransactionID, group, master, dwCount, clientHandles.data(), errors); });
    if (FAILED(called)) result = called;
  }
  release();
  *ppErrors = errors;
  return result;
}

HRESULT OpcGroup::Refresh2(OPCDATASOURCE, DWORD dwTransactionID, DWORD* pdwCancelID) {
  IOPCDataCallback* sink = dataCallback_.Slot().CallerSink();
  if (sink == nullptr) return CONNECT_E_NOCONNECTION;
  if (pdwCancelID == nullptr) {
    sink->Release();
    return E_INVALIDARG;
  }
  *pdwCancelID = kRefreshCancelId;
  // Every item, active or not, from the driver.
  const std::vector<std::shared_ptr<OpcItem>> items = ItemSnapshot();
  if (items.empty()) {
    sink->Release();
    return E_FAIL;
  }
  Completion completion(items.size());
  for (std::size_t k = 0; k < items.size(); ++k) {
    completion.clientHandles[k] = items[k]->ClientHandle();
    completion.errors[k] =
        items[k]->Read(OPC_DS_DEVICE, &completion.values[k], &completion.qualities[k], &completion.stamps[k]);
  }
  OPCHANDLE group;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    group = clientHandle_;
  }
  HRESULT result = completion.MasterError();
  const HRESULT called = Callback([&] {
    return sink->OnDataChange(dwTransactionID, group, completion.MasterQuality(), completion.MasterError(),
                              static_cast<DWORD>(items.size()), completion.clientHandles.data(),
                              completion.values.data(), completion.qualities.data(), completion.stamps.data(),
                              completion.errors.data());
  });
  if (FAILED(called)) result = called;
  sink->Release();
  return result;
}

HRESULT OpcGroup::Cancel2(DWORD) { return E_FAIL; }

HRESULT OpcGroup::SetEnable(BOOL bEnable) {
  if (!dataCallback_.Slot().Advised()) return CONNECT_E_NOCONNECTION;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    active_ = bEnable ? TRUE : FALSE;
  }
  return S_OK;
}

HRESULT OpcGroup::GetEnable(BOOL* pbEnable) {
  if (!dataCallback_.Slot().Advised()) return CONNECT_E_NOCONNECTION;
  if (pbEnable == nullptr) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  *pbEnable = active_;
  return S_OK;
}

// IOPCAsyncIO

HRESULT OpcGroup::QueueRequest(bool write, DWORD source, DWORD count, OPCHANDLE* handles, VARIANT* values,
                               DWORD* transactionId, HRESULT** ppErrors) {
  *ppErrors = nullptr;
  HRESULT* errors = Results<HRESULT>(count);
  if (errors == nullptr) return E_OUTOFMEMORY;
  return Guarded([&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    // Every handle is checked first: one unknown handle queues nothing.
    bool anyUnknown = false;
    for (DWORD k = 0; k < count; ++k) {
      errors[k] = items_.Find(handles[k]) == nullptr ? static_cast<HRESULT>(kInvalidHandle) : S_OK;
      anyUnknown = anyUnknown || errors[k] != S_OK;
    }
    *ppErrors = errors;
    if (anyUnknown) return static_cast<HRESULT>(kInvalidHandle);
    auto request = std::make_unique<QueuedRequest>();
    request->source = source;
    request->handles.assign(handles, handles + count);
    if (write) {
      request->values.resize(count);
      for (DWORD k = 0; k < count; ++k) {
        VariantInit(&request->values[k]);
        VariantCopy(&request->values[k], &values[k]);
      }
    }
    request->transactionId = server_->NextTransactionId();
    *transactionId = request->transactionId;
    (write ? writeRequests_ : readRequests_).push_back(std::move(request));
    return S_OK;
  });
}

HRESULT OpcGroup::Read(DWORD, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, DWORD* pTransactionID,
                       HRESULT** ppErrors) {
  if (dwCount == 0 || phServer == nullptr || pTransactionID == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  if (!adviseSinks_[kFormatData].Advised() && !adviseSinks_[kFormatDataTime].Advised()) {
    return CONNECT_E_NOCONNECTION;
  }
  return QueueRequest(false, dwSource, dwCount, phServer, nullptr, pTransactionID, ppErrors);
}

HRESULT OpcGroup::Write(DWORD, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD* pTransactionID,
                        HRESULT** ppErrors) {
  if (dwCount == 0 || phServer == nullptr || pItemValues == nullptr || pTransactionID == nullptr ||
      ppErrors == nullptr) {
    return E_INVALIDARG;
  }
  if (!adviseSinks_[kFormatWriteComplete].Advised()) return CONNECT_E_NOCONNECTION;
  return QueueRequest(true, OPC_DS_DEVICE, dwCount, phServer, pItemValues, pTransactionID, ppErrors);
}

HRESULT OpcGroup::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
  if (pTransactionID == nullptr) return E_INVALIDARG;
  if (!adviseSinks_[kFormatData].Advised() && !adviseSinks_[kFormatDataTime].Advised()) {
    return CONNECT_E_NOCONNECTION;
  }
  std::vector<OPCHANDLE> handles;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!active_) return E_FAIL;
    for (auto& [handle, item] : items_) {
      if (item->Active()) handles.push_back(handle);
    }
  }
  if (handles.empty()) return E_FAIL;
  HRESULT* errors = nullptr;
  const HRESULT result = Read(dwConnection, dwSource, static_cast<DWORD>(handles.size()), handles.data(),
                              pTransactionID, &errors);
  CoTaskMemFree(errors);
  return FAILED(result) ? E_FAIL : S_OK;
}

HRESULT OpcGroup::Cancel(DWORD dwTransactionID) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (auto* list : {&readRequests_, &writeRequests_}) {
    for (auto request = list->begin(); request != list->end(); ++request) {
      if ((*request)->transactionId == dwTransactionID) {
        list->erase(request);
        return S_OK;
      }
    }
  }
  return E_FAIL;
}

}  // namespace vrt::opc
