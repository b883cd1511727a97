// Checking a whole configuration against the editor's rules: what a file
// written elsewhere, or an import with field combinations the setters allow
// one at a time, may hold that the dialogs would refuse.
#pragma once

#include <string>
#include <vector>

#include "did_doc.h"

namespace vrt::editor {

// One line per problem, each naming where it is ("Channel 2", "Device D10",
// "Device D10, Poll Record 3") before the message the editor gives for it.
std::vector<std::string> CheckDocument(const CDidDoc& doc);

}  // namespace vrt::editor
