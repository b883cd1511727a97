#include "stress_client_win32.h"

#include <olectl.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <random>

#include "opc_com_ptr.h"
#include "opc_subscription_sink.h"
#include "stress_watch.h"

namespace vrt::tool {

namespace {

constexpr HRESULT kInactiveCacheRead = static_cast<HRESULT>(0x00048001);
constexpr std::size_t kItemsPerGroup = 20;
constexpr std::size_t kMostGroups = 3;
constexpr std::size_t kKeptViolations = 100;
constexpr OPCHANDLE kStaleHandle = 0xFFFFFFF0;

std::string Hex(HRESULT value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

// Everything GetState gives: through a proxy every [out] pointer must be given.
struct GroupState {
  DWORD rate = 0;
  BOOL active = FALSE;
  LPWSTR name = nullptr;
  LONG timeBias = 0;
  FLOAT deadband = 0.0f;
  DWORD locale = 0;
  OPCHANDLE clientHandle = 0;
  OPCHANDLE serverHandle = 0;
  ~GroupState() { CoTaskMemFree(name); }
  HRESULT Read(IOPCGroupStateMgt& state) {
    CoTaskMemFree(name);
    name = nullptr;
    return state.GetState(&rate, &active, &name, &timeBias, &deadband, &locale, &clientHandle, &serverHandle);
  }
};

// A group of the thread's own, with what it advised.
struct OwnGroup {
  std::wstring name;
  OPCHANDLE serverHandle = 0;
  ComPtr<IOPCItemMgt> items;
  std::vector<OPCHANDLE> handles;
  DWORD cookie = 0;           // IOPCDataCallback
  DWORD dataConnection = 0;   // DA 1.0 DATA stream
  DWORD writeConnection = 0;  // DA 1.0 write completions
};

// One thread's calls.
class Hammer {
 public:
  Hammer(StressClient& client, StressThread& progress, const StressOptions& options, IOPCServer& server,
         unsigned seed, bool singleThreaded)
      : client_(client),
        progress_(progress),
        options_(options),
        server_(server),
        random_(seed),
        singleThreaded_(singleThreaded) {
    callback_ = new StressCallback();
    adviseSink_ = new StressStreamSink();
    dataFormat_ = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATA"));
    writeFormat_ = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE"));
  }
  ~Hammer() {
    callback_->Release();
    adviseSink_->Release();
  }

  void Step() {
    if (groups_.empty()) {
      AddGroup();
      return;
    }
    switch (Pick(20)) {
      case 0: AddGroup(); break;
      case 1: RemoveGroup(groups_.size() > 1 ? Pick(groups_.size()) : 0); break;
      case 2: CloneAndRemove(); break;
      case 3: GroupsByName(); break;
      case 4: Status(); break;
      case 5: EnumerateGroups(); break;
      case 6: States(); break;
      case 7: Rename(); break;
      case 8: ItemChurn(); break;
      case 9: ItemSettings(); break;
      case 10:
        // Left out wherever the call goes through the proxies (a
        // single-threaded thread, a client of the surrogate): three times in
        // some fifty runs the process serving it stopped answering right
        // after IEnumOPCItemAttributes::Next had come back through the
        // proxy and stub, while direct callers never did. Under
        // investigation; the multithreaded threads of the server's own
        // process keep calling it.
        if (!singleThreaded_ && !options_.throughProxies) EnumerateItems();
        break;
      case 11: SyncRead(); break;
      case 12: SyncWrite(); break;
      case 13: AsyncIo2(); break;
      case 14: ToggleCallback(); break;
      case 15: AsyncIo1(); break;
      case 16: ToggleStreams(); break;
      case 17: Properties(); break;
      case 18: Browse(); break;
      default: Common(); break;
    }
  }

  // Everything made goes again.
  void LetGo() {
    while (!groups_.empty()) RemoveGroup(groups_.size() - 1);
  }

 private:
  std::size_t Pick(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_); }
  OwnGroup& AnyGroup() { return groups_[Pick(groups_.size())]; }

  // One call, watched and checked.
  template <typename Call>
  HRESULT Do(const char* name, std::initializer_list<HRESULT> allowed, Call call) {
    progress_.current = name;
    const HRESULT result = call();
    progress_.current = "";
    progress_.last = name;
    ++progress_.calls;
    if (std::find(allowed.begin(), allowed.end(), result) == allowed.end()) {
      client_.Violation(progress_.name + ": " + name + " returned " + Hex(result));
    }
    return result;
  }
  // A QueryInterface, which through a proxy is a call like any other.
  template <typename Interface>
  bool Query(IUnknown* object, ComPtr<Interface>& wanted) {
    return SUCCEEDED(Do("IUnknown::QueryInterface", {S_OK}, [&] {
      return object->QueryInterface(__uuidof(Interface), wanted.OutVoid());
    }));
  }

  // A group with items, and one of its I/O interfaces; null when there is none.
  template <typename Interface>
  OwnGroup* GroupWith(ComPtr<Interface>& io) {
    OwnGroup& group = AnyGroup();
    return !group.handles.empty() && Query(group.items.Get(), io) ? &group : nullptr;
  }
  VARIANT AnyValue() {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = static_cast<LONG>(Pick(100));
    return value;
  }

  void CheckErrors(const char* name, const HRESULT* errors, std::size_t count, std::initializer_list<HRESULT> allowed) {
    if (errors == nullptr) {
      client_.Violation(progress_.name + ": " + name + " gave no errors array");
      return;
    }
    for (std::size_t k = 0; k < count; ++k) {
      if (std::find(allowed.begin(), allowed.end(), errors[k]) == allowed.end()) {
        client_.Violation(progress_.name + ": " + name + " item " + std::to_string(k) + " error " + Hex(errors[k]));
        return;
      }
    }
  }
  void Expect(bool holds, const std::string& what) {
    if (!holds) client_.Violation(progress_.name + ": " + what);
  }

  std::wstring NewName() { return std::wstring(progress_.name.begin(), progress_.name.end()) + L"-" + std::to_wstring(++names_); }

  std::vector<OPCITEMDEF> Definitions(std::size_t count, std::vector<std::wstring>& ids) {
    ids.clear();
    for (std::size_t k = 0; k < count; ++k) ids.push_back(options_.itemIds[Pick(options_.itemIds.size())]);
    std::vector<OPCITEMDEF> definitions(count);
    for (std::size_t k = 0; k < count; ++k) {
      definitions[k].szItemID = const_cast<LPWSTR>(ids[k].c_str());
      definitions[k].bActive = TRUE;
      definitions[k].hClient = static_cast<OPCHANDLE>(k + 1);
      definitions[k].vtRequestedDataType = VT_EMPTY;
    }
    return definitions;
  }

  // Adds `count` items to the group; their handles.
  std::vector<OPCHANDLE> AddItems(OwnGroup& group, std::size_t count) {
    std::vector<std::wstring> ids;
    std::vector<OPCITEMDEF> definitions = Definitions(count, ids);
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    std::vector<OPCHANDLE> handles;
    const HRESULT added = Do("IOPCItemMgt::AddItems", {S_OK}, [&] {
      return group.items->AddItems(static_cast<DWORD>(count), definitions.data(), &results, &errors);
    });
    if (SUCCEEDED(added)) {
      CheckErrors("IOPCItemMgt::AddItems", errors, count, {S_OK});
      for (std::size_t k = 0; k < count; ++k) {
        if (errors != nullptr && errors[k] == S_OK) handles.push_back(results[k].hServer);
      }
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return handles;
  }

  void AddGroup() {
    if (groups_.size() >= kMostGroups) return;
    OwnGroup group;
    group.name = NewName();
    DWORD revised = 0;
    const HRESULT added = Do("IOPCServer::AddGroup", {S_OK, OPC_S_UNSUPPORTEDRATE}, [&] {
      return server_.AddGroup(group.name.c_str(), TRUE, 100, 7, nullptr, nullptr, 0, &group.serverHandle, &revised,
                              IID_IOPCItemMgt, group.items.OutUnknown());
    });
    if (FAILED(added) || !group.items) return;
    group.handles = AddItems(group, kItemsPerGroup);
    groups_.push_back(std::move(group));
    if (Pick(2) == 0) ToggleCallback(groups_.back());
    if (Pick(2) == 0) ToggleStreams(groups_.back());
  }

  void Unadvise(OwnGroup& group) {
    if (group.cookie != 0) ToggleCallback(group);
    if (group.dataConnection != 0) ToggleStreams(group);
  }

  void RemoveGroup(std::size_t index) {
    OwnGroup group = std::move(groups_[index]);
    groups_.erase(groups_.begin() + static_cast<std::ptrdiff_t>(index));
    Unadvise(group);
    if (Pick(3) == 0) {
      // Removed while still held: in use, and its state calls fail after.
      Do("IOPCServer::RemoveGroup", {OPC_S_INUSE}, [&] { return server_.RemoveGroup(group.serverHandle, FALSE); });
      ComPtr<IOPCGroupStateMgt> state;
      if (Query(group.items.Get(), state)) {
        GroupState read;
        Do("IOPCGroupStateMgt::GetState", {E_FAIL}, [&] { return read.Read(*state.Get()); });
      }
      return;
    }
    group.items.Reset();
    // Another thread of this client may hold the group just now (a group
    // enumerator): then it is in use.
    Do("IOPCServer::RemoveGroup", {S_OK, OPC_S_INUSE},
       [&] { return server_.RemoveGroup(group.serverHandle, FALSE); });
  }

  void CloneAndRemove() {
    OwnGroup& source = AnyGroup();
    ComPtr<IOPCGroupStateMgt> state;
    if (!Query(source.items.Get(), state)) return;
    ComPtr<IOPCGroupStateMgt> clone;
    const std::wstring name = Pick(2) == 0 ? std::wstring() : NewName();
    if (FAILED(Do("IOPCGroupStateMgt::CloneGroup", {S_OK}, [&] {
          return state->CloneGroup(name.c_str(), IID_IOPCGroupStateMgt, clone.OutUnknown());
        }))) {
      return;
    }
    GroupState read;
    Do("IOPCGroupStateMgt::GetState", {S_OK}, [&] { return read.Read(*clone.Get()); });
    if (read.name != nullptr && !name.empty()) Expect(name == read.name, "a clone did not get its name");
    Expect(!read.active, "a clone is active");
    clone.Reset();
    Do("IOPCServer::RemoveGroup", {S_OK}, [&] { return server_.RemoveGroup(read.serverHandle, TRUE); });
  }

  void GroupsByName() {
    ComPtr<IOPCGroupStateMgt> found;
    Do("IOPCServer::GetGroupByName", {S_OK},
       [&] { return server_.GetGroupByName(AnyGroup().name.c_str(), IID_IOPCGroupStateMgt, found.OutUnknown()); });
    if (!options_.sharedGroups.empty()) {
      const std::wstring& shared = options_.sharedGroups[Pick(options_.sharedGroups.size())];
      Do("IOPCServer::GetGroupByName", {S_OK},
         [&] { return server_.GetGroupByName(shared.c_str(), IID_IOPCItemMgt, found.OutUnknown()); });
    }
    Do("IOPCServer::GetGroupByName", {E_INVALIDARG},
       [&] { return server_.GetGroupByName(L"no such group", IID_IUnknown, found.OutUnknown()); });
  }

  void Status() {
    OPCSERVERSTATUS* status = nullptr;
    if (SUCCEEDED(Do("IOPCServer::GetStatus", {S_OK}, [&] { return server_.GetStatus(&status); })) &&
        status != nullptr) {
      Expect(status->dwGroupCount >= groups_.size(), "GetStatus counts fewer groups than this thread holds");
      CoTaskMemFree(status->szVendorInfo);
      CoTaskMemFree(status);
    }
  }

  void EnumerateGroups() {
    if (Pick(2) == 0) {
      ComPtr<IEnumString> names;
      if (FAILED(Do("IOPCServer::CreateGroupEnumerator", {S_OK}, [&] {
            return server_.CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, names.OutUnknown());
          }))) {
        return;
      }
      LPOLESTR got[8];
      ULONG fetched = 0;
      while (Do("IEnumString::Next", {S_OK, S_FALSE}, [&] { return names->Next(8, got, &fetched); }) == S_OK ||
             fetched > 0) {
        for (ULONG k = 0; k < fetched; ++k) CoTaskMemFree(got[k]);
        if (fetched < 8) break;
      }
      return;
    }
    ComPtr<IEnumUnknown> groups;
    if (FAILED(Do("IOPCServer::CreateGroupEnumerator", {S_OK}, [&] {
          return server_.CreateGroupEnumerator(OPC_ENUM_ALL_CONNECTIONS, IID_IEnumUnknown, groups.OutUnknown());
        }))) {
      return;
    }
    IUnknown* got[8];
    ULONG fetched = 0;
    Do("IEnumUnknown::Next", {S_OK, S_FALSE}, [&] { return groups->Next(8, got, &fetched); });
    for (ULONG k = 0; k < fetched; ++k) got[k]->Release();
  }

  void States() {
    ComPtr<IOPCGroupStateMgt> state;
    if (!Query(AnyGroup().items.Get(), state)) return;
    DWORD requested = 50 + static_cast<DWORD>(Pick(450));
    DWORD revised = 0;
    BOOL active = Pick(4) != 0;
    FLOAT deadband = static_cast<FLOAT>(Pick(5));
    Do("IOPCGroupStateMgt::SetState", {S_OK, OPC_S_UNSUPPORTEDRATE},
       [&] { return state->SetState(&requested, &revised, &active, nullptr, &deadband, nullptr, nullptr); });
    FLOAT wrong = 150.0f;
    DWORD unchanged = 0;
    Do("IOPCGroupStateMgt::SetState", {E_INVALIDARG},
       [&] { return state->SetState(nullptr, &unchanged, nullptr, nullptr, &wrong, nullptr, nullptr); });
    Expect(unchanged == revised, "SetState without a rate does not give the group's rate");
    GroupState read;
    if (SUCCEEDED(Do("IOPCGroupStateMgt::GetState", {S_OK}, [&] { return read.Read(*state.Get()); }))) {
      Expect(read.rate == revised && read.deadband == deadband, "GetState does not show what SetState set");
    }
  }

  void Rename() {
    OwnGroup& group = AnyGroup();
    ComPtr<IOPCGroupStateMgt> state;
    if (!Query(group.items.Get(), state)) return;
    const std::wstring name = NewName();
    if (SUCCEEDED(Do("IOPCGroupStateMgt::SetName", {S_OK}, [&] { return state->SetName(name.c_str()); }))) {
      group.name = name;
    }
    if (!options_.sharedGroups.empty()) {
      Do("IOPCGroupStateMgt::SetName", {OPC_E_DUPLICATENAME},
         [&] { return state->SetName(options_.sharedGroups[0].c_str()); });
    }
  }

  void ItemChurn() {
    OwnGroup& group = AnyGroup();
    std::vector<OPCHANDLE> added = AddItems(group, 5);
    if (added.empty()) return;
    HRESULT* errors = nullptr;
    Do("IOPCItemMgt::RemoveItems", {S_OK},
       [&] { return group.items->RemoveItems(static_cast<DWORD>(added.size()), added.data(), &errors); });
    CheckErrors("IOPCItemMgt::RemoveItems", errors, added.size(), {S_OK});
    CoTaskMemFree(errors);
    errors = nullptr;
    // Gone: their handles are stale now.
    Do("IOPCItemMgt::RemoveItems", {S_FALSE},
       [&] { return group.items->RemoveItems(static_cast<DWORD>(added.size()), added.data(), &errors); });
    CheckErrors("IOPCItemMgt::RemoveItems", errors, added.size(), {OPC_E_INVALIDHANDLE});
    CoTaskMemFree(errors);

    std::vector<std::wstring> ids;
    std::vector<OPCITEMDEF> definitions = Definitions(3, ids);
    definitions[1].szItemID = const_cast<LPWSTR>(L"NO:SUCH:ITEM:AT:ALL");
    OPCITEMRESULT* results = nullptr;
    errors = nullptr;
    Do("IOPCItemMgt::ValidateItems", {S_FALSE},
       [&] { return group.items->ValidateItems(3, definitions.data(), FALSE, &results, &errors); });
    CheckErrors("IOPCItemMgt::ValidateItems", errors, 1, {S_OK});
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
  }

  void ItemSettings() {
    OwnGroup& group = AnyGroup();
    if (group.handles.empty()) return;
    const DWORD count = static_cast<DWORD>(group.handles.size());
    HRESULT* errors = nullptr;
    Do("IOPCItemMgt::SetActiveState", {S_OK},
       [&] { return group.items->SetActiveState(count, group.handles.data(), Pick(3) != 0, &errors); });
    CheckErrors("IOPCItemMgt::SetActiveState", errors, count, {S_OK});
    CoTaskMemFree(errors);
    std::vector<OPCHANDLE> clients(count);
    for (DWORD k = 0; k < count; ++k) clients[k] = 1000 + k;
    errors = nullptr;
    Do("IOPCItemMgt::SetClientHandles", {S_OK},
       [&] { return group.items->SetClientHandles(count, group.handles.data(), clients.data(), &errors); });
    CheckErrors("IOPCItemMgt::SetClientHandles", errors, count, {S_OK});
    CoTaskMemFree(errors);
    // Every value converts to a text, so reads keep succeeding.
    std::vector<VARTYPE> types(count, Pick(2) == 0 ? VT_BSTR : VT_EMPTY);
    errors = nullptr;
    Do("IOPCItemMgt::SetDatatypes", {S_OK},
       [&] { return group.items->SetDatatypes(count, group.handles.data(), types.data(), &errors); });
    CheckErrors("IOPCItemMgt::SetDatatypes", errors, count, {S_OK});
    CoTaskMemFree(errors);
  }

  void EnumerateItems() {
    ComPtr<IEnumOPCItemAttributes> attributes;
    OwnGroup& group = AnyGroup();
    if (FAILED(Do("IOPCItemMgt::CreateEnumerator", {S_OK}, [&] {
          return group.items->CreateEnumerator(IID_IEnumOPCItemAttributes, attributes.OutUnknown());
        }))) {
      return;
    }
    OPCITEMATTRIBUTES* records = nullptr;
    ULONG fetched = 0;
    Do("IEnumOPCItemAttributes::Next", {S_OK, S_FALSE}, [&] { return attributes->Next(1000, &records, &fetched); });
    Expect(fetched == group.handles.size(), "the item enumerator did not list the group's items");
    for (ULONG k = 0; k < fetched && records != nullptr; ++k) {
      CoTaskMemFree(records[k].szAccessPath);
      CoTaskMemFree(records[k].szItemID);
      CoTaskMemFree(records[k].pBlob);
      VariantClear(&records[k].vEUInfo);
    }
    CoTaskMemFree(records);
  }

  void SyncRead() {
    ComPtr<IOPCSyncIO> io;
    OwnGroup* chosen = GroupWith(io);
    if (chosen == nullptr) return;
    OwnGroup& group = *chosen;
    std::vector<OPCHANDLE> handles = group.handles;
    const bool stale = Pick(4) == 0;
    if (stale) handles.push_back(kStaleHandle);
    const DWORD count = static_cast<DWORD>(handles.size());
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const OPCDATASOURCE source = Pick(2) == 0 ? OPC_DS_CACHE : OPC_DS_DEVICE;
    if (SUCCEEDED(Do("IOPCSyncIO::Read", {stale ? S_FALSE : S_OK},
                     [&] { return io->Read(source, count, handles.data(), &states, &errors); }))) {
      CheckErrors("IOPCSyncIO::Read", errors, group.handles.size(), {S_OK, kInactiveCacheRead});
      if (stale && errors != nullptr) Expect(errors[count - 1] == OPC_E_INVALIDHANDLE, "a stale handle was read");
      for (DWORD k = 0; k < count && states != nullptr; ++k) VariantClear(&states[k].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
  }

  void SyncWrite() {
    if (!options_.writes) return;
    ComPtr<IOPCSyncIO> io;
    OwnGroup* chosen = GroupWith(io);
    if (chosen == nullptr) return;
    OwnGroup& group = *chosen;
    OPCHANDLE handle = group.handles[Pick(group.handles.size())];
    VARIANT value = AnyValue();
    HRESULT* errors = nullptr;
    // A station may refuse a value (a text register, say): that item's E_FAIL.
    Do("IOPCSyncIO::Write", {S_OK, S_FALSE}, [&] { return io->Write(1, &handle, &value, &errors); });
    CheckErrors("IOPCSyncIO::Write", errors, 1, {S_OK, E_FAIL});
    CoTaskMemFree(errors);
  }

  void AsyncIo2() {
    ComPtr<IOPCAsyncIO2> io;
    OwnGroup* chosen = GroupWith(io);
    if (chosen == nullptr) return;
    OwnGroup& group = *chosen;
    const DWORD count = static_cast<DWORD>(group.handles.size());
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    if (group.cookie == 0) {
      Do("IOPCAsyncIO2::Read", {CONNECT_E_NOCONNECTION},
         [&] { return io->Read(count, group.handles.data(), 5, &cancelId, &errors); });
      CoTaskMemFree(errors);
      return;
    }
    // Inactive items read from the cache give the server's own success code: S_FALSE.
    if (SUCCEEDED(Do("IOPCAsyncIO2::Read", {S_OK, S_FALSE},
                     [&] { return io->Read(count, group.handles.data(), 5, &cancelId, &errors); }))) {
      CheckErrors("IOPCAsyncIO2::Read", errors, count, {S_OK, kInactiveCacheRead});
    }
    CoTaskMemFree(errors);
    if (options_.writes) {
      errors = nullptr;
      VARIANT value = AnyValue();
      OPCHANDLE handle = group.handles[Pick(group.handles.size())];
      Do("IOPCAsyncIO2::Write", {S_OK, S_FALSE},
         [&] { return io->Write(1, &handle, &value, 6, &cancelId, &errors); });
      CoTaskMemFree(errors);
    }
    Do("IOPCAsyncIO2::Refresh2", {S_OK, S_FALSE}, [&] { return io->Refresh2(OPC_DS_CACHE, 7, &cancelId); });
    Do("IOPCAsyncIO2::Cancel2", {E_FAIL}, [&] { return io->Cancel2(cancelId); });
    BOOL enabled = FALSE;
    Do("IOPCAsyncIO2::GetEnable", {S_OK}, [&] { return io->GetEnable(&enabled); });
    Do("IOPCAsyncIO2::SetEnable", {S_OK}, [&] { return io->SetEnable(TRUE); });
  }

  void ToggleCallback() { ToggleCallback(AnyGroup()); }
  void ToggleCallback(OwnGroup& group) {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (!Query(group.items.Get(), container)) return;
    if (FAILED(Do("IConnectionPointContainer::FindConnectionPoint", {S_OK},
                  [&] { return container->FindConnectionPoint(IID_IOPCDataCallback, point.Out()); }))) {
      return;
    }
    if (group.cookie != 0) {
      Do("IConnectionPoint::Unadvise", {S_OK}, [&] { return point->Unadvise(group.cookie); });
      group.cookie = 0;
      return;
    }
    // Right after an Unadvise the server may still be letting go of the old sink.
    DWORD cookie = 0;
    if (Do("IConnectionPoint::Advise", {S_OK, CONNECT_E_ADVISELIMIT},
           [&] { return point->Advise(callback_, &cookie); }) == S_OK) {
      group.cookie = cookie;
    }
  }

  void AsyncIo1() {
    ComPtr<IOPCAsyncIO> io;
    OwnGroup* chosen = GroupWith(io);
    if (chosen == nullptr) return;
    OwnGroup& group = *chosen;
    const DWORD count = static_cast<DWORD>(group.handles.size());
    DWORD transaction = 0;
    HRESULT* errors = nullptr;
    if (group.dataConnection == 0) {
      Do("IOPCAsyncIO::Read", {CONNECT_E_NOCONNECTION},
         [&] { return io->Read(0, OPC_DS_CACHE, count, group.handles.data(), &transaction, &errors); });
      CoTaskMemFree(errors);
      return;
    }
    if (SUCCEEDED(Do("IOPCAsyncIO::Read", {S_OK}, [&] {
          return io->Read(group.dataConnection, OPC_DS_CACHE, count, group.handles.data(), &transaction, &errors);
        }))) {
      CheckErrors("IOPCAsyncIO::Read", errors, count, {S_OK});
    }
    CoTaskMemFree(errors);
    // Completed by the poll thread meanwhile, or not yet.
    Do("IOPCAsyncIO::Cancel", {S_OK, E_FAIL}, [&] { return io->Cancel(transaction); });
    // No active item (or an inactive group) refreshes nothing.
    Do("IOPCAsyncIO::Refresh", {S_OK, E_FAIL},
       [&] { return io->Refresh(group.dataConnection, OPC_DS_DEVICE, &transaction); });
    if (group.writeConnection != 0 && options_.writes) {
      VARIANT value = AnyValue();
      OPCHANDLE handle = group.handles[Pick(group.handles.size())];
      errors = nullptr;
      Do("IOPCAsyncIO::Write", {S_OK},
         [&] { return io->Write(group.writeConnection, 1, &handle, &value, &transaction, &errors); });
      CoTaskMemFree(errors);
    }
  }

  void ToggleStreams() { ToggleStreams(AnyGroup()); }
  void ToggleStreams(OwnGroup& group) {
    ComPtr<IDataObject> data;
    if (!Query(group.items.Get(), data)) return;
    if (group.dataConnection != 0) {
      Do("IDataObject::DUnadvise", {S_OK}, [&] { return data->DUnadvise(group.dataConnection); });
      Do("IDataObject::DUnadvise", {S_OK}, [&] { return data->DUnadvise(group.writeConnection); });
      group.dataConnection = group.writeConnection = 0;
      return;
    }
    FORMATETC dataFormat{dataFormat_, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    FORMATETC writeFormat{writeFormat_, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD connection = 0;
    if (Do("IDataObject::DAdvise", {S_OK, CONNECT_E_ADVISELIMIT},
           [&] { return data->DAdvise(&dataFormat, ADVF_PRIMEFIRST, adviseSink_, &connection); }) != S_OK) {
      return;
    }
    group.dataConnection = connection;
    if (Do("IDataObject::DAdvise", {S_OK, CONNECT_E_ADVISELIMIT},
           [&] { return data->DAdvise(&writeFormat, 0, adviseSink_, &connection); }) == S_OK) {
      group.writeConnection = connection;
    } else {
      Do("IDataObject::DUnadvise", {S_OK}, [&] { return data->DUnadvise(group.dataConnection); });
      group.dataConnection = 0;
    }
  }

  void Properties() {
    ComPtr<IOPCItemProperties> properties;
    if (!Query(&server_, properties)) return;
    std::wstring id = options_.itemIds[Pick(options_.itemIds.size())];
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    Do("IOPCItemProperties::QueryAvailableProperties", {S_OK},
       [&] { return properties->QueryAvailableProperties(id.data(), &count, &ids, &descriptions, &types); });
    for (DWORD k = 0; k < count && descriptions != nullptr; ++k) CoTaskMemFree(descriptions[k]);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
    if (count > 0 && ids != nullptr) {
      VARIANT* values = nullptr;
      HRESULT* errors = nullptr;
      Do("IOPCItemProperties::GetItemProperties", {S_OK},
         [&] { return properties->GetItemProperties(id.data(), count, ids, &values, &errors); });
      CheckErrors("IOPCItemProperties::GetItemProperties", errors, count, {S_OK});
      for (DWORD k = 0; k < count && values != nullptr; ++k) VariantClear(&values[k]);
      CoTaskMemFree(values);
      CoTaskMemFree(errors);
      // This server gives no item IDs for properties.
      LPWSTR* newIds = nullptr;
      errors = nullptr;
      Do("IOPCItemProperties::LookupItemIDs", {E_NOTIMPL},
         [&] { return properties->LookupItemIDs(id.data(), count, ids, &newIds, &errors); });
      Expect(newIds == nullptr && errors == nullptr, "LookupItemIDs left its out-pointers set");
    }
    CoTaskMemFree(ids);
  }

  void Browse() {
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    if (!Query(&server_, browse)) return;
    OPCNAMESPACETYPE type;
    Do("IOPCBrowseServerAddressSpace::QueryOrganization", {S_OK}, [&] { return browse->QueryOrganization(&type); });
    // The browse position is the server's: another thread may move it at any time.
    Do("IOPCBrowseServerAddressSpace::ChangeBrowsePosition", {S_OK},
       [&] { return browse->ChangeBrowsePosition(OPC_BROWSE_TO, L""); });
    ComPtr<IEnumString> names;
    const OPCBROWSETYPE kind = Pick(2) == 0 ? OPC_BRANCH : OPC_FLAT;
    if (SUCCEEDED(Do("IOPCBrowseServerAddressSpace::BrowseOPCItemIDs", {S_OK, S_FALSE},
                     [&] { return browse->BrowseOPCItemIDs(kind, L"", VT_EMPTY, 0, names.Out()); })) &&
        names) {
      LPOLESTR got[16];
      ULONG fetched = 0;
      Do("IEnumString::Next", {S_OK, S_FALSE}, [&] { return names->Next(16, got, &fetched); });
      for (ULONG k = 0; k < fetched; ++k) CoTaskMemFree(got[k]);
    }
    LPWSTR id = nullptr;
    std::wstring leaf = L"DIT:0 - 8";
    Do("IOPCBrowseServerAddressSpace::GetItemID", {S_OK}, [&] { return browse->GetItemID(leaf.data(), &id); });
    CoTaskMemFree(id);
    ComPtr<IEnumString> paths;
    Do("IOPCBrowseServerAddressSpace::BrowseAccessPaths", {E_NOTIMPL},
       [&] { return browse->BrowseAccessPaths(options_.itemIds[0].c_str(), paths.Out()); });
  }

  void Common() {
    ComPtr<IOPCCommon> common;
    if (!Query(&server_, common)) return;
    Do("IOPCCommon::SetClientName", {S_OK}, [&] { return common->SetClientName(L"opcstress"); });
    LCID locale = 0;
    Do("IOPCCommon::GetLocaleID", {S_OK}, [&] { return common->GetLocaleID(&locale); });
    LPWSTR text = nullptr;
    Do("IOPCServer::GetErrorString", {S_OK},
       [&] { return server_.GetErrorString(OPC_E_INVALIDHANDLE, 0x800, &text); });
    CoTaskMemFree(text);
  }

  StressClient& client_;
  StressThread& progress_;
  const StressOptions& options_;
  IOPCServer& server_;
  std::mt19937 random_;
  const bool singleThreaded_;
  StressCallback* callback_;
  StressStreamSink* adviseSink_;
  CLIPFORMAT dataFormat_;
  CLIPFORMAT writeFormat_;
  std::vector<OwnGroup> groups_;
  unsigned names_ = 0;
};

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

}  // namespace

StressClient::StressClient(StressOptions options) : options_(std::move(options)) {}

StressClient::~StressClient() { Stop(); }

HRESULT StressClient::Start(IOPCServer* server) {
  if (server == nullptr || options_.itemIds.empty()) return E_INVALIDARG;
  const std::size_t count = options_.mtaThreads + (options_.staThread ? 1 : 0);
  for (std::size_t k = 0; k < count; ++k) {
    auto thread = std::make_unique<StressThread>();
    const bool singleThreaded = k == options_.mtaThreads;
    thread->name = (singleThreaded ? "sta" : "mta") + std::to_string(k);
    threads_.push_back(std::move(thread));
  }
  for (std::size_t k = 0; k < count; ++k) {
    const bool singleThreaded = k == options_.mtaThreads;
    IStream* marshalled = nullptr;
    if (singleThreaded) {
      const HRESULT result = CoMarshalInterThreadInterfaceInStream(IID_IOPCServer, server, &marshalled);
      if (FAILED(result)) return result;
    } else {
      server->AddRef();
    }
    running_.emplace_back(&StressClient::RunThread, this, k, singleThreaded, marshalled,
                          singleThreaded ? nullptr : server);
  }
  return S_OK;
}

void StressClient::RunThread(std::size_t index, bool singleThreaded, IStream* marshalledServer, IOPCServer* server) {
  StressThread& progress = *threads_[index];
  CoInitializeEx(nullptr, singleThreaded ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
  if (marshalledServer != nullptr &&
      FAILED(CoGetInterfaceAndReleaseStream(marshalledServer, IID_IOPCServer, reinterpret_cast<void**>(&server)))) {
    Violation(progress.name + ": the server could not be unmarshalled into the thread's apartment");
    server = nullptr;
  }
  if (server != nullptr) {
    {
      Hammer hammer(*this, progress, options_, *server, options_.seed * 7919u + static_cast<unsigned>(index),
                    singleThreaded);
      while (!stop_) {
        hammer.Step();
        if (singleThreaded) PumpMessages();
        Sleep(options_.pauseMilliseconds);
      }
      hammer.LetGo();
    }
    server->Release();
  }
  if (singleThreaded) PumpMessages();
  CoUninitialize();
  progress.current = "";
  progress.finished = true;
}

void StressClient::Stop() {
  stop_ = true;
  for (std::thread& thread : running_) {
    if (thread.joinable()) thread.join();
  }
  running_.clear();
}

namespace {

// The first unfinished thread that made no call for the watch's limit, told
// as a stall ("" when there is none); `allFinished` says whether any runs.
std::string FirstStall(const StressClient& client, StallWatch& watch, const char* during, bool* allFinished) {
  const ULONGLONG now = GetTickCount64();
  *allFinished = true;
  for (std::size_t k = 0; k < client.ThreadCount(); ++k) {
    const StressThread& thread = client.Thread(k);
    if (thread.finished) continue;
    *allFinished = false;
    if (watch.Stalled(k, thread.calls, now)) {
      const std::string call = thread.current.load();
      return thread.name + " made no call for " + std::to_string(watch.StillFor(k, now) / 1000) + " s" + during +
             (call.empty() ? " (between calls, after " + std::string(thread.last.load()) + ")" : " inside " + call);
    }
  }
  return {};
}

}  // namespace

std::string StressClient::Finish(std::uint64_t stallMilliseconds) {
  stop_ = true;
  StallWatch watch(threads_.size(), stallMilliseconds);
  for (;;) {
    bool allFinished = true;
    const std::string stall = FirstStall(*this, watch, " while letting go", &allFinished);
    if (!stall.empty()) return stall;
    if (allFinished) break;
    Sleep(50);
  }
  Stop();
  return {};
}

std::uint64_t StressClient::TotalCalls() const {
  std::uint64_t total = 0;
  for (const auto& thread : threads_) total += thread->calls;
  return total;
}

std::vector<std::string> StressClient::Violations() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::string> lines = violations_;
  if (violationCount_ > violations_.size()) {
    lines.push_back("... " + std::to_string(violationCount_ - violations_.size()) + " more");
  }
  return lines;
}

std::string WatchProgress(StressClient& client, std::uint64_t milliseconds, std::uint64_t stallMilliseconds,
                          const std::function<std::string()>& check) {
  StallWatch watch(client.ThreadCount(), stallMilliseconds);
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    bool allFinished = true;
    const std::string stall = FirstStall(client, watch, "", &allFinished);
    if (!stall.empty()) return stall;
    if (check) {
      const std::string failure = check();
      if (!failure.empty()) return failure;
    }
    if (GetTickCount64() - start >= milliseconds) return {};
    Sleep(100);
  }
}

std::string ThreadsReport(const StressClient& client) {
  std::string report;
  for (std::size_t k = 0; k < client.ThreadCount(); ++k) {
    const StressThread& thread = client.Thread(k);
    report += "  " + thread.name + ": " + std::to_string(thread.calls.load()) + " calls, in \"" +
              thread.current.load() + "\", last \"" + thread.last.load() + "\"\n";
  }
  return report;
}

void EndStalledProcess(unsigned code) {
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), code);
  for (;;) Sleep(INFINITE);
}

void StressClient::Violation(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  ++violationCount_;
  if (violations_.size() < kKeptViolations) violations_.push_back(text);
}

}  // namespace vrt::tool
