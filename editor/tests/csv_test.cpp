// CSV export and import: the text format, quoting both ways, every import
// rule with its message and line number, and round trips through the file.
#include <gtest/gtest.h>

#include "csv.h"
#include "doc_file.h"
#include "editor_fakes.h"

namespace vrt::editor {
namespace {

using testing::Editor;
using testing::MemoryErrorSink;
using testing::ScratchFolder;

constexpr char kChannelHeader[] =
    "!CHANNEL,DISPLAY ALARMS,PORT,BAUD RATE,DATA BITS,PARITY,FLOW,STOP BITS,REPLY TIMEOUT,DELAY,RETRIES,BACKUP "
    "PORT,BACKUP BAUDRATE,BACKUP DATA BITS,BACKUP PARITY,BACKUP FLOW,BACKUP STOP BITS,BACKUP REPLY TIMEOUT,BACKUP "
    "DELAY,BACKUP RETRIES\n";
constexpr char kDeviceHeader[] =
    "!DEVICE NAME,CHANNEL,DESCRIPTION,Hardware,Primary Tavex Addr,Backup Tavex Addr,Queue Head\n";
constexpr char kPollHeader[] =
    "!IOREC,DEVICE NAME,DATA TYPE,POLL TIME,ACCESS TIME,EXCEPTION,DEAD BAND,START ADDR,LENGTH\n";
constexpr char kChannelLine[] = "1,Yes,COM1:,9600,8,None,None,1,1.0,10.0,3,None,9600,8,None,None,1,1.0,10.0,3\n";

// Imports `text` with the errors kept in memory.
struct Imported {
  explicit Imported(const std::string& text, char separator = ',') {
    editor.reporter.BeginImport(errors);
    ImportCsvText(editor.doc, text, separator, editor.reporter);
    count = editor.reporter.EndImport();
  }
  Editor editor;
  MemoryErrorSink errors;
  int count = 0;
};

TEST(CsvFields, SplittingFollowsQuotesAndSkipsLeadingBlanks) {
  EXPECT_EQ(SplitCsvLine("a, b ,\"c,d\",\"e\"\"f\",", ',').fields,
            (std::vector<std::string>{"a", "b ", "c,d", "e\"f", ""}));
  EXPECT_EQ(SplitCsvLine("x;\"y;z\";w,v", ';').fields, (std::vector<std::string>{"x", "y;z", "w,v"}));
  EXPECT_EQ(SplitCsvLine("\"\",\" lead\"", ',').fields, (std::vector<std::string>{"", " lead"}));
  EXPECT_EQ(SplitCsvLine("\"ab\"cd,e", ',').fields, (std::vector<std::string>{"abcd", "e"}));
  EXPECT_TRUE(SplitCsvLine("a,\"open, never closed", ',').unclosedQuote);
  EXPECT_TRUE(SplitCsvLine("\"", ',').unclosedQuote);
}

TEST(CsvFields, QuotingOnExport) {
  EXPECT_EQ(QuoteCsvField("plain", ','), "plain");
  EXPECT_EQ(QuoteCsvField("a,b", ','), "\"a,b\"");
  EXPECT_EQ(QuoteCsvField("a,b", ';'), "a,b");
  EXPECT_EQ(QuoteCsvField("a;b", ';'), "\"a;b\"");
  EXPECT_EQ(QuoteCsvField("say \"hi\"", ','), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(QuoteCsvField(" lead", ','), "\" lead\"");
  EXPECT_EQ(QuoteCsvField("[name", ','), "\"[name\"");
  EXPECT_EQ(JoinCsvFields({"a", "b,c", ""}, ','), "a,\"b,c\",");
}

TEST(CsvFields, SeparatorComesFromTheListSettingOrIsAComma) {
  EXPECT_EQ(SeparatorFromListSetting(std::string(";")), ';');
  EXPECT_EQ(SeparatorFromListSetting(std::string(";x")), ';');
  EXPECT_EQ(SeparatorFromListSetting(std::nullopt), ',');
  EXPECT_EQ(SeparatorFromListSetting(std::string()), ',');
  EXPECT_EQ(SeparatorFromListSetting(std::string("\"")), ',');
  EXPECT_EQ(SeparatorFromListSetting(std::string(" ")), ',');
  // Control characters, DEL included, are no separators; '~' just below DEL is.
  EXPECT_EQ(SeparatorFromListSetting(std::string("\x1F")), ',');
  EXPECT_EQ(SeparatorFromListSetting(std::string("\x7F")), ',');
  EXPECT_EQ(SeparatorFromListSetting(std::string("~")), '~');
}

TEST(CsvExport, WritesTheTitleAndTheThreeSections) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 1, 2);
  editor.doc.AddChannel();  // a channel without devices
  const std::optional<std::string> text = ExportCsvText(editor.doc, ',', editor.clock.LocalTime());
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, std::string("[ VRT  , Monday December 07 2026, 01:54 AM ]\n") + kChannelHeader +
                       "1,Yes,COM1:,9600,8,None,None,1,0.5,5.0,0,None,9600,8,None,None,1,1.0,10.0,3\n"
                       "2,Yes,None,9600,8,None,None,1,1.0,10.0,3,None,9600,8,None,None,1,1.0,10.0,3\n"
                       "\n" +
                       kDeviceHeader +
                       "S1_1,1,Station 0,EVR420,0,65535,1\n"
                       "\n" +
                       kPollHeader +
                       "1,S1_1,Unsigned,1.5,300.0,Disabled,0.00000,DIT:0,1\n"
                       "2,S1_1,Signed,1.5,Disabled,Analog,0.50000,DIT:20,2\n");
}

