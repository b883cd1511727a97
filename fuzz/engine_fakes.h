// The poll engine's world for the fuzz targets: a card that hands the engine
// the replies a target gives it and checks every frame the engine sends, and
// a host that decodes event replies with the driver's own decoder.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "poll_engine.h"
#include "soe_decoder.h"

namespace vrt::fuzz {

class FuzzCard final : public CardAccess {
 public:
  std::int16_t Send(std::int16_t, std::int16_t length, const std::uint8_t* frame) override {
    // Whatever the image says, a request must be a whole frame that fits the
    // channel's frame area: station, count, command and `count` bytes more.
    // (An event record of a device that is neither an event recorder nor a
    // TORAVINE device is polled with a request of no bytes.)
    VRT_FUZZ_CHECK(length >= 0 && static_cast<std::size_t>(length) <= kFrameAreaSize,
                   "the engine sent a frame longer than its frame area");
    if (length > 0) {
      VRT_FUZZ_CHECK(length >= 3 && static_cast<std::size_t>(frame[1]) + 3 == static_cast<std::size_t>(length),
                     "the engine sent a frame whose count byte does not match its length");
    }
    ++sent;
    return 0;
  }
  std::int16_t Receive(std::int16_t, std::int16_t* length, std::uint8_t* buffer) override {
    if (replies.empty()) return 1;
    const std::vector<std::uint8_t> reply = std::move(replies.front());
    replies.pop_front();
    // TavexDll never hands over more than the 256-byte receive area.
    const std::size_t size = std::min(reply.size(), kFrameAreaSize);
    if (size > 0) std::memcpy(buffer, reply.data(), size);
    *length = static_cast<std::int16_t>(size);
    return 0;
  }
  std::deque<std::vector<std::uint8_t>> replies;
  int sent = 0;
};

class FuzzHost final : public EngineHost {
 public:
  explicit FuzzHost(const DitImage& image, EventLineSink* sink = nullptr) : decoder_(image, *this, sink) {}
  void SleepMilliseconds(unsigned milliseconds) override { ticks += milliseconds; }
  std::uint32_t TickCount() override { return ticks; }
  CivilTime LocalTime() override { return {2024, 5, 1, 8, 0, 0, 0}; }
  ReplyCheck EventReply(int, int pollRecord, const std::uint8_t* frame, std::size_t length) override {
    return decoder_.Decode(pollRecord, frame, length);
  }
  void KickEventWriter() override {}
  std::uint32_t ticks = 1000000;

 private:
  SoeDecoder decoder_;
};

}  // namespace vrt::fuzz
