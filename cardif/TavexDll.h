// TavexDll: the poll driver's six calls to the Tavex interface cards.
// Plain C exports (cdecl), 16-bit values passed as such.
#pragma once

#include <cstdint>

extern "C" {

// Creates the card server and returns the number of cards (0 on failure,
// after one message box with caption "M5820A").
std::int32_t InitTavexInterface(void);
// Opens card 0..3; returns its handle, or 0.
std::int32_t InitTavexCard(std::int16_t cardNumber);
// Sends a frame: 0 sent, 1 no card server or the send failed, 2 the card
// reported a non-zero status.
std::int16_t TavexSend(std::int16_t cardNumber, std::int16_t length, const std::uint8_t* frame);
// Takes one received frame into `buffer` (256 bytes): 0 copied (length set
// to count + 3), 1 no server or nothing waiting, 3 array missing or too
// short, 4 array shorter than its count or too long for the buffer, 5 the
// receive call failed, other values the card's status. The length is 0 on
// every failure but "no server".
std::int16_t TavexReceive(std::int16_t cardNumber, std::int16_t* length, std::uint8_t* buffer);
void CloseTavexCard(std::int16_t cardNumber);
void ReleaseTavexInterface(void);
}
