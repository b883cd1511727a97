#include "browse.h"

namespace vrt::opc {

BrowseFilter::BrowseFilter(const std::wstring& criteria) {
  if (criteria.empty() || criteria == L"*") return;
  const std::size_t first = criteria.find(L'*');
  const std::size_t last = criteria.rfind(L'*');
  const std::size_t end = criteria.size() - 1;
  if (first == std::wstring::npos) {
    mode_ = FilterMode::kExact;
    text_ = criteria;
  } else if (first == end) {
    mode_ = FilterMode::kPrefix;
    text_ = criteria.substr(0, end);
  } else if (first == 0 && last == 0) {
    mode_ = FilterMode::kSuffix;
    text_ = criteria.substr(1);
  } else if (first == 0 && last == end && criteria.find(L'*', 1) == end) {
    mode_ = FilterMode::kContains;
    text_ = criteria.substr(1, end - 1);
  }
  // Any other placement of "*" takes every name.
}

bool BrowseFilter::Matches(const std::wstring& name) const {
  if (mode_ == FilterMode::kAll) return true;
  if (name.size() < text_.size()) return false;
  switch (mode_) {
    case FilterMode::kExact: return name == text_;
    case FilterMode::kPrefix: return name.compare(0, text_.size(), text_) == 0;
    case FilterMode::kSuffix: return name.compare(name.size() - text_.size(), text_.size(), text_) == 0;
    case FilterMode::kContains: return name.find(text_) != std::wstring::npos;
    default: return true;
  }
}

bool BrowseTypeAccepted(std::uint16_t vartype) {
  // VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_BSTR, VT_BOOL
  return vartype == 0 || vartype == 2 || vartype == 3 || vartype == 4 || vartype == 8 || vartype == 11;
}

std::wstring BrowsedItemId(bool insideDevice, const std::wstring& device, const std::wstring& name) {
  std::wstring id = name;
  if (insideDevice) {
    id = device + (name.empty() ? L"" : L":") + name;
    const std::size_t description = id.find(L" - ");
    if (description != std::wstring::npos) id.erase(description);
  }
  const std::wstring blanks = L" \t\r\n\v\f";
  const std::size_t first = id.find_first_not_of(blanks);
  if (first == std::wstring::npos) return L"";
  const std::size_t last = id.find_last_not_of(blanks);
  return id.substr(first, last - first + 1);
}

}  // namespace vrt::opc
