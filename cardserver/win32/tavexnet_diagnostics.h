// TavexNet's own interface beside the card interface: what commissioning
// tools and tests need to see of the network side. Card state belongs to the
// process, so every server object of a process sees the same cards.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

namespace vrt {

// {3C1F6A52-8D47-4B0E-A9C3-51E7D20B6F84}
inline constexpr IID IID_ITavexNetDiagnostics = {
    0x3C1F6A52, 0x8D47, 0x4B0E, {0xA9, 0xC3, 0x51, 0xE7, 0xD2, 0x0B, 0x6F, 0x84}};

struct ITavexNetDiagnostics : public IUnknown {
  // Frames sent and received, frames from the network refused as longer
  // than 256 bytes, and connections made, since the card was opened.
  virtual HRESULT STDMETHODCALLTYPE GetCounters(LONG card, LONG* sent, LONG* received, LONG* discarded,
                                                LONG* connects) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsConnected(LONG card, LONG* connected) = 0;
  // A copy of the last array handed to SendFrame for the card.
  virtual HRESULT STDMETHODCALLTYPE GetLastSentArray(LONG card, VARIANT* array) = 0;
  // Queues an array that the next ReceiveFrame returns as it is, before any
  // frame from the network: lets a tool check how the suite takes arrays a
  // card might deliver.
  virtual HRESULT STDMETHODCALLTYPE InjectReceiveArray(LONG card, VARIANT array) = 0;
};

}  // namespace vrt
