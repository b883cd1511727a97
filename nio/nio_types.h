// The client-owned point objects of the NIO library and its status codes.
//
// A client names one register (or one bit) of one poll record with three
// records it owns: the address block `NioBlock`, which points at the
// `NioAddress` and the `NioDeviceText`, and the value description
// `NioValueSpec`. The library never allocates them and keeps no list of them.
//
// Pointer fields: the shipped 32-bit library exchanges these records with
// clients compiled against the 32-bit layout (NioBlock 12 bytes, NioValue 8
// bytes). A pointer field is kept a real pointer rather than a 32-bit number
// because a 32-bit number cannot hold an address of a 64-bit process: the
// 32-bit layout is asserted in the 32-bit build, and the 64-bit build uses the
// same field order with 8-byte pointers (asserted too). Records without
// pointers have one layout in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vrt {

// Call status words (written through the first argument of every function).
inline constexpr std::uint16_t kNioOk = 0;
inline constexpr std::uint16_t kNioEnumerationFailed = 100;
inline constexpr std::uint16_t kNioUnsupportedKind = 510;
inline constexpr std::uint16_t kNioAddressError = 514;
inline constexpr std::uint16_t kNioSignalNameRejected = 516;
inline constexpr std::uint16_t kNioKindMismatch = 519;
inline constexpr std::uint16_t kNioRegistered = 520;
inline constexpr std::uint16_t kNioExceptionsDisabled = 521;
inline constexpr std::uint16_t kNioEntryOwned = 522;

// Value status words (carried beside a value).
inline constexpr std::uint16_t kValueGood = 0;
inline constexpr std::uint16_t kValueOutOfRange = 4292;
inline constexpr std::uint16_t kValueCommFailure = 4293;
inline constexpr std::uint16_t kValueNotPolled = 4297;
inline constexpr std::uint16_t kValueInvalidFloat = 2185;

// Value kinds of a NioValueSpec.
inline constexpr std::uint8_t kValueKindAnalog = 1;
inline constexpr std::uint8_t kValueKindDigital = 2;
inline constexpr std::uint8_t kValueKindText = 3;
inline constexpr std::uint8_t kValueKindFromAddress = 5;  // nio_paddr only

// Tags of a NioValue delivered by a read.
inline constexpr std::uint8_t kValueTagText = 0;
inline constexpr std::uint8_t kValueTagFloat = 3;
inline constexpr std::uint8_t kValueTagBoolean = 4;

// Longest accepted address text and device name (characters, without the
// terminating zero). Longer input is refused with kNioAddressError.
inline constexpr std::size_t kMaxAddressText = 111;
inline constexpr std::size_t kMaxDeviceNameText = 31;

inline constexpr std::uint8_t kUndefinedDevice = 255;

#pragma pack(push, 1)

struct NioAddress {
  // Bits 0-15 poll record index, 16-17 generation tag, 18 resolved mark,
  // 19-23 channel, 24-31 device number within the channel (255 undefined).
  // 0: never resolved.
  std::uint32_t resolution;
  // Bits 0-10 register, 11-14 bit, 15-19 poll kind; 20-31 belong to the client.
  std::uint32_t registerWord;
  std::int16_t elementOffset;
  std::uint16_t optionWord;
  std::uint16_t reserved12;
  std::int16_t signalConditioning;
};

struct NioDeviceText {
  char deviceName[32];
  std::uint16_t notificationFlag;
  std::uint16_t optionHigh;  // span for codes 15 and 16, mask for 17
  std::int16_t optionLow;    // low raw value for 15 and 16, shift count for 17
  std::uint16_t reserved38;
};

struct NioBlock {
  std::uint32_t reserved0;
  NioAddress* address;
  NioDeviceText* deviceText;
};

struct NioValueSpec {
  std::uint8_t valueKind;
  std::uint8_t reserved1;
  float eguSpan;
  float eguLow;
  std::uint8_t decimals;
};

struct NioValue {
  std::uint8_t tag;
  std::uint8_t length;       // in: capacity (reads) or value length (writes); out: bytes delivered
  std::uint16_t valueStatus;
  void* value;
};

#pragma pack(pop)

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
