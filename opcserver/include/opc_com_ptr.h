// An owning interface pointer for the suite's OPC clients (the tools and the
// tests): released when it goes.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace vrt {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = other.pointer_;
      other.pointer_ = nullptr;
    }
    return *this;
  }
  Interface* operator->() const { return pointer_; }
  Interface* Get() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  Interface** Out() {
    Reset();
    return &pointer_;
  }
  // For the calls that hand an interface out through IUnknown** or void**.
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  IUnknown** OutUnknown() { return reinterpret_cast<IUnknown**>(Out()); }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  template <typename Other>
  HRESULT As(ComPtr<Other>& other) const {
    return pointer_->QueryInterface(__uuidof(Other), other.OutVoid());
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace vrt
