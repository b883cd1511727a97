#include "simulator_session.h"

#include <winsock2.h>

#include <fstream>
#include <regex>

namespace vrt::testing {

namespace {

// The digits of the number after `key` (a JSON key with its quotes) at or
// after `from`, replaced by `value`.
void ReplaceNumberAfter(std::string& json, const std::string& key, std::size_t from, int value) {
  const std::size_t at = json.find(key, from);
  if (at == std::string::npos) return;
  const std::size_t begin = json.find_first_of("0123456789", at + key.size());
  if (begin == std::string::npos) return;
  const std::size_t end = json.find_first_not_of("0123456789", begin);
  json.replace(begin, (end == std::string::npos ? json.size() : end) - begin, std::to_string(value));
}

// The network with the ports another simulator had: each card's (the
// "port" after its "card" number) and the control port.
std::string WithPorts(std::string json, const std::map<int, int>& cardPorts, int controlPort) {
  for (const auto& [card, port] : cardPorts) {
    const std::regex cardKey("\"card\"\\s*:\\s*" + std::to_string(card) + "\\b");
    std::smatch found;
    if (std::regex_search(json, found, cardKey)) {
      ReplaceNumberAfter(json, "\"port\"", static_cast<std::size_t>(found.position(0)), port);
    }
  }
  ReplaceNumberAfter(json, "\"control_port\"", 0, controlPort);
  return json;
}

}  // namespace

SimulatorSession::SimulatorSession(const std::string& directory, const std::string& networkJson,
                                   const std::string& logFile, const SimulatorSession* previous) {
  const std::string file = directory + "\\network.json";
  {
    std::ofstream out(file, std::ios::trunc);
    out << (previous == nullptr ? networkJson : WithPorts(networkJson, previous->cardPorts_, previous->controlPort_));
  }
  const std::string log = logFile.empty() ? "" : "--log \"" + logFile + "\" ";
  const std::string ports = previous == nullptr ? "--free-ports " : "";
  process_ = std::make_unique<ProbeProcess>(ProgramDirectory() + "\\tavexsim.exe",
                                            "--quiet " + ports + log + "\"" + file + "\"");
  if (!process_->Started()) {
    problem_ = "tavexsim.exe could not be started from " + ProgramDirectory();
    return;
  }
  problem_ = "tavexsim.exe did not get ready on " + file + ":";
  // "card N listening on 127.0.0.1:PORT (...)", "control port 127.0.0.1:PORT", "ready"
  for (;;) {
    const std::string line = process_->Expect("", std::chrono::seconds(20));
    if (!line.empty()) problem_ += " | " + line;
    if (line.empty() && !process_->Running()) return;
    if (line.rfind("card ", 0) == 0) {
      const int card = std::atoi(line.c_str() + 5);
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos) cardPorts_[card] = std::atoi(line.c_str() + colon + 1);
    } else if (line.rfind("control port ", 0) == 0) {
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos) controlPort_ = std::atoi(line.c_str() + colon + 1);
    } else if (line == "ready") {
      break;
    } else if (line.empty()) {
      return;
    }
  }
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(controlPort_));
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    problem_ = "cannot connect to the simulator's control port " + std::to_string(controlPort_);
    return;
  }
  socket_ = s;
  ready_ = true;
  problem_.clear();
}

SimulatorSession::~SimulatorSession() {
  if (socket_ != ~0ull) closesocket(static_cast<SOCKET>(socket_));
  if (process_) process_->Kill();
}

int SimulatorSession::CardPort(int card) const {
  const auto found = cardPorts_.find(card);
  return found == cardPorts_.end() ? 0 : found->second;
}

void SimulatorSession::ServeCards(const std::vector<int>& cards) const {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Kalvento\\Tavex\\CardServer");
  for (int card : cards) {
    SetMachineValue("Software\\Kalvento\\Tavex\\CardServer", ("Card" + std::to_string(card)).c_str(),
                    "127.0.0.1:" + std::to_string(CardPort(card)));
  }
}

std::vector<std::string> SimulatorSession::Command(const std::string& line) {
  std::vector<std::string> answer;
  if (!ready_) return {"ERR simulator not running"};
  const auto s = static_cast<SOCKET>(socket_);
  const std::string text = line + "\n";
  send(s, text.data(), static_cast<int>(text.size()), 0);
  std::string pending;
  char buffer[1024];
  for (;;) {
    const std::size_t end = pending.find('\n');
    if (end != std::string::npos) {
      std::string reply = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!reply.empty() && reply.back() == '\r') reply.pop_back();
      if (reply == "OK") return answer;
      if (reply.rfind("ERR", 0) == 0) return {reply};
      answer.push_back(reply);
      continue;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait{10, 0};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return {"ERR no answer"};
    const int got = recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) return {"ERR connection closed"};
    pending.append(buffer, static_cast<std::size_t>(got));
  }
}

void SimulatorSession::Shutdown() {
  if (!ready_) return;
  Command("shutdown");
  closesocket(static_cast<SOCKET>(socket_));
  socket_ = ~0ull;
  ready_ = false;
  for (int i = 0; i < 500 && process_->Running(); ++i) Sleep(10);
}

}  // namespace vrt::testing