TEST(CsvExport, TitleLineTellsTheLocalTimeInTwelveHours) {
  std::tm time{};
  time.tm_year = 2027 - 1900;
  time.tm_mon = 0;
  time.tm_mday = 3;
  time.tm_wday = 0;
  time.tm_hour = 13;
  time.tm_min = 5;
  EXPECT_EQ(CsvTitleLine(time), "[ VRT  , Sunday January 03 2027, 01:05 PM ]");
  time.tm_hour = 0;
  EXPECT_EQ(CsvTitleLine(time), "[ VRT  , Sunday January 03 2027, 12:05 AM ]");
}

// Around noon and midnight: 00:xx is 12 AM, 12:xx is 12 PM.
TEST(CsvExport, TitleLineAroundNoonAndMidnight) {
  std::tm time{};
  time.tm_year = 2027 - 1900;
  time.tm_mday = 3;
  time.tm_min = 59;
  const std::pair<int, const char*> hours[] = {{23, "11:59 PM"}, {0, "12:59 AM"}, {1, "01:59 AM"},
                                               {11, "11:59 AM"}, {12, "12:59 PM"}, {13, "01:59 PM"}};
  for (const auto& [hour, shown] : hours) {
    time.tm_hour = hour;
    EXPECT_EQ(CsvTitleLine(time), std::string("[ VRT  , Sunday January 03 2027, ") + shown + " ]") << hour;
  }
}

TEST(CsvExport, DevicesWithoutPollRecordsAreLeftOut) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 2, 1, 1);
  editor.doc.Channels()[1]->Devices()[0]->DeletePollRecords();
  const std::string text = *ExportCsvText(editor.doc, ',', editor.clock.LocalTime());
  EXPECT_NE(text.find("\n2,Yes,COM2:"), std::string::npos);  // its channel stays
  EXPECT_EQ(text.find("S2_1"), std::string::npos);
}

TEST(CsvExport, NothingIsWrittenForADocumentWithoutChannels) {
  ScratchFolder folder;
  Editor editor;
  EXPECT_FALSE(ExportCsvText(editor.doc, ',', editor.clock.LocalTime()));
  EXPECT_FALSE(ExportCsv(editor.doc, folder.Path("EMPTY.CSV"), ',', editor.services));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("EMPTY.CSV")));
}

TEST(CsvExport, WithSemicolonsACommaStaysAndASemicolonIsQuoted) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 2, 1);
  CDevice& first = *editor.doc.Channels()[0]->Devices()[0];
  CDevice& second = *editor.doc.Channels()[0]->Devices()[1];
  ASSERT_EQ(first.SetDescriptionFromText("Tank 1, north", editor.reporter), 0);
  ASSERT_EQ(second.SetDescriptionFromText("Tank 2; south", editor.reporter), 0);
  const std::string text = *ExportCsvText(editor.doc, ';', editor.clock.LocalTime());
  EXPECT_NE(text.find("S1_1;1;Tank 1, north;"), std::string::npos) << text;
  EXPECT_NE(text.find("S1_2;1;\"Tank 2; south\";"), std::string::npos) << text;
  EXPECT_NE(text.find("!CHANNEL;DISPLAY ALARMS;PORT;"), std::string::npos);
}

