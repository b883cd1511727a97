// The simulator's log: every frame in and out and every notable happening,
// each line stamped with the host's local time to the millisecond. The last
// lines are kept for the control port; every line also goes to the sink (the
// console and/or a log file) as it is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace vrt::sim {

class FrameLog {
 public:
  static constexpr std::size_t kDefaultCapacity = 2000;

  explicit FrameLog(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  // Adds "YYYY-MM-DD HH:MM:SS.mmm text".
  void Add(std::int64_t localMs, const std::string& text);

  // The last `count` lines, oldest first.
  std::vector<std::string> Last(std::size_t count) const;
  void Clear() { lines_.clear(); }
  std::uint64_t TotalLines() const { return total_; }

  void SetSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }

 private:
  std::size_t capacity_;
  std::deque<std::string> lines_;
  std::uint64_t total_ = 0;
  std::function<void(const std::string&)> sink_;
};

}  // namespace vrt::sim
