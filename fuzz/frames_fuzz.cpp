// The driver's checks of a reply from the network, for each kind of request:
// read words (data replies) and the event and TORAVINE requests (event
// replies). A reply the checks pass must really hold what the engine then
// reads from it.
//
// Input: station, command, start address (2 bytes), value area size
// (2 bytes), then the reply's bytes.
#include <vector>

#include "frames.h"
#include "fuzz_check.h"

namespace {

using namespace vrt;
using vrt::fuzz::TouchBytes;

void CheckData(const std::uint8_t* frame, std::size_t length, std::uint8_t station, std::uint16_t start,
               std::uint16_t valueSize) {
  const ReplyCheck check = CheckDataReply(frame, length, station, kCommandReadWords, start, valueSize);
  if (check == ReplyCheck::kNegative) {
    VRT_FUZZ_CHECK(length >= 3 && frame[0] == station && frame[2] >= 30 && frame[2] <= 40,
                   "a reply taken for a negative acknowledgement is none");
    return;
  }
  if (check != ReplyCheck::kGood) return;
  VRT_FUZZ_CHECK(length >= 6 && frame[0] == station && frame[2] == kCommandReadWords + 1,
                 "a data reply passed without its header");
  VRT_FUZZ_CHECK((((frame[3] & 0x07) << 8) | frame[4]) == (start & 0x7FF), "a data reply for another address passed");
  VRT_FUZZ_CHECK(valueSize <= 2 * frame[5] && valueSize + 3 <= frame[1], "a data reply passed with too few words");
  // The engine stores the value area's size in bytes from byte 6 on.
  VRT_FUZZ_CHECK(6 + static_cast<std::size_t>(valueSize) <= length, "a data reply passed without its data");
  VRT_FUZZ_CHECK(6 + static_cast<std::size_t>(valueSize) <= kFrameAreaSize, "a data reply overruns the frame area");
  TouchBytes(frame + 6, valueSize);
}

void CheckEvent(const std::uint8_t* frame, std::size_t length, std::uint8_t station, std::uint8_t command,
                std::uint16_t valueSize) {
  bool tooSmall = true;
  const ReplyCheck check = CheckEventReply(frame, length, station, command, valueSize, &tooSmall);
  VRT_FUZZ_CHECK(tooSmall == (valueSize < kMinimumEventRecordBytes), "the event record's size was judged wrongly");
  if (check != ReplyCheck::kGood || tooSmall) return;
  // The decoder reads the 15 bytes of an event reply.
  VRT_FUZZ_CHECK(length >= kEventReplyLength && frame[0] == station && frame[2] == command &&
                     frame[1] == kEventReplyLength - 3,
                 "an event reply passed without its 15 bytes");
  TouchBytes(frame, kEventReplyLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const std::uint8_t station = input.Byte();
  const std::uint8_t command = input.Byte();
  const std::uint16_t start = input.Word();
  const std::uint16_t valueSize = input.Word();
  // Exactly the reply's bytes, as long as the card said (at most the
  // driver's receive area): anything read beyond is seen, even of an empty
  // reply.
  const std::vector<std::uint8_t> rest = input.Rest();
  const std::size_t length = std::min(rest.size(), kFrameAreaSize);
  const auto frame = fuzz::ExactCopy(rest.data(), length);
  const std::uint8_t* bytes = frame.get();

  CheckData(bytes, length, station, start, valueSize);
  for (std::uint8_t eventCommand :
       {static_cast<std::uint8_t>(kCommandEvent), static_cast<std::uint8_t>(kCommandToravine), command}) {
    CheckEvent(bytes, length, station, eventCommand, valueSize);
  }
  return 0;
}