TEST(CsvImport, ReadsWhatWasExported) {
  Imported imported(std::string("[ comment ]\n") + kChannelHeader +
                    "2,No,COM25:,19200,7,Even,RTS/CTS,2,0.125,5,2,None,9600,8,None,None,1,1.0,10.0,3\n\n" +
                    kDeviceHeader + "D10,2,\"He said \"\"hi\"\"\",ZOLT,127,3,2\n\n" + kPollHeader +
                    "1,D10,Digital,0.5,Disabled,Digital,1.5,DIT:200,4\n");
  EXPECT_EQ(imported.count, 0) << imported.errors.lines.front();
  const CDidDoc& doc = imported.editor.doc;
  ASSERT_EQ(doc.ChannelCount(), 1);
  const CChannel& channel = *doc.Channels()[0];
  EXPECT_EQ(channel.Number(), 2);
  EXPECT_EQ(channel.PortText(LinkRole::kPrimary), "COM25:");
  EXPECT_EQ(channel.FlowControlText(LinkRole::kPrimary), "RTS/CTS");
  EXPECT_EQ(channel.ReplyTimeoutText(LinkRole::kPrimary), "0.13");
  EXPECT_EQ(channel.DisplayAlarmsText(), "No");
  const CDevice& device = *channel.Devices()[0];
  EXPECT_EQ(device.Description(), "He said \"hi\"");
  EXPECT_EQ(device.QueueHead(), 2);
  const CPollRecord& record = *device.PollRecords()[0];
  EXPECT_EQ(record.StartText(), "DIT:200");
  EXPECT_EQ(record.EndText(), "DIT:203");
  EXPECT_EQ(record.DataTypeText(), "Digital");
  EXPECT_EQ(record.ExceptionText(), "Digital");
}

TEST(CsvImport, ADeviceNamingAChannelNotYetImportedIsDiscarded) {
  Imported imported(std::string(kChannelHeader) + kChannelLine + kDeviceHeader + "D30,3,,EVR420,1,1,1\n" +
                    kChannelHeader + "3,Yes,COM3:,9600,8,None,None,1,1.0,10.0,3,None,9600,8,None,None,1,1.0,10.0,3\n" +
                    kDeviceHeader + "D31,3,,EVR420,1,1,1\n");
  EXPECT_EQ(imported.errors.lines,
            std::vector<std::string>{"Line Number   4 : CHANNEL NUMBER not found. Line ignored!"});
  EXPECT_EQ(imported.editor.doc.FindDevice("D30"), nullptr);
  ASSERT_NE(imported.editor.doc.FindDevice("D31"), nullptr);
  EXPECT_EQ(imported.editor.doc.FindDevice("D31")->Channel()->Number(), 3);
}

TEST(CsvImport, APollRecordFindsItsDeviceWithoutRegardToCase) {
  Imported imported(std::string(kChannelHeader) + kChannelLine + kDeviceHeader + "Pump,1,,EVR420,1,1,1\n" +
                    kPollHeader + "1,PUMP,Unsigned,1,300,Disabled,0,DIT:0,4\n");
  EXPECT_EQ(imported.count, 0);
  EXPECT_EQ(imported.editor.doc.FindDevice("Pump")->PollRecords().size(), 1u);
}

TEST(CsvImport, ExactNamesWinOverNamesThatDifferOnlyInCase) {
  Imported imported(std::string(kChannelHeader) + kChannelLine + kDeviceHeader + "d1,1,,EVR420,1,1,1\n" +
                    "D1,1,,EVR420,2,2,2\n" + kPollHeader + "1,D1,Unsigned,1,300,Disabled,0,DIT:0,4\n" +
                    "2,d1,Unsigned,1,300,Disabled,0,DIT:0,8\n");
  EXPECT_EQ(imported.count, 0);
  EXPECT_EQ(imported.editor.doc.FindDevice("D1")->PollRecords()[0]->LengthText(), "4");
  EXPECT_EQ(imported.editor.doc.FindDevice("d1")->PollRecords()[0]->LengthText(), "8");
}

