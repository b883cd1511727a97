// A clock the test moves by hand.
#pragma once

#include "civil_time.h"
#include "clock.h"

namespace vrt::sim::testing {

class FakeClock : public Clock {
 public:
  explicit FakeClock(CivilTime local = CivilTime{2024, 5, 1, 8, 0, 0, 0})
      : localMs_(MillisecondsFromCivil(local)) {}
  std::int64_t MonotonicMs() override { return monotonicMs_; }
  std::int64_t LocalMs() override { return localMs_; }
  void Advance(std::int64_t ms) {
    monotonicMs_ += ms;
    localMs_ += ms;
  }

 private:
  std::int64_t monotonicMs_ = 1000;
  std::int64_t localMs_;
};

}  // namespace vrt::sim::testing
