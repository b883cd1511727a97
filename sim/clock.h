// Time as the simulator needs it: a steady clock to schedule replies and
// the host's local wall time to stamp log lines and run station clocks.
// Tests put a fake clock behind this interface.
#pragma once

#include <cstdint>

namespace vrt::sim {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds of a steady clock (arbitrary origin).
  virtual std::int64_t MonotonicMs() = 0;
  // The host's local date and time as milliseconds since 1970-01-01 00:00
  // local (see civil_time.h).
  virtual std::int64_t LocalMs() = 0;
};

class SystemClock : public Clock {
 public:
  std::int64_t MonotonicMs() override;
  std::int64_t LocalMs() override;
};

}  // namespace vrt::sim
