// How a client's sink reaches the poll thread. A caller in the
// multithreaded apartment shares it with the poll thread, which lives
// there too, so the pointer itself is handed over; a caller in another
// apartment hands over a marshalled stream, which the poll thread
// unmarshals into a proxy of its own.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace vrt::opc {

template <typename Interface>
class SinkHandOver {
 public:
  SinkHandOver() = default;
  SinkHandOver(const SinkHandOver&) = delete;
  SinkHandOver& operator=(const SinkHandOver&) = delete;
  ~SinkHandOver() { Discard(); }

  // On the client's thread: keeps `sink` (its own reference) for the poll thread.
  HRESULT Offer(Interface* sink) {
    Discard();
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA) {
      sink->AddRef();
      direct_ = sink;
      return S_OK;
    }
    const HRESULT result = CoMarshalInterThreadInterfaceInStream(__uuidof(Interface), sink, &stream_);
    if (FAILED(result)) stream_ = nullptr;
    return result;
  }
  bool Pending() const { return direct_ != nullptr || stream_ != nullptr; }

  // On the poll thread: the sink with one reference for the caller, or null.
  Interface* Take() {
    Interface* sink = direct_;
    direct_ = nullptr;
    if (stream_ != nullptr) {
      if (FAILED(CoGetInterfaceAndReleaseStream(stream_, __uuidof(Interface), reinterpret_cast<void**>(&sink)))) {
        sink = nullptr;
      }
      stream_ = nullptr;
    }
    return sink;
  }

  // Lets go of a sink that was never taken.
  void Discard() {
    if (direct_ != nullptr) direct_->Release();
    direct_ = nullptr;
    if (stream_ != nullptr) {
      LARGE_INTEGER start{};
      stream_->Seek(start, STREAM_SEEK_SET, nullptr);
      CoReleaseMarshalData(stream_);
      stream_->Release();
    }
    stream_ = nullptr;
  }

 private:
  Interface* direct_ = nullptr;
  IStream* stream_ = nullptr;
};

}  // namespace vrt::opc
