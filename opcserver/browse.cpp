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

BrowsePage PageOf(std::size_t total, std::size_t start, std::uint32_t limit) {
  BrowsePage page;
  page.begin = start < total ? start : total;
  page.end = limit == 0 || total - page.begin <= limit ? total : page.begin + limit;
  page.more = page.end < total;
  return page;
}

std::uint64_t ListingFingerprint(const std::vector<std::wstring>& names) {
  // FNV-1a over the names and their separators.
  std::uint64_t hash = 14695981039346656037ull;
  const auto add = [&](std::uint64_t unit) {
    hash ^= unit;
    hash *= 1099511628211ull;
  };
  for (const std::wstring& name : names) {
    for (wchar_t c : name) add(static_cast<std::uint64_t>(c));
    add(0x10000);
  }
  add(names.size());
  return hash;
}

std::wstring BrowseContinuations::Issue(const Browse& browse, std::size_t next, std::uint64_t fingerprint) {
  ++issued_;
  const std::wstring text = L"VRT-" + std::to_wstring(serverId_) + L"-" + std::to_wstring(issued_) + L"-" +
                            std::to_wstring(next);
  points_.push_back({text, browse, next, fingerprint});
  while (points_.size() > kKept) points_.pop_front();
  return text;
}

std::optional<std::size_t> BrowseContinuations::Take(const std::wstring& point, const Browse& browse,
                                                     std::uint64_t fingerprint) {
  for (auto kept = points_.begin(); kept != points_.end(); ++kept) {
    if (kept->text != point) continue;
    const Point found = *kept;
    points_.erase(kept);
    if (!(found.browse == browse) || found.fingerprint != fingerprint) return std::nullopt;
    return found.next;
  }
  return std::nullopt;
}

}  // namespace vrt::opc
