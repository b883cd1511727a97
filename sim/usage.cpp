#include "usage.h"

#include "control.h"

namespace vrt::sim {

namespace {

const char* const kUsageHead = R"(tavexsim - Tavex network station simulator

Plays the stations of a Tavex network for the VRT poll driver: each card of
the network file is a TCP port on 127.0.0.1 where frames travel exactly as
the driver builds them (station, count, command, `count` further bytes;
count + 3 bytes in all), in both directions, with no other framing. Stations
answer read words (0x64, reply 0x65 with the address and the words), write
words and masked writes (0x66, reply 0x67 with the address and word count),
the event request (0x0F 0x11: next event; 0x0F 0x13: the same event again;
an empty queue gives event word 0), the time sync (0x0F 0x0A, sets the
recorder's clock, reply 0x0F 0x0A) and the TORAVINE request (0x56).

USAGE
  tavexsim [OPTIONS] NETWORK.json

OPTIONS
  --control PORT   control port (overrides "control_port"; 0: any free port)
  --free-ports     every card and the control port (unless --control
                   names it) on a free port the system picks, whatever the
                   file says; the start lines tell which
  --log FILE       also append every log line to FILE
  --quiet          do not print log lines on the console
  --check          read and check the network file, describe it, and exit
  --help           this text

  On start the simulator prints one line per listening port and then
  "ready". Exit status: 0 after "shutdown", 1 when a port cannot be opened,
  2 for a bad command line or network file.

NETWORK FILE (strict JSON; "comment" members are allowed everywhere)
  {
    "control_port": 5819,                 optional, default 5819
    "cards": [
      { "card": 0,                        0 to 3
        "port": 5820,                     optional, default 5820 + card; 0: any
        "baud": 19200,                    optional wire-time model, 0: off
        "stations": [
          { "station": 1,                 0 to 255, once per card
            "type": "ZOLT",               EVR420, EVR410, PRISMOTE, ZOLT,
                                          SELMARO, TORAVINE, or a code number
            "registers": { "0": [10, 20, 30], "0x40": 65535 },
                                          start address (0-2047, decimal or
                                          0x hex): a value or consecutive
                                          values, -32768 to 65535; others 0
            "clock": "2024-05-01 08:00:00",
                                          EVR420/TORAVINE: clock at start
                                          (default: the computer's local time)
            "events": [                   EVR420/TORAVINE: the queue at start
              { "code": 33, "state": 1, "time": "2024-05-01 07:59:58.250" },
              { "code": 34, "state": 0, "time": "now" },
              { "code": 35, "state": 1, "raw_time": [2003, 1, 1, 0, 0, 0, 1000] }
            ] } ] } ] }

  Event codes are 1 to 32767: 1-4096 are inputs (code c is bit (c-1) mod 16
  of register (c-1)/16 + 32, and queuing it sets or clears that bit), higher
  codes are recorder status reports. State 1: the input went to 1. "time" is
  "now" (the station's clock when queued; the default) or a real date and
  time; "raw_time" sends its fields as given, even out of range (year
  2000-2155), to see how the driver takes a bad stamp.

REPLIES
  data reply      station, 2n+3, 0x65, address high, address low, n, n words
                  (high byte first); at most 125 words a read
  write reply     station, 3, 0x67, address high, address low, n
  event reply     station, 12, command, byte 3, events still queued, year
                  (0-99 for 2000-2099), month, day, hour, minute, second,
                  milliseconds (high, low), event word (high, low): bits 0-14
                  the code, bit 15 set when the input went to 0. Byte 3 is
                  the sub-command (0x11/0x13) or the TORAVINE sequence
                  number; a TORAVINE request repeating the last sequence
                  number is a retry and gets the same event again. With no
                  event the time fields show the station's clock.
  time sync reply station, 1, 0x0F, 0x0A
  negative acknowledgement
                  station, 1, code, command: 30 command not served by this
                  station, 31 registers outside 0-2047, 32 count does not fit
                  the command, 33 bad data (a time sync naming no real time)
  A frame for a station the card does not have gets no reply. A partial
  frame is dropped after 500 ms without a byte.

WIRE TIME
  With a baud rate a reply leaves (request bytes + reply bytes) x 11 bits /
  baud after the request arrived (start bit, 8 data bits, parity, stop bit),
  rounded up to whole milliseconds, and never before the card's previous
  reply: the line carries one frame at a time.

CONTROL PORT
  Line-based TCP on 127.0.0.1 (try: nc 127.0.0.1 5819). Each command is
  answered by its lines and then "OK", or by one line "ERR <reason>".
  Numbers are decimal or 0x hexadecimal.

)";

const char* const kUsageTail = R"(
  Faults hit the next COUNT requests to that station (or to any station of
  the card with *), one fault per request, in the order given:
    noreply      the station does not hear the request
    lostreply    the station acts on it but the reply is lost
    nak CODE     the station refuses it with reply code CODE (the driver
                 takes 30-40 as negative acknowledgements, others as bad)
    wrongstation the reply carries station + 1
    wronglength  the reply is one byte short (and its count says so)
    wrongcommand the reply code has bit 7 flipped
    wrongaddress the address in reply bytes 3-4 is one higher
    delay MS     the reply comes MS milliseconds later
    drop         the connection is closed instead of answering

LOG
  Every frame in (rx) and out (tx) and every fault, clock change and
  connection is logged with the local time to the millisecond, e.g.
    2024-05-01 08:00:00.125 card 0 rx 01 03 64 00 00 02
    2024-05-01 08:00:00.126 card 0 tx 01 07 65 00 00 02 00 0A 00 14
)";

}  // namespace

std::string UsageText() { return std::string(kUsageHead) + kControlHelp + kUsageTail; }

}  // namespace vrt::sim
