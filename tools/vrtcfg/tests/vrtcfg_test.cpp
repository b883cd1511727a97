// vrtcfg's commands on real files: what they write, what they say and their
// exit statuses.
#include <gtest/gtest.h>

#include <sstream>

#include "dit_codes.h"
#include "dit_image.h"
#include "editor_fakes.h"
#include "vrtcfg_cli.h"

namespace vrt::vrtcfg {
namespace {

using editor::testing::ReadBytes;
using editor::testing::ReadText;
using editor::testing::SameExceptSaveTime;
using editor::testing::ScratchFolder;
using editor::testing::WriteText;

const std::string kData = VRTCFG_TEST_DATA;

struct Command {
  explicit Command(const std::vector<std::string>& arguments) { status = RunVrtcfg(arguments, out, err); }
  int status = -1;
  std::ostringstream out;
  std::ostringstream err;
};

bool Contains(const std::ostringstream& stream, const std::string& text) {
  return stream.str().find(text) != std::string::npos;
}

// The text without its title line and carriage returns.
std::string Body(std::string text) {
  std::erase(text, '\r');
  return text.substr(text.find('\n') + 1);
}

TEST(VrtcfgImport, GivesTheFileTheEditorSaves) {
  ScratchFolder folder;
  Command run({"import", kData + "/plant.csv", folder.Path("PLANT.VRT")});
  EXPECT_EQ(run.status, kExitDone) << run.err.str();
  EXPECT_TRUE(Contains(run.out, "3 channels, 6 devices, 12 poll records"));
  EXPECT_TRUE(SameExceptSaveTime(ReadBytes(folder.Path("PLANT.VRT")), ReadBytes(kData + "/plant.vrt")));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("VRTDIDW.ERR")));
}

TEST(VrtcfgBackupPort, SetsTheBackupLinkInPlaceAndRefusesWhatCannotBe) {
  ScratchFolder folder;
  const std::string file = folder.Path("PLANT.VRT");
  ASSERT_EQ(Command({"import", kData + "/plant.csv", file}).status, kExitDone);
  Command run({"backup-port", file, "1", "2"});
  EXPECT_EQ(run.status, kExitDone) << run.err.str();
  std::vector<std::uint8_t> bytes = ReadBytes(file);
  DitImage image(bytes.data(), bytes.size());
  ASSERT_EQ(CheckImage(image, {32, 1024}), ImageCheck::kGood);
  EXPECT_EQ(image.Channel(0)->backup.port, 1);
  EXPECT_EQ(image.Channel(1)->backup.port, kNoPort);

  EXPECT_EQ(Command({"backup-port", file, "1", "None"}).status, kExitDone);
  bytes = ReadBytes(file);
  EXPECT_EQ(DitImage(bytes.data(), bytes.size()).Channel(0)->backup.port, kNoPort);

  EXPECT_EQ(Command({"backup-port", file, "1", "1"}).status, kExitFailed);   // its primary port
  EXPECT_EQ(Command({"backup-port", file, "9", "2"}).status, kExitFailed);   // no such channel
  EXPECT_EQ(Command({"backup-port", file, "1", "33"}).status, kExitFailed);  // no such port
  EXPECT_EQ(Command({"backup-port", file, "1", "x"}).status, kExitFailed);
  WriteText(folder.Path("BAD.VRT"), "not a configuration");
  EXPECT_EQ(Command({"backup-port", folder.Path("BAD.VRT"), "1", "2"}).status, kExitFailed);
}

TEST(VrtcfgExport, ThenImportReproducesTheTextAndTheFile) {
  ScratchFolder folder;
  Command exported({"export", kData + "/plant.vrt", folder.Path("BACK.CSV")});
  ASSERT_EQ(exported.status, kExitDone) << exported.err.str();
  EXPECT_EQ(Body(ReadText(folder.Path("BACK.CSV"))), Body(ReadText(kData + "/plant.csv")));
  Command imported({"import", folder.Path("BACK.CSV"), folder.Path("AGAIN.VRT")});
  ASSERT_EQ(imported.status, kExitDone) << imported.err.str();
  EXPECT_TRUE(SameExceptSaveTime(ReadBytes(folder.Path("AGAIN.VRT")), ReadBytes(kData + "/plant.vrt")));
}

