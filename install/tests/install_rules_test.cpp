#include "install_rules.h"

#include <gtest/gtest.h>

namespace vrt::install {
namespace {

TEST(InstallPaths, TheConfigurationGoesToTheHostsDatabaseOnlyForANamedNodeInAHostDirectory) {
  EXPECT_EQ(ConfigurationTarget("C:\\Dynamics", "C:\\Dynamics\\PDB", "SCADA1"), "C:\\Dynamics\\PDB\\SCADA1.VRT");
  EXPECT_EQ(ConfigurationTarget("C:\\fix32\\", "C:\\fix32\\pdb\\", "N2"), "C:\\fix32\\pdb\\N2.VRT");
  EXPECT_EQ(ConfigurationTarget("C:\\Dynamics", "C:\\Dynamics\\PDB", ""), "C:\\Dynamics\\default.VRT");
  EXPECT_EQ(ConfigurationTarget("C:\\Program Files\\Kalvento\\Tavex\\", "C:\\PDB", "SCADA1"),
            "C:\\Program Files\\Kalvento\\Tavex\\default.VRT");
  EXPECT_EQ(DriverExecutable("C:\\Tavex"), "C:\\Tavex\\VRTSPOLL.EXE");
  EXPECT_EQ(DriverExecutable("C:\\Tavex\\"), "C:\\Tavex\\VRTSPOLL.EXE");
  EXPECT_EQ(DefaultConfiguration("D:\\x"), "D:\\x\\DEFAULT.VRT");
  EXPECT_EQ(NodeConfiguration("C:\\PDB\\", "N2"), "C:\\PDB\\N2.VRT");
  EXPECT_EQ(WithTrailingBackslash("E:\\media"), "E:\\media\\");
  EXPECT_EQ(WithTrailingBackslash("E:\\media\\"), "E:\\media\\");
}

TEST(InstallTexts, ErrorBoxesAndFilledMessages) {
  EXPECT_EQ(SetupErrorText(std::string(kOpenInfFailed) + "E:\\VRT.inf", 2),
            "Failed to open server's information file E:\\VRT.inf\nWin32 error code: 2\n\nI/O Server Setup aborted");
  EXPECT_EQ(FillText(kBadDriverDirectory, "C:\\x"), "Bad directory for Driver executable C:\\x");
  EXPECT_EQ(FillText(kLoadLibraryFailed, "126"), "Error loading dll: error 126");
  // A value that looks like a format is only text.
  EXPECT_EQ(FillText(kCreateDirectoryQuestion, "C:\\%s%d"),
            "The specified directory\n\nC:\\%s%d\n\ndoes not exist. Do you wish to create it?\n");
}

TEST(InstallShortcuts, HostEditionNamesChooseTheHostsFolder) {
  EXPECT_EQ(ChooseShortcutFolder("Harnix Tavex OPC", true).name, "Harnix Tavex OPC");
  EXPECT_EQ(ChooseShortcutFolder("Plant tools", false).menu, ProgramsMenu::kAllUsers);
  const ShortcutFolder newer = ChooseShortcutFolder("iFIX", true);
  EXPECT_EQ(newer.menu, ProgramsMenu::kAllUsers);
  EXPECT_EQ(newer.name, "iFIX");
  EXPECT_EQ(ChooseShortcutFolder("Intellution FIX", true).name, "FIX Dynamics");
  const ShortcutFolder older = ChooseShortcutFolder("iFIX", false);
  EXPECT_EQ(older.menu, ProgramsMenu::kCurrentUser);
  EXPECT_EQ(older.name, "Intellution FIX");

  const std::vector<Shortcut> links = Shortcuts("C:\\Tavex\\", false);
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].name, "Harnix Tavex OPC Configurator");
  EXPECT_EQ(links[0].target, "C:\\Tavex\\VRTdidw.exe");
  EXPECT_EQ(links[1].name, "Harnix Tavex OPC Configurator Help");
  EXPECT_EQ(links[1].target, "C:\\Tavex\\VRTDOC.htm");
  EXPECT_EQ(Shortcuts("C:\\Tavex", true)[1].target, "C:\\Tavex\\VRTDOC.hlp");
}

TEST(InstallFileQueue, NodeFilesKeepANewerTargetSystemFilesTakeOnlyNewerOnes) {
  const FileStamp missing{};
  const FileStamp old{true, std::nullopt, 100};
  const FileStamp recent{true, std::nullopt, 200};
  EXPECT_TRUE(ShouldCopy(CopyRule::kNodeFiles, missing, recent));
  EXPECT_TRUE(ShouldCopy(CopyRule::kSystemFiles, missing, old));
  EXPECT_TRUE(ShouldCopy(CopyRule::kNodeFiles, old, recent));
  EXPECT_TRUE(ShouldCopy(CopyRule::kNodeFiles, recent, recent));  // the same age: replaced
  EXPECT_FALSE(ShouldCopy(CopyRule::kNodeFiles, recent, old));
  EXPECT_TRUE(ShouldCopy(CopyRule::kSystemFiles, old, recent));
  EXPECT_FALSE(ShouldCopy(CopyRule::kSystemFiles, recent, recent));
  EXPECT_FALSE(ShouldCopy(CopyRule::kSystemFiles, recent, old));
  // Versions decide over times when both files have one.
  const FileStamp v2old{true, 0x0002000000000000ull, 100};
  const FileStamp v1new{true, 0x0001000900000000ull, 900};
  EXPECT_FALSE(ShouldCopy(CopyRule::kNodeFiles, v2old, v1new));
  EXPECT_TRUE(ShouldCopy(CopyRule::kSystemFiles, v1new, v2old));
  EXPECT_FALSE(ShouldCopy(CopyRule::kNodeFiles, FileStamp{true, std::nullopt, 900}, v2old));  // times decide
  // The same version is no newer either way, whatever the times say.
  const FileStamp v2new{true, 0x0002000000000000ull, 900};
  EXPECT_TRUE(ShouldCopy(CopyRule::kNodeFiles, v2new, v2old));
  EXPECT_FALSE(ShouldCopy(CopyRule::kSystemFiles, v2old, v2new));
}

