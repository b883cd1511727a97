#include "csv.h"

#include <new>

#include "doc_file.h"
#include "editor_messages.h"
#include "editor_text.h"
#include "file_io.h"

namespace vrt::editor {

namespace {

// CSV files hold a few hundred kilobytes; this leaves room for any a
// spreadsheet could produce for the editor.
constexpr std::size_t kMaxCsvFileSize = 64u * 1024u * 1024u;

enum class Section { kNone, kChannels, kDevices, kPollRecords, kIgnored };

std::string_view TrimTrailingBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view SkipLeadingBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

bool Present(const std::vector<std::string>& fields, std::size_t index) { return index < fields.size(); }

class CsvImporter {
 public:
  CsvImporter(CDidDoc& doc, char separator, Reporter& reporter)
      : doc_(doc), separator_(separator), reporter_(reporter) {}

  void Line(std::string_view raw) {
    ++lineNumber_;
    reporter_.SetLineNumber(lineNumber_);
    if (raw.size() > kMaxCsvLineLength) {
      reporter_.Report(msg::kLineTooLong);
      return;
    }
    const std::string_view line = SkipLeadingBlanks(raw);
    if (line.empty() || line.front() == '[') return;
    if (line.front() == '!') {
      Keyword(line.substr(1));
      return;
    }
    if (section_ == Section::kNone || section_ == Section::kIgnored) return;
    const CsvSplit split = SplitCsvLine(line, separator_);
    if (split.unclosedQuote) {
      reporter_.Report(msg::kUnclosedQuote);
      return;
    }
    switch (section_) {
      case Section::kChannels: Channel(split.fields); break;
      case Section::kDevices: Device(split.fields); break;
      case Section::kPollRecords: PollRecord(split.fields); break;
      default: break;
    }
  }

 private:
  void Keyword(std::string_view rest) {
    const CsvSplit split = SplitCsvLine(rest, separator_);
    std::string_view keyword;
    for (const std::string& field : split.fields) {
      keyword = TrimTrailingBlanks(field);
      if (!keyword.empty()) break;
    }
    if (EqualsIgnoringCase(keyword, "CHANNEL")) {
      section_ = Section::kChannels;
    } else if (EqualsIgnoringCase(keyword, "DEVICE NAME")) {
      section_ = Section::kDevices;
    } else if (EqualsIgnoringCase(keyword, "IOREC")) {
      section_ = Section::kPollRecords;
    } else if (EqualsIgnoringCase(keyword, "ASP")) {
      section_ = Section::kIgnored;
    } else {
      section_ = Section::kIgnored;
      reporter_.Report(WithTexts(msg::kUnknownKeyword, keyword));
    }
  }

  void Channel(const std::vector<std::string>& fields) {
    const std::optional<std::int64_t> number = Present(fields, 0) ? ReadInteger(fields[0]) : std::nullopt;
    if (!number || *number < -1000000 || *number > 1000000) {
      reporter_.Report(msg::kChannelNotFound);
      return;
    }
    if (doc_.ChannelCount() >= kMaxChannels) {
      reporter_.Report(WithIntegers(msg::kTooManyChannels, kMaxChannels));
      return;
    }
    auto channel = std::make_unique<CChannel>();
    channel->SetNumber(static_cast<int>(*number));
    using Setter = int (CChannel::*)(LinkRole, std::string_view, Reporter&);
    static constexpr Setter kLinkSetters[] = {
        &CChannel::SetPortFromText,        &CChannel::SetBaudRateFromText,     &CChannel::SetDataBitsFromText,
        &CChannel::SetParityFromText,      &CChannel::SetFlowControlFromText,  &CChannel::SetStopBitsFromText,
        &CChannel::SetReplyTimeoutFromText, &CChannel::SetDelayFromText,      &CChannel::SetRetriesFromText};
    std::size_t index = 1;
    if (Present(fields, index)) {
      channel->SetDisplayAlarmsFromText(fields[index], reporter_);
      ++index;
      for (LinkRole role : {LinkRole::kPrimary, LinkRole::kBackup}) {
        for (Setter setter : kLinkSetters) {
          if (!Present(fields, index)) break;
          (channel.get()->*setter)(role, fields[index], reporter_);
          ++index;
        }
      }
    }
    doc_.AppendChannel(std::move(channel));
  }