TEST(CsvImport, OverlappingRecordsNameTheLineAndThePosition) {
  Imported imported(std::string(kChannelHeader) + kChannelLine + kDeviceHeader + "D10,1,,EVR420,1,1,1\n" +
                    kPollHeader + "1,D10,Unsigned,1,300,Disabled,0,DIT:10,10\n" +
                    "2,D10,Unsigned,1,300,Disabled,0,DIT:15,16\n" + "3,D10,Unsigned,1,300,Disabled,0,EVENT,1\n");
  EXPECT_EQ(imported.errors.lines,
            std::vector<std::string>{"Line Number   7 : Address already defined in Poll Record 1"});
  const CDevice& device = *imported.editor.doc.FindDevice("D10");
  ASSERT_EQ(device.PollRecords().size(), 2u);
  EXPECT_EQ(device.PollRecords()[1]->StartText(), "EVENT:0");
  EXPECT_EQ(device.PollRecords()[1]->LengthText(), "14");
}

TEST(CsvImport, EveryFieldMessageCarriesItsLineNumber) {
  Imported imported(std::string(kChannelHeader) +
                    "1,Maybe,COM1,9600,9,None,None,1,0.01,0,10,None,9600,8,None,None,1,1.0,10.0,3\n" +
                    kDeviceHeader + "D10,1," + std::string(36, 'x') + ",EVR420,1,1,1\n" + kPollHeader +
                    "1,D10,Long,86401,300,Sometimes,-1,DIT:0,4\n");
  EXPECT_EQ(imported.errors.lines,
            (std::vector<std::string>{"Line Number   2 : Invalid DISPLAY ALARM specified.",
                                      "Line Number   2 : Invalid PORT specified.",
                                      "Line Number   2 : Invalid DATA BITS specified.",
                                      "Line Number   2 : Invalid Reply Timeout Value (Valid Range   0.10 - 1800.00)",
                                      "Line Number   2 : Invalid Delay Value (Valid Range   0.00 - 3600.00)",
                                      "Line Number   2 : Invalid Retry Value (Valid Range 0 - 9)",
                                      "Line Number   4 : DEVICE DESCRIPTION is more than the maximum length.",
                                      "Line Number   6 : Invalid Poll Time (Valid Range   0.00 - 86400.00)",
                                      "Line Number   6 : EXCEPTION specified is invalid",
                                      "Line Number   6 : DEAD BAND specified is invalid.",
                                      "Line Number   6 : DATA TYPE specified is valid."}));
  EXPECT_EQ(imported.count, 11);
  // Refused values keep their defaults and the objects are kept.
  const CChannel& channel = *imported.editor.doc.Channels()[0];
  EXPECT_EQ(channel.DisplayAlarmsText(), "Yes");
  EXPECT_EQ(channel.ReplyTimeoutText(LinkRole::kPrimary), "1.0");
  const CPollRecord& record = *imported.editor.doc.FindDevice("D10")->PollRecords()[0];
  EXPECT_EQ(record.PollTimeText(), "1.0");
  EXPECT_EQ(record.DataTypeText(), "Unsigned");
}

TEST(CsvImport, LinesThatCannotBeUsedAreReportedAndSkipped) {
  Imported imported(std::string(kChannelHeader) + ",Yes\n" + "x,Yes\n" + kChannelLine + kDeviceHeader + "\n" +
                    ",1\n" + "A:B,1\n" + "D10,1\n" + "D10,1,dup\n" + "D11\n" + kPollHeader +
                    ",D10,Unsigned,1,300,Disabled,0,DIT:0,4\n" + "1,NOPE,Unsigned,1,300,Disabled,0,DIT:0,4\n" +
                    "1,D10,Unsigned,1,300,Disabled,0,DIT:0\n" + "1,D10,Unsigned,1,300,Disabled,0,DIT0,4\n" +
                    "1,D10,Unsigned,1,300,Disabled,0,DIT:4097,4\n" + "1,D10,Unsigned,1,300,Disabled,0,DIT:0,65\n" +
                    "1,D10,Unsigned,1,300,Disabled,0,DIT:0,4\n");
  EXPECT_EQ(imported.errors.lines,
            (std::vector<std::string>{
                "Line Number   2 : CHANNEL NUMBER not found. Line ignored!",
                "Line Number   3 : CHANNEL NUMBER not found. Line ignored!",
                "Line Number   7 : DEVICE NAME  not found. Line ignored!",
                "Line Number   8 : The devicename may not include any of the following characters \":,|&",
                "Line Number  10 : Device Name already Exists",
                "Line Number  11 : CHANNEL NUMBER not found. Line ignored!",
                "Line Number  13 : IOREC Number not found. Line ignored.",
                "Line Number  14 : DEVICE NAME  not found. Line ignored!",
                "Line Number  15 : IOREC fields missing, LENGTH not found. Line ignored!",
                "Line Number  16 : START ADDR specified is invalid. Line ignored!",
                "Line Number  17 : Address is out of range\n\r(Valid Range is 0 to 4096)",
                "Line Number  18 : Invalid Length\n\r[Valid Range 1 - 64]"}));
  const CDevice& device = *imported.editor.doc.FindDevice("D10");
  EXPECT_EQ(device.Description(), "");  // a device line that ends early keeps what it read
  EXPECT_EQ(device.PollRecords().size(), 1u);
  EXPECT_EQ(imported.editor.doc.DeviceTotal(), 1);
}