TEST(InstallSharedDlls, CountsStartAtOneAndTheLastReferenceFreesTheFile) {
  EXPECT_EQ(CountAfterAdd(std::nullopt), 1u);
  EXPECT_EQ(CountAfterAdd(0), 1u);
  EXPECT_EQ(CountAfterAdd(3), 4u);
  EXPECT_EQ(CountAfterAdd(0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(CountAfterRemove(3), 2u);
  EXPECT_EQ(CountAfterRemove(1), std::nullopt);
  EXPECT_EQ(CountAfterRemove(std::nullopt), std::nullopt);
}

TEST(InstallSharedDlls, AnEditedConfigurationHasAnotherFingerprint) {
  const std::string saved(3738, '\x5A');
  std::string edited = saved;
  edited[1000] = '\x5B';
  EXPECT_EQ(ContentFingerprint(saved), ContentFingerprint(std::string(3738, '\x5A')));
  EXPECT_NE(ContentFingerprint(saved), ContentFingerprint(edited));
  EXPECT_NE(ContentFingerprint(saved), ContentFingerprint(saved + '\0'));
  EXPECT_EQ(ContentFingerprint(""), "0:cbf29ce484222325");
}

TEST(InstallDefaults, FromTheHostOrOurOwn) {
  const SetupDefaults none = DefaultsFrom({}, "C:\\Program Files");
  EXPECT_FALSE(none.hostFound);
  EXPECT_EQ(none.directory, "C:\\Program Files\\Kalvento\\Tavex\\");
  EXPECT_EQ(none.folder, "Harnix Tavex OPC");

  HostRegistry host;
  host.newerEditionKey = true;
  host.basePath = "C:\\Dynamics";
  host.databasePath = "C:\\Dynamics\\PDB";
  host.nodeName = "SCADA1";
  SetupDefaults found = DefaultsFrom(host, "C:\\Program Files");
  EXPECT_TRUE(found.hostFound);
  EXPECT_TRUE(found.hostEdition);
  EXPECT_EQ(found.directory, "C:\\Dynamics");
  EXPECT_EQ(found.nodeName, "SCADA1");
  EXPECT_EQ(found.folder, "FIX Dynamics");
  host.iFixKey = true;
  EXPECT_EQ(DefaultsFrom(host, "C:\\Program Files").folder, "iFIX");

  HostRegistry older;
  older.olderEditionKey = true;
  found = DefaultsFrom(older, "C:\\Program Files");
  EXPECT_TRUE(found.hostFound);
  EXPECT_FALSE(found.hostEdition);
  EXPECT_EQ(found.directory, "C:\\Program Files\\Kalvento\\Tavex\\");  // no BASPATH
}

TEST(InstallCommandLines, UnattendedSwitches) {
  SetupCommandLine line = ParseSetupCommandLine("/S \"/D=C:\\Program Files\\Tavex\" /node=SCADA1 /FOLDER=Plant");
  EXPECT_TRUE(line.error.empty()) << line.error;
  EXPECT_TRUE(line.silent);
  EXPECT_EQ(line.directory, "C:\\Program Files\\Tavex");
  EXPECT_EQ(line.node, "SCADA1");
  EXPECT_EQ(line.folder, "Plant");
  EXPECT_FALSE(ParseSetupCommandLine("").silent);
  EXPECT_TRUE(ParseSetupCommandLine("").error.empty());
  EXPECT_NE(ParseSetupCommandLine("/D=C:\\x").error, "");   // only with /S
  EXPECT_NE(ParseSetupCommandLine("/S /D=").error, "");
  EXPECT_NE(ParseSetupCommandLine("/S /X").error.find(kSetupUsage), std::string::npos);
  EXPECT_TRUE(ParseUninstallCommandLine(" /s ").silent);
  EXPECT_NE(ParseUninstallCommandLine("/S /Q").error, "");

  EXPECT_EQ(ArgumentsAfterProgramName("\"C:\\media dir\\setup.exe\" /S"), " /S");
  EXPECT_EQ(ArgumentsAfterProgramName("setup.exe /S /D=x"), " /S /D=x");
  EXPECT_EQ(ArgumentsAfterProgramName("setup.exe"), "");
  EXPECT_EQ(SplitCommandLine(R"(a "b c" d\\"e f" g\"h \\\\x)"),
            (std::vector<std::string>{"a", "b c", "d\\e f", "g\"h", "\\\\\\\\x"}));
}

}  // namespace
}  // namespace vrt::install
