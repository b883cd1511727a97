// The group's IDataObject: DA 1.0 clients advise an IAdviseSink for the
// DATA, DATATIME and WRITECOMPLETE streams; nothing else of it is used.
#include <windows.h>

#include "opc_group.h"

namespace vrt::opc {

namespace {

constexpr int kReleaseWaitSteps = 20;
constexpr DWORD kReleaseWaitStep = 50;

}  // namespace

int OpcGroup::FormatIndex(CLIPFORMAT format) const {
  for (int k = 0; k < kFormats; ++k) {
    if (formats_[k] != 0 && formats_[k] == format) return k;
  }
  return -1;
}

HRESULT OpcGroup::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT OpcGroup::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT OpcGroup::QueryGetData(FORMATETC*) { return E_NOTIMPL; }
HRESULT OpcGroup::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
HRESULT OpcGroup::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
HRESULT OpcGroup::EnumFormatEtc(DWORD, IEnumFORMATETC**) { return E_NOTIMPL; }
HRESULT OpcGroup::EnumDAdvise(IEnumSTATDATA**) { return E_NOTIMPL; }

HRESULT OpcGroup::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) {
  if (pformatetc == nullptr || pAdvSink == nullptr || pdwConnection == nullptr) return E_POINTER;
  *pdwConnection = 0;
  const int format = FormatIndex(pformatetc->cfFormat);
  if (format < 0) return DV_E_FORMATETC;
  SinkSlot<IAdviseSink>& slot = adviseSinks_[format];
  // A sink unadvised just now is let go of by the poll thread's next cycle.
  for (int step = 0; step < kReleaseWaitSteps && slot.ReleasePending(); ++step) {
    MakeDue();
    Sleep(kReleaseWaitStep);
  }
  if (slot.Advised() || slot.ReleasePending()) return CONNECT_E_ADVISELIMIT;
  IAdviseSink* sink = nullptr;
  const HRESULT queried = pAdvSink->QueryInterface(IID_IAdviseSink, reinterpret_cast<void**>(&sink));
  if (FAILED(queried)) return queried;
  const HRESULT offered = slot.Offer(sink, false);
  sink->Release();
  if (FAILED(offered)) return offered;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (format == kFormatData) dataAdvf_ = advf;
    if (format == kFormatDataTime) dataTimeAdvf_ = advf;
  }
  *pdwConnection = formats_[format];
  MakeDue();
  return S_OK;
}

HRESULT OpcGroup::DUnadvise(DWORD dwConnection) {
  const int format = FormatIndex(static_cast<CLIPFORMAT>(dwConnection));
  if (format < 0 || dwConnection > 0xFFFF) return OLE_E_NOCONNECTION;
  // The poll thread's copy goes too: a client that unadvised is not called again.
  if (!adviseSinks_[format].Withdraw()) return OLE_E_NOCONNECTION;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (format == kFormatData) dataAdvf_ = 0;
    if (format == kFormatDataTime) dataTimeAdvf_ = 0;
  }
  MakeDue();
  return S_OK;
}

}  // namespace vrt::opc
