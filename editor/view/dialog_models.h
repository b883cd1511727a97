// The editor's dialogs without their windows: Port Settings and Poll Record
// Edit each work on a copy and write it back only on OK when it differs.
// Their windows show Fields(), hand every focus loss, choice and button
// back here, and show Fields() again afterwards.
#pragma once

#include <string>
#include <vector>

#include "did_doc.h"
#include "dit_items.h"
#include "editor_services.h"

namespace vrt::editor {

// Cards a channel can use, by position in the Card No list (position =
// port number).
inline constexpr int kCardCount = 8;

class PortSettingsModel {
 public:
  enum class Field { kReplyTimeout, kDelay, kRetries };
  struct Fields {
    int cardPosition = 0;  // -1: a port the list does not hold
    std::string replyTimeout;
    std::string delay;
    std::string retries;
  };

  // Edits channel `index` (0-based) of `doc`.
  PortSettingsModel(CDidDoc& doc, int index, EditorServices& services);

  // "Channel %1 Communication Settings", or "Channel %1 Backup
  // Communication Settings".
  std::string Title(LinkRole mode) const;
  // "None", then "Card 1:" ... "Card 8:".
  static std::vector<std::string> CardEntries();

  Fields Show(LinkRole mode) const;
  // A card picked from the list. A card used by another port (the channel's
  // other link or any link of another channel) is refused with
  // "Port already in use on Channel %1"; false then.
  bool ChooseCard(LinkRole mode, int position);
  // A field lost the focus; false when the value was refused (its message
  // shown), the field then shows the old value again.
  bool Commit(LinkRole mode, Field field, const std::string& text);
  // OK of the primary dialog: without a card, the user is asked first;
  // false when the dialog stays open. The copy goes into the channel when
  // it differs.
  bool Accept();

  // The backup dialog writes into the same copy; its Cancel puts back what
  // the copy held when it opened.
  void BeginBackup() { backupStart_.CopySettingsFrom(copy_); }
  void CancelBackup() { copy_.CopySettingsFrom(backupStart_); }

  const CChannel& Copy() const { return copy_; }

 private:
  CDidDoc& doc_;
  int index_;
  EditorServices& services_;
  CChannel copy_;
  CChannel backupStart_;
};

class PollRecordEditModel {
 public:
  enum class Field { kStart, kEnd, kLength, kPollTime, kAccessTime, kDeadBand };
  struct Fields {
    std::string start;
    std::string end;
    std::string length;
    int dataTypePosition = -1;
    std::string pollTime;
    std::string accessTime;
    int exceptionPosition = -1;
    std::string deadBand;
  };
  // What became of a focus loss.
  struct Outcome {
    bool refused = false;
    Field focus = Field::kStart;  // where the focus goes back after a refusal
  };

  // Edits `record`, a record of `device`; null starts in New mode.
  PollRecordEditModel(CDidDoc& doc, CDevice& device, CPollRecord* record, EditorServices& services);

  static std::vector<std::string> DataTypeChoices();
  static std::vector<std::string> ExceptionChoices();

  Fields Show() const;
  // A field lost the focus with `text`; `shown` is the text the field
  // showed before, so that an unchanged field does nothing.
  Outcome Commit(Field field, const std::string& text, const std::string& shown);
  void ChooseDataType(int position);
  void ChooseException(int position);

  // OK: the copy into the record when it differs (in New mode into a new
  // record appended to the device). Returns the record written, or null.
  CPollRecord* Accept();
  // New: the copy, when it has a length, is kept first (a record typed and
  // then New is not lost), then a fresh copy in New mode.
  void New();
  // Delete: the record loses its length, so the view removes it.
  void Delete();

  bool NewMode() const { return record_ == nullptr; }
  CPollRecord* Record() const { return record_; }
  // The last record written by Accept or New, for the view to redraw.
  CPollRecord* LastWritten() const { return lastWritten_; }

 private:
  CDidDoc& doc_;
  CDevice& device_;
  CPollRecord* record_;
  EditorServices& services_;
  CPollRecord copy_;
  CPollRecord* lastWritten_ = nullptr;
};

// The Exit dialog's starting ticks, or whether the program closes at once.
struct ExitChoice {
  bool closeNow = false;
  bool dropChanges = false;  // modified flag cleared without a question
  bool save = false;
  bool reload = false;
};
ExitChoice ChooseExit(const CDidDoc& doc);

}  // namespace vrt::editor
