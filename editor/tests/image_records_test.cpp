// Storing the objects into image records and loading them back: which value
// goes into which field and how it is converted.
#include <gtest/gtest.h>

#include <cstring>

#include "dit_items.h"
#include "editor_fakes.h"

namespace vrt::editor {
namespace {

using testing::RecordingUi;

class ImageRecords : public ::testing::Test {
 protected:
  RecordingUi ui;
  Reporter reporter{ui};
};

TEST_F(ImageRecords, ChannelPortIsSplitIntoThePortByteAndTheHighNibble) {
  CChannel channel;
  ASSERT_EQ(channel.SetPortFromText(LinkRole::kPrimary, "COM25:", reporter), 0);
  ASSERT_EQ(channel.SetDataBitsFromText(LinkRole::kPrimary, "7", reporter), 0);
  DitChannel record{};
  channel.StoreTo(record);
  EXPECT_EQ(+record.primary.port, 24);
  EXPECT_EQ(+record.activePort, 24);
  EXPECT_EQ(+record.primary.dataBits, 0x02);

  channel.SetPort(LinkRole::kPrimary, 0x123);  // a port value beyond one byte
  channel.StoreTo(record);
  EXPECT_EQ(+record.primary.port, 0x22);
  EXPECT_EQ(+record.primary.dataBits, 0x12);
  CChannel loaded;
  loaded.LoadFrom(record);
  EXPECT_EQ(loaded.Link(LinkRole::kPrimary).port, 0x123);

  channel.SetPort(LinkRole::kPrimary, 0);  // none: -1 in twelve bits
  channel.StoreTo(record);
  EXPECT_EQ(+record.primary.port, 0xFF);
  EXPECT_EQ(+record.activePort, -1);
  EXPECT_EQ(+record.primary.dataBits, 0xF2);
  loaded.LoadFrom(record);
  EXPECT_EQ(loaded.PortText(LinkRole::kPrimary), "None");
}

TEST_F(ImageRecords, BackupPortIsNeverStoredAndReadsBackAsUndefined) {
  CChannel channel;
  ASSERT_EQ(channel.SetPortFromText(LinkRole::kBackup, "COM3:", reporter), 0);
  DitChannel record{};
  channel.StoreTo(record);
  EXPECT_EQ(+record.backup.port, 255);
  EXPECT_EQ(record.backup.dataBits >> 4, 0);  // bits 8-11 of port 3 - 1
  CChannel loaded;
  loaded.LoadFrom(record);
  EXPECT_EQ(loaded.PortText(LinkRole::kBackup), "UNDEFINED");
  // Without a backup port it reads back as None.
  CChannel plain;
  plain.StoreTo(record);
  loaded.LoadFrom(record);
  EXPECT_EQ(loaded.PortText(LinkRole::kBackup), "None");
}

TEST_F(ImageRecords, ChannelTimesAreRoundedHundredthsAndCodesAreStored) {
  CChannel channel;
  ASSERT_EQ(channel.SetReplyTimeoutFromText(LinkRole::kPrimary, "0.125", reporter), 0);
  ASSERT_EQ(channel.SetDelayFromText(LinkRole::kPrimary, "3600", reporter), 0);
  ASSERT_EQ(channel.SetRetriesFromText(LinkRole::kBackup, "7", reporter), 0);
  ASSERT_EQ(channel.SetFlowControlFromText(LinkRole::kBackup, "RTS T CTS+CD", reporter), 0);
  ASSERT_EQ(channel.SetBaudRateFromText(LinkRole::kPrimary, "115200", reporter), 0);
  ASSERT_EQ(channel.SetParityFromText(LinkRole::kPrimary, "Even", reporter), 0);
  ASSERT_EQ(channel.SetStopBitsFromText(LinkRole::kPrimary, "2", reporter), 0);
  ASSERT_EQ(channel.SetDisplayAlarmsFromText("No", reporter), 0);
  channel.SetDisableCommsAlarms(true);
  DitChannel record{};
  std::memset(&record, 0x5A, sizeof record);
  channel.StoreTo(record);
  EXPECT_EQ(+record.primary.replyTimeout, 13u);
  EXPECT_EQ(+record.primary.failureDelay, 360000u);
  EXPECT_EQ(+record.backup.retries, 7);
  EXPECT_EQ(+record.backup.handshake, 148);
  EXPECT_EQ(+record.primary.baudRate, 19);
  EXPECT_EQ(+record.primary.parity, 3);
  EXPECT_EQ(+record.primary.stopBits, 1);
  EXPECT_EQ(+record.messageEnable, 0);
  EXPECT_EQ(+record.channelOption, 1);
  EXPECT_EQ(record.lockByte82, 'U');
  EXPECT_EQ(record.lockByte83, 'U');
  EXPECT_EQ(+record.driverBlockPointer, 0u);  // zero-filled first
  EXPECT_EQ(+record.statistics.framesSent, 0);

  CChannel loaded;
  loaded.LoadFrom(record);
  EXPECT_EQ(loaded.ReplyTimeoutText(LinkRole::kPrimary), "0.13");
  EXPECT_EQ(loaded.FlowControlText(LinkRole::kBackup), "RTS T CTS+CD");
  EXPECT_EQ(loaded.DisplayAlarmsText(), "No");
  EXPECT_TRUE(loaded.Settings().disableCommsAlarms);
  DitChannel again{};
  loaded.StoreTo(again);
  EXPECT_EQ(std::memcmp(&again, &record, sizeof record), 0);
}

TEST_F(ImageRecords, DeviceFieldsAndTheActiveStation) {
  CDevice device;
  ASSERT_EQ(device.SetNameFromText("ABCDEFGHIJK", reporter), 0);
  ASSERT_EQ(device.SetDescriptionFromText(std::string(35, 'd'), reporter), 0);
  ASSERT_EQ(device.SetHardwareTypeFromText("SELMARO", reporter), 0);
  ASSERT_EQ(device.SetPrimaryStationFromText("17", reporter, EntryPath::kView), 0);
  ASSERT_EQ(device.SetQueueHeadFromText("2", reporter, EntryPath::kView), 0);
  DitDevice record{};
  device.StoreTo(record);
  EXPECT_STREQ(record.name, "ABCDEFGHIJK");
  EXPECT_EQ(std::string(record.description), std::string(35, 'd'));
  EXPECT_EQ(+record.hardwareType, 35);
  EXPECT_EQ(+record.activeStation, 17);
  EXPECT_EQ(+record.primaryStation, 17);
  EXPECT_EQ(+record.backupStation, 0xFFFF);
  EXPECT_EQ(+record.deviceOption, 2);
  EXPECT_EQ(record.lockByte52, 'U');
  EXPECT_EQ(record.lockByte53, 'U');
  CDevice loaded;
  loaded.LoadFrom(record, 279);
  EXPECT_TRUE(loaded.SameSettings(device));
}

TEST_F(ImageRecords, OlderDeviceLayoutHoldsTheDescriptionSixBytesAfterTheName) {
  DitDevice record{};
  std::memcpy(record.name, "PUMP1", 6);
  std::memcpy(reinterpret_cast<char*>(&record) + 10, "Old layout text", 16);
  record.hardwareType = 12;
  CDevice device;
  device.LoadFrom(record, 278);
  EXPECT_EQ(device.Name(), "PUMP1");
  EXPECT_EQ(device.Description(), "Old layout text");
  EXPECT_EQ(device.HardwareTypeText(), "PRISMOTE");
}

TEST_F(ImageRecords, UnterminatedTextFieldsStayWithinTheirLimits) {
  DitDevice record{};
  std::memset(record.name, 'N', sizeof record.name);
  std::memset(record.description, 'D', sizeof record.description);
  CDevice device;
  device.LoadFrom(record, 279);
  EXPECT_EQ(device.Name(), std::string(11, 'N'));
  EXPECT_EQ(device.Description(), std::string(35, 'D'));
}

TEST_F(ImageRecords, PollRecordTimesAreTruncatedHundredths) {
  CPollRecord record;
  ASSERT_EQ(record.SetPollTimeFromText("0.125", reporter, EntryPath::kCsv), 0);
  ASSERT_EQ(record.SetAccessTimeFromText("0.29", reporter, EntryPath::kCsv), 0);
  ASSERT_EQ(record.SetStartFromText("DIT:2047", reporter, EntryPath::kCsv), 0);
  ASSERT_EQ(record.SetLengthFromText("3", reporter, EntryPath::kCsv), 0);
  DitPollRecord stored{};
  record.StoreTo(stored);
  EXPECT_EQ(+stored.pollTime, 12u);
  EXPECT_EQ(+stored.accessTime, 29u);
  EXPECT_EQ(+stored.enabled, 1);
  EXPECT_EQ(+stored.status, 4297);
  EXPECT_EQ(+stored.dataLock, 'U');
  EXPECT_EQ(+stored.secondLock, 'U');
  EXPECT_EQ(StartAddressOf(stored.addressWord), 2047);
  EXPECT_EQ(PollKindOf(stored.addressWord), 0);
  EXPECT_EQ(+stored.length, 3);
  EXPECT_EQ(+stored.dataType, 2);
}

TEST_F(ImageRecords, DisabledTimesAreStoredAsMinusOneAndTheNeverExpiringCountdown) {
  CPollRecord record;
  ASSERT_EQ(record.SetPollTimeFromText("Disabled", reporter, EntryPath::kCsv), 0);
  ASSERT_EQ(record.SetExceptionFromText("Digital", reporter), 0);
  ASSERT_EQ(record.SetAccessTimeFromText("Disabled", reporter, EntryPath::kCsv), 0);
  ASSERT_EQ(record.SetStartFromText("EVENT", reporter, EntryPath::kCsv), 0);
  DitPollRecord stored{};
  record.StoreTo(stored);
  EXPECT_EQ(+stored.enabled, 0);
  EXPECT_EQ(static_cast<std::int32_t>(stored.pollTime), -100);
  EXPECT_EQ(+stored.accessTime, static_cast<std::uint32_t>(kAccessNeverExpires));
  EXPECT_EQ(+stored.exceptionType, 2);
  EXPECT_EQ(PollKindOf(stored.addressWord), 1);
  EXPECT_EQ(+stored.length, 14);
  CPollRecord loaded;
  loaded.LoadFrom(stored);
  EXPECT_EQ(loaded.PollTimeText(), "Disabled");
  EXPECT_EQ(loaded.AccessTimeText(), "Disabled");
  EXPECT_EQ(loaded.StartText(), "EVENT:0");
  EXPECT_EQ(loaded.EndText(), "EVENT:13");
}

TEST_F(ImageRecords, DeadBandIsStoredAsFloatAndTruncatedInteger) {
  CPollRecord record;
  ASSERT_EQ(record.SetDeadBandFromText("2.7", reporter, EntryPath::kCsv), 0);
  DitPollRecord stored{};
  record.StoreTo(stored);
  EXPECT_EQ(+stored.deadBand, 2.7f);
  EXPECT_EQ(+stored.deadBandInteger, 2);
  EXPECT_EQ(stored.reserved26, 0);
  // Beyond the 16-bit field the integer holds its largest value.
  ASSERT_EQ(record.SetDeadBandFromText("40000.5", reporter, EntryPath::kCsv), 0);
  record.StoreTo(stored);
  EXPECT_EQ(+stored.deadBandInteger, 32767);
  CPollRecord loaded;
  loaded.LoadFrom(stored);
  EXPECT_EQ(loaded.Settings().deadBand, 40000.5f);
}

TEST_F(ImageRecords, CodesTheTablesDoNotKnowAreKept) {
  DitPollRecord stored{};
  stored.dataType = 3;  // 32-bit float, which the NIO library handles
  stored.exceptionType = 7;
  stored.length = 2;
  stored.pollTime = 100;
  stored.accessTime = 500;
  CPollRecord record;
  record.LoadFrom(stored);
  EXPECT_EQ(record.DataTypeText(), "UNDEFINED");
  EXPECT_EQ(record.ExceptionText(), "UNDEFINED");
  DitPollRecord again{};
  record.StoreTo(again);
  EXPECT_EQ(+again.dataType, 3);
  EXPECT_EQ(+again.exceptionType, 7);
}

}  // namespace
}  // namespace vrt::editor
