#include "dit_items.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include "dictionary.h"
#include "dit_codes.h"
#include "editor_messages.h"
#include "editor_text.h"

namespace vrt::editor {

namespace {

std::atomic<int> pollRecordCounter{0};

constexpr double kMinReplyTimeout = 0.1;
constexpr double kMaxReplyTimeout = 1800.0;
constexpr double kMaxDelay = 3600.0;
constexpr int kMaxRetries = 9;
constexpr double kMaxPollTime = 86400.0;
constexpr double kMaxAccessTime = 172800.0;
constexpr int kMaxStation = 127;
constexpr int kMinQueueHead = 1;
constexpr int kMaxQueueHead = 4;
constexpr std::size_t kMaxNameLength = 11;
constexpr std::size_t kMaxDescriptionLength = 35;
constexpr char kForbiddenNameCharacters[] = ":,|&";

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Refuses with a message: reports it and returns its number.
int Refuse(Reporter& reporter, int number, const std::string& text) {
  reporter.Report(text);
  return number;
}

std::uint32_t StoredHundredthsUnsigned(std::int64_t hundredths) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(hundredths, 0, 0xFFFFFFFFll));
}

// Poll and access times are held as signed values: a disabled poll time is
// stored as -100.
std::uint32_t StoredHundredthsSigned(std::int64_t hundredths) {
  const auto value = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      hundredths, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  return static_cast<std::uint32_t>(value);
}

std::int16_t TruncatedDeadBand(float deadBand) {
  if (std::isnan(deadBand)) return 0;
  // Held at the bounds of the 16-bit field rather than wrapped.
  if (deadBand >= 32767.0f) return 32767;
  if (deadBand <= -32768.0f) return -32768;
  return static_cast<std::int16_t>(deadBand);
}

std::string PaddedFixed(double value, int width, int decimals) {
  std::string text = FixedText(value, decimals);
  if (text.size() < static_cast<std::size_t>(width)) text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  return text;
}

std::string TextField(const char* field, std::size_t fieldSize, std::size_t maxLength) {
  std::size_t length = 0;
  while (length < fieldSize && length < maxLength && field[length] != '\0') ++length;
  return std::string(field, length);
}

void PutTextField(char* field, std::size_t fieldSize, const std::string& text) {
  std::memset(field, 0, fieldSize);
  std::memcpy(field, text.data(), std::min(text.size(), fieldSize - 1));
}

struct ParsedAddress {
  int status = kTaken;
  Address address;
};

// "DIT:120" (any of ":;,./\" or a blank before the offset) or "EVENT".
ParsedAddress ParseAddressText(std::string_view text, Reporter& reporter) {
  ParsedAddress parsed;
  const int section = VRT_poll_type_dct().Match(text);
  if (section == kSectionEvent) {
    parsed.address = {kSectionEvent, 0};
    return parsed;
  }
  if (section != kSectionDit) {
    parsed.status = kRejectedSilently;
    return parsed;
  }
  const std::size_t separator = text.find_first_of(":;,./\\ ");
  if (separator == std::string_view::npos) {
    parsed.status = kRejectedSilently;
    return parsed;
  }
  const std::optional<std::int64_t> offset = ReadInteger(text.substr(separator + 1));
  if (!offset || *offset < 0 || *offset > kMaxDitOffset) {
    parsed.status = Refuse(reporter, kMsgAddressRange, WithIntegers(msg::kAddressRange, 0, kMaxDitOffset));
    return parsed;
  }
  parsed.address = {kSectionDit, static_cast<int>(*offset)};
  return parsed;
}

bool IsDisabledText(std::string_view text, EntryPath path) {
  const std::string_view trimmed = TrimBlanks(text);
  if (EqualsIgnoringCase(trimmed, "Disabled")) return true;
  return path == EntryPath::kView && (trimmed.empty() || trimmed == "-" || trimmed == "D" || trimmed == "d");
}

int OverlapIn(const CDevice& device, const PollRecordSettings& settings, const CPollRecord* self) {
  if (settings.length == 0) return 0;
  const int start = settings.start.offset;
  const int end = settings.end.offset;
  int position = 0;
  for (const auto& other : device.PollRecords()) {
    ++position;
    if (other.get() == self) continue;
    const PollRecordSettings& theirs = other->Settings();
    if (theirs.length == 0 || theirs.start.section != settings.start.section) continue;
    if (start <= theirs.end.offset && theirs.start.offset <= end) return position;
  }
  return 0;
}

}  // namespace

