// OpcServer: the server-level OPC interfaces, the server's creation and
// destruction, and its poll thread.
#include "opc_server.h"

#include <process.h>

#include <cstring>
#include <new>
#include <vector>

#include "com_boundary.h"
#include "connection_points.h"
#include "enumerators.h"
#include "opc_group.h"
#include "poll_thread.h"
#include "server_rules.h"
#include "vrtopc_module.h"
#include "vrtstsr.h"

namespace vrt::opc {

namespace {

constexpr WORD kMajorVersion = 6;
constexpr WORD kMinorVersion = 6;
constexpr WORD kBuildNumber = 9;
constexpr WORD kReserved = 42;
constexpr DWORD kPollThreadEndWait = 10000;

// The poll thread's view of Windows and of its server.
class WindowsPollHost final : public PollThreadHost {
 public:
  explicit WindowsPollHost(OpcServer* server) : server_(server) {}

  bool InitializeCom() override { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
  void UninitializeCom() override {
    // A server that went during a cycle let go of the sinks itself.
    if (!serverGone_) server_->ReleaseSinks();
    CoUninitialize();
  }
  bool SetPriority(int priority) override { return SetThreadPriority(GetCurrentThread(), priority) != 0; }
  void WaitForWake(std::uint32_t milliseconds) override { WaitForSingleObject(server_->WakeEvent(), milliseconds); }
  std::uint32_t TickCount() override { return GetTickCount(); }
  bool HoldServer() override { return server_->TryAddRef(); }
  bool ReleaseServer() override {
    serverGone_ = server_->Release() == 0;
    return serverGone_;
  }
  void TakeOverSinks() override { server_->TakeOverSinks(); }
  void TickGroups(std::uint32_t elapsed) override { server_->TickGroups(elapsed); }

 private:
  OpcServer* server_;
  bool serverGone_ = false;
};

}  // namespace

namespace {

std::uint64_t TicksOf(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

}  // namespace

FILETIME OpcServer::FileTimeOf(const std::atomic<std::uint64_t>& ticks) {
  const std::uint64_t value = ticks.load();
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

OpcServer::OpcServer() {
  FILETIME now;
  CoFileTimeNow(&now);
  lastUpdateTime_ = TicksOf(now);
}

bool OpcServer::Start() {
  wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  unsigned id = 0;
  if (wake_ != nullptr) {
    pollThread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &OpcServer::PollThreadMain, this, 0, &id));
  }
  if (pollThread_ == nullptr) {
    Module().reporter->Report(PollThreadNotStartedReport());
    running_ = false;
    return false;
  }
  pollThreadId_ = id;
  serial_ = RegisterServer(this);
  return true;
}

unsigned __stdcall OpcServer::PollThreadMain(void* argument) {
  // The thread keeps the library loaded until its very last instruction,
  // so that a final release on it never unloads the code it runs.
  HMODULE pinned = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&OpcServer::PollThreadMain),
                     &pinned);
  {
    WindowsPollHost host(static_cast<OpcServer*>(argument));
    const OpcSettings settings = Module().settings;
    RunPollThread(host, settings, *Module().reporter);
  }
  if (pinned != nullptr) FreeLibraryAndExitThread(pinned, 0);
  return 0;
}

OpcServer::~OpcServer() {
  running_ = false;
  const bool othersRemain = serial_ != 0 && UnregisterServer(serial_);
  if (pollThread_ != nullptr) {
    // Woken, the thread finds the server going and ends at once; a final
    // release on the thread itself (from inside a callback) must not wait
    // for its own end.
    SetEvent(wake_);
    if (GetCurrentThreadId() != pollThreadId_) WaitForSingleObject(pollThread_, kPollThreadEndWait);
    CloseHandle(pollThread_);
  }
  ReleaseSinks();
  std::vector<OpcGroup*> groups;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    for (auto& [handle, group] : groups_) groups.push_back(group);
    groups_.Clear();
  }
  for (OpcGroup* group : groups) {
    group->MarkDeleted();
    group->ReleaseServerReference();
  }
  // The poll thread has ended: what the groups handed it goes here.
  ReleaseQueuedSinks();
  if (serial_ != 0 && !othersRemain) {
    std::uint16_t status = 0;
    nio_CleanUp(&status);
    if (status != 0) SendDriverMessage(kMessageFailure, CleanUpFailedMessage(status));
  }
  if (wake_ != nullptr) CloseHandle(wake_);
  if (countedLive_) --Module().liveServers;
}

