#include "control.h"

#include <cstdint>
#include <vector>

namespace vrt::sim {

const char* const kControlHelp =
    "  stations                          cards, ports, baud rates and stations\n"
    "  set CARD STATION ADDRESS VALUE... set registers from ADDRESS on\n"
    "  get CARD STATION ADDRESS [COUNT]  show COUNT registers (default 1)\n"
    "  event CARD STATION CODE STATE [now | YYYY-MM-DD HH:MM:SS[.mmm] | raw Y MO D H MI S MS]\n"
    "                                    queue an event (STATE 1: input went to 1)\n"
    "  events CARD STATION               list the queued events\n"
    "  delivered CARD STATION            the event the last next-event request handed out\n"
    "  clearevents CARD STATION          empty the event queue\n"
    "  clock CARD STATION [YYYY-MM-DD HH:MM:SS[.mmm]]\n"
    "                                    show or set a station's clock\n"
    "  fault CARD STATION|* KIND [ARG] [COUNT]\n"
    "                                    hit the next COUNT requests (default 1); KIND is\n"
    "                                    noreply, lostreply, nak CODE, wrongstation,\n"
    "                                    wronglength, wrongcommand, wrongaddress,\n"
    "                                    delay MS, drop\n"
    "  faults                            list the faults still waiting\n"
    "  clearfaults [CARD]                forget waiting faults\n"
    "  baud CARD RATE                    wire-time model (0: off)\n"
    "  counters [CARD]                   request, reply and fault counters\n"
    "  log [COUNT]                       the last COUNT log lines (default 20)\n"
    "  clearlog                          forget the kept log lines\n"
    "  help                              this list\n"
    "  quit                              close this connection\n"
    "  shutdown                          stop the simulator\n";

namespace {

std::vector<std::string_view> SplitWords(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    const std::size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r') ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

class Command {
 public:
  Command(Simulator& simulator, std::vector<std::string_view> words)
      : simulator_(simulator), words_(std::move(words)) {}

  ControlResult Run();

 private:
  void Line(const std::string& text) { result_.text += text + "\n"; }
  bool Error(const std::string& reason) {
    error_ = reason;
    return false;
  }

  bool Number(std::size_t index, const char* what, std::int64_t low, std::int64_t high, std::int64_t* value) {
    if (index >= words_.size()) return Error(std::string("missing ") + what);
    std::int64_t number = 0;
    if (!ParseWholeNumber(words_[index], &number) || number < low || number > high) {
      return Error(std::string(what) + " must be a number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not \"" + std::string(words_[index]) + "\"");
    }
    *value = number;
    return true;
  }

  bool CardAt(std::size_t index, CardState** card) {
    std::int64_t number = 0;
    if (!Number(index, "CARD", 0, kMaxCards - 1, &number)) return false;
    *card = simulator_.FindCard(static_cast<int>(number));
    if (*card == nullptr) return Error("no card " + std::to_string(number) + " in this network");
    return true;
  }

  bool StationAt(std::size_t index, CardState** card, Station** station) {
    if (!CardAt(index, card)) return false;
    std::int64_t number = 0;
    if (!Number(index + 1, "STATION", 0, 255, &number)) return false;
    *station = (*card)->FindStation(static_cast<int>(number));
    if (*station == nullptr) return Error("card " + std::to_string((*card)->card) + " has no station " + std::to_string(number));
    return true;
  }

  bool WordCount(std::size_t low, std::size_t high) {
    if (words_.size() < low) return Error("too few arguments (try help)");
    if (words_.size() > high) return Error("too many arguments (try help)");
    return true;
  }

  // A time given as the words from `index` on: one word with 'T' or two.
  bool TimeAt(std::size_t index, CivilTime* time) {
    std::string text(words_[index]);
    if (index + 1 < words_.size()) text += " " + std::string(words_[index + 1]);
    if (index + 2 < words_.size()) return Error("too many arguments after the time");
    std::string message;
    if (!ParseCivilTime(text, time, &message)) return Error(message);
    return true;
  }

  bool Stations();
  bool Set();
  bool Get();
  bool Event();
  bool Events();
  bool Delivered();
  bool ClearEvents();
  bool ClockCommand();
  bool FaultCommand();
  bool Faults();
  bool ClearFaults();
  bool Baud();
  bool Counters();
  bool LogCommand();

  Simulator& simulator_;
  std::vector<std::string_view> words_;
  ControlResult result_;
  std::string error_;
};

bool Command::Stations() {
  if (!WordCount(1, 1)) return false;
  const std::int64_t now = simulator_.GetClock().LocalMs();
  Line("control port " + std::to_string(simulator_.ControlPort()));
  for (CardState& card : simulator_.Cards()) {
    Line("card " + std::to_string(card.card) + " port " + std::to_string(card.port) + " baud " +
         std::to_string(card.baudRate) + " stations " + std::to_string(card.stations.size()));
    for (const Station& station : card.stations) {
      std::string text = "  station " + std::to_string(station.Number()) + " " + HardwareTypeName(station.HardwareType());
      if (station.KeepsEvents()) {
        text += " events " + std::to_string(station.QueuedEvents().size()) + " clock " +
                FormatCivilTime(station.ClockNow(now));
      }
      Line(text);
    }
  }
  return true;
}

bool Command::Set() {
  if (!WordCount(5, 4 + kRegisterCount)) return false;
  CardState* card = nullptr;
  Station* station = nullptr;
  std::int64_t address = 0;
  if (!StationAt(1, &card, &station) || !Number(3, "ADDRESS", 0, kRegisterCount - 1, &address)) return false;
  const std::size_t count = words_.size() - 4;
  if (address + static_cast<std::int64_t>(count) > kRegisterCount) return Error("the values run past register 2047");
  std::vector<std::uint16_t> values;
  for (std::size_t i = 0; i < count; ++i) {
    std::int64_t value = 0;
    if (!Number(4 + i, "VALUE", -32768, 65535, &value)) return false;
    values.push_back(static_cast<std::uint16_t>(value & 0xFFFF));
  }
  // Only once every value is good, so a typo changes nothing.
  for (std::size_t i = 0; i < count; ++i) station->SetRegister(static_cast<int>(address) + static_cast<int>(i), values[i]);
  return true;
}

bool Command::Get() {
  if (!WordCount(4, 5)) return false;
  CardState* card = nullptr;
  Station* station = nullptr;
  std::int64_t address = 0;
  std::int64_t count = 1;
  if (!StationAt(1, &card, &station) || !Number(3, "ADDRESS", 0, kRegisterCount - 1, &address)) return false;
  if (words_.size() == 5 && !Number(4, "COUNT", 1, kRegisterCount - address, &count)) return false;
  std::string text;
  for (std::int64_t i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += std::to_string(station->Register(static_cast<int>(address + i)));
  }
  Line(text);
  return true;
}

bool Command::Event() {
  if (!WordCount(5, 13)) return false;
  CardState* card = nullptr;
  Station* station = nullptr;
  std::int64_t code = 0;
  std::int64_t state = 0;
  if (!StationAt(1, &card, &station) || !Number(3, "CODE", 1, kMaxEventCode, &code) ||
      !Number(4, "STATE", 0, 1, &state)) {
    return false;
  }
  StationEvent event;
  event.code = static_cast<int>(code);
  event.state = static_cast<int>(state);
  const std::int64_t now = simulator_.GetClock().LocalMs();
  if (words_.size() == 5 || (words_.size() == 6 && words_[5] == "now")) {
    event.stamp = station->ClockNow(now);
  } else if (words_[5] == "raw") {
    if (!WordCount(13, 13)) return false;
    static constexpr const char* kNames[7] = {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND", "MILLISECONDS"};
    static constexpr std::int64_t kLow[7] = {2000, 0, 0, 0, 0, 0, 0};
    static constexpr std::int64_t kHigh[7] = {2155, 255, 255, 255, 255, 255, 65535};
    std::int64_t fields[7] = {};
    for (int i = 0; i < 7; ++i) {
      if (!Number(6 + static_cast<std::size_t>(i), kNames[i], kLow[i], kHigh[i], &fields[i])) return false;
    }
    event.stamp = CivilTime{static_cast<int>(fields[0]), static_cast<int>(fields[1]), static_cast<int>(fields[2]),
                            static_cast<int>(fields[3]), static_cast<int>(fields[4]), static_cast<int>(fields[5]),
                            static_cast<int>(fields[6])};
  } else if (!TimeAt(5, &event.stamp)) {
    return false;
  }
  std::string message;
  if (!station->QueueEvent(event, &message)) return Error(message);
  simulator_.Note(card->card, "station " + std::to_string(station->Number()) + " event " + std::to_string(event.code) +
                                  " state " + std::to_string(event.state) + " queued, stamped " +
                                  FormatCivilTime(event.stamp));
  Line("queued " + std::to_string(station->QueuedEvents().size()));
  return true;
}

bool Command::Events() {
  if (!WordCount(3, 3)) return false;
  CardState* card = nullptr;
  Station* station = nullptr;
  if (!StationAt(1, &card, &station)) return false;
  if (!station->KeepsEvents()) return Error("station " + std::to_string(station->Number()) + " keeps no events");
  for (const StationEvent& event : station->QueuedEvents()) {
    Line("code " + std::to_string(event.code) + " state " + std::to_string(event.state) + " time " +
         FormatCivilTime(event.stamp));
  }
  return true;
}

bool Command::Delivered() {
  if (!WordCount(3, 3)) return false;
  CardState* card = nullptr;
  Station* station = nullptr;
  if (!StationAt(1, &card, &station)) return false;
  if (!station->KeepsEvents()) return Error("station " + std::to_string(station->Number()) + " keeps no events");
  if (const auto& event = station->LastDelivered()) {
    Line("code " + std::to_string(event->code) + " state " + std::to_string(event->state) + " time " +
         FormatCivilTime(event->stamp));
  }
  return true;
}

bool Command::ClearEvents() {
  if (!WordCount(3, 3)) return false;
  CardState* card = nullptr;
  Station* station = nullptr;
  if (!StationAt(1, &card, &station)) return false;
  if (!station->KeepsEvents()) return Error("station " + std::to_string(station->Number()) + " keeps no events");
  station->ClearEvents();
  return true;
}

bool Command::ClockCommand() {
  if (!WordCount(3, 5)) return false;
  CardState* card = nullptr;
  Station* station = nullptr;
  if (!StationAt(1, &card, &station)) return false;
  if (!station->KeepsEvents()) return Error("station " + std::to_string(station->Number()) + " keeps no clock");
  const std::int64_t now = simulator_.GetClock().LocalMs();
  if (words_.size() > 3) {
    CivilTime time;
    if (!TimeAt(3, &time)) return false;
    station->SetClock(time, now);
  }
  Line(FormatCivilTime(station->ClockNow(now)));
  return true;
}

bool Command::FaultCommand() {
  if (!WordCount(4, 6)) return false;
  CardState* card = nullptr;
  if (!CardAt(1, &card)) return false;
  Fault fault;
  if (words_[2] != "*") {
    std::int64_t number = 0;
    if (!Number(2, "STATION", 0, 255, &number)) return false;
    fault.station = static_cast<int>(number);
  }
  const std::optional<FaultKind> kind = FaultKindFromName(words_[3]);
  if (!kind) {
    return Error("unknown fault \"" + std::string(words_[3]) +
                 "\" (noreply, lostreply, nak, wrongstation, wronglength, wrongcommand, wrongaddress, delay, drop)");
  }
  fault.kind = *kind;
  std::size_t next = 4;
  std::int64_t number = 0;
  if (fault.kind == FaultKind::kNak) {
    if (!Number(next++, "CODE", 0, 255, &number)) return false;
    fault.argument = static_cast<int>(number);
  } else if (fault.kind == FaultKind::kDelay) {
    if (!Number(next++, "MS", 0, kMaxFaultDelayMs, &number)) return false;
    fault.argument = static_cast<int>(number);
  }
  if (next < words_.size()) {
    if (!Number(next++, "COUNT", 1, 1000000, &number)) return false;
    fault.remaining = static_cast<int>(number);
  }
  if (next < words_.size()) return Error("too many arguments (try help)");
  std::string message;
  if (!simulator_.AddFault(card->card, fault, &message)) return Error(message);
  return true;
}

bool Command::Faults() {
  if (!WordCount(1, 1)) return false;
  for (CardState& card : simulator_.Cards()) {
    for (const Fault& fault : card.faults) {
      std::string text = "card " + std::to_string(card.card) + " station " +
                         (fault.station < 0 ? std::string("*") : std::to_string(fault.station)) + " " +
                         FaultKindName(fault.kind);
      if (FaultKindTakesArgument(fault.kind)) text += " " + std::to_string(fault.argument);
      text += " remaining " + std::to_string(fault.remaining);
      Line(text);
    }
  }
  return true;
}

bool Command::ClearFaults() {
  if (!WordCount(1, 2)) return false;
  if (words_.size() == 2) {
    CardState* card = nullptr;
    if (!CardAt(1, &card)) return false;
    card->faults.clear();
    return true;
  }
  for (CardState& card : simulator_.Cards()) card.faults.clear();
  return true;
}

bool Command::Baud() {
  if (!WordCount(3, 3)) return false;
  CardState* card = nullptr;
  std::int64_t rate = 0;
  if (!CardAt(1, &card) || !Number(2, "RATE", 0, kMaxBaudRate, &rate)) return false;
  if (rate != 0 && rate < kMinBaudRate) return Error("RATE is 0 (off) or " + std::to_string(kMinBaudRate) + " and more");
  card->baudRate = static_cast<int>(rate);
  return true;
}

bool Command::Counters() {
  if (!WordCount(1, 2)) return false;
  CardState* only = nullptr;
  if (words_.size() == 2 && !CardAt(1, &only)) return false;
  for (CardState& card : simulator_.Cards()) {
    if (only != nullptr && &card != only) continue;
    const CardCounters& c = card.counters;
    Line("card " + std::to_string(card.card) + " connections " + std::to_string(c.connections) + " requests " +
         std::to_string(c.requests) + " replies " + std::to_string(c.replies) + " unknown_station " +
         std::to_string(c.unknownStation) + " faults " + std::to_string(c.faults) + " incomplete " +
         std::to_string(c.incompleteFrames) + " bytes_in " + std::to_string(c.bytesIn) + " bytes_out " +
         std::to_string(c.bytesOut));
    for (const Station& station : card.stations) {
      const StationCounters& s = station.Counters();
      Line("card " + std::to_string(card.card) + " station " + std::to_string(station.Number()) + " reads " +
           std::to_string(s.reads) + " writes " + std::to_string(s.writes) + " event_requests " +
           std::to_string(s.eventRequests) + " events_delivered " + std::to_string(s.eventsDelivered) +
           " time_syncs " + std::to_string(s.timeSyncs) + " toravine " + std::to_string(s.toravineRequests) +
           " naks " + std::to_string(s.naks));
    }
  }
  return true;
}

bool Command::LogCommand() {
  if (!WordCount(1, 2)) return false;
  std::int64_t count = 20;
  if (words_.size() == 2 && !Number(1, "COUNT", 1, static_cast<std::int64_t>(FrameLog::kDefaultCapacity), &count)) {
    return false;
  }
  for (const std::string& line : simulator_.Log().Last(static_cast<std::size_t>(count))) Line(line);
  return true;
}

ControlResult Command::Run() {
  if (words_.empty()) {
    result_.text = "OK\n";  // an empty line is a harmless no-op (handy to check the link)
    return result_;
  }
  const std::string_view name = words_[0];
  bool good = false;
  if (name == "help") {
    good = WordCount(1, 1);
    if (good) result_.text += kControlHelp;
  } else if (name == "stations") {
    good = Stations();
  } else if (name == "set") {
    good = Set();
  } else if (name == "get") {
    good = Get();
  } else if (name == "event") {
    good = Event();
  } else if (name == "events") {
    good = Events();
  } else if (name == "delivered") {
    good = Delivered();
  } else if (name == "clearevents") {
    good = ClearEvents();
  } else if (name == "clock") {
    good = ClockCommand();
  } else if (name == "fault") {
    good = FaultCommand();
  } else if (name == "faults") {
    good = Faults();
  } else if (name == "clearfaults") {
    good = ClearFaults();
  } else if (name == "baud") {
    good = Baud();
  } else if (name == "counters") {
    good = Counters();
  } else if (name == "log") {
    good = LogCommand();
  } else if (name == "clearlog") {
    good = WordCount(1, 1);
    if (good) simulator_.Log().Clear();
  } else if (name == "quit") {
    good = WordCount(1, 1);
    result_.close = good;
  } else if (name == "shutdown") {
    good = WordCount(1, 1);
    result_.shutdown = good;
  } else {
    error_ = "unknown command \"" + std::string(name) + "\" (try help)";
  }
  if (good) {
    result_.text += "OK\n";
  } else {
    result_.text = "ERR " + error_ + "\n";
  }
  return result_;
}

}  // namespace

ControlResult RunControlCommand(Simulator& simulator, std::string_view line) {
  if (line.size() > kMaxControlLine) {
    ControlResult result;
    result.text = "ERR the line is longer than " + std::to_string(kMaxControlLine) + " characters\n";
    return result;
  }
  Command command(simulator, SplitWords(line));
  return command.Run();
}

}  // namespace vrt::sim