int PollRecordCounter() { return pollRecordCounter.load(); }

// ---------------------------------------------------------------------------
// Range checks

std::string ReplyTimeoutProblem(double seconds) {
  if (seconds >= kMinReplyTimeout && seconds <= kMaxReplyTimeout) return {};
  return WithReals(msg::kReplyTimeout, kMinReplyTimeout, kMaxReplyTimeout);
}

std::string DelayProblem(double seconds) {
  // Above 0 as it is kept: a delay under half a hundredth would be saved as
  // 0, a failure delay that retries a failed record at once and that the
  // editor itself refuses when it reads the value back.
  if (seconds > 0.0 && HundredthsRounded(seconds) > 0 && seconds <= kMaxDelay) return {};
  return WithReals(msg::kDelay, 0.0, kMaxDelay);
}

std::string RetriesProblem(long long retries) {
  if (retries >= 0 && retries <= kMaxRetries) return {};
  return WithIntegers(msg::kRetries, 0, kMaxRetries);
}

std::string PollTimeProblem(double seconds) {
  if (seconds == kPollTimeDisabled || (seconds >= 0.0 && seconds <= kMaxPollTime)) return {};
  return WithReals(msg::kPollTime, 0.0, kMaxPollTime);
}

std::string AccessTimeProblem(double seconds, int exceptionType) {
  if (seconds == kAccessTimeDisabled) return {};
  if (exceptionType != kExceptionDisabled) return msg::kAccessExceptionBased;
  if (seconds >= 0.0 && seconds <= kMaxAccessTime) return {};
  return WithReals(msg::kAccessTime, 0.0, kMaxAccessTime);
}

std::string DeadBandProblem(double deadBand, EntryPath path) {
  const bool fits = std::isfinite(deadBand) && deadBand >= 0.0 && deadBand <= std::numeric_limits<float>::max();
  if (fits) return {};
  return path == EntryPath::kView ? msg::kDeadBandDialog : msg::kDeadBandCsv;
}

std::string StationProblem(long long station, int minimum, int maximum) {
  if (station == kUndefined16 || (station >= minimum && station <= maximum)) return {};
  return WithIntegers(msg::kStationRange, static_cast<std::uint32_t>(minimum), static_cast<std::uint32_t>(maximum));
}

std::string DeviceNameProblem(std::string_view name) {
  if (name.size() > kMaxNameLength) return msg::kNameTooLong;
  if (name.find_first_of(kForbiddenNameCharacters) != std::string_view::npos) return msg::kNameForbidden;
  return {};
}

std::string DescriptionProblem(std::string_view description) {
  return description.size() > kMaxDescriptionLength ? msg::kDescriptionTooLong : std::string();
}

std::string AddressText(const Address& address) {
  return VRT_poll_type_dct().TextOrUndefined(address.section) + ":" + std::to_string(address.offset);
}

// ---------------------------------------------------------------------------
// CChannel

CChannel::~CChannel() = default;

int CChannel::SetCodeFromText(int LinkSettings::*field, const CDictionary& table, int message, const char* text,
                              LinkRole role, std::string_view value, Reporter& reporter) {
  const int code = table.Match(value);
  if (code == kNoMatch) return Refuse(reporter, message, text);
  MutableLink(role).*field = code;
  return kTaken;
}

int CChannel::SetDisplayAlarmsFromText(std::string_view text, Reporter& reporter) {
  const int code = Yes_No_dct().Match(text);
  if (code == kNoMatch) return Refuse(reporter, kMsgDisplayAlarm, msg::kDisplayAlarm);
  settings_.displayAlarms = code;
  return kTaken;
}

int CChannel::SetPortFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  const int code = port_dct().Match(text);
  if (code == kNoMatch) return Refuse(reporter, kMsgPort, msg::kPort);
  MutableLink(role).port = code + 1;
  return kTaken;
}

int CChannel::SetBaudRateFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  return SetCodeFromText(&LinkSettings::baudRate, baud_dct(), kMsgBaudRate, msg::kBaudRate, role, text, reporter);
}

int CChannel::SetDataBitsFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  return SetCodeFromText(&LinkSettings::dataBits, data_bits_dct(), kMsgDataBits, msg::kDataBits, role, text,
                         reporter);
}

