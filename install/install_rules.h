// The installer's rules that need no operating system: the paths the setup
// information file's directory ids stand for, where the shortcuts go, the
// overwrite rules of the file queue, the texts of its error boxes, the
// shared-library reference counts, the defaults taken from a host SCADA
// installation, and the unattended command lines of setup and uninstall.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrt::install {

inline constexpr char kAcronym[] = "VRT";
inline constexpr char kProductName[] = "Harnix Tavex OPC";
inline constexpr char kInfFileName[] = "VRT.inf";
inline constexpr char kSetupLibraryName[] = "Setup.dll";
inline constexpr char kOpcServerFileName[] = "VRTOPC.DLL";

// Setup information file sections and directory ids.
inline constexpr char kSectionScadaNode[] = "ScadaNode";
inline constexpr char kSectionViewNode[] = "ViewNode";
inline constexpr char kSectionSystemFiles[] = "NtSystem32";
inline constexpr char kSectionProductInstall[] = "ProductInstall";
inline constexpr char kSectionRemoveFiles[] = "RemoveFiles";
inline constexpr char kSectionRemoveKeys[] = "RemoveKeys";
inline constexpr unsigned kDirIdInstallation = 65701;
inline constexpr unsigned kDirIdConfiguration = 65702;
inline constexpr unsigned kDirIdDriverExecutable = 65704;

// Registry (HKEY_LOCAL_MACHINE).
inline constexpr char kProductKey[] = "Software\\Kalvento\\Tavex";
inline constexpr char kFolderNameValue[] = "FolderName";
inline constexpr char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
// The OPC libraries every node shares with other OPC products.
inline constexpr const char* kSharedOpcLibraries[] = {"OPCDAAuto.dll", "OPCProxy.dll", "opccomn_ps.dll"};
// Those of them on our media: the proxy/stub libraries, registered on a
// server node so that clients in other apartments and processes reach the
// OPC server.
inline constexpr const char* kProxyLibraries[] = {"OPCProxy.dll", "opccomn_ps.dll"};
inline constexpr char kRegisterProxyFailed[] = "Failed to register the OPC proxy library ";

// Texts.
inline constexpr char kNoMediaPath[] = "Path to the distribution media was not specified";
inline constexpr char kOpenInfFailed[] = "Failed to open server's information file ";
inline constexpr char kDirectoryIdFailed[] = "Failed to associate a directory id with the destination directory ";
inline constexpr char kBadDriverDirectory[] = "Bad directory for Driver executable %s";
inline constexpr char kOpenQueueFailed[] = "Failed to open file queue";
inline constexpr char kQueueCallbackFailed[] = "Failed to allocate memory for the queue callback context";
inline constexpr char kScadaFilesFailed[] = "Failed to process Scada node files";
inline constexpr char kViewFilesFailed[] = "Failed to process View node files";
inline constexpr char kSystemFilesFailed[] = "Failed to process System files";
inline constexpr char kCommitFailed[] = "Failed to commit the file queue";
inline constexpr char kRegistryFailed[] = "Failed to do registry stuff";
inline constexpr char kScadaRegistryFailed[] = "Failed to add scada registry info";
inline constexpr char kViewRegistryFailed[] = "Failed to add view registry info";
inline constexpr char kRegistryCaption[] = "INF";
inline constexpr char kSetupErrorCaption[] = "I/O Server Setup Error";
inline constexpr char kSetupAborted[] = "I/O Server Setup aborted";
inline constexpr char kRegisterServerFailed[] = "Failed to register the OPC server ";
inline constexpr char kInstallSuccessful[] = "Installation Successful";
inline constexpr char kInstallCanceled[] = "Installation Canceled";
inline constexpr char kLoadLibraryFailed[] = "Error loading dll: error %d";
inline constexpr char kResolveFailed[] = "Error resolving address: error %d";
inline constexpr char kCreateDirectoryQuestion[] =
    "The specified directory\n\n%s\n\ndoes not exist. Do you wish to create it?\n";
inline constexpr char kCreateDirectoryFailed[] = "Failed to create directory";
inline constexpr char kNotADirectory[] = "The path specified is not a directory";
inline constexpr char kNodeNamePrompt[] = "Please enter the FIX nodename.";
inline constexpr char kUninstallQuestion[] = "Are you sure you want to Uninstall the OPC Server ?";
inline constexpr char kUninstallSuccessful[] = "Uninstall was successful";
inline constexpr char kUninstallCommandsFailed[] = "Failed to process uninstall commands";
inline constexpr char kUnusedFileQuestion[] =
    "Setup has determined that the following file is no longer being used:\n      %s\nWould you like setup to delete "
    "it?\n\n(Clicking Yes may cause applications actually using the file to no longer work)";
inline constexpr const char* kUninstallSteps[] = {"Unregistering Server", "Removing files", "Removing from Registry",
                                                  "Folder Icons"};

