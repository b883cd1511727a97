// The editor's link to the running driver, without a window: the status
// tick's texts and live record states, the messages view's lines, the
// learn hook, and Reload. The window program supplies the live image (the
// mapping library) and the timers; the tests supply a fake image.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "did_doc.h"
#include "editor_services.h"

namespace vrt::editor {

inline constexpr char kProductCaption[] = "Harnix Tavex";
inline constexpr unsigned kStatusTickMs = 2000;
inline constexpr unsigned kMessageTickMs = 250;
inline constexpr std::size_t kMessageLinesMax = 200;
inline constexpr std::size_t kMessageLinesTrimmed = 5;

// The live image as the editor reads it (the mapping library's editor
// build). Every read may fail; the tick then ends quietly.
class LiveImage {
 public:
  virtual ~LiveImage() = default;
  // Channels of the attached image; attaches on first use (starting the
  // driver when none runs); 0 when there is no image.
  virtual int ChannelCount() = 0;
  virtual bool ChannelCounters(int channel, std::uint16_t* transmit, std::uint16_t* receive) = 0;
  virtual int PollRecordCount() = 0;
  virtual bool PollRecordStatus(int index, std::uint16_t* status) = 0;
};

// "%I:%M %p".
std::string ClockText(const std::tm& now);
// "Harnix Tavex Configuration - <pane 1> - <path>".
std::string WindowTitle(const std::string& pane1, const std::string& path);
// "TX=%d RX=%d Polls/Sec=%d", the rate from a 16-bit difference over 2 s.
std::string CountersText(std::uint16_t transmit, std::uint16_t receive, std::uint16_t previousTransmit);

class RuntimeLink {
 public:
  explicit RuntimeLink(LiveImage& image) : image_(image) {}

  // At start: the first attach (which may start the driver).
  void Attach();
  // 0 not attached, -1 given up, else the live channel count.
  int LiveChannels() const { return liveChannels_; }

  struct Tick {
    std::string clock;
    std::string title;
    std::optional<std::string> counters;  // pane 0, when it changes
    std::vector<int> changedRows;  // 0-based rows of the device's grid
  };
  // One status tick over the selected channel (0-based, -1 for none) and
  // its current device.
  Tick StatusTick(const std::tm& now, const std::string& pane1, const CDidDoc& doc, int channel,
                  const CDevice* device);

 private:
  // The record's live status into its last status word; true when the word
  // changed (the row is redrawn).
  bool UpdateLiveStatus(CPollRecord& record, int liveRecords);

  LiveImage& image_;
  int liveChannels_ = 0;
  std::uint16_t previousTransmit_ = 0;
};

// The messages view's lines: one per ring entry, in ring order; above 200
// lines the first 5 go.
class MessageLines {
 public:
  struct Line {
    std::string text;
    int icon = 0;  // 0 information, 1 warning (severities 30, 70 and 94)
  };
  // Adds a line; returns the number of lines removed from the front.
  std::size_t Add(const std::string& text, int attribute);
  const std::deque<Line>& Lines() const { return lines_; }

 private:
  std::deque<Line> lines_;
};

// The learn hook: the text a message hands to the selected poll record's
// learn operation ("NIO-*" in it and, from its eleventh character on, a
// "-"; what follows that "-"), or nothing.
std::optional<std::string> LearnedText(const std::string& message);

// Unsaved changes, before New, Open and Reload: Yes saves (`save`, false
// when the save failed or was cancelled), No drops the changes, Cancel ends.
// False when the command is not to go on.
bool SaveModified(CDidDoc& doc, EditorUserInterface& ui, const std::function<bool()>& save);

// What became of Reload's stop and start of the driver.
enum class ReloadOutcome { kReloaded, kNotStopped, kNotStarted };

// The driver stopped and started again through the mapping library's
// nio_StartStop (`startStop(0)` stops, `startStop(1)` starts; each gives 1
// once the driver confirmed and 0 when it did not within the library's
// wait). A driver that did not confirm the stop is not asked to start: it
// is still running on the old file, or in a state nobody knows.
ReloadOutcome StopAndStartDriver(const std::function<int(int start)>& startStop);

// Reload: the steps around the driver's stop and start. `save` saves the
// document to its path (the File command, with its own dialogs); `reload`
// stops and starts the driver on the saved file and says how that went. A
// driver that did not stop or did not start again is reported in a box and
// as a line of the messages pane (`messageLine`), and the reload stays
// pending. False when nothing was reloaded.
bool RunReload(CDidDoc& doc, EditorUserInterface& ui, const std::function<bool()>& save,
               const std::function<ReloadOutcome()>& reload,
               const std::function<void(const std::string&)>& messageLine);

}  // namespace vrt::editor
