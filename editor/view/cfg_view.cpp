#include "cfg_view.h"

#include "dictionary.h"
#include "editor_messages.h"

namespace vrt::editor {

int StateIconForStatus(int status) {
  switch (status) {
    case 0: return 1;
    case 4293: return 2;
    case 4296:
    case 4297: return 3;
    default: return 4;
  }
}

void CfgView::DocumentUpdated() {
  pendingAdd_ = nullptr;
  if (doc_.ChannelCount() == 0) doc_.AddChannel();
  SelectChannel(0);
}

void CfgView::DocumentSaved() {
  CChannel* channel = Channel();
  if (channel == nullptr) {
    DocumentUpdated();
    return;
  }
  if (channel->Devices().empty()) doc_.AddDefaultDevice(*channel);
  if (channel->CurrentDevice() == nullptr) channel->SetCurrentDevice(channel->Devices().front().get());
}

void CfgView::SelectChannel(int index) {
  if (index < 0 || index >= kMaxChannels) return;
  doc_.EnsureChannels(index + 1);
  doc_.SetSelectedChannel(index);
  CChannel& channel = *doc_.Channels()[static_cast<std::size_t>(index)];
  if (channel.Devices().empty()) doc_.AddDefaultDevice(channel);
  channel.SetCurrentDevice(channel.Devices().front().get());
}

CChannel* CfgView::Channel() const {
  const int index = doc_.SelectedChannel();
  if (index < 0 || index >= doc_.ChannelCount()) return nullptr;
  return doc_.Channels()[static_cast<std::size_t>(index)].get();
}

CDevice* CfgView::Device() const {
  CChannel* channel = Channel();
  return channel != nullptr ? channel->CurrentDevice() : nullptr;
}

std::vector<std::string> CfgView::DeviceNames() const {
  std::vector<std::string> names;
  if (CChannel* channel = Channel()) {
    for (const auto& device : channel->Devices()) names.push_back(device->Name());
  }
  return names;
}

int CfgView::DevicePosition() const {
  CChannel* channel = Channel();
  if (channel == nullptr) return -1;
  const auto& devices = channel->Devices();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].get() == channel->CurrentDevice()) return static_cast<int>(i);
  }
  return -1;
}

void CfgView::SelectDevice(int position) {
  CChannel* channel = Channel();
  if (channel == nullptr || position < 0 || position >= static_cast<int>(channel->Devices().size())) return;
  channel->SetCurrentDevice(channel->Devices()[static_cast<std::size_t>(position)].get());
}

std::vector<std::string> CfgView::HardwareChoices() { return VRT_Hardware_Type_dct().ComboTexts(); }

DeviceProperties CfgView::ShowProperties() {
  DeviceProperties shown;
  if (const CDevice* device = Device()) {
    shown.name = device->Name();
    shown.primaryStation = device->PrimaryStationText(EntryPath::kView);
    shown.backupStation = device->BackupStationText(EntryPath::kView);
    shown.description = device->Description();
    shown.hardwarePosition = VRT_Hardware_Type_dct().ComboPosition(device->HardwareType());
    shown.queueHead = device->QueueHeadText(EntryPath::kView);
  }
  shown_ = shown;
  return shown;
}

bool CfgView::CommitProperty(PropertyField field, const std::string& text) {
  CDevice* device = Device();
  if (device == nullptr) return true;
  std::string* last = nullptr;
  switch (field) {
    case PropertyField::kName: last = &shown_.name; break;
    case PropertyField::kPrimaryStation: last = &shown_.primaryStation; break;
    case PropertyField::kBackupStation: last = &shown_.backupStation; break;
    case PropertyField::kDescription: last = &shown_.description; break;
    case PropertyField::kQueueHead: last = &shown_.queueHead; break;
  }
  if (text == *last) return true;
  const DeviceSettings before = device->Settings();
  Reporter& reporter = services_.reporter;
  int result = kTaken;
  switch (field) {
    case PropertyField::kName: result = doc_.SetDeviceNameFromView(*device, text, reporter); break;
    case PropertyField::kPrimaryStation:
      result = device->SetPrimaryStationFromText(text, reporter, EntryPath::kView);
      break;
    case PropertyField::kBackupStation:
      result = device->SetBackupStationFromText(text, reporter, EntryPath::kView);
      break;
    case PropertyField::kDescription: result = device->SetDescriptionFromText(text, reporter); break;
    case PropertyField::kQueueHead: result = device->SetQueueHeadFromText(text, reporter, EntryPath::kView); break;
  }
  if (result != kTaken) return false;
  if (!(device->Settings() == before)) doc_.SetModified(true);
  ShowProperties();
  return true;
}

