// Connection points. The server's one is for IOPCShutdown: one sink, handed
// to the poll thread as a marshalled stream and released by it.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <mutex>

#include "opc_da.h"
#include "sink_hand_over.h"

namespace vrt::opc {

class OpcServer;

class ShutdownConnectionPoint final : public IConnectionPoint {
 public:
  explicit ShutdownConnectionPoint(OpcServer* server) : server_(server) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

  // The poll thread, at the start of each cycle: takes a marshalled sink,
  // or lets go of one the client unadvised.
  void TakeOver();
  // The server going: every sink and stream released.
  void ReleaseAll();

 private:
  OpcServer* server_;
  std::mutex lock_;
  SinkHandOver<IOPCShutdown> pending_;  // offered by Advise, not yet taken
  IOPCShutdown* sink_ = nullptr;    // the poll thread's
  bool releaseRequested_ = false;
};

}  // namespace vrt::opc
