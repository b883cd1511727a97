// TavexNet: the card server over TCP. Each card n (0..3) is a connection to
// the endpoint in registry value Card<n> under
// HKLM\Software\Kalvento\Tavex\CardServer, or to 127.0.0.1:<5820 + n> when
// no card is configured there. Frames travel as their bytes. Sending and
// receiving never block for long; a connection that drops or was never made
// is tried again every half second.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "../../cardif/tavex_array.h"
#include "../../cardif/win32/tavex_card_server.h"
#include "../frame_assembler.h"
#include "tavexnet_diagnostics.h"

namespace {

using namespace vrt;

constexpr int kCards = 4;
constexpr DWORD kRetryMilliseconds = 500;
constexpr const char* kSettingsKey = "Software\\Kalvento\\Tavex\\CardServer";

HMODULE module = nullptr;
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

struct Card {
  bool configured = false;
  bool open = false;
  Endpoint endpoint;
  SOCKET socket = INVALID_SOCKET;
  bool connecting = false;
  bool connected = false;
  DWORD lastAttempt = 0;
  bool attempted = false;
  FrameAssembler assembler;
  LONG sent = 0;
  LONG received = 0;
  LONG connects = 0;
  std::vector<std::int32_t> lastSent;
  std::deque<std::vector<std::int32_t>> injected;
};

std::mutex cardsMutex;
Card cards[kCards];
bool settingsRead = false;

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

// Reads the card endpoints once per process (or after all servers went).
void ReadSettings() {
  if (settingsRead) return;
  settingsRead = true;
  int configured = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    for (int n = 0; n < kCards; ++n) {
      char value[128] = {};
      DWORD size = sizeof value - 1;
      DWORD type = 0;
      const std::string name = "Card" + std::to_string(n);
      if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
              ERROR_SUCCESS &&
          type == REG_SZ) {
        Endpoint endpoint;
        // A value that is present but unreadable leaves the card out.
        if (ParseEndpoint(value, &endpoint)) {
          cards[n].endpoint = endpoint;
          cards[n].configured = true;
        }
        ++configured;
      }
    }
    RegCloseKey(key);
  }
  if (configured == 0) {
    for (int n = 0; n < kCards; ++n) {
      cards[n].endpoint = DefaultEndpoint(n);
      cards[n].configured = true;
    }
  }
}

void Disconnect(Card& card) {
  if (card.socket != INVALID_SOCKET) closesocket(card.socket);
  card.socket = INVALID_SOCKET;
  card.connecting = false;
  card.connected = false;
  card.assembler.Reset();
}

void StartConnect(Card& card) {
  card.attempted = true;
  card.lastAttempt = GetTickCount();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* address = nullptr;
  const std::string port = std::to_string(card.endpoint.port);
  if (getaddrinfo(card.endpoint.host.c_str(), port.c_str(), &hints, &address) != 0 || address == nullptr) return;
  SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
  if (s == INVALID_SOCKET) {
    freeaddrinfo(address);
    return;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  const int result = connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen));
  freeaddrinfo(address);
  card.socket = s;
  if (result == 0) {
    card.connected = true;
    ++card.connects;
  } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
    card.connecting = true;
  } else {
    Disconnect(card);
  }
}

// Advances the connection without waiting; true when it is up.
bool EnsureConnected(Card& card) {
  if (card.connected) return true;
  if (card.connecting) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(card.socket, &writable);
    FD_SET(card.socket, &failed);
    timeval immediately{0, 0};
    if (select(0, nullptr, &writable, &failed, &immediately) > 0) {
      int error = 0;
      int length = sizeof error;
      getsockopt(card.socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
      if (FD_ISSET(card.socket, &writable) && error == 0) {
        card.connecting = false;
        card.connected = true;
        ++card.connects;
        return true;
      }
      Disconnect(card);
    }
    return false;
  }
  if (!card.attempted || GetTickCount() - card.lastAttempt >= kRetryMilliseconds) StartConnect(card);
  return card.connected;
}

