// Frames as the card server's arrays: the card library's copy of a received
// array into the driver's 256-byte buffer (the array comes from another
// component and may say anything), the server's reading of a sent array,
// and the round trips of frames through both.
//
// Input: a handle byte, then bytes taken both as the elements of an array
// (4 bytes each, little-endian) and as a frame.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "tavex_array.h"

namespace {

using namespace vrt;

// The driver's receive buffer: exactly 256 bytes.
struct Received {
  std::int16_t result;
  std::uint16_t length;
  std::vector<std::uint8_t> bytes;
};

Received Copy(const std::vector<std::int32_t>& elements) {
  const auto copy = elements.empty() ? std::unique_ptr<std::int32_t[]>(new std::int32_t[0])
                                     : std::unique_ptr<std::int32_t[]>(new std::int32_t[elements.size()]);
  std::copy(elements.begin(), elements.end(), copy.get());
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kFrameBufferSize]);
  std::memset(buffer.get(), 0xEE, kFrameBufferSize);
  std::uint16_t length = 0xDDDD;
  const std::int16_t result =
      CopyReceiveArray(copy.get(), static_cast<long>(elements.size()) - 1, buffer.get(), &length);
  Received received{result, length, std::vector<std::uint8_t>(buffer.get(), buffer.get() + kFrameBufferSize)};
  if (result != kReceiveOk) {
    VRT_FUZZ_CHECK(length == 0, "a refused array left a length");
    return received;
  }
  const std::uint8_t count = static_cast<std::uint8_t>(elements[5] & 0xFF);
  VRT_FUZZ_CHECK(length == count + 3u && length <= kFrameBufferSize, "a copied frame has the wrong length");
  VRT_FUZZ_CHECK(received.bytes[0] == static_cast<std::uint8_t>(elements[3] & 0xFF) && received.bytes[1] == count,
                 "a copied frame lost its station or count");
  for (std::size_t i = 2; i < length; ++i) {
    VRT_FUZZ_CHECK(received.bytes[i] == static_cast<std::uint8_t>(elements[i + 5] & 0xFF),
                   "a copied frame lost a byte");
  }
  return received;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const auto handle = static_cast<std::int32_t>(input.Byte());
  const std::vector<std::uint8_t> rest = input.Rest();

  std::vector<std::int32_t> elements(rest.size() / 4);
  for (std::size_t i = 0; i < elements.size(); ++i) std::memcpy(&elements[i], rest.data() + 4 * i, 4);

  // An array handed to the card library as received.
  const Received received = Copy(elements);
  if (received.result == kReceiveOk) {
    // What it copied, as the server would send it again, copies the same.
    const std::vector<std::int32_t> again = ReceiveArrayFor(received.bytes.data(), received.length);
    const Received second = Copy(again);
    VRT_FUZZ_CHECK(second.result == kReceiveOk && second.length == received.length &&
                       std::equal(received.bytes.begin(), received.bytes.begin() + received.length,
                                  second.bytes.begin()),
                   "a received frame does not survive the round trip");
  }

  // An array handed to the server as sent.
  const std::vector<std::int32_t> exact(elements);
  const std::vector<std::uint8_t> carried = FrameOfSendArray(exact.data(), exact.size());
  VRT_FUZZ_CHECK(carried.size() == (exact.size() < 7 ? 0 : exact.size() - 5), "a sent array gave the wrong frame");

  // The bytes as a frame, both ways.
  const auto frame = fuzz::ExactCopy(rest.data(), rest.size());
  if (rest.size() >= 2) {
    const std::vector<std::int32_t> send = SendArrayFor(frame.get(), rest.size(), handle);
    VRT_FUZZ_CHECK(send.size() == rest.size() + 5 && send[3] == handle, "a send array has the wrong shape");
    VRT_FUZZ_CHECK(FrameOfSendArray(send.data(), send.size()) == rest, "a sent frame does not survive the round trip");
  }
  const std::vector<std::int32_t> receive = ReceiveArrayFor(frame.get(), rest.size());
  const Received copied = Copy(receive);
  const std::size_t declared = rest.size() >= 2 ? rest[1] + 3u : 0;
  if (rest.size() >= 2 && declared <= rest.size() && rest.size() <= kFrameBufferSize) {
    VRT_FUZZ_CHECK(copied.result == kReceiveOk && copied.length == declared &&
                       std::equal(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(declared),
                                  copied.bytes.begin()),
                   "a frame that fits was not handed over whole");
  }
  return 0;
}
