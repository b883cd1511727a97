// An OPC group: its state, its items by server handle, and the group
// interfaces of OPC DA 2.0 that read and write synchronously.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "handle_table.h"
#include "opc_da.h"
#include "opc_item.h"

namespace vrt::opc {

class OpcServer;

class OpcGroup final : public IOPCGroupStateMgt, public IOPCItemMgt, public IOPCSyncIO {
 public:
  OpcGroup(OpcServer* server, OPCHANDLE serverHandle);

  // IUnknown: every reference the client holds is also one on the server.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // The server's own reference (its group map), which does not hold the server.
  void AddServerReference() { ++references_; }
  void ReleaseServerReference();
  bool ClientHoldsReferences() const { return references_ > 1; }

  // IOPCGroupStateMgt
  HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                     FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                     OPCHANDLE* phServerGroup) override;
  HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                     LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                     OPCHANDLE* phClientGroup) override;
  HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
  HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

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

  // For the server.
  void Initialise(const std::wstring& name, BOOL active, DWORD updateRate, OPCHANDLE clientHandle, LCID lcid);
  // The clone of this group's state and items into `clone`; false when an item could not be copied.
  bool CopyInto(OpcGroup& clone, const std::wstring& name);
  bool SetPercentDeadband(float percent);
  void SetTimeBias(LONG bias);
  std::wstring Name();
  OPCHANDLE ServerHandle() const { return serverHandle_; }
  void MarkDeleted() { deleted_ = true; }
  bool Deleted() const { return deleted_; }
  // The poll thread's tick (the countdown until the group is due).
  void Tick(std::uint32_t elapsed);
  void MakeDue();

 private:
  ~OpcGroup();
  // Result arrays from the task allocator, one entry per requested item.
  template <typename T>
  T* Results(DWORD count);
  // A result array and the error array beside it, both or neither.
  template <typename T>
  bool Results(DWORD count, T** values, HRESULT** errors);
  std::shared_ptr<OpcItem> FindItem(OPCHANDLE handle);
  void SetActive(bool active);

  std::atomic<long> references_{0};
  OpcServer* server_;
  const OPCHANDLE serverHandle_;
  std::recursive_mutex lock_;
  DWORD updateRate_ = 0;
  float percentDeadband_ = 0.0f;
  LCID lcid_ = 0x800;
  LONG timeBias_ = 0;
  BOOL active_ = FALSE;
  std::wstring name_;
  OPCHANDLE clientHandle_ = 0;
  std::atomic<bool> deleted_{false};
  std::int64_t countdown_ = 0;
  HandleTable<std::shared_ptr<OpcItem>> items_;
};

}  // namespace vrt::opc
