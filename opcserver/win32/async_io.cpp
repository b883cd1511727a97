// The group's asynchronous I/O: IOPCAsyncIO2 and DA 3.0's IOPCAsyncIO3,
// completed in the caller's thread through the caller's own
// IOPCDataCallback before the call returns, and the DA 1.0 IOPCAsyncIO,
// whose requests are queued for the poll thread.
#include <windows.h>

#include <vector>

#include "com_boundary.h"
#include "group_cycle.h"
#include "item_values.h"
#include "opc_group.h"
#include "opc_server.h"
#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

constexpr DWORD kReadCancelId = 11;
constexpr DWORD kWriteCancelId = 99;
constexpr DWORD kRefreshCancelId = 88;

// The result of a completion: the master error, unless the client's
// callback failed (what it throws becomes RPC_E_SERVERFAULT).
template <typename Call>
HRESULT CalledBack(HRESULT master, Call call) {
  HRESULT called;
  try {
    called = call();
  } catch (...) {
    called = RPC_E_SERVERFAULT;
  }
  return FAILED(called) ? called : master;
}

}  // namespace

// IOPCAsyncIO2

template <typename Body>
HRESULT OpcGroup::CompleteInCallersThread(bool argumentsGiven, DWORD* pdwCancelID, DWORD cancelId, Body body) {
  // The caller's own sink, held for this call: an Unadvise meanwhile lets
  // go of it only when this call is done with it.
  const auto sink = dataCallback_.Slot().Caller();
  if (!sink) return CONNECT_E_NOCONNECTION;
  if (!argumentsGiven || pdwCancelID == nullptr) return E_INVALIDARG;
  *pdwCancelID = cancelId;
  OPCHANDLE group;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    group = clientHandle_;
  }
  return Guarded([&]() -> HRESULT { return body(*sink->Get(), group); });
}

template <typename ReadItem>
HRESULT OpcGroup::CompleteRead(DWORD dwCount, OPCHANDLE* phServer, bool ownArgumentsGiven, DWORD dwTransactionID,
                               DWORD* pdwCancelID, HRESULT** ppErrors, ReadItem read) {
  const bool given = dwCount != 0 && phServer != nullptr && ownArgumentsGiven && ppErrors != nullptr;
  return CompleteInCallersThread(given, pdwCancelID, kReadCancelId, [&](IOPCDataCallback& sink, OPCHANDLE group) {
    *ppErrors = nullptr;
    HRESULT* errors = Results<HRESULT>(dwCount);
    if (errors == nullptr) return E_OUTOFMEMORY;
    ItemValues completion(dwCount);
    bool anyRead = false;
    for (DWORD k = 0; k < dwCount; ++k) {
      if (auto item = FindItem(phServer[k])) {
        read(completion, k, *item);
        anyRead = anyRead || SUCCEEDED(completion.errors[k]);
      } else {
        completion.errors[k] = static_cast<HRESULT>(kInvalidHandle);
      }
      errors[k] = completion.errors[k];
    }
    *ppErrors = errors;
    const MasterResults master = completion.Master(dwCount);
    if (!anyRead) return static_cast<HRESULT>(master.error);
    return CalledBack(master.error, [&] {
      return sink.OnReadComplete(dwTransactionID, group, master.quality, master.error, dwCount,
                                 completion.clientHandles.data(), completion.values.data(),
                                 completion.qualities.data(), completion.stamps.data(), completion.errors.data());
    });
  });
}

template <typename WriteItem>
HRESULT OpcGroup::CompleteWrite(DWORD dwCount, OPCHANDLE* phServer, bool valuesGiven, DWORD dwTransactionID,
                                DWORD* pdwCancelID, HRESULT** ppErrors, WriteItem write) {
  const bool given = dwCount != 0 && phServer != nullptr && valuesGiven && ppErrors != nullptr;
  return CompleteInCallersThread(given, pdwCancelID, kWriteCancelId, [&](IOPCDataCallback& sink, OPCHANDLE group) {
    *ppErrors = nullptr;
    HRESULT* errors = Results<HRESULT>(dwCount);
    if (errors == nullptr) return E_OUTOFMEMORY;
    std::vector<OPCHANDLE> clientHandles(dwCount, 0);
    bool anyWritten = false;
    for (DWORD k = 0; k < dwCount; ++k) {
      auto item = FindItem(phServer[k]);
      if (item == nullptr) {
        errors[k] = static_cast<HRESULT>(kInvalidHandle);
        continue;
      }
      clientHandles[k] = item->ClientHandle();
      errors[k] = write(k, *item);
      anyWritten = anyWritten || SUCCEEDED(errors[k]);
    }
    *ppErrors = errors;
    const HRESULT master = MasterErrorOf(reinterpret_cast<const std::int32_t*>(errors), dwCount);
    if (!anyWritten) return master;
    // Each item's real result, a refused write included.
    return CalledBack(master, [&] {
      return sink.OnWriteComplete(dwTransactionID, group, master, dwCount, clientHandles.data(), errors);
    });
  });
}