int CChannel::SetParityFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  return SetCodeFromText(&LinkSettings::parity, parity_dct(), kMsgParity, msg::kParity, role, text, reporter);
}

int CChannel::SetFlowControlFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  return SetCodeFromText(&LinkSettings::flowControl, handshake_dct(), kMsgFlowControl, msg::kFlowControl, role, text,
                         reporter);
}

int CChannel::SetStopBitsFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  return SetCodeFromText(&LinkSettings::stopBits, stop_bits_dct(), kMsgStopBits, msg::kStopBits, role, text,
                         reporter);
}

int CChannel::SetReplyTimeoutFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  const std::optional<double> value = ReadReal(text);
  const std::string problem = value ? ReplyTimeoutProblem(*value) : ReplyTimeoutProblem(-1.0);
  if (!problem.empty()) return Refuse(reporter, kMsgReplyTimeout, problem);
  MutableLink(role).replyTimeout = *value;
  return kTaken;
}

int CChannel::SetDelayFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  // Text that is not a number reads as 0, which is refused.
  const double value = ReadReal(text).value_or(0.0);
  const std::string problem = DelayProblem(value);
  if (!problem.empty()) return Refuse(reporter, kMsgDelay, problem);
  MutableLink(role).delay = value;
  return kTaken;
}

int CChannel::SetRetriesFromText(LinkRole role, std::string_view text, Reporter& reporter) {
  const std::optional<std::int64_t> value = ReadInteger(text);
  const std::string problem = value ? RetriesProblem(*value) : RetriesProblem(-1);
  if (!problem.empty()) return Refuse(reporter, kMsgRetries, problem);
  MutableLink(role).retries = static_cast<int>(*value);
  return kTaken;
}

std::string CChannel::DisplayAlarmsText() const { return Yes_No_dct().TextOrUndefined(settings_.displayAlarms); }
std::string CChannel::PortText(LinkRole role) const { return port_dct().TextOrUndefined(Link(role).port - 1); }
std::string CChannel::BaudRateText(LinkRole role) const { return baud_dct().TextOrUndefined(Link(role).baudRate); }
std::string CChannel::DataBitsText(LinkRole role) const {
  return data_bits_dct().TextOrUndefined(Link(role).dataBits);
}
std::string CChannel::ParityText(LinkRole role) const { return parity_dct().TextOrUndefined(Link(role).parity); }
std::string CChannel::FlowControlText(LinkRole role) const {
  return handshake_dct().TextOrUndefined(Link(role).flowControl);
}
std::string CChannel::StopBitsText(LinkRole role) const {
  return stop_bits_dct().TextOrUndefined(Link(role).stopBits);
}
std::string CChannel::ReplyTimeoutText(LinkRole role) const {
  return HundredthsText(HundredthsRounded(Link(role).replyTimeout));
}
std::string CChannel::DelayText(LinkRole role) const { return HundredthsText(HundredthsRounded(Link(role).delay)); }
std::string CChannel::RetriesText(LinkRole role) const { return std::to_string(Link(role).retries); }

CDevice* CChannel::AttachDevice(std::unique_ptr<CDevice> device) {
  device->owner_ = this;
  devices_.push_back(std::move(device));
  return devices_.back().get();
}

std::unique_ptr<CDevice> CChannel::DetachDevice(const CDevice* device) {
  for (auto it = devices_.begin(); it != devices_.end(); ++it) {
    if (it->get() != device) continue;
    std::unique_ptr<CDevice> detached = std::move(*it);
    devices_.erase(it);
    detached->owner_ = nullptr;
    if (current_ == device) current_ = devices_.empty() ? nullptr : devices_.front().get();
    return detached;
  }
  return nullptr;
}

void CChannel::RemoveDevicesWithoutPollRecords() {
  std::vector<const CDevice*> empty;
  for (const auto& device : devices_) {
    if (device->PollRecords().empty()) empty.push_back(device.get());
  }
  for (const CDevice* device : empty) DetachDevice(device);
}

