#include "change_test.h"

#include <cmath>

namespace vrt::opc {

bool ValuesDiffer(const ComparableValue& before, const ComparableValue& after, float percentDeadband, float eguSpan) {
  if (after.type == kCompareBstr) return before.text != after.text;
  if (after.type == kCompareBool) return before.boolean != after.boolean;
  if (percentDeadband != 0.0f) {
    // In double, so that a change of exactly the deadband counts.
    const double threshold = static_cast<double>(percentDeadband) * static_cast<double>(eguSpan) / 100.0;
    return std::fabs(static_cast<double>(after.number) - static_cast<double>(before.number)) >= threshold;
  }
  return after.number != before.number;
}

bool ItemChanged(const ChangeCheck& check) {
  return !check.hasValue || check.before.type != check.after.type || check.pendingChanges ||
         ValuesDiffer(check.before, check.after, check.percentDeadband, check.eguSpan) ||
         check.qualityBefore != check.qualityAfter || check.statusBefore != check.statusAfter;
}

}  // namespace vrt::opc
