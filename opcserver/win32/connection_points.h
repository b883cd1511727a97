// Connection points: the server's for IOPCShutdown and each group's for
// IOPCDataCallback. One sink each, handed to the poll thread through a
// SinkSlot.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "opc_da.h"
#include "sink_slot.h"

namespace vrt::opc {

// The object a connection point belongs to.
class ConnectionPointOwner {
 public:
  virtual ~ConnectionPointOwner() = default;
  virtual ULONG OwnerAddRef() = 0;
  virtual ULONG OwnerRelease() = 0;
  virtual HRESULT OwnerQueryInterface(REFIID iid, void** object) = 0;
  // A sink came or went: the poll thread should see to it now.
  virtual void SinkChanged() = 0;
};

template <typename Interface>
class SinkConnectionPoint final : public IConnectionPoint {
 public:
  // `keepCallerSink`: the client's own pointer is kept for calls made in
  // the client's thread (IOPCAsyncIO2); otherwise only the poll thread's.
  SinkConnectionPoint(ConnectionPointOwner& owner, bool keepCallerSink)
      : owner_(owner), keepCallerSink_(keepCallerSink) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_.OwnerAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_.OwnerRelease(); }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override {
    if (pIID == nullptr) return E_POINTER;
    *pIID = __uuidof(Interface);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
    if (ppCPC == nullptr) return E_POINTER;
    return owner_.OwnerQueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
    if (pUnkSink == nullptr || pdwCookie == nullptr) return E_POINTER;
    *pdwCookie = 0;
    // A sink unadvised just now is held until the poll thread's next cycle
    // lets go of it: give it that cycle.
    for (int step = 0; step < kReleaseWaitSteps && slot_.ReleasePending(); ++step) {
      owner_.SinkChanged();
      Sleep(kReleaseWaitStep);
    }
    if (slot_.ReleasePending() || slot_.Advised()) return CONNECT_E_ADVISELIMIT;
    Interface* sink = nullptr;
    if (FAILED(pUnkSink->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(&sink))) || sink == nullptr) {
      return CONNECT_E_CANNOTCONNECT;
    }
    const HRESULT offered = slot_.Offer(sink, keepCallerSink_);
    sink->Release();
    if (FAILED(offered)) return offered;
    owner_.SinkChanged();
    *pdwCookie = kCookie;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override {
    if (dwCookie != kCookie) return CONNECT_E_NOCONNECTION;
    slot_.Withdraw();
    owner_.SinkChanged();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  SinkSlot<Interface>& Slot() { return slot_; }

 private:
  static constexpr DWORD kCookie = 1;
  static constexpr int kReleaseWaitSteps = 20;
  static constexpr DWORD kReleaseWaitStep = 50;

  ConnectionPointOwner& owner_;
  const bool keepCallerSink_;
  SinkSlot<Interface> slot_;
};

}  // namespace vrt::opc
