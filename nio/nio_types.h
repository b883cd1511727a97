// The client-owned point objects of the NIO library and its status codes.
//
// The records are defined once, in the public header clients include
// (include/vrtstsr_types.h); here they get their layouts asserted and the
// library's accessors for their bit fields.
//
// Pointer fields: the shipped 32-bit library exchanges these records with
// clients compiled against the 32-bit layout (NioBlock 12 bytes, NioValue 8
// bytes). A pointer field is kept a real pointer rather than a 32-bit number
// because a 32-bit number cannot hold an address of a 64-bit process: the
// 32-bit layout is asserted in the 32-bit build, and the 64-bit build uses the
// same field order with 8-byte pointers (asserted too).
#pragma once

#include <cstddef>
#include <cstdint>

#include "vrtstsr_types.h"

namespace vrt {

// Codes and limits, as the public header gives them to clients.
inline constexpr std::uint16_t kNioOk = NIO_OK;
inline constexpr std::uint16_t kNioEnumerationFailed = NIO_ENUMERATION_FAILED;
inline constexpr std::uint16_t kNioUnsupportedKind = NIO_UNSUPPORTED_KIND;
inline constexpr std::uint16_t kNioAddressError = NIO_ADDRESS_ERROR;
inline constexpr std::uint16_t kNioSignalNameRejected = NIO_SIGNAL_NAME_REJECTED;
inline constexpr std::uint16_t kNioKindMismatch = NIO_KIND_MISMATCH;
inline constexpr std::uint16_t kNioRegistered = NIO_REGISTERED;
inline constexpr std::uint16_t kNioExceptionsDisabled = NIO_EXCEPTIONS_DISABLED;
inline constexpr std::uint16_t kNioEntryOwned = NIO_ENTRY_OWNED;

inline constexpr std::uint16_t kValueGood = NIO_VALUE_GOOD;
inline constexpr std::uint16_t kValueOutOfRange = NIO_VALUE_OUT_OF_RANGE;
inline constexpr std::uint16_t kValueCommFailure = NIO_VALUE_COMM_FAILURE;
inline constexpr std::uint16_t kValueNotPolled = NIO_VALUE_NOT_POLLED;
inline constexpr std::uint16_t kValueInvalidFloat = NIO_VALUE_INVALID_FLOAT;

inline constexpr std::uint8_t kValueKindAnalog = NIO_KIND_ANALOG;
inline constexpr std::uint8_t kValueKindDigital = NIO_KIND_DIGITAL;
inline constexpr std::uint8_t kValueKindText = NIO_KIND_TEXT;
inline constexpr std::uint8_t kValueKindFromAddress = NIO_KIND_FROM_ADDRESS;

inline constexpr std::uint8_t kValueTagText = NIO_TAG_TEXT;
inline constexpr std::uint8_t kValueTagFloat = NIO_TAG_FLOAT;
inline constexpr std::uint8_t kValueTagBoolean = NIO_TAG_BOOLEAN;

inline constexpr std::size_t kMaxAddressText = NIO_MAX_ADDRESS_TEXT;
inline constexpr std::size_t kMaxDeviceNameText = NIO_MAX_DEVICE_NAME;

inline constexpr std::uint8_t kUndefinedDevice = 255;

// The records themselves are the public header's.
using ::NioAddress;
using ::NioBlock;
using ::NioDeviceText;
using ::NioValue;
using ::NioValueSpec;

static_assert(sizeof(NioAddress) == 16);
static_assert(offsetof(NioAddress, registerWord) == 4);
static_assert(offsetof(NioAddress, elementOffset) == 8);
static_assert(offsetof(NioAddress, optionWord) == 10);
static_assert(offsetof(NioAddress, reserved12) == 12);
static_assert(offsetof(NioAddress, signalConditioning) == 14);

static_assert(sizeof(NioDeviceText) == 40);
static_assert(offsetof(NioDeviceText, notificationFlag) == 32);
static_assert(offsetof(NioDeviceText, optionHigh) == 34);
static_assert(offsetof(NioDeviceText, optionLow) == 36);
static_assert(offsetof(NioDeviceText, reserved38) == 38);

static_assert(sizeof(NioValueSpec) == 11);
static_assert(offsetof(NioValueSpec, eguSpan) == 2);
static_assert(offsetof(NioValueSpec, eguLow) == 6);
static_assert(offsetof(NioValueSpec, decimals) == 10);

static_assert(offsetof(NioBlock, address) == 4);
static_assert(offsetof(NioValue, valueStatus) == 2);
static_assert(offsetof(NioValue, value) == 4);
static_assert(sizeof(NioBlock) == 4 + 2 * sizeof(void*));
static_assert(offsetof(NioBlock, deviceText) == 4 + sizeof(void*));
static_assert(sizeof(NioValue) == 4 + sizeof(void*));
#if defined(__i386__) || defined(_M_IX86)
// The shipped 32-bit layout.
static_assert(sizeof(NioBlock) == 12);
static_assert(offsetof(NioBlock, deviceText) == 8);
static_assert(sizeof(NioValue) == 8);
#endif

// Fields of the resolution word.
inline constexpr std::uint32_t kResolutionIndexMask = 0xFFFF;
inline constexpr int kResolutionTagShift = 16;
inline constexpr std::uint32_t kResolvedMark = 1u << 18;
inline constexpr int kResolutionChannelShift = 19;
inline constexpr int kResolutionDeviceShift = 24;

inline int ResolvedIndexOf(const NioAddress& address) {
  return static_cast<int>(address.resolution & kResolutionIndexMask);
}
inline int GenerationTagOf(const NioAddress& address) {
  return static_cast<int>((address.resolution >> kResolutionTagShift) & 0x3);
}
inline int ChannelOf(const NioAddress& address) {
  return static_cast<int>((address.resolution >> kResolutionChannelShift) & 0x1F);
}
inline int DeviceNumberOf(const NioAddress& address) {
  return static_cast<int>(address.resolution >> kResolutionDeviceShift);
}
inline void SetChannelAndDevice(NioAddress& address, int channel, int deviceNumber) {
  address.resolution = (address.resolution & 0x0007FFFFu) |
                       ((static_cast<std::uint32_t>(channel) & 0x1F) << kResolutionChannelShift) |
                       ((static_cast<std::uint32_t>(deviceNumber) & 0xFF) << kResolutionDeviceShift);
}

// Fields of the register word.
inline int RegisterOf(const NioAddress& address) { return static_cast<int>(address.registerWord & 0x7FF); }
inline int BitOf(const NioAddress& address) { return static_cast<int>((address.registerWord >> 11) & 0xF); }
inline int PointPollKindOf(const NioAddress& address) {
  return static_cast<int>((address.registerWord >> 15) & 0x1F);
}

}  // namespace vrt
