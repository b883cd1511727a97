#include "opc_client.h"

#include "vrtopc_identity.h"

#include <cstring>

#include "probe_process.h"

namespace vrt::testing {

std::string ServerLibrary() { return ProgramDirectory() + "\\VRTOPC.dll"; }

int RunRegsvr32(bool unregister, const std::string& library) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string exe = std::string(system) + "\\regsvr32.exe";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!StartProgram(exe, std::string("/s ") + (unregister ? "/u " : "") + "\"" + library + "\"", startup, process)
           .empty()) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

HRESULT CreateServer(ComPtr<IOPCServer>& server, DWORD context) {
  CLSID clsid{};
  const HRESULT found = CLSIDFromProgID(kVrtOpcProgIdWide, &clsid);
  if (FAILED(found)) return found;
  return CoCreateInstance(clsid, nullptr, context, IID_IOPCServer, server.OutVoid());
}

void WriteDword(HKEY root, const std::string& key, const char* name, DWORD value) {
  HKEY handle = nullptr;
  RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
  RegSetValueExA(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(handle);
}

HRESULT AddGroup(IOPCServer& server, const wchar_t* name, ComPtr<IOPCItemMgt>& items, OPCHANDLE* handle, BOOL active,
                 DWORD rate) {
  OPCHANDLE serverHandle = 0;
  DWORD revised = 0;
  const HRESULT result = server.AddGroup(name, active, rate, 77, nullptr, nullptr, 0, &serverHandle, &revised,
                                         IID_IOPCItemMgt, items.OutUnknown());
  if (handle != nullptr) *handle = serverHandle;
  return result;
}

std::vector<AddedItem> AddItems(IOPCItemMgt& items, const std::vector<std::wstring>& ids, BOOL active,
                                VARTYPE requested, HRESULT* overall) {
  std::vector<OPCITEMDEF> definitions(ids.size());
  for (std::size_t k = 0; k < ids.size(); ++k) {
    definitions[k] = OPCITEMDEF{};
    definitions[k].szItemID = const_cast<LPWSTR>(ids[k].c_str());
    definitions[k].szAccessPath = const_cast<LPWSTR>(L"");
    definitions[k].bActive = active;
    definitions[k].hClient = static_cast<OPCHANDLE>(k + 1);
    definitions[k].vtRequestedDataType = requested;
  }
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT result = items.AddItems(static_cast<DWORD>(ids.size()), definitions.data(), &results, &errors);
  if (overall != nullptr) *overall = result;
  std::vector<AddedItem> added;
  if (FAILED(result)) return added;
  for (std::size_t k = 0; k < ids.size(); ++k) {
    added.push_back({errors[k], results[k].hServer, results[k].vtCanonicalDataType});
  }
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  return added;
}

ReadResult ReadItem(IOPCSyncIO& io, OPCHANDLE handle, OPCDATASOURCE source) {
  ReadResult read;
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  read.call = io.Read(source, 1, &handle, &states, &errors);
  if (FAILED(read.call)) return read;
  read.error = errors[0];
  read.quality = states[0].wQuality;
  read.type = states[0].vDataValue.vt;
  read.timeStamp = (ULONGLONG{states[0].ftTimeStamp.dwHighDateTime} << 32) | states[0].ftTimeStamp.dwLowDateTime;
  VARIANT text;
  VariantInit(&text);
  if (SUCCEEDED(VariantChangeType(&text, &states[0].vDataValue, 0, VT_BSTR))) read.text = text.bstrVal;
  VariantClear(&text);
  VARIANT number;
  VariantInit(&number);
  if (SUCCEEDED(VariantChangeType(&number, &states[0].vDataValue, 0, VT_R8))) read.number = number.dblVal;
  VariantClear(&states[0].vDataValue);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
  return read;
}

HRESULT WriteItem(IOPCSyncIO& io, OPCHANDLE handle, const VARIANT& value, HRESULT* error) {
  HRESULT* errors = nullptr;
  VARIANT copy = value;
  const HRESULT result = io.Write(1, &handle, &copy, &errors);
  if (SUCCEEDED(result) && error != nullptr) *error = errors[0];
  CoTaskMemFree(errors);
  return result;
}

HRESULT ShutdownSink::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IOPCShutdown)) return E_NOINTERFACE;
  *object = static_cast<IOPCShutdown*>(this);
  AddRef();
  return S_OK;
}

