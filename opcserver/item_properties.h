// The properties an item offers, by item kind.
#pragma once

#include <cstdint>
#include <span>

namespace vrt::opc {

struct PropertyDefinition {
  std::uint32_t id;
  std::uint16_t type;  // VARTYPE
  const char* name;
  const char* description;
};

// The table of an item kind (1 analog, 2 digital, 3 text); empty for others.
std::span<const PropertyDefinition> PropertiesOf(std::uint8_t itemKind);
// Whether the kind's table lists the property.
bool PropertyListed(std::uint8_t itemKind, std::uint32_t id);

inline constexpr float kScanRateProperty = 250.0f;
inline constexpr std::uint32_t kInvalidPropertyId = 0xC0040203;  // OPC_E_INVALID_PID

}  // namespace vrt::opc
