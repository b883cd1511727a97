// The OPC quality word. Only the low byte is OPC's, laid out QQSSSSLL: two
// quality bits, four sub-status bits, two limit bits. The high byte is ours
// to keep. Plain C++, so that the server's platform-neutral core and its
// COM side name the same bits; clients get them through opc_da.h.
#pragma once

#include <cstdint>

inline constexpr std::uint16_t OPC_QUALITY_MASK = 0xC0;
inline constexpr std::uint16_t OPC_STATUS_MASK = 0xFC;
inline constexpr std::uint16_t OPC_LIMIT_MASK = 0x03;

inline constexpr std::uint16_t OPC_QUALITY_BAD = 0x00;
inline constexpr std::uint16_t OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr std::uint16_t OPC_QUALITY_GOOD = 0xC0;

// Sub-states of BAD.
inline constexpr std::uint16_t OPC_QUALITY_CONFIG_ERROR = 0x04;
inline constexpr std::uint16_t OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr std::uint16_t OPC_QUALITY_DEVICE_FAILURE = 0x0C;
inline constexpr std::uint16_t OPC_QUALITY_SENSOR_FAILURE = 0x10;
inline constexpr std::uint16_t OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr std::uint16_t OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr std::uint16_t OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
// DA 3.0: no value has been had since the item was added.
inline constexpr std::uint16_t OPC_QUALITY_WAITING_FOR_INITIAL_DATA = 0x20;

// Sub-states of UNCERTAIN.
inline constexpr std::uint16_t OPC_QUALITY_LAST_USABLE = 0x44;
inline constexpr std::uint16_t OPC_QUALITY_SENSOR_CAL = 0x50;
inline constexpr std::uint16_t OPC_QUALITY_EGU_EXCEEDED = 0x54;
inline constexpr std::uint16_t OPC_QUALITY_SUB_NORMAL = 0x58;

// Sub-state of GOOD.
inline constexpr std::uint16_t OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;

inline constexpr std::uint16_t OPC_LIMIT_OK = 0x00;
inline constexpr std::uint16_t OPC_LIMIT_LOW = 0x01;
inline constexpr std::uint16_t OPC_LIMIT_HIGH = 0x02;
inline constexpr std::uint16_t OPC_LIMIT_CONST = 0x03;