namespace {

std::wstring ValueText(const VARIANT& value) {
  VARIANT text;
  VariantInit(&text);
  std::wstring result;
  if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR))) result = text.bstrVal;
  VariantClear(&text);
  return result;
}

DataCallbackSink::Call Recorded(DataCallbackSink::Call::Kind kind, DWORD transactionId, OPCHANDLE group,
                                HRESULT masterQuality, HRESULT masterError, DWORD count, const OPCHANDLE* handles,
                                const VARIANT* values, const WORD* qualities, const HRESULT* errors) {
  DataCallbackSink::Call call{kind, transactionId, group, masterQuality, masterError, GetCurrentThreadId(), {}, {}, {}, {}};
  for (DWORD k = 0; k < count; ++k) {
    call.clientHandles.push_back(handles[k]);
    if (values != nullptr) call.values.push_back(ValueText(values[k]));
    if (qualities != nullptr) call.qualities.push_back(qualities[k]);
    call.errors.push_back(errors[k]);
  }
  return call;
}

}  // namespace

HRESULT DataCallbackSink::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IOPCDataCallback)) return E_NOINTERFACE;
  *object = static_cast<IOPCDataCallback*>(this);
  AddRef();
  return S_OK;
}

HRESULT DataCallbackSink::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                       HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                       VARIANT* pvValues, WORD* pwQualities, FILETIME*, HRESULT* pErrors) {
  Record(Recorded(Call::kDataChange, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems,
                  pvValues, pwQualities, pErrors));
  if (during) during();
  return S_OK;
}

HRESULT DataCallbackSink::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                         VARIANT* pvValues, WORD* pwQualities, FILETIME*, HRESULT* pErrors) {
  Record(Recorded(Call::kReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount, phClientItems,
                  pvValues, pwQualities, pErrors));
  return S_OK;
}

HRESULT DataCallbackSink::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                          OPCHANDLE* pClienthandles, HRESULT* pErrors) {
  Record(Recorded(Call::kWriteComplete, dwTransid, hGroup, S_OK, hrMastererr, dwCount, pClienthandles, nullptr,
                  nullptr, pErrors));
  return S_OK;
}

void DataCallbackSink::Record(Call call) {
  call.tick = GetTickCount64();
  std::lock_guard<std::mutex> guard(lock_);
  calls_.push_back(std::move(call));
}

std::vector<DataCallbackSink::Call> DataCallbackSink::Calls() {
  std::lock_guard<std::mutex> guard(lock_);
  return calls_;
}

std::size_t DataCallbackSink::CallCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return calls_.size();
}

std::wstring DataCallbackSink::Latest(OPCHANDLE clientHandle) {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto call = calls_.rbegin(); call != calls_.rend(); ++call) {
    if (call->kind != Call::kDataChange) continue;
    for (std::size_t k = 0; k < call->clientHandles.size(); ++k) {
      if (call->clientHandles[k] == clientHandle) return call->values[k];
    }
  }
  return L"";
}

std::string DataCallbackSink::History(OPCHANDLE clientHandle) {
  std::lock_guard<std::mutex> guard(lock_);
  std::string history;
  for (const auto& call : calls_) {
    if (call.kind != Call::kDataChange) continue;
    for (std::size_t k = 0; k < call.clientHandles.size(); ++k) {
      if (call.clientHandles[k] != clientHandle) continue;
      if (!history.empty()) history += ' ';
      history += std::string(call.values[k].begin(), call.values[k].end()) + '/' + std::to_string(call.qualities[k]);
    }
  }
  return history;
}

void DataCallbackSink::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  calls_.clear();
}

HRESULT StreamSink::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IAdviseSink)) return E_NOINTERFACE;
  *object = static_cast<IAdviseSink*>(this);
  AddRef();
  return S_OK;
}

