// How a client's sink reaches the poll thread. A caller in the
// multithreaded apartment shares it with the poll thread, which lives
// there too, so the pointer itself is handed over; a caller in another
// apartment hands over a marshalled stream, which the poll thread
// unmarshals into a proxy of its own.
//
// Every step here may run the client's code (its AddRef and Release, COM
// marshalling into the client's process), so none of them is ever taken
// with a lock held: a hand-over is prepared on the client's thread before
// any lock, moved in and out of its slot under the slot's lock (a pointer
// swap), and taken or discarded after the lock is let go.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace vrt::opc {

// One reference on a client's object, let go of when the holder goes.
template <typename Interface>
class ClientReference {
 public:
  ClientReference() = default;
  // Takes over the reference the caller holds on `object`.
  explicit ClientReference(Interface* object) : object_(object) {}
  ClientReference(const ClientReference&) = delete;
  ClientReference& operator=(const ClientReference&) = delete;
  ClientReference(ClientReference&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ClientReference& operator=(ClientReference&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~ClientReference() { Reset(); }
  Interface* Get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void Reset() {
    if (Interface* object = std::exchange(object_, nullptr)) object->Release();
  }

 private:
  Interface* object_ = nullptr;
};

template <typename Interface>
class SinkHandOver {
 public:
  SinkHandOver() = default;
  SinkHandOver(const SinkHandOver&) = delete;
  SinkHandOver& operator=(const SinkHandOver&) = delete;
  SinkHandOver(SinkHandOver&& other) noexcept
      : direct_(std::exchange(other.direct_, nullptr)), stream_(std::exchange(other.stream_, nullptr)) {}
  SinkHandOver& operator=(SinkHandOver&& other) noexcept {
    if (this != &other) {
      Discard();
      direct_ = std::exchange(other.direct_, nullptr);
      stream_ = std::exchange(other.stream_, nullptr);
    }
    return *this;
  }
  ~SinkHandOver() { Discard(); }

  // On the client's thread, with no lock held: a hand-over of `sink` (with
  // a reference of its own) for the poll thread.
  static HRESULT Prepare(Interface* sink, SinkHandOver* prepared) {
    SinkHandOver handOver;
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA) {
      sink->AddRef();
      handOver.direct_ = sink;
    } else {
      const HRESULT result = CoMarshalInterThreadInterfaceInStream(__uuidof(Interface), sink, &handOver.stream_);
      if (FAILED(result)) {
        handOver.stream_ = nullptr;
        return result;
      }
    }
    *prepared = std::move(handOver);
    return S_OK;
  }
  bool Pending() const { return direct_ != nullptr || stream_ != nullptr; }
  void Swap(SinkHandOver& other) noexcept {
    std::swap(direct_, other.direct_);
    std::swap(stream_, other.stream_);
  }

  // On the poll thread, with no lock held: the sink, or nothing when the
  // stream cannot be unmarshalled.
  ClientReference<Interface> Take() {
    Interface* sink = std::exchange(direct_, nullptr);
    if (IStream* stream = std::exchange(stream_, nullptr)) {
      if (FAILED(CoGetInterfaceAndReleaseStream(stream, __uuidof(Interface), reinterpret_cast<void**>(&sink)))) {
        sink = nullptr;
      }
    }
    return ClientReference<Interface>(sink);
  }

  // Lets go of a sink that was never taken; with no lock held.
  void Discard() {
    if (Interface* direct = std::exchange(direct_, nullptr)) direct->Release();
    if (IStream* stream = std::exchange(stream_, nullptr)) {
      LARGE_INTEGER start{};
      stream->Seek(start, STREAM_SEEK_SET, nullptr);
      CoReleaseMarshalData(stream);
      stream->Release();
    }
  }

 private:
  Interface* direct_ = nullptr;
  IStream* stream_ = nullptr;
};

}  // namespace vrt::opc
