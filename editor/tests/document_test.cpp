// Rules over the whole tree: device names, default names, hardware type
// changes, pruning before a save, the poll record counter, the check of a
// whole configuration.
#include <gtest/gtest.h>

#include "did_doc.h"
#include "document_check.h"
#include "editor_fakes.h"
#include "editor_messages.h"

namespace vrt::editor {
namespace {

using testing::Editor;

CDevice& AddDevice(CChannel& channel, const std::string& name, Reporter& reporter) {
  auto device = std::make_unique<CDevice>();
  EXPECT_EQ(device->SetNameFromText(name, reporter), 0);
  return *channel.AttachDevice(std::move(device));
}

CPollRecord& AddRecord(CDevice& device, const std::string& start, const std::string& length, Reporter& reporter) {
  auto record = std::make_unique<CPollRecord>();
  EXPECT_EQ(record->SetStartFromText(start, reporter, EntryPath::kCsv), 0);
  EXPECT_EQ(record->SetLengthFromText(length, reporter, EntryPath::kCsv), 0);
  return *device.AttachPollRecord(std::move(record));
}

TEST(DeviceNameInTheView, IsUpperCasedCutAtABlankAndLimitedToItsCharacters) {
  Editor editor;
  CChannel& channel = *editor.doc.AddChannel();
  CDevice& device = AddDevice(channel, "D10", editor.reporter);
  EXPECT_EQ(editor.doc.SetDeviceNameFromView(device, "d-1_a", editor.reporter), 0);
  EXPECT_EQ(device.Name(), "D-1_A");
  EXPECT_EQ(editor.doc.SetDeviceNameFromView(device, "D 1", editor.reporter), 0);
  EXPECT_EQ(device.Name(), "D");
  EXPECT_EQ(editor.doc.SetDeviceNameFromView(device, "D.1", editor.reporter), kMsgNameCharacters);
  EXPECT_EQ(editor.ui.Texts(),
            std::vector<std::string>{"Device name must contain only alphanumeric characters or '-' ,'_'"});
  EXPECT_EQ(device.Name(), "D");
}

TEST(DeviceNameInTheView, MustBeUniqueOverAllChannels) {
  Editor editor;
  AddDevice(*editor.doc.AddChannel(), "PUMP", editor.reporter);
  CDevice& other = AddDevice(*editor.doc.AddChannel(), "VALVE", editor.reporter);
  EXPECT_EQ(editor.doc.SetDeviceNameFromView(other, "pump", editor.reporter), kMsgNameExists);
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Device Name already Exists"});
  EXPECT_EQ(other.Name(), "VALVE");
  EXPECT_EQ(editor.doc.SetDeviceNameFromView(other, "valve", editor.reporter), 0);  // its own name
  EXPECT_EQ(editor.doc.SetDeviceNameFromView(other, "ABCDEFGHIJKL", editor.reporter), kMsgNameTooLong);
}

TEST(DefaultDeviceName, IsDWithChannelNumberAndDeviceCount) {
  Editor editor;
  editor.doc.EnsureChannels(3);
  CChannel& first = *editor.doc.Channels()[0];
  CChannel& third = *editor.doc.Channels()[2];
  EXPECT_EQ(editor.doc.DefaultDeviceName(first), "D10");
  for (int i = 0; i < 12; ++i) editor.doc.AddDefaultDevice(third);
  EXPECT_EQ(third.Devices().back()->Name(), "D311");
  EXPECT_EQ(editor.doc.DefaultDeviceName(third), "D312");
  // Taken by a device of another channel: the next free number.
  AddDevice(first, "D312", editor.reporter);
  AddDevice(first, "d313", editor.reporter);
  EXPECT_EQ(editor.doc.DefaultDeviceName(third), "D314");
}

TEST(DefaultDeviceName, ChannelOnesTwelfthDeviceAndChannelElevensSecondDiffer) {
  Editor editor;
  editor.doc.EnsureChannels(11);
  CChannel& first = *editor.doc.Channels()[0];
  CChannel& eleventh = *editor.doc.Channels()[10];
  for (int i = 0; i < 12; ++i) editor.doc.AddDefaultDevice(first);
  EXPECT_EQ(first.Devices().back()->Name(), "D111");
  // Channel 1's eleventh and twelfth are "D110" and "D111".
  EXPECT_EQ(editor.doc.AddDefaultDevice(eleventh)->Name(), "D112");
  EXPECT_EQ(editor.doc.AddDefaultDevice(eleventh)->Name(), "D113");
  EXPECT_EQ(editor.doc.AddDefaultDevice(first)->Name(), "D114");
}

TEST(HardwareTypeChange, AsksFirstWhenTheDeviceHasPollRecords) {
  Editor editor;
  CChannel& channel = *editor.doc.AddChannel();
  CDevice& device = AddDevice(channel, "D10", editor.reporter);
  AddRecord(device, "DIT:0", "4", editor.reporter);
  editor.ui.answer = Answer::kNo;
  EXPECT_FALSE(editor.doc.ChangeHardwareType(device, 23, editor.ui));
  ASSERT_EQ(editor.ui.asked.size(), 1u);
  EXPECT_EQ(editor.ui.asked[0].text,
            "Changing the PLC type will cause all Poll Records for this device to be removed.\n\rDo you wish to "
            "continue?");
  EXPECT_EQ(device.HardwareType(), 3);
  EXPECT_EQ(device.PollRecords().size(), 1u);
  EXPECT_FALSE(editor.doc.Modified());

  editor.ui.answer = Answer::kYes;
  EXPECT_TRUE(editor.doc.ChangeHardwareType(device, 23, editor.ui));
  EXPECT_EQ(device.HardwareTypeText(), "ZOLT");
  EXPECT_TRUE(device.PollRecords().empty());
  EXPECT_TRUE(editor.doc.Modified());
  // Without poll records nothing is asked.
  EXPECT_TRUE(editor.doc.ChangeHardwareType(device, 5, editor.ui));
  EXPECT_EQ(editor.ui.asked.size(), 2u);
}

TEST(EditorPruning, DropsDevicesWithoutRecordsAndEmptyChannelsFromTheEnd) {
  Editor editor;
  editor.doc.EnsureChannels(4);
  const auto& channels = editor.doc.Channels();
  CDevice& kept = AddDevice(*channels[1], "KEPT", editor.reporter);
  AddRecord(kept, "DIT:0", "1", editor.reporter);
  AddDevice(*channels[1], "EMPTY", editor.reporter);
  AddDevice(*channels[2], "ALSOEMPTY", editor.reporter);
  editor.doc.Prune();
  ASSERT_EQ(editor.doc.ChannelCount(), 2);  // channel 1 stays though it is empty
  EXPECT_TRUE(editor.doc.Channels()[0]->Devices().empty());
  ASSERT_EQ(editor.doc.Channels()[1]->Devices().size(), 1u);
  EXPECT_EQ(editor.doc.Channels()[1]->Devices()[0]->Name(), "KEPT");
}

TEST(PollRecordCounter, FollowsAttachDetachAndDeletion) {
  const int before = PollRecordCounter();
  {
    Editor editor;
    CChannel& channel = *editor.doc.AddChannel();
    CDevice& device = AddDevice(channel, "D10", editor.reporter);
    CPollRecord& first = AddRecord(device, "DIT:0", "1", editor.reporter);
    AddRecord(device, "DIT:10", "1", editor.reporter);
    EXPECT_EQ(PollRecordCounter(), before + 2);
    std::unique_ptr<CPollRecord> detached = device.DetachPollRecord(&first);
    EXPECT_EQ(PollRecordCounter(), before + 1);
    EXPECT_EQ(detached->Owner(), nullptr);
    device.AttachPollRecord(std::move(detached));
    EXPECT_EQ(PollRecordCounter(), before + 2);
    editor.doc.Clear();
    EXPECT_EQ(PollRecordCounter(), before);
    CDevice& again = AddDevice(*editor.doc.AddChannel(), "D10", editor.reporter);
    AddRecord(again, "DIT:0", "1", editor.reporter);
    EXPECT_EQ(PollRecordCounter(), before + 1);
  }
  EXPECT_EQ(PollRecordCounter(), before);
}

TEST(DeviceLookup, ExactInAChannelAndWithoutCaseOverAll) {
  Editor editor;
  AddDevice(*editor.doc.AddChannel(), "d1", editor.reporter);
  CDevice& upper = AddDevice(*editor.doc.AddChannel(), "D1", editor.reporter);
  EXPECT_EQ(CDidDoc::FindDeviceInChannel(*editor.doc.Channels()[0], "D1"), nullptr);
  EXPECT_EQ(editor.doc.FindDevice("D1"), &upper);
  EXPECT_EQ(editor.doc.FindDeviceIgnoringCase("D1")->Name(), "d1");
  EXPECT_EQ(editor.doc.FindDeviceForPollRecord("D1"), &upper);
  EXPECT_EQ(editor.doc.FindDeviceForPollRecord("d1")->Name(), "d1");
  EXPECT_EQ(editor.doc.FindChannelByNumber(2), editor.doc.Channels()[1].get());
  EXPECT_EQ(editor.doc.FindChannelByNumber(3), nullptr);
}

TEST(ConfigurationCheck, NamesEveryProblemAndWhereItIs) {
  Editor editor;
  testing::BuildSample(editor.doc, editor.reporter, 1, 2, 2);
  EXPECT_TRUE(CheckDocument(editor.doc).empty());

  CDevice& device = *editor.doc.Channels()[0]->Devices()[0];
  device.SetHardwareType(99);
  CPollRecord& record = *device.PollRecords()[1];
  ASSERT_EQ(record.SetExceptionFromText("Analog", editor.reporter), 0);
  ASSERT_EQ(record.SetAccessTimeFromText("Disabled", editor.reporter, EntryPath::kCsv), 0);
  auto late = std::make_unique<CPollRecord>();
  ASSERT_EQ(late->SetStartFromText("DIT:3000", editor.reporter, EntryPath::kCsv), 0);
  device.AttachPollRecord(std::move(late));
  auto last = std::make_unique<CPollRecord>();  // ends on DIT:4096, the last address there is
  ASSERT_EQ(last->SetStartFromText("DIT:4090", editor.reporter, EntryPath::kCsv), 0);
  ASSERT_EQ(last->SetLengthFromText("7", editor.reporter, EntryPath::kCsv), 0);
  device.AttachPollRecord(std::move(last));
  // Combinations the setters allow one at a time.
  CPollRecord& mixed = *device.PollRecords()[0];
  ASSERT_EQ(mixed.SetExceptionFromText("ASCII", editor.reporter), 0);

  const std::vector<std::string> problems = CheckDocument(editor.doc);
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "Device S1_1: Hardware UNDEFINED (code 99)",
                          "Device S1_1, Poll Record 1: Invalid for exception based poll record\n\n(Valid entry: "
                          "DISABLED)",
                          "Device S1_1, Poll Record 3: Start address beyond DIT:2047, the last address the driver "
                          "can poll.",
                          "Device S1_1, Poll Record 4: Start address beyond DIT:2047, the last address the driver "
                          "can poll."}));
}

TEST(ConfigurationCheck, AnEmptyConfigurationCannotBeSaved) {
  Editor editor;
  editor.doc.AddChannel();
  EXPECT_EQ(CheckDocument(editor.doc),
            std::vector<std::string>{"Configuration: Save Failed. The configuration holds no Poll Record."});
}

}  // namespace
}  // namespace vrt::editor
