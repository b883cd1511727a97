#include "stress_watch.h"

#include <cctype>

namespace vrt::tool {

namespace {

constexpr std::size_t kMostIds = 10000;

bool ExpandOne(const std::string& entry, std::vector<std::string>& ids) {
  const std::size_t dots = entry.find("..");
  if (dots == std::string::npos) {
    if (entry.empty()) return false;
    ids.push_back(entry);
    return true;
  }
  // The first number ends at the dots; it starts after the last non-digit.
  std::size_t start = dots;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(entry[start - 1]))) --start;
  std::size_t end = dots + 2;
  while (end < entry.size() && std::isdigit(static_cast<unsigned char>(entry[end]))) ++end;
  if (start == dots || end == dots + 2 || dots - start > 9 || end - dots - 2 > 9) return false;
  const unsigned long first = std::stoul(entry.substr(start, dots - start));
  const unsigned long last = std::stoul(entry.substr(dots + 2, end - dots - 2));
  if (last < first || last - first >= kMostIds) return false;
  const std::string prefix = entry.substr(0, start);
  const std::string suffix = entry.substr(end);
  for (unsigned long number = first; number <= last; ++number) {
    ids.push_back(prefix + std::to_string(number) + suffix);
    if (ids.size() > kMostIds) return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<std::string>> ExpandItemIds(const std::string& list) {
  std::vector<std::string> ids;
  std::size_t position = 0;
  while (position <= list.size()) {
    const std::size_t comma = list.find(',', position);
    const std::size_t end = comma == std::string::npos ? list.size() : comma;
    if (!ExpandOne(list.substr(position, end - position), ids)) return std::nullopt;
    if (comma == std::string::npos) break;
    position = comma + 1;
  }
  return ids;
}

bool StallWatch::Stalled(std::size_t index, std::uint64_t value, std::uint64_t now) {
  if (!started_[index] || value != seen_[index]) {
    started_[index] = true;
    seen_[index] = value;
    since_[index] = now;
    return false;
  }
  return now - since_[index] >= limit_;
}

}  // namespace vrt::tool
