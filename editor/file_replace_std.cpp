// Replacing a file where rename overwrites its target in one step.
#include <cstdio>

#include "file_io.h"

namespace vrt::editor {

bool MoveFileOver(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

}  // namespace vrt::editor
