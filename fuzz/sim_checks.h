// Shared by the simulator's fuzz targets: the shape every control answer
// must have, and a round of requests to every station whose replies must be
// frames the driver can take.
#pragma once

#include <string>
#include <vector>

#include "control.h"
#include "fuzz_check.h"
#include "protocol.h"
#include "simulator.h"

namespace vrt::fuzz {

// Lines ending in "OK", or a single "ERR reason" line.
inline void CheckAnswer(const sim::ControlResult& result) {
  const std::string& text = result.text;
  VRT_FUZZ_CHECK(!text.empty() && text.back() == '\n', "a control answer does not end its last line");
  if (text.compare(0, 4, "ERR ") == 0) {
    VRT_FUZZ_CHECK(text.find('\n') == text.size() - 1, "an error answer of more than one line");
    VRT_FUZZ_CHECK(!result.close && !result.shutdown, "a refused command closes or stops");
    return;
  }
  VRT_FUZZ_CHECK(text.size() >= 3 && text.compare(text.size() - 3, 3, "OK\n") == 0,
                 "a control answer ends neither in OK nor in ERR");
}

inline void CheckOutcome(const sim::RequestOutcome& outcome) {
  VRT_FUZZ_CHECK(outcome.delayMs >= 0, "a reply scheduled in the past");
  if (outcome.action != sim::RequestAction::kReply) {
    VRT_FUZZ_CHECK(outcome.reply.empty(), "a reply was built for a request that gets none");
    return;
  }
  const std::vector<std::uint8_t>& reply = outcome.reply;
  VRT_FUZZ_CHECK(reply.size() >= sim::kFrameHeaderSize && reply.size() == reply[1] + sim::kFrameHeaderSize,
                 "a station replied with something that is not a frame");
  VRT_FUZZ_CHECK(reply.size() <= sim::kMaxReplySize, "a station replied with more than the driver's area takes");
}

// Every kind of request, well-formed and not, to every station of every card.
inline void ExerciseStations(sim::Simulator& simulator, std::uint8_t seed) {
  for (sim::CardState& card : simulator.Cards()) {
    std::vector<int> numbers;
    for (const sim::Station& station : card.stations) numbers.push_back(station.Number());
    numbers.push_back((seed * 37) & 0xFF);
    for (int number : numbers) {
      const auto s = static_cast<std::uint8_t>(number);
      const std::vector<std::vector<std::uint8_t>> requests = {
          {s, 3, 0x64, 0x00, 0x00, 2},
          {s, 3, 0x64, 0x07, 0xFF, 125},
          {s, 3, 0x64, seed, static_cast<std::uint8_t>(seed * 3), static_cast<std::uint8_t>(seed)},
          {s, 5, 0x66, 0x00, 0x01, 1, 0x12, seed},
          {s, 2, 0x0F, 0x11, seed},
          {s, 2, 0x0F, 0x13, 0},
          {s, 7, 0x0F, 0x0A, 14, 5, 9, 3, 7, seed},
          {s, 4, 0x56, 0x63, seed, 0x58, 0},
          {s, 0, static_cast<std::uint8_t>(seed ^ 0x99)},
      };
      for (const std::vector<std::uint8_t>& request : requests) {
        const sim::RequestOutcome outcome = simulator.HandleRequest(card.card, request);
        CheckOutcome(outcome);
        if (outcome.action == sim::RequestAction::kReply) simulator.ReplySent(card.card, outcome.reply);
      }
    }
  }
}

}  // namespace vrt::fuzz
