#include "dialog_models.h"

#include "dictionary.h"
#include "editor_messages.h"
#include "editor_text.h"

namespace vrt::editor {

namespace {

LinkRole OtherLink(LinkRole mode) { return mode == LinkRole::kPrimary ? LinkRole::kBackup : LinkRole::kPrimary; }

}  // namespace

// ---------------------------------------------------------------------------
// Port Settings

PortSettingsModel::PortSettingsModel(CDidDoc& doc, int index, EditorServices& services)
    : doc_(doc), index_(index), services_(services) {
  const CChannel& channel = *doc_.Channels()[static_cast<std::size_t>(index_)];
  copy_.CopySettingsFrom(channel);
  copy_.SetNumber(channel.Number());
}

std::string PortSettingsModel::Title(LinkRole mode) const {
  return WithIntegers(mode == LinkRole::kPrimary ? msg::kPortSettingsTitle : msg::kBackupSettingsTitle,
                      static_cast<std::uint32_t>(index_ + 1));
}

std::vector<std::string> PortSettingsModel::CardEntries() {
  std::vector<std::string> entries{"None"};
  for (int n = 1; n <= kCardCount; ++n) entries.push_back("Card " + std::to_string(n) + ":");
  return entries;
}

PortSettingsModel::Fields PortSettingsModel::Show(LinkRole mode) const {
  Fields fields;
  const int port = copy_.Link(mode).port;
  fields.cardPosition = port <= kCardCount ? port : -1;
  fields.replyTimeout = copy_.ReplyTimeoutText(mode);
  fields.delay = copy_.DelayText(mode);
  fields.retries = copy_.RetriesText(mode);
  return fields;
}

bool PortSettingsModel::ChooseCard(LinkRole mode, int position) {
  if (position < 0 || position > kCardCount) return false;
  if (position != 0) {
    int user = 0;  // 1-based channel that holds the card
    if (copy_.Link(OtherLink(mode)).port == position) user = index_ + 1;
    for (int other = 0; user == 0 && other < doc_.ChannelCount(); ++other) {
      if (other == index_) continue;
      const CChannel& channel = *doc_.Channels()[static_cast<std::size_t>(other)];
      if (channel.Link(LinkRole::kPrimary).port == position || channel.Link(LinkRole::kBackup).port == position) {
        user = other + 1;
      }
    }
    if (user != 0) {
      services_.reporter.Report(WithIntegers(msg::kPortInUse, static_cast<std::uint32_t>(user)));
      return false;
    }
  }
  copy_.SetPort(mode, position);
  return true;
}

bool PortSettingsModel::Commit(LinkRole mode, Field field, const std::string& text) {
  Reporter& reporter = services_.reporter;
  switch (field) {
    case Field::kReplyTimeout:
      if (text == copy_.ReplyTimeoutText(mode)) return true;
      return copy_.SetReplyTimeoutFromText(mode, text, reporter) == kTaken;
    case Field::kDelay:
      if (text == copy_.DelayText(mode)) return true;
      return copy_.SetDelayFromText(mode, text, reporter) == kTaken;
    case Field::kRetries:
      if (text == copy_.RetriesText(mode)) return true;
      return copy_.SetRetriesFromText(mode, text, reporter) == kTaken;
  }
  return true;
}

bool PortSettingsModel::Accept() {
  if (copy_.Link(LinkRole::kPrimary).port == 0 &&
      services_.ui.Ask(msg::kNoPort, kProgramTitle, Buttons::kOkCancel, MessageIcon::kQuestion) != Answer::kOk) {
    return false;
  }
  CChannel& channel = *doc_.Channels()[static_cast<std::size_t>(index_)];
  if (!copy_.SameSettings(channel)) {
    channel.CopySettingsFrom(copy_);
    doc_.SetModified(true);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Poll Record Edit

PollRecordEditModel::PollRecordEditModel(CDidDoc& doc, CDevice& device, CPollRecord* record,
                                         EditorServices& services)
    : doc_(doc), device_(device), record_(record), services_(services) {
  copy_.EditAsCopyOf(record_, device_);
}

std::vector<std::string> PollRecordEditModel::DataTypeChoices() { return VRT_Data_Type_dct().ComboTexts(); }
std::vector<std::string> PollRecordEditModel::ExceptionChoices() { return VRT_Exception_dct().ComboTexts(); }

PollRecordEditModel::Fields PollRecordEditModel::Show() const {
  Fields fields;
  fields.start = copy_.StartText();
  fields.end = copy_.EndText();
  fields.length = copy_.LengthText();
  fields.dataTypePosition = VRT_Data_Type_dct().ComboPosition(copy_.Settings().dataType);
  fields.pollTime = copy_.PollTimeText();
  fields.accessTime = copy_.AccessTimeText();
  fields.exceptionPosition = VRT_Exception_dct().ComboPosition(copy_.Settings().exceptionType);
  fields.deadBand = copy_.DeadBandText();
  return fields;
}

PollRecordEditModel::Outcome PollRecordEditModel::Commit(Field field, const std::string& text,
                                                         const std::string& shown) {
  Outcome outcome;
  outcome.focus = field;
  if (text == shown) return outcome;
  const bool address = field == Field::kStart || field == Field::kEnd || field == Field::kLength;
  if (address && text == kUndefinedAddressText) return outcome;
  Reporter& reporter = services_.reporter;
  int result = kTaken;
  switch (field) {
    case Field::kStart: result = copy_.SetStartFromText(text, reporter, EntryPath::kView); break;
    case Field::kEnd: result = copy_.SetEndFromText(text, reporter); break;
    case Field::kLength: result = copy_.SetLengthFromText(text, reporter, EntryPath::kView); break;
    case Field::kPollTime: result = copy_.SetPollTimeFromText(text, reporter, EntryPath::kView); break;
    case Field::kAccessTime: result = copy_.SetAccessTimeFromText(text, reporter, EntryPath::kView); break;
    case Field::kDeadBand: result = copy_.SetDeadBandFromText(text, reporter, EntryPath::kView); break;
  }
  if (result == kTaken) return outcome;
  outcome.refused = true;
  // An address that would overlap another record sends the focus to Start.
  if (result == kMsgAddressDefined) outcome.focus = Field::kStart;
  return outcome;
}

void PollRecordEditModel::ChooseDataType(int position) {
  const int code = VRT_Data_Type_dct().CodeAt(position);
  if (code != kStopCode) copy_.SetDataType(code);
}

void PollRecordEditModel::ChooseException(int position) {
  const int code = VRT_Exception_dct().CodeAt(position);
  if (code != kStopCode) copy_.ChooseExceptionType(code);
}

CPollRecord* PollRecordEditModel::Accept() {
  if (record_ == nullptr) {
    // New mode: a record is added only for a copy that has an address.
    if (copy_.Settings().length == 0) return nullptr;
    record_ = device_.AttachPollRecord(std::make_unique<CPollRecord>());
  } else if (copy_.SameSettings(*record_)) {
    return nullptr;
  }
  record_->CopySettingsFrom(copy_);
  doc_.SetModified(true);
  lastWritten_ = record_;
  return record_;
}

void PollRecordEditModel::New() {
  if (copy_.Settings().length == 0) return;
  Accept();
  record_ = nullptr;
  copy_.EditAsCopyOf(nullptr, device_);
}

void PollRecordEditModel::Delete() {
  if (record_ != nullptr) record_->ClearLength();
}

// ---------------------------------------------------------------------------
// Exit

ExitChoice ChooseExit(const CDidDoc& doc) {
  ExitChoice choice;
  if (!doc.Modified() && !doc.ReloadPending()) {
    choice.closeNow = true;
  } else if (doc.PollRecordTotal() == 0) {
    choice.closeNow = true;
    choice.dropChanges = true;
  } else {
    choice.save = doc.Modified();
    choice.reload = true;
  }
  return choice;
}

}  // namespace vrt::editor
