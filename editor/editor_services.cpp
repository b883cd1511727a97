#include "editor_services.h"

#include <cstdio>

#include "editor_messages.h"
#include "editor_text.h"

namespace vrt::editor {

std::optional<std::string> HostRegistryKey(const std::string& driverExe) {
  const std::string upper = UpperAscii(driverExe);
  if (upper.find("FIX32") != std::string::npos) return std::string("Software\\FixDMACS");
  if (upper.find("DYNAMICS") != std::string::npos) return std::string("Software\\Fix Dynamics");
  return std::nullopt;
}

std::string ImportErrorFilePath(const std::string& pdbPath) { return pdbPath + "\\" + "VRTDIDW.ERR"; }

std::uint32_t SystemClock::SecondsSince1970() {
  const std::time_t now = std::time(nullptr);
  return now < 0 ? 0u : static_cast<std::uint32_t>(now);
}

std::tm SystemClock::LocalTime() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return local != nullptr ? *local : std::tm{};
}

bool ErrorFile::AppendLine(const std::string& line, bool first) {
  std::FILE* file = std::fopen(path_.c_str(), first ? "w" : "a");
  if (file == nullptr) return false;
  const bool written = std::fputs(line.c_str(), file) >= 0 && std::fputc('\n', file) != EOF;
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

void Reporter::Report(const std::string& text) {
  if (sink_ == nullptr) {
    ui_.ShowMessage(text, kProgramTitle, MessageIcon::kExclamation);
    return;
  }
  char number[16];
  std::snprintf(number, sizeof number, "%3d", lineNumber_);
  const std::string line = WithTexts(msg::kErrorFileLine, number, text);
  if (!sink_->AppendLine(line, !fileStarted_)) {
    // The error is not counted: the file that should hold it is not there.
    ui_.ShowMessage(msg::kFailedToOpen, kProgramTitle, MessageIcon::kError);
    return;
  }
  fileStarted_ = true;
  ++errorCount_;
}

void Reporter::BeginImport(ImportErrorSink& sink) {
  sink_ = &sink;
  fileStarted_ = false;
  lineNumber_ = 0;
  errorCount_ = 0;
}

int Reporter::EndImport() {
  sink_ = nullptr;
  return errorCount_;
}

const char* MessageText(int number) {
  switch (number) {
    case kMsgNameTooLong: return msg::kNameTooLong;
    case kMsgNameForbidden: return msg::kNameForbidden;
    case kMsgDescriptionTooLong: return msg::kDescriptionTooLong;
    case kMsgNameCharacters: return msg::kNameCharacters;
    case kMsgNameExists: return msg::kNameExists;
    case kMsgEnterNumber: return msg::kEnterNumber;
    case kMsgStationRange: return msg::kStationRange;
    case kMsgAddressRange: return msg::kAddressRange;
    case kMsgStartBeforeEnd: return msg::kStartBeforeEnd;
    case kMsgLengthRange: return msg::kLengthRange;
    case kMsgStartFirst: return msg::kStartFirst;
    case kMsgAddressDefined: return msg::kAddressDefined;
    case kMsgPollTime: return msg::kPollTime;
    case kMsgAccessExceptionBased: return msg::kAccessExceptionBased;
    case kMsgAccessTime: return msg::kAccessTime;
    case kMsgDeadBandDialog: return msg::kDeadBandDialog;
    case kMsgDeadBandCsv: return msg::kDeadBandCsv;
    case kMsgReplyTimeout: return msg::kReplyTimeout;
    case kMsgDelay: return msg::kDelay;
    case kMsgRetries: return msg::kRetries;
    case kMsgPort: return msg::kPort;
    case kMsgBaudRate: return msg::kBaudRate;
    case kMsgDataBits: return msg::kDataBits;
    case kMsgParity: return msg::kParity;
    case kMsgFlowControl: return msg::kFlowControl;
    case kMsgStopBits: return msg::kStopBits;
    case kMsgDisplayAlarm: return msg::kDisplayAlarm;
    case kMsgDataType: return msg::kDataType;
    case kMsgException: return msg::kException;
    default: return "";
  }
}

}  // namespace vrt::editor
