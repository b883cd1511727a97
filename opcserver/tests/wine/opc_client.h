// What the OPC tests do as a client: create the server by its ProgID,
// register the library with regsvr32, hold COM pointers, read registry
// values, and a shutdown sink that counts its references.
#pragma once

#include <windows.h>
#include <olectl.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "opc_da.h"

namespace vrt::testing {

// An owning interface pointer.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
  Interface* operator->() const { return pointer_; }
  Interface* Get() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  Interface** Out() {
    Reset();
    return &pointer_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  IUnknown** OutUnknown() { return reinterpret_cast<IUnknown**>(Out()); }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  template <typename Other>
  HRESULT As(ComPtr<Other>& other) const {
    return pointer_->QueryInterface(__uuidof(Other), other.OutVoid());
  }

 private:
  Interface* pointer_ = nullptr;
};

// COM in the multithreaded apartment for the test's lifetime.
struct ComApartment {
  ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComApartment() { CoUninitialize(); }
};

// Full path of VRTOPC.dll beside the test program.
std::string ServerLibrary();
// Runs regsvr32 (with /u to unregister) on the library; its exit code.
int RunRegsvr32(bool unregister);
// Creates the server as every OPC client does.
HRESULT CreateServer(ComPtr<IOPCServer>& server);

std::optional<std::string> ReadString(HKEY root, const std::string& key, const char* name);
std::optional<DWORD> ReadDword(HKEY root, const std::string& key, const char* name);
bool KeyExists(HKEY root, const std::string& key);
void WriteDword(HKEY root, const std::string& key, const char* name, DWORD value);

// Adds a group and returns its item management interface.
HRESULT AddGroup(IOPCServer& server, const wchar_t* name, ComPtr<IOPCItemMgt>& items, OPCHANDLE* handle = nullptr,
                 BOOL active = TRUE, DWORD rate = 100);

struct AddedItem {
  HRESULT error;
  OPCHANDLE handle;
  VARTYPE canonicalType;
};
// Adds items by ID (client handles 1, 2, ...), active unless said.
std::vector<AddedItem> AddItems(IOPCItemMgt& items, const std::vector<std::wstring>& ids, BOOL active = TRUE,
                                VARTYPE requested = VT_EMPTY, HRESULT* overall = nullptr);

// One synchronous read of one item.
struct ReadResult {
  HRESULT call = E_FAIL;
  HRESULT error = E_FAIL;
  WORD quality = 0;
  std::wstring text;   // the value as text (VariantChangeType to VT_BSTR)
  VARTYPE type = VT_EMPTY;
  double number = 0.0;
  ULONGLONG timeStamp = 0;  // FILETIME ticks
};
ReadResult ReadItem(IOPCSyncIO& io, OPCHANDLE handle, OPCDATASOURCE source);
HRESULT WriteItem(IOPCSyncIO& io, OPCHANDLE handle, const VARIANT& value, HRESULT* error = nullptr);

// An IOPCShutdown sink that counts its references.
class ShutdownSink final : public IOPCShutdown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
  HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) override { return S_OK; }
  std::atomic<long> references{1};
};

}  // namespace vrt::testing
