// The OPC server object: one per client connection, owner of the client's
// groups and of the poll thread that drives them.
//
// Threads: any client thread (free threading, and the stubs' threads of
// clients in other apartments and processes), one poll thread per server,
// one bandwidth thread per process.
//
// Locks, from the highest to the lowest. A thread holding one may take only
// locks below it, never one above:
//   0. bandwidth thread lifecycle (vrtopc_module.cpp): its start and stop;
//      the thread is waited for after it is let go.
//   1. server registry (vrtopc_module.cpp): the live servers by serial;
//      taken by the bandwidth thread and by a server's creation and
//      destruction, with no lock of this list held but the lifecycle's.
//   2. server lock (OpcServer::lock_): the group map, the browse position,
//      locale and client name.
//   3. group lock (OpcGroup::lock_): a group's state, its item map, its
//      request queues, its advf words and countdown. A clone under
//      construction is locked after its source; nobody else can see it yet.
//   4. item lock (OpcItem::lock_): an item's fields during NIO calls; two at
//      once only when an item is copied into a clone nobody else sees yet.
//   5. the NIO parse lock (NioParseLock), then the NIO library's own locks.
//   -  sink slot lock (SinkSlot::lock_) and the server's release queue lock
//      (OpcServer::releaseLock_): leaves, held only to swap pointers;
//      nothing is taken under them.
//   -  the image mapping lock (item_settings.cpp): a leaf around the
//      server's own view of the image, held only to read a poll record's
//      poll time; taken with no other lock held.
// Counters, the last update time, handles, transaction IDs, the running
// flag and the deleted mark are atomics, so that the poll thread may touch
// the server while it holds a group's lock.
//
// Rules:
//   - Client code never runs under any of these locks: no sink call
//     (OnDataChange, IAdviseSink::OnDataChange, OnReadComplete, ...), no
//     AddRef or Release of a client's object, no CoMarshal... or
//     CoGetInterfaceAndReleaseStream. Pointers are swapped out under the
//     lock and called or released after it (SinkSlot, the group tick's
//     callbacks, RemoveGroup's last release of a group).
//   - No waiting for another thread under a lock (the poll thread's end,
//     the bandwidth thread's end, Sleep while a sink is let go of).
//   - A group's last reference is dropped with no lock held, and its
//     destructor does not release the client's sinks itself: it hands them
//     to the poll thread. That last reference may be the client's own
//     Release, which the COM runtime serves while it holds its own
//     bookkeeping; a call into the client from there can wait on the
//     client, which waits on the runtime.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "browse.h"
#include "connection_points.h"
#include "handle_table.h"
#include "opc_da.h"

namespace vrt::opc {

class OpcGroup;
class OpcItem;

class OpcServer final : public IOPCServer,
                        public IOPCBrowseServerAddressSpace,
                        public IOPCBrowse,
                        public IPersistFile,
                        public IOPCItemProperties,
                        public IOPCItemIO,
                        public IOPCCommon,
                        public IConnectionPointContainer,
                        private ConnectionPointOwner {
 public:
  OpcServer();
  // Starts the poll thread and enters the server registry; false when the
  // thread cannot be started.
  bool Start();
  // Counted in the live servers once handed out.
  void CountAsLive() { countedLive_ = true; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // A reference for the poll thread's cycle, only while the server still has one.
  bool TryAddRef();

  // IOPCServer
  HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                     OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                                     OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                                     LPUNKNOWN* ppUnk) override;
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
  HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
  HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
  HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
  HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCBrowseServerAddressSpace: devices at the root, their poll records below.
  HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
  HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
  HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                             VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                             LPENUMSTRING* ppIEnumString) override;
  HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
  HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

  // IOPCItemProperties
  HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                     LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override;
  HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                              VARIANT** ppvData, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                          LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;

