// The editor's windows without windows: the configuration view, the Port
// Settings and Poll Record Edit dialogs, the exit choice, and the runtime
// link's status tick, messages and Reload over a fake live image.
#include <gtest/gtest.h>

#include <map>

#include "cfg_view.h"
#include "dialog_models.h"
#include "editor_fakes.h"
#include "runtime_link.h"

namespace vrt::editor {
namespace {

using testing::Editor;

struct ViewEditor : Editor {
  CfgView view{doc, services};
  ViewEditor() { view.DocumentUpdated(); }

  CPollRecord* AddRecordThroughDialog(const std::string& start, const std::string& length) {
    CPollRecord* record = view.RecordForDoubleClick(1000);
    PollRecordEditModel dialog(doc, *view.Device(), record, services);
    dialog.Commit(PollRecordEditModel::Field::kStart, start, "--Undefined---");
    if (!length.empty()) dialog.Commit(PollRecordEditModel::Field::kLength, length, "1");
    dialog.Accept();
    view.AfterPollRecordDialog(record);
    return record;
  }
};

TEST(CfgView, ANewDocumentShowsChannelOneAndSelectingChannelFiveCreatesTheOthers) {
  ViewEditor editor;
  EXPECT_EQ(editor.doc.ChannelCount(), 1);
  EXPECT_EQ(editor.view.DeviceNames(), std::vector<std::string>{"D10"});
  EXPECT_EQ(editor.view.DevicePosition(), 0);

  editor.view.SelectChannel(4);
  EXPECT_EQ(editor.doc.ChannelCount(), 5);
  EXPECT_EQ(editor.view.DeviceNames(), std::vector<std::string>{"D50"});
  for (int channel = 1; channel < 4; ++channel) {
    EXPECT_TRUE(editor.doc.Channels()[static_cast<std::size_t>(channel)]->Devices().empty());
    editor.view.SelectChannel(channel);
    EXPECT_EQ(editor.view.DeviceNames().size(), 1u) << "channel " << channel + 1 << " once shown";
  }
  editor.view.SelectChannel(16);  // no such button
  EXPECT_EQ(editor.doc.ChannelCount(), 5);
}

TEST(CfgView, DeletingTheOnlyDeviceLeavesAFreshDefaultOneAndAsksWhenItHasRecords) {
  ViewEditor editor;
  ASSERT_TRUE(editor.view.DeleteDevice());
  EXPECT_TRUE(editor.ui.asked.empty());
  EXPECT_EQ(editor.view.DeviceNames(), std::vector<std::string>{"D10"});
  EXPECT_NE(editor.view.Device(), nullptr);
  EXPECT_TRUE(editor.doc.Modified());

  // Three devices, the middle one with a record: No keeps it, Yes deletes it
  // and selects the one before.
  editor.view.BeginAdd();
  ASSERT_TRUE(editor.view.FinishAdd("PUMP"));
  editor.AddRecordThroughDialog("DIT:0", "4");
  editor.view.BeginAdd();
  ASSERT_TRUE(editor.view.FinishAdd("VALVE"));
  editor.view.SelectDevice(1);
  editor.ui.answer = Answer::kNo;
  EXPECT_FALSE(editor.view.DeleteDevice());
  ASSERT_EQ(editor.ui.asked.size(), 1u);
  EXPECT_EQ(editor.ui.asked[0].text,
            "This will delete the Device and all associated Poll Records.\n\r\n\rDo You Wish to Continue?");
  EXPECT_EQ(editor.view.DeviceNames().size(), 3u);
  editor.ui.answer = Answer::kYes;
  EXPECT_TRUE(editor.view.DeleteDevice());
  EXPECT_EQ(editor.view.DeviceNames(), (std::vector<std::string>{"D10", "VALVE"}));
  EXPECT_EQ(editor.view.Device()->Name(), "D10");
  EXPECT_EQ(editor.doc.PollRecordTotal(), 0);
}

TEST(CfgView, AddDeviceRefusesBadAndTakenNamesAndDropsTheDeviceOnCancelOrEmpty) {
  ViewEditor editor;
  EXPECT_EQ(editor.view.BeginAdd(), "D11");
  EXPECT_FALSE(editor.view.FinishAdd("PU.MP"));
  EXPECT_FALSE(editor.view.FinishAdd("d10"));  // channel 1's first device
  EXPECT_EQ(editor.ui.Texts(), (std::vector<std::string>{
                                   "Device name must contain only alphanumeric characters or '-' ,'_'",
                                   "Device Name Already Exists"}));
  EXPECT_TRUE(editor.view.FinishAdd("pump 2"));
  EXPECT_EQ(editor.view.DeviceNames(), (std::vector<std::string>{"D10", "PUMP"}));
  EXPECT_EQ(editor.view.DevicePosition(), 1);

  editor.view.SelectChannel(1);
  editor.view.BeginAdd();
  EXPECT_FALSE(editor.view.FinishAdd("PUMP"));  // taken in another channel
  editor.view.CancelAdd();
  EXPECT_EQ(editor.view.DeviceNames(), std::vector<std::string>{"D20"});
  EXPECT_EQ(editor.view.Device()->Name(), "D20");
  editor.view.BeginAdd();
  EXPECT_TRUE(editor.view.FinishAdd("  "));
  EXPECT_EQ(editor.view.DeviceNames(), std::vector<std::string>{"D20"});
  EXPECT_TRUE(editor.view.FinishAdd("D21"));  // keeping the default name (nothing pending: no effect)
}

// A channel holds 255 devices: Add is offered up to the 254th and not at 255.
TEST(CfgView, AddIsOfferedUntilTheChannelHolds255Devices) {
  ViewEditor editor;
  CChannel& channel = *editor.doc.Channels()[0];
  while (channel.Devices().size() < 254) editor.doc.AddDefaultDevice(channel);
  editor.view.DocumentUpdated();
  EXPECT_TRUE(editor.view.AddEnabled());
  editor.doc.AddDefaultDevice(channel);
  editor.view.DocumentUpdated();
  EXPECT_EQ(channel.Devices().size(), 255u);
  EXPECT_FALSE(editor.view.AddEnabled());
}

TEST(CfgView, PropertyFieldsTakeEffectOnFocusLossAndRefusalsShowTheOldValue) {
  ViewEditor editor;
  DeviceProperties shown = editor.view.ShowProperties();
  EXPECT_EQ(shown.primaryStation, "-");
  EXPECT_TRUE(editor.view.CommitProperty(PropertyField::kPrimaryStation, "-"));
  EXPECT_FALSE(editor.doc.Modified());
  EXPECT_FALSE(editor.view.CommitProperty(PropertyField::kPrimaryStation, "128"));
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Invalid station number, valid range 0 - 127"});
  EXPECT_EQ(editor.view.ShowProperties().primaryStation, "-");
  EXPECT_TRUE(editor.view.CommitProperty(PropertyField::kPrimaryStation, "12"));
  EXPECT_TRUE(editor.view.CommitProperty(PropertyField::kName, "boiler"));
  EXPECT_TRUE(editor.view.CommitProperty(PropertyField::kDescription, "Boiler house"));
  EXPECT_TRUE(editor.doc.Modified());
  shown = editor.view.ShowProperties();
  EXPECT_EQ(shown.name, "BOILER");
  EXPECT_EQ(shown.primaryStation, "12");
  EXPECT_EQ(editor.view.DeviceNames(), std::vector<std::string>{"BOILER"});

  // A type change with records asks; No keeps both.
  editor.AddRecordThroughDialog("DIT:0", "2");
  const int before = editor.view.Device()->HardwareType();
  const int other = shown.hardwarePosition == 0 ? 1 : 0;
  editor.ui.answer = Answer::kNo;
  EXPECT_FALSE(editor.view.ChooseHardware(other));
  EXPECT_EQ(editor.view.Device()->HardwareType(), before);
  EXPECT_EQ(editor.view.Grid().size(), 1u);
  editor.ui.answer = Answer::kYes;
  EXPECT_TRUE(editor.view.ChooseHardware(other));
  EXPECT_TRUE(editor.view.Grid().empty());
}

TEST(CfgView, GridRowsAndDoubleClickBelowTheLastRowWithoutAnAddressLeaveNoRecord) {
  ViewEditor editor;
  editor.AddRecordThroughDialog("DIT:10", "4");
  const std::vector<GridRow> rows = editor.view.Grid();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].texts, (std::vector<std::string>{"1", "DIT:10", "DIT:13", "4", "Unsigned", "     1.0",
                                                     "   300.0", "Disabled", rows[0].texts[8]}));
  EXPECT_EQ(rows[0].stateIcon, 4);  // never read