TEST(CsvImport, AChannelLineThatEndsEarlyKeepsItsDefaults) {
  Imported imported(std::string(kChannelHeader) + "5,No,COM2:\n");
  EXPECT_EQ(imported.count, 0);
  const CChannel& channel = *imported.editor.doc.Channels()[0];
  EXPECT_EQ(channel.Number(), 5);
  EXPECT_EQ(channel.DisplayAlarmsText(), "No");
  EXPECT_EQ(channel.PortText(LinkRole::kPrimary), "COM2:");
  EXPECT_EQ(channel.BaudRateText(LinkRole::kPrimary), "9600");
}

TEST(CsvImport, SectionsCommentsAndLineCounting) {
  Imported imported(std::string("1,Yes\n") + "  [ a comment ]\n" + "!ASP,X\n" + "anything,at,all\n" +
                    "!CHANEL,X\n" + "1,Yes\n" + "! channel ,x\n" + "\n" + "  7,Yes\n");
  EXPECT_EQ(imported.errors.lines,
            std::vector<std::string>{
                "Line Number   5 : Unknown keyword CHANEL. Lines up to the next keyword line ignored!"});
  ASSERT_EQ(imported.editor.doc.ChannelCount(), 1);
  EXPECT_EQ(imported.editor.doc.Channels()[0]->Number(), 7);
}

TEST(CsvImport, AVeryLongLineIsReportedOnceAndCountedAsOneLine) {
  Imported imported(std::string(kChannelHeader) + "1,Yes," + std::string(5000, 'x') + "\n" + ",Yes\n" +
                    std::string(1023, ' ') + "\n");
  EXPECT_EQ(imported.errors.lines,
            (std::vector<std::string>{"Line Number   2 : Line longer than 1023 characters. Line ignored!",
                                      "Line Number   3 : CHANNEL NUMBER not found. Line ignored!"}));
  EXPECT_EQ(imported.editor.doc.ChannelCount(), 0);
}

TEST(CsvImport, AnUnterminatedQuoteIgnoresTheLine) {
  Imported imported(std::string(kChannelHeader) + kChannelLine + kDeviceHeader + "D10,1,\"open description\n" +
                    "D11,1,\"closed\"\n");
  EXPECT_EQ(imported.errors.lines,
            std::vector<std::string>{"Line Number   4 : Quoted field not closed on its line. Line ignored!"});
  EXPECT_EQ(imported.editor.doc.FindDevice("D10"), nullptr);
  EXPECT_EQ(imported.editor.doc.FindDevice("D11")->Description(), "closed");
}

TEST(CsvImport, WindowsLineEndsAndSemicolons) {
  Imported imported(std::string("!CHANNEL;DISPLAY ALARMS\r\n") + "1;Yes;COM4:\r\n" + "!DEVICE NAME;CHANNEL\r\n" +
                        "\"D;1\";1;\"Tank 1, north\"\r\n" + "!IOREC\r\n" + "1;D;1;Signed;2;300;Disabled;0;DIT:1;2\r\n",
                    ';');
  EXPECT_EQ(imported.count, 1);  // "D" is no device: its line is reported
  const CDevice& device = *imported.editor.doc.FindDevice("D;1");
  EXPECT_EQ(device.Description(), "Tank 1, north");
  EXPECT_EQ(imported.editor.doc.Channels()[0]->PortText(LinkRole::kPrimary), "COM4:");
}

