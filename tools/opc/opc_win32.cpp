// opc: a command-line client of the OPC DA server. It creates the server by
// its ProgID, in process and free-threaded, and goes through the custom
// interfaces only (IOPCServer, IOPCItemMgt, IOPCSyncIO, the group's data
// callback or data streams, browsing and item properties), as any DA 2.0
// client does, and for the DA 3.0 commands IOPCBrowse, IOPCItemIO,
// IOPCGroupStateMgt2 and IOPCItemDeadbandMgt. One group per run; every item of the command line is added
// to it in one AddItems call.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opc_arguments.h"
#include "opc_com_ptr.h"
#include "opc_da.h"
#include "opc_subscription_sink.h"
#include "opc_stream.h"
#include "opc_values_win32.h"
#include "vrtopc_identity.h"

namespace {

using vrt::tool::OpcArguments;
using vrt::tool::OpcCommand;

constexpr LCID kSystemDefaultLocale = 0x800;

template <typename Interface>
using Held = vrt::ComPtr<Interface>;

using vrt::tool::LocalTimeText;
using vrt::tool::Narrow;
using vrt::tool::ValueText;
using vrt::tool::Wide;

// One item of the command line and what the server made of it.
struct Item {
  std::string id;
  std::wstring wideId;
  HRESULT added = E_FAIL;
  OPCHANDLE handle = 0;
  VARTYPE canonicalType = VT_EMPTY;
  DWORD accessRights = 0;
};

std::vector<Item> ItemsOf(const std::vector<std::string>& ids) {
  std::vector<Item> items;
  for (const std::string& id : ids) {
    Item item;
    item.id = id;
    item.wideId = Wide(id);
    items.push_back(std::move(item));
  }
  return items;
}

// A VARIANT that clears itself; moved, never copied.
class OwnedVariant {
 public:
  OwnedVariant() { VariantInit(&value_); }
  OwnedVariant(OwnedVariant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
  OwnedVariant& operator=(OwnedVariant&&) = delete;
  ~OwnedVariant() { VariantClear(&value_); }
  VARIANT& Get() { return value_; }

 private:
  VARIANT value_;
};

// One value as it came from the server.
struct Arrival {
  OPCHANDLE clientHandle = 0;
  OwnedVariant value;
  WORD quality = 0;
  FILETIME timeStamp{};
  HRESULT error = S_OK;
  bool keepAlive = false;  // an update with no items: the group is alive
};

// Values on their way from the server's thread to the main thread, which
// prints them. The sinks only copy and queue: they run on the server's poll
// thread, and calling back into the server (for an error text) or waiting
// on the console there would hold up its cycle.
class Arrivals {
 public:
  Arrivals() : ready_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  Arrivals(const Arrivals&) = delete;
  Arrivals& operator=(const Arrivals&) = delete;
  ~Arrivals() {
    if (ready_ != nullptr) CloseHandle(ready_);
  }

  bool Usable() const { return ready_ != nullptr; }
  // Signalled whenever something was queued.
  HANDLE Ready() const { return ready_; }

  void Add(Arrival&& arrival) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      queued_.push_back(std::move(arrival));
    }
    SetEvent(ready_);
  }
  void AddRefused(std::size_t bytes) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      refused_.push_back(bytes);
    }
    SetEvent(ready_);
  }

  std::vector<Arrival> Take() {
    std::vector<Arrival> taken;
    const std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(queued_);
    return taken;
  }
  std::vector<std::size_t> TakeRefused() {
    std::vector<std::size_t> taken;
    const std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(refused_);
    return taken;
  }

 private:
  HANDLE ready_;
  std::mutex mutex_;
  std::vector<Arrival> queued_;
  std::vector<std::size_t> refused_;  // sizes of the streams that did not parse
};

// The stream sink's reference count. The server holds a sink while it is
// advised and may call it on any thread.
class RefCounted {
 protected:
  ULONG AddReference() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  LONG DropReference() { return InterlockedDecrement(&references_); }

 private:
  LONG references_ = 1;  // the creator's
};

