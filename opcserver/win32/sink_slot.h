// One client sink that the poll thread calls: offered by a client thread
// (Advise, DAdvise), taken over by the poll thread at its next cycle, and
// let go of by the poll thread when the client unadvises, so that a client
// that unadvised is never called again through an old copy.
//
// The slot's lock is the lowest of the server's locks and guards pointer
// swaps only: the client's AddRef and Release, marshalling and
// unmarshalling all happen before it is taken or after it is let go.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <new>

#include "sink_hand_over.h"

namespace vrt::opc {

// What a slot held, taken out to be let go of elsewhere: on the poll
// thread, never on the thread of a client's last Release (the COM runtime
// may be busy with that very client there).
class HeldSinks {
 public:
  virtual ~HeldSinks() = default;
};

template <typename Interface>
class SinkSlot {
 public:
  // The client's own pointer, shared by the calls made in the client's
  // thread: whoever drops the last copy lets go of it, outside every lock.
  using CallerSink = std::shared_ptr<ClientReference<Interface>>;

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
    SinkHandOver<Interface> handOver;
    const HRESULT prepared = SinkHandOver<Interface>::Prepare(sink, &handOver);
    if (FAILED(prepared)) return prepared;
    CallerSink caller;
    if (keepCallerSink) {
      try {
        caller = std::make_shared<ClientReference<Interface>>();
      } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
      }
      sink->AddRef();
      *caller = ClientReference<Interface>(sink);
    }
    bool refused;
    {
      std::lock_guard<std::mutex> guard(lock_);
      refused = advised_ || releaseRequested_;
      if (!refused) {
        // Swapped, so that whatever the slot held goes after the lock.
        pending_.Swap(handOver);
        callerSink_.swap(caller);
        advised_ = true;
      }
    }
    // A refused offer's hand-over and caller sink go here, after the lock.
    return refused ? CONNECT_E_ADVISELIMIT : S_OK;
  }
  // On a client thread: false when nothing was advised.
  bool Withdraw() {
    SinkHandOver<Interface> untaken;
    CallerSink caller;
    bool was;
    {
      std::lock_guard<std::mutex> guard(lock_);
      was = advised_;
      untaken = std::move(pending_);
      caller.swap(callerSink_);
      if (pollSink_ || taking_) releaseRequested_ = true;
      advised_ = false;
    }
    return was;
  }
  // The caller-side sink, held for the caller, or null.
  CallerSink Caller() {
    std::lock_guard<std::mutex> guard(lock_);
    return callerSink_;
  }

  // On the poll thread, at the start of a cycle.
  void TakeOver() {
    ClientReference<Interface> released;
    SinkHandOver<Interface> offered;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (releaseRequested_) {
        released = std::move(pollSink_);
        releaseRequested_ = false;
      }
      if (pending_.Pending()) {
        offered = std::move(pending_);
        taking_ = true;
      }
    }
    released.Reset();
    if (!offered.Pending()) return;
    ClientReference<Interface> taken = offered.Take();
    ClientReference<Interface> replaced;
    ClientReference<Interface> withdrawn;
    {
      std::lock_guard<std::mutex> guard(lock_);
      taking_ = false;
      replaced = std::move(pollSink_);
      if (releaseRequested_) {
        // The client let go while its sink was being unmarshalled.
        releaseRequested_ = false;
        withdrawn = std::move(taken);
      } else {
        pollSink_ = std::move(taken);
      }
    }
  }
  // The poll thread's sink; only the poll thread changes it, so it may
  // read it without the lock.
  Interface* PollSink() const { return pollSink_.Get(); }

  // The owner going: everything the slot holds, to be let go of when the
  // result goes (the caller decides on which thread).
  std::unique_ptr<HeldSinks> TakeAll() {
    auto held = std::make_unique<Held>();
    {
      std::lock_guard<std::mutex> guard(lock_);
      held->untaken = std::move(pending_);
      held->poll = std::move(pollSink_);
      held->caller.swap(callerSink_);
      releaseRequested_ = false;
      advised_ = false;
    }
    return held;
  }

  // The owner going: every sink and stream let go of here, after the lock.
  void ReleaseAll() { TakeAll(); }

 private:
  struct Held final : HeldSinks {
    SinkHandOver<Interface> untaken;
    ClientReference<Interface> poll;
    CallerSink caller;
  };

  std::mutex lock_;
  SinkHandOver<Interface> pending_;
  ClientReference<Interface> pollSink_;
  CallerSink callerSink_;
  bool taking_ = false;  // the poll thread is unmarshalling a sink it took from pending_
  bool releaseRequested_ = false;
  bool advised_ = false;
};

}  // namespace vrt::opc