TEST(CsvImport, ChannelsBeyondSixteenAreRefused) {
  std::string text = kChannelHeader;
  for (int c = 1; c <= 17; ++c) text += std::to_string(c) + ",Yes\n";
  Imported imported(text);
  EXPECT_EQ(imported.errors.lines,
            std::vector<std::string>{"Line Number  18 : CHANNEL limit of 16 reached. Line ignored!"});
  EXPECT_EQ(imported.editor.doc.ChannelCount(), 16);
}

// The image holds at most 10000 poll records: the 10000th line is taken,
// the one after it is refused with its line number.
TEST(CsvImport, PollRecordsAreTakenUpToTheImagesLimitAndNoMore) {
  constexpr int kDevices = 5, kPerDevice = kMaxImagePollRecords / kDevices;
  std::string text = std::string(kChannelHeader) + kChannelLine + kDeviceHeader;
  for (int d = 0; d < kDevices; ++d) text += "P" + std::to_string(d) + ",1,,ZOLT," + std::to_string(d + 1) + ",1,1\n";
  text += kPollHeader;
  const int firstPollLine = 2 + 1 + kDevices + 1 + 1;
  for (int d = 0; d < kDevices; ++d) {
    for (int k = 0; k < kPerDevice; ++k) {
      text += "1,P" + std::to_string(d) + ",Unsigned,1,300,Disabled,0,DIT:" + std::to_string(k) + ",1\n";
    }
  }
  text += "1,P0,Unsigned,1,300,Disabled,0,DIT:" + std::to_string(kPerDevice) + ",1\n";
  Imported imported(text);
  EXPECT_EQ(imported.editor.doc.PollRecordTotal(), kMaxImagePollRecords);
  ASSERT_EQ(imported.errors.lines.size(), 1u);
  EXPECT_EQ(imported.errors.lines[0], "Line Number " + std::to_string(firstPollLine + kMaxImagePollRecords) +
                                          " : IOREC limit of 10000 reached. Line ignored!");
  EXPECT_EQ(imported.editor.doc.FindDevice("P0")->PollRecords().size(), static_cast<std::size_t>(kPerDevice));
}

// A channel holds 255 devices: the 255th line is taken, the 256th refused.
TEST(CsvImport, DevicesAreTakenUpToTheChannelsLimitAndNoMore) {
  std::string text = std::string(kChannelHeader) + kChannelLine + kDeviceHeader;
  for (int d = 1; d <= 256; ++d) text += "P" + std::to_string(d) + ",1\n";
  Imported imported(text);
  EXPECT_EQ(imported.editor.doc.Channels()[0]->Devices().size(), 255u);
  EXPECT_EQ(imported.errors.lines,
            std::vector<std::string>{"Line Number 259 : DEVICE limit of 255 per channel reached. Line ignored!"});
  EXPECT_NE(imported.editor.doc.FindDevice("P255"), nullptr);
  EXPECT_EQ(imported.editor.doc.FindDevice("P256"), nullptr);
}

TEST(CsvImportFile, ErrorsGoToTheErrorFileWhichIsLeftAloneWithoutErrors) {
  ScratchFolder folder;
  const std::string errorPath = folder.Path("VRTDIDW.ERR");
  testing::WriteText(errorPath, "from an earlier import\n");
  ErrorFile errorFile(errorPath);

  testing::WriteText(folder.Path("GOOD.CSV"), std::string(kChannelHeader) + kChannelLine);
  Editor good;
  const CsvImport clean = ImportCsv(good.doc, folder.Path("GOOD.CSV"), ',', errorFile, good.services);
  EXPECT_TRUE(clean.opened);
  EXPECT_EQ(clean.errors, 0);
  EXPECT_TRUE(good.ui.shown.empty());
  EXPECT_EQ(testing::ReadText(errorPath), "from an earlier import\n");
  EXPECT_EQ(good.doc.Title(), "Untitled");
  EXPECT_TRUE(good.doc.Modified());

  testing::WriteText(folder.Path("BAD.CSV"), std::string(kChannelHeader) + ",x\n" + kChannelLine + "y\n");
  Editor bad;
  const CsvImport failed = ImportCsv(bad.doc, folder.Path("BAD.CSV"), ',', errorFile, bad.services);
  EXPECT_EQ(failed.errors, 2);
  std::string contents = testing::ReadText(errorPath);
  std::erase(contents, '\r');
  EXPECT_EQ(contents,
            "Line Number   2 : CHANNEL NUMBER not found. Line ignored!\n"
            "Line Number   4 : CHANNEL NUMBER not found. Line ignored!\n");
  ASSERT_EQ(bad.ui.shown.size(), 1u);
  EXPECT_EQ(bad.ui.shown[0].text, "2 Errors detected during import. Errors reported to file " + errorPath);
  EXPECT_FALSE(bad.reporter.Importing());
}

