// What the configuration view shows and does, without a window: the
// selected channel, the device list, the property fields, the poll-record
// grid and the Add and Delete commands. The window program fills its
// controls from here and hands every user action back; the tests drive it
// the same way.
#pragma once

#include <string>
#include <vector>

#include "did_doc.h"
#include "editor_services.h"

namespace vrt::editor {

// The grid's state icons, by live status: 1 good, 2 warning, 3 not yet
// polled or stopped, 4 failed or unknown.
inline constexpr int kStatusNeverRead = 97;
int StateIconForStatus(int status);

// The property fields that take effect when they lose the focus.
enum class PropertyField { kName, kPrimaryStation, kBackupStation, kDescription, kQueueHead };

struct DeviceProperties {
  std::string name;
  std::string primaryStation;
  std::string backupStation;
  std::string description;
  int hardwarePosition = -1;  // in HardwareChoices(); -1 for a type the table lacks
  std::string queueHead;
};

struct GridRow {
  std::vector<std::string> texts;  // the nine columns
  int stateIcon = 4;
};

class CfgView {
 public:
  CfgView(CDidDoc& doc, EditorServices& services) : doc_(doc), services_(services) {}

  // After New, Open or an import: channel 1 exists (created when the
  // document has none) and is selected and shown.
  void DocumentUpdated();

  // After a save, which drops devices without poll records and empty
  // channels at the end: the selected channel and device stay shown while
  // they exist.
  void DocumentSaved();

  // Channel toolbar (0-based): channels are created up to it, a channel
  // without devices gets a default one, its first device becomes current.
  void SelectChannel(int index);
  int SelectedChannel() const { return doc_.SelectedChannel(); }
  CChannel* Channel() const;
  CDevice* Device() const;

  std::vector<std::string> DeviceNames() const;
  // 0-based position of the current device in the list; -1 when none.
  int DevicePosition() const;
  void SelectDevice(int position);

  // The property fields as they are to be shown now; also remembered as
  // the texts last shown.
  DeviceProperties ShowProperties();
  static std::vector<std::string> HardwareChoices();
  // A field lost the focus with `text`. Nothing happens when the text is
  // the one last shown. False when the rule refused it (its message was
  // shown): the view shows ShowProperties() again.
  bool CommitProperty(PropertyField field, const std::string& text);
  // A hardware type picked from the list (with the question when the
  // device has poll records). False when nothing changed.
  bool ChooseHardware(int position);

  bool AddEnabled() const;
  // Add: a device with the default name is attached and becomes current;
  // the dialog starts with the returned text.
  std::string BeginAdd();
  // The Add Device dialog's OK. An empty name drops the new device (true);
  // a refused name keeps the dialog open (false, its message shown).
  bool FinishAdd(const std::string& text);
  // Cancel in the Add Device dialog.
  void CancelAdd();
  // Delete, with the question when the device has poll records; false when
  // the user said No.
  bool DeleteDevice();

  std::vector<GridRow> Grid() const;
  GridRow Row(const CPollRecord& record, int position) const;
  // Double-click on row `row` (0-based): that record; below the last row:
  // a new record attached to the current device.
  CPollRecord* RecordForDoubleClick(int row);
  // After the Poll Record Edit dialog: a record left without length is
  // removed. True when rows were removed (the grid is refilled).
  bool AfterPollRecordDialog(CPollRecord* record);

  // Options menu, on the selected channel.
  bool DisableCommsAlarms() const;
  bool LearnAddresses() const;
  void ToggleDisableCommsAlarms();
  void ToggleLearnAddresses();

  CDidDoc& Doc() { return doc_; }
  EditorServices& Services() { return services_; }

 private:
  CDevice* pendingAdd_ = nullptr;
  CDidDoc& doc_;
  EditorServices& services_;
  DeviceProperties shown_;
};

}  // namespace vrt::editor
