// One client sink that the poll thread calls: offered by a client thread
// (Advise, DAdvise), taken over by the poll thread at its next cycle, and
// let go of by the poll thread when the client unadvises, so that a client
// that unadvised is never called again through an old copy.
#pragma once

#include <windows.h>

#include <mutex>

#include "sink_hand_over.h"

namespace vrt::opc {

template <typename Interface>
class SinkSlot {
 public:
  SinkSlot() = default;
  SinkSlot(const SinkSlot&) = delete;
  SinkSlot& operator=(const SinkSlot&) = delete;
  ~SinkSlot() { ReleaseAll(); }

  // Whether a sink is advised (offered, or held and not unadvised).
  bool Advised() {
    std::lock_guard<std::mutex> guard(lock_);
    return advised_;
  }
  // Whether the poll thread still holds a sink the client let go of.
  bool ReleasePending() {
    std::lock_guard<std::mutex> guard(lock_);
    return releaseRequested_;
  }

  // On a client thread. `keepCallerSink`: the caller's own pointer is kept
  // too, for calls made in the client's thread.
  HRESULT Offer(Interface* sink, bool keepCallerSink) {
    std::lock_guard<std::mutex> guard(lock_);
    if (advised_) return CONNECT_E_ADVISELIMIT;
    const HRESULT offered = pending_.Offer(sink);
    if (FAILED(offered)) return offered;
    if (keepCallerSink) {
      sink->AddRef();
      callerSink_ = sink;
    }
    advised_ = true;
    return S_OK;
  }
  // On a client thread: false when nothing was advised.
  bool Withdraw() {
    std::lock_guard<std::mutex> guard(lock_);
    const bool was = advised_;
    pending_.Discard();
    if (pollSink_ != nullptr) releaseRequested_ = true;
    if (callerSink_ != nullptr) callerSink_->Release();
    callerSink_ = nullptr;
    advised_ = false;
    return was;
  }
  // The caller-side sink with a reference for the caller, or null.
  Interface* CallerSink() {
    std::lock_guard<std::mutex> guard(lock_);
    if (callerSink_ != nullptr) callerSink_->AddRef();
    return callerSink_;
  }

  // On the poll thread, at the start of a cycle.
  void TakeOver() {
    std::lock_guard<std::mutex> guard(lock_);
    if (releaseRequested_) {
      if (pollSink_ != nullptr) pollSink_->Release();
      pollSink_ = nullptr;
      releaseRequested_ = false;
    }
    if (pending_.Pending()) {
      if (pollSink_ != nullptr) pollSink_->Release();
      pollSink_ = pending_.Take();
    }
  }
  // The poll thread's sink; only the poll thread changes it.
  Interface* PollSink() const { return pollSink_; }

  // The owner going: every sink and stream let go of.
  void ReleaseAll() {
    std::lock_guard<std::mutex> guard(lock_);
    pending_.Discard();
    if (pollSink_ != nullptr) pollSink_->Release();
    pollSink_ = nullptr;
    if (callerSink_ != nullptr) callerSink_->Release();
    callerSink_ = nullptr;
    releaseRequested_ = false;
    advised_ = false;
  }

 private:
  std::mutex lock_;
  SinkHandOver<Interface> pending_;
  Interface* pollSink_ = nullptr;
  Interface* callerSink_ = nullptr;
  bool releaseRequested_ = false;
  bool advised_ = false;
};

}  // namespace vrt::opc
