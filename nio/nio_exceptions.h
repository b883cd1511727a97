// Change notification ("exceptions"). A client registers a point under a
// 4-byte key; the point then owns an entry in its poll record's exception
// area, whose changed byte the poll driver sets when the value changes. The
// client collects the keys of changed points with nio_fetch and reads those
// points with nio_read, which clears their changed bytes. Nothing of this
// works until the process switches it on with nio_enable_options.
//
// Key: byte 0 is kept as the entry's key byte, bytes 2-3 as its key word;
// byte 1 is not used. Two keys can never be registered, because the entry
// would not say who owns it: all zeros (a free entry) and key byte 0 with key
// word 0xFFFF (a text point's continuation entry). nio_on refuses them with
// 519 instead of reporting a registration that is not there.
//
// Each point's entry is checked against the size of the record's exception
// area: a register or bit beyond it gives 514 rather than a write outside
// the area. nio_off checks the owner under the data lock, so a registration
// made by another process in between is never cleared.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nio_data.h"

namespace vrt {

inline constexpr std::uint8_t kOptionNotification = NIO_OPTION_NOTIFICATION;
inline constexpr std::size_t kExceptionKeySize = NIO_KEY_SIZE;
inline constexpr std::uint16_t kContinuationWord = 0xFFFF;

// Sets the process's option flags; returns them.
std::uint8_t nio_enable_options(NioProcess& process, std::uint8_t options);

// Registers the point under `key` (kExceptionKeySize bytes); `length` is the
// character count of a text point. Status 520 when registered; 0 with
// notification off or a null key (which also clears the point's
// notification flag); 514, 519, 521 or 522 when refused, with nothing
// registered.
void nio_on(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
            const std::uint8_t* key, int length);

// Unregisters the point when its entry holds exactly `key`; a changed byte
// still set is taken back from the record's pending count. Status 0, or 514,
// 519 or 521 as nio_on.
void nio_off(NioProcess& process, std::uint16_t* status, NioBlock* block, const NioValueSpec* valueSpec,
             const std::uint8_t* key);

// Writes the keys of changed points (kExceptionKeySize bytes each, byte 1
// untouched) into `keys`, at most `maxCount`, and their number into `count`.
// Starts at the process's fetch cursor and leaves it after the last record
// looked at, so that successive calls go round the whole table. Changed
// bytes and pending counts stay as they are (nio_read clears them), except
// that a record whose exception type is Disabled has its pending count
// cleared. Status 0.
void nio_fetch(NioProcess& process, std::uint16_t* status, std::uint8_t* keys, int maxCount, int* count);

// Exception entry index of the point whose register is `registerOffset`
// registers after its record's start, before the bounds check.
unsigned ExceptionEntryIndex(std::uint8_t exceptionType, std::uint16_t dataType, unsigned registerOffset,
                             unsigned bit);

}  // namespace vrt
