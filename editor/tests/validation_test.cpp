// The field rules at their bounds, with the messages the user sees.
#include <gtest/gtest.h>

#include "dit_items.h"
#include "editor_fakes.h"
#include "editor_messages.h"

namespace vrt::editor {
namespace {

using testing::RecordingUi;

class FieldValidation : public ::testing::Test {
 protected:
  // The one message shown since the last call, or "" when none was.
  std::string Shown() {
    if (ui.shown.empty()) return "";
    EXPECT_EQ(ui.shown.size(), 1u);
    const std::string text = ui.shown.back().text;
    EXPECT_EQ(ui.shown.back().icon, MessageIcon::kExclamation);
    ui.shown.clear();
    return text;
  }

  // A record of `device` with a DIT start and length, through the setters.
  CPollRecord& Record(CDevice& device, const std::string& start, const std::string& length) {
    auto record = std::make_unique<CPollRecord>();
    EXPECT_EQ(record->SetStartFromText(start, reporter, EntryPath::kView), 0);
    EXPECT_EQ(record->SetLengthFromText(length, reporter, EntryPath::kView), 0);
    return *device.AttachPollRecord(std::move(record));
  }

  RecordingUi ui;
  Reporter reporter{ui};
};

TEST_F(FieldValidation, DeviceNameOf11CharactersIsTakenAnd12AreRefused) {
  CDevice device;
  EXPECT_EQ(device.SetNameFromText("ABCDEFGHIJK", reporter), 0);
  EXPECT_EQ(device.Name(), "ABCDEFGHIJK");
  EXPECT_EQ(Shown(), "");
  EXPECT_EQ(device.SetNameFromText("ABCDEFGHIJKL", reporter), kMsgNameTooLong);
  EXPECT_EQ(Shown(), "DEVICE NAME is more than the maximum length.");
  EXPECT_EQ(device.Name(), "ABCDEFGHIJK");
}

TEST_F(FieldValidation, DeviceNameWithAForbiddenCharacterIsRefused) {
  CDevice device;
  for (const char* name : {"A:B", "A,B", "A|B", "A&B"}) {
    EXPECT_EQ(device.SetNameFromText(name, reporter), kMsgNameForbidden) << name;
    EXPECT_EQ(Shown(), "The devicename may not include any of the following characters \":,|&");
  }
  EXPECT_EQ(device.Name(), "");
  // From CSV, other characters (lower case too) are taken.
  EXPECT_EQ(device.SetNameFromText("d.1 x", reporter), 0);
}

TEST_F(FieldValidation, DescriptionOf35CharactersIsTakenAnd36AreRefused) {
  CDevice device;
  EXPECT_EQ(device.SetDescriptionFromText(std::string(35, 'x'), reporter), 0);
  EXPECT_EQ(device.SetDescriptionFromText(std::string(36, 'y'), reporter), kMsgDescriptionTooLong);
  EXPECT_EQ(Shown(), "DEVICE DESCRIPTION is more than the maximum length.");
  EXPECT_EQ(device.Description(), std::string(35, 'x'));
}

TEST_F(FieldValidation, StationsInTheViewLieIn0To127) {
  CDevice device;
  EXPECT_EQ(device.SetPrimaryStationFromText("127", reporter, EntryPath::kView), 0);
  EXPECT_EQ(device.PrimaryStation(), 127);
  EXPECT_EQ(device.SetPrimaryStationFromText("128", reporter, EntryPath::kView), kMsgStationRange);
  EXPECT_EQ(Shown(), "Invalid station number, valid range 0 - 127");
  EXPECT_EQ(device.PrimaryStation(), 127);
  EXPECT_EQ(device.SetBackupStationFromText("0", reporter, EntryPath::kView), 0);
  EXPECT_EQ(device.SetBackupStationFromText("12a", reporter, EntryPath::kView), kMsgEnterNumber);
  EXPECT_EQ(Shown(), "Please enter a number.");
  EXPECT_EQ(device.SetBackupStationFromText("-1", reporter, EntryPath::kView), kMsgEnterNumber);
  EXPECT_EQ(Shown(), "Please enter a number.");
  EXPECT_EQ(device.BackupStation(), 0);
}

TEST_F(FieldValidation, EmptyBlankOrDashMakeAStationUndefined) {
  CDevice device;
  for (const char* text : {"", " ", "-"}) {
    ASSERT_EQ(device.SetPrimaryStationFromText("5", reporter, EntryPath::kView), 0);
    EXPECT_EQ(device.SetPrimaryStationFromText(text, reporter, EntryPath::kView), 0);
    EXPECT_EQ(device.PrimaryStation(), kUndefined16);
    EXPECT_EQ(device.PrimaryStationText(EntryPath::kView), "-");
    EXPECT_EQ(device.PrimaryStationText(EntryPath::kCsv), "65535");
  }
}

TEST_F(FieldValidation, QueueHeadZeroIsRefusedWithBounds1And4) {
  CDevice device;
  EXPECT_EQ(device.SetQueueHeadFromText("0", reporter, EntryPath::kView), kMsgStationRange);
  EXPECT_EQ(Shown(), "Invalid station number, valid range 1 - 4");
  EXPECT_EQ(device.SetQueueHeadFromText("4", reporter, EntryPath::kView), 0);
  EXPECT_EQ(device.SetQueueHeadFromText("5", reporter, EntryPath::kView), kMsgStationRange);
  EXPECT_EQ(Shown(), "Invalid station number, valid range 1 - 4");
}

TEST_F(FieldValidation, CsvStationsTakeAnyNumberThatFitsSixteenBits) {
  CDevice device;
  EXPECT_EQ(device.SetPrimaryStationFromText("200", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(device.PrimaryStation(), 200);
  EXPECT_EQ(device.SetQueueHeadFromText("0", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(device.SetBackupStationFromText("65535", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(device.BackupStation(), kUndefined16);
  EXPECT_EQ(device.SetBackupStationFromText("65536", reporter, EntryPath::kCsv), kMsgStationRange);
  EXPECT_EQ(Shown(), "Invalid station number, valid range 0 - 65535");
  EXPECT_EQ(device.SetBackupStationFromText("x", reporter, EntryPath::kCsv), kMsgEnterNumber);
  EXPECT_EQ(Shown(), "Please enter a number.");
}

TEST_F(FieldValidation, ReplyTimeoutOf0point1IsTakenAnd0point09Refused) {
  CChannel channel;
  EXPECT_EQ(channel.SetReplyTimeoutFromText(LinkRole::kPrimary, "0.1", reporter), 0);
  EXPECT_EQ(channel.SetReplyTimeoutFromText(LinkRole::kPrimary, "0.09", reporter), kMsgReplyTimeout);
  EXPECT_EQ(Shown(), "Invalid Reply Timeout Value (Valid Range   0.10 - 1800.00)");
  EXPECT_EQ(channel.SetReplyTimeoutFromText(LinkRole::kBackup, "1800", reporter), 0);
  EXPECT_EQ(channel.SetReplyTimeoutFromText(LinkRole::kBackup, "1800.01", reporter), kMsgReplyTimeout);
  EXPECT_EQ(Shown(), "Invalid Reply Timeout Value (Valid Range   0.10 - 1800.00)");
  EXPECT_EQ(channel.ReplyTimeoutText(LinkRole::kPrimary), "0.1");
  EXPECT_EQ(channel.ReplyTimeoutText(LinkRole::kBackup), "1800.0");
}

TEST_F(FieldValidation, DelayOfZeroOrTextIsRefusedWithBounds0And3600) {
  CChannel channel;
  // 0.004 would be kept as 0 hundredths.
  for (const char* text : {"0", "abc", "-1", "3600.5", "0.004"}) {
    EXPECT_EQ(channel.SetDelayFromText(LinkRole::kPrimary, text, reporter), kMsgDelay) << text;
    EXPECT_EQ(Shown(), "Invalid Delay Value (Valid Range   0.00 - 3600.00)");
  }
  EXPECT_EQ(channel.SetDelayFromText(LinkRole::kPrimary, "3600", reporter), 0);
  EXPECT_EQ(channel.SetDelayFromText(LinkRole::kPrimary, "0.01", reporter), 0);
  EXPECT_EQ(channel.DelayText(LinkRole::kPrimary), "0.01");
  EXPECT_EQ(channel.SetDelayFromText(LinkRole::kPrimary, "0.005", reporter), 0);
  EXPECT_EQ(channel.DelayText(LinkRole::kPrimary), "0.01");
}

TEST_F(FieldValidation, RetriesLieIn0To9) {
  CChannel channel;
  EXPECT_EQ(channel.SetRetriesFromText(LinkRole::kPrimary, "9", reporter), 0);
  EXPECT_EQ(channel.SetRetriesFromText(LinkRole::kPrimary, "10", reporter), kMsgRetries);
  EXPECT_EQ(Shown(), "Invalid Retry Value (Valid Range 0 - 9)");
  EXPECT_EQ(channel.SetRetriesFromText(LinkRole::kPrimary, "many", reporter), kMsgRetries);
  EXPECT_EQ(Shown(), "Invalid Retry Value (Valid Range 0 - 9)");
  EXPECT_EQ(channel.RetriesText(LinkRole::kPrimary), "9");
}

TEST_F(FieldValidation, CodeTableFieldsReportTheirOwnMessage) {
  CChannel channel;
  const struct {
    int (CChannel::*setter)(LinkRole, std::string_view, Reporter&);
    const char* message;
  } cases[] = {{&CChannel::SetPortFromText, "Invalid PORT specified."},
               {&CChannel::SetBaudRateFromText, "Invalid BAUD RATE specified."},
               {&CChannel::SetDataBitsFromText, "Invalid DATA BITS specified."},
               {&CChannel::SetParityFromText, "Invalid PARITY specified."},
               {&CChannel::SetFlowControlFromText, "Invalid FLOW CONTROL specified."},
               {&CChannel::SetStopBitsFromText, "Invalid STOP BITS specified."}};
  for (const auto& entry : cases) {
    EXPECT_NE((channel.*entry.setter)(LinkRole::kBackup, "Q", reporter), 0);
    EXPECT_EQ(Shown(), entry.message);
  }
  EXPECT_NE(channel.SetDisplayAlarmsFromText("Maybe", reporter), 0);
  EXPECT_EQ(Shown(), "Invalid DISPLAY ALARM specified.");
  EXPECT_TRUE(channel.SameSettings(CChannel()));  // nothing was changed
}

TEST_F(FieldValidation, PortTextsSelectPortNumbers) {
  CChannel channel;
  EXPECT_EQ(channel.SetPortFromText(LinkRole::kPrimary, "COM25:", reporter), 0);
  EXPECT_EQ(channel.Link(LinkRole::kPrimary).port, 25);
  EXPECT_EQ(channel.PortText(LinkRole::kPrimary), "COM25:");
  EXPECT_EQ(channel.SetPortFromText(LinkRole::kPrimary, "None", reporter), 0);
  EXPECT_EQ(channel.Link(LinkRole::kPrimary).port, 0);
  EXPECT_EQ(channel.PortText(LinkRole::kPrimary), "None");
  channel.SetPort(LinkRole::kBackup, 256);
  EXPECT_EQ(channel.PortText(LinkRole::kBackup), "UNDEFINED");
}

TEST_F(FieldValidation, DitStart4090WithLength7EndsAt4096AndLength8IsRefused) {
  CPollRecord record;
  ASSERT_EQ(record.SetStartFromText("DIT:4090", reporter, EntryPath::kView), 0);
  EXPECT_EQ(record.SetLengthFromText("7", reporter, EntryPath::kView), 0);
  EXPECT_EQ(record.EndText(), "DIT:4096");
  EXPECT_EQ(record.SetLengthFromText("8", reporter, EntryPath::kView), kMsgAddressRange);
  EXPECT_EQ(Shown(), "Address is out of range\n\r(Valid Range is 0 to 4096)");
  EXPECT_EQ(record.Settings().length, 7);
}

TEST_F(FieldValidation, AddressTexts) {
  CPollRecord record;
  EXPECT_EQ(record.StartText(), "--Undefined---");
  EXPECT_EQ(record.SetStartFromText("DIT4", reporter, EntryPath::kView), kRejectedSilently);
  EXPECT_EQ(record.SetStartFromText("X:4", reporter, EntryPath::kView), kRejectedSilently);
  EXPECT_EQ(Shown(), "");
  EXPECT_EQ(record.SetStartFromText("DIT:4097", reporter, EntryPath::kView), kMsgAddressRange);
  EXPECT_EQ(Shown(), "Address is out of range\n\r(Valid Range is 0 to 4096)");
  for (const char* text : {"DIT:0", "DIT:4095", "DIT:4096"}) {  // both ends of the range
    CPollRecord fresh;
    EXPECT_EQ(fresh.SetStartFromText(text, reporter, EntryPath::kView), 0) << text;
    EXPECT_EQ(fresh.StartText(), text);
  }
  for (const char* text : {"DIT:12", "DIT;12", "DIT,12", "DIT.12", "DIT/12", "DIT\\12", "DIT 12", "D: 12"}) {
    CPollRecord fresh;
    EXPECT_EQ(fresh.SetStartFromText(text, reporter, EntryPath::kView), 0) << text;
    EXPECT_EQ(fresh.StartText(), "DIT:12") << text;
  }
  EXPECT_EQ(record.SetStartFromText("EVENT:99", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(record.StartText(), "EVENT:0");
  EXPECT_EQ(record.Settings().length, 14);
}

TEST_F(FieldValidation, LengthAndEndNeedAStartAndKeepTheirBounds) {
  CPollRecord record;
  EXPECT_EQ(record.SetLengthFromText("4", reporter, EntryPath::kView), kMsgStartFirst);
  EXPECT_EQ(Shown(), "A Start Address must be entered before an End Address or Length");
  EXPECT_EQ(record.SetEndFromText("DIT:4", reporter), kMsgStartFirst);
  EXPECT_EQ(Shown(), "A Start Address must be entered before an End Address or Length");

  ASSERT_EQ(record.SetStartFromText("DIT:100", reporter, EntryPath::kView), 0);
  EXPECT_EQ(record.Settings().length, 1);
  EXPECT_EQ(record.SetLengthFromText("65", reporter, EntryPath::kView), kMsgLengthRange);
  EXPECT_EQ(Shown(), "Invalid Length\n\r[Valid Range 1 - 64]");
  EXPECT_EQ(record.SetLengthFromText("0", reporter, EntryPath::kView), kMsgLengthRange);
  EXPECT_EQ(Shown(), "Invalid Length\n\r[Valid Range 1 - 64]");
  EXPECT_EQ(record.SetEndFromText("DIT:99", reporter), kMsgStartBeforeEnd);
  EXPECT_EQ(Shown(), "Start Address must be before End Address");
  EXPECT_EQ(record.SetEndFromText("DIT:163", reporter), 0);
  EXPECT_EQ(record.Settings().length, 64);
  EXPECT_EQ(record.SetEndFromText("DIT:164", reporter), kMsgLengthRange);
  EXPECT_EQ(Shown(), "Invalid Length\n\r[Valid Range 1 - 64]");
  // A new start keeps the end and recomputes the length.
  EXPECT_EQ(record.SetStartFromText("DIT:160", reporter, EntryPath::kView), 0);
  EXPECT_EQ(record.Settings().length, 4);
  EXPECT_EQ(record.SetStartFromText("DIT:164", reporter, EntryPath::kView), kMsgStartBeforeEnd);
  EXPECT_EQ(Shown(), "Start Address must be before End Address");
}

TEST_F(FieldValidation, EventRecordsHaveTheirFixedLength) {
  CPollRecord fromDialog;
  EXPECT_EQ(fromDialog.SetStartFromText("EVENT", reporter, EntryPath::kView), 0);
  EXPECT_EQ(fromDialog.Settings().length, 16);
  CPollRecord fromCsv;
  EXPECT_EQ(fromCsv.SetStartFromText("EVENT", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(fromCsv.SetLengthFromText("3", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(fromCsv.Settings().length, 14);
  EXPECT_EQ(fromCsv.LengthText(), "14");
}

TEST_F(FieldValidation, OverlappingRecordsOfADeviceAreRefusedWithThePositionOfTheOther) {
  CDevice device;
  Record(device, "DIT:10", "10");  // 10..19
  auto second = std::make_unique<CPollRecord>();
  CPollRecord& record = *device.AttachPollRecord(std::move(second));
  EXPECT_EQ(record.SetStartFromText("DIT:15", reporter, EntryPath::kView), kMsgAddressDefined);
  EXPECT_EQ(Shown(), "Address already defined in Poll Record 1");
  EXPECT_EQ(record.SetStartFromText("DIT:20", reporter, EntryPath::kView), 0);
  EXPECT_EQ(record.SetEndFromText("DIT:30", reporter), 0);
  EXPECT_EQ(record.SetStartFromText("DIT:19", reporter, EntryPath::kView), kMsgAddressDefined);
  EXPECT_EQ(Shown(), "Address already defined in Poll Record 1");
  // A range holding the other one entirely overlaps it too.
  CPollRecord& third = Record(device, "DIT:40", "1");
  EXPECT_EQ(third.SetStartFromText("DIT:5", reporter, EntryPath::kView), kMsgAddressDefined);
  EXPECT_EQ(Shown(), "Address already defined in Poll Record 1");
  // DIT 10..19 and an EVENT record live side by side.
  CPollRecord& event = Record(device, "DIT:50", "1");
  EXPECT_EQ(event.SetStartFromText("EVENT", reporter, EntryPath::kView), 0);
  EXPECT_EQ(Shown(), "");
}

TEST_F(FieldValidation, PollAndAccessTimes) {
  CPollRecord record;
  EXPECT_EQ(record.SetPollTimeFromText("86400", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(record.SetPollTimeFromText("86400.1", reporter, EntryPath::kCsv), kMsgPollTime);
  EXPECT_EQ(Shown(), "Invalid Poll Time (Valid Range   0.00 - 86400.00)");
  EXPECT_EQ(record.SetPollTimeFromText("-1", reporter, EntryPath::kCsv), kMsgPollTime);
  EXPECT_EQ(Shown(), "Invalid Poll Time (Valid Range   0.00 - 86400.00)");
  EXPECT_EQ(record.SetPollTimeFromText("dIsAbLeD", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(record.PollTimeText(), "Disabled");
  EXPECT_EQ(record.SetPollTimeFromText("D", reporter, EntryPath::kCsv), kMsgPollTime);
  EXPECT_EQ(Shown(), "Invalid Poll Time (Valid Range   0.00 - 86400.00)");
  EXPECT_EQ(record.SetPollTimeFromText("0", reporter, EntryPath::kView), 0);
  EXPECT_EQ(record.SetPollTimeFromText("D", reporter, EntryPath::kView), 0);  // the dialog's short form
  EXPECT_TRUE(record.PollDisabled());

  EXPECT_EQ(record.SetAccessTimeFromText("172800", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(record.SetAccessTimeFromText("172800.5", reporter, EntryPath::kCsv), kMsgAccessTime);
  EXPECT_EQ(Shown(), "Invalid Access Time (Valid Range   0.00 - 172800.00)\nOr \"Disabled\"");
  EXPECT_EQ(record.SetExceptionFromText("Analog", reporter), 0);
  EXPECT_EQ(record.SetAccessTimeFromText("10", reporter, EntryPath::kCsv), kMsgAccessExceptionBased);
  EXPECT_EQ(Shown(), "Invalid for exception based poll record\n\n(Valid entry: DISABLED)");
  EXPECT_EQ(record.SetAccessTimeFromText("Disabled", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(record.AccessTimeText(), "Disabled");
}

TEST_F(FieldValidation, DeadBandMustNotBeNegative) {
  CPollRecord record;
  EXPECT_EQ(record.SetDeadBandFromText("-0.5", reporter, EntryPath::kView), kMsgDeadBandDialog);
  EXPECT_EQ(Shown(), "Deadband can't be negative");
  EXPECT_EQ(record.SetDeadBandFromText("-0.5", reporter, EntryPath::kCsv), kMsgDeadBandCsv);
  EXPECT_EQ(Shown(), "DEAD BAND specified is invalid.");
  EXPECT_EQ(record.SetDeadBandFromText("1e39", reporter, EntryPath::kCsv), kMsgDeadBandCsv);
  EXPECT_EQ(Shown(), "DEAD BAND specified is invalid.");
  EXPECT_EQ(record.SetDeadBandFromText("2.75", reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(record.DeadBandText(), "2.75000");
}

TEST_F(FieldValidation, DataTypeAndExceptionTexts) {
  CPollRecord record;
  EXPECT_EQ(record.DataTypeText(), "Unsigned");
  EXPECT_EQ(record.SetDataTypeFromText("Long", reporter), kMsgDataType);
  EXPECT_EQ(Shown(), "DATA TYPE specified is valid.");
  EXPECT_EQ(record.SetExceptionFromText("Di", reporter), kMsgException);
  EXPECT_EQ(Shown(), "EXCEPTION specified is invalid");
  EXPECT_EQ(record.SetExceptionFromText("Dig", reporter), 0);
  EXPECT_EQ(record.ExceptionText(), "Digital");
}

TEST_F(FieldValidation, HardwareTypeWithoutMatchIsUndefinedWithoutMessage) {
  CDevice device;
  EXPECT_EQ(device.HardwareTypeText(), "EVR420");
  EXPECT_EQ(device.SetHardwareTypeFromText("PLC5", reporter), 0);
  EXPECT_EQ(Shown(), "");
  EXPECT_EQ(device.HardwareType(), 0xFFFE);
  EXPECT_EQ(device.HardwareTypeText(), "UNDEFINED");
}

TEST_F(FieldValidation, ChoosingAnExceptionTypeSetsTheAccessTime) {
  CPollRecord record;
  ASSERT_EQ(record.SetDeadBandFromText("3", reporter, EntryPath::kView), 0);
  record.ChooseExceptionType(1);
  EXPECT_TRUE(record.AccessDisabled());
  EXPECT_EQ(record.Settings().deadBand, 3.0f);
  record.ChooseExceptionType(0);
  EXPECT_EQ(record.AccessTimeText(), "300.0");
  EXPECT_EQ(record.Settings().deadBand, 0.0f);
}

TEST_F(FieldValidation, CopyAndCompareCoverEverySetting) {
  CChannel a;
  CChannel b;
  ASSERT_EQ(a.SetStopBitsFromText(LinkRole::kBackup, "2", reporter), 0);
  EXPECT_FALSE(a.SameSettings(b));
  b.CopySettingsFrom(a);
  EXPECT_TRUE(a.SameSettings(b));

  CDevice first;
  CDevice second;
  ASSERT_EQ(first.SetDescriptionFromText("Pump", reporter), 0);
  EXPECT_FALSE(first.SameSettings(second));
  second.CopySettingsFrom(first);
  EXPECT_TRUE(first.SameSettings(second));
  EXPECT_EQ(second.Description(), "Pump");

  CPollRecord one;
  CPollRecord two;
  ASSERT_EQ(one.SetDeadBandFromText("0.5", reporter, EntryPath::kView), 0);
  EXPECT_FALSE(one.SameSettings(two));
  two.CopySettingsFrom(one);
  EXPECT_TRUE(one.SameSettings(two));
}

TEST_F(FieldValidation, DefaultsOfNewObjects) {
  CChannel channel;
  EXPECT_EQ(channel.DisplayAlarmsText(), "Yes");
  EXPECT_EQ(channel.PortText(LinkRole::kPrimary), "None");
  EXPECT_EQ(channel.BaudRateText(LinkRole::kPrimary), "9600");
  EXPECT_EQ(channel.ReplyTimeoutText(LinkRole::kPrimary), "1.0");
  EXPECT_EQ(channel.DelayText(LinkRole::kPrimary), "10.0");
  EXPECT_EQ(channel.RetriesText(LinkRole::kPrimary), "3");
  CPollRecord record;
  EXPECT_EQ(record.Number(), -1);
  EXPECT_EQ(record.LiveStatus(), 97);
  EXPECT_EQ(record.PollTimeText(), "1.0");
  EXPECT_EQ(record.AccessTimeText(), "300.0");
  EXPECT_EQ(record.ExceptionText(), "Disabled");
  EXPECT_EQ(record.GridTexts(3), (std::vector<std::string>{"3", "--Undefined---", "--Undefined---", "0", "Unsigned",
                                                           "     1.0", "   300.0", "Disabled", "    0.0"}));
}

}  // namespace
}  // namespace vrt::editor
