// An item's own sampling (the DA 3.0 item sampling interface): how often
// the item is read from the driver's image, apart from its group's update
// rate, and the values sampled between two of the group's updates while
// buffering is on. The COM side keeps one of each per item and sends what
// a buffer holds, oldest first, in the group's next update.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace vrt::opc {

// An item without a rate of its own (Get/ClearItemSamplingRate).
inline constexpr std::uint32_t kRateNotSet = 0xC0040405;  // OPC_E_RATENOTSET
// The entry of the oldest value kept after the buffer dropped older ones.
inline constexpr std::uint32_t kDataQueueOverflow = 0x00040404;  // OPC_S_DATAQUEUEOVERFLOW

// The rate an item gets, in milliseconds: never quicker than its poll record
// is polled (the image holds nothing newer in between; 0: not known) nor
// than the poll thread looks at its groups. 0 asks for the quickest.
std::uint32_t RevisedSamplingRate(std::uint32_t requested, std::uint32_t pollTimeMs, std::uint32_t threadSleepTime);

// Values sampled between two updates, oldest first, at most `capacity`.
// When it is full the oldest is dropped, and what is taken next says so
// (the first entry delivered then carries the overflow).
template <typename Sample>
class SampleBuffer {
 public:
  explicit SampleBuffer(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

  void Add(Sample sample) {
    if (samples_.size() >= capacity_) {
      samples_.pop_front();
      overflowed_ = true;
    }
    samples_.push_back(std::move(sample));
  }

  struct Taken {
    std::vector<Sample> samples;  // oldest first
    bool overflowed = false;      // some were dropped since the last take
  };
  Taken Take() {
    Taken taken;
    taken.samples.assign(std::make_move_iterator(samples_.begin()), std::make_move_iterator(samples_.end()));
    taken.overflowed = overflowed_;
    samples_.clear();
    overflowed_ = false;
    return taken;
  }

  std::size_t Size() const { return samples_.size(); }
  std::size_t Capacity() const { return capacity_; }

 private:
  std::size_t capacity_;
  std::deque<Sample> samples_;
  bool overflowed_ = false;
};

}  // namespace vrt::opc
