// Result codes the OPC server hands to clients, their English texts, and
// the texts of the messages it sends into the driver's message ring. Plain
// numbers here, so that the rules can be tested without Windows.
#pragma once

#include <cstdint>
#include <string>

namespace vrt::opc {

// HRESULT values, as unsigned 32-bit numbers.
inline constexpr std::uint32_t kOk = 0x00000000;
inline constexpr std::uint32_t kFalse = 0x00000001;
inline constexpr std::uint32_t kUnsupportedRate = 0x0004000D;   // OPC_S_UNSUPPORTEDRATE
inline constexpr std::uint32_t kInUse = 0x0004000F;             // OPC_S_INUSE
inline constexpr std::uint32_t kInactiveCacheRead = 0x00048001;  // this server's own success code
inline constexpr std::uint32_t kNotImplemented = 0x80004001;
inline constexpr std::uint32_t kNoInterface = 0x80004002;
inline constexpr std::uint32_t kPointer = 0x80004003;
inline constexpr std::uint32_t kFail = 0x80004005;
inline constexpr std::uint32_t kNoConnectionOle = 0x80040004;   // OLE_E_NOCONNECTION
inline constexpr std::uint32_t kOutOfMemory = 0x8007000E;
inline constexpr std::uint32_t kInvalidArgument = 0x80070057;
inline constexpr std::uint32_t kInvalidHandle = 0xC0040001;     // OPC_E_INVALIDHANDLE
inline constexpr std::uint32_t kBadType = 0xC0040004;           // OPC_E_BADTYPE
inline constexpr std::uint32_t kInvalidItemId = 0xC0040008;     // OPC_E_INVALIDITEMID
inline constexpr std::uint32_t kDuplicateName = 0xC004000C;     // OPC_E_DUPLICATENAME
inline constexpr std::uint32_t kInvalidConfigFile = 0xC0040010; // OPC_E_INVALIDCONFIGFILE

inline bool Failed(std::uint32_t result) { return (result & 0x80000000u) != 0; }

// The English text of a code, or null for a code the server has no text for.
const char* ErrorText(std::uint32_t code);

// Message attributes of the server's driver messages.
inline constexpr int kMessageInformation = 2;
inline constexpr int kMessageFailure = 3;

// The driver messages the server sends.
inline constexpr const char* kSyncIoConnecting = "OPC SyncIO Client connecting";
inline constexpr const char* kVersion1Connecting = "OPC V 1 Client connecting";
inline constexpr const char* kVersion2Connecting = "OPC V 2 Client connecting";
inline constexpr const char* kRemoveGroupMessage = "OPC: RemoveGroup";
inline constexpr const char* kNullItemIdMessage = "OPC: Item id passed as NULL";
std::string ItemsAddedMessage(std::uint32_t count, std::uint32_t result);
std::string BadRequestedTypeMessage(int vartype);
std::string BadSignalConditioningMessage(const std::string& name);
std::string BadHardwareOptionsMessage(const std::string& options);
std::string CleanUpFailedMessage(std::uint32_t status);

// Event-log records: one text, optional raw data, category 4, event id 0.
struct EventReport {
  std::string text;
  std::string rawData;  // written without a terminating zero
  std::uint16_t category = 4;
  std::uint32_t eventId = 0;
};

// Where the server's event-log records go: the Windows event log under the
// source "VIDUZO", or a recorder in tests.
class EventReporter {
 public:
  virtual ~EventReporter() = default;
  virtual void Report(const EventReport& report) = 0;
};

inline constexpr const char* kEventSource = "VIDUZO";
inline constexpr const char* kDriverAcronym = "VRT";
EventReport NoAllocatorReport();
EventReport PollThreadNotStartedReport();
EventReport PollThreadComFailedReport();
EventReport PollThreadPriorityReport();
EventReport BandwidthPriorityReport();

}  // namespace vrt::opc
