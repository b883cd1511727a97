#include "document_check.h"

#include <map>

#include "dictionary.h"
#include "doc_file.h"
#include "editor_messages.h"
#include "editor_text.h"

namespace vrt::editor {

namespace {

class Checker {
 public:
  explicit Checker(std::vector<std::string>& problems) : problems_(problems) {}

  void Add(const std::string& where, const std::string& problem) {
    if (!problem.empty()) problems_.push_back(where + ": " + problem);
  }

  void Code(const std::string& where, const CDictionary& table, int code, const char* message) {
    if (table.TextOf(code) == nullptr) Add(where, message);
  }

 private:
  std::vector<std::string>& problems_;
};

void CheckChannel(Checker& check, const CChannel& channel, int number) {
  const std::string where = "Channel " + std::to_string(number);
  check.Code(where, Yes_No_dct(), channel.Settings().displayAlarms, msg::kDisplayAlarm);
  // The backup port is never stored, so it is not checked: it reads back as
  // a value outside the port table.
  if (port_dct().TextOf(channel.Link(LinkRole::kPrimary).port - 1) == nullptr) check.Add(where, msg::kPort);
  for (LinkRole role : {LinkRole::kPrimary, LinkRole::kBackup}) {
    const LinkSettings& link = channel.Link(role);
    const std::string linkWhere = where + (role == LinkRole::kPrimary ? "" : " backup");
    check.Code(linkWhere, baud_dct(), link.baudRate, msg::kBaudRate);
    check.Code(linkWhere, data_bits_dct(), link.dataBits, msg::kDataBits);
    check.Code(linkWhere, parity_dct(), link.parity, msg::kParity);
    check.Code(linkWhere, handshake_dct(), link.flowControl, msg::kFlowControl);
    check.Code(linkWhere, stop_bits_dct(), link.stopBits, msg::kStopBits);
    check.Add(linkWhere, ReplyTimeoutProblem(link.replyTimeout));
    check.Add(linkWhere, DelayProblem(link.delay));
    check.Add(linkWhere, RetriesProblem(link.retries));
  }
}

void CheckDevice(Checker& check, const CDevice& device, std::map<std::string, int>& names) {
  const std::string where = "Device " + device.Name();
  if (device.Name().empty()) check.Add(where, "Device name is empty.");
  check.Add(where, DeviceNameProblem(device.Name()));
  if (names[device.Name()]++ == 1) check.Add(where, msg::kNameExists);
  check.Add(where, DescriptionProblem(device.Description()));
  if (VRT_Hardware_Type_dct().TextOf(device.HardwareType()) == nullptr) {
    check.Add(where, "Hardware UNDEFINED (code " + std::to_string(device.HardwareType()) + ")");
  }
  check.Add(where, StationProblem(device.PrimaryStation(), 0, 127));
  check.Add(where, StationProblem(device.BackupStation(), 0, 127));
  check.Add(where, StationProblem(device.QueueHead(), 1, 4));

  int position = 0;
  for (const auto& record : device.PollRecords()) {
    ++position;
    const std::string recordWhere = where + ", Poll Record " + std::to_string(position);
    const PollRecordSettings& settings = record->Settings();
    if (VRT_poll_type_dct().TextOf(settings.start.section) == nullptr) {
      check.Add(recordWhere, "Address section UNDEFINED (code " + std::to_string(settings.start.section) + ")");
    }
    if (settings.length < 1 || settings.length > kMaxLength) {
      check.Add(recordWhere, WithIntegers(msg::kLengthRange, kMaxLength));
    } else if (settings.start.section == kSectionDit && settings.start.offset + settings.length - 1 > kMaxDitOffset) {
      check.Add(recordWhere, WithIntegers(msg::kAddressRange, 0, kMaxDitOffset));
    }
    if (settings.start.offset > kMaxStoredStart) {
      check.Add(recordWhere, "Start address beyond DIT:2047, the last address the driver can poll.");
    }
    check.Code(recordWhere, VRT_Data_Type_dct(), settings.dataType, msg::kDataType);
    check.Code(recordWhere, VRT_Exception_dct(), settings.exceptionType, msg::kException);
    check.Add(recordWhere, PollTimeProblem(settings.pollTime));
    check.Add(recordWhere, AccessTimeProblem(settings.accessTime, settings.exceptionType));
    check.Add(recordWhere, DeadBandProblem(settings.deadBand, EntryPath::kCsv));
    const int other = record->OverlappingPosition(device);
    if (other != 0 && other < position) {
      check.Add(recordWhere, WithIntegers(msg::kAddressDefined, static_cast<std::uint32_t>(other)));
    }
  }
}

}  // namespace

std::vector<std::string> CheckDocument(const CDidDoc& doc) {
  std::vector<std::string> problems;
  Checker check(problems);
  std::map<std::string, int> names;
  int number = 0;
  for (const auto& channel : doc.Channels()) {
    CheckChannel(check, *channel, ++number);
    for (const auto& device : channel->Devices()) CheckDevice(check, *device, names);
  }
  check.Add("Configuration", ImageCountProblem(doc));
  return problems;
}

}  // namespace vrt::editor