// IUnknown

HRESULT OpcServer::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOPCServer)) {
    *object = static_cast<IOPCServer*>(this);
  } else if (IsEqualIID(iid, IID_IOPCBrowseServerAddressSpace)) {
    *object = static_cast<IOPCBrowseServerAddressSpace*>(this);
  } else if (IsEqualIID(iid, IID_IOPCBrowse)) {
    *object = static_cast<IOPCBrowse*>(this);
  } else if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistFile)) {
    *object = static_cast<IPersistFile*>(this);
  } else if (IsEqualIID(iid, IID_IOPCItemProperties)) {
    *object = static_cast<IOPCItemProperties*>(this);
  } else if (IsEqualIID(iid, IID_IOPCItemIO)) {
    *object = static_cast<IOPCItemIO*>(this);
  } else if (IsEqualIID(iid, IID_IOPCCommon)) {
    *object = static_cast<IOPCCommon*>(this);
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else if (IsEqualIID(iid, IID_IEnumUnknown)) {
    IUnknown* enumerator = nullptr;
    const HRESULT result = CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, &enumerator);
    if (FAILED(result)) return result;
    *object = enumerator;
    return S_OK;
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG OpcServer::AddRef() { return static_cast<ULONG>(++references_); }

ULONG OpcServer::Release() {
  const long count = --references_;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

bool OpcServer::TryAddRef() {
  if (!running_) return false;
  long count = references_.load();
  do {
    if (count == 0) return false;
  } while (!references_.compare_exchange_weak(count, count + 1));
  return true;
}

// IOPCServer

OpcGroup* OpcServer::FindGroupByName(const std::wstring& name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (auto& [handle, group] : groups_) {
    if (group->Name() == name) return group;
  }
  return nullptr;
}

bool OpcServer::NameTaken(const std::wstring& name, const OpcGroup* except) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  const OpcGroup* found = FindGroupByName(name);
  return found != nullptr && found != except;
}

HRESULT OpcServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                            LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                            DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) {
  if (szName == nullptr || phServerGroup == nullptr || ppUnk == nullptr) return E_INVALIDARG;
  *ppUnk = nullptr;
  return Guarded([&]() -> HRESULT {
    const DWORD revised = RevisedUpdateRate(dwRequestedUpdateRate, Module().settings.threadSleepTime);
    HRESULT result = S_OK;
    if (pRevisedUpdateRate != nullptr) {
      *pRevisedUpdateRate = revised;
      if (revised != dwRequestedUpdateRate) result = static_cast<HRESULT>(kUnsupportedRate);
    }
    const HRESULT created = CreateGroup(
        szName, GroupNaming::kAddGroup,
        [&](OpcGroup& group) -> HRESULT {
          group.Initialise(bActive, revised, hClientGroup, dwLCID);
          if (pPercentDeadband != nullptr && !group.SetPercentDeadband(*pPercentDeadband)) return E_INVALIDARG;
          if (pTimeBias != nullptr) group.SetTimeBias(*pTimeBias);
          return S_OK;
        },
        riid, ppUnk, phServerGroup);
    if (FAILED(created)) return created;
    WakePollThread();
    return result;
  });
}

HRESULT OpcServer::AddClone(OpcGroup& source, LPCWSTR requestedName, REFIID riid, LPUNKNOWN* ppUnk) {
  OPCHANDLE handle = 0;
  return CreateGroup(
      requestedName, GroupNaming::kClone,
      [&](OpcGroup& clone) -> HRESULT { return source.CopyInto(clone) ? S_OK : E_FAIL; }, riid, ppUnk, &handle);
}

