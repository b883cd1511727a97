// The byte stream of a card's TCP connection cut into frames, by the card
// server (which skips frames its clients could not take) and by the
// simulator's stations; both must cut the same stream the same way. And the
// card server's "host:port" endpoints from the registry.
//
// Input: the endpoint text (first line), then pieces of the stream as they
// arrive, each a length byte and that many bytes; the length 255 stands for
// a lost connection (both forget a partial frame).
#include <cctype>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frame_assembler.h"
#include "fuzz_check.h"
#include "protocol.h"

namespace {

using Frame = std::vector<std::uint8_t>;

void CheckEndpoint(const std::string& text) {
  vrt::Endpoint endpoint;
  if (!vrt::ParseEndpoint(text, &endpoint)) return;
  VRT_FUZZ_CHECK(!endpoint.host.empty() && endpoint.port != 0, "an endpoint without host or port was accepted");
  for (char c : endpoint.host) {
    VRT_FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-',
                   "an endpoint's host holds a character a name cannot");
  }
  vrt::Endpoint again;
  VRT_FUZZ_CHECK(vrt::ParseEndpoint(endpoint.host + ":" + std::to_string(endpoint.port), &again) &&
                     again.host == endpoint.host && again.port == endpoint.port,
                 "an endpoint does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vrt::fuzz::InputReader input(data, size);
  CheckEndpoint(input.Line());

  vrt::FrameAssembler server;
  vrt::sim::FrameAssembler station;
  std::vector<Frame> serverFrames;
  std::vector<Frame> stationFrames;
  while (!input.Empty()) {
    const std::uint8_t length = input.Byte();
    if (length == 255) {
      server.Reset();
      station.Discard();
      continue;
    }
    const std::vector<std::uint8_t> piece = input.Bytes(length);
    const auto exact = vrt::fuzz::ExactCopy(piece.data(), piece.size());
    server.Append(exact.get(), piece.size());
    while (std::optional<Frame> frame = server.Next()) serverFrames.push_back(std::move(*frame));
    station.Add(std::span<const std::uint8_t>(exact.get(), piece.size()), &stationFrames);
  }

  std::size_t taken = 0;
  std::uint32_t skipped = 0;
  for (const Frame& frame : stationFrames) {
    VRT_FUZZ_CHECK(frame.size() >= 3 && frame.size() == frame[1] + 3u, "a frame was cut at the wrong place");
    if (frame.size() > vrt::FrameAssembler::kMaxFrame) {
      ++skipped;
      continue;
    }
    VRT_FUZZ_CHECK(taken < serverFrames.size() && serverFrames[taken] == frame,
                   "the card server and the stations cut the stream differently");
    ++taken;
  }
  VRT_FUZZ_CHECK(taken == serverFrames.size(), "the card server found frames the stations did not");
  VRT_FUZZ_CHECK(skipped == server.Discarded(), "the card server skipped other frames than the long ones");
  return 0;
}