  CPollRecord* fresh = editor.view.RecordForDoubleClick(1);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(editor.view.Grid().size(), 2u);
  PollRecordEditModel dialog(editor.doc, *editor.view.Device(), fresh, editor.services);
  EXPECT_EQ(dialog.Show().start, "--Undefined---");
  EXPECT_EQ(dialog.Accept(), nullptr);
  EXPECT_TRUE(editor.view.AfterPollRecordDialog(fresh));
  EXPECT_EQ(editor.view.Grid().size(), 1u);
  EXPECT_EQ(editor.view.RecordForDoubleClick(0), editor.view.Device()->PollRecords()[0].get());
}

TEST(CfgView, ASaveKeepsTheSelectionWhileItExistsAndFallsBackToChannelOne) {
  ViewEditor editor;
  editor.AddRecordThroughDialog("DIT:0", "");
  editor.view.SelectChannel(2);
  editor.view.BeginAdd();
  ASSERT_TRUE(editor.view.FinishAdd("PUMP"));
  editor.AddRecordThroughDialog("DIT:0", "");
  editor.view.BeginAdd();
  ASSERT_TRUE(editor.view.FinishAdd("SPARE"));  // no records: dropped by the save
  editor.view.SelectDevice(1);
  editor.doc.Prune();
  editor.view.DocumentSaved();
  EXPECT_EQ(editor.view.SelectedChannel(), 2);
  EXPECT_EQ(editor.view.Device()->Name(), "PUMP");

  editor.view.SelectChannel(4);
  editor.doc.Prune();  // channels 4 and 5 go
  editor.view.DocumentSaved();
  EXPECT_EQ(editor.view.SelectedChannel(), 0);
  EXPECT_EQ(editor.view.DeviceNames(), std::vector<std::string>{"D10"});
}

