// The image's advisory lock bytes: 'U' free, 'L' taken, no owner.
#pragma once

#include <cstdint>

namespace vrt {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void SleepMilliseconds(unsigned milliseconds) = 0;
};

inline constexpr int kLockLooks = 31;

// Waits while the byte holds 'L' (1 ms between looks, 31 looks at most),
// then takes it whatever it found: a holder that died is overridden after
// about 31 ms.
void TakeLockByte(std::uint8_t& lock, Sleeper& sleeper);
void ReleaseLockByte(std::uint8_t& lock);

// Holds a lock byte for a scope.
class LockByteGuard {
 public:
  LockByteGuard(std::uint8_t& lock, Sleeper& sleeper) : lock_(lock) { TakeLockByte(lock_, sleeper); }
  ~LockByteGuard() { ReleaseLockByte(lock_); }
  LockByteGuard(const LockByteGuard&) = delete;
  LockByteGuard& operator=(const LockByteGuard&) = delete;

 private:
  std::uint8_t& lock_;
};

}  // namespace vrt
