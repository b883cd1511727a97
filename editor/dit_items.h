// The editor's configuration objects: channels, which own devices, which own
// poll records. Every editable field has a setter from text (returning 0 or
// the number of the message it reported, and leaving the field unchanged on
// failure) and a formatter to text; the dialogs and CSV both go through them.
// Enumerated fields hold their table code, so that a code a table does not
// know (read from a file) is kept as it is and shows as "UNDEFINED".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dit_format.h"
#include "editor_services.h"

namespace vrt::editor {

// Where a text comes from: the main view and the dialogs, or a CSV import.
// A few rules differ between the two (messages, station ranges, the length
// an EVENT record gets).
enum class EntryPath { kView, kCsv };

// Sections of an address (`VRT_poll_type_dct`).
inline constexpr int kSectionDit = 0;
inline constexpr int kSectionEvent = 1;

inline constexpr int kMaxDitOffset = 4096;
inline constexpr int kMaxLength = 64;
inline constexpr int kCsvEventLength = 14;
inline constexpr int kDialogEventLength = 16;
// The image holds a start address in 11 bits.
inline constexpr int kMaxStoredStart = 2047;

inline constexpr int kUndefined16 = 0xFFFF;
inline constexpr double kPollTimeDisabled = -1.0;
inline constexpr double kAccessTimeDisabled = 172801.0;
inline constexpr int kMaxDevicesPerChannel = 255;
inline constexpr int kMaxChannels = 16;

class CDictionary;
class CChannel;
class CDevice;
class CPollRecord;

// Common base of channels and devices: name, description, owner.
class CDitItem {
 public:
  CDitItem() = default;
  CDitItem(const CDitItem&) = delete;
  CDitItem& operator=(const CDitItem&) = delete;
  virtual ~CDitItem() = default;

  const std::string& Name() const { return name_; }
  const std::string& Description() const { return description_; }
  CDitItem* Owner() const { return owner_; }

  // The fields of the item's CSV data line and of its section's header line.
  virtual std::vector<std::string> CsvFields() const = 0;
  virtual std::vector<std::string> CsvHeaderFields() const = 0;

 protected:
  std::string name_;
  std::string description_;
  CDitItem* owner_ = nullptr;
};

enum class LinkRole { kPrimary, kBackup };

struct LinkSettings {
  int port = 0;  // 12-bit port number, 0 = none
  int baudRate = 14;  // codes of baud_dct, data_bits_dct, ...: 9600, 8, None, 1, None
  int dataBits = 3;
  int parity = 0;
  int stopBits = 0;
  int flowControl = 0;
  double replyTimeout = 1.0;  // seconds
  double delay = 10.0;        // seconds
  int retries = 3;
  bool operator==(const LinkSettings&) const = default;
};

struct ChannelSettings {
  int displayAlarms = 1;  // Yes_No_dct code
  bool disableCommsAlarms = false;
  bool learnAddresses = false;
  LinkSettings primary;
  LinkSettings backup;
  bool operator==(const ChannelSettings&) const = default;
};

class CChannel : public CDitItem {
 public:
  CChannel() = default;
  ~CChannel() override;

  const ChannelSettings& Settings() const { return settings_; }
  const LinkSettings& Link(LinkRole role) const {
    return role == LinkRole::kPrimary ? settings_.primary : settings_.backup;
  }

  // Copy and compare: every setting, not the devices.
  void CopySettingsFrom(const CChannel& other) { settings_ = other.settings_; }
  bool SameSettings(const CChannel& other) const { return settings_ == other.settings_; }

  int SetDisplayAlarmsFromText(std::string_view text, Reporter& reporter);
  int SetPortFromText(LinkRole role, std::string_view text, Reporter& reporter);
  int SetBaudRateFromText(LinkRole role, std::string_view text, Reporter& reporter);
  int SetDataBitsFromText(LinkRole role, std::string_view text, Reporter& reporter);
  int SetParityFromText(LinkRole role, std::string_view text, Reporter& reporter);
  int SetFlowControlFromText(LinkRole role, std::string_view text, Reporter& reporter);
  int SetStopBitsFromText(LinkRole role, std::string_view text, Reporter& reporter);
  int SetReplyTimeoutFromText(LinkRole role, std::string_view text, Reporter& reporter);
  int SetDelayFromText(LinkRole role, std::string_view text, Reporter& reporter);
  int SetRetriesFromText(LinkRole role, std::string_view text, Reporter& reporter);