TEST(StateIcons, FollowTheLiveStatus) {
  EXPECT_EQ(StateIconForStatus(0), 1);
  EXPECT_EQ(StateIconForStatus(4293), 2);
  EXPECT_EQ(StateIconForStatus(4296), 3);
  EXPECT_EQ(StateIconForStatus(4297), 3);
  EXPECT_EQ(StateIconForStatus(4294), 4);
  EXPECT_EQ(StateIconForStatus(97), 4);
}

TEST(PollRecordEdit, FieldsFollowTheRulesAndRefusalsNameTheField) {
  ViewEditor editor;
  editor.AddRecordThroughDialog("DIT:0", "4");
  CPollRecord* record = editor.view.RecordForDoubleClick(5);
  PollRecordEditModel dialog(editor.doc, *editor.view.Device(), record, editor.services);
  using Field = PollRecordEditModel::Field;

  // The undefined text and an unchanged text do nothing.
  EXPECT_FALSE(dialog.Commit(Field::kEnd, "--Undefined---", "x").refused);
  EXPECT_TRUE(editor.ui.Texts().empty());
  // Length before start, then an overlap: the focus goes to Start.
  EXPECT_TRUE(dialog.Commit(Field::kLength, "3", "0").refused);
  auto overlap = dialog.Commit(Field::kStart, "DIT:2", "--Undefined---");
  EXPECT_TRUE(overlap.refused);
  EXPECT_EQ(overlap.focus, Field::kStart);
  EXPECT_EQ(editor.ui.Texts().back(), "Address already defined in Poll Record 1");
  EXPECT_FALSE(dialog.Commit(Field::kStart, "DIT:4", "--Undefined---").refused);
  auto end = dialog.Commit(Field::kEnd, "DIT:2", "DIT:4");
  EXPECT_TRUE(end.refused);
  EXPECT_EQ(end.focus, Field::kEnd);
  EXPECT_EQ(dialog.Show().end, "DIT:4");

  // D, "-" and empty give Disabled.
  for (const char* text : {"D", "-", ""}) {
    EXPECT_FALSE(dialog.Commit(Field::kPollTime, "2.5", dialog.Show().pollTime).refused);
    EXPECT_FALSE(dialog.Commit(Field::kPollTime, text, "2.5").refused);
    EXPECT_EQ(dialog.Show().pollTime, "Disabled") << "'" << text << "'";
  }
  EXPECT_TRUE(dialog.Commit(Field::kDeadBand, "-1", "0.00000").refused);
  EXPECT_EQ(editor.ui.Texts().back(), "Deadband can't be negative");
  EXPECT_EQ(editor.doc.PollRecordTotal(), 2);
  EXPECT_EQ(record->Settings().length, 0);  // nothing written before OK
  EXPECT_EQ(dialog.Accept(), record);
  EXPECT_EQ(record->StartText(), "DIT:4");
  EXPECT_TRUE(record->PollDisabled());
}