namespace {

void StoreLink(const LinkSettings& link, DitLink& out) {
  // The port is held as port - 1 in 12 bits: the low byte in the port field,
  // bits 8-11 in the high nibble of the data-bits byte (0xFFF: no port).
  const auto value = static_cast<unsigned>(link.port - 1) & 0xFFFu;
  out.port = static_cast<std::uint8_t>(value & 0xFF);
  out.baudRate = static_cast<std::uint8_t>(link.baudRate);
  out.dataBits = static_cast<std::uint8_t>((link.dataBits & 0x0F) | ((value >> 8) << 4));
  out.stopBits = static_cast<std::uint8_t>(link.stopBits);
  out.parity = static_cast<std::uint8_t>(link.parity);
  out.handshake = static_cast<std::uint8_t>(link.flowControl);
  out.retries = static_cast<std::uint8_t>(link.retries);
  out.replyTimeout = StoredHundredthsUnsigned(HundredthsRounded(link.replyTimeout));
  out.failureDelay = StoredHundredthsUnsigned(HundredthsRounded(link.delay));
}

void LoadLink(const DitLink& in, LinkSettings& link) {
  link.port = static_cast<int>((((static_cast<unsigned>(in.dataBits) >> 4) << 8 | in.port) + 1) & 0xFFFu);
  link.baudRate = in.baudRate;
  link.dataBits = in.dataBits & 0x0F;
  link.stopBits = in.stopBits;
  link.parity = in.parity;
  link.flowControl = in.handshake;
  link.retries = in.retries;
  link.replyTimeout = in.replyTimeout / 100.0;
  link.delay = in.failureDelay / 100.0;
}

}  // namespace

void CChannel::StoreTo(DitChannel& record) const {
  record = DitChannel{};
  StoreLink(settings_.primary, record.primary);
  StoreLink(settings_.backup, record.backup);
  record.activePort = static_cast<std::int8_t>(record.primary.port);
  record.messageEnable = static_cast<std::uint8_t>(settings_.displayAlarms);
  record.channelOption = settings_.disableCommsAlarms ? 1 : 0;
  record.lockByte82 = kLockFree;
  record.lockByte83 = kLockFree;
  // The editor never stores a backup port.
  record.backup.port = kNoPort;
}

void CChannel::LoadFrom(const DitChannel& record) {
  LoadLink(record.primary, settings_.primary);
  LoadLink(record.backup, settings_.backup);
  settings_.displayAlarms = record.messageEnable;
  settings_.disableCommsAlarms = record.channelOption != 0;
  settings_.learnAddresses = false;
}

std::vector<std::string> CChannel::CsvFields() const {
  std::vector<std::string> fields{std::to_string(number_), DisplayAlarmsText()};
  for (LinkRole role : {LinkRole::kPrimary, LinkRole::kBackup}) {
    fields.push_back(PortText(role));
    fields.push_back(BaudRateText(role));
    fields.push_back(DataBitsText(role));
    fields.push_back(ParityText(role));
    fields.push_back(FlowControlText(role));
    fields.push_back(StopBitsText(role));
    fields.push_back(ReplyTimeoutText(role));
    fields.push_back(DelayText(role));
    fields.push_back(RetriesText(role));
  }
  return fields;
}

std::vector<std::string> CChannel::CsvHeaderFields() const {
  return {"CHANNEL",          "DISPLAY ALARMS",   "PORT",          "BAUD RATE",          "DATA BITS",
          "PARITY",           "FLOW",             "STOP BITS",     "REPLY TIMEOUT",      "DELAY",
          "RETRIES",          "BACKUP PORT",      "BACKUP BAUDRATE", "BACKUP DATA BITS", "BACKUP PARITY",
          "BACKUP FLOW",      "BACKUP STOP BITS", "BACKUP REPLY TIMEOUT", "BACKUP DELAY", "BACKUP RETRIES"};
}

// ---------------------------------------------------------------------------
// CDevice

CDevice::~CDevice() { DeletePollRecords(); }

DeviceSettings CDevice::Settings() const {
  return {name_, description_, hardwareType_, primaryStation_, backupStation_, queueHead_};
}

void CDevice::CopySettingsFrom(const CDevice& other) {
  name_ = other.name_;
  description_ = other.description_;
  hardwareType_ = other.hardwareType_;
  primaryStation_ = other.primaryStation_;
  backupStation_ = other.backupStation_;
  queueHead_ = other.queueHead_;
}

int CDevice::SetNameFromText(std::string_view text, Reporter& reporter) {
  const std::string problem = DeviceNameProblem(text);
  if (!problem.empty()) return Refuse(reporter, problem == msg::kNameTooLong ? kMsgNameTooLong : kMsgNameForbidden,
                                      problem);
  name_ = std::string(text);
  return kTaken;
}