  std::string DisplayAlarmsText() const;
  std::string PortText(LinkRole role) const;
  std::string BaudRateText(LinkRole role) const;
  std::string DataBitsText(LinkRole role) const;
  std::string ParityText(LinkRole role) const;
  std::string FlowControlText(LinkRole role) const;
  std::string StopBitsText(LinkRole role) const;
  std::string ReplyTimeoutText(LinkRole role) const;
  std::string DelayText(LinkRole role) const;
  std::string RetriesText(LinkRole role) const;

  // Set directly by the dialogs' lists and the Options menu.
  void SetPort(LinkRole role, int port) { MutableLink(role).port = port & 0xFFF; }
  void SetDisplayAlarms(bool yes) { settings_.displayAlarms = yes ? 1 : 0; }
  void SetDisableCommsAlarms(bool on) { settings_.disableCommsAlarms = on; }
  void SetLearnAddresses(bool on) { settings_.learnAddresses = on; }

  // 1-based; during a CSV import the number read from the file.
  int Number() const { return number_; }
  void SetNumber(int number) { number_ = number; }

  const std::vector<std::unique_ptr<CDevice>>& Devices() const { return devices_; }
  CDevice* AttachDevice(std::unique_ptr<CDevice> device);
  std::unique_ptr<CDevice> DetachDevice(const CDevice* device);
  void DeleteDevice(const CDevice* device) { DetachDevice(device); }
  CDevice* CurrentDevice() const { return current_; }
  void SetCurrentDevice(CDevice* device) { current_ = device; }
  // Devices without poll records are removed and deleted.
  void RemoveDevicesWithoutPollRecords();

  // The channel record's own fields (the counts and first indices are the
  // writer's).
  void StoreTo(DitChannel& record) const;
  void LoadFrom(const DitChannel& record);

  std::vector<std::string> CsvFields() const override;
  std::vector<std::string> CsvHeaderFields() const override;

 private:
  LinkSettings& MutableLink(LinkRole role) {
    return role == LinkRole::kPrimary ? settings_.primary : settings_.backup;
  }
  int SetCodeFromText(int LinkSettings::*field, const CDictionary& table, int message, const char* text,
                      LinkRole role, std::string_view value, Reporter& reporter);

  ChannelSettings settings_;
  int number_ = 0;
  std::vector<std::unique_ptr<CDevice>> devices_;
  CDevice* current_ = nullptr;
};

struct DeviceSettings {
  std::string name;
  std::string description;
  int hardwareType = 3;  // VRT_Hardware_Type_dct code (EVR420); 0xFFFE: none
  int primaryStation = kUndefined16;
  int backupStation = kUndefined16;
  int queueHead = kUndefined16;
  bool operator==(const DeviceSettings&) const = default;
};

class CDevice : public CDitItem {
 public:
  CDevice() = default;
  ~CDevice() override;

  DeviceSettings Settings() const;
  void CopySettingsFrom(const CDevice& other);
  bool SameSettings(const CDevice& other) const { return Settings() == other.Settings(); }

  int HardwareType() const { return hardwareType_; }
  int PrimaryStation() const { return primaryStation_; }
  int BackupStation() const { return backupStation_; }
  int QueueHead() const { return queueHead_; }
  CChannel* Channel() const { return static_cast<CChannel*>(owner_); }

