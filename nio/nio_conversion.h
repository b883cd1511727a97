// Value conversion between a 16-bit register of a poll record and an
// engineering value, by the point's signal-conditioning code. Pure
// arithmetic: no image, no locks. Arithmetic is done in long double and the
// result stored as a 32-bit float.
//
// Choices made where the plain formulas would misbehave:
// - A negative square-root argument (codes 16 and 21 below the low raw value)
//   and a code 15/16 option span of 0 read as the EGU low with value status
//   4292 (out of range): there is no true value to deliver.
// - A shift count outside 0..15 (code 17) shifts every bit out: 0.
// - Writes never send a value that did not come from the client's number:
//   a not-a-number or infinite value, and an EGU span of 0 under a scaled
//   code (3-8, 15, 16, 20-22), are refused (kNioKindMismatch) and nothing is
//   written.
// - Write results are limited to the register's range instead of wrapping:
//   a value below the EGU range writes the bottom of the raw range (never the
//   top), a value above it writes the top (never a wrapped-around small
//   number); BCD codes write 0..999 / 0..9999.
// - Code 12 reads the register as signed, so it writes the value rounded to
//   the nearest integer as a signed 16-bit number, without the Signed
//   record's 32768 offset: what is written reads back as the same number.
#pragma once

#include <cstdint>

namespace vrt {

// Signal-conditioning codes.
enum SignalConditioning : int {
  kSigNone = 0,
  kSig3Bcd = 1,
  kSig4Bcd = 2,
  kSig12Bn = 3,
  kSig12Al = 4,
  kSig15Bn = 5,
  kSig15Al = 6,
  kSig8Bn = 7,
  kSigLinear = 8,
  kSigSigned = 12,
  kSigFloatPair = 14,
  kSigRange = 15,
  kSigRangeSquareRoot = 16,
  kSigShiftMask = 17,
  kSigTenths = 18,
  kSigHundredths = 19,
  kSig4To20Linear = 20,
  kSig4To20SquareRoot = 21,
  kSig16SquareRoot = 22,
  kSigRaw = -1,
};

inline constexpr long double kRaw4mA = 13107.0L;
inline constexpr long double kRaw4To20Span = 52428.0L;

struct ConversionSettings {
  int code = kSigRaw;
  std::uint16_t dataType = 2;  // of the poll record: 1 Signed, 2 Unsigned, 4 Digital
  float eguSpan = 0.0f;
  float eguLow = 0.0f;
  std::uint8_t decimals = 0;
  std::uint16_t optionHigh = 0;
  std::int16_t optionLow = 0;
};

// Code 14 spans two registers: the register and the next one.
inline bool UsesTwoRegisters(int code) { return code == kSigFloatPair; }

struct ConvertedValue {
  float value = 0.0f;
  std::uint16_t valueStatus = 0;
};

// Register `raw` (and, for code 14, `next`) to an engineering value.
ConvertedValue ConvertRegisterToValue(std::uint16_t raw, std::uint16_t next, const ConversionSettings& settings);

struct ConvertedRegister {
  std::uint16_t status = 0;  // 0, or kNioKindMismatch when the value cannot be written
  std::uint16_t raw = 0;
  std::uint16_t next = 0;    // code 14: the low half for the next register
};

// Engineering value to register contents, including the Signed record's
// adjustment (code 0: the value as a signed integer; others: minus 32768).
ConvertedRegister ConvertValueToRegister(float value, const ConversionSettings& settings);

// 32-bit float entries (data type 3): true when the bits are not a usable
// number (exponent all ones, or zero with a non-zero fraction).
bool IsInvalidFloatBits(std::uint32_t bits);

// Data types 6 and 7: the float truncated toward zero, limited to the type's
// range. False for not-a-number and infinity.
bool FloatToInteger32(float value, bool isSigned, std::uint32_t& bits);

}  // namespace vrt
