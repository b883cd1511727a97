// Sinks of the suite's OPC clients. SubscriptionSink, for clients that only
// subscribe: an IOPCDataCallback, counted with
// interlocked operations and deleted with its last Release, whose
// completions of asynchronous calls (which such a client never makes)
// simply answer S_OK. A client derives from it and writes OnDataChange.
#pragma once

#include "opc_da.h"

// A client's sink object of one interface, counted with interlocked
// operations and deleted with its last Release.
template <typename Interface>
class ClientSink : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(Interface))) return E_NOINTERFACE;
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  // The references held, the creator's first one included.
  long References() const { return references_; }

 protected:
  // Deleted through Release only; the creator holds the first reference.
  virtual ~ClientSink() = default;

 private:
  LONG references_ = 1;
};

class SubscriptionSink : public ClientSink<IOPCDataCallback> {
 public:
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                           FILETIME*, HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
};
