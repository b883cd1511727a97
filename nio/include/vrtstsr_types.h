/* The point records and status codes of the NIO client library VRTSTSR.
 *
 * A client names one register (or one bit) of one poll record of the driver
 * image with three records it owns: the address block NioBlock, which points
 * at the NioAddress and the NioDeviceText, and the value description
 * NioValueSpec. The library never allocates them and keeps no list of them.
 * Plain C, so that any client can include it.
 *
 * Pointer fields are real pointers: 32-bit clients see the shipped layout
 * (NioBlock 12 bytes, NioValue 8 bytes); a 64-bit build keeps the same field
 * order with 8-byte pointers. The records without pointers have one layout
 * in every build. */
#ifndef VRTSTSR_TYPES_H
#define VRTSTSR_TYPES_H

#include <stdint.h>

/* Call status words, written through the first argument of the functions. */
#define NIO_OK 0
#define NIO_ENUMERATION_FAILED 100
#define NIO_UNSUPPORTED_KIND 510 /* also: channel index out of range (statistics) */
#define NIO_ADDRESS_ERROR 514
#define NIO_SIGNAL_NAME_REJECTED 516
#define NIO_KIND_MISMATCH 519
#define NIO_REGISTERED 520
#define NIO_EXCEPTIONS_DISABLED 521
#define NIO_ENTRY_OWNED 522

/* Value status words, carried beside a value in NioValue. */
#define NIO_VALUE_GOOD 0
#define NIO_VALUE_OUT_OF_RANGE 4292
#define NIO_VALUE_COMM_FAILURE 4293
#define NIO_VALUE_NOT_POLLED 4297
#define NIO_VALUE_INVALID_FLOAT 2185

/* Value kinds of a NioValueSpec. */
#define NIO_KIND_ANALOG 1
#define NIO_KIND_DIGITAL 2
#define NIO_KIND_TEXT 3
#define NIO_KIND_FROM_ADDRESS 5 /* nio_paddr only: analog, or digital when a bit follows */

/* Tags of a NioValue delivered by a read. */
#define NIO_TAG_TEXT 0
#define NIO_TAG_FLOAT 3
#define NIO_TAG_BOOLEAN 4

/* OPC-style qualities of nio_readEx. */
#define NIO_QUALITY_GOOD 192
#define NIO_QUALITY_COMM_FAILURE 24
#define NIO_QUALITY_OUT_OF_SERVICE 28
#define NIO_QUALITY_EGU_EXCEEDED 84

/* Longest address text and device name accepted (characters, without the
 * terminating zero); longer ones give NIO_ADDRESS_ERROR. */
#define NIO_MAX_ADDRESS_TEXT 111
#define NIO_MAX_DEVICE_NAME 31

/* Room the fixed-size outputs need, terminating zero included. */
#define NIO_SIGNAL_NAME_SIZE 5     /* nio_dsig */
#define NIO_OPTION_TEXT_SIZE 24    /* nio_dopt */
#define NIO_SERVER_TEXT_SIZE 512   /* nio_get_ServerStatus */
#define NIO_STATISTICS_SIZE 40     /* nio_read_stats */
#define NIO_ENUMERATION_SLOT 128   /* one text of an enumeration list */
#define NIO_KEY_SIZE 4             /* one change notification key */

/* nio_enable_options: bit 0 switches change notification on. */
#define NIO_OPTION_NOTIFICATION 0x01

#pragma pack(push, 1)

typedef struct NioAddress {
  /* Bits 0-15 poll record index, 16-17 generation tag, 18 resolved mark,
   * 19-23 channel, 24-31 device number within the channel (255 undefined).
   * 0: never resolved. */
  uint32_t resolution;
  /* Bits 0-10 register, 11-14 bit, 15-19 poll kind (0 DIT, 1 EVENT);
   * bits 20-31 belong to the client. */
  uint32_t registerWord;
  int16_t elementOffset; /* added to the register (analog) or bit (digital) */
  uint16_t optionWord;
  uint16_t reserved12;
  int16_t signalConditioning;
} NioAddress;

typedef struct NioDeviceText {
  char deviceName[32];
  uint16_t notificationFlag; /* 1 while registered for change notification */
  uint16_t optionHigh;       /* span for codes 15 and 16, mask for 17 */
  int16_t optionLow;         /* low raw value for 15 and 16, shift count for 17 */
  uint16_t reserved38;
} NioDeviceText;

typedef struct NioBlock {
  uint32_t reserved0;
  NioAddress* address;
  NioDeviceText* deviceText;
} NioBlock;

typedef struct NioValueSpec {
  uint8_t valueKind;
  uint8_t reserved1;
  float eguSpan; /* engineering units high minus low */
  float eguLow;
  uint8_t decimals; /* kept by code 8 (LIN) */
} NioValueSpec;

typedef struct NioValue {
  uint8_t tag;
  uint8_t length; /* in: capacity (reads) or value length (writes); out: bytes delivered */
  uint16_t valueStatus;
  void* value;
} NioValue;

#pragma pack(pop)

#endif
