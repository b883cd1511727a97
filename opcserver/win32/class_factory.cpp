// The class factory and the two exports that hand it out and decide about
// unloading.
#include <windows.h>

#include <atomic>
#include <new>

#include "opc_server.h"
#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

// One object per DllGetClassObject call; it counts neither as a live server
// nor as a lock.
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long count = --references_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* server = new (std::nothrow) OpcServer();
    if (server == nullptr) return E_OUTOFMEMORY;
    // The reference held here keeps the server while it starts and is queried.
    server->AddRef();
    if (!server->Start()) {
      server->Release();
      return E_UNEXPECTED;
    }
    const HRESULT result = server->QueryInterface(iid, object);
    if (SUCCEEDED(result)) {
      ++Module().liveServers;
      server->CountAsLive();
    }
    server->Release();
    return result;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++Module().locks;
    } else {
      --Module().locks;
    }
    return S_OK;
  }

 private:
  std::atomic<long> references_{0};
};

}  // namespace

}  // namespace vrt::opc

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, vrt::opc::CLSID_VrtOpcServer)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) vrt::opc::ClassFactory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT result = factory->QueryInterface(riid, ppv);
  if (FAILED(result)) delete factory;
  return result;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow(void) {
  const vrt::opc::OpcModule& module = vrt::opc::Module();
  return module.liveServers == 0 && module.locks == 0 ? S_OK : S_FALSE;
}
