// The rules of the server and group objects that need no COM: made-up
// group names, update-rate revision, deadband and locale checks, the
// configuration file name, enumeration scopes, snapshot enumerators, and
// where a read with a maximum age takes its value from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "opc_quality.h"

namespace vrt::opc {

// AddGroup's name for a group without one: the stem followed by n+1, n+2, ...
// (n groups exist, n+1 candidates), the first no group bears.
std::optional<std::wstring> MadeUpGroupName(const std::wstring& stem, std::size_t groupCount,
                                            const std::function<bool(const std::wstring&)>& exists);
// CloneGroup's: "Group" followed by n, n+1, ... with at most 1000 candidates.
std::optional<std::wstring> MadeUpCloneName(std::size_t groupCount,
                                            const std::function<bool(const std::wstring&)>& exists);

// The update rate a group gets: never below the poll thread's wait.
inline std::uint32_t RevisedUpdateRate(std::uint32_t requested, std::uint32_t threadSleepTime) {
  return requested < threadSleepTime ? threadSleepTime : requested;
}
inline bool DeadbandAccepted(float percent) { return percent >= 0.0f && percent <= 100.0f; }

inline constexpr std::uint32_t kSystemDefaultLocale = 0x800;
inline constexpr std::uint32_t kEnglishLocale = 1033;
// The locale SetLocaleID stores, nothing for one the server does not offer.
std::optional<std::uint32_t> AcceptedLocale(std::uint32_t lcid);

// IPersistFile::Load: a file name with an extension must have "VRT" as it.
bool ConfigurationFileNameAccepted(const std::wstring& path);

// CreateGroupEnumerator: the scopes that take the server's (private) groups.
bool ScopeTakesGroups(std::uint32_t scope);

// Position of a snapshot enumerator over `count` elements.
class EnumeratorCursor {
 public:
  explicit EnumeratorCursor(std::size_t count) : count_(count) {}
  // Next may leave out the fetched count only when asking for one element.
  static bool NextArgumentsValid(unsigned long requested, bool fetchedGiven) {
    return fetchedGiven || requested == 1;
  }
  // The elements Next delivers, from Position() on; moves past them.
  std::size_t Take(unsigned long requested) {
    const std::size_t left = count_ - position_;
    const std::size_t taken = requested < left ? requested : left;
    position_ += taken;
    return taken;
  }
  // Moves on when the new position is still inside the list.
  bool Skip(unsigned long count) {
    if (count >= count_ - position_) return false;
    position_ += count;
    return true;
  }
  void Reset() { position_ = 0; }
  std::size_t Position() const { return position_; }
  std::size_t Count() const { return count_; }

 private:
  std::size_t count_;
  std::size_t position_ = 0;
};

// Quality bits an item keeps when it is activated with AutoStart on: its
// quality and limit bits, without the sub-status.
inline constexpr std::uint16_t kActivationQualityMask = OPC_QUALITY_MASK | OPC_LIMIT_MASK;

// The text form of an item's value for a client that asks for VT_BSTR:
// analog items "%0.*f %s" with the item's decimals and units, digital items
// their close label for non-zero and open label for zero.
std::string AnalogText(double value, int decimals, const std::string& units);
inline const std::string& DigitalText(bool value, const std::string& openLabel, const std::string& closeLabel) {
  return value ? closeLabel : openLabel;
}

// An item's own percent deadband (DA 3.0), which replaces the group's for
// that item: only analog items take one, and it must be a percentage.
// 0 (S_OK) or the item's refusal.
inline constexpr std::uint32_t kDeadbandNotSupported = 0xC0040401;  // OPC_E_DEADBANDNOTSUPPORTED
inline constexpr std::uint32_t kDeadbandNotSet = 0xC0040400;        // OPC_E_DEADBANDNOTSET
std::uint32_t ItemDeadbandRefusal(bool analog, float percent);

// A read with a maximum age (DA 3.0), in milliseconds. 0xFFFFFFFF is a
// cache read whatever the value's age; 0 is a device read. Any other age
// takes the value the item holds while its last good read is no older than
// that, and reads the device when it is older or the item has had no good
// read yet.
enum class MaxAgeSource { kCache, kHeldValue, kDevice };
inline constexpr std::uint32_t kMaxAgeCache = 0xFFFFFFFF;
MaxAgeSource SourceForMaxAge(std::uint32_t maxAge, std::optional<std::uint64_t> lastGoodReadMs, std::uint64_t nowMs);

}  // namespace vrt::opc
