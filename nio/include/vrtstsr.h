/* VRTSTSR: the NIO client library. A program that loads it reads and writes
 * the points of the running poll driver's image, registers points for change
 * notification, enumerates devices and poll records, and reads the channel
 * statistics and the server status.
 *
 * Loading the library attaches to the driver image; when no driver runs
 * yet, it starts the one registered under DriverExe and waits for it.
 *
 * Calling convention: the C default (cdecl); every export carries its
 * undecorated name. Status words are 16-bit and go through the first
 * argument; a null status pointer drops the status.
 *
 * Calling order: optionally nio_get_ServerStatus; nio_Enum_Devices and
 * nio_Enum_PollRecs, each list released with nio_Free; per point nio_paddr,
 * then nio_psig and nio_popt for analog points; nio_readEx / nio_sendEx (or
 * nio_read / nio_send) as often as needed; nio_CleanUp before unloading.
 *
 * Results this library chose where the driver's rules leave them open:
 * - A square-root conversion whose argument is negative (code 16 below the
 *   option low, code 21 "4maS" below 4 mA), and codes 15 and 16 with an
 *   option span of 0, read as the EGU low with value status 4292 (quality 84
 *   through nio_readEx).
 * - An EGU span of 0 under a scaled code (3 to 8, 15, 16, 20 to 22) would
 *   divide by zero: such a write is refused with status 519 and nothing is
 *   written. Not-a-number and infinite values are refused the same way.
 * - Writes below or above the EGU range write the bottom or top of the
 *   code's raw range; they never wrap round to the other end.
 * - nio_sendEx refuses a VARIANT that cannot be converted to the point's
 *   type (VariantChangeType fails) with status 519 and writes nothing.
 * - nio_readEx clears the VARIANT it is given (VariantClear) before storing
 *   the value, so it must hold a valid VARIANT (VariantInit at least).
 * - nio_on refuses the keys that cannot mark an owner (all zeros, and key
 *   byte 0 with key word 0xFFFF) with status 519. */
#ifndef VRTSTSR_H
#define VRTSTSR_H

#include "vrtstsr_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct _FILETIME;
struct tagVARIANT;

#if defined(_WIN32) && !defined(VRTSTSR_BUILDING)
#define NIOAPI __declspec(dllimport)
#else
#define NIOAPI
#endif

/* Addressing. */
/* Parses an address such as "PUMP1:DIT:120" or "PUMP1:DIT:120:7" (device,
 * DIT or EVENT, register, and for digital points the bit). Status 0 or 514;
 * an empty text marks the address undefined with status 0. */
NIOAPI void nio_paddr(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const char* text);
/* The address as text, at most `capacity` bytes with the terminating zero. */
NIOAPI void nio_daddr(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, char* text, int capacity);
/* Signal conditioning by name ("NONE", "LIN", "3BCD", "4BCD", "12BN", "12AL",
 * "15BN", "15AL", "4maL", "4maS", "16SQ"; any other text: raw). Status 0 or 516. */
NIOAPI void nio_psig(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const char* name);
/* The name of the point's signal conditioning ("*?*" for none), into
 * NIO_SIGNAL_NAME_SIZE bytes. */
NIOAPI void nio_dsig(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, char* text);
/* Hardware options "low:high" (codes 15 and 16) or "shift:mask" (code 17). */
NIOAPI void nio_popt(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const char* text);
/* The hardware options as text, into NIO_OPTION_TEXT_SIZE bytes. */
NIOAPI void nio_dopt(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, char* text);
/* 1 when a device of that name is in the image, else 0. */
NIOAPI int nio_find_dev(const char* name);

/* Reads and writes. */
NIOAPI void nio_read(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, NioValue* value);
NIOAPI void nio_send(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, NioValue* value);
/* Reads as a VARIANT (VT_R4 analog, VT_BOOL digital; text points leave it
 * as it is) with an OPC quality: 192 good, else the caller's high byte and
 * limit bits kept plus 24 (communication failure), 28 (not polled), 84 (out
 * of range) or 0. `timeStamp` receives the time stamp of the process's last
 * digital read of a record with time stamps. */
NIOAPI void nio_readEx(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, struct _FILETIME* timeStamp,
                       uint16_t* quality, uint16_t stringLength, struct tagVARIANT* value);
/* Writes a VARIANT, converted to a float (analog) or a boolean (digital);
 * other value kinds give 510. `quality` and `stringLength` are not read. */
NIOAPI void nio_sendEx(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, uint16_t quality,
                       uint16_t stringLength, struct tagVARIANT* value);

/* Change notification. */
NIOAPI uint8_t nio_enable_options(void* reserved, uint8_t options);
/* Registers the point under a NIO_KEY_SIZE-byte key (`length`: characters
 * of a text point). Status 520 registered; 0 with notification off; 514,
 * 519, 521 or 522 refused. */
NIOAPI void nio_on(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const uint8_t* key, int length);
NIOAPI void nio_off(uint16_t* status, NioBlock* block, NioValueSpec* valueSpec, const uint8_t* key);
/* Keys of changed points into `keys` (NIO_KEY_SIZE bytes each), at most
 * `maxCount`; reading a point with nio_read clears its change. */
NIOAPI void nio_fetch(uint16_t* status, void* reserved, uint8_t* keys, int maxCount, int* count);

/* Enumeration: arrays of NIO_ENUMERATION_SLOT-byte texts; release the list
 * returned last with nio_Free. Status 0 or 100. */
NIOAPI void nio_Enum_Devices(uint16_t* status, uint32_t* count, char** list);
NIOAPI void nio_Enum_PollRecs(uint16_t* status, const char* deviceName, uint32_t* count, char** list);
NIOAPI void nio_Free(char* list);
NIOAPI int nio_num_pollblocks(void);

/* Statistics and status. */
/* The channel's NIO_STATISTICS_SIZE-byte statistics block and its active
 * port. Status 0, or 510 for a channel index outside the image. */
NIOAPI void nio_read_stats(uint16_t* status, void* reserved, int channelIndex, int16_t* activePort,
                           uint8_t* statistics);
NIOAPI void nio_reset_stats(uint16_t* status, void* reserved, int channelIndex);
/* "Harnix Tavex V6.9.10" into `text` (NIO_SERVER_TEXT_SIZE bytes) and, with
 * an image, 1 into `alive` when the driver's cycle counter moved since the
 * process's previous call, else 0. Either may be null. Returns 1. */
NIOAPI int nio_get_ServerStatus(char* text, int32_t* alive);
/* Puts the text, behind "NIO-", into the driver's message ring. */
NIOAPI void nio_SendMsg(int attribute, const char* text);

/* Toolkit entry points without work in this driver. */
NIOAPI void nio_tick(void);
NIOAPI void nio_tick_enable(uint16_t* status);
NIOAPI void nio_tick_disable(uint16_t* status);
NIOAPI void nio_getsub(uint16_t* status);
NIOAPI void nio_reset(uint16_t* status);
NIOAPI void nio_CleanUp(uint16_t* status);
NIOAPI void nio_reload_dit(void);

#ifdef __cplusplus
}
#endif

#endif
