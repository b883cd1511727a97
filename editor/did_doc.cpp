#include "did_doc.h"

#include "editor_messages.h"
#include "editor_text.h"

namespace vrt::editor {

namespace {

// The characters a typed device name may hold (after upper-casing),
// besides blanks.
constexpr std::string_view kViewNameCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";

}  // namespace

CChannel* CDidDoc::AddChannel() {
  auto channel = std::make_unique<CChannel>();
  channel->SetNumber(ChannelCount() + 1);
  return AppendChannel(std::move(channel));
}

CChannel* CDidDoc::AppendChannel(std::unique_ptr<CChannel> channel) {
  channels_.push_back(std::move(channel));
  return channels_.back().get();
}

void CDidDoc::EnsureChannels(int count) {
  while (ChannelCount() < count) AddChannel();
}

void CDidDoc::Clear() {
  channels_.clear();
  path_.clear();
  title_ = "Untitled";
  modified_ = false;
  selectedChannel_ = 0;
}

void CDidDoc::SetPath(const std::string& path) {
  path_ = path;
  title_ = path.empty() ? "Untitled" : path;
}

CChannel* CDidDoc::FindChannelByNumber(int number) const {
  for (const auto& channel : channels_) {
    if (channel->Number() == number) return channel.get();
  }
  return nullptr;
}

CDevice* CDidDoc::FindDeviceInChannel(const CChannel& channel, std::string_view name) {
  for (const auto& device : channel.Devices()) {
    if (device->Name() == name) return device.get();
  }
  return nullptr;
}

CDevice* CDidDoc::FindDevice(std::string_view name) const {
  for (const auto& channel : channels_) {
    if (CDevice* device = FindDeviceInChannel(*channel, name)) return device;
  }
  return nullptr;
}

CDevice* CDidDoc::FindDeviceIgnoringCase(std::string_view name) const {
  for (const auto& channel : channels_) {
    for (const auto& device : channel->Devices()) {
      if (EqualsIgnoringCase(device->Name(), name)) return device.get();
    }
  }
  return nullptr;
}

CDevice* CDidDoc::FindDeviceForPollRecord(std::string_view name) const {
  if (CDevice* device = FindDevice(name)) return device;
  return FindDeviceIgnoringCase(name);
}

std::string CDidDoc::DefaultDeviceName(const CChannel& channel) const {
  // "D", the channel's number and its device count run together, so channel
  // 1's twelfth device and channel 11's second would both be "D111": a
  // taken name moves on to the next count until the name is free.
  for (std::size_t count = channel.Devices().size();; ++count) {
    const std::string name = "D" + std::to_string(channel.Number()) + std::to_string(count);
    if (FindDeviceIgnoringCase(name) == nullptr) return name;
  }
}

CDevice* CDidDoc::AddDefaultDevice(CChannel& channel) {
  auto device = std::make_unique<CDevice>();
  // A default name ("D", up to two digits and up to three) always passes the
  // name setter's rules.
  device->name_ = DefaultDeviceName(channel);
  CDevice* added = channel.AttachDevice(std::move(device));
  if (channel.CurrentDevice() == nullptr) channel.SetCurrentDevice(added);
  return added;
}

std::optional<std::string> CDidDoc::TypedDeviceName(std::string_view text, Reporter& reporter) {
  std::string name = UpperAscii(text);
  for (char c : name) {
    if (c != ' ' && kViewNameCharacters.find(c) == std::string_view::npos) {
      reporter.Report(msg::kNameCharacters);
      return std::nullopt;
    }
  }
  const std::size_t blank = name.find(' ');
  if (blank != std::string::npos) name.erase(blank);
  return name;
}

int CDidDoc::SetDeviceNameFromView(CDevice& device, std::string_view text, Reporter& reporter) const {
  const std::optional<std::string> name = TypedDeviceName(text, reporter);
  if (!name) return kMsgNameCharacters;
  if (*name == device.Name()) return kTaken;
  if (!name->empty() && FindDevice(*name) != nullptr) {
    reporter.Report(msg::kNameExists);
    return kMsgNameExists;
  }
  return device.SetNameFromText(*name, reporter);
}

bool CDidDoc::ChangeHardwareType(CDevice& device, int code, EditorUserInterface& ui) {
  if (!device.PollRecords().empty()) {
    const Answer answer = ui.Ask(msg::kHardwareChange, kProgramTitle, Buttons::kYesNo, MessageIcon::kQuestion);
    if (answer != Answer::kYes) return false;
  }
  modified_ = true;
  device.DeletePollRecords();
  device.SetHardwareType(code);
  return true;
}

int CDidDoc::PollRecordTotal() const {
  int total = 0;
  for (const auto& channel : channels_) {
    for (const auto& device : channel->Devices()) total += static_cast<int>(device->PollRecords().size());
  }
  return total;
}

int CDidDoc::DeviceTotal() const {
  int total = 0;
  for (const auto& channel : channels_) total += static_cast<int>(channel->Devices().size());
  return total;
}

void CDidDoc::Prune() {
  for (const auto& channel : channels_) channel->RemoveDevicesWithoutPollRecords();
  while (!channels_.empty() && channels_.back()->Devices().empty()) channels_.pop_back();
  if (selectedChannel_ >= ChannelCount()) selectedChannel_ = 0;
}

void CDidDoc::NumberPollRecords() {
  int number = 1;
  for (const auto& channel : channels_) {
    for (const auto& device : channel->Devices()) {
      for (const auto& record : device->PollRecords()) record->SetNumber(number++);
    }
  }
}

}  // namespace vrt::editor