HRESULT OpcGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                       HRESULT** ppErrors) {
  return CompleteRead(dwCount, phServer, true, dwTransactionID, pdwCancelID, ppErrors,
                      [](ItemValues& completion, DWORD k, OpcItem& item) {
                        completion.ReadInto(k, item, OPC_DS_CACHE);
                      });
}

HRESULT OpcGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                        DWORD* pdwCancelID, HRESULT** ppErrors) {
  return CompleteWrite(dwCount, phServer, pItemValues != nullptr, dwTransactionID, pdwCancelID, ppErrors,
                       [&](DWORD k, OpcItem& item) { return item.Write(pItemValues[k]); });
}

// One OnDataChange of `items` with the client's transaction, each read by
// `read`.
template <typename ReadItem>
HRESULT SendRefresh(IOPCDataCallback& sink, OPCHANDLE group, DWORD transactionId,
                    const std::vector<std::shared_ptr<OpcItem>>& items, ReadItem read) {
  if (items.empty()) return E_FAIL;
  ItemValues completion(items.size());
  for (std::size_t k = 0; k < items.size(); ++k) read(completion, k, *items[k]);
  const MasterResults master = completion.Master(items.size());
  return CalledBack(master.error, [&] {
    return sink.OnDataChange(transactionId, group, master.quality, master.error, static_cast<DWORD>(items.size()),
                             completion.clientHandles.data(), completion.values.data(), completion.qualities.data(),
                             completion.stamps.data(), completion.errors.data());
  });
}

HRESULT OpcGroup::Refresh2(OPCDATASOURCE, DWORD dwTransactionID, DWORD* pdwCancelID) {
  return CompleteInCallersThread(true, pdwCancelID, kRefreshCancelId, [&](IOPCDataCallback& sink, OPCHANDLE group) {
    // Every item, active or not, from the driver.
    return SendRefresh(sink, group, dwTransactionID, ItemSnapshot(),
                       [](ItemValues& completion, std::size_t k, OpcItem& item) {
                         completion.ReadInto(k, item, OPC_DS_DEVICE);
                       });
  });
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

// IOPCAsyncIO3

HRESULT OpcGroup::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                             DWORD* pdwCancelID, HRESULT** ppErrors) {
  return CompleteRead(dwCount, phServer, pdwMaxAge != nullptr, dwTransactionID, pdwCancelID, ppErrors,
                      [&](ItemValues& completion, DWORD k, OpcItem& item) {
                        completion.ReadInto(k, item, pdwMaxAge[k], true);
                      });
}

HRESULT OpcGroup::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                           DWORD* pdwCancelID, HRESULT** ppErrors) {
  return CompleteWrite(dwCount, phServer, pItemVQT != nullptr, dwTransactionID, pdwCancelID, ppErrors,
                       [&](DWORD k, OpcItem& item) {
                         return WritesValueOnly(pItemVQT[k]) ? item.Write(pItemVQT[k].vDataValue)
                                                             : OPC_E_NOTSUPPORTED;
                       });
}

HRESULT OpcGroup::RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID) {
  return CompleteInCallersThread(true, pdwCancelID, kRefreshCancelId, [&](IOPCDataCallback& sink, OPCHANDLE group) {
    // The active items of an active group, each by the one maximum age.
    std::vector<std::shared_ptr<OpcItem>> items;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      if (!active_) return E_FAIL;
    }
    for (auto& item : ItemSnapshot()) {
      if (item->Active()) items.push_back(item);
    }
    return SendRefresh(sink, group, dwTransactionID, items, [&](ItemValues& completion, std::size_t k, OpcItem& item) {
      completion.ReadInto(k, item, dwMaxAge, true);
    });
  });
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
