// Code tables of the driver image: the image stores codes, these give their
// names. The editor's dictionaries (with their matching lengths) build on them.
#pragma once

#include <cstdint>
#include <span>

namespace vrt {

enum PollKind : std::uint8_t { kPollKindDit = 0, kPollKindEvent = 1 };

enum DataType : std::uint16_t {
  kDataSigned = 1,
  kDataUnsigned = 2,
  kDataFloat = 3,      // 32-bit IEEE float over two registers (NIO only)
  kDataDigital = 4,
  kDataUnsigned32 = 6, // 32-bit unsigned over two registers (NIO only)
  kDataSigned32 = 7,   // 32-bit signed over two registers (NIO only)
};

enum ExceptionType : std::uint8_t {
  kExceptionDisabled = 0,
  kExceptionAnalog = 1,
  kExceptionDigital = 2,
  kExceptionAscii = 3,
};

enum HardwareType : std::uint16_t {
  kHardwareEVR420 = 3,
  kHardwareEVR410 = 5,
  kHardwarePRISMOTE = 12,
  kHardwareZOLT = 23,
  kHardwareSELMARO = 35,
  kHardwareTORAVINE = 56,
};

inline constexpr std::uint8_t kNoPort = 255;
inline constexpr int kMaxPorts = 32;

struct CodeName {
  int code;
  const char* name;
};

inline constexpr CodeName kPollKindCodes[] = {{0, "DIT"}, {1, "EVENT"}};
inline constexpr CodeName kDataTypeCodes[] = {
    {1, "Signed"}, {2, "Unsigned"}, {3, "Float"}, {4, "Digital"}, {6, "Unsigned32"}, {7, "Signed32"}};
inline constexpr CodeName kExceptionTypeCodes[] = {
    {0, "Disabled"}, {1, "Analog"}, {2, "Digital"}, {3, "ASCII"}};
inline constexpr CodeName kHardwareTypeCodes[] = {
    {3, "EVR420"}, {5, "EVR410"}, {12, "PRISMOTE"}, {23, "ZOLT"}, {35, "SELMARO"}, {56, "TORAVINE"}};
inline constexpr CodeName kBaudRateCodes[] = {
    {2, "110"},    {5, "300"},    {6, "600"},    {7, "1200"},   {10, "2400"},   {12, "4800"},
    {14, "9600"},  {15, "19200"}, {16, "38400"}, {17, "57600"}, {19, "115200"}};
inline constexpr CodeName kDataBitsCodes[] = {{2, "7"}, {3, "8"}};
inline constexpr CodeName kStopBitsCodes[] = {{0, "1"}, {1, "2"}};
inline constexpr CodeName kParityCodes[] = {{0, "None"}, {1, "Odd"}, {3, "Even"}};
inline constexpr CodeName kHandshakeCodes[] = {
    {0, "None"}, {18, "RTS/CTS"}, {33, "DTR/DSR"}, {4, "RTS Toggle"}, {20, "RTS Tog CTS"}, {148, "RTS T CTS+CD"}};

// The name of a code, or null when the table has no such code.
inline const char* CodeNameOf(std::span<const CodeName> table, int code) {
  for (const CodeName& entry : table) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

}  // namespace vrt