// The IOPCDataCallback a group's connection point calls with every update.
class DataCallbackSink final : public SubscriptionSink {
 public:
  explicit DataCallbackSink(std::shared_ptr<Arrivals> arrivals) : arrivals_(std::move(arrivals)) {}

  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE* phClientItems,
                                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) override {
    if (dwCount == 0) {
      // Only a group with a keep-alive time sends these.
      try {
        Arrival alive;
        alive.keepAlive = true;
        GetSystemTimeAsFileTime(&alive.timeStamp);
        arrivals_->Add(std::move(alive));
      } catch (...) {
        return E_OUTOFMEMORY;
      }
      return S_OK;
    }
    if (phClientItems == nullptr || pvValues == nullptr || pwQualities == nullptr || pftTimeStamps == nullptr ||
        pErrors == nullptr) {
      return E_INVALIDARG;
    }
    try {
      // The arrays stay the server's: copy what is kept.
      for (DWORD i = 0; i < dwCount; ++i) {
        Arrival arrival;
        arrival.clientHandle = phClientItems[i];
        arrival.quality = pwQualities[i];
        arrival.timeStamp = pftTimeStamps[i];
        arrival.error = pErrors[i];
        if (SUCCEEDED(arrival.error)) {
          const HRESULT copied = VariantCopy(&arrival.value.Get(), &pvValues[i]);
          if (FAILED(copied)) arrival.error = copied;
        }
        arrivals_->Add(std::move(arrival));
      }
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  ~DataCallbackSink() override = default;  // through Release only
  std::shared_ptr<Arrivals> arrivals_;
};

// The IAdviseSink a group's IDataObject hands its data streams (with time
// stamps) to. The medium stays the server's; it frees it after the call.
class StreamSink final : public IAdviseSink, private RefCounted {
 public:
  StreamSink(std::shared_ptr<Arrivals> arrivals, CLIPFORMAT format) : arrivals_(std::move(arrivals)), format_(format) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IAdviseSink)) return E_NOINTERFACE;
    *object = static_cast<IAdviseSink*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = DropReference();
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
    if (format == nullptr || medium == nullptr || format->cfFormat != format_ || medium->tymed != TYMED_HGLOBAL ||
        medium->hGlobal == nullptr) {
      return;
    }
    const std::size_t size = GlobalSize(medium->hGlobal);
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(medium->hGlobal));
    if (bytes == nullptr) return;
    try {
      const auto stream = vrt::tool::ParseDataStream(bytes, size, true, sizeof(VARIANT));
      if (!stream) {
        arrivals_->AddRefused(size);
      } else {
        for (const vrt::tool::StreamValue& value : stream->values) arrivals_->Add(ArrivalOf(bytes, value));
      }
    } catch (...) {
      // Out of memory: this update is lost, the next one comes.
    }
    GlobalUnlock(medium->hGlobal);
  }
  void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
  void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
  void STDMETHODCALLTYPE OnSave() override {}
  void STDMETHODCALLTYPE OnClose() override {}

 private:
  ~StreamSink() = default;  // through Release only

  // The value rebuilt from its copy in the stream: a text from the
  // characters that follow it, a plain value as copied (memcpy, since the
  // copy may sit at any alignment). Anything holding a pointer would point
  // into the server's memory and is not taken.
  static Arrival ArrivalOf(const std::uint8_t* bytes, const vrt::tool::StreamValue& value) {
    Arrival arrival;
    arrival.clientHandle = value.clientHandle;
    arrival.quality = value.quality;
    arrival.timeStamp.dwLowDateTime = static_cast<DWORD>(value.timeStamp);
    arrival.timeStamp.dwHighDateTime = static_cast<DWORD>(value.timeStamp >> 32);
    VARIANT& variant = arrival.value.Get();
    if (value.hasText) {
      static_assert(sizeof(wchar_t) == sizeof(char16_t));
      variant.bstrVal = SysAllocStringLen(reinterpret_cast<const wchar_t*>(value.text.data()),
                                          static_cast<UINT>(value.text.size()));
      if (variant.bstrVal != nullptr) {
        variant.vt = VT_BSTR;
      } else {
        arrival.error = E_OUTOFMEMORY;
      }
    } else if (vrt::tool::IsSelfContainedVarType(value.varType)) {
      std::memcpy(&variant, bytes + value.valueOffset, sizeof(VARIANT));
    } else {
      arrival.error = DISP_E_BADVARTYPE;
    }
    return arrival;
  }

  std::shared_ptr<Arrivals> arrivals_;
  CLIPFORMAT format_;
};

// Ctrl-C, Ctrl-Break or closing the console ends a watch in order.
HANDLE stopRequested = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
  if (stopRequested != nullptr) SetEvent(stopRequested);
  return TRUE;
}

// The names an IEnumString hands out, each freed as it is taken.
HRESULT TakeNames(IEnumString* names, std::vector<std::wstring>& taken) {
  constexpr ULONG kBatch = 64;
  for (;;) {
    LPOLESTR batch[kBatch] = {};
    ULONG fetched = 0;
    const HRESULT result = names->Next(kBatch, batch, &fetched);
    if (FAILED(result)) return result;
    for (ULONG i = 0; i < fetched && i < kBatch; ++i) {
      taken.emplace_back(batch[i] != nullptr ? batch[i] : L"");
      CoTaskMemFree(batch[i]);
    }
    if (result == S_FALSE || fetched < kBatch) return S_OK;
  }
}

class OpcClient {
 public:
  OpcClient() = default;
  OpcClient(const OpcClient&) = delete;
  OpcClient& operator=(const OpcClient&) = delete;

  // Subscriptions first, then the group interfaces, the group and the server.
  ~OpcClient() {
    Unadvise();
    syncIO_.Reset();
    itemMgt_.Reset();
    if (hasGroup_) server_->RemoveGroup(group_, TRUE);
    server_.Reset();
  }

  // In this process, or with `localServer` in the surrogate process its
  // AppID names.
  bool Create(bool localServer) {
    CLSID clsid{};
    HRESULT result = CLSIDFromProgID(kVrtOpcProgIdWide, &clsid);
    if (SUCCEEDED(result)) {
      result = CoCreateInstance(clsid, nullptr, localServer ? CLSCTX_LOCAL_SERVER : CLSCTX_INPROC_SERVER,
                                IID_IOPCServer, server_.OutVoid());
    }
    if (FAILED(result) || server_.Get() == nullptr) {
      std::fprintf(stderr, "opc: cannot create the OPC server %s: %s\n", Narrow(kVrtOpcProgIdWide).c_str(),
                   vrt::tool::HresultText(static_cast<std::uint32_t>(result)).c_str());
      return false;
    }
    return true;
  }

