// An OPC group: its state, its items by server handle, the group interfaces
// of OPC DA 2.0 (state, items, synchronous and asynchronous I/O, the
// IOPCDataCallback connection point), DA 3.0's synchronous reads by age and
// value-quality-time writes, and of DA 1.0 (IDataObject streams and
// queued IOPCAsyncIO requests), and the group's tick on the poll thread.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "connection_points.h"
#include "group_cycle.h"
#include "handle_table.h"
#include "opc_da.h"
#include "opc_item.h"
#include "sink_slot.h"
#include "vrtopc_module.h"

namespace vrt::opc {

class OpcServer;

class OpcGroup final : public IOPCGroupStateMgt2,
                       public IOPCItemMgt,
                       public IOPCSyncIO2,
                       public IOPCAsyncIO3,
                       public IOPCAsyncIO,
                       public IOPCItemDeadbandMgt,
                       public IOPCItemSamplingMgt,
                       public IDataObject,
                       public IConnectionPointContainer,
                       private ConnectionPointOwner {
 public:
  OpcGroup(OpcServer* server, OPCHANDLE serverHandle);

  // IUnknown: every reference the client holds is also one on the server.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // The server's own references (its group map, the poll thread's tick),
  // which do not hold the server.
  void AddServerReference() { ++references_; }
  void ReleaseServerReference();
  bool ClientHoldsReferences() const { return clientReferences_ > 0; }

  // IOPCGroupStateMgt
  HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                     FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                     OPCHANDLE* phServerGroup) override;
  HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                     LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                     OPCHANDLE* phClientGroup) override;
  HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
  HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCGroupStateMgt2: the keep-alive, in milliseconds (0: none).
  HRESULT STDMETHODCALLTYPE SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) override;
  HRESULT STDMETHODCALLTYPE GetKeepAlive(DWORD* pdwKeepAliveTime) override;

  // IOPCItemMgt
  HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                                     HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                          OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                           HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                             HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                         HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCSyncIO
  HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                 OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                  HRESULT** ppErrors) override;

  // IOPCSyncIO2
  HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                                       WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                                     HRESULT** ppErrors) override;

  // IOPCAsyncIO2: completed in the caller's thread, through its own sink.
  HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                                 HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                                  DWORD* pdwCancelID, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
  HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) override;
  HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) override;
  HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) override;

  // IOPCAsyncIO3: the same, by maximum age and with value-quality-time
  // writes; RefreshMaxAge sends the group's active items.
  HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                                       DWORD* pdwCancelID, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                                     DWORD* pdwCancelID, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID) override;

  // IOPCAsyncIO: queued, completed by the poll thread as DA 1.0 streams.
  HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                 DWORD* pTransactionID, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                  DWORD* pTransactionID, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override;
  HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) override;

  // IOPCItemDeadbandMgt (item_settings.cpp): analog items' own deadbands.
  HRESULT STDMETHODCALLTYPE SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband,
                                            HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband,
                                            HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;

  // IOPCItemSamplingMgt (item_settings.cpp): items sampled at rates of
  // their own, the changes between two updates buffered on request.
  HRESULT STDMETHODCALLTYPE SetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwRequestedSamplingRate,
                                                DWORD** ppdwRevisedSamplingRate, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE GetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD** ppdwSamplingRate,
                                                HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE ClearItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL* pbEnable,
                                                HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE GetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL** ppbEnable,
                                                HRESULT** ppErrors) override;

  // IDataObject: DAdvise and DUnadvise of the three stream formats.
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* pformatetc) override;
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                    DWORD* pdwConnection) override;
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD dwConnection) override;
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

  // IConnectionPointContainer: one point, for IOPCDataCallback.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // For the server.
  void Initialise(BOOL active, DWORD updateRate, OPCHANDLE clientHandle, LCID lcid);
  // The clone of this group's state and items into `clone`, which nobody
  // else sees yet; false when an item could not be copied.
  bool CopyInto(OpcGroup& clone);
  // The name, as the server checked it under its lock.
  void AssignName(const std::wstring& name);
  bool SetPercentDeadband(float percent);
  void SetTimeBias(LONG bias);
  std::wstring Name();
  OPCHANDLE ServerHandle() const { return serverHandle_; }
  void MarkDeleted() { deleted_ = true; }
  bool Deleted() const { return deleted_; }
  // The item of this group with exactly that item ID (and active, when
  // `activeOnly`), or null.
  std::shared_ptr<OpcItem> FindItemById(const std::wstring& itemId, bool activeOnly = false);
  // The poll thread's tick of the group.
  void Tick(std::uint32_t elapsed);
  void MakeDue();

 private:
  ~OpcGroup();
  // ConnectionPointOwner
  ULONG OwnerAddRef() override { return AddRef(); }
  ULONG OwnerRelease() override { return Release(); }
  HRESULT OwnerQueryInterface(REFIID iid, void** object) override { return QueryInterface(iid, object); }
  void SinkChanged() override { MakeDue(); }

  // Result arrays from the task allocator, one entry per requested item.
  template <typename T>
  T* Results(DWORD count);
  // A result array and the error array beside it, both or neither.
  template <typename T>
  bool Results(DWORD count, T** values, HRESULT** errors);
  std::shared_ptr<OpcItem> FindItem(OPCHANDLE handle);
  std::vector<std::shared_ptr<OpcItem>> ItemSnapshot();

  // The tick's parts (group_tick.cpp), with the group's lock held in
  // `held`; it is let go of only around a client's callback.
  class CycleHost;
  void SendDataChange(std::unique_lock<std::recursive_mutex>& held, IOPCDataCallback* sink,
                      const std::vector<std::uint32_t>& serverHandles);
  void SendKeepAlive(std::unique_lock<std::recursive_mutex>& held, IOPCDataCallback* sink);
  void SampleItems(std::uint32_t elapsed);
  void SendStream(std::unique_lock<std::recursive_mutex>& held, StreamFormat format,
                  const std::vector<std::shared_ptr<OpcItem>>& items, DWORD transactionId, DWORD source);
  void CompleteQueuedRequests(std::unique_lock<std::recursive_mutex>& held);

  // IOPCAsyncIO2's shared steps (async_io.cpp): the caller's sink, the
  // arguments, the cancel ID, then `body` with the sink and the group's
  // client handle, no lock held.
  template <typename Body>
  HRESULT CompleteInCallersThread(bool argumentsGiven, DWORD* pdwCancelID, DWORD cancelId, Body body);
  // An asynchronous read or write of items by handle, each read or written
  // by the call's own rule, completed through OnReadComplete or
  // OnWriteComplete.
  template <typename ReadItem>
  HRESULT CompleteRead(DWORD dwCount, OPCHANDLE* phServer, bool ownArgumentsGiven, DWORD dwTransactionID,
                       DWORD* pdwCancelID, HRESULT** ppErrors, ReadItem read);
  template <typename WriteItem>
  HRESULT CompleteWrite(DWORD dwCount, OPCHANDLE* phServer, bool valuesGiven, DWORD dwTransactionID,
                        DWORD* pdwCancelID, HRESULT** ppErrors, WriteItem write);

  // DA 1.0 stream formats: DATA, DATATIME, WRITECOMPLETE.
  static constexpr int kFormatData = static_cast<int>(StreamFormat::kData);
  static constexpr int kFormatDataTime = static_cast<int>(StreamFormat::kDataTime);
  static constexpr int kFormatWriteComplete = static_cast<int>(StreamFormat::kWriteComplete);
  static constexpr int kFormats = kStreamFormats;
  int FormatIndex(CLIPFORMAT format) const;

  struct QueuedRequest {
    DWORD transactionId = 0;
    DWORD source = OPC_DS_CACHE;
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;  // writes: copies, cleared when the request goes
    ~QueuedRequest();
  };
  HRESULT QueueRequest(bool write, DWORD source, DWORD count, OPCHANDLE* handles, VARIANT* values,
                       DWORD* transactionId, HRESULT** errors);

  std::atomic<long> references_{0};        // all: the client's and the server's own
  std::atomic<long> clientReferences_{0};  // the client's alone
  OpcServer* server_;
  const OPCHANDLE serverHandle_;
  std::recursive_mutex lock_;  // below the server's lock, above the items'
  DWORD updateRate_ = 0;
  float percentDeadband_ = 0.0f;
  LCID lcid_ = 0x800;
  LONG timeBias_ = 0;
  BOOL active_ = FALSE;
  std::wstring name_;
  OPCHANDLE clientHandle_ = 0;
  std::atomic<bool> deleted_{false};
  std::int64_t countdown_ = 0;
  DWORD keepAlive_ = 0;              // revised, 0: off
  std::uint64_t keepAliveQuiet_ = 0;  // milliseconds since the last update sent
  bool itemsSampled_ = false;         // an item was given a sampling rate of its own
  HandleTable<std::shared_ptr<OpcItem>> items_;

  SinkConnectionPoint<IOPCDataCallback> dataCallback_{*this, true};
  std::vector<OPCHANDLE> changed_;  // the change buffer, at most kChangeBufferSize

  std::atomic<bool> dataObjectCreated_{false};
  CLIPFORMAT formats_[kFormats] = {};
  SinkSlot<IAdviseSink> adviseSinks_[kFormats];
  DWORD dataAdvf_ = 0;
  DWORD dataTimeAdvf_ = 0;
  std::deque<std::unique_ptr<QueuedRequest>> readRequests_;
  std::deque<std::unique_ptr<QueuedRequest>> writeRequests_;
};

template <typename T>
T* OpcGroup::Results(DWORD count) {
  auto* block = static_cast<T*>(TaskAlloc(sizeof(T) * count));
  if (block != nullptr) std::memset(static_cast<void*>(block), 0, sizeof(T) * count);
  return block;
}

template <typename T>
bool OpcGroup::Results(DWORD count, T** values, HRESULT** errors) {
  *values = Results<T>(count);
  *errors = Results<HRESULT>(count);
  if (*values != nullptr && *errors != nullptr) return true;
  TaskFree(*values);
  TaskFree(*errors);
  return false;
}

}  // namespace vrt::opc
