// The text of "tavexsim --help".
#pragma once

#include <string>

namespace vrt::sim {

std::string UsageText();

}  // namespace vrt::sim