int CDevice::SetDescriptionFromText(std::string_view text, Reporter& reporter) {
  const std::string problem = DescriptionProblem(text);
  if (!problem.empty()) return Refuse(reporter, kMsgDescriptionTooLong, problem);
  description_ = std::string(text);
  return kTaken;
}

int CDevice::SetHardwareTypeFromText(std::string_view text, Reporter&) {
  hardwareType_ = VRT_Hardware_Type_dct().Match(text);
  return kTaken;
}

int CDevice::SetStationFromText(int* field, int viewMinimum, int viewMaximum, std::string_view text,
                                Reporter& reporter, EntryPath path) {
  std::string_view value = text;
  if (path == EntryPath::kCsv) value = TrimBlanks(text);
  if (value.empty() || value == " " || value == "-") {
    *field = kUndefined16;
    return kTaken;
  }
  if (!IsDigitsOnly(value)) return Refuse(reporter, kMsgEnterNumber, msg::kEnterNumber);
  const std::int64_t number = LeadingInteger(value);
  // From CSV a station is taken without the view's range, but it must fit
  // its 16-bit field (65535 being "undefined").
  const int minimum = path == EntryPath::kView ? viewMinimum : 0;
  const int maximum = path == EntryPath::kView ? viewMaximum : kUndefined16;
  if (number < minimum || number > maximum) {
    return Refuse(reporter, kMsgStationRange,
                  WithIntegers(msg::kStationRange, static_cast<std::uint32_t>(minimum),
                               static_cast<std::uint32_t>(maximum)));
  }
  *field = static_cast<int>(number);
  return kTaken;
}

int CDevice::SetPrimaryStationFromText(std::string_view text, Reporter& reporter, EntryPath path) {
  return SetStationFromText(&primaryStation_, 0, kMaxStation, text, reporter, path);
}

int CDevice::SetBackupStationFromText(std::string_view text, Reporter& reporter, EntryPath path) {
  return SetStationFromText(&backupStation_, 0, kMaxStation, text, reporter, path);
}

int CDevice::SetQueueHeadFromText(std::string_view text, Reporter& reporter, EntryPath path) {
  return SetStationFromText(&queueHead_, kMinQueueHead, kMaxQueueHead, text, reporter, path);
}

std::string CDevice::HardwareTypeText() const { return VRT_Hardware_Type_dct().TextOrUndefined(hardwareType_); }

namespace {
std::string StationText(int value, EntryPath path) {
  if (path == EntryPath::kView && value == kUndefined16) return "-";
  return std::to_string(static_cast<unsigned>(value));
}
}  // namespace

std::string CDevice::PrimaryStationText(EntryPath path) const { return StationText(primaryStation_, path); }
std::string CDevice::BackupStationText(EntryPath path) const { return StationText(backupStation_, path); }
std::string CDevice::QueueHeadText(EntryPath path) const { return StationText(queueHead_, path); }

CPollRecord* CDevice::AttachPollRecord(std::unique_ptr<CPollRecord> record) {
  record->owner_ = this;
  pollRecords_.push_back(std::move(record));
  ++pollRecordCounter;
  return pollRecords_.back().get();
}

std::unique_ptr<CPollRecord> CDevice::DetachPollRecord(const CPollRecord* record) {
  for (auto it = pollRecords_.begin(); it != pollRecords_.end(); ++it) {
    if (it->get() != record) continue;
    std::unique_ptr<CPollRecord> detached = std::move(*it);
    pollRecords_.erase(it);
    detached->owner_ = nullptr;
    --pollRecordCounter;
    if (current_ == record) current_ = nullptr;
    return detached;
  }
  return nullptr;
}

void CDevice::DeletePollRecords() {
  pollRecordCounter -= static_cast<int>(pollRecords_.size());
  pollRecords_.clear();
  current_ = nullptr;
}

int CDevice::PositionOf(const CPollRecord* record) const {
  for (std::size_t i = 0; i < pollRecords_.size(); ++i) {
    if (pollRecords_[i].get() == record) return static_cast<int>(i) + 1;
  }
  return 0;
}

