#include "item_properties.h"

namespace vrt::opc {

namespace {

constexpr std::uint16_t kI2 = 2, kI4 = 3, kR4 = 4, kR8 = 5, kDate = 7, kBstr = 8, kVariant = 12;

constexpr PropertyDefinition kAnalog[] = {
    {1, kI2, ".VTYPE", "Item Canonical Data Type"},
    {2, kVariant, ".F_CV", "Item Value"},
    {3, kI2, ".QUALITY", "Item Quality"},
    {4, kDate, ".TIMESTAMP", "Item TimeStamp"},
    {5, kI4, ".ARRIGHTS", "Item Access Rights"},
    {6, kR4, ".SCANRATE", "Server Scan Rate"},
    {100, kBstr, ".A_EGU", "EU Units"},
    {102, kR8, ".F_EGUHI", "High EGU"},
    {103, kR8, ".F_EGULO", "Lo EGU"},
    {5000, kBstr, ".A_SC", "Signal Conditioning"},
    {5001, kBstr, ".A_HWOPT", "Hardware Options"},
};

constexpr PropertyDefinition kDigital[] = {
    {1, kI2, ".VTYPE", "Item Canonical Data Type"},
    {2, kVariant, ".F_CV", "Item Value"},
    {3, kI2, ".QUALITY", "Item Quality"},
    {4, kDate, ".TIMESTAMP", "Item TimeStamp"},
    {5, kI4, ".ARRIGHTS", "Item Access Rights"},
    {6, kR4, ".SCANRATE", "Server Scan Rate"},
    {106, kBstr, ".A_CTAG", "Contact Close Label"},
    {107, kBstr, ".A_OTAG", "Contact Open Label"},
};

constexpr PropertyDefinition kText[] = {
    {1, kI2, ".VTYPE", "Item Canonical Data Type"},
    {2, kVariant, ".A_CV", "Item Value"},
    {3, kI2, ".QUALITY", "Item Quality"},
    {4, kDate, ".TIMESTAMP", "Item TimeStamp"},
    {5, kI4, ".ARRIGHTS", "Item Access Rights"},
    {6, kR4, ".SCANRATE", "Server Scan Rate"},
    {5001, kBstr, ".A_HWOPT", "Hardware Options"},
    {5002, kI4, "F_LEN", "String length"},
};

}  // namespace

std::span<const PropertyDefinition> PropertiesOf(std::uint8_t itemKind) {
  switch (itemKind) {
    case 1: return kAnalog;
    case 2: return kDigital;
    case 3: return kText;
    default: return {};
  }
}

bool PropertyListed(std::uint8_t itemKind, std::uint32_t id) {
  for (const PropertyDefinition& property : PropertiesOf(itemKind)) {
    if (property.id == id) return true;
  }
  return false;
}

}  // namespace vrt::opc
