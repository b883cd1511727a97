// What the OPC tests do as a client: create the server by its ProgID,
// register the library with regsvr32, hold COM pointers, read registry
// values, and a shutdown sink that counts its references.
#pragma once

#include <windows.h>
#include <olectl.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "opc_com_ptr.h"
#include "opc_da.h"
#include "win32_util.h"

namespace vrt::testing {

using vrt::ComPtr;

// COM in the multithreaded apartment for the test's lifetime.
struct ComApartment {
  ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComApartment() { CoUninitialize(); }
};

// Full path of VRTOPC.dll beside the test program.
std::string ServerLibrary();
// Runs regsvr32 (with /u to unregister) on the library; its exit code.
int RunRegsvr32(bool unregister, const std::string& library = ServerLibrary());
// Creates the server as every OPC client does (CLSCTX_LOCAL_SERVER: in the
// surrogate process).
HRESULT CreateServer(ComPtr<IOPCServer>& server, DWORD context = CLSCTX_INPROC_SERVER);

// Registry values are read with the suite's ReadString, ReadCount and
// KeyExists (win32_util.h).
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

// An IOPCDataCallback that records every call. `during`, when set, runs
// inside each OnDataChange (on the server's poll thread).
class DataCallbackSink final : public IOPCDataCallback {
 public:
  struct Call {
    enum Kind { kDataChange, kReadComplete, kWriteComplete } kind;
    DWORD transactionId;
    OPCHANDLE group;
    HRESULT masterQuality;
    HRESULT masterError;
    DWORD threadId;
    std::vector<OPCHANDLE> clientHandles;
    std::vector<std::wstring> values;  // as text
    std::vector<WORD> qualities;
    std::vector<HRESULT> errors;
    ULONGLONG tick = 0;  // GetTickCount64 when it came
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                            OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

  std::vector<Call> Calls();
  std::size_t CallCount();
  // The latest value delivered for a client handle by OnDataChange ("" when none).
  std::wstring Latest(OPCHANDLE clientHandle);
  // Every value the updates gave the item, oldest first, each with its
  // quality ("1234/192 1333/24"): what a failure message shows.
  std::string History(OPCHANDLE clientHandle);
  void Clear();

  std::atomic<long> references{1};
  std::function<void()> during;

 private:
  void Record(Call call);
  std::mutex lock_;
  std::vector<Call> calls_;
};

// An IAdviseSink that keeps the DA 1.0 streams it is given.
class StreamSink final : public IAdviseSink {
 public:
  struct Stream {
    CLIPFORMAT format;
    std::vector<std::uint8_t> bytes;
  };
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
  void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override;
  void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
  void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
  void STDMETHODCALLTYPE OnSave() override {}
  void STDMETHODCALLTYPE OnClose() override {}

  std::vector<Stream> Streams();
  void Clear();
  std::atomic<long> references{1};

 private:
  std::mutex lock_;
  std::vector<Stream> streams_;
};

// One item of a DA 1.0 data stream, as far as the tests look at it.
struct StreamEntry {
  OPCHANDLE clientHandle;
  WORD quality;
  VARTYPE type;
  std::wstring text;  // VT_BSTR values
  double number;      // other values
};
struct ParsedStream {
  DWORD itemCount = 0;
  OPCHANDLE clientGroup = 0;
  DWORD transactionId = 0;
  std::vector<StreamEntry> items;
};
// Reads a DATA (`withTime` false) or DATATIME stream of this build's layout.
ParsedStream ParseDataStream(const std::vector<std::uint8_t>& bytes, bool withTime);

// The three stream formats.
CLIPFORMAT DataFormat();
CLIPFORMAT DataTimeFormat();
CLIPFORMAT WriteCompleteFormat();

// Advises `sink` on the group's IOPCDataCallback connection point.
HRESULT AdviseDataCallback(IUnknown& group, IOPCDataCallback* sink, DWORD* cookie);
HRESULT UnadviseDataCallback(IUnknown& group, DWORD cookie);

// A sink on the test's stack must outlive the server's hold on it: these
// end the subscriptions and wait until the server has let go of the sink.
// False when an unadvise failed or the sink was still held after 10 s.
bool EndSubscription(IUnknown& group, DWORD cookie, DataCallbackSink& sink);
bool EndSubscription(IDataObject& data, std::initializer_list<DWORD> connections, StreamSink& sink);

}  // namespace vrt::testing