void CDevice::StoreTo(DitDevice& record) const {
  record = DitDevice{};
  PutTextField(record.name, kDeviceNameField, name_);
  PutTextField(record.description, kDescriptionField, description_);
  record.lockByte52 = kLockFree;
  record.lockByte53 = kLockFree;
  record.hardwareType = static_cast<std::uint16_t>(hardwareType_);
  record.activeStation = static_cast<std::uint16_t>(primaryStation_);
  record.primaryStation = static_cast<std::uint16_t>(primaryStation_);
  record.backupStation = static_cast<std::uint16_t>(backupStation_);
  record.deviceOption = static_cast<std::uint16_t>(queueHead_);
}

void CDevice::LoadFrom(const DitDevice& record, std::uint32_t formatVersion) {
  const auto* bytes = reinterpret_cast<const char*>(&record);
  if (formatVersion == kDitVersion) {
    name_ = TextField(record.name, kDeviceNameField, kMaxNameLength);
    description_ = TextField(record.description, kDescriptionField, kMaxDescriptionLength);
  } else {
    name_ = TextField(record.name, kDeviceNameField278, kDeviceNameField278 - 1);
    description_ = TextField(bytes + kDescriptionOffset278, kDescriptionField, kMaxDescriptionLength);
  }
  hardwareType_ = record.hardwareType;
  primaryStation_ = record.primaryStation;
  backupStation_ = record.backupStation;
  queueHead_ = record.deviceOption;
}

std::vector<std::string> CDevice::CsvFields() const {
  return {name_,
          std::to_string(channelNumber_),
          description_,
          HardwareTypeText(),
          PrimaryStationText(EntryPath::kCsv),
          BackupStationText(EntryPath::kCsv),
          QueueHeadText(EntryPath::kCsv)};
}

std::vector<std::string> CDevice::CsvHeaderFields() const {
  return {"DEVICE NAME", "CHANNEL", "DESCRIPTION", "Hardware", "Primary Tavex Addr", "Backup Tavex Addr",
          "Queue Head"};
}

// ---------------------------------------------------------------------------
// CPollRecord

int CPollRecord::Commit(const PollRecordSettings& candidate, Reporter& reporter) {
  if (owner_ != nullptr) {
    const int position = OverlapIn(*owner_, candidate, original_ != nullptr ? original_ : this);
    if (position != 0) {
      return Refuse(reporter, kMsgAddressDefined,
                    WithIntegers(msg::kAddressDefined, static_cast<std::uint32_t>(position)));
    }
  }
  settings_ = candidate;
  return kTaken;
}

void CPollRecord::EditAsCopyOf(const CPollRecord* original, CDevice& device) {
  settings_ = original != nullptr ? original->settings_ : PollRecordSettings{};
  owner_ = &device;
  original_ = original;
}

int CPollRecord::SetStartFromText(std::string_view text, Reporter& reporter, EntryPath path) {
  const ParsedAddress parsed = ParseAddressText(text, reporter);
  if (parsed.status != kTaken) return parsed.status;
  PollRecordSettings candidate = settings_;
  candidate.start = parsed.address;
  if (parsed.address.section == kSectionEvent) {
    candidate.length = path == EntryPath::kCsv ? kCsvEventLength : kDialogEventLength;
    candidate.end = {kSectionEvent, candidate.length - 1};
  } else if (candidate.length == 0 || candidate.end.section != kSectionDit) {
    candidate.length = 1;
    candidate.end = parsed.address;
  } else {
    if (candidate.end.offset < parsed.address.offset) {
      return Refuse(reporter, kMsgStartBeforeEnd, msg::kStartBeforeEnd);
    }
    const int length = candidate.end.offset - parsed.address.offset + 1;
    if (length > kMaxLength) return Refuse(reporter, kMsgLengthRange, WithIntegers(msg::kLengthRange, kMaxLength));
    candidate.length = length;
  }
  return Commit(candidate, reporter);
}