  void Device(const std::vector<std::string>& fields) {
    if (!Present(fields, 0) || fields[0].empty()) {
      reporter_.Report(msg::kDeviceNotFound);
      return;
    }
    auto device = std::make_unique<CDevice>();
    // A device without its name cannot be kept: the setter has said why.
    if (device->SetNameFromText(fields[0], reporter_) != kTaken) return;
    const std::optional<std::int64_t> number = Present(fields, 1) ? ReadInteger(fields[1]) : std::nullopt;
    CChannel* channel = nullptr;
    if (number && *number >= -1000000 && *number <= 1000000) {
      channel = doc_.FindChannelByNumber(static_cast<int>(*number));
    }
    if (channel == nullptr) {
      reporter_.Report(msg::kChannelNotFound);
      return;
    }
    if (doc_.FindDevice(device->Name()) != nullptr) {
      reporter_.Report(msg::kNameExists);
      return;
    }
    if (channel->Devices().size() >= static_cast<std::size_t>(kMaxDevicesPerChannel)) {
      reporter_.Report(WithIntegers(msg::kTooManyDevices, kMaxDevicesPerChannel));
      return;
    }
    device->SetChannelNumber(channel->Number());
    if (Present(fields, 2)) {
      device->SetDescriptionFromText(fields[2], reporter_);
      if (Present(fields, 3)) {
        device->SetHardwareTypeFromText(fields[3], reporter_);
        if (Present(fields, 4)) {
          device->SetPrimaryStationFromText(fields[4], reporter_, EntryPath::kCsv);
          if (Present(fields, 5)) {
            device->SetBackupStationFromText(fields[5], reporter_, EntryPath::kCsv);
            if (Present(fields, 6)) device->SetQueueHeadFromText(fields[6], reporter_, EntryPath::kCsv);
          }
        }
      }
    }
    CDevice* attached = channel->AttachDevice(std::move(device));
    if (channel->CurrentDevice() == nullptr) channel->SetCurrentDevice(attached);
  }

  void PollRecord(const std::vector<std::string>& fields) {
    if (!Present(fields, 0) || SkipLeadingBlanks(fields[0]).empty()) {
      reporter_.Report(msg::kIorecNotFound);
      return;
    }
    CDevice* device = Present(fields, 1) ? doc_.FindDeviceForPollRecord(fields[1]) : nullptr;
    if (device == nullptr) {
      reporter_.Report(msg::kDeviceNotFound);
      return;
    }
    constexpr std::size_t kDataType = 2, kPollTime = 3, kAccessTime = 4, kException = 5, kDeadBand = 6,
                          kStartAddress = 7, kLength = 8;
    if (!Present(fields, kLength)) {
      reporter_.Report(msg::kIorecIncomplete);
      return;
    }
    if (recordTotal_ >= kMaxImagePollRecords) {
      reporter_.Report(WithIntegers(msg::kTooManyPollRecords, kMaxImagePollRecords));
      return;
    }
    auto record = std::make_unique<CPollRecord>();
    record->SetPollTimeFromText(fields[kPollTime], reporter_, EntryPath::kCsv);
    record->SetAccessTimeFromText(fields[kAccessTime], reporter_, EntryPath::kCsv);
    record->SetExceptionFromText(fields[kException], reporter_);
    record->SetDeadBandFromText(fields[kDeadBand], reporter_, EntryPath::kCsv);
    const int start = record->SetStartFromText(fields[kStartAddress], reporter_, EntryPath::kCsv);
    if (start != kTaken) {
      // A refusal without a message would lose the record without a word.
      if (start == kRejectedSilently) reporter_.Report(msg::kStartAddressInvalid);
      return;
    }
    if (record->SetLengthFromText(fields[kLength], reporter_, EntryPath::kCsv) != kTaken) return;
    if (const int position = record->OverlappingPosition(*device); position != 0) {
      reporter_.Report(WithIntegers(msg::kAddressDefined, static_cast<std::uint32_t>(position)));
      return;
    }
    record->SetDataTypeFromText(fields[kDataType], reporter_);
    device->AttachPollRecord(std::move(record));
    ++recordTotal_;
  }

