// The change test of the group tick: whether a freshly read value, quality
// and status are news for the client against what the item holds.
#pragma once

#include <cstdint>
#include <string>

namespace vrt::opc {

// A value as far as the change test looks at it: VT_BSTR by its text,
// VT_BOOL by its truth, everything else as a 32-bit float.
struct ComparableValue {
  std::uint16_t type = 0;  // VARTYPE
  std::wstring text;
  bool boolean = false;
  float number = 0.0f;
};

inline constexpr std::uint16_t kCompareBstr = 8;
inline constexpr std::uint16_t kCompareBool = 11;

// The item's state before the read and what the read gave.
struct ChangeCheck {
  bool hasValue = false;
  bool pendingChanges = false;
  ComparableValue before;
  ComparableValue after;
  std::uint16_t qualityBefore = 0;
  std::uint16_t qualityAfter = 0;
  std::uint16_t statusBefore = 0;
  std::uint16_t statusAfter = 0;
  float percentDeadband = 0.0f;  // the group's
  float eguSpan = 0.0f;          // the item's
};

// Values differ: texts exactly, booleans by truth, numbers by the deadband
// (|new - old| >= deadband % of the span) or, without one, at all.
bool ValuesDiffer(const ComparableValue& before, const ComparableValue& after, float percentDeadband, float eguSpan);
bool ItemChanged(const ChangeCheck& check);

}  // namespace vrt::opc
