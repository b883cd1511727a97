#include "simulator.h"

namespace vrt::sim {

namespace {

struct FaultName {
  FaultKind kind;
  const char* name;
};
constexpr FaultName kFaultNames[] = {
    {FaultKind::kNoReply, "noreply"},         {FaultKind::kLostReply, "lostreply"},
    {FaultKind::kNak, "nak"},                 {FaultKind::kWrongStation, "wrongstation"},
    {FaultKind::kWrongLength, "wronglength"}, {FaultKind::kWrongCommand, "wrongcommand"},
    {FaultKind::kWrongAddress, "wrongaddress"}, {FaultKind::kDelay, "delay"},
    {FaultKind::kDrop, "drop"},
};

}  // namespace

const char* FaultKindName(FaultKind kind) {
  for (const FaultName& entry : kFaultNames) {
    if (entry.kind == kind) return entry.name;
  }
  return "?";
}

std::optional<FaultKind> FaultKindFromName(std::string_view name) {
  for (const FaultName& entry : kFaultNames) {
    if (name == entry.name) return entry.kind;
  }
  return std::nullopt;
}

bool FaultKindTakesArgument(FaultKind kind) { return kind == FaultKind::kNak || kind == FaultKind::kDelay; }

Station* CardState::FindStation(int number) {
  for (Station& station : stations) {
    if (station.Number() == number) return &station;
  }
  return nullptr;
}

std::int64_t WireTimeMs(int baudRate, std::size_t requestBytes, std::size_t replyBytes) {
  if (baudRate <= 0) return 0;
  const std::int64_t bits = static_cast<std::int64_t>(requestBytes + replyBytes) * 11;
  return (bits * 1000 + baudRate - 1) / baudRate;
}

Simulator::Simulator(const NetworkSpec& network, Clock& clock) : clock_(clock), controlPort_(network.controlPort) {
  const std::int64_t now = clock_.LocalMs();
  for (const CardSpec& cardSpec : network.cards) {
    CardState card;
    card.card = cardSpec.card;
    card.port = cardSpec.port;
    card.baudRate = cardSpec.baudRate;
    for (const StationSpec& planned : cardSpec.stations) {
      Station station(static_cast<std::uint8_t>(planned.number), static_cast<std::uint16_t>(planned.hardwareType));
      for (const auto& [address, value] : planned.registers) station.SetRegister(address, value);
      for (const MovingRegister& moving : planned.moving) station.AddMoving(moving);
      if (planned.clock) station.SetClock(*planned.clock, now);
      for (const EventSpec& eventSpec : planned.events) {
        StationEvent event = eventSpec.event;
        if (eventSpec.stampNow) event.stamp = station.ClockNow(now);
        std::string error;
        // The network file was checked already; an event refused here (a
        // clock set outside the years events can carry) is reported.
        if (!station.QueueEvent(event, &error)) {
          log_.Add(now, "card " + std::to_string(card.card) + " station " + std::to_string(planned.number) +
                            ": event not queued: " + error);
        }
      }
      card.stations.push_back(std::move(station));
    }
    cards_.push_back(std::move(card));
  }
}

CardState* Simulator::FindCard(int card) {
  for (CardState& state : cards_) {
    if (state.card == card) return &state;
  }
  return nullptr;
}

void Simulator::Note(int card, const std::string& text) {
  log_.Add(clock_.LocalMs(), "card " + std::to_string(card) + " " + text);
}

bool Simulator::AddFault(int card, const Fault& fault, std::string* error) {
  CardState* state = FindCard(card);
  if (state == nullptr) {
    if (error) *error = "no card " + std::to_string(card);
    return false;
  }
  if (fault.station >= 0 && state->FindStation(fault.station) == nullptr) {
    if (error) *error = "card " + std::to_string(card) + " has no station " + std::to_string(fault.station);
    return false;
  }
  if (fault.remaining < 1) {
    if (error) *error = "a fault hits at least one request";
    return false;
  }
  if (fault.kind == FaultKind::kNak && (fault.argument < 0 || fault.argument > 255)) {
    if (error) *error = "a negative acknowledgement code is 0 to 255";
    return false;
  }
  if (fault.kind == FaultKind::kDelay && (fault.argument < 0 || fault.argument > kMaxFaultDelayMs)) {
    if (error) *error = "a delay is 0 to " + std::to_string(kMaxFaultDelayMs) + " ms";
    return false;
  }
  if (state->faults.size() >= kMaxPendingFaults) {
    if (error) *error = "too many faults are waiting on card " + std::to_string(card);
    return false;
  }
  state->faults.push_back(fault);
  return true;
}

std::optional<Fault> Simulator::TakeFault(CardState& card, int station) {
  for (auto it = card.faults.begin(); it != card.faults.end(); ++it) {
    if (it->station >= 0 && it->station != station) continue;
    Fault fault = *it;
    if (--it->remaining <= 0) card.faults.erase(it);
    return fault;
  }
  return std::nullopt;
}

RequestOutcome Simulator::HandleRequest(int cardNumber, std::span<const std::uint8_t> frame) {
  RequestOutcome outcome;
  CardState* card = FindCard(cardNumber);
  if (card == nullptr || frame.size() < kFrameHeaderSize) return outcome;
  ++card->counters.requests;
  card->counters.bytesIn += frame.size();
  Note(cardNumber, "rx " + HexBytes(frame));

  const int stationNumber = frame[0];
  Station* station = card->FindStation(stationNumber);
  if (station == nullptr) {
    ++card->counters.unknownStation;
    Note(cardNumber, "no station " + std::to_string(stationNumber) + " on this card: no reply");
    return outcome;
  }

  const std::optional<Fault> fault = TakeFault(*card, stationNumber);
  if (fault) {
    ++card->counters.faults;
    std::string text = "station " + std::to_string(stationNumber) + " fault " + FaultKindName(fault->kind);
    if (FaultKindTakesArgument(fault->kind)) text += " " + std::to_string(fault->argument);
    Note(cardNumber, text);
    switch (fault->kind) {
      case FaultKind::kNoReply: return outcome;
      case FaultKind::kDrop: outcome.action = RequestAction::kDrop; return outcome;
      case FaultKind::kNak:
        outcome.action = RequestAction::kReply;
        outcome.reply = {frame[0], 1, static_cast<std::uint8_t>(fault->argument), frame[2]};
        outcome.delayMs = WireTimeMs(card->baudRate, frame.size(), outcome.reply.size());
        return outcome;
      default: break;
    }
  }

  StationAnswer answer = station->Answer(frame, clock_.LocalMs());
  if (!answer.note.empty()) Note(cardNumber, "station " + std::to_string(stationNumber) + ": " + answer.note);
  outcome.action = RequestAction::kReply;
  outcome.reply = std::move(answer.reply);
  std::vector<std::uint8_t>& reply = outcome.reply;
  std::int64_t extraDelay = 0;
  if (fault) {
    switch (fault->kind) {
      case FaultKind::kLostReply: return RequestOutcome{};
      case FaultKind::kWrongStation: reply[0] = static_cast<std::uint8_t>(reply[0] + 1); break;
      case FaultKind::kWrongLength:
        // Kept a well-formed frame, just one byte short of what was asked.
        if (reply[1] > 0) {
          reply.pop_back();
          reply[1] = static_cast<std::uint8_t>(reply[1] - 1);
        }
        break;
      case FaultKind::kWrongCommand: reply[2] = static_cast<std::uint8_t>(reply[2] ^ 0x80); break;
      case FaultKind::kWrongAddress:
        if (reply.size() >= 5) {
          const int address = (reply[3] * 256 + reply[4] + 1) & 0xFFFF;
          reply[3] = static_cast<std::uint8_t>(address >> 8);
          reply[4] = static_cast<std::uint8_t>(address & 0xFF);
        }
        break;
      case FaultKind::kDelay: extraDelay = fault->argument; break;
      default: break;
    }
  }
  outcome.delayMs = WireTimeMs(card->baudRate, frame.size(), reply.size()) + extraDelay;
  return outcome;
}

void Simulator::ReplySent(int cardNumber, std::span<const std::uint8_t> reply) {
  if (CardState* card = FindCard(cardNumber)) {
    ++card->counters.replies;
    card->counters.bytesOut += reply.size();
  }
  Note(cardNumber, "tx " + HexBytes(reply));
}

void Simulator::ConnectionOpened(int cardNumber) {
  if (CardState* card = FindCard(cardNumber)) ++card->counters.connections;
  Note(cardNumber, "connection opened");
}

void Simulator::IncompleteFrameDropped(int cardNumber, std::size_t bytes) {
  if (CardState* card = FindCard(cardNumber)) ++card->counters.incompleteFrames;
  Note(cardNumber, "incomplete frame of " + std::to_string(bytes) + " bytes dropped after a quiet line");
}

}  // namespace vrt::sim
