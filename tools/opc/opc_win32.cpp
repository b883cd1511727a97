// opc: a command-line client of the OPC DA server. It creates the server by
// its ProgID, in process and free-threaded, and goes through the custom
// interfaces only (IOPCServer, IOPCItemMgt, IOPCSyncIO), as any DA 2.0
// client does. One group per run; every item of the command line is added
// to it in one AddItems call.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include "opc_arguments.h"
#include "opc_da.h"

namespace {

using vrt::tool::OpcArguments;
using vrt::tool::OpcCommand;

constexpr wchar_t kProgId[] = L"Kalvento.Tavex";
constexpr LCID kSystemDefaultLocale = 0x800;

// One interface pointer, released when it goes.
template <typename Interface>
class Held {
 public:
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() { Reset(); }

  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  // For the calls that hand an interface out through IUnknown** or void**.
  LPUNKNOWN* OutUnknown() {
    Reset();
    return reinterpret_cast<LPUNKNOWN*>(&pointer_);
  }
  void** OutVoid() {
    Reset();
    return reinterpret_cast<void**>(&pointer_);
  }

 private:
  Interface* pointer_ = nullptr;
};

// The command line comes in the ANSI code page, so texts go back out in it.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text, int characters = -1) {
  if (text == nullptr || characters == 0) return {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text, characters, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, characters, narrow.data(), length, nullptr, nullptr);
  if (characters < 0 && !narrow.empty()) narrow.pop_back();  // the counted terminator
  return narrow;
}

// "2026-12-08 14:00:00" (with ".123" when asked), in local time at that
// moment, so that a summer stamp read in winter still shows summer time.
std::string LocalTimeText(const FILETIME& stamp, bool milliseconds) {
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  if (!FileTimeToSystemTime(&stamp, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay,
                local.wHour, local.wMinute, local.wSecond);
  std::string shown = text;
  if (milliseconds) {
    std::snprintf(text, sizeof text, ".%03u", local.wMilliseconds);
    shown += text;
  }
  return shown;
}

// A VARIANT as the read line shows it. Numbers are formatted here (the
// shortest text that reads back as the same value) rather than through
// VariantChangeType, whose text depends on the locale and cuts an R8 to 15
// digits; only types without a rule of their own go through the invariant
// locale's conversion (which takes its source as non-const, hence no const
// here).
std::string ValueText(VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY: return "";
    case VT_BSTR: return Narrow(value.bstrVal, static_cast<int>(SysStringLen(value.bstrVal)));
    case VT_BOOL: return value.boolVal != VARIANT_FALSE ? "true" : "false";
    case VT_I2: return std::to_string(value.iVal);
    case VT_I4: return std::to_string(value.lVal);
    case VT_R4: return vrt::tool::RealText(value.fltVal);
    case VT_R8: return vrt::tool::RealText(value.dblVal);
    default: break;
  }
  VARIANT text;
  VariantInit(&text);
  std::string shown = "?";
  if (SUCCEEDED(VariantChangeTypeEx(&text, &value, LOCALE_INVARIANT, 0, VT_BSTR))) {
    shown = Narrow(text.bstrVal, static_cast<int>(SysStringLen(text.bstrVal)));
  }
  VariantClear(&text);
  return shown;
}

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

class OpcClient {
 public:
  OpcClient() = default;
  OpcClient(const OpcClient&) = delete;
  OpcClient& operator=(const OpcClient&) = delete;

  // Group interfaces first, then the group, then the server.
  ~OpcClient() {
    syncIO_.Reset();
    itemMgt_.Reset();
    if (hasGroup_) server_->RemoveGroup(group_, TRUE);
    server_.Reset();
  }