TEST(PollRecordEdit, NewKeepsTheTypedRecordAndDeleteRemovesTheRecord) {
  ViewEditor editor;
  CPollRecord* record = editor.view.RecordForDoubleClick(0);
  PollRecordEditModel dialog(editor.doc, *editor.view.Device(), record, editor.services);
  using Field = PollRecordEditModel::Field;
  dialog.Commit(Field::kStart, "DIT:0", "--Undefined---");
  dialog.New();
  EXPECT_TRUE(dialog.NewMode());
  EXPECT_EQ(record->StartText(), "DIT:0");
  EXPECT_EQ(dialog.Show().start, "--Undefined---");
  // The new copy is checked against the record just written.
  EXPECT_TRUE(dialog.Commit(Field::kStart, "DIT:0", "--Undefined---").refused);
  dialog.Commit(Field::kStart, "EVENT", "--Undefined---");
  EXPECT_EQ(dialog.Show().length, "16");
  CPollRecord* added = dialog.Accept();
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(editor.view.Grid().size(), 2u);
  EXPECT_EQ(editor.view.Grid()[1].texts[1], "EVENT:0");

  PollRecordEditModel second(editor.doc, *editor.view.Device(), added, editor.services);
  second.Delete();
  EXPECT_TRUE(editor.view.AfterPollRecordDialog(added));
  EXPECT_EQ(editor.view.Grid().size(), 1u);
}

TEST(PortSettings, ACardInUseNamesItsChannelAndTheCopyGoesInOnlyOnOk) {
  ViewEditor editor;
  editor.view.SelectChannel(3);
  PortSettingsModel third(editor.doc, 2, editor.services);
  ASSERT_TRUE(third.ChooseCard(LinkRole::kPrimary, 2));
  ASSERT_TRUE(third.Accept());

  PortSettingsModel dialog(editor.doc, 3, editor.services);
  EXPECT_EQ(dialog.Title(LinkRole::kPrimary), "Channel 4 Communication Settings");
  EXPECT_EQ(dialog.Title(LinkRole::kBackup), "Channel 4 Backup Communication Settings");
  EXPECT_EQ(PortSettingsModel::CardEntries().size(), 9u);
  EXPECT_EQ(PortSettingsModel::CardEntries()[8], "Card 8:");
  ASSERT_TRUE(dialog.ChooseCard(LinkRole::kPrimary, 5));
  EXPECT_FALSE(dialog.ChooseCard(LinkRole::kPrimary, 2));
  EXPECT_EQ(editor.ui.Texts().back(), "Port already in use on Channel 3");
  EXPECT_EQ(dialog.Show(LinkRole::kPrimary).cardPosition, 5);
  ASSERT_TRUE(dialog.ChooseCard(LinkRole::kPrimary, 8));  // the last card
  EXPECT_EQ(dialog.Show(LinkRole::kPrimary).cardPosition, 8);
  ASSERT_TRUE(dialog.ChooseCard(LinkRole::kPrimary, 5));
  // The channel's own primary card for its backup link.
  EXPECT_FALSE(dialog.ChooseCard(LinkRole::kBackup, 5));
  EXPECT_EQ(editor.ui.Texts().back(), "Port already in use on Channel 4");
  EXPECT_TRUE(dialog.ChooseCard(LinkRole::kBackup, 6));

  EXPECT_FALSE(dialog.Commit(LinkRole::kPrimary, PortSettingsModel::Field::kRetries, "10"));
  EXPECT_EQ(editor.ui.Texts().back(), "Invalid Retry Value (Valid Range 0 - 9)");
  EXPECT_EQ(dialog.Show(LinkRole::kPrimary).retries, "3");
  EXPECT_TRUE(dialog.Commit(LinkRole::kBackup, PortSettingsModel::Field::kRetries, "5"));

  const CChannel& channel = *editor.doc.Channels()[3];
  EXPECT_EQ(channel.Link(LinkRole::kPrimary).port, 0);
  editor.doc.SetModified(false);
  ASSERT_TRUE(dialog.Accept());
  EXPECT_EQ(channel.Link(LinkRole::kPrimary).port, 5);
  EXPECT_EQ(channel.Link(LinkRole::kBackup).port, 6);
  EXPECT_EQ(channel.Link(LinkRole::kBackup).retries, 5);
  EXPECT_TRUE(editor.doc.Modified());
}

