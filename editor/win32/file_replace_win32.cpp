// Replacing a file on Windows, where rename refuses an existing target.
#include <windows.h>

#include "../file_io.h"

namespace vrt::editor {

bool MoveFileOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace vrt::editor
