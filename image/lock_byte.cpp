#include "lock_byte.h"

#include "dit_format.h"
#include "shared_access.h"

namespace vrt {

void TakeLockByte(std::uint8_t& lock, Sleeper& sleeper) {
  for (int look = 1; look <= kLockLooks && SharedLoad(lock) == kLockTaken; ++look) {
    sleeper.SleepMilliseconds(1);
  }
  SharedStore(lock, kLockTaken);
}

void ReleaseLockByte(std::uint8_t& lock) { SharedStore(lock, kLockFree); }

}  // namespace vrt
