// The card server's COM class and its custom interface, slot by slot. The
// card interface library calls GetCardCount, OpenCard, SendFrame and
// ReceiveFrame; the other slots belong to the card maker's tools and are
// never called by the suite.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

namespace vrt {

// {7E2B9D14-6A3C-4E81-9F05-B2C4D8E1A637}
inline constexpr CLSID CLSID_TavexCardServer = {
    0x7E2B9D14, 0x6A3C, 0x4E81, {0x9F, 0x05, 0xB2, 0xC4, 0xD8, 0xE1, 0xA6, 0x37}};
// {7E2B9D13-6A3C-4E81-9F05-B2C4D8E1A637}
inline constexpr IID IID_ITavexCardServer = {
    0x7E2B9D13, 0x6A3C, 0x4E81, {0x9F, 0x05, 0xB2, 0xC4, 0xD8, 0xE1, 0xA6, 0x37}};

struct ITavexCardServer : public IUnknown {
  // Slot 3: version of the card server (not called by the suite).
  virtual HRESULT STDMETHODCALLTYPE GetServerVersion(LONG* version) = 0;
  // Slot 4: number of cards; returns 1 (S_FALSE) when the card driver fails.
  virtual HRESULT STDMETHODCALLTYPE GetCardCount(LONG* count) = 0;
  // Slot 5: card diagnostics word (not called by the suite).
  virtual HRESULT STDMETHODCALLTYPE GetCardInfo(LONG* cardId, LONG* info) = 0;
  // Slot 6: opens a card; the handle is greater than 0 when it is open.
  virtual HRESULT STDMETHODCALLTYPE OpenCard(LONG* cardId, LONG* handle) = 0;
  // Slot 7: resets a card (not called by the suite).
  virtual HRESULT STDMETHODCALLTYPE ResetCard(LONG* cardId) = 0;
  // Slot 8: sends a frame given as a one-dimensional array of 32-bit integers.
  virtual HRESULT STDMETHODCALLTYPE SendFrame(LONG* cardId, VARIANT frame, LONG* status) = 0;
  // Slot 9: returns the next received frame; status 1 when none is waiting.
  virtual HRESULT STDMETHODCALLTYPE ReceiveFrame(LONG* cardId, VARIANT* frame, LONG* status) = 0;
};

// The card server's receive status when no frame is waiting.
inline constexpr LONG kNothingWaiting = 1;

}  // namespace vrt