TEST(VrtcfgExport, UsesTheSeparatorAskedFor) {
  ScratchFolder folder;
  Command exported({"export", kData + "/plant.vrt", folder.Path("SEMI.CSV"), "--separator", ";"});
  ASSERT_EQ(exported.status, kExitDone);
  const std::string text = ReadText(folder.Path("SEMI.CSV"));
  EXPECT_NE(text.find("BOILER1;1;Boiler house, east wall;EVR420"), std::string::npos) << text;
  Command imported({"import", folder.Path("SEMI.CSV"), folder.Path("SEMI.VRT"), "--separator", ";"});
  ASSERT_EQ(imported.status, kExitDone) << imported.err.str();
  EXPECT_TRUE(SameExceptSaveTime(ReadBytes(folder.Path("SEMI.VRT")), ReadBytes(kData + "/plant.vrt")));
}

TEST(VrtcfgImport, ErrorsGoToStandardErrorAndTheErrorFileBesideTheOutput) {
  ScratchFolder folder;
  std::string text = ReadText(kData + "/plant.csv");
  text += "13,NOBODY,Unsigned,1,300,Disabled,0,DIT:0,1\n";
  WriteText(folder.Path("BAD.CSV"), text);
  Command run({"import", folder.Path("BAD.CSV"), folder.Path("OUT.VRT")});
  EXPECT_EQ(run.status, kExitProblems);
  EXPECT_TRUE(Contains(run.err, "Line Number  28 : DEVICE NAME  not found. Line ignored!"));
  EXPECT_TRUE(Contains(run.err, "1 Errors detected during import. Errors reported to file " + folder.Path("") +
                                    "VRTDIDW.ERR"));
  std::string errors = ReadText(folder.Path("VRTDIDW.ERR"));
  std::erase(errors, '\r');
  EXPECT_EQ(errors, "Line Number  28 : DEVICE NAME  not found. Line ignored!\n");
  // What could be imported is saved.
  EXPECT_TRUE(SameExceptSaveTime(ReadBytes(folder.Path("OUT.VRT")), ReadBytes(kData + "/plant.vrt")));

  Command chosen({"import", folder.Path("BAD.CSV"), folder.Path("OUT.VRT"), "--errors", folder.Path("MINE.ERR")});
  EXPECT_EQ(chosen.status, kExitProblems);
  EXPECT_TRUE(std::filesystem::exists(folder.Path("MINE.ERR")));
}

TEST(VrtcfgImport, AnImportWithNothingToSaveFails) {
  ScratchFolder folder;
  WriteText(folder.Path("EMPTY.CSV"), "[ nothing ]\n");
  Command run({"import", folder.Path("EMPTY.CSV"), folder.Path("OUT.VRT")});
  EXPECT_EQ(run.status, kExitFailed);
  EXPECT_TRUE(Contains(run.err, "Save Failed. The configuration holds no Poll Record."));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("OUT.VRT")));
}

TEST(VrtcfgCheck, AGoodFileHasNoProblems) {
  Command vrt({"check", kData + "/plant.vrt"});
  EXPECT_EQ(vrt.status, kExitDone) << vrt.out.str() << vrt.err.str();
  EXPECT_TRUE(Contains(vrt.out, "0 problems found"));
  Command csv({"check", kData + "/plant.csv"});
  EXPECT_EQ(csv.status, kExitDone) << csv.out.str() << csv.err.str();
}

TEST(VrtcfgCheck, ReportsEveryProblemOfACsv) {
  ScratchFolder folder;
  std::string text = ReadText(kData + "/plant.csv");
  text += "13,PUMPS,Unsigned,1,300,Analog,0,DIT:400,1\n";  // each field fine alone
  text += "14,PUMPS,Unsigned,1,300,Disabled,0,DIT:3000,1\n";
  text += "15,PUMPS,Unsigned,99999,300,Disabled,0,DIT:500,1\n";
  WriteText(folder.Path("MIXED.CSV"), text);
  Command run({"check", folder.Path("MIXED.CSV")});
  EXPECT_EQ(run.status, kExitProblems);
  EXPECT_TRUE(Contains(run.out, "Line Number  30 : Invalid Poll Time (Valid Range   0.00 - 86400.00)"));
  EXPECT_TRUE(Contains(run.out, "Device PUMPS, Poll Record 3: Invalid for exception based poll record (Valid entry: "
                                "DISABLED)"));
  EXPECT_TRUE(Contains(run.out, "Device PUMPS, Poll Record 4: Start address beyond DIT:2047"));
  EXPECT_TRUE(Contains(run.out, "3 problems found"));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("VRTDIDW.ERR")));
}

