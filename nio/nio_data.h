// NIO reads and writes: one point's value from the poll record's value area,
// converted by its signal conditioning, and write requests into the write
// value and write flag areas for the poll driver to send. Every access
// re-arms the record's access countdown so that the driver keeps polling
// records that clients use.
//
// nio_read and nio_send do not serialise callers; the VARIANT functions that
// build on them hold the library's critical section around them. Between
// processes the poll record's data lock guards the data areas and the runtime
// entry's lock its countdowns and counters.
//
// Choices made where the plain rules would lose or corrupt data (see also
// nio_conversion.h):
// - A value buffer of the wrong size is refused with 519: an analog write
//   needs a 4-byte value, a digital write a value of length 1 or 2, and a
//   digital write changes only its own bit (any non-zero value sets it).
// - Code 14 (a float over two registers) needs both registers inside the
//   record (else 514) and raises the write flag of both, so that the driver
//   sends the whole value.
// - Every area access is checked against the area's stored size; an entry
//   outside it gives 514.
// - Refused writes (519, 514) change nothing in the image and do not re-arm
//   the runtime entry; neither do reads refused with 519.
#pragma once

#include <cstdint>

#include "dit_mapping.h"
#include "lock_byte.h"
#include "nio_list_heap.h"
#include "nio_types.h"

namespace vrt {

// What the library keeps per process for reads and writes.
struct NioProcess {
  NioProcess(DitMapping& processMapping, Sleeper& processSleeper)
      : mapping(processMapping), sleeper(processSleeper) {}
  DitMapping& mapping;
  Sleeper& sleeper;  // for the lock bytes' 1 ms waits
  // FILETIME of the bit delivered by the process's last digital read of a
  // record with time stamps (zero until then).
  std::uint64_t lastTimeStamp = 0;
  // Option flags set by nio_enable_options; bit 0 switches change
  // notification on.
  std::uint8_t options = 0;
  // Poll record at which the next nio_fetch starts looking.
  std::uint16_t fetchCursor = 0;
  // The image's cycle counter as nio_get_ServerStatus last saw it.
  std::uint16_t lastCycleCounter = 0;
  // Where enumeration lists come from (nio_enumeration.h), and the most
  // recently returned list, the only one nio_Free releases.
  NioListHeap* listHeap = &DefaultListHeap();
  char* lastList = nullptr;
};

// Reads one value. Status 0, 514 (address or position) or 519 (kind/type
// mismatch, buffer too small); the value status in `value`.
void nio_read(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
              NioValue* value);

// Requests one write. Status 0, 514 or 519.
void nio_send(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
              NioValue* value);

// OPC-style quality of a read: 192 good; otherwise the caller's high byte and
// limit bits kept, plus 24 for a communication failure, 28 for a record not
// polled, 84 for a value out of range and 0 (bad) for anything else.
std::uint16_t NioQuality(std::uint16_t callStatus, std::uint16_t valueStatus, std::uint16_t callerQuality);

// What the VARIANT functions exchange for a point of a value kind: a float
// (VT_R4), a boolean (VT_BOOL), nothing for text points (the VARIANT is left
// alone), or nothing because the kind is not supported (status 510).
enum class NioVariantKind { kUnsupported, kText, kFloat, kBoolean };
NioVariantKind NioVariantKindOf(const NioValueSpec* valueSpec);

// nio_readEx before its value becomes a VARIANT: nio_read into an 8-byte
// buffer and the process's last time stamp into `timeStamp` (when given);
// with a quality, the quality of the read and the value in the point's
// VARIANT form (status 510 for unsupported kinds). Without a quality the
// result says kText, so that the caller's VARIANT is not touched.
struct NioVariantRead {
  NioVariantKind kind = NioVariantKind::kText;
  float number = 0.0f;
  bool boolean = false;
};
NioVariantRead NioReadForVariant(NioProcess& process, std::uint16_t* status, NioBlock* block,
                                 const NioValueSpec* valueSpec, std::uint64_t* timeStamp, std::uint16_t* quality);

// nio_sendEx once the VARIANT is converted to the point's kind: a float for
// analog points, a boolean (sent as 1 or 0) for digital ones.
void NioSendNumber(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
                   float number);
void NioSendBoolean(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
                    bool boolean);

inline constexpr std::uint16_t kQualityGood = NIO_QUALITY_GOOD;
inline constexpr std::uint16_t kQualityCommFailure = NIO_QUALITY_COMM_FAILURE;
inline constexpr std::uint16_t kQualityOutOfService = NIO_QUALITY_OUT_OF_SERVICE;
inline constexpr std::uint16_t kQualityEguExceeded = NIO_QUALITY_EGU_EXCEEDED;

}  // namespace vrt
