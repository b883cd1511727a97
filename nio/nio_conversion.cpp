#include "nio_conversion.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "nio_types.h"

namespace vrt {
namespace {

using Real = long double;

// Out-of-range long doubles must not be converted to float unchecked.
float ToFloat(Real value) {
  if (std::isnan(value)) return 0.0f;
  if (value > FLT_MAX) return FLT_MAX;
  if (value < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(value);
}

Real Clamp(Real value, Real low, Real high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

// x + 0.5 truncated toward zero.
Real Nearest(Real x) { return std::trunc(x + 0.5L); }

bool IsScaled(int code) {
  switch (code) {
    case kSig12Bn:
    case kSig12Al:
    case kSig15Bn:
    case kSig15Al:
    case kSig8Bn:
    case kSigLinear:
    case kSigRange:
    case kSigRangeSquareRoot:
    case kSig4To20Linear:
    case kSig4To20SquareRoot:
    case kSig16SquareRoot:
      return true;
    default:
      return false;
  }
}

// BCD digits of `raw`, digit 0 in the low nibble; false when a nibble is
// not a decimal digit.
bool DecodeBcd(std::uint16_t raw, int digits, Real& value) {
  bool valid = true;
  long result = 0;
  long weight = 1;
  for (int digit = 0; digit < digits; ++digit) {
    const int nibble = (raw >> (4 * digit)) & 0xF;
    if (nibble > 9) valid = false;
    result += nibble * weight;
    weight *= 10;
  }
  value = static_cast<Real>(result);
  return valid;
}

std::uint16_t EncodeBcd(Real value, int digits) {
  const Real top = digits == 3 ? 999.0L : 9999.0L;
  long number = static_cast<long>(Clamp(std::trunc(value), 0.0L, top));
  std::uint16_t raw = 0;
  for (int digit = 0; digit < digits; ++digit) {
    raw = static_cast<std::uint16_t>(raw | ((number % 10) << (4 * digit)));
    number /= 10;
  }
  return raw;
}

Real RoundToDecimals(Real value, int decimals) {
  const Real power = std::pow(10.0L, static_cast<Real>(decimals));
  Real scaled = value * power;
  scaled += scaled >= 0 ? 0.5L : -0.5L;
  return std::trunc(scaled) / power;
}

}  // namespace

bool IsInvalidFloatBits(std::uint32_t bits) {
  const std::uint32_t exponent = (bits >> 23) & 0xFF;
  const std::uint32_t fraction = bits & 0x7FFFFF;
  return exponent == 0xFF || (exponent == 0 && fraction != 0);
}

bool FloatToInteger32(float value, bool isSigned, std::uint32_t& bits) {
  if (!std::isfinite(value)) return false;
  const Real whole = std::trunc(static_cast<Real>(value));
  if (isSigned) {
    const Real limited = Clamp(whole, -2147483648.0L, 2147483647.0L);
    bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<long long>(limited)));
  } else {
    bits = static_cast<std::uint32_t>(static_cast<unsigned long long>(Clamp(whole, 0.0L, 4294967295.0L)));
  }
  return true;
}

ConvertedValue ConvertRegisterToValue(std::uint16_t raw, std::uint16_t next, const ConversionSettings& settings) {
  const Real span = settings.eguSpan;
  const Real low = settings.eguLow;
  const Real w = raw;
  const Real signedW = static_cast<std::int16_t>(raw);
  auto scaled = [&](Real fraction) { return fraction * span + low; };

  ConvertedValue out;
  Real value = 0;
  switch (settings.code) {
    case kSigNone:
      value = settings.dataType == 1 ? signedW : w;
      break;
    case kSig3Bcd:
    case kSig4Bcd:
      if (!DecodeBcd(raw, settings.code == kSig3Bcd ? 3 : 4, value)) out.valueStatus = kValueOutOfRange;
      break;
    case kSig12Bn:
      value = scaled(w / 4095.0L);
      break;
    case kSig12Al:
      value = scaled(w / 4095.0L);
      if (raw >= 4096) out.valueStatus = kValueOutOfRange;
      break;
    case kSig15Bn:
      value = scaled(w / 32767.0L);
      break;
    case kSig15Al:
      value = scaled(w / 32767.0L);
      if (raw & 0x8000) out.valueStatus = kValueOutOfRange;
      break;
    case kSig8Bn:
      value = scaled(w / 255.0L);
      break;
    case kSigLinear: {
      const Real x = settings.dataType == 1 ? signedW + 32768.0L : w;
      value = RoundToDecimals(scaled(x / 65535.0L), settings.decimals);
      break;
    }
    case kSigSigned:
      value = signedW;
      break;
    case kSigFloatPair: {
      // The register pair holds a float, high word first.
      const std::uint32_t bits = (static_cast<std::uint32_t>(raw) << 16) | next;
      std::memcpy(&out.value, &bits, sizeof bits);
      return out;
    }
    case kSigRange:
    case kSigRangeSquareRoot: {
      if (settings.optionHigh == 0) {
        value = low;
        out.valueStatus = kValueOutOfRange;
        break;
      }
      const Real fraction = (w - settings.optionLow) / settings.optionHigh;
      if (settings.code == kSigRange) {
        value = scaled(fraction);
      } else if (fraction < 0) {
        value = low;
        out.valueStatus = kValueOutOfRange;
      } else {
        value = scaled(std::sqrt(fraction));
      }
      break;
    }
    case kSigShiftMask: {
      const int shift = settings.optionLow;
      value = (shift < 0 || shift > 15) ? 0 : static_cast<Real>((raw >> shift) & settings.optionHigh);
      break;
    }
    case kSigTenths:
      value = w * 0.1L;
      break;
    case kSigHundredths:
      value = w * 0.01L;
      break;
    case kSig4To20Linear:
      value = scaled((w - kRaw4mA) / kRaw4To20Span);
      break;
    case kSig4To20SquareRoot: {
      const Real fraction = (w - kRaw4mA) / kRaw4To20Span;
      if (fraction < 0) {
        value = low;
        out.valueStatus = kValueOutOfRange;
      } else {
        value = scaled(std::sqrt(fraction));
      }
      break;
    }
    case kSig16SquareRoot:
      value = scaled(std::sqrt(w / 65535.0L));
      break;
    default:
      value = w;
      break;
  }
  out.value = ToFloat(value);
  return out;
}

ConvertedRegister ConvertValueToRegister(float value, const ConversionSettings& settings) {
  ConvertedRegister out;
  const int code = settings.code;
  if (!std::isfinite(value) || (IsScaled(code) && settings.eguSpan == 0.0f)) {
    out.status = kNioKindMismatch;
    return out;
  }
  const Real v = value;
  const Real fraction = IsScaled(code) ? (v - settings.eguLow) / settings.eguSpan : 0;
  // Square-root codes square the fraction: a value below the range must not
  // come out as a large positive one.
  const Real squared = fraction > 0 ? fraction * fraction : 0;
  const Real optionLow = settings.optionLow;
  const Real optionHigh = settings.optionHigh;

  Real raw = 0;  // register contents as an unsigned number, before the Signed adjustment
  switch (code) {
    case kSig3Bcd:
      raw = EncodeBcd(v, 3);
      break;
    case kSig4Bcd:
      raw = EncodeBcd(v, 4);
      break;
    case kSig12Bn:
    case kSig12Al:
      raw = Clamp(Nearest(fraction * 4095.0L), 0, 4095);
      break;
    case kSig15Bn:
    case kSig15Al:
      raw = Clamp(Nearest(fraction * 32767.0L), 0, 32767);
      break;
    case kSig8Bn:
      raw = Clamp(Nearest(fraction * 255.0L), 0, 255);
      break;
    case kSigLinear:
      raw = Clamp(Nearest(fraction * 65535.0L), 0, 65535);
      break;
    case kSigFloatPair: {
      // The float's bits as they are; the Signed adjustment would corrupt them.
      std::uint32_t bits = 0;
      std::memcpy(&bits, &value, sizeof bits);
      out.raw = static_cast<std::uint16_t>(bits >> 16);
      out.next = static_cast<std::uint16_t>(bits & 0xFFFF);
      return out;
    }
    case kSigRange:
      raw = Clamp(Nearest(fraction * optionHigh) + optionLow, optionLow, optionLow + optionHigh);
      break;
    case kSigRangeSquareRoot:
      raw = Clamp(Nearest(squared * optionHigh) + optionLow, optionLow, optionLow + optionHigh);
      break;
    case kSigShiftMask: {
      const int shift = settings.optionLow;
      const auto whole = static_cast<std::int64_t>(Clamp(std::trunc(v), -2147483648.0L, 2147483647.0L));
      const std::uint32_t masked = static_cast<std::uint32_t>(whole) & settings.optionHigh;
      raw = (shift < 0 || shift > 15) ? 0 : static_cast<Real>((masked << shift) & 0xFFFF);
      break;
    }
    case kSigTenths:
      raw = Nearest(v * 10.0L);
      break;
    case kSigHundredths:
      raw = Nearest(v * 100.0L);
      break;
    case kSig4To20Linear:
      raw = Nearest(fraction * kRaw4To20Span) + kRaw4mA;
      if (raw < kRaw4mA) raw = kRaw4mA;
      break;
    case kSig4To20SquareRoot:
      raw = Nearest(squared * kRaw4To20Span) + kRaw4mA;
      break;
    case kSig16SquareRoot:
      raw = Nearest(squared * 65535.0L);
      break;
    case kSigSigned: {
      // The register holds a signed number (that is how it reads): the value
      // rounded half away from zero, as 16 bits, on any record type.
      const Real whole = Clamp(std::round(v), -32768.0L, 32767.0L);
      out.raw = static_cast<std::uint16_t>(static_cast<std::int16_t>(whole));
      return out;
    }
    case kSigNone:
      if (settings.dataType == 1) {
        // A Signed record takes the value itself as a signed integer.
        const Real whole = Clamp(std::trunc(v), -32768.0L, 32767.0L);
        out.raw = static_cast<std::uint16_t>(static_cast<std::int16_t>(whole));
        return out;
      }
      raw = Nearest(v);
      break;
    default:
      raw = Nearest(v);
      break;
  }
  raw = Clamp(raw, 0, 65535);
  const long bits = static_cast<long>(raw) - (settings.dataType == 1 ? 32768 : 0);
  out.raw = static_cast<std::uint16_t>(bits & 0xFFFF);
  return out;
}

}  // namespace vrt