void StreamSink::OnDataChange(FORMATETC* format, STGMEDIUM* medium) {
  if (format == nullptr || medium == nullptr || medium->tymed != TYMED_HGLOBAL) return;
  const SIZE_T size = GlobalSize(medium->hGlobal);
  const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(medium->hGlobal));
  if (bytes == nullptr) return;
  Stream stream{format->cfFormat, std::vector<std::uint8_t>(bytes, bytes + size)};
  GlobalUnlock(medium->hGlobal);
  std::lock_guard<std::mutex> guard(lock_);
  streams_.push_back(std::move(stream));
}

std::vector<StreamSink::Stream> StreamSink::Streams() {
  std::lock_guard<std::mutex> guard(lock_);
  return streams_;
}

void StreamSink::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  streams_.clear();
}

ParsedStream ParseDataStream(const std::vector<std::uint8_t>& bytes, bool withTime) {
  ParsedStream parsed;
  auto word = [&](std::size_t at) {
    DWORD value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
    return value;
  };
  parsed.itemCount = word(4);
  parsed.clientGroup = word(8);
  parsed.transactionId = word(12);
  const std::size_t header = withTime ? 20 : 12;
  for (DWORD k = 0; k < parsed.itemCount; ++k) {
    const std::size_t at = 20 + k * header;
    StreamEntry entry{word(at), static_cast<WORD>(word(at + 8) & 0xFFFF), VT_EMPTY, L"", 0.0};
    const std::size_t offset = word(at + 4);
    if (offset + sizeof(VARIANT) > bytes.size()) break;
    VARIANT value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    entry.type = value.vt;
    if (value.vt == VT_BSTR) {
      const DWORD length = word(offset + sizeof(VARIANT));
      const std::size_t text = offset + sizeof(VARIANT) + 4;
      if (text + length <= bytes.size()) {
        entry.text.resize(length / 2);
        std::memcpy(entry.text.data(), bytes.data() + text, length & ~1u);
      }
    } else {
      VARIANT number;
      VariantInit(&number);
      if (SUCCEEDED(VariantChangeType(&number, &value, 0, VT_R8))) entry.number = number.dblVal;
    }
    parsed.items.push_back(entry);
  }
  return parsed;
}

CLIPFORMAT DataFormat() { return static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATA")); }
CLIPFORMAT DataTimeFormat() { return static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATATIME")); }
CLIPFORMAT WriteCompleteFormat() {
  return static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE"));
}

HRESULT AdviseDataCallback(IUnknown& group, IOPCDataCallback* sink, DWORD* cookie) {
  ComPtr<IConnectionPointContainer> container;
  HRESULT result = group.QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
  if (FAILED(result)) return result;
  ComPtr<IConnectionPoint> point;
  result = container->FindConnectionPoint(IID_IOPCDataCallback, point.Out());
  if (FAILED(result)) return result;
  return point->Advise(sink, cookie);
}

HRESULT UnadviseDataCallback(IUnknown& group, DWORD cookie) {
  ComPtr<IConnectionPointContainer> container;
  HRESULT result = group.QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
  if (FAILED(result)) return result;
  ComPtr<IConnectionPoint> point;
  result = container->FindConnectionPoint(IID_IOPCDataCallback, point.Out());
  if (FAILED(result)) return result;
  return point->Unadvise(cookie);
}

bool EndSubscription(IUnknown& group, DWORD cookie, DataCallbackSink& sink) {
  const bool unadvised = UnadviseDataCallback(group, cookie) == S_OK;
  return WaitFor([&] { return sink.references == 1; }, std::chrono::seconds(10)) && unadvised;
}

bool EndSubscription(IDataObject& data, std::initializer_list<DWORD> connections, StreamSink& sink) {
  bool unadvised = true;
  for (DWORD connection : connections) unadvised = data.DUnadvise(connection) == S_OK && unadvised;
  return WaitFor([&] { return sink.references == 1; }, std::chrono::seconds(10)) && unadvised;
}

}  // namespace vrt::testing