  bool Create() {
    CLSID clsid{};
    HRESULT result = CLSIDFromProgID(kProgId, &clsid);
    if (SUCCEEDED(result)) {
      result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, server_.OutVoid());
    }
    if (FAILED(result) || server_.get() == nullptr) {
      std::fprintf(stderr, "opc: cannot create the OPC server %s: %s\n", Narrow(kProgId).c_str(),
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

  std::string ItemErrorLine(const Item& item, HRESULT code) {
    return vrt::tool::ItemErrorLine(item.id, static_cast<std::uint32_t>(code), ErrorText(code));
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

  // An active group with the server's defaults; the update rate does not
  // matter, since this client only reads and writes synchronously.
  bool AddGroup() {
    DWORD revisedRate = 0;
    const HRESULT result =
        server_->AddGroup(L"", TRUE, 1000, 1, nullptr, nullptr, 0, &group_, &revisedRate, IID_IOPCItemMgt,
                          itemMgt_.OutUnknown());
    if (FAILED(result) || itemMgt_.get() == nullptr) {
      CallFailed("AddGroup", FAILED(result) ? result : E_POINTER);
      return false;
    }
    hasGroup_ = true;
    return true;
  }

  bool OpenSyncIO() {
    const HRESULT result = itemMgt_->QueryInterface(IID_IOPCSyncIO, syncIO_.OutVoid());
    if (FAILED(result) || syncIO_.get() == nullptr) {
      CallFailed("IOPCSyncIO", FAILED(result) ? result : E_POINTER);
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
      std::printf("%s = %s %s %s [%u] %s\n", item.id.c_str(), ValueText(state.vDataValue).c_str(),
                  vrt::tool::VarTypeName(state.vDataValue.vt).c_str(),
                  vrt::tool::OpcQualityText(state.wQuality).c_str(), state.wQuality,
                  LocalTimeText(state.ftTimeStamp, true).c_str());
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
    if (!AddGroup() || !OpenSyncIO()) return 1;
    std::vector<Item> items = ItemsOf({arguments.operands[0]});
    Item& item = items[0];
    const std::string& typed = arguments.operands[1];
    AddItems(items, VT_EMPTY);
    if (FAILED(item.added)) {
      std::printf("%s\n", ItemErrorLine(item, item.added).c_str());
      return 1;
    }
    const std::wstring wideTyped = Wide(typed);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringLen(wideTyped.c_str(), static_cast<UINT>(wideTyped.size()));
    VARIANT value;
    VariantInit(&value);
    HRESULT result = text.bstrVal == nullptr ? E_OUTOFMEMORY : S_OK;
    const VARTYPE type = arguments.requestedType;
    if (SUCCEEDED(result)) {
      result = type == VT_EMPTY ? VariantCopy(&value, &text)
                                : VariantChangeTypeEx(&value, &text, LOCALE_INVARIANT, 0, type);
    }
    HRESULT* errors = nullptr;
    if (SUCCEEDED(result)) {
      result = syncIO_->Write(1, &item.handle, &value, &errors);
      if (SUCCEEDED(result)) result = errors != nullptr ? errors[0] : E_POINTER;
    }
    CoTaskMemFree(errors);
    VariantClear(&value);
    VariantClear(&text);
    const std::string line = vrt::tool::WriteResultLine(item.id, typed, static_cast<std::uint32_t>(result),
                                                        FAILED(result) ? ErrorText(result) : std::string());
    std::printf("%s\n", line.c_str());
    return FAILED(result) ? 1 : 0;
  }

 private:
  Held<IOPCServer> server_;
  Held<IOPCItemMgt> itemMgt_;
  Held<IOPCSyncIO> syncIO_;
  OPCHANDLE group_ = 0;
  bool hasGroup_ = false;
};

int Run(const OpcArguments& arguments) {
  OpcClient client;
  if (!client.Create()) return 1;
  switch (arguments.command) {
    case OpcCommand::kStatus: return client.Status();
    case OpcCommand::kItems: return client.Items(arguments);
    case OpcCommand::kRead: return client.Read(arguments);
    case OpcCommand::kWrite: return client.Write(arguments);
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
  const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(initialized)) {
    std::fprintf(stderr, "opc: COM could not be initialised: %s\n",
                 vrt::tool::HresultText(static_cast<std::uint32_t>(initialized)).c_str());
    return 1;
  }
  const int exitCode = Run(*arguments);
  CoUninitialize();
  return exitCode;
}