  // At most 11 characters, none of ":,|&" (every path).
  int SetNameFromText(std::string_view text, Reporter& reporter);
  // At most 35 characters.
  int SetDescriptionFromText(std::string_view text, Reporter& reporter);
  // An unknown text leaves no valid type (0xFFFE, shown as "UNDEFINED");
  // there is no message.
  int SetHardwareTypeFromText(std::string_view text, Reporter& reporter);
  // View: empty, a blank or "-" is undefined; otherwise digits only, 0..127
  // (queue head 1..4). CSV: a decimal number up to 65535 (undefined), or
  // empty or "-" for undefined.
  int SetPrimaryStationFromText(std::string_view text, Reporter& reporter, EntryPath path);
  int SetBackupStationFromText(std::string_view text, Reporter& reporter, EntryPath path);
  int SetQueueHeadFromText(std::string_view text, Reporter& reporter, EntryPath path);

  void SetHardwareType(int code) { hardwareType_ = code; }

  std::string HardwareTypeText() const;
  // View: "-" when undefined; CSV: the unsigned number (65535 when undefined).
  std::string PrimaryStationText(EntryPath path) const;
  std::string BackupStationText(EntryPath path) const;
  std::string QueueHeadText(EntryPath path) const;

  // The channel number written to and read from CSV.
  int ChannelNumber() const { return channelNumber_; }
  void SetChannelNumber(int number) { channelNumber_ = number; }

  const std::vector<std::unique_ptr<CPollRecord>>& PollRecords() const { return pollRecords_; }
  CPollRecord* AttachPollRecord(std::unique_ptr<CPollRecord> record);
  std::unique_ptr<CPollRecord> DetachPollRecord(const CPollRecord* record);
  void DeletePollRecords();
  CPollRecord* CurrentPollRecord() const { return current_; }
  void SetCurrentPollRecord(CPollRecord* record) { current_ = record; }
  // 1-based position of a record of this device, 0 when it is not one.
  int PositionOf(const CPollRecord* record) const;

  void StoreTo(DitDevice& record) const;
  // `formatVersion` 279 reads the description from its place; any other
  // from the older layout, 6 bytes after the start of the name field.
  void LoadFrom(const DitDevice& record, std::uint32_t formatVersion);

  std::vector<std::string> CsvFields() const override;
  std::vector<std::string> CsvHeaderFields() const override;

 private:
  friend class CDidDoc;
  friend class CChannel;
  int SetStationFromText(int* field, int viewMinimum, int viewMaximum, std::string_view text, Reporter& reporter,
                         EntryPath path);

  int hardwareType_ = 3;
  int primaryStation_ = kUndefined16;
  int backupStation_ = kUndefined16;
  int queueHead_ = kUndefined16;
  int channelNumber_ = 0;
  std::vector<std::unique_ptr<CPollRecord>> pollRecords_;
  CPollRecord* current_ = nullptr;
};

struct Address {
  int section = kSectionDit;
  int offset = 0;
  bool operator==(const Address&) const = default;
};

struct PollRecordSettings {
  Address start;
  Address end;
  int length = 0;  // registers; 0 = no address yet
  int dataType = 2;  // VRT_Data_Type_dct code (Unsigned)
  double pollTime = 1.0;  // seconds, kPollTimeDisabled
  double accessTime = 300.0;  // seconds, kAccessTimeDisabled
  int exceptionType = 0;  // VRT_Exception_dct code (Disabled)
  float deadBand = 0.0f;
  bool operator==(const PollRecordSettings&) const = default;
};

// Total of poll records attached to devices in this process: Save is offered
// only while it is not zero.
int PollRecordCounter();

class CPollRecord {
 public:
  CPollRecord() = default;
  CPollRecord(const CPollRecord&) = delete;
  CPollRecord& operator=(const CPollRecord&) = delete;

  const PollRecordSettings& Settings() const { return settings_; }
  void CopySettingsFrom(const CPollRecord& other) { settings_ = other.settings_; }
  bool SameSettings(const CPollRecord& other) const { return settings_ == other.settings_; }

  CDevice* Owner() const { return owner_; }
  // A dialog's working copy, never attached: takes `original`'s settings
  // (none for a record the dialog adds) and checks its ranges against the
  // other records of `device`, as `original` would.
  void EditAsCopyOf(const CPollRecord* original, CDevice& device);
  int Number() const { return number_; }
  void SetNumber(int number) { number_ = number; }
  int LiveStatus() const { return liveStatus_; }
  void SetLiveStatus(int status) { liveStatus_ = status; }