  // The server's text for a code, on one line; "(no text)" when it has none.
  std::string ErrorText(HRESULT code) {
    LPWSTR text = nullptr;
    // On failure nothing was allocated, so nothing is freed.
    if (FAILED(server_->GetErrorString(code, kSystemDefaultLocale, &text)) || text == nullptr) return "(no text)";
    std::string narrow = Narrow(text);
    CoTaskMemFree(text);
    return narrow;
  }

  std::string ItemErrorLine(const std::string& name, HRESULT code) {
    return vrt::tool::ItemErrorLine(name, static_cast<std::uint32_t>(code), ErrorText(code));
  }
  std::string ItemErrorLine(const Item& item, HRESULT code) { return ItemErrorLine(item.id, code); }

  static std::string ValueLine(const Item& item, VARIANT& value, WORD quality, const FILETIME& timeStamp) {
    return vrt::tool::ValueLine(item.id, ValueText(value), value.vt, quality, LocalTimeText(timeStamp, true));
  }

  void CallFailed(const char* call, HRESULT code) {
    std::fprintf(stderr, "opc: %s: error %s %s\n", call,
                 vrt::tool::HresultText(static_cast<std::uint32_t>(code)).c_str(), ErrorText(code).c_str());
  }

  int Status() {
    OPCSERVERSTATUS* status = nullptr;
    const HRESULT result = server_->GetStatus(&status);
    if (FAILED(result) || status == nullptr) {
      CallFailed("GetStatus", FAILED(result) ? result : E_POINTER);
      return 1;
    }
    std::printf("state: %s\n", vrt::tool::ServerStateText(static_cast<std::uint32_t>(status->dwServerState)).c_str());
    std::printf("vendor: %s\n", Narrow(status->szVendorInfo).c_str());
    std::printf("started: %s\n", LocalTimeText(status->ftStartTime, false).c_str());
    std::printf("groups: %lu\n", status->dwGroupCount);
    std::printf("bandwidth: %lu\n", status->dwBandWidth);
    std::printf("version: %u.%u.%u\n", status->wMajorVersion, status->wMinorVersion, status->wBuildNumber);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return 0;
  }

  // An active group. The update rate and deadband matter only to watch; the
  // other commands read and write synchronously and leave the deadband to
  // the server.
  bool AddGroup(DWORD updateRate = 1000, FLOAT* percentDeadband = nullptr) {
    DWORD revisedRate = 0;
    const HRESULT result = server_->AddGroup(L"", TRUE, updateRate, 1, nullptr, percentDeadband, 0, &group_,
                                             &revisedRate, IID_IOPCItemMgt, itemMgt_.OutUnknown());
    if (FAILED(result) || itemMgt_.Get() == nullptr) {
      CallFailed("AddGroup", FAILED(result) ? result : E_POINTER);
      return false;
    }
    hasGroup_ = true;
    return true;
  }

  // IOPCGroupStateMgt2 on the watch group; the server may revise the time
  // (OPC_S_UNSUPPORTEDRATE), which is printed either way.
  bool SetKeepAlive(DWORD keepAlive) {
    Held<IOPCGroupStateMgt2> state;
    if (!Open(*itemMgt_.Get(), IID_IOPCGroupStateMgt2, "IOPCGroupStateMgt2", state)) return false;
    DWORD revised = 0;
    const HRESULT result = state->SetKeepAlive(keepAlive, &revised);
    if (FAILED(result)) {
      CallFailed("SetKeepAlive", result);
      return false;
    }
    std::printf("keep-alive: %lu ms (asked %lu)\n", revised, keepAlive);
    return true;
  }

  bool OpenSyncIO() { return Open(*itemMgt_.Get(), IID_IOPCSyncIO, "IOPCSyncIO", syncIO_); }

  // Another interface of the server or group; a refusal is printed.
  template <typename Interface>
  bool Open(IUnknown& from, REFIID iid, const char* name, Held<Interface>& into) {
    const HRESULT result = from.QueryInterface(iid, into.OutVoid());
    if (FAILED(result) || into.Get() == nullptr) {
      CallFailed(name, FAILED(result) ? result : E_POINTER);
      into.Reset();
      return false;
    }
    return true;
  }

