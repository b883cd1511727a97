// The editor's document: the whole driver configuration as a tree of
// channels, devices and poll records, with the document's state (path,
// modified and reload flags) and the rules that need the whole tree (unique
// device names, default names, pruning before a save).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dit_items.h"
#include "editor_services.h"

namespace vrt::editor {

class CDidDoc {
 public:
  CDidDoc() = default;
  CDidDoc(const CDidDoc&) = delete;
  CDidDoc& operator=(const CDidDoc&) = delete;

  const std::vector<std::unique_ptr<CChannel>>& Channels() const { return channels_; }
  int ChannelCount() const { return static_cast<int>(channels_.size()); }

  // Appends a channel numbered by its position.
  CChannel* AddChannel();
  CChannel* AppendChannel(std::unique_ptr<CChannel> channel);
  // Appends channels until the document holds `count`.
  void EnsureChannels(int count);

  // New: every channel, device and poll record deleted, empty path, title
  // "Untitled", modified flag cleared.
  void Clear();

  // The channel whose number is `number` (the number read from CSV during an
  // import, else its position + 1).
  CChannel* FindChannelByNumber(int number) const;
  // Device by name in one channel (exact) and over all channels: exact, or
  // without regard to case.
  static CDevice* FindDeviceInChannel(const CChannel& channel, std::string_view name);
  CDevice* FindDevice(std::string_view name) const;
  CDevice* FindDeviceIgnoringCase(std::string_view name) const;
  // The device a CSV poll-record line names: the exact name first, so that
  // "d1" and "D1" in different channels each get their own records, then
  // any device whose name differs only in case.
  CDevice* FindDeviceForPollRecord(std::string_view name) const;

  // "D", the channel's number and the number of devices it holds ("D10" for
  // the first device of channel 1); when a device anywhere has that name,
  // the next number that gives a free name.
  std::string DefaultDeviceName(const CChannel& channel) const;
  // Appends a device with the default name (the view does this for a channel
  // without devices).
  CDevice* AddDefaultDevice(CChannel& channel);

  // A device name as a person typed it: upper-cased; only
  // "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-" and blanks, else the message and
  // nothing; cut at the first blank.
  static std::optional<std::string> TypedDeviceName(std::string_view text, Reporter& reporter);
  // The main view's device name rule: upper-cased, only
  // "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-", cut at the first blank, unique,
  // then the name setter. Returns 0 or the message number.
  int SetDeviceNameFromView(CDevice& device, std::string_view text, Reporter& reporter) const;

  // A hardware type change: when the device has poll records the user is
  // asked first; Yes deletes them. Returns false when the user said No.
  bool ChangeHardwareType(CDevice& device, int code, EditorUserInterface& ui);

  int PollRecordTotal() const;
  int DeviceTotal() const;

  // Removes every device without poll records, then every channel without
  // devices from the end back to the last one that still has devices.
  void Prune();
  // Numbers poll records 1, 2, 3 ... in document order.
  void NumberPollRecords();

  const std::string& Path() const { return path_; }
  const std::string& Title() const { return title_; }
  void SetPath(const std::string& path);
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  bool ReloadPending() const { return reloadPending_; }
  void SetReloadPending(bool pending) { reloadPending_ = pending; }
  bool SaveLog() const { return saveLog_; }
  void SetSaveLog(bool on) { saveLog_ = on; }
  int SelectedChannel() const { return selectedChannel_; }
  void SetSelectedChannel(int index) { selectedChannel_ = index; }

 private:
  std::vector<std::unique_ptr<CChannel>> channels_;
  std::string path_;
  std::string title_ = "Untitled";
  bool modified_ = false;
  bool reloadPending_ = false;
  bool saveLog_ = false;
  int selectedChannel_ = 0;
};

}  // namespace vrt::editor
