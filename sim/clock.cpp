#include "clock.h"

#include <chrono>
#include <ctime>
#include <mutex>

#include "civil_time.h"

namespace vrt::sim {

std::int64_t SystemClock::MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t SystemClock::LocalMs() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millisecond = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  // std::localtime hands out one shared buffer.
  static std::mutex guard;
  CivilTime time;
  {
    std::lock_guard<std::mutex> lock(guard);
    const std::tm* local = std::localtime(&seconds);
    if (local == nullptr) return duration_cast<milliseconds>(now.time_since_epoch()).count();
    time = CivilTime{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour,
                     local->tm_min, local->tm_sec > 59 ? 59 : local->tm_sec, 0};
  }
  time.millisecond = static_cast<int>(millisecond < 0 ? millisecond + 1000 : millisecond);
  return MillisecondsFromCivil(time);
}

}  // namespace vrt::sim