int CPollRecord::SetEndFromText(std::string_view text, Reporter& reporter) {
  if (settings_.length == 0) return Refuse(reporter, kMsgStartFirst, msg::kStartFirst);
  const ParsedAddress parsed = ParseAddressText(text, reporter);
  if (parsed.status != kTaken) return parsed.status;
  PollRecordSettings candidate = settings_;
  if (parsed.address.section != candidate.start.section) {
    return Refuse(reporter, kMsgStartBeforeEnd, msg::kStartBeforeEnd);
  }
  if (parsed.address.section == kSectionEvent) {
    candidate.length = kDialogEventLength;
    candidate.end = {kSectionEvent, candidate.start.offset + kDialogEventLength - 1};
    return Commit(candidate, reporter);
  }
  if (parsed.address.offset < candidate.start.offset) {
    return Refuse(reporter, kMsgStartBeforeEnd, msg::kStartBeforeEnd);
  }
  const int length = parsed.address.offset - candidate.start.offset + 1;
  if (length > kMaxLength) return Refuse(reporter, kMsgLengthRange, WithIntegers(msg::kLengthRange, kMaxLength));
  candidate.end = parsed.address;
  candidate.length = length;
  return Commit(candidate, reporter);
}

int CPollRecord::SetLengthFromText(std::string_view text, Reporter& reporter, EntryPath path) {
  if (settings_.length == 0) return Refuse(reporter, kMsgStartFirst, msg::kStartFirst);
  PollRecordSettings candidate = settings_;
  if (candidate.start.section == kSectionEvent) {
    // An event record's length is that of the event reply.
    candidate.length = path == EntryPath::kCsv ? kCsvEventLength : kDialogEventLength;
    candidate.end = {kSectionEvent, candidate.start.offset + candidate.length - 1};
    return Commit(candidate, reporter);
  }
  const std::optional<std::int64_t> length = ReadInteger(text);
  if (!length || *length < 1 || *length > kMaxLength) {
    return Refuse(reporter, kMsgLengthRange, WithIntegers(msg::kLengthRange, kMaxLength));
  }
  const std::int64_t end = candidate.start.offset + *length - 1;
  if (end > kMaxDitOffset) {
    return Refuse(reporter, kMsgAddressRange, WithIntegers(msg::kAddressRange, 0, kMaxDitOffset));
  }
  candidate.length = static_cast<int>(*length);
  candidate.end = {candidate.start.section, static_cast<int>(end)};
  return Commit(candidate, reporter);
}

int CPollRecord::SetDataTypeFromText(std::string_view text, Reporter& reporter) {
  const int code = VRT_Data_Type_dct().Match(text);
  if (code == kNoMatch) return Refuse(reporter, kMsgDataType, msg::kDataType);
  settings_.dataType = code;
  return kTaken;
}

int CPollRecord::SetPollTimeFromText(std::string_view text, Reporter& reporter, EntryPath path) {
  if (IsDisabledText(text, path)) {
    settings_.pollTime = kPollTimeDisabled;
    return kTaken;
  }
  const std::optional<double> value = ReadReal(text);
  if (!value || *value < 0.0 || *value > kMaxPollTime) {
    return Refuse(reporter, kMsgPollTime, WithReals(msg::kPollTime, 0.0, kMaxPollTime));
  }
  settings_.pollTime = *value;
  return kTaken;
}

int CPollRecord::SetAccessTimeFromText(std::string_view text, Reporter& reporter, EntryPath path) {
  if (IsDisabledText(text, path)) {
    settings_.accessTime = kAccessTimeDisabled;
    return kTaken;
  }
  if (settings_.exceptionType != kExceptionDisabled) {
    return Refuse(reporter, kMsgAccessExceptionBased, msg::kAccessExceptionBased);
  }
  const std::optional<double> value = ReadReal(text);
  if (!value || *value < 0.0 || *value > kMaxAccessTime) {
    return Refuse(reporter, kMsgAccessTime, WithReals(msg::kAccessTime, 0.0, kMaxAccessTime));
  }
  settings_.accessTime = *value;
  return kTaken;
}

int CPollRecord::SetExceptionFromText(std::string_view text, Reporter& reporter) {
  const int code = VRT_Exception_dct().Match(text);
  if (code == kNoMatch) return Refuse(reporter, kMsgException, msg::kException);
  settings_.exceptionType = code;
  return kTaken;
}

int CPollRecord::SetDeadBandFromText(std::string_view text, Reporter& reporter, EntryPath path) {
  const std::optional<double> value = ReadReal(text);
  const std::string problem = DeadBandProblem(value.value_or(-1.0), path);
  if (!problem.empty()) {
    return Refuse(reporter, path == EntryPath::kView ? kMsgDeadBandDialog : kMsgDeadBandCsv, problem);
  }
  // "-0" is taken as 0: a negative zero would be written as "0.00000" and
  // read back as a different image.
  settings_.deadBand = *value == 0.0 ? 0.0f : static_cast<float>(*value);
  return kTaken;
}

