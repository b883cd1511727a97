// The address space as clients browse it: devices at the root, their poll
// records below; browse filters and the item IDs of browsed names.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace vrt::opc