TEST(VrtcfgCheck, ACorruptFileIsAProblem) {
  ScratchFolder folder;
  std::vector<std::uint8_t> bytes = ReadBytes(kData + "/plant.vrt");
  bytes.resize(bytes.size() / 2);
  editor::testing::WriteBytes(folder.Path("HALF.VRT"), bytes);
  Command run({"check", folder.Path("HALF.VRT")});
  EXPECT_EQ(run.status, kExitProblems);
  EXPECT_TRUE(Contains(run.err, "The Configuration file is corrupt, Please re-save: File Open Error"));
  Command exported({"export", folder.Path("HALF.VRT"), folder.Path("HALF.CSV")});
  EXPECT_EQ(exported.status, kExitFailed);
  EXPECT_FALSE(std::filesystem::exists(folder.Path("HALF.CSV")));
}

TEST(VrtcfgDump, ListsHeaderRecordsOffsetsAndAreas) {
  Command run({"dump", kData + "/plant.vrt"});
  EXPECT_EQ(run.status, kExitDone) << run.err.str();
  EXPECT_TRUE(Contains(run.out, "File: 19946 bytes, preamble lengths 19946 and 19946"));
  EXPECT_TRUE(Contains(run.out, "format 279"));
  EXPECT_TRUE(Contains(run.out, "channels 3 (record size 108), devices 6 (record size 124), poll records 12"));
  EXPECT_TRUE(Contains(run.out, "Channel 2 at "));
  EXPECT_TRUE(Contains(run.out, "port COM25: (byte 24, value 24)"));
  EXPECT_TRUE(Contains(run.out, "Device 1 \"BOILER2\""));
  EXPECT_TRUE(Contains(run.out, "EVENT:0, length 14"));
  EXPECT_TRUE(Contains(run.out, "areas: 1 at 82 size 32, 2 at 114 size 32, 3 at 146 size 32, 4 at 178 size 2048, "
                                "5 at 2226 size 0"));
}

TEST(VrtcfgDump, NamesWhatLiesOutsideACutFile) {
  ScratchFolder folder;
  std::vector<std::uint8_t> bytes = ReadBytes(kData + "/plant.vrt");
  bytes.resize(bytes.size() - 100);
  editor::testing::WriteBytes(folder.Path("CUT.VRT"), bytes);
  Command run({"dump", folder.Path("CUT.VRT")});
  EXPECT_EQ(run.status, kExitProblems);
  EXPECT_TRUE(Contains(run.out, "(outside the file)"));
}

TEST(VrtcfgUsage, MissingFilesWrongTypesAndBadOptions) {
  ScratchFolder folder;
  Command missing({"export", folder.Path("NONE.VRT"), folder.Path("X.CSV")});
  EXPECT_EQ(missing.status, kExitFailed);
  EXPECT_TRUE(Contains(missing.err, "cannot read " + folder.Path("NONE.VRT")));
  Command missingCsv({"import", folder.Path("NONE.CSV"), folder.Path("X.VRT")});
  EXPECT_EQ(missingCsv.status, kExitFailed);
  Command wrongType({"import", kData + "/plant.vrt", folder.Path("X.VRT")});
  EXPECT_EQ(wrongType.status, kExitFailed);
  EXPECT_TRUE(Contains(wrongType.err, "Invalid File Type specified."));
  EXPECT_EQ(Command({"check", kData + "/notes.txt"}).status, kExitFailed);
  EXPECT_EQ(Command({"import", kData + "/plant.csv"}).status, kExitFailed);
  EXPECT_EQ(Command({"frobnicate"}).status, kExitFailed);
  EXPECT_EQ(Command({}).status, kExitFailed);
  EXPECT_EQ(Command({"dump", kData + "/plant.vrt", "--verbose"}).status, kExitFailed);
  Command badSeparator({"export", kData + "/plant.vrt", folder.Path("X.CSV"), "--separator", "\""});
  EXPECT_EQ(badSeparator.status, kExitFailed);
  EXPECT_TRUE(Contains(badSeparator.err, "--separator needs one character"));
  EXPECT_EQ(Command({"export", kData + "/plant.vrt", folder.Path("X.CSV"), "--separator"}).status, kExitFailed);
  Command help({"--help"});
  EXPECT_EQ(help.status, kExitDone);
  EXPECT_TRUE(Contains(help.out, "vrtcfg import IN.CSV OUT.VRT"));
}

}  // namespace
}  // namespace vrt::vrtcfg