  bool PollDisabled() const { return settings_.pollTime == kPollTimeDisabled; }
  bool AccessDisabled() const { return settings_.accessTime == kAccessTimeDisabled; }

  // Start address: DIT with a separator and an offset 0..4096, or EVENT. An
  // EVENT start gives the record its fixed length (14 from CSV, 16 in the
  // dialog); a DIT start gives a record without length the length 1 and
  // otherwise keeps the end. Refused when the range would overlap another
  // record of the owner device.
  int SetStartFromText(std::string_view text, Reporter& reporter, EntryPath path);
  // The dialog's end address; needs a start.
  int SetEndFromText(std::string_view text, Reporter& reporter);
  // Length 1..64 with the end at most DIT:4096; needs a start. From CSV an
  // EVENT record keeps its length 14 whatever the text says.
  int SetLengthFromText(std::string_view text, Reporter& reporter, EntryPath path);
  int SetDataTypeFromText(std::string_view text, Reporter& reporter);
  // "Disabled" in any case; in the dialog also empty, "-" or "D".
  int SetPollTimeFromText(std::string_view text, Reporter& reporter, EntryPath path);
  int SetAccessTimeFromText(std::string_view text, Reporter& reporter, EntryPath path);
  int SetExceptionFromText(std::string_view text, Reporter& reporter);
  int SetDeadBandFromText(std::string_view text, Reporter& reporter, EntryPath path);

  // The dialog's lists. Choosing an exception type other than Disabled
  // disables the access time; choosing Disabled sets the access time to 300
  // seconds and the dead band to 0.
  void SetDataType(int code) { settings_.dataType = code; }
  void ChooseExceptionType(int code);
  // Detaching by the dialog's Delete: a record without length is removed.
  void ClearLength() { settings_.length = 0; }

  std::string StartText() const;
  std::string EndText() const;
  std::string LengthText() const;
  std::string DataTypeText() const;
  std::string PollTimeText() const;
  std::string AccessTimeText() const;
  std::string ExceptionText() const;
  std::string DeadBandText() const;
  // The row of the poll-record grid, `position` being the record's 1-based
  // position: number, start, end, length, data type, poll time, access time,
  // exception, dead band.
  std::vector<std::string> GridTexts(int position) const;

  // 1-based position of the first other record of `device` whose range in
  // the same section meets this record's range; 0 when none does.
  int OverlappingPosition(const CDevice& device) const;

  void StoreTo(DitPollRecord& record) const;
  void LoadFrom(const DitPollRecord& record);

  std::vector<std::string> CsvFields() const;
  static std::vector<std::string> CsvHeaderFields();

 private:
  friend class CDevice;
  // Takes `candidate` when its range overlaps no other record of the owner.
  int Commit(const PollRecordSettings& candidate, Reporter& reporter);

  PollRecordSettings settings_;
  CDevice* owner_ = nullptr;
  // The record a working copy stands for (excluded from overlap checks).
  const CPollRecord* original_ = nullptr;
  int number_ = -1;
  int liveStatus_ = 97;
};

// What the address fields show for a record without length.
inline constexpr char kUndefinedAddressText[] = "--Undefined---";

// Address text: "DIT:120", "EVENT:0"; "--Undefined---" for a record without
// length (see CPollRecord::StartText).
std::string AddressText(const Address& address);

// Range checks shared by the setters and by the check of a loaded
// configuration: the message text, or empty when the value is allowed.
std::string ReplyTimeoutProblem(double seconds);
std::string DelayProblem(double seconds);
std::string RetriesProblem(long long retries);
std::string PollTimeProblem(double seconds);
std::string AccessTimeProblem(double seconds, int exceptionType);
std::string DeadBandProblem(double deadBand, EntryPath path);
std::string StationProblem(long long station, int minimum, int maximum);
std::string DeviceNameProblem(std::string_view name);
std::string DescriptionProblem(std::string_view description);

}  // namespace vrt::editor
