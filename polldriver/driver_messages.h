// The driver's message table: ten fixed records of a 16-bit identifier and
// 81 bytes of text, looked up by identifier.
#pragma once

#include <cstdint>

namespace vrt {

enum DriverMessageId : std::uint16_t {
  kMessageSerialAllocation = 101,
  kMessageMcbAllocation = 102,
  kMessageSerialInitialisation = 103,
  kMessagePortSwitch = 104,
  kMessageStationSwitch = 105,
  kMessageFailedCommunication = 106,
  kMessageRecoveredCommunication = 107,
  kMessageExceptionResponse = 108,
  kMessageSpare = 109,
};

// The format of a message; records with identifier 109 are never found, an
// unknown identifier gives ">>?No Data?<<".
const char* DriverMessageText(int identifier);

}  // namespace vrt