// Both AddGroup and CloneGroup: the name checked (and made up when empty),
// the group built and queried for the client before anything is locked
// (the query may send a driver message), then named and entered into the
// map under the server's lock, where the name is checked again, since
// another client thread may have taken it meanwhile. A group that does not
// make it into the map is let go of after the lock.
HRESULT OpcServer::CreateGroup(const std::wstring& requestedName, GroupNaming naming,
                               const std::function<HRESULT(OpcGroup&)>& setUp, REFIID riid, LPUNKNOWN* ppUnk,
                               OPCHANDLE* phServerGroup) {
  if (!requestedName.empty() && NameTaken(requestedName)) return static_cast<HRESULT>(kDuplicateName);
  const OPCHANDLE handle = handles_.Next();
  if (handle == 0) return E_OUTOFMEMORY;
  auto* group = new (std::nothrow) OpcGroup(this, handle);
  if (group == nullptr) return E_OUTOFMEMORY;
  group->AddServerReference();
  // Whatever fails from here lets go of the group with no lock held.
  IUnknown* client = nullptr;
  HRESULT result = setUp(*group);
  if (SUCCEEDED(result)) {
    result = group->QueryInterface(riid, reinterpret_cast<void**>(&client));
    if (FAILED(result) && naming == GroupNaming::kAddGroup) result = E_NOINTERFACE;
  }
  if (SUCCEEDED(result)) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::wstring name = requestedName;
    if (name.empty()) {
      const auto taken = [&](const std::wstring& candidate) { return NameTaken(candidate); };
      const auto madeUp = naming == GroupNaming::kAddGroup
                              ? MadeUpGroupName(Widen(Module().settings.generatedGroupName), groups_.Size(), taken)
                              : MadeUpCloneName(groups_.Size(), taken);
      if (madeUp) name = *madeUp;
    }
    if (name.empty() || NameTaken(name)) {
      result = static_cast<HRESULT>(kDuplicateName);
    } else {
      group->AssignName(name);
      groups_.Add(handle, group);
      group = nullptr;  // the map's reference now
    }
  }
  if (group != nullptr) {
    if (client != nullptr) client->Release();
    group->ReleaseServerReference();
    return result;
  }
  *ppUnk = client;
  *phServerGroup = handle;
  return result;
}

bool OpcServer::RenameGroup(OpcGroup& group, const std::wstring& name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (NameTaken(name, &group)) return false;
  group.AssignName(name);
  return true;
}

HRESULT OpcServer::GetErrorString(HRESULT dwError, LCID, LPWSTR* ppString) {
  if (ppString == nullptr) return E_INVALIDARG;
  *ppString = nullptr;
  const char* text = ErrorText(static_cast<std::uint32_t>(dwError));
  if (text == nullptr) return E_FAIL;
  *ppString = TaskString(Widen(text));
  return *ppString == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT OpcServer::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  if (ppUnk != nullptr) *ppUnk = nullptr;
  if (szName == nullptr || ppUnk == nullptr) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    OpcGroup* group = nullptr;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      group = FindGroupByName(szName);
      if (group == nullptr) return E_INVALIDARG;
      group->AddServerReference();  // held for the query, after the lock
    }
    const HRESULT result = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    group->ReleaseServerReference();
    return result;
  });
}

HRESULT OpcServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  if (ppServerStatus == nullptr) return E_FAIL;
  *ppServerStatus = nullptr;
  auto* status = static_cast<OPCSERVERSTATUS*>(TaskAlloc(sizeof(OPCSERVERSTATUS)));
  if (status == nullptr) return E_OUTOFMEMORY;
  std::memset(status, 0, sizeof *status);
  // The library's text may use its whole buffer; ours is as large.
  char vendor[NIO_SERVER_TEXT_SIZE] = {};
  std::int32_t alive = 0;
  nio_get_ServerStatus(vendor, &alive);
  vendor[sizeof vendor - 1] = '\0';
  status->ftStartTime = Module().loadTime;
  CoFileTimeNow(&status->ftCurrentTime);
  status->ftLastUpdateTime = FileTimeOf(lastUpdateTime_);
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    status->dwGroupCount = static_cast<DWORD>(groups_.Size());
  }
  status->dwBandWidth = bandWidth_;
  status->dwServerState = alive != 0 ? OPC_STATUS_RUNNING : OPC_STATUS_SUSPENDED;
  status->wMajorVersion = kMajorVersion;
  status->wMinorVersion = kMinorVersion;
  status->wBuildNumber = kBuildNumber;
  status->wReserved = kReserved;
  // Widened character by character, as the text is plain ASCII.
  std::wstring wide;
  for (const char* c = vendor; *c != '\0'; ++c) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  status->szVendorInfo = TaskString(wide);
  if (status->szVendorInfo == nullptr) {
    TaskFree(status);
    return E_FAIL;
  }
  *ppServerStatus = status;
  return S_OK;
}

