#include "runtime_link.h"

#include <cstdio>

#include "editor_messages.h"

namespace vrt::editor {

namespace {

constexpr std::uint16_t kStatusMask = 0x1FFF;
constexpr int kStatusOutsideSeen = 99;
constexpr int kStatusOutside = 98;

}  // namespace

std::string ClockText(const std::tm& now) {
  char text[16];
  std::strftime(text, sizeof text, "%I:%M %p", &now);
  return text;
}

std::string WindowTitle(const std::string& pane1, const std::string& path) {
  return std::string(kProductCaption) + " Configuration - " + pane1 + " - " + path;
}

std::string CountersText(std::uint16_t transmit, std::uint16_t receive, std::uint16_t previousTransmit) {
  const std::uint16_t difference = static_cast<std::uint16_t>(transmit - previousTransmit);
  char text[64];
  std::snprintf(text, sizeof text, "TX=%d RX=%d Polls/Sec=%d", transmit, receive, difference / 2);
  return text;
}

void RuntimeLink::Attach() { liveChannels_ = image_.ChannelCount(); }

RuntimeLink::Tick RuntimeLink::StatusTick(const std::tm& now, const std::string& pane1, const CDidDoc& doc,
                                          int channel, const CDevice* device) {
  Tick tick;
  tick.clock = ClockText(now);
  tick.title = WindowTitle(pane1, doc.Path());
  if (channel < 0 || liveChannels_ == -1) return tick;
  liveChannels_ = image_.ChannelCount();
  if (liveChannels_ == 0) {
    liveChannels_ = -1;
    return tick;
  }
  if (channel < liveChannels_) {
    std::uint16_t transmit = 0;
    std::uint16_t receive = 0;
    if (!image_.ChannelCounters(channel, &transmit, &receive)) return tick;
    tick.counters = CountersText(transmit, receive, previousTransmit_);
    previousTransmit_ = transmit;
  }
  if (device == nullptr) return tick;
  const int liveRecords = image_.PollRecordCount();
  int row = 0;
  for (const auto& record : device->PollRecords()) {
    if (UpdateLiveStatus(*record, liveRecords)) tick.changedRows.push_back(row);
    ++row;
  }
  return tick;
}

bool RuntimeLink::UpdateLiveStatus(CPollRecord& record, int liveRecords) {
  // Records are numbered 1, 2, 3 ... in the saved file; the image counts
  // from 0.
  const int index = record.Number() - 1;
  std::uint16_t status = 0;
  if (record.Number() > 0 && index < liveRecords && image_.PollRecordStatus(index, &status)) {
    const int masked = status & kStatusMask;
    if (masked == record.LiveStatus()) return false;
    record.SetLiveStatus(masked);
    return true;
  }
  if (record.LiveStatus() != kStatusOutsideSeen) return false;
  record.SetLiveStatus(kStatusOutside);
  return true;
}

std::size_t MessageLines::Add(const std::string& text, int attribute) {
  const bool warning = attribute == 30 || attribute == 70 || attribute == 94;
  lines_.push_back({text, warning ? 1 : 0});
  if (lines_.size() <= kMessageLinesMax) return 0;
  lines_.erase(lines_.begin(), lines_.begin() + kMessageLinesTrimmed);
  return kMessageLinesTrimmed;
}

std::optional<std::string> LearnedText(const std::string& message) {
  if (message.find("NIO-*") == std::string::npos || message.size() <= 10) return std::nullopt;
  const std::size_t dash = message.find('-', 10);
  if (dash == std::string::npos) return std::nullopt;
  return message.substr(dash + 1);
}

bool SaveModified(CDidDoc& doc, EditorUserInterface& ui, const std::function<bool()>& save) {
  if (!doc.Modified()) return true;
  switch (ui.Ask(msg::kModifiedNotSaved, kProgramTitle, Buttons::kYesNoCancel, MessageIcon::kExclamation)) {
    case Answer::kYes: return save();
    case Answer::kNo: doc.SetModified(false); return true;
    default: return false;
  }
}

bool RunReload(CDidDoc& doc, EditorUserInterface& ui, const std::function<bool()>& save,
               const std::function<ReloadOutcome()>& reload,
               const std::function<void(const std::string&)>& messageLine) {
  if (doc.PollRecordTotal() == 0) {
    ui.ShowMessage(msg::kReloadNothing, kProgramTitle, MessageIcon::kExclamation);
    return false;
  }
  // A save that failed or was cancelled leaves the driver as it is.
  if (!SaveModified(doc, ui, save)) return false;
  const ReloadOutcome outcome = reload();
  if (outcome != ReloadOutcome::kReloaded) {
    // The messages pane keeps the failure after the box is gone, beside the
    // driver's own lines about it.
    const char* text = outcome == ReloadOutcome::kNotStopped ? msg::kReloadNotStopped : msg::kReloadNotStarted;
    messageLine(text);
    ui.ShowMessage(text, kProgramTitle, MessageIcon::kError);
    return false;
  }
  ui.ShowMessage(msg::kReloadComplete, kProgramTitle, MessageIcon::kInformation);
  doc.SetReloadPending(false);
  return true;
}

ReloadOutcome StopAndStartDriver(const std::function<int(int start)>& startStop) {
  if (startStop(0) == 0) return ReloadOutcome::kNotStopped;
  if (startStop(1) == 0) return ReloadOutcome::kNotStarted;
  return ReloadOutcome::kReloaded;
}

}  // namespace vrt::editor
