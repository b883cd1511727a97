// Channel statistics, the server status, the message entry point and the
// toolkit entry points that have no work to do in this driver.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nio_data.h"

namespace vrt {

// The first bytes of a channel record: active port, reserved byte and the
// counters.
inline constexpr std::size_t kChannelStatisticsSize = NIO_STATISTICS_SIZE;
inline constexpr const char* kServerIdentification = "Harnix Tavex V6.9.10";
// Longest text nio_get_ServerStatus writes, without the terminating zero.
inline constexpr std::size_t kServerTextMax = NIO_SERVER_TEXT_SIZE - 1;

// Copies channel `channelIndex`'s statistics block into `block` (40 bytes)
// and its active port, sign-extended, into `activePort`; either may be null.
// Status 0, or 510 for a channel index outside the image.
void nio_read_stats(NioProcess& process, std::uint16_t* status, int channelIndex, std::int16_t* activePort,
                    std::uint8_t* block);

// Zeroes the 38 counter bytes of a channel with a port. Status 0, or 510 for
// a channel index outside the image or a channel without a port.
void nio_reset_stats(NioProcess& process, std::uint16_t* status, int channelIndex);

// Writes the server identification into `text` (room for kServerTextMax
// characters and the zero) and, when the image header is there, 1 into
// `alive` when the driver's cycle counter moved since the process's previous
// call, else 0 (without an image `alive` is left as it was). Either may be
// null. Returns 1.
int nio_get_ServerStatus(NioProcess& process, char* text, std::int32_t* alive);

// Puts `text` behind the "NIO-" prefix into the driver's message ring (cut
// to the ring's slot length). A null text, or no control block, sends
// nothing.
void nio_SendMsg(NioProcess& process, int attribute, const char* text);

// Entry points kept callable for clients written against the toolkit; in
// this driver they set the status to 0 (where they have one) and do nothing
// else.
void nio_tick();
void nio_tick_enable(std::uint16_t* status);
void nio_tick_disable(std::uint16_t* status);
void nio_getsub(std::uint16_t* status);
void nio_reset(std::uint16_t* status);
void nio_CleanUp(std::uint16_t* status);
void nio_reload_dit();

}  // namespace vrt
