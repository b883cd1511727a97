/* The IUnknown proxy entry points that rpcrt4 exports and widl's
   interpreted proxies name, which the mingw-w64 headers do not declare.
   Included before the generated proxy code. */
#include <objbase.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);