  CDidDoc& doc_;
  char separator_;
  Reporter& reporter_;
  Section section_ = Section::kNone;
  int lineNumber_ = 0;
  int recordTotal_ = 0;
};

constexpr const char* kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};

std::string TwoDigits(int value) {
  if (value < 0) value = 0;
  std::string text = std::to_string(value % 100);
  return text.size() < 2 ? "0" + text : text;
}

}  // namespace

bool UsableSeparator(char separator) {
  const auto byte = static_cast<unsigned char>(separator);
  if (byte < 0x20 || byte == 0x7F) return false;
  if (separator == '"' || separator == ' ' || separator == '[' || separator == '!') return false;
  if ((separator >= '0' && separator <= '9') || (separator >= 'A' && separator <= 'Z') ||
      (separator >= 'a' && separator <= 'z')) {
    return false;
  }
  return true;
}

char SeparatorFromListSetting(const std::optional<std::string>& sList) {
  if (!sList || sList->empty() || !UsableSeparator(sList->front())) return ',';
  return sList->front();
}

CsvSplit SplitCsvLine(std::string_view line, char separator) {
  CsvSplit split;
  std::size_t at = 0;
  while (true) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    std::string field;
    if (at < line.size() && line[at] == '"') {
      ++at;
      bool closed = false;
      while (at < line.size()) {
        if (line[at] == '"') {
          if (at + 1 < line.size() && line[at + 1] == '"') {
            field += '"';
            at += 2;
            continue;
          }
          ++at;
          closed = true;
          break;
        }
        field += line[at++];
      }
      if (!closed) {
        split.unclosedQuote = true;
        return split;
      }
      // Whatever follows the closing quote up to the separator belongs to
      // the field as typed.
      while (at < line.size() && line[at] != separator) field += line[at++];
    } else {
      while (at < line.size() && line[at] != separator) field += line[at++];
    }
    split.fields.push_back(std::move(field));
    if (at >= line.size()) break;
    ++at;  // the separator
  }
  return split;
}

std::string QuoteCsvField(std::string_view field, char separator) {
  const bool needsQuotes = field.find(separator) != std::string_view::npos ||
                           field.find('"') != std::string_view::npos ||
                           (!field.empty() && (IsBlank(field.front()) || field.front() == '[' || field.front() == '!'));
  if (!needsQuotes) return std::string(field);
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string JoinCsvFields(const std::vector<std::string>& fields, char separator) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += separator;
    line += QuoteCsvField(fields[i], separator);
  }
  return line;
}

std::string CsvTitleLine(const std::tm& localTime) {
  const int weekday = localTime.tm_wday >= 0 && localTime.tm_wday < 7 ? localTime.tm_wday : 0;
  const int month = localTime.tm_mon >= 0 && localTime.tm_mon < 12 ? localTime.tm_mon : 0;
  const int hour12 = localTime.tm_hour % 12 == 0 ? 12 : localTime.tm_hour % 12;
  std::string line = "[ VRT  , ";
  line += kDayNames[weekday];
  line += ' ';
  line += kMonthNames[month];
  line += ' ';
  line += TwoDigits(localTime.tm_mday);
  line += ' ';
  line += std::to_string(localTime.tm_year + 1900);
  line += ", ";
  line += TwoDigits(hour12);
  line += ':';
  line += TwoDigits(localTime.tm_min);
  line += localTime.tm_hour < 12 ? " AM ]" : " PM ]";
  return line;
}