// Takes whatever the network has delivered for the card.
void Pump(Card& card) {
  if (!EnsureConnected(card)) return;
  std::uint8_t buffer[1024];
  for (;;) {
    const int got = recv(card.socket, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
    if (got > 0) {
      card.assembler.Append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
    Disconnect(card);  // closed by the peer or broken: reconnect later
    return;
  }
}

bool SendAll(Card& card, const std::vector<std::uint8_t>& frame) {
  std::size_t done = 0;
  const DWORD start = GetTickCount();
  while (done < frame.size()) {
    const int put = send(card.socket, reinterpret_cast<const char*>(frame.data() + done),
                         static_cast<int>(frame.size() - done), 0);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK && GetTickCount() - start < 200) {
      fd_set writable;
      FD_ZERO(&writable);
      FD_SET(card.socket, &writable);
      timeval wait{0, 20000};
      select(0, nullptr, &writable, nullptr, &wait);
      continue;
    }
    Disconnect(card);
    return false;
  }
  return true;
}

Card* OpenCardFor(LONG id) {
  if (id < 0 || id >= kCards) return nullptr;
  return cards[id].open ? &cards[id] : nullptr;
}

bool ArrayOf(const VARIANT& value, std::vector<std::int32_t>* elements) {
  if (value.vt != (VT_ARRAY | VT_I4) || value.parray == nullptr || SafeArrayGetDim(value.parray) != 1) return false;
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(value.parray, 1, &upper)) ||
      lower != 0) {
    return false;
  }
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(value.parray, &data))) return false;
  const auto* first = static_cast<const std::int32_t*>(data);
  elements->assign(first, first + (upper + 1));
  SafeArrayUnaccessData(value.parray);
  return true;
}

HRESULT VariantOf(const std::vector<std::int32_t>& elements, VARIANT* value) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(elements.size()));
  if (array == nullptr) return E_OUTOFMEMORY;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) {
    SafeArrayDestroy(array);
    return E_FAIL;
  }
  if (!elements.empty()) std::memcpy(data, elements.data(), elements.size() * sizeof(std::int32_t));
  SafeArrayUnaccessData(array);
  value->vt = VT_ARRAY | VT_I4;
  value->parray = array;
  return S_OK;
}