  // Adds all items in one call (client handle = position + 1). When the
  // call itself fails, every item carries its code.
  void AddItems(std::vector<Item>& items, VARTYPE requestedType) {
    wchar_t noAccessPath[1] = {L'\0'};
    std::vector<OPCITEMDEF> definitions(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      OPCITEMDEF& definition = definitions[i];
      definition.szAccessPath = noAccessPath;
      definition.szItemID = items[i].wideId.data();
      definition.bActive = TRUE;
      definition.hClient = static_cast<OPCHANDLE>(i + 1);
      definition.dwBlobSize = 0;
      definition.pBlob = nullptr;
      definition.vtRequestedDataType = requestedType;
      definition.wReserved = 0;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    HRESULT result = itemMgt_->AddItems(static_cast<DWORD>(items.size()), definitions.data(), &results, &errors);
    if (SUCCEEDED(result) && (results == nullptr || errors == nullptr)) result = E_POINTER;
    for (std::size_t i = 0; i < items.size(); ++i) {
      Item& item = items[i];
      item.added = FAILED(result) ? result : errors[i];
      if (FAILED(item.added)) continue;
      item.handle = results[i].hServer;
      item.canonicalType = results[i].vtCanonicalDataType;
      item.accessRights = results[i].dwAccessRights;
    }
    if (SUCCEEDED(result)) {
      for (std::size_t i = 0; i < items.size(); ++i) CoTaskMemFree(results[i].pBlob);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
  }

  int Items(const OpcArguments& arguments) {
    if (!AddGroup()) return 1;
    std::vector<Item> items = ItemsOf(arguments.operands);
    AddItems(items, arguments.requestedType);
    int exitCode = 0;
    for (const Item& item : items) {
      if (FAILED(item.added)) {
        std::printf("%s\n", ItemErrorLine(item, item.added).c_str());
        exitCode = 1;
        continue;
      }
      std::printf("%s: handle %lu type %s rights %lu\n", item.id.c_str(), item.handle,
                  vrt::tool::VarTypeName(item.canonicalType).c_str(), item.accessRights);
    }
    return exitCode;
  }

  int Read(const OpcArguments& arguments) {
    if (arguments.maxAge) return ReadMaxAge(arguments);
    if (!AddGroup() || !OpenSyncIO()) return 1;
    std::vector<Item> items = ItemsOf(arguments.operands);
    AddItems(items, arguments.requestedType);
    std::vector<OPCHANDLE> handles;
    for (const Item& item : items) {
      if (SUCCEEDED(item.added)) handles.push_back(item.handle);
    }
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    HRESULT result = S_OK;
    if (!handles.empty()) {
      result = syncIO_->Read(arguments.device ? OPC_DS_DEVICE : OPC_DS_CACHE, static_cast<DWORD>(handles.size()),
                             handles.data(), &states, &errors);
      if (SUCCEEDED(result) && (states == nullptr || errors == nullptr)) result = E_POINTER;
    }
    int exitCode = 0;
    std::size_t read = 0;  // position in the handles handed to Read
    for (const Item& item : items) {
      if (FAILED(item.added)) {
        std::printf("%s\n", ItemErrorLine(item, item.added).c_str());
        exitCode = 1;
        continue;
      }
      const std::size_t at = read++;
      const HRESULT itemResult = FAILED(result) ? result : errors[at];
      if (FAILED(itemResult)) {
        std::printf("%s\n", ItemErrorLine(item, itemResult).c_str());
        exitCode = 1;
        continue;
      }
      OPCITEMSTATE& state = states[at];
      std::printf("%s\n", ValueLine(item, state.vDataValue, state.wQuality, state.ftTimeStamp).c_str());
    }
    if (SUCCEEDED(result) && states != nullptr) {
      for (std::size_t i = 0; i < handles.size(); ++i) VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return exitCode;
  }

  // The value travels as text and the server converts it, unless a type is
  // named: then it is converted here, in the invariant locale, and sent in
  // that type. The item is added without a requested type, which concerns
  // only the values read back.
  int Write(const OpcArguments& arguments) {
    if (arguments.vqt) return WriteVqt(arguments);
    if (!AddGroup() || !OpenSyncIO()) return 1;
    std::vector<Item> items = ItemsOf({arguments.operands[0]});
    Item& item = items[0];
    AddItems(items, VT_EMPTY);
    if (FAILED(item.added)) {
      std::printf("%s\n", ItemErrorLine(item, item.added).c_str());
      return 1;
    }
    OwnedVariant value;
    HRESULT result = ValueToWrite(arguments, value.Get());
    HRESULT* errors = nullptr;
    if (SUCCEEDED(result)) {
      result = syncIO_->Write(1, &item.handle, &value.Get(), &errors);
      if (SUCCEEDED(result)) result = errors != nullptr ? errors[0] : E_POINTER;
    }
    CoTaskMemFree(errors);
    return PrintWriteResult(item.id, arguments.operands[1], result);
  }

  // IOPCItemIO::WriteVQT by item ID, without a group. A quality or time
  // stamp goes along only when given.
  int WriteVqt(const OpcArguments& arguments) {
    Held<IOPCItemIO> io;
    if (!Open(*server_.Get(), IID_IOPCItemIO, "IOPCItemIO", io)) return 1;
    HRESULT result = S_OK;
    const std::string& itemId = arguments.operands[0];
    const std::wstring wideId = Wide(itemId);
    OPCITEMVQT entry{};
    VariantInit(&entry.vDataValue);
    result = ValueToWrite(arguments, entry.vDataValue);
    entry.bQualitySpecified = arguments.quality ? TRUE : FALSE;
    entry.wQuality = arguments.quality.value_or(0);
    entry.bTimeStampSpecified = arguments.timeStamp ? TRUE : FALSE;
    const std::uint64_t stamp = arguments.timeStamp.value_or(0);
    entry.ftTimeStamp.dwLowDateTime = static_cast<DWORD>(stamp);
    entry.ftTimeStamp.dwHighDateTime = static_cast<DWORD>(stamp >> 32);
    HRESULT* errors = nullptr;
    if (SUCCEEDED(result)) {
      LPCWSTR ids[1] = {wideId.c_str()};
      result = io->WriteVQT(1, ids, &entry, &errors);
      if (SUCCEEDED(result)) result = errors != nullptr ? errors[0] : E_POINTER;
    }
    CoTaskMemFree(errors);
    VariantClear(&entry.vDataValue);
    return PrintWriteResult(itemId, arguments.operands[1], result);
  }

  int Watch(const OpcArguments& arguments) {
    FLOAT deadband = arguments.deadband;
    if (!AddGroup(arguments.updateRate, &deadband)) return 1;
    if (arguments.keepAlive && !SetKeepAlive(*arguments.keepAlive)) return 1;
    std::vector<Item> items = ItemsOf(arguments.operands);
    AddItems(items, arguments.requestedType);
    int exitCode = 0;
    bool anyAdded = false;
    for (const Item& item : items) {
      if (SUCCEEDED(item.added)) {
        anyAdded = true;
        continue;
      }
      std::printf("%s\n", ItemErrorLine(item, item.added).c_str());
      exitCode = 1;
    }
    std::fflush(stdout);
    if (!anyAdded) return exitCode;

    auto arrivals = std::make_shared<Arrivals>();
    stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!arrivals->Usable() || stopRequested == nullptr) {
      CallFailed("CreateEvent", HRESULT_FROM_WIN32(GetLastError()));
      exitCode = 1;
    } else if (!(arguments.da1 ? AdviseStream(arrivals) : AdviseCallback(arrivals))) {
      exitCode = 1;
    } else {
      SetConsoleCtrlHandler(OnConsoleControl, TRUE);
      WaitAndPrint(*arrivals, items, arguments.seconds);
      Unadvise();
      SetConsoleCtrlHandler(OnConsoleControl, FALSE);
      PrintArrivals(*arrivals, items);  // what came before the sink was let go
    }
    const HANDLE stop = stopRequested;
    stopRequested = nullptr;
    if (stop != nullptr) CloseHandle(stop);
    return exitCode;
  }

  int Browse(const OpcArguments& arguments) {
    Held<IOPCBrowseServerAddressSpace> browser;
    if (!Open(*server_.Get(), IID_IOPCBrowseServerAddressSpace, "IOPCBrowseServerAddressSpace", browser)) return 1;
    HRESULT result = S_OK;
    const bool inDevice = !arguments.operands.empty();
    if (inDevice) {
      const std::string& device = arguments.operands[0];
      result = browser->ChangeBrowsePosition(OPC_BROWSE_DOWN, Wide(device).c_str());
      if (FAILED(result)) {
        CallFailed(device.c_str(), result);
        return 1;
      }
    }
    const OPCBROWSETYPE type = arguments.flat ? OPC_FLAT : inDevice ? OPC_LEAF : OPC_BRANCH;
    const std::wstring filter = arguments.flat ? std::wstring() : Wide(arguments.filter);
    Held<IEnumString> found;
    result = browser->BrowseOPCItemIDs(type, filter.c_str(), VT_EMPTY, 0, found.Out());
    std::vector<std::wstring> names;
    // S_FALSE: nothing matched (the enumerator, if any, is empty).
    if (SUCCEEDED(result) && found.Get() != nullptr) result = TakeNames(found.Get(), names);
    if (FAILED(result)) {
      CallFailed("BrowseOPCItemIDs", result);
      return 1;
    }
    int exitCode = 0;
    for (std::wstring& name : names) {
      const std::string shown = Narrow(name.c_str());
      if (!inDevice || arguments.flat) {
        std::printf("%s\n", shown.c_str());
        continue;
      }
      LPWSTR itemId = nullptr;
      result = browser->GetItemID(name.data(), &itemId);
      if (SUCCEEDED(result) && itemId == nullptr) result = E_POINTER;
      if (FAILED(result)) {
        std::printf("%s\n", ItemErrorLine(shown, result).c_str());
        exitCode = 1;
        continue;
      }
      std::printf("%s\n", vrt::tool::BrowsedLeafLine(Narrow(itemId), shown).c_str());
      CoTaskMemFree(itemId);
    }
    return exitCode;
  }

  int Props(const OpcArguments& arguments) {
    Held<IOPCItemProperties> properties;
    if (!Open(*server_.Get(), IID_IOPCItemProperties, "IOPCItemProperties", properties)) return 1;
    HRESULT result = S_OK;
    const std::string& itemId = arguments.operands[0];
    std::wstring wideId = Wide(itemId);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    result = properties->QueryAvailableProperties(wideId.data(), &count, &ids, &descriptions, &types);
    if (SUCCEEDED(result) && count > 0 && (ids == nullptr || descriptions == nullptr)) result = E_POINTER;
    int exitCode = 0;
    if (FAILED(result)) {
      std::printf("%s\n", ItemErrorLine(itemId, result).c_str());
      exitCode = 1;
      count = 0;  // a failed call hands nothing out; free only what is there
    }
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    HRESULT read = S_OK;
    if (count > 0) {
      read = properties->GetItemProperties(wideId.data(), count, ids, &values, &errors);
      if (SUCCEEDED(read) && (values == nullptr || errors == nullptr)) read = E_POINTER;
    }
    for (DWORD k = 0; k < count; ++k) {
      const std::string description = Narrow(descriptions[k]);
      const HRESULT code = FAILED(read) ? read : errors[k];
      if (FAILED(code)) {
        std::printf("%s\n", vrt::tool::PropertyErrorLine(ids[k], description, static_cast<std::uint32_t>(code),
                                                         ErrorText(code))
                                .c_str());
        exitCode = 1;
        continue;
      }
      std::printf("%s\n", vrt::tool::PropertyLine(ids[k], description, ValueText(values[k])).c_str());
    }
    if (SUCCEEDED(read) && values != nullptr) {
      for (DWORD k = 0; k < count; ++k) VariantClear(&values[k]);
    }
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    if (descriptions != nullptr) {
      for (DWORD k = 0; k < count; ++k) CoTaskMemFree(descriptions[k]);
    }
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
    return exitCode;
  }

  // IOPCItemIO::Read by item ID, without a group: each item with the same
  // maximum age.
  int ReadMaxAge(const OpcArguments& arguments) {
    Held<IOPCItemIO> io;
    if (!Open(*server_.Get(), IID_IOPCItemIO, "IOPCItemIO", io)) return 1;
    const std::vector<Item> items = ItemsOf(arguments.operands);
    std::vector<LPCWSTR> ids;
    for (const Item& item : items) ids.push_back(item.wideId.c_str());
    std::vector<DWORD> ages(items.size(), *arguments.maxAge);
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    HRESULT* errors = nullptr;
    HRESULT result = io->Read(static_cast<DWORD>(ids.size()), ids.data(), ages.data(), &values, &qualities, &stamps, &errors);
    if (SUCCEEDED(result) && (values == nullptr || qualities == nullptr || stamps == nullptr || errors == nullptr)) {
      result = E_POINTER;
    }
    int exitCode = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const HRESULT itemResult = FAILED(result) ? result : errors[i];
      if (FAILED(itemResult)) {
        std::printf("%s\n", ItemErrorLine(items[i], itemResult).c_str());
        exitCode = 1;
        continue;
      }
      std::printf("%s\n", ValueLine(items[i], values[i], qualities[i], stamps[i]).c_str());
    }
    if (SUCCEEDED(result)) {
      for (std::size_t i = 0; i < items.size(); ++i) VariantClear(&values[i]);
    }
    CoTaskMemFree(values);
    CoTaskMemFree(qualities);
    CoTaskMemFree(stamps);
    CoTaskMemFree(errors);
    return exitCode;
  }

  // IOPCBrowse::Browse from the root or BRANCH, every element, calling
  // again with the continuation point for as long as the server hands one
  // out. With --max the pages are that size and each is announced.
  int Browse3(const OpcArguments& arguments) {
    Held<IOPCBrowse> browse;
    if (!Open(*server_.Get(), IID_IOPCBrowse, "IOPCBrowse", browse)) return 1;
    HRESULT result = S_OK;
    std::wstring branch = arguments.operands.empty() ? std::wstring() : Wide(arguments.operands[0]);
    std::wstring noFilter;
    std::wstring noVendorFilter;
    DWORD noProperties = 0;
    LPWSTR point = nullptr;  // in and out; the server replaces it
    int exitCode = 0;
    for (unsigned page = 1;; ++page) {
      BOOL more = FALSE;
      DWORD count = 0;
      OPCBROWSEELEMENT* elements = nullptr;
      const BOOL properties = arguments.properties ? TRUE : FALSE;
      result = browse->Browse(branch.data(), &point, arguments.maxElements, OPC_BROWSE_FILTER_ALL, noFilter.data(),
                              noVendorFilter.data(), properties, properties, 0, &noProperties, &more, &count,
                              &elements);
      if (FAILED(result)) {
        CallFailed("Browse", result);
        exitCode = 1;
        break;
      }
      if (arguments.maxElements != 0) std::printf("page %u: %lu elements\n", page, count);
      for (DWORD k = 0; k < count && elements != nullptr; ++k) {
        OPCBROWSEELEMENT& element = elements[k];
        const std::string name = element.szName != nullptr ? Narrow(element.szName) : std::string();
        const std::string itemId = element.szItemID != nullptr ? Narrow(element.szItemID) : std::string();
        std::printf("%s\n", vrt::tool::BrowseElementLine(name, itemId, element.dwFlagValue).c_str());
        if (PrintBrowsedProperties(element.ItemProperties)) exitCode = 1;
        CoTaskMemFree(element.szName);
        CoTaskMemFree(element.szItemID);
      }
      CoTaskMemFree(elements);
      // A point with no more elements is still a point to follow; no point
      // is the end.
      if (point == nullptr || point[0] == L'\0') break;
    }
    CoTaskMemFree(point);
    return exitCode;
  }

  // Adds the item to a group, sets its percent deadband and reads back
  // what the server keeps.
  int Deadband(const OpcArguments& arguments) {
    if (!AddGroup()) return 1;
    std::vector<Item> items = ItemsOf({arguments.operands[0]});
    Item& item = items[0];
    AddItems(items, VT_EMPTY);
    if (FAILED(item.added)) {
      std::printf("%s\n", ItemErrorLine(item, item.added).c_str());
      return 1;
    }
    Held<IOPCItemDeadbandMgt> deadbands;
    if (!Open(*itemMgt_.Get(), IID_IOPCItemDeadbandMgt, "IOPCItemDeadbandMgt", deadbands)) return 1;
    HRESULT result = S_OK;
    FLOAT percent = arguments.percent;
    HRESULT* errors = nullptr;
    result = deadbands->SetItemDeadband(1, &item.handle, &percent, &errors);
    if (SUCCEEDED(result)) result = errors != nullptr ? errors[0] : E_POINTER;
    CoTaskMemFree(errors);
    std::printf("%s\n", vrt::tool::DeadbandResultLine(item.id, percent, static_cast<std::uint32_t>(result),
                                                       FAILED(result) ? ErrorText(result) : std::string())
                            .c_str());
    if (FAILED(result)) return 1;
    FLOAT* kept = nullptr;
    errors = nullptr;
    result = deadbands->GetItemDeadband(1, &item.handle, &kept, &errors);
    if (SUCCEEDED(result)) result = errors != nullptr && kept != nullptr ? errors[0] : E_POINTER;
    if (FAILED(result)) {
      std::printf("%s\n", ItemErrorLine(item, result).c_str());
    } else {
      std::printf("%s deadband now %s%%\n", item.id.c_str(), vrt::tool::RealText(kept[0]).c_str());
    }
    CoTaskMemFree(kept);
    CoTaskMemFree(errors);
    return FAILED(result) ? 1 : 0;
  }

 private:
  // The value travels as text and the server converts it, unless a type is
  // named: then it is converted here, in the invariant locale, and sent in
  // that type. An item is added without a requested type, which concerns
  // only the values read back.
  static HRESULT ValueToWrite(const OpcArguments& arguments, VARIANT& value) {
    const std::wstring wideTyped = Wide(arguments.operands[1]);
    OwnedVariant text;
    text.Get().bstrVal = SysAllocStringLen(wideTyped.c_str(), static_cast<UINT>(wideTyped.size()));
    if (text.Get().bstrVal == nullptr) return E_OUTOFMEMORY;
    text.Get().vt = VT_BSTR;
    const VARTYPE type = arguments.requestedType;
    return type == VT_EMPTY ? VariantCopy(&value, &text.Get())
                            : VariantChangeTypeEx(&value, &text.Get(), LOCALE_INVARIANT, 0, type);
  }

  // A browse element's properties, indented below it, each freed; true when
  // any (or the whole set) failed.
  bool PrintBrowsedProperties(OPCITEMPROPERTIES& properties) {
    bool failed = false;
    if (FAILED(properties.hrErrorID)) {
      std::printf("  %s\n", ItemErrorLine("properties", properties.hrErrorID).c_str());
      failed = true;
    }
    for (DWORD k = 0; k < properties.dwNumProperties && properties.pItemProperties != nullptr; ++k) {
      OPCITEMPROPERTY& property = properties.pItemProperties[k];
      const std::string description = property.szDescription != nullptr ? Narrow(property.szDescription) : "";
      if (FAILED(property.hrErrorID)) {
        std::printf("  %s\n", vrt::tool::PropertyErrorLine(property.dwPropertyID, description,
                                                          static_cast<std::uint32_t>(property.hrErrorID),
                                                          ErrorText(property.hrErrorID))
                                  .c_str());
        failed = true;
      } else {
        std::printf("  %s\n",
                    vrt::tool::PropertyLine(property.dwPropertyID, description, ValueText(property.vValue)).c_str());
      }
      CoTaskMemFree(property.szItemID);
      CoTaskMemFree(property.szDescription);
      VariantClear(&property.vValue);
    }
    CoTaskMemFree(properties.pItemProperties);
    return failed;
  }

  int PrintWriteResult(const std::string& itemId, const std::string& typed, HRESULT result) {
    const std::string line = vrt::tool::WriteResultLine(itemId, typed, static_cast<std::uint32_t>(result),
                                                        FAILED(result) ? ErrorText(result) : std::string());
    std::printf("%s\n", line.c_str());
    return FAILED(result) ? 1 : 0;
  }

  // The group's connection point for IOPCDataCallback.
  bool AdviseCallback(const std::shared_ptr<Arrivals>& arrivals) {
    Held<IConnectionPointContainer> container;
    if (!Open(*itemMgt_.Get(), IID_IConnectionPointContainer, "IConnectionPointContainer", container)) return false;
    HRESULT result = container->FindConnectionPoint(IID_IOPCDataCallback, connectionPoint_.Out());
    if (FAILED(result) || connectionPoint_.Get() == nullptr) {
      CallFailed("FindConnectionPoint", FAILED(result) ? result : E_POINTER);
      return false;
    }
    auto* sink = new DataCallbackSink(arrivals);
    result = connectionPoint_->Advise(sink, &cookie_);
    sink->Release();  // the connection point holds it while advised
    if (FAILED(result)) {
      CallFailed("Advise", result);
      connectionPoint_.Reset();
      return false;
    }
    return true;
  }

  // The group's IDataObject with the stream format that carries time stamps.
  bool AdviseStream(const std::shared_ptr<Arrivals>& arrivals) {
    const UINT format = RegisterClipboardFormatW(L"OPCSTMFORMATDATATIME");
    if (format == 0) {
      CallFailed("RegisterClipboardFormat", HRESULT_FROM_WIN32(GetLastError()));
      return false;
    }
    HRESULT result = itemMgt_->QueryInterface(IID_IDataObject, dataObject_.OutVoid());
    if (FAILED(result) || dataObject_.Get() == nullptr) {
      CallFailed("IDataObject", FAILED(result) ? result : E_POINTER);
      dataObject_.Reset();
      return false;
    }
    FORMATETC wanted{};
    wanted.cfFormat = static_cast<CLIPFORMAT>(format);
    wanted.ptd = nullptr;
    wanted.dwAspect = DVASPECT_CONTENT;
    wanted.lindex = -1;
    wanted.tymed = TYMED_HGLOBAL;
    auto* sink = new StreamSink(arrivals, static_cast<CLIPFORMAT>(format));
    result = dataObject_->DAdvise(&wanted, 0, sink, &connection_);
    sink->Release();  // the group holds it while advised
    if (FAILED(result)) {
      CallFailed("DAdvise", result);
      dataObject_.Reset();
      return false;
    }
    return true;
  }

  void Unadvise() {
    if (connectionPoint_.Get() != nullptr) {
      const HRESULT result = connectionPoint_->Unadvise(cookie_);
      if (FAILED(result)) CallFailed("Unadvise", result);
      connectionPoint_.Reset();
    }
    if (dataObject_.Get() != nullptr) {
      const HRESULT result = dataObject_->DUnadvise(connection_);
      if (FAILED(result)) CallFailed("DUnadvise", result);
      dataObject_.Reset();
    }
  }

  // Prints what arrives until the time is up or Ctrl-C. The thread's
  // messages are dispatched meanwhile: in a single-threaded apartment the
  // callbacks come as messages.
  void WaitAndPrint(Arrivals& arrivals, const std::vector<Item>& items, std::uint32_t seconds) {
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG{seconds} * 1000;
    const HANDLE wakers[2] = {stopRequested, arrivals.Ready()};
    for (;;) {
      DWORD wait = INFINITE;
      if (seconds != 0) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        wait = static_cast<DWORD>(deadline - now);
      }
      const DWORD woken = MsgWaitForMultipleObjects(2, wakers, FALSE, wait, QS_ALLINPUT);
      if (woken == WAIT_OBJECT_0 + 2) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&message);
          DispatchMessageW(&message);
        }
        continue;
      }
      PrintArrivals(arrivals, items);
      if (woken != WAIT_OBJECT_0 + 1) break;  // stop, time up or a failed wait
    }
  }

  // One line per value, flushed at once: the lines are read through pipes
  // as they come.
  void PrintArrivals(Arrivals& arrivals, const std::vector<Item>& items) {
    for (const std::size_t bytes : arrivals.TakeRefused()) {
      std::fprintf(stderr, "opc: a data stream of %zu bytes was refused: its sizes or offsets do not fit\n", bytes);
    }
    for (Arrival& arrival : arrivals.Take()) {
      if (arrival.keepAlive) {
        std::printf("%s\n", vrt::tool::KeepAliveLine(LocalTimeText(arrival.timeStamp, true)).c_str());
        std::fflush(stdout);
        continue;
      }
      // Client handles are positions + 1; anything else is not ours.
      if (arrival.clientHandle == 0 || arrival.clientHandle > items.size()) continue;
      const Item& item = items[arrival.clientHandle - 1];
      if (FAILED(arrival.error)) {
        std::printf("%s\n", ItemErrorLine(item, arrival.error).c_str());
      } else {
        std::printf("%s\n", ValueLine(item, arrival.value.Get(), arrival.quality, arrival.timeStamp).c_str());
      }
      std::fflush(stdout);
    }
    std::fflush(stderr);
  }

 private:
  Held<IOPCServer> server_;
  Held<IOPCItemMgt> itemMgt_;
  Held<IOPCSyncIO> syncIO_;
  Held<IConnectionPoint> connectionPoint_;  // while a callback is advised
  DWORD cookie_ = 0;
  Held<IDataObject> dataObject_;  // while a stream is advised
  DWORD connection_ = 0;
  OPCHANDLE group_ = 0;
  bool hasGroup_ = false;
};

