#include "frame_log.h"

#include "civil_time.h"

namespace vrt::sim {

void FrameLog::Add(std::int64_t localMs, const std::string& text) {
  std::string line = FormatCivilTime(CivilFromMilliseconds(localMs));
  line += ' ';
  line += text;
  if (sink_) sink_(line);
  ++total_;
  if (capacity_ == 0) return;
  if (lines_.size() >= capacity_) lines_.pop_front();
  lines_.push_back(std::move(line));
}

std::vector<std::string> FrameLog::Last(std::size_t count) const {
  const std::size_t first = count >= lines_.size() ? 0 : lines_.size() - count;
  return std::vector<std::string>(lines_.begin() + static_cast<std::ptrdiff_t>(first), lines_.end());
}

}  // namespace vrt::sim