// "dir" + "\" + "name", with one backslash between them whatever the
// directory ends with.
std::string Join(const std::string& directory, const std::string& name);
// "path\" from "path" (an empty path stays empty).
std::string WithTrailingBackslash(std::string path);

// Directory id 65702: the node's configuration file, named after the node
// in the host's database directory when the installation directory is the
// host's and a node is named, else the default configuration.
std::string ConfigurationTarget(const std::string& installationDirectory, const std::string& databasePath,
                                const std::string& nodeName);
// A named node's own configuration in the host's database directory, which
// setup copies from the default once.
std::string NodeConfiguration(const std::string& databasePath, const std::string& nodeName);
// The default configuration shipped on the media and installed beside the
// programs ("DEFAULT.VRT"), copied for a named node.
std::string DefaultConfiguration(const std::string& installationDirectory);
// Directory id 65704: the poll driver's full path.
std::string DriverExecutable(const std::string& installationDirectory);
// What the error box of the first seven steps shows.
std::string SetupErrorText(const std::string& message, unsigned long systemError);
// printf-like filling of one %s or %d/%lu slot, without a format string
// coming from outside.
std::string FillText(const char* format, const std::string& value);

// The Start-menu shortcuts.
enum class ProgramsMenu { kAllUsers, kCurrentUser };
struct ShortcutFolder {
  ProgramsMenu menu = ProgramsMenu::kAllUsers;
  std::string name;
};
// The folder given on the last wizard page, or the host edition's folder
// when a host edition's name was given.
ShortcutFolder ChooseShortcutFolder(const std::string& folderGiven, bool hostEdition);
struct Shortcut {
  std::string name;    // the link's file name without ".lnk"
  std::string target;  // full path
};
// "Harnix Tavex OPC Configurator" and "... Configurator Help". The help
// points at the HTML help when the media has no WinHelp file.
std::vector<Shortcut> Shortcuts(const std::string& installationDirectory, bool winHelpPresent);

// The file queue's overwrite rule. Versions are a file's fixed version
// (major.minor.build.private packed high to low) when it has one.
struct FileStamp {
  bool exists = false;
  std::optional<std::uint64_t> version;
  std::uint64_t writeTime = 0;  // any monotonic unit (FILETIME)
};
enum class CopyRule {
  kNodeFiles,    // replace unless the target is newer
  kSystemFiles,  // replace only by a newer file
};
bool ShouldCopy(CopyRule rule, const FileStamp& target, const FileStamp& source);

// SharedDlls counts: the count after one more reference (a missing or
// broken value starts at 1) and after one reference less (nullopt: the
// count reaches zero and the file is no longer used).
std::uint32_t CountAfterAdd(std::optional<std::uint32_t> count);
std::optional<std::uint32_t> CountAfterRemove(std::optional<std::uint32_t> count);

// A file's size and a 64-bit hash of its content, as text: how the
// uninstaller tells a configuration file nobody changed since the
// installation from one a person edited.
std::string ContentFingerprint(std::string_view content);

// What setup finds of a host SCADA installation in the registry.
struct HostRegistry {
  bool newerEditionKey = false;  // "Software\Fix Dynamics" found
  bool olderEditionKey = false;  // "Software\FixDMACS" found
  std::string basePath, databasePath, nodeName;  // "BASPATH", "PDBPATH", "NODENAME"
  bool iFixKey = false;          // "Software\Intellution, Inc.\iFIX"
  bool dynamicsKey = false;      // "Software\Intellution, Inc.\FIX Dynamics"
};
struct SetupDefaults {
  bool hostFound = false;
  bool hostEdition = false;  // the host-edition flag given to InstallDriver
  std::string directory;
  std::string databasePath;
  std::string nodeName;
  std::string folder;
};
// `programFiles` is "\Program Files" or wherever the system keeps programs.
SetupDefaults DefaultsFrom(const HostRegistry& host, const std::string& programFiles);

// setup.exe /S /D=DIR [/NODE=NAME] [/FOLDER=NAME]; uninstall.exe /S.
struct SetupCommandLine {
  bool silent = false;
  std::optional<std::string> directory, node, folder;
  std::string error;  // not empty: the command line is refused
};
SetupCommandLine ParseSetupCommandLine(std::string_view commandLine);
struct UninstallCommandLine {
  bool silent = false;
  std::string error;
};
UninstallCommandLine ParseUninstallCommandLine(std::string_view commandLine);
inline constexpr char kSetupUsage[] = "usage: setup.exe [/S /D=DIR [/NODE=NAME] [/FOLDER=NAME]]";
inline constexpr char kUninstallUsage[] = "usage: uninstall.exe [/S]";

// A Windows command line without the program's own name (quoted or not).
std::string ArgumentsAfterProgramName(std::string_view commandLine);
// The arguments of a Windows command line (the program's own name removed
// by the caller), with its quoting rules.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace vrt::install