TEST(PortSettings, OkWithoutACardAsksAndCancelKeepsTheDialogOpen) {
  ViewEditor editor;
  PortSettingsModel dialog(editor.doc, 0, editor.services);
  editor.ui.answer = Answer::kCancel;
  EXPECT_FALSE(dialog.Accept());
  ASSERT_EQ(editor.ui.asked.size(), 1u);
  EXPECT_EQ(editor.ui.asked[0].text,
            "A Port Number must be defined for proper system operation.\n\rDo you wish to continue?");
  editor.ui.answer = Answer::kOk;
  EXPECT_TRUE(dialog.Accept());
  EXPECT_FALSE(editor.doc.Modified());  // nothing differed
}

TEST(ExitChoice, FollowsTheModifiedAndReloadFlags) {
  ViewEditor editor;
  EXPECT_TRUE(ChooseExit(editor.doc).closeNow);
  editor.doc.SetModified(true);
  const ExitChoice empty = ChooseExit(editor.doc);
  EXPECT_TRUE(empty.closeNow);
  EXPECT_TRUE(empty.dropChanges);
  editor.AddRecordThroughDialog("DIT:0", "");
  const ExitChoice modified = ChooseExit(editor.doc);
  EXPECT_FALSE(modified.closeNow);
  EXPECT_TRUE(modified.save);
  EXPECT_TRUE(modified.reload);
  editor.doc.SetModified(false);
  editor.doc.SetReloadPending(true);
  const ExitChoice saved = ChooseExit(editor.doc);
  EXPECT_FALSE(saved.closeNow);
  EXPECT_FALSE(saved.save);
  EXPECT_TRUE(saved.reload);
}

class FakeLiveImage : public LiveImage {
 public:
  int ChannelCount() override {
    ++attaches;
    return channels;
  }
  bool ChannelCounters(int channel, std::uint16_t* transmit, std::uint16_t* receive) override {
    *transmit = static_cast<std::uint16_t>(this->transmit + channel);
    *receive = this->receive;
    return readable;
  }
  int PollRecordCount() override { return static_cast<int>(statuses.size()); }
  bool PollRecordStatus(int index, std::uint16_t* status) override {
    *status = statuses.at(static_cast<std::size_t>(index));
    return readable;
  }
  int channels = 2;
  int attaches = 0;
  std::uint16_t transmit = 0;
  std::uint16_t receive = 0;
  bool readable = true;
  std::vector<std::uint16_t> statuses;
};

