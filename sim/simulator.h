// The simulated network: the cards, their stations, the faults waiting to
// be injected, the counters and the frame log. Everything here is driven by
// whole frames and text commands; the socket layer (server.h) only carries
// bytes to and from it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "frame_log.h"
#include "network_file.h"
#include "station.h"

namespace vrt::sim {

enum class FaultKind {
  kNoReply,       // the station does not hear the request
  kLostReply,     // the station acts on the request but its reply is lost
  kNak,           // the station refuses the request with the given code
  kWrongStation,  // the reply carries the station number + 1
  kWrongLength,   // the reply loses its last byte (and its count says so)
  kWrongCommand,  // the reply code has bit 7 flipped
  kWrongAddress,  // the address in reply bytes 3-4 is one higher
  kDelay,         // the reply comes the given milliseconds later
  kDrop,          // the connection is closed instead of answering
};

const char* FaultKindName(FaultKind kind);
std::optional<FaultKind> FaultKindFromName(std::string_view name);
// Whether the kind takes an argument (the code for nak, the milliseconds for delay).
bool FaultKindTakesArgument(FaultKind kind);

struct Fault {
  FaultKind kind = FaultKind::kNoReply;
  int station = -1;  // -1: any station of the card
  int argument = 0;
  int remaining = 1;  // requests still to be hit
};

inline constexpr std::size_t kMaxPendingFaults = 1000;
inline constexpr int kMaxFaultDelayMs = 600000;

struct CardCounters {
  std::uint64_t connections = 0;
  std::uint64_t requests = 0;
  std::uint64_t replies = 0;
  std::uint64_t unknownStation = 0;  // requests no station answers
  std::uint64_t faults = 0;          // requests hit by a fault
  std::uint64_t incompleteFrames = 0;
  std::uint64_t bytesIn = 0;
  std::uint64_t bytesOut = 0;
};

struct CardState {
  int card = 0;
  int port = 0;      // the port the card listens on (after binding: the real one)
  int baudRate = 0;  // 0: no wire time
  std::vector<Station> stations;
  std::deque<Fault> faults;
  CardCounters counters;

  Station* FindStation(int number);
};

enum class RequestAction { kReply, kNoReply, kDrop };

struct RequestOutcome {
  RequestAction action = RequestAction::kNoReply;
  std::vector<std::uint8_t> reply;
  std::int64_t delayMs = 0;  // wire time and injected delay
};

// Time a request and its reply take on a serial line: 11 bits a byte (start
// bit, 8 data bits, parity, stop bit), rounded up to whole milliseconds. 0
// without a baud rate.
std::int64_t WireTimeMs(int baudRate, std::size_t requestBytes, std::size_t replyBytes);

class Simulator {
 public:
  Simulator(const NetworkSpec& network, Clock& clock);

  Clock& GetClock() { return clock_; }
  FrameLog& Log() { return log_; }
  int ControlPort() const { return controlPort_; }
  void SetControlPort(int port) { controlPort_ = port; }

  std::vector<CardState>& Cards() { return cards_; }
  CardState* FindCard(int card);

  // One whole frame received on a card's connection.
  RequestOutcome HandleRequest(int card, std::span<const std::uint8_t> frame);

  // The server reports what happened on the connections.
  void ReplySent(int card, std::span<const std::uint8_t> reply);
  void ConnectionOpened(int card);
  void IncompleteFrameDropped(int card, std::size_t bytes);

  // A line in the log about a card: "card N text".
  void Note(int card, const std::string& text);

  bool AddFault(int card, const Fault& fault, std::string* error);

 private:
  std::optional<Fault> TakeFault(CardState& card, int station);

  Clock& clock_;
  FrameLog log_;
  int controlPort_;
  std::vector<CardState> cards_;
};

}  // namespace vrt::sim
