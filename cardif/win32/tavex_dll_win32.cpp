// TavexDll: reaches the interface cards through the card server's COM
// object. One server pointer and one card table per process, used from the
// poll driver's main thread.
#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "../TavexDll.h"
#include "../tavex_array.h"
#include "tavex_card_server.h"

namespace {

using vrt::ITavexCardServer;

struct CardEntry {
  std::int16_t number = 0;
  LONG identifier = 0;  // its address is what the card server is given
  LONG handle = 0;      // 0 = not opened
};

constexpr int kCards = 4;
ITavexCardServer* server = nullptr;
CardEntry cards[kCards];

CardEntry* CardFor(std::int16_t cardNumber) {
  if (cardNumber < 0 || cardNumber >= kCards) return nullptr;
  return &cards[cardNumber];
}

void ShowFailure(const char* text) { MessageBoxA(nullptr, text, "M5820A", MB_OK | MB_ICONERROR); }

void ReleaseServer() {
  if (server != nullptr) {
    server->Release();
    server = nullptr;
  }
}

}  // namespace

extern "C" {

std::int32_t InitTavexInterface(void) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ReleaseServer();
  void* created = nullptr;
  const HRESULT result =
      CoCreateInstance(vrt::CLSID_TavexCardServer, nullptr, CLSCTX_ALL, vrt::IID_ITavexCardServer, &created);
  if (result == S_FALSE) {
    if (created != nullptr) static_cast<ITavexCardServer*>(created)->Release();
    ShowFailure("Failed to initialise Tavex PCI Interface!");
    return 0;
  }
  if (FAILED(result) || created == nullptr) {
    ShowFailure("Error creating the COM object!");
    return 0;
  }
  server = static_cast<ITavexCardServer*>(created);
  LONG count = 0;
  if (server->GetCardCount(&count) == 1) {
    ShowFailure("PDI Driver Error. Application will shut down M5820A");
    return 0;
  }
  if (count == 0) {
    ShowFailure("No M5820 Cards have been detected on this system. Application will shut down.");
    return 0;
  }
  return count;
}

std::int32_t InitTavexCard(std::int16_t cardNumber) {
  CardEntry* card = CardFor(cardNumber);
  if (card == nullptr) return 0;
  card->number = cardNumber;
  card->identifier = cardNumber;
  card->handle = 0;
  if (server == nullptr) return 0;
  LONG handle = 0;
  if (FAILED(server->OpenCard(&card->identifier, &handle)) || handle <= 0) return 0;
  card->handle = handle;
  return handle;
}

std::int16_t TavexSend(std::int16_t cardNumber, std::int16_t length, const std::uint8_t* frame) {
  CardEntry* card = CardFor(cardNumber);
  if (server == nullptr || card == nullptr || frame == nullptr || length < 2) return 1;
  const std::vector<std::int32_t> elements =
      vrt::SendArrayFor(frame, static_cast<std::size_t>(length), card->handle);
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(elements.size()));
  if (array == nullptr) return 1;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) {
    SafeArrayDestroy(array);
    return 1;
  }
  std::memcpy(data, elements.data(), elements.size() * sizeof(std::int32_t));
  SafeArrayUnaccessData(array);
  VARIANT frameVariant;
  VariantInit(&frameVariant);
  frameVariant.vt = VT_ARRAY | VT_I4;
  frameVariant.parray = array;
  LONG status = 0;
  const HRESULT result = server->SendFrame(&card->identifier, frameVariant, &status);
  SafeArrayDestroy(array);
  if (FAILED(result)) return 1;
  return status == 0 ? 0 : 2;
}

std::int16_t TavexReceive(std::int16_t cardNumber, std::int16_t* length, std::uint8_t* buffer) {
  if (server == nullptr) return vrt::kReceiveNoServer;
  CardEntry* card = CardFor(cardNumber);
  if (card == nullptr || length == nullptr || buffer == nullptr) {
    if (length != nullptr) *length = 0;
    return vrt::kReceiveNoServer;
  }
  *length = 0;
  VARIANT frameVariant;
  VariantInit(&frameVariant);
  LONG status = 0;
  const HRESULT result = server->ReceiveFrame(&card->identifier, &frameVariant, &status);
  std::int16_t outcome = vrt::kReceiveOk;
  if (FAILED(result)) {
    outcome = vrt::kReceiveCallFailed;
  } else if (status != 0) {
    outcome = static_cast<std::int16_t>(status);
  } else {
    LONG lower = 0;
    LONG upper = -1;
    SAFEARRAY* array = (frameVariant.vt == (VT_ARRAY | VT_I4)) ? frameVariant.parray : nullptr;
    void* data = nullptr;
    if (array == nullptr || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        lower != 0 || FAILED(SafeArrayGetUBound(array, 1, &upper)) || FAILED(SafeArrayAccessData(array, &data))) {
      outcome = vrt::kReceiveArrayTooShort;
    } else {
      std::uint16_t copied = 0;
      outcome = vrt::CopyReceiveArray(static_cast<const std::int32_t*>(data), upper, buffer, &copied);
      SafeArrayUnaccessData(array);
      *length = static_cast<std::int16_t>(copied);
    }
  }
  VariantClear(&frameVariant);
  return outcome;
}

void CloseTavexCard(std::int16_t) {}

void ReleaseTavexInterface(void) {
  ReleaseServer();
  CoUninitialize();
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // Unloaded while the server is still held: let it go. At process exit
  // (reserved set) the server's own DLL may already be gone, so leave it.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) ReleaseServer();
  return TRUE;
}
