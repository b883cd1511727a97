// The address space as clients browse it: devices at the root, their poll
// records below; browse filters and the item IDs of browsed names; and the
// pages and continuation points of DA 3.0's stateless browse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace vrt::opc {

enum class FilterMode { kAll, kExact, kPrefix, kSuffix, kContains };

// A browse filter, case-sensitive; a name shorter than its text never
// matches (except when it takes everything).
class BrowseFilter {
 public:
  explicit BrowseFilter(const std::wstring& criteria);
  bool Matches(const std::wstring& name) const;
  FilterMode Mode() const { return mode_; }

 private:
  FilterMode mode_ = FilterMode::kAll;
  std::wstring text_;
};

// The types a browse may filter on; any other gives an empty list.
bool BrowseTypeAccepted(std::uint16_t vartype);

// The item ID of a browsed name: at the root the name itself, inside a
// device "DEVICE:name" cut before the first " - " (the record's
// description); blanks trimmed at both ends.
std::wstring BrowsedItemId(bool insideDevice, const std::wstring& device, const std::wstring& name);

// One page of a listing of `total` elements from `start`: at most `limit`
// (0: no limit) elements. `more` when elements are left after it.
struct BrowsePage {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool more = false;
};
BrowsePage PageOf(std::size_t total, std::size_t start, std::uint32_t limit);

// A fingerprint of a listing, so that a continuation point dies when what it
// continues has changed.
std::uint64_t ListingFingerprint(const std::vector<std::wstring>& names);

// The continuation points one server object has handed out. A point is an
// opaque text that stands for the rest of one listing: the branch and the
// filters it was asked with, where the rest starts, and the listing's
// fingerprint. It is good once, from the same browse and only while the
// listing is unchanged; the oldest are forgotten beyond kKept.
class BrowseContinuations {
 public:
  struct Browse {
    std::wstring branch;
    std::uint32_t filter = 0;
    std::wstring nameFilter;
    std::wstring vendorFilter;
    bool operator==(const Browse&) const = default;
  };
  static constexpr std::size_t kKept = 64;

  explicit BrowseContinuations(std::uint32_t serverId) : serverId_(serverId) {}
  std::wstring Issue(const Browse& browse, std::size_t next, std::uint64_t fingerprint);
  // Where the rest starts, when `point` is one of ours, unused, from this
  // browse and the listing unchanged; nothing otherwise. It is used up
  // either way.
  std::optional<std::size_t> Take(const std::wstring& point, const Browse& browse, std::uint64_t fingerprint);

 private:
  struct Point {
    std::wstring text;
    Browse browse;
    std::size_t next;
    std::uint64_t fingerprint;
  };
  std::uint32_t serverId_;
  std::uint32_t issued_ = 0;
  std::deque<Point> points_;
};

}  // namespace vrt::opc