TEST(RuntimeLink, StatusTickShowsClockTitleCountersAndLiveStates) {
  ViewEditor editor;
  editor.AddRecordThroughDialog("DIT:0", "");
  editor.AddRecordThroughDialog("DIT:5", "");
  editor.doc.NumberPollRecords();
  editor.doc.SetPath("C:\\PLANT\\DEMO.VRT");
  FakeLiveImage image;
  image.statuses = {0x2000 | 0, 4297};
  RuntimeLink link(image);
  link.Attach();
  EXPECT_EQ(link.LiveChannels(), 2);

  std::tm now{};
  now.tm_hour = 14;
  now.tm_min = 5;
  image.transmit = 65530;
  image.receive = 7;
  RuntimeLink::Tick tick = link.StatusTick(now, "Channel 1", editor.doc, 0, editor.view.Device());
  EXPECT_EQ(tick.clock, "02:05 PM");
  EXPECT_EQ(tick.title, "Harnix Tavex Configuration - Channel 1 - C:\\PLANT\\DEMO.VRT");
  EXPECT_EQ(tick.changedRows, (std::vector<int>{0, 1}));
  EXPECT_EQ(editor.view.Grid()[0].stateIcon, 1);  // masked to 0
  EXPECT_EQ(editor.view.Grid()[1].stateIcon, 3);

  image.transmit = 4;  // the counter wrapped: still a positive rate
  tick = link.StatusTick(now, "Channel 1", editor.doc, 0, editor.view.Device());
  EXPECT_EQ(tick.counters, "TX=4 RX=7 Polls/Sec=5");
  EXPECT_TRUE(tick.changedRows.empty());

  // A channel beyond the live image shows no counters.
  tick = link.StatusTick(now, "Channel 3", editor.doc, 2, editor.view.Device());
  EXPECT_FALSE(tick.counters.has_value());
}

TEST(RuntimeLink, NoImageAtTheFirstTickGivesUpForGoodButTheClockGoesOn) {
  ViewEditor editor;
  FakeLiveImage image;
  image.channels = 0;
  RuntimeLink link(image);
  link.Attach();
  std::tm now{};
  RuntimeLink::Tick tick = link.StatusTick(now, "x", editor.doc, 0, editor.view.Device());
  EXPECT_EQ(link.LiveChannels(), -1);
  image.channels = 2;
  tick = link.StatusTick(now, "x", editor.doc, 0, editor.view.Device());
  EXPECT_EQ(tick.clock, "12:00 AM");
  EXPECT_FALSE(tick.counters.has_value());
  EXPECT_EQ(image.attaches, 2);  // at start and at the first tick only
}

TEST(MessageLines, KeepRingOrderIconsBySeverityAndTrimAbove200) {
  MessageLines lines;
  EXPECT_EQ(lines.Add("first", 23), 0u);
  lines.Add("error", 70);
  lines.Add("failure", 30);
  lines.Add("send", 94);
  EXPECT_EQ(lines.Lines()[0].icon, 0);
  EXPECT_EQ(lines.Lines()[1].icon, 1);
  EXPECT_EQ(lines.Lines()[2].icon, 1);
  EXPECT_EQ(lines.Lines()[3].icon, 1);
  for (int i = 4; i < 200; ++i) EXPECT_EQ(lines.Add("line " + std::to_string(i), 23), 0u);
  EXPECT_EQ(lines.Add("line 200", 23), 5u);
  EXPECT_EQ(lines.Lines().size(), 196u);
  EXPECT_EQ(lines.Lines().front().text, "line 5");
  EXPECT_EQ(lines.Lines().back().text, "line 200");
}

TEST(LearnHook, TakesTheTextAfterTheDashFromTheEleventhCharacterOn) {
  EXPECT_EQ(LearnedText("NIO-*ABCDEF-GHI-DIT:12"), "GHI-DIT:12");
  EXPECT_EQ(LearnedText("x NIO-* abcd-DIT:4"), "DIT:4");
  EXPECT_FALSE(LearnedText("NIO-*ABCDEFGHIJ").has_value());
  EXPECT_FALSE(LearnedText("NIO- ABCDEF-GHI").has_value());
}

