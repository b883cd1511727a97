// A readable listing of a configuration file: header, channels, devices and
// poll records with their offsets and area sizes, as the bytes hold them.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace vrt::vrtcfg {

// Lists the image; every offset is checked against the bytes, and what lies
// outside them is named as such. False when anything could not be listed.
bool DumpImage(std::vector<std::uint8_t> bytes, std::ostream& out);

}  // namespace vrt::vrtcfg