class CardServer final : public ITavexCardServer, public ITavexNetDiagnostics {
 public:
  CardServer() { ++liveObjects; }
  ~CardServer() {
    if (--liveObjects == 0) {
      // The last server is gone: the cards close, as the card driver's do.
      std::lock_guard<std::mutex> lock(cardsMutex);
      for (Card& card : cards) {
        Disconnect(card);
        card = Card{};
      }
      settingsRead = false;
    }
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITavexCardServer)) {
      *object = static_cast<ITavexCardServer*>(this);
    } else if (IsEqualIID(iid, IID_ITavexNetDiagnostics)) {
      *object = static_cast<ITavexNetDiagnostics*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetServerVersion(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCardInfo(LONG*, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResetCard(LONG*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetCardCount(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(cardsMutex);
    ReadSettings();
    LONG configured = 0;
    for (const Card& card : cards) configured += card.configured ? 1 : 0;
    *count = configured;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE OpenCard(LONG* cardId, LONG* handle) override {
    if (cardId == nullptr || handle == nullptr) return E_POINTER;
    *handle = 0;
    if (*cardId < 0 || *cardId >= kCards) return E_INVALIDARG;
    StartWinsock();
    std::lock_guard<std::mutex> lock(cardsMutex);
    ReadSettings();
    Card& card = cards[*cardId];
    if (!card.configured) return E_FAIL;
    if (!card.open) {
      card.open = true;
      EnsureConnected(card);
    }
    *handle = *cardId + 1;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SendFrame(LONG* cardId, VARIANT frame, LONG* status) override {
    if (cardId == nullptr || status == nullptr) return E_POINTER;
    std::vector<std::int32_t> elements;
    if (!ArrayOf(frame, &elements)) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(cardsMutex);
    Card* card = OpenCardFor(*cardId);
    if (card == nullptr) return E_INVALIDARG;
    card->lastSent = elements;
    const std::vector<std::uint8_t> bytes = FrameOfSendArray(elements.data(), elements.size());
    if (bytes.empty()) return E_INVALIDARG;
    if (!EnsureConnected(*card)) {
      *status = 2;  // not connected
      return S_OK;
    }
    if (!SendAll(*card, bytes)) {
      *status = 3;  // the connection broke while sending
      return S_OK;
    }
    ++card->sent;
    *status = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ReceiveFrame(LONG* cardId, VARIANT* frame, LONG* status) override {
    if (cardId == nullptr || frame == nullptr || status == nullptr) return E_POINTER;
    VariantInit(frame);
    std::lock_guard<std::mutex> lock(cardsMutex);
    Card* card = OpenCardFor(*cardId);
    if (card == nullptr) return E_INVALIDARG;
    if (!card->injected.empty()) {
      const HRESULT result = VariantOf(card->injected.front(), frame);
      card->injected.pop_front();
      *status = 0;
      return result;
    }
    Pump(*card);
    std::optional<std::vector<std::uint8_t>> bytes = card->assembler.Next();
    if (!bytes) {
      *status = kNothingWaiting;
      return S_OK;
    }
    ++card->received;
    *status = 0;
    return VariantOf(ReceiveArrayFor(bytes->data(), bytes->size()), frame);
  }

  HRESULT STDMETHODCALLTYPE GetCounters(LONG cardId, LONG* sent, LONG* received, LONG* discarded,
                                        LONG* connects) override {
    if (sent == nullptr || received == nullptr || discarded == nullptr || connects == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(cardsMutex);
    if (cardId < 0 || cardId >= kCards) return E_INVALIDARG;
    const Card& card = cards[cardId];
    *sent = card.sent;
    *received = card.received;
    *discarded = static_cast<LONG>(card.assembler.Discarded());
    *connects = card.connects;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE IsConnected(LONG cardId, LONG* connected) override {
    if (connected == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(cardsMutex);
    Card* card = OpenCardFor(cardId);
    if (card == nullptr) return E_INVALIDARG;
    *connected = EnsureConnected(*card) ? 1 : 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetLastSentArray(LONG cardId, VARIANT* array) override {
    if (array == nullptr) return E_POINTER;
    VariantInit(array);
    std::lock_guard<std::mutex> lock(cardsMutex);
    if (cardId < 0 || cardId >= kCards) return E_INVALIDARG;
    return VariantOf(cards[cardId].lastSent, array);
  }

  HRESULT STDMETHODCALLTYPE InjectReceiveArray(LONG cardId, VARIANT array) override {
    std::lock_guard<std::mutex> lock(cardsMutex);
    Card* card = OpenCardFor(cardId);
    if (card == nullptr) return E_INVALIDARG;
    std::vector<std::int32_t> elements;
    if (array.vt == (VT_ARRAY | VT_I4)) {
      if (array.parray == nullptr || SafeArrayGetDim(array.parray) != 1) return E_INVALIDARG;
      LONG upper = -1;
      SafeArrayGetUBound(array.parray, 1, &upper);
      void* data = nullptr;
      if (FAILED(SafeArrayAccessData(array.parray, &data))) return E_INVALIDARG;
      const auto* first = static_cast<const std::int32_t*>(data);
      elements.assign(first, first + (upper + 1));
      SafeArrayUnaccessData(array.parray);
    } else {
      return E_INVALIDARG;
    }
    card->injected.push_back(std::move(elements));
    return S_OK;
  }

 private:
  std::atomic<long> references_{1};
};

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* server = new (std::nothrow) CardServer();
    if (server == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = server->QueryInterface(iid, object);
    server->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++serverLocks : --serverLocks;
    return S_OK;
  }
};

ClassFactory factory;

std::string ClsidKey() {
  wchar_t text[64] = {};
  StringFromGUID2(CLSID_TavexCardServer, text, 64);
  char narrow[64] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  return std::string("CLSID\\") + narrow;
}

bool SetString(HKEY root, const std::string& subkey, const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_TavexCardServer)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, object);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow(void) {
  return (liveObjects == 0 && serverLocks == 0) ? S_OK : S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer(void) {
  char path[MAX_PATH] = {};
  if (GetModuleFileNameA(module, path, MAX_PATH) == 0) return SELFREG_E_CLASS;
  const std::string key = ClsidKey();
  if (!SetString(HKEY_CLASSES_ROOT, key, nullptr, "Tavex network card server (TCP)") ||
      !SetString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", nullptr, path) ||
      !SetString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel", "Both")) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
  const LONG result = RegDeleteTreeA(HKEY_CLASSES_ROOT, ClsidKey().c_str());
  return (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) ? S_OK : SELFREG_E_CLASS;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