HRESULT OpcServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  SendDriverMessage(kMessageInformation, kRemoveGroupMessage);
  OpcGroup* group = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!groups_.Remove(hServerGroup, &group)) return E_FAIL;
  }
  HRESULT result = S_OK;
  if (group->ClientHoldsReferences()) {
    // The client still holds the group: it stays an object until released,
    // but no longer a group of this server.
    group->MarkDeleted();
    if (!bForce) result = static_cast<HRESULT>(kInUse);
  }
  // Possibly the group's last reference: its sinks go here, with no lock held.
  group->ReleaseServerReference();
  return result;
}

HRESULT OpcServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
  if (ppUnk == nullptr) return E_INVALIDARG;
  *ppUnk = nullptr;
  const bool names = IsEqualIID(riid, IID_IEnumString);
  if (!names && !IsEqualIID(riid, IID_IEnumUnknown)) return E_NOINTERFACE;
  return Guarded([&]() -> HRESULT {
    const bool take = ScopeTakesGroups(static_cast<std::uint32_t>(dwScope));
    std::size_t taken = 0;
    if (names) {
      std::vector<std::wstring> list;
      {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (take) {
          for (auto& [handle, group] : groups_) list.push_back(group->Name());
        }
      }
      taken = list.size();
      IEnumString* enumerator = NewStringEnumerator(std::move(list));
      if (enumerator == nullptr) return E_OUTOFMEMORY;
      *ppUnk = enumerator;
    } else {
      std::vector<IUnknown*> list;
      {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (take) {
          for (auto& [handle, group] : groups_) {
            IUnknown* unknown = nullptr;
            group->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
            list.push_back(unknown);
          }
        }
      }
      taken = list.size();
      IEnumUnknown* enumerator = NewUnknownEnumerator(std::move(list));
      if (enumerator == nullptr) return E_OUTOFMEMORY;
      *ppUnk = enumerator;
    }
    return taken > 0 ? S_OK : S_FALSE;
  });
}

// IOPCCommon

HRESULT OpcServer::SetLocaleID(LCID dwLcid) {
  const auto accepted = AcceptedLocale(dwLcid);
  if (!accepted) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  lcid_ = *accepted;
  return S_OK;
}

HRESULT OpcServer::GetLocaleID(LCID* pdwLcid) {
  if (pdwLcid == nullptr) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  *pdwLcid = lcid_;
  return S_OK;
}

HRESULT OpcServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  if (pdwCount != nullptr) *pdwCount = 0;
  if (pdwLcid != nullptr) *pdwLcid = nullptr;
  if (pdwCount == nullptr || pdwLcid == nullptr) return E_INVALIDARG;
  auto* locales = static_cast<LCID*>(CoTaskMemAlloc(sizeof(LCID)));
  if (locales == nullptr) return E_OUTOFMEMORY;
  locales[0] = kEnglishLocale;
  *pdwCount = 1;
  *pdwLcid = locales;
  return S_OK;
}

HRESULT OpcServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  if (ppString == nullptr) return E_INVALIDARG;
  LCID lcid;
  GetLocaleID(&lcid);
  return GetErrorString(dwError, lcid, ppString);
}

HRESULT OpcServer::SetClientName(LPCWSTR szName) {
  return Guarded([&]() -> HRESULT {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    hasClientName_ = szName != nullptr;
    clientName_ = szName != nullptr ? szName : L"";
    return S_OK;
  });
}