TEST(CsvImportFile, AnErrorThatCannotBeWrittenIsShownAndNotCounted) {
  ScratchFolder folder;
  ErrorFile errorFile(folder.Path("missing/VRTDIDW.ERR"));
  testing::WriteText(folder.Path("BAD.CSV"), std::string(kChannelHeader) + ",x\n");
  Editor editor;
  const CsvImport result = ImportCsv(editor.doc, folder.Path("BAD.CSV"), ',', errorFile, editor.services);
  EXPECT_EQ(result.errors, 0);
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Failed to open document."});
}

TEST(CsvImportFile, AMissingFileGivesFailedToOpen) {
  ScratchFolder folder;
  MemoryErrorSink errors;
  Editor editor;
  const CsvImport result = ImportCsv(editor.doc, folder.Path("NONE.CSV"), ',', errors, editor.services);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Failed to open document."});
}

// VRT -> CSV -> VRT through files, with the given separator.
void ExpectRoundTrip(CDidDoc& original, char separator) {
  ScratchFolder folder;
  Editor editor;
  const std::vector<std::uint8_t> first = BuildImage(original, 1).bytes;
  ASSERT_FALSE(first.empty());
  CDidDoc loaded;
  ASSERT_TRUE(LoadImage(loaded, first).ok);
  ASSERT_TRUE(ExportCsv(loaded, folder.Path("PLANT.CSV"), separator, editor.services));
  MemoryErrorSink errors;
  Editor importer;
  const CsvImport imported = ImportCsv(importer.doc, folder.Path("PLANT.CSV"), separator, errors, importer.services);
  ASSERT_EQ(imported.errors, 0) << errors.lines.front();
  const std::vector<std::uint8_t> second = BuildImage(importer.doc, 2).bytes;
  EXPECT_TRUE(testing::SameExceptSaveTime(first, second));
}

TEST(CsvRoundTrip, ConfigurationThroughCsvAndBackIsByteIdentical) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 4, 5, 9);
  ExpectRoundTrip(editor.doc, ',');
}

TEST(CsvRoundTrip, AwkwardTextsAndValuesSurviveWithEitherSeparator) {
  for (char separator : {',', ';'}) {
    Editor editor;
    testing::BuildSample(editor.doc, editor.reporter, 2, 2, 3);
    CDevice& first = *editor.doc.Channels()[0]->Devices()[0];
    ASSERT_EQ(first.SetNameFromText("[odd", editor.reporter), 0);
    ASSERT_EQ(first.SetDescriptionFromText(" \"quoted\", ; [x]", editor.reporter), 0);
    ASSERT_EQ(editor.doc.Channels()[0]->Devices()[1]->SetNameFromText("!bang", editor.reporter), 0);
    CChannel& channel = *editor.doc.Channels()[1];
    ASSERT_EQ(channel.SetReplyTimeoutFromText(LinkRole::kPrimary, "0.125", editor.reporter), 0);
    ASSERT_EQ(channel.SetDelayFromText(LinkRole::kPrimary, "0.07", editor.reporter), 0);
    CPollRecord& record = *editor.doc.Channels()[1]->Devices()[0]->PollRecords()[0];
    ASSERT_EQ(record.SetPollTimeFromText("0.129", editor.reporter, EntryPath::kCsv), 0);
    ASSERT_EQ(record.SetDeadBandFromText("0.0000001", editor.reporter, EntryPath::kCsv), 0);
    CPollRecord& other = *editor.doc.Channels()[1]->Devices()[0]->PollRecords()[1];
    ASSERT_EQ(other.SetDeadBandFromText("-.00000", editor.reporter, EntryPath::kCsv), 0);  // written "0.00000"
    ExpectRoundTrip(editor.doc, separator);
  }
}

}  // namespace
}  // namespace vrt::editor