std::optional<std::string> ExportCsvText(CDidDoc& doc, char separator, const std::tm& localTime) {
  if (doc.Channels().empty()) return std::nullopt;
  std::string text = CsvTitleLine(localTime) + "\n";
  auto headerLine = [&](const std::vector<std::string>& fields) {
    text += "!" + JoinCsvFields(fields, separator) + "\n";
  };

  headerLine(doc.Channels().front()->CsvHeaderFields());
  std::vector<CDevice*> devices;
  int channelNumber = 0;
  for (const auto& channel : doc.Channels()) {
    channel->SetNumber(++channelNumber);
    text += JoinCsvFields(channel->CsvFields(), separator) + "\n";
    for (const auto& device : channel->Devices()) {
      if (device->PollRecords().empty()) continue;
      device->SetChannelNumber(channelNumber);
      devices.push_back(device.get());
    }
  }

  text += "\n";
  headerLine(CDevice().CsvHeaderFields());
  for (const CDevice* device : devices) text += JoinCsvFields(device->CsvFields(), separator) + "\n";

  text += "\n";
  headerLine(CPollRecord::CsvHeaderFields());
  int recordNumber = 0;
  for (const CDevice* device : devices) {
    for (const auto& record : device->PollRecords()) {
      record->SetNumber(++recordNumber);
      text += JoinCsvFields(record->CsvFields(), separator) + "\n";
    }
  }
  return text;
}

bool ExportCsv(CDidDoc& doc, const std::string& path, char separator, EditorServices& services) {
  const std::optional<std::string> text = ExportCsvText(doc, separator, services.clock.LocalTime());
  if (!text) return false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text->data());
  const char* failure = nullptr;
  switch (WriteWholeFile(path, std::span<const std::uint8_t>(bytes, text->size()), FileMode::kText)) {
    case WriteStatus::kOk: return true;
    case WriteStatus::kAccessDenied: failure = msg::kExportAccessDenied; break;
    case WriteStatus::kCannotCreate: failure = msg::kFailedToCreate; break;
    case WriteStatus::kDiskFull: failure = msg::kDiskFull; break;
    case WriteStatus::kWriteFailed: failure = msg::kFailedToSave; break;
  }
  services.ui.ShowMessage(failure, kProgramTitle, MessageIcon::kError);
  return false;
}

void ImportCsvText(CDidDoc& doc, std::string_view text, char separator, Reporter& reporter) {
  doc.Clear();
  CsvImporter importer(doc, separator, reporter);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    importer.Line(line);
    at = end + 1;
  }
  for (const auto& channel : doc.Channels()) {
    if (channel->CurrentDevice() == nullptr && !channel->Devices().empty()) {
      channel->SetCurrentDevice(channel->Devices().front().get());
    }
  }
}

CsvImport ImportCsv(CDidDoc& doc, const std::string& path, char separator, ImportErrorSink& errors,
                    EditorServices& services) {
  CsvImport result;
  doc.Clear();
  std::vector<std::uint8_t> bytes;
  if (ReadWholeFile(path, kMaxCsvFileSize, bytes) != ReadStatus::kOk) {
    services.ui.ShowMessage(msg::kFailedToOpen, kProgramTitle, MessageIcon::kError);
    return result;
  }
  result.opened = true;
  services.reporter.BeginImport(errors);
  try {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    ImportCsvText(doc, text, separator, services.reporter);
  } catch (const std::bad_alloc&) {
    services.reporter.EndImport();
    doc.Clear();
    services.ui.ShowMessage(msg::kNoMemory, kProgramTitle, MessageIcon::kError);
    result.errors = 1;
    return result;
  }
  result.errors = services.reporter.EndImport();
  if (result.errors > 0) {
    services.ui.ShowMessage(WithTexts(msg::kImportErrors, std::to_string(result.errors), errors.Name()),
                            kProgramTitle, MessageIcon::kExclamation);
  }
  doc.SetPath("");
  doc.SetModified(true);
  return result;
}

}  // namespace vrt::editor