// IPersistFile

HRESULT OpcServer::GetClassID(CLSID* pClassID) {
  if (pClassID == nullptr) return E_POINTER;
  *pClassID = CLSID_VrtOpcServer;
  return S_OK;
}

HRESULT OpcServer::IsDirty() { return S_OK; }

HRESULT OpcServer::Load(LPCOLESTR pszFileName, DWORD) {
  if (pszFileName == nullptr) return E_INVALIDARG;
  return ConfigurationFileNameAccepted(pszFileName) ? S_OK : static_cast<HRESULT>(kInvalidConfigFile);
}

HRESULT OpcServer::Save(LPCOLESTR pszFileName, BOOL) { return pszFileName == nullptr ? E_INVALIDARG : S_OK; }

HRESULT OpcServer::SaveCompleted(LPCOLESTR) { return S_OK; }

HRESULT OpcServer::GetCurFile(LPOLESTR* ppszFileName) {
  if (ppszFileName == nullptr) return E_FAIL;
  *ppszFileName = TaskString(L"");
  return *ppszFileName == nullptr ? E_OUTOFMEMORY : S_OK;
}

// IConnectionPointContainer

HRESULT OpcServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  shutdownPoint_.AddRef();
  *ppEnum = NewConnectionPointEnumerator({&shutdownPoint_});
  if (*ppEnum == nullptr) {
    shutdownPoint_.Release();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT OpcServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (ppCP == nullptr) return E_POINTER;
  *ppCP = nullptr;
  if (!IsEqualIID(riid, IID_IOPCShutdown)) return CONNECT_E_NOCONNECTION;
  shutdownPoint_.AddRef();
  *ppCP = &shutdownPoint_;
  return S_OK;
}

// The poll thread's side.

void OpcServer::TakeOverSinks() {
  shutdownPoint_.Slot().TakeOver();
  ReleaseQueuedSinks();
}

void OpcServer::ReleaseSinks() {
  shutdownPoint_.Slot().ReleaseAll();
  ReleaseQueuedSinks();
}

void OpcServer::ReleaseOnPollThread(std::unique_ptr<HeldSinks> sinks) {
  {
    std::lock_guard<std::mutex> guard(releaseLock_);
    toRelease_.push_back(std::move(sinks));
  }
  WakePollThread();
}

void OpcServer::ReleaseQueuedSinks() {
  std::vector<std::unique_ptr<HeldSinks>> released;
  {
    std::lock_guard<std::mutex> guard(releaseLock_);
    released.swap(toRelease_);
  }
}

void OpcServer::TickGroups(std::uint32_t elapsed) {
  // The groups of this moment, each held for its tick; the server's lock is
  // not held across the ticks, so that a client called back may add or
  // remove groups (a removed group ends its tick and then goes).
  std::vector<OpcGroup*> groups;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    groups.reserve(groups_.Size());
    for (auto& [handle, group] : groups_) {
      if (group->Deleted()) continue;
      group->AddServerReference();
      groups.push_back(group);
    }
  }
  for (OpcGroup* group : groups) {
    if (!group->Deleted()) group->Tick(elapsed);
    group->ReleaseServerReference();
  }
}

void OpcServer::UpdateBandwidth() {
  const std::uint32_t serviced = servicedCycles_.exchange(0);
  const std::uint32_t ticks = ticks_.exchange(0);
  bandWidth_ = (serviced == 0 || ticks == 0) ? 0 : static_cast<DWORD>(std::uint64_t{serviced} * 100 / ticks);
}

void OpcServer::TouchLastUpdate() {
  // Called by the poll thread with a group's lock held: an atomic, never the
  // server's lock, which ranks above the group's.
  FILETIME now;
  CoFileTimeNow(&now);
  lastUpdateTime_ = TicksOf(now);
}

DWORD OpcServer::NextTransactionId() {
  DWORD id = ++transactionIds_;
  if (id == 0) id = ++transactionIds_;
  return id;
}

}  // namespace vrt::opc
