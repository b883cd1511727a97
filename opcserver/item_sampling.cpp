#include "item_sampling.h"

namespace vrt::opc {

std::uint32_t RevisedSamplingRate(std::uint32_t requested, std::uint32_t pollTimeMs, std::uint32_t threadSleepTime) {
  const std::uint32_t quickest = pollTimeMs > threadSleepTime ? pollTimeMs : threadSleepTime;
  return requested < quickest ? quickest : requested;
}

}  // namespace vrt::opc
