// The editor's message texts, character for character, and the numbers by
// which the field setters say which message they reported.
#pragma once

namespace vrt::editor {

// What a setter returns: 0 when the value was taken, otherwise the number of
// the message it reported (or kRejectedSilently when it refused the text
// without a message).
enum MessageNumber : int {
  kTaken = 0,
  kMsgNameTooLong = 1,
  kMsgNameForbidden,
  kMsgDescriptionTooLong,
  kMsgNameCharacters,
  kMsgNameExists,
  kMsgEnterNumber,
  kMsgStationRange,
  kMsgAddressRange,
  kMsgStartBeforeEnd,
  kMsgLengthRange,
  kMsgStartFirst,
  kMsgAddressDefined,
  kMsgPollTime,
  kMsgAccessExceptionBased,
  kMsgAccessTime,
  kMsgDeadBandDialog,
  kMsgDeadBandCsv,
  kMsgReplyTimeout,
  kMsgDelay,
  kMsgRetries,
  kMsgPort,
  kMsgBaudRate,
  kMsgDataBits,
  kMsgParity,
  kMsgFlowControl,
  kMsgStopBits,
  kMsgDisplayAlarm,
  kMsgDataType,
  kMsgException,
  kRejectedSilently = 99,
};

namespace msg {

// Device fields.
inline constexpr char kNameTooLong[] = "DEVICE NAME is more than the maximum length.";
inline constexpr char kNameForbidden[] = "The devicename may not include any of the following characters \":,|&";
inline constexpr char kDescriptionTooLong[] = "DEVICE DESCRIPTION is more than the maximum length.";
inline constexpr char kNameCharacters[] = "Device name must contain only alphanumeric characters or '-' ,'_'";
inline constexpr char kNameExists[] = "Device Name already Exists";
inline constexpr char kEnterNumber[] = "Please enter a number.";
inline constexpr char kStationRange[] = "Invalid station number, valid range %1 - %2";
inline constexpr char kPortSettingsTitle[] = "Channel %1 Communication Settings";
inline constexpr char kBackupSettingsTitle[] = "Channel %1 Backup Communication Settings";
inline constexpr char kPortInUse[] = "Port already in use on Channel %1";
inline constexpr char kNoPort[] = "A Port Number must be defined for proper system operation.\n\rDo you wish to continue?";
inline constexpr char kReloadNothing[] = "Driver not Started Not Started!";
inline constexpr char kReloadComplete[] = "Reload Complete";
inline constexpr char kReloadNotStopped[] = "Reload failed: the driver did not stop";
inline constexpr char kReloadNotStarted[] = "Reload failed: the driver did not start again";
inline constexpr char kSaveLogFile[] = "Log File will be saved to %s_LOG.TXT";
inline constexpr char kAddedNameExists[] = "Device Name Already Exists";
inline constexpr char kDeleteDevice[] =
    "This will delete the Device and all associated Poll Records.\n\r\n\rDo You Wish to Continue?";
inline constexpr char kHardwareChange[] =
    "Changing the PLC type will cause all Poll Records for this device to be removed.\n\rDo you wish to continue?";

// Poll record fields.
inline constexpr char kAddressRange[] = "Address is out of range\n\r(Valid Range is %1 to %2)";
inline constexpr char kStartBeforeEnd[] = "Start Address must be before End Address";
inline constexpr char kLengthRange[] = "Invalid Length\n\r[Valid Range 1 - %1]";
inline constexpr char kStartFirst[] = "A Start Address must be entered before an End Address or Length";
inline constexpr char kAddressDefined[] = "Address already defined in Poll Record %1";
inline constexpr char kPollTime[] = "Invalid Poll Time (Valid Range %1 - %2)";
inline constexpr char kAccessExceptionBased[] = "Invalid for exception based poll record\n\n(Valid entry: DISABLED)";
inline constexpr char kAccessTime[] = "Invalid Access Time (Valid Range %1 - %2)\nOr \"Disabled\"";
inline constexpr char kDeadBandDialog[] = "Deadband can't be negative";
inline constexpr char kDeadBandCsv[] = "DEAD BAND specified is invalid.";
inline constexpr char kDataType[] = "DATA TYPE specified is valid.";
inline constexpr char kException[] = "EXCEPTION specified is invalid";

// Channel fields.
inline constexpr char kReplyTimeout[] = "Invalid Reply Timeout Value (Valid Range %1 - %2)";
inline constexpr char kDelay[] = "Invalid Delay Value (Valid Range %1 - %2)";
inline constexpr char kRetries[] = "Invalid Retry Value (Valid Range %1 - %2)";
inline constexpr char kPort[] = "Invalid PORT specified.";
inline constexpr char kBaudRate[] = "Invalid BAUD RATE specified.";
inline constexpr char kDataBits[] = "Invalid DATA BITS specified.";
inline constexpr char kParity[] = "Invalid PARITY specified.";
inline constexpr char kFlowControl[] = "Invalid FLOW CONTROL specified.";
inline constexpr char kStopBits[] = "Invalid STOP BITS specified.";
inline constexpr char kDisplayAlarm[] = "Invalid DISPLAY ALARM specified.";

// Files.
inline constexpr char kInvalidFileType[] = "Invalid File Type specified.";
inline constexpr char kFailedToOpen[] = "Failed to open document.";
inline constexpr char kDiskFull[] = "Save Failed. Disk Full.";
inline constexpr char kFailedToSave[] = "Failed to save document.";
inline constexpr char kFailedToCreate[] = "Failed to create empty document.";
inline constexpr char kOlderFormat[] = "Older File Format, Please save & re-open";
inline constexpr char kOlderFormatTitle[] = "WARNING ! %d";
inline constexpr char kFileOpenError[] = "File Open Error";
inline constexpr char kFileOpenErrorTitle[] = "The Configuration file is corrupt, Please re-save";
inline constexpr char kNewStartupFile[] =
    "You are Saving to %s\nThe Driver is starting up with %s\nDo You wish to make this the new Startup file ?";
inline constexpr char kNewStartupFileTitle[] = "Warning !";
inline constexpr char kModifiedNotSaved[] =
    "The I/O Driver Configuration has been modified but not saved. \n\rSave changes? (Selecting NO will result in "
    "changes being discarded.)";

// CSV.
inline constexpr char kChannelNotFound[] = "CHANNEL NUMBER not found. Line ignored!";
inline constexpr char kDeviceNotFound[] = "DEVICE NAME  not found. Line ignored!";
inline constexpr char kIorecNotFound[] = "IOREC Number not found. Line ignored.";
inline constexpr char kImportErrors[] = "%1 Errors detected during import. Errors reported to file %2";
inline constexpr char kNoMemory[] = "Fatal error: Memory allocation failed.";
inline constexpr char kExportAccessDenied[] = "Unable to open file. Please Check file attributes. ";
inline constexpr char kErrorFileLine[] = "Line Number %1 : %2";

// Input the import refuses so that nothing is lost without a word.
inline constexpr char kLineTooLong[] = "Line longer than 1023 characters. Line ignored!";
inline constexpr char kUnclosedQuote[] = "Quoted field not closed on its line. Line ignored!";
inline constexpr char kStartAddressInvalid[] = "START ADDR specified is invalid. Line ignored!";
inline constexpr char kIorecIncomplete[] = "IOREC fields missing, LENGTH not found. Line ignored!";
inline constexpr char kUnknownKeyword[] = "Unknown keyword %1. Lines up to the next keyword line ignored!";
inline constexpr char kTooManyChannels[] = "CHANNEL limit of %1 reached. Line ignored!";
inline constexpr char kTooManyDevices[] = "DEVICE limit of %1 per channel reached. Line ignored!";
inline constexpr char kTooManyPollRecords[] = "IOREC limit of %1 reached. Line ignored!";

// Configurations the image cannot hold.
inline constexpr char kSaveNoPollRecords[] = "Save Failed. The configuration holds no Poll Record.";
inline constexpr char kSaveTooManyChannels[] = "Save Failed. %1 channels, at most %2 are allowed.";
inline constexpr char kSaveTooManyDevices[] = "Save Failed. %1 devices with Poll Records, at most %2 are allowed.";
inline constexpr char kSaveTooManyPollRecords[] = "Save Failed. %1 Poll Records, at most %2 are allowed.";
inline constexpr char kSaveStartAddress[] =
    "Save Failed. Poll Record %1 of device %2 starts beyond DIT:2047, the last address the driver can poll.";

}  // namespace msg

// The text of a setter's message number (with its %1 and %2 still in place),
// or an empty text for 0 and kRejectedSilently.
const char* MessageText(int number);

}  // namespace vrt::editor
