// vrtcfg: the configuration editor's load, save, CSV import and export and
// checks from the command line, with the editor's own core, so that a file
// it writes is the file the editor would save.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vrt::vrtcfg {

// Exit statuses: 0 done, 1 errors or problems were found (and reported),
// 2 the command could not be carried out (usage, a missing or unreadable
// file, a save that failed).
inline constexpr int kExitDone = 0;
inline constexpr int kExitProblems = 1;
inline constexpr int kExitFailed = 2;

// Runs one command; `arguments` excludes the program name.
int RunVrtcfg(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace vrt::vrtcfg