TEST(Reload, AsksAboutChangesSavesFirstAndStopsWhenTheSaveFails) {
  ViewEditor editor;
  int saves = 0;
  int reloads = 0;
  bool saveWorks = true;
  std::vector<std::string> messageLines;
  auto save = [&] {
    ++saves;
    return saveWorks;
  };
  auto reload = [&] {
    ++reloads;
    return ReloadOutcome::kReloaded;
  };
  auto messageLine = [&](const std::string& line) { messageLines.push_back(line); };
  EXPECT_FALSE(RunReload(editor.doc, editor.ui, save, reload, messageLine));
  EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{"Driver not Started Not Started!"});

  editor.AddRecordThroughDialog("DIT:0", "");
  editor.doc.SetReloadPending(true);
  editor.ui.answer = Answer::kCancel;
  EXPECT_FALSE(RunReload(editor.doc, editor.ui, save, reload, messageLine));
  saveWorks = false;
  editor.ui.answer = Answer::kYes;
  EXPECT_FALSE(RunReload(editor.doc, editor.ui, save, reload, messageLine));
  EXPECT_EQ(reloads, 0);
  saveWorks = true;
  EXPECT_TRUE(RunReload(editor.doc, editor.ui, save, reload, messageLine));
  EXPECT_EQ(saves, 2);
  EXPECT_EQ(reloads, 1);
  EXPECT_EQ(editor.ui.Texts().back(), "Reload Complete");
  EXPECT_EQ(editor.ui.shown.back().icon, MessageIcon::kInformation);
  EXPECT_FALSE(editor.doc.ReloadPending());
  EXPECT_TRUE(messageLines.empty());

  editor.ui.answer = Answer::kNo;
  editor.doc.SetModified(true);
  EXPECT_TRUE(RunReload(editor.doc, editor.ui, save, reload, messageLine));
  EXPECT_FALSE(editor.doc.Modified());
  EXPECT_EQ(saves, 2);
}

TEST(Reload, ADriverThatDidNotStopOrStartAgainIsReportedAndTheReloadStaysPending) {
  const struct {
    ReloadOutcome outcome;
    const char* text;
  } cases[] = {
      {ReloadOutcome::kNotStopped, "Reload failed: the driver did not stop"},
      {ReloadOutcome::kNotStarted, "Reload failed: the driver did not start again"},
  };
  for (const auto& failure : cases) {
    SCOPED_TRACE(failure.text);
    ViewEditor editor;
    editor.AddRecordThroughDialog("DIT:0", "");
    editor.doc.SetModified(false);
    editor.doc.SetReloadPending(true);
    std::vector<std::string> messageLines;
    EXPECT_FALSE(RunReload(
        editor.doc, editor.ui, [] { return true; }, [&] { return failure.outcome; },
        [&](const std::string& line) { messageLines.push_back(line); }));
    EXPECT_EQ(editor.ui.Texts(), std::vector<std::string>{failure.text});
    EXPECT_EQ(editor.ui.shown.back().icon, MessageIcon::kError);
    EXPECT_EQ(messageLines, std::vector<std::string>{failure.text});
    EXPECT_TRUE(editor.doc.ReloadPending());

    // Once the driver answers, the same command completes.
    messageLines.clear();
    EXPECT_TRUE(RunReload(
        editor.doc, editor.ui, [] { return true; }, [] { return ReloadOutcome::kReloaded; },
        [&](const std::string& line) { messageLines.push_back(line); }));
    EXPECT_EQ(editor.ui.Texts().back(), "Reload Complete");
    EXPECT_TRUE(messageLines.empty());
    EXPECT_FALSE(editor.doc.ReloadPending());
  }
}

TEST(Reload, TheDriverIsStartedOnlyAfterItConfirmedTheStop) {
  // Each call's request (0 stop, 1 start) and the driver's confirmations in turn.
  struct Case {
    std::vector<int> confirmations;
    ReloadOutcome outcome;
    std::vector<int> requests;
  };
  const Case cases[] = {
      {{1, 1}, ReloadOutcome::kReloaded, {0, 1}},
      {{0}, ReloadOutcome::kNotStopped, {0}},
      {{1, 0}, ReloadOutcome::kNotStarted, {0, 1}},
  };
  for (const Case& scenario : cases) {
    std::vector<int> requests;
    const ReloadOutcome outcome = StopAndStartDriver([&](int start) {
      requests.push_back(start);
      return scenario.confirmations.at(requests.size() - 1);
    });
    EXPECT_EQ(outcome, scenario.outcome);
    EXPECT_EQ(requests, scenario.requests);
  }
}

}  // namespace
}  // namespace vrt::editor
