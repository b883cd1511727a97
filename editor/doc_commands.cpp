#include "doc_commands.h"

#include "csv.h"
#include "doc_file.h"
#include "editor_messages.h"
#include "editor_text.h"

namespace vrt::editor {

namespace {

constexpr char kAcronym[] = "VRT";

std::string FileNameOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string WithoutExtension(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

void InvalidFileType(EditorServices& services) {
  services.ui.ShowMessage(msg::kInvalidFileType, kProgramTitle, MessageIcon::kError);
}

}  // namespace

std::string FileDialogFilter() {
  std::string filter = "Config. Files (*.###)|*.###|Text Files (*.CSV)|*.CSV||";
  for (std::size_t at = filter.find("###"); at != std::string::npos; at = filter.find("###", at)) {
    filter.replace(at, 3, kAcronym);
  }
  return filter;
}

DialogStart OpenDialogStart(const std::optional<std::string>& configFile) {
  if (!configFile) return {};
  return {DirectoryOf(*configFile), {}};
}

DialogStart SaveAsDialogStart(const std::optional<std::string>& configFile) {
  if (!configFile) return {{}, std::string("DEFAULT.") + kAcronym};
  return {DirectoryOf(*configFile), WithoutExtension(FileNameOf(*configFile))};
}

std::string ImportErrorPathFor(const std::string& csvPath, EditorSettings& settings) {
  const std::string pdbPath = settings.HostValue("PDBPATH");
  if (!pdbPath.empty()) return ImportErrorFilePath(pdbPath);
  return DirectoryOf(csvPath) + "VRTDIDW.ERR";
}

bool OpenDocumentFile(CDidDoc& doc, const std::string& path, char separator, EditorServices& services) {
  doc.Clear();
  switch (KindOfPath(path)) {
    case FileKind::kConfiguration: return LoadConfiguration(doc, path, services);
    case FileKind::kCsv: {
      ErrorFile errors(ImportErrorPathFor(path, services.settings));
      return ImportCsv(doc, path, separator, errors, services).opened;
    }
    case FileKind::kOther: break;
  }
  InvalidFileType(services);
  return false;
}

bool SaveDocumentAs(CDidDoc& doc, const std::string& path, char separator, EditorServices& services) {
  switch (KindOfPath(path)) {
    case FileKind::kConfiguration: return SaveConfiguration(doc, path, services);
    case FileKind::kCsv: return ExportCsv(doc, path, separator, services);
    case FileKind::kOther: break;
  }
  InvalidFileType(services);
  return false;
}

std::vector<std::string> WithRecentFile(std::vector<std::string> recent, const std::string& path, std::size_t limit) {
  std::erase_if(recent, [&](const std::string& entry) { return EqualsIgnoringCase(entry, path); });
  recent.insert(recent.begin(), path);
  if (recent.size() > limit) recent.resize(limit);
  return recent;
}

std::string ProgramSettingsFile(const std::string& locPath, const std::string& programPath) {
  if (locPath.empty()) return {};
  const char last = locPath.back();
  return locPath + (last == '\\' || last == '/' ? "" : "\\") + WithoutExtension(FileNameOf(programPath)) + ".INI";
}

}  // namespace vrt::editor