bool CfgView::ChooseHardware(int position) {
  CDevice* device = Device();
  const int code = VRT_Hardware_Type_dct().CodeAt(position);
  if (device == nullptr || code == kStopCode || code == device->HardwareType()) return false;
  return doc_.ChangeHardwareType(*device, code, services_.ui);
}

bool CfgView::AddEnabled() const {
  const CChannel* channel = Channel();
  return channel != nullptr && channel->Devices().size() < static_cast<std::size_t>(kMaxDevicesPerChannel);
}

std::string CfgView::BeginAdd() {
  CChannel* channel = Channel();
  if (channel == nullptr || !AddEnabled()) return {};
  pendingAdd_ = doc_.AddDefaultDevice(*channel);
  return pendingAdd_->Name();
}

bool CfgView::FinishAdd(const std::string& text) {
  if (pendingAdd_ == nullptr) return true;
  const std::optional<std::string> typed = CDidDoc::TypedDeviceName(text, services_.reporter);
  if (!typed) return false;
  const std::string& name = *typed;
  if (name.empty()) {
    CancelAdd();
    return true;
  }
  const CDevice* holder = doc_.FindDeviceIgnoringCase(name);
  if (holder != nullptr && holder != pendingAdd_) {
    services_.reporter.Report(msg::kAddedNameExists);
    return false;
  }
  if (pendingAdd_->SetNameFromText(name, services_.reporter) != kTaken) return false;
  Channel()->SetCurrentDevice(pendingAdd_);
  pendingAdd_ = nullptr;
  doc_.SetModified(true);
  return true;
}

void CfgView::CancelAdd() {
  CChannel* channel = Channel();
  if (pendingAdd_ == nullptr || channel == nullptr) return;
  const bool wasCurrent = channel->CurrentDevice() == pendingAdd_;
  channel->DeleteDevice(pendingAdd_);
  pendingAdd_ = nullptr;
  if (wasCurrent || channel->CurrentDevice() == nullptr) {
    channel->SetCurrentDevice(channel->Devices().empty() ? nullptr : channel->Devices().front().get());
  }
}

bool CfgView::DeleteDevice() {
  CChannel* channel = Channel();
  CDevice* device = Device();
  if (channel == nullptr || device == nullptr) return false;
  if (!device->PollRecords().empty() &&
      services_.ui.Ask(msg::kDeleteDevice, kProgramTitle, Buttons::kYesNo, MessageIcon::kQuestion) != Answer::kYes) {
    return false;
  }
  const int position = DevicePosition();
  channel->DeleteDevice(device);
  doc_.SetModified(true);
  if (channel->Devices().empty()) doc_.AddDefaultDevice(*channel);
  const int next = position > 0 ? position - 1 : 0;
  channel->SetCurrentDevice(channel->Devices()[static_cast<std::size_t>(next)].get());
  return true;
}

GridRow CfgView::Row(const CPollRecord& record, int position) const {
  return {record.GridTexts(position), StateIconForStatus(record.LiveStatus())};
}

std::vector<GridRow> CfgView::Grid() const {
  std::vector<GridRow> rows;
  if (const CDevice* device = Device()) {
    int position = 0;
    for (const auto& record : device->PollRecords()) rows.push_back(Row(*record, ++position));
  }
  return rows;
}

CPollRecord* CfgView::RecordForDoubleClick(int row) {
  CDevice* device = Device();
  if (device == nullptr) return nullptr;
  const auto& records = device->PollRecords();
  if (row >= 0 && row < static_cast<int>(records.size())) return records[static_cast<std::size_t>(row)].get();
  return device->AttachPollRecord(std::make_unique<CPollRecord>());
}

bool CfgView::AfterPollRecordDialog(CPollRecord* record) {
  if (record == nullptr || record->Settings().length != 0) return false;
  if (CDevice* device = record->Owner()) device->DetachPollRecord(record);
  return true;
}

bool CfgView::DisableCommsAlarms() const {
  const CChannel* channel = Channel();
  return channel != nullptr && channel->Settings().disableCommsAlarms;
}

bool CfgView::LearnAddresses() const {
  const CChannel* channel = Channel();
  return channel != nullptr && channel->Settings().learnAddresses;
}

void CfgView::ToggleDisableCommsAlarms() {
  if (CChannel* channel = Channel()) {
    channel->SetDisableCommsAlarms(!channel->Settings().disableCommsAlarms);
    doc_.SetModified(true);
  }
}

void CfgView::ToggleLearnAddresses() {
  if (CChannel* channel = Channel()) {
    channel->SetLearnAddresses(!channel->Settings().learnAddresses);
    doc_.SetModified(true);
  }
}

}  // namespace vrt::editor
