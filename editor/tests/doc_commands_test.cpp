// The File commands by extension, the dialogs' starting points and the
// registry values they read.
#include <gtest/gtest.h>

#include "doc_commands.h"
#include "editor_fakes.h"

namespace vrt::editor {
namespace {

using testing::Editor;
using testing::ScratchFolder;

TEST(EditorFileDialogs, FilterAndStartingPoints) {
  EXPECT_EQ(FileDialogFilter(), "Config. Files (*.VRT)|*.VRT|Text Files (*.CSV)|*.CSV||");
  EXPECT_EQ(OpenDialogStart(std::string("C:\\CFG\\PLANT.VRT")).directory, "C:\\CFG\\");
  EXPECT_EQ(OpenDialogStart(std::nullopt).directory, "");
  const DialogStart saveAs = SaveAsDialogStart(std::string("C:\\CFG\\PLANT.VRT"));
  EXPECT_EQ(saveAs.directory, "C:\\CFG\\");
  EXPECT_EQ(saveAs.fileName, "PLANT");
  EXPECT_EQ(SaveAsDialogStart(std::nullopt).fileName, "DEFAULT.VRT");
  EXPECT_EQ(SaveAsDialogStart(std::nullopt).directory, "");
}

TEST(EditorHostValues, KeyChosenFromTheDriverPathAndTheErrorFileInPdbPath) {
  EXPECT_EQ(HostRegistryKey("C:\\Fix32\\VRTSPOLL.EXE"), "Software\\FixDMACS");
  EXPECT_EQ(HostRegistryKey("c:\\program files\\dynamics\\vrtspoll.exe"), "Software\\Fix Dynamics");
  EXPECT_EQ(HostRegistryKey("C:\\VRT\\VRTSPOLL.EXE"), std::nullopt);
  EXPECT_EQ(ImportErrorFilePath("C:\\FIX32\\PDB"), "C:\\FIX32\\PDB\\VRTDIDW.ERR");
  testing::MemorySettings settings;
  EXPECT_EQ(ImportErrorPathFor("D:\\in\\plant.csv", settings), "D:\\in\\VRTDIDW.ERR");
  settings.host["PDBPATH"] = "C:\\FIX32\\PDB";
  EXPECT_EQ(ImportErrorPathFor("D:\\in\\plant.csv", settings), "C:\\FIX32\\PDB\\VRTDIDW.ERR");
}

TEST(OpenAndSaveAs, GoByTheExtension) {
  ScratchFolder folder;
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 1, 2);
  ASSERT_TRUE(SaveDocumentAs(editor.doc, folder.Path("a.vrt"), ',', editor.services));
  ASSERT_TRUE(SaveDocumentAs(editor.doc, folder.Path("a.csv"), ',', editor.services));
  EXPECT_FALSE(SaveDocumentAs(editor.doc, folder.Path("a.txt"), ',', editor.services));
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Invalid File Type specified."});
  EXPECT_FALSE(std::filesystem::exists(folder.Path("a.txt")));

  Editor opener;
  ASSERT_TRUE(OpenDocumentFile(opener.doc, folder.Path("a.vrt"), ',', opener.services));
  EXPECT_EQ(opener.doc.PollRecordTotal(), 2);
  EXPECT_FALSE(opener.doc.Modified());
  ASSERT_TRUE(OpenDocumentFile(opener.doc, folder.Path("a.csv"), ',', opener.services));
  EXPECT_EQ(opener.doc.PollRecordTotal(), 2);
  EXPECT_TRUE(opener.doc.Modified());
  EXPECT_EQ(opener.doc.Title(), "Untitled");
  EXPECT_FALSE(OpenDocumentFile(opener.doc, folder.Path("a.txt"), ',', opener.services));
  EXPECT_EQ(opener.ui.Texts(), std::vector<std::string>{"Invalid File Type specified."});
  EXPECT_EQ(opener.doc.ChannelCount(), 0);  // cleared before the extension was looked at
}

TEST(OpenAndSaveAs, AnImportWritesItsErrorsBesideTheFileWithoutAHost) {
  ScratchFolder folder;
  testing::WriteText(folder.Path("bad.csv"), "!CHANNEL\n,Yes\n");
  Editor editor;
  ASSERT_TRUE(OpenDocumentFile(editor.doc, folder.Path("bad.csv"), ',', editor.services));
  std::string errors = testing::ReadText(folder.Path("VRTDIDW.ERR"));
  std::erase(errors, '\r');
  EXPECT_EQ(errors, "Line Number   2 : CHANNEL NUMBER not found. Line ignored!\n");
}

TEST(RecentFiles, TheLatestComesFirstOnceWhateverItsCaseAndTheListKeepsFour) {
  std::vector<std::string> recent;
  for (const char* path : {"C:\\A.VRT", "C:\\B.VRT", "C:\\C.VRT", "C:\\D.VRT"}) {
    recent = WithRecentFile(recent, path, 4);
  }
  recent = WithRecentFile(recent, "c:\\b.vrt", 4);
  EXPECT_EQ(recent, (std::vector<std::string>{"c:\\b.vrt", "C:\\D.VRT", "C:\\C.VRT", "C:\\A.VRT"}));
  recent = WithRecentFile(recent, "C:\\E.VRT", 4);
  EXPECT_EQ(recent, (std::vector<std::string>{"C:\\E.VRT", "c:\\b.vrt", "C:\\D.VRT", "C:\\C.VRT"}));
}

TEST(RecentFiles, AreKeptInTheProgramsIniFileInTheHostsLocalFolder) {
  EXPECT_EQ(ProgramSettingsFile("C:\\FIX32\\LOCAL", "C:\\VRT\\VRTDIDW.exe"), "C:\\FIX32\\LOCAL\\VRTDIDW.INI");
  EXPECT_EQ(ProgramSettingsFile("C:\\FIX32\\LOCAL\\", "C:\\VRT\\VRTDIDW.EXE"), "C:\\FIX32\\LOCAL\\VRTDIDW.INI");
  // Named after the program as it was started, dots in its folder aside.
  EXPECT_EQ(ProgramSettingsFile("D:\\LOC", "D:\\V1.2\\ED"), "D:\\LOC\\ED.INI");
  EXPECT_EQ(ProgramSettingsFile("D:\\LOC", "D:\\V1.2\\MyDidw.exe"), "D:\\LOC\\MyDidw.INI");
  // No host installation: no settings file.
  EXPECT_EQ(ProgramSettingsFile("", "C:\\VRT\\VRTDIDW.exe"), "");
}

}  // namespace
}  // namespace vrt::editor