int Run(const OpcArguments& arguments) {
  OpcClient client;
  if (!client.Create(arguments.localServer)) return 1;
  switch (arguments.command) {
    case OpcCommand::kStatus: return client.Status();
    case OpcCommand::kItems: return client.Items(arguments);
    case OpcCommand::kRead: return client.Read(arguments);
    case OpcCommand::kWrite: return client.Write(arguments);
    case OpcCommand::kWatch: return client.Watch(arguments);
    case OpcCommand::kBrowse: return client.Browse(arguments);
    case OpcCommand::kProps: return client.Props(arguments);
    case OpcCommand::kBrowse3: return client.Browse3(arguments);
    case OpcCommand::kDeadband: return client.Deadband(arguments);
    case OpcCommand::kHelp: break;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::string error;
  const auto arguments = vrt::tool::ParseOpcArguments(words, error);
  if (!arguments) {
    std::fprintf(stderr, "opc: %s (opc --help shows the usage)\n", error.c_str());
    return 2;
  }
  if (arguments->command == OpcCommand::kHelp) {
    std::fputs(vrt::tool::OpcUsage(), stdout);
    return 0;
  }
  const HRESULT initialized =
      CoInitializeEx(nullptr, arguments->sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
  if (FAILED(initialized)) {
    std::fprintf(stderr, "opc: COM could not be initialised: %s\n",
                 vrt::tool::HresultText(static_cast<std::uint32_t>(initialized)).c_str());
    return 1;
  }
  const int exitCode = Run(*arguments);
  CoUninitialize();
  return exitCode;
}