  // IOPCBrowse (address_space.cpp): the same address space, by item ID,
  // with properties, in pages with continuation points.
  HRESULT STDMETHODCALLTYPE GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues,
                                          DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                          OPCITEMPROPERTIES** ppItemProperties) override;
  HRESULT STDMETHODCALLTYPE Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                                   OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                                   BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                                   DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                                   OPCBROWSEELEMENT** ppBrowseElements) override;

  // IOPCItemIO (item_io.cpp): reads by age and value-only writes by item ID.
  HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                                 WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
  HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT,
                                     HRESULT** ppErrors) override;

  // IOPCCommon
  HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
  HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
  HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
  HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

  // IPersistFile (and IPersist): the configuration is the driver image.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName, BOOL fRemember) override;
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR pszFileName) override;
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName) override;

  // IConnectionPointContainer: one point, for IOPCShutdown.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // For groups and the poll thread.
  HandleIssuer& Handles() { return handles_; }
  void WakePollThread() { SetEvent(wake_); }
  // Enters a clone made by CloneGroup under a name checked under the lock.
  HRESULT AddClone(OpcGroup& source, LPCWSTR requestedName, REFIID riid, LPUNKNOWN* ppUnk);
  // SetName: false when another group bears the name.
  bool RenameGroup(OpcGroup& group, const std::wstring& name);
  // True when a group other than `except` bears the name.
  bool NameTaken(const std::wstring& name, const OpcGroup* except = nullptr);
  void TickGroups(std::uint32_t elapsed);
  void TakeOverSinks();
  void ReleaseSinks();
  // Sinks of a group that went, let go of by the poll thread at its next cycle.
  void ReleaseOnPollThread(std::unique_ptr<HeldSinks> sinks);
  void ReleaseQueuedSinks();
  HANDLE WakeEvent() const { return wake_; }
  // The group tick's counts, which the bandwidth thread turns into dwBandWidth.
  void CountServicedCycle() { ++servicedCycles_; }
  void CountTick() { ++ticks_; }
  void UpdateBandwidth();
  // A data stream went out.
  void TouchLastUpdate();
  // IOPCAsyncIO transaction IDs: from 1, never 0.
  DWORD NextTransactionId();

 private:
  ~OpcServer();
  // ConnectionPointOwner
  ULONG OwnerAddRef() override { return AddRef(); }
  ULONG OwnerRelease() override { return Release(); }
  HRESULT OwnerQueryInterface(REFIID iid, void** object) override { return QueryInterface(iid, object); }
  void SinkChanged() override { WakePollThread(); }
  // The item an item ID names outside any group (properties, IOPCItemIO):
  // a group's item with exactly that ID (an active one when `activeOnly`),
  // else a temporary one parsed from it (null and the parse's result when
  // that fails).
  std::shared_ptr<OpcItem> ItemById(LPCWSTR itemId, bool activeOnly, HRESULT* result);
  static unsigned __stdcall PollThreadMain(void* server);
  // How a group without a name gets one.
  enum class GroupNaming { kAddGroup, kClone };
  HRESULT CreateGroup(const std::wstring& requestedName, GroupNaming naming,
                      const std::function<HRESULT(OpcGroup&)>& setUp, REFIID riid, LPUNKNOWN* ppUnk,
                      OPCHANDLE* phServerGroup);
  static FILETIME FileTimeOf(const std::atomic<std::uint64_t>& ticks);
  OpcGroup* FindGroupByName(const std::wstring& name);

  std::atomic<long> references_{0};
  bool countedLive_ = false;
  std::recursive_mutex lock_;  // the group map and its walks (lock 2 above)
  HandleIssuer handles_;
  HandleTable<OpcGroup*> groups_;
  std::atomic<DWORD> bandWidth_{0};
  std::atomic<std::uint32_t> servicedCycles_{0};
  std::atomic<std::uint32_t> ticks_{0};
  std::atomic<DWORD> transactionIds_{0};
  bool browsingDevice_ = false;  // the browse position: the root, or inside browseDevice_
  std::wstring browseDevice_;
  static std::uint32_t NewBrowseServerId();
  BrowseContinuations continuations_{NewBrowseServerId()};  // under lock_
  std::atomic<std::uint64_t> lastUpdateTime_{0};  // FILETIME ticks
  std::uint32_t serial_ = 0;
  std::atomic<bool> running_{true};
  LCID lcid_ = 0x800;
  std::wstring clientName_;
  bool hasClientName_ = false;
  HANDLE wake_ = nullptr;
  HANDLE pollThread_ = nullptr;
  DWORD pollThreadId_ = 0;
  SinkConnectionPoint<IOPCShutdown> shutdownPoint_{*this, false};
  std::mutex releaseLock_;  // a leaf, like a sink slot's
  std::vector<std::unique_ptr<HeldSinks>> toRelease_;
};

}  // namespace vrt::opc
