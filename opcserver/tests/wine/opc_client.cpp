#include "opc_client.h"

#include "probe_process.h"

namespace vrt::testing {

std::string ServerLibrary() { return ProgramDirectory() + "\\VRTOPC.dll"; }

int RunRegsvr32(bool unregister) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string exe = std::string(system) + "\\regsvr32.exe";
  std::string command = "\"" + exe + "\" /s " + (unregister ? "/u " : "") + "\"" + ServerLibrary() + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

HRESULT CreateServer(ComPtr<IOPCServer>& server) {
  CLSID clsid{};
  const HRESULT found = CLSIDFromProgID(L"Kalvento.Tavex", &clsid);
  if (FAILED(found)) return found;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, server.OutVoid());
}

std::optional<std::string> ReadString(HKEY root, const std::string& key, const char* name) {
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return std::nullopt;
  const LONG result = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  return std::string(value);
}

std::optional<DWORD> ReadDword(HKEY root, const std::string& key, const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return std::nullopt;
  const LONG result = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
  return value;
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
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

}  // namespace vrt::testing
