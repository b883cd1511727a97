#include "connection_points.h"

#include "opc_server.h"
#include "opc_results.h"

namespace vrt::opc {

namespace {

constexpr DWORD kCookie = 1;
constexpr int kReleaseWaitSteps = 20;
constexpr DWORD kReleaseWaitStep = 50;

}  // namespace

HRESULT ShutdownConnectionPoint::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint)) return E_NOINTERFACE;
  *object = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

ULONG ShutdownConnectionPoint::AddRef() { return server_->AddRef(); }
ULONG ShutdownConnectionPoint::Release() { return server_->Release(); }

HRESULT ShutdownConnectionPoint::GetConnectionInterface(IID* pIID) {
  if (pIID == nullptr) return E_POINTER;
  *pIID = IID_IOPCShutdown;
  return S_OK;
}

HRESULT ShutdownConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (ppCPC == nullptr) return E_POINTER;
  return server_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
}

HRESULT ShutdownConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  if (pUnkSink == nullptr || pdwCookie == nullptr) return E_POINTER;
  *pdwCookie = 0;
  // A sink unadvised just now is still held until the poll thread's next
  // cycle lets go of it: give it that cycle.
  for (int step = 0; step < kReleaseWaitSteps; ++step) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (!releaseRequested_) break;
    }
    server_->WakePollThread();
    Sleep(kReleaseWaitStep);
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (pending_.Pending() || sink_ != nullptr) return CONNECT_E_ADVISELIMIT;
  IOPCShutdown* shutdown = nullptr;
  if (FAILED(pUnkSink->QueryInterface(IID_IOPCShutdown, reinterpret_cast<void**>(&shutdown))) ||
      shutdown == nullptr) {
    return CONNECT_E_CANNOTCONNECT;
  }
  const HRESULT offered = pending_.Offer(shutdown);
  shutdown->Release();
  if (FAILED(offered)) return offered;
  server_->WakePollThread();
  *pdwCookie = kCookie;
  return S_OK;
}

HRESULT ShutdownConnectionPoint::Unadvise(DWORD dwCookie) {
  if (dwCookie != kCookie) return CONNECT_E_NOCONNECTION;
  std::lock_guard<std::mutex> guard(lock_);
  pending_.Discard();
  if (sink_ != nullptr) {
    releaseRequested_ = true;
    server_->WakePollThread();
  }
  return S_OK;
}

HRESULT ShutdownConnectionPoint::EnumConnections(IEnumConnections**) { return E_NOTIMPL; }

void ShutdownConnectionPoint::TakeOver() {
  std::lock_guard<std::mutex> guard(lock_);
  if (pending_.Pending()) sink_ = pending_.Take();
  if (releaseRequested_) {
    if (sink_ != nullptr) sink_->Release();
    sink_ = nullptr;
    releaseRequested_ = false;
  }
}

void ShutdownConnectionPoint::ReleaseAll() {
  std::lock_guard<std::mutex> guard(lock_);
  pending_.Discard();
  if (sink_ != nullptr) sink_->Release();
  sink_ = nullptr;
  releaseRequested_ = false;
}

}  // namespace vrt::opc
