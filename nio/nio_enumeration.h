// Enumeration of the image's devices and of one device's poll records, as
// the OPC server builds its browse tree from them.
//
// A list is an array of kEnumerationSlot-byte slots, each holding one
// zero-terminated text, allocated zero-filled from the process's list heap.
// The process remembers only the list it returned last; nio_Free releases
// that one and leaves every other pointer alone, so a client that frees an
// older list (or a list twice) never frees memory it does not own.
//
// A list is remembered only once it is complete: an enumeration that fails
// half-way releases its allocation and keeps the previous last list, which
// therefore stays freeable, instead of leaving a released block behind as
// the one nio_Free would release again.
//
// None of these functions serialises callers: the last-list memory belongs
// to the process, so a client that enumerates from several threads
// serialises the calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nio_data.h"

namespace vrt {

inline constexpr std::size_t kEnumerationSlot = NIO_ENUMERATION_SLOT;

// Device names in global order: status 0, or 100 for a null argument, a
// device missing from the image or a list that cannot be allocated (then
// count 0 and list null). Without an image the count is 0 and the list null.
// The count is the device count cached at attach; no attach is attempted.
void nio_Enum_Devices(NioProcess& process, std::uint16_t* status, std::uint32_t* count, char** list);

// One text per poll record of the named device, "DIT:%u - %u" or
// "EVENT:%u - %u" with its start address and the address after its last
// register. Status 0, or 100 (count 0, list null) for a null argument, an
// unknown device, a missing record or a list that cannot be allocated. A
// device without poll records gives status 0, count 0 and a null list.
void nio_Enum_PollRecs(NioProcess& process, std::uint16_t* status, const char* deviceName, std::uint32_t* count,
                       char** list);

// Releases `list` when it is the process's last list; anything else is left
// alone.
void nio_Free(NioProcess& process, char* list);

// The poll record count cached at attach (0 before the first attach).
int nio_num_pollblocks(NioProcess& process);

// The text of one poll record's slot (at most kEnumerationSlot bytes with
// the terminating zero).
void DescribePollRecord(const DitPollRecord& record, char (&slot)[kEnumerationSlot]);

}  // namespace vrt
