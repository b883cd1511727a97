// NIO addressing: address texts such as PUMP1:DIT:120:7 to address records
// and back, re-resolution of an address after the driver reloads the image,
// the signal-conditioning dictionary and the hardware options.
//
// Each function works over the process's DitMapping, passed in; the status
// word goes through the first pointer argument as the exported functions
// have it. A null status pointer is allowed (the status is then dropped);
// null point records give status 514 and change nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "dit_mapping.h"
#include "nio_types.h"

namespace vrt {

// One entry of the signal-conditioning dictionary: a text matches when its
// first `length` characters equal the name's (case-sensitive). An entry of
// negative length is a header and skipped; an entry whose code is below -1
// ends a lookup without a match.
struct SignalConditioningEntry {
  std::int16_t length;
  const char* name;
  std::int16_t code;
};
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(SignalConditioningEntry) == 12);
#endif

// The dictionary, header and final catch-all entry (code -1) included.
std::span<const SignalConditioningEntry> SignalConditioningDictionary();

inline constexpr int kNoSignalConditioning = -2;  // lookup found nothing (ended early)
inline constexpr const char* kUnknownSignalName = "*?*";
inline constexpr const char* kUndefinedAddressText = "--UNDEFINED--";
inline constexpr const char* kAddressSeparators = ":;,./\\ ";

// Code for `name` (null counts as the empty text), or kNoSignalConditioning.
int LookUpSignalConditioning(std::span<const SignalConditioningEntry> dictionary, const char* name);
// Full name of `code`, or "*?*".
const char* SignalConditioningName(std::span<const SignalConditioningEntry> dictionary, int code);

// Where a device of the image lies.
struct DeviceLocation {
  int channel = -1;
  int number = -1;  // within the channel
  int index = -1;   // global device index
};

// Device lookup: the name upper-cased and compared byte for byte with every
// device's name in global order; the first equal name wins. Names longer
// than 31 characters, and devices whose channel or number does not fit the
// address record, are not found.
bool FindDevice(DitMapping& mapping, const char* name, DeviceLocation& location);

// Resolves the address record's channel, device number and register to a
// poll record of the current image and writes index and generation tag into
// its resolution word. The record index, or -1.
int ResolveToPollRecord(DitMapping& mapping, NioAddress& address);

// Poll record index of the point, resolving it again (by the device name of
// its NioDeviceText) when the image was reloaded since; -1 for an undefined
// or unresolvable address.
int ResolveAddress(DitMapping& mapping, NioBlock* block);

void nio_paddr(DitMapping& mapping, std::uint16_t* status, NioBlock* block, NioValueSpec* valueSpec,
               const char* text);
// The address as text into `text`, at most `capacity` bytes with the
// terminating zero (longer texts are cut).
void nio_daddr(DitMapping& mapping, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec, char* text,
               std::size_t capacity);
void nio_psig(std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec, const char* name);
void nio_dsig(std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec, char* text,
              std::size_t capacity);
// Hardware options "low:high". Without a ':' in positions 1..8 the text is
// taken as fixed fields, low in 0..8 and high from position 10; a text too
// short for the second field gives a high number of 0.
void nio_popt(std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec, const char* text);
void nio_dopt(std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec, char* text,
              std::size_t capacity);
int nio_find_dev(DitMapping& mapping, const char* name);

// A decimal number as the address and option texts hold it: leading blanks,
// an optional sign, digits up to the first non-digit; no range check (the
// value wraps like a 32-bit integer).
std::int32_t ParseDecimal(const char* text);

}  // namespace vrt
