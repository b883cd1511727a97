// What a concurrent OPC client needs beside COM: the item IDs it is told to
// use, and the watch that tells a thread making no progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrt::tool {

// A comma-separated list of item IDs; an entry "PREFIX<first>..<last>"
// stands for the IDs with every number from first to last (decimal) in
// place of the range, and whatever follows the last number is kept after
// each ("PUMPS:DIT:256..258:0" gives PUMPS:DIT:256:0, ...:257:0, ...:258:0).
// Nothing for a malformed range or one of more than 10000 IDs.
std::optional<std::vector<std::string>> ExpandItemIds(const std::string& list);

// Watches counters that must keep moving: one that has not changed for
// `limit` milliseconds is stalled.
class StallWatch {
 public:
  StallWatch(std::size_t count, std::uint64_t limitMilliseconds)
      : limit_(limitMilliseconds), seen_(count), since_(count), started_(count, false) {}
  // Counter `index` reads `value` at `now`; true when it has been stalled
  // for the limit or longer.
  bool Stalled(std::size_t index, std::uint64_t value, std::uint64_t now);
  // How long counter `index` has not moved, as of its last observation.
  std::uint64_t StillFor(std::size_t index, std::uint64_t now) const { return now - since_[index]; }

 private:
  std::uint64_t limit_;
  std::vector<std::uint64_t> seen_;
  std::vector<std::uint64_t> since_;
  std::vector<bool> started_;
};

}  // namespace vrt::tool
