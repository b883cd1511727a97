#include "server_rules.h"

#include <cmath>
#include <cstdio>

namespace vrt::opc {

namespace {

std::optional<std::wstring> FirstFreeName(const std::wstring& stem, std::size_t first, std::size_t candidates,
                                          const std::function<bool(const std::wstring&)>& exists) {
  for (std::size_t k = 0; k < candidates; ++k) {
    std::wstring name = stem + std::to_wstring(first + k);
    if (!exists(name)) return name;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::wstring> MadeUpGroupName(const std::wstring& stem, std::size_t groupCount,
                                            const std::function<bool(const std::wstring&)>& exists) {
  return FirstFreeName(stem, groupCount + 1, groupCount + 1, exists);
}

std::optional<std::wstring> MadeUpCloneName(std::size_t groupCount,
                                            const std::function<bool(const std::wstring&)>& exists) {
  return FirstFreeName(L"Group", groupCount, 1000, exists);
}

std::optional<std::uint32_t> AcceptedLocale(std::uint32_t lcid) {
  if (lcid == 0 || lcid == kSystemDefaultLocale) return kSystemDefaultLocale;
  if (lcid == kEnglishLocale) return kEnglishLocale;
  return std::nullopt;
}

bool ConfigurationFileNameAccepted(const std::wstring& path) {
  // The extension of the file's own name: a "." in a folder name says nothing.
  const std::size_t nameStart = path.find_last_of(L"\\/:");
  const std::wstring name = nameStart == std::wstring::npos ? path : path.substr(nameStart + 1);
  const std::size_t dot = name.find(L'.');
  return dot == std::wstring::npos || name.substr(dot + 1) == L"VRT";
}

bool ScopeTakesGroups(std::uint32_t scope) {
  // OPC_ENUM_PRIVATE_CONNECTIONS, OPC_ENUM_ALL_CONNECTIONS, OPC_ENUM_PRIVATE,
  // OPC_ENUM_ALL: this server has no public groups.
  return scope == 1 || scope == 3 || scope == 4 || scope == 6;
}

std::string AnalogText(double value, int decimals, const std::string& units) {
  // A value too large for the buffer is cut, never overrun.
  char text[400];
  std::snprintf(text, sizeof text, "%0.*f %s", decimals, value, units.c_str());
  return text;
}

MaxAgeSource SourceForMaxAge(std::uint32_t maxAge, std::optional<std::uint64_t> lastGoodReadMs, std::uint64_t nowMs) {
  if (maxAge == kMaxAgeCache) return MaxAgeSource::kCache;
  if (maxAge == 0 || !lastGoodReadMs || nowMs < *lastGoodReadMs) return MaxAgeSource::kDevice;
  return nowMs - *lastGoodReadMs <= maxAge ? MaxAgeSource::kHeldValue : MaxAgeSource::kDevice;
}

std::uint32_t ItemDeadbandRefusal(bool analog, float percent) {
  if (!analog) return kDeadbandNotSupported;
  return DeadbandAccepted(percent) ? 0 : 0x80070057;  // E_INVALIDARG
}

}  // namespace vrt::opc