void CPollRecord::ChooseExceptionType(int code) {
  settings_.exceptionType = code;
  if (code != kExceptionDisabled) {
    settings_.accessTime = kAccessTimeDisabled;
  } else {
    settings_.accessTime = 300.0;
    settings_.deadBand = 0.0f;
  }
}

std::string CPollRecord::StartText() const {
  return settings_.length == 0 ? kUndefinedAddressText : AddressText(settings_.start);
}

std::string CPollRecord::EndText() const {
  return settings_.length == 0 ? kUndefinedAddressText : AddressText(settings_.end);
}

std::string CPollRecord::LengthText() const { return std::to_string(settings_.length); }
std::string CPollRecord::DataTypeText() const { return VRT_Data_Type_dct().TextOrUndefined(settings_.dataType); }

std::string CPollRecord::PollTimeText() const {
  return PollDisabled() ? "Disabled" : HundredthsText(HundredthsTruncated(settings_.pollTime));
}

std::string CPollRecord::AccessTimeText() const {
  return AccessDisabled() ? "Disabled" : HundredthsText(HundredthsTruncated(settings_.accessTime));
}

std::string CPollRecord::ExceptionText() const {
  return VRT_Exception_dct().TextOrUndefined(settings_.exceptionType);
}

std::string CPollRecord::DeadBandText() const { return editor::DeadBandText(settings_.deadBand); }

std::vector<std::string> CPollRecord::GridTexts(int position) const {
  return {std::to_string(position),
          StartText(),
          EndText(),
          LengthText(),
          DataTypeText(),
          PollDisabled() ? "Disabled" : PaddedFixed(settings_.pollTime, 8, 1),
          AccessDisabled() ? "Disabled" : PaddedFixed(settings_.accessTime, 8, 1),
          ExceptionText(),
          PaddedFixed(settings_.deadBand, 7, 1)};
}

int CPollRecord::OverlappingPosition(const CDevice& device) const { return OverlapIn(device, settings_, this); }

void CPollRecord::StoreTo(DitPollRecord& record) const {
  record = DitPollRecord{};
  record.status = kStatusStopped;
  record.enabled = PollDisabled() ? 0 : 1;
  record.dataLock = kLockFree;
  record.secondLock = kLockFree;
  record.exceptionType = static_cast<std::uint8_t>(settings_.exceptionType);
  record.pollTime = StoredHundredthsSigned(HundredthsTruncated(settings_.pollTime));
  record.accessTime = StoredHundredthsSigned(HundredthsTruncated(settings_.accessTime));
  record.deadBand = settings_.deadBand;
  record.deadBandInteger = TruncatedDeadBand(settings_.deadBand);
  record.reserved26 = 0;
  record.dataType = static_cast<std::uint16_t>(settings_.dataType);
  record.length = static_cast<std::uint16_t>(settings_.length);
  record.addressWord = MakeAddressWord(static_cast<std::uint16_t>(settings_.start.offset),
                                       static_cast<std::uint8_t>(settings_.start.section));
}

void CPollRecord::LoadFrom(const DitPollRecord& record) {
  settings_.start = {PollKindOf(record.addressWord), StartAddressOf(record.addressWord)};
  settings_.length = record.length;
  settings_.end = {settings_.start.section, settings_.start.offset + settings_.length - 1};
  settings_.dataType = record.dataType;
  settings_.exceptionType = record.exceptionType;
  settings_.pollTime = static_cast<std::int32_t>(record.pollTime) / 100.0;
  settings_.accessTime = static_cast<std::int32_t>(record.accessTime) / 100.0;
  settings_.deadBand = record.deadBand;
}

std::vector<std::string> CPollRecord::CsvFields() const {
  return {std::to_string(number_),
          owner_ != nullptr ? owner_->Name() : std::string(),
          DataTypeText(),
          PollTimeText(),
          AccessTimeText(),
          ExceptionText(),
          DeadBandText(),
          StartText(),
          LengthText()};
}

std::vector<std::string> CPollRecord::CsvHeaderFields() {
  return {"IOREC", "DEVICE NAME", "DATA TYPE", "POLL TIME", "ACCESS TIME", "EXCEPTION", "DEAD BAND", "START ADDR",
          "LENGTH"};
}

}  // namespace vrt::editor
