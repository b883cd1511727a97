// The File commands' choices that do not need a window: which file kind a
// name asks for, where the file dialogs start, and Open and Save As by
// extension. The window program shows the dialogs and calls these.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "did_doc.h"
#include "editor_services.h"

namespace vrt::editor {

// The Open and Save As filter: "Config. Files (*.VRT)|*.VRT|Text Files
// (*.CSV)|*.CSV||".
std::string FileDialogFilter();

struct DialogStart {
  std::string directory;  // empty: the dialog's own choice
  std::string fileName;   // empty: none
};

// Open starts in the folder of the start-up file.
DialogStart OpenDialogStart(const std::optional<std::string>& configFile);
// Save As starts with the start-up file's folder and name without its
// extension, or with "DEFAULT.VRT" when there is no start-up file.
DialogStart SaveAsDialogStart(const std::optional<std::string>& configFile);

// Where an import's errors go: VRTDIDW.ERR in the host's PDBPATH folder, or,
// on a machine without the host, beside the imported file.
std::string ImportErrorPathFor(const std::string& csvPath, EditorSettings& settings);

// Open after the dialog: the document is cleared, then a configuration file
// is loaded or a CSV file imported; any other extension gives "Invalid File
// Type specified.". False when nothing was read.
bool OpenDocumentFile(CDidDoc& doc, const std::string& path, char separator, EditorServices& services);

// Save As after the dialog: a configuration file is saved or a CSV file
// exported; any other extension gives "Invalid File Type specified.".
bool SaveDocumentAs(CDidDoc& doc, const std::string& path, char separator, EditorServices& services);

// The recent-file list after `path` was opened or saved: first, once
// (without regard to case), at most `limit` entries.
std::vector<std::string> WithRecentFile(std::vector<std::string> recent, const std::string& path, std::size_t limit);

// The program's settings file, which keeps the recent-file list: the
// program's own file name with the extension INI, in the host's LOCPATH
// folder (VRTDIDW.INI for VRTDIDW.exe). Empty without a LOCPATH.
std::string ProgramSettingsFile(const std::string& locPath, const std::string& programPath);

}  // namespace vrt::editor
