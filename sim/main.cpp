// tavexsim: the Tavex network station simulator.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "clock.h"
#include "network_file.h"
#include "server.h"
#include "simulator.h"
#include "usage.h"

namespace {

using namespace vrt::sim;

constexpr int kExitCannotServe = 1;
constexpr int kExitBadInput = 2;

bool ReadWholeFile(const std::string& path, std::string* text, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot open the network file " + path;
    return false;
  }
  text->clear();
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text->append(buffer, static_cast<std::size_t>(file.gcount()));
    if (text->size() > kMaxNetworkFileSize) {
      *error = path + ": the network file is larger than " + std::to_string(kMaxNetworkFileSize >> 20) + " MiB";
      return false;
    }
  }
  if (file.bad()) {
    *error = "cannot read the network file " + path;
    return false;
  }
  return true;
}

void Describe(Simulator& simulator) {
  const std::int64_t now = simulator.GetClock().LocalMs();
  std::printf("control port %d\n", simulator.ControlPort());
  for (CardState& card : simulator.Cards()) {
    std::printf("card %d port %d baud %d\n", card.card, card.port, card.baudRate);
    for (const Station& station : card.stations) {
      std::printf("  station %d %s", station.Number(), HardwareTypeName(station.HardwareType()).c_str());
      if (station.KeepsEvents()) {
        std::printf(" events %zu clock %s", station.QueuedEvents().size(),
                    FormatCivilTime(station.ClockNow(now)).c_str());
      }
      std::printf("\n");
    }
  }
}

int Usage(const char* message) {
  std::fprintf(stderr, "tavexsim: %s\nusage: tavexsim [--control PORT] [--free-ports] [--log FILE] [--quiet] [--check] NETWORK.json\n"
                       "       tavexsim --help\n", message);
  return kExitBadInput;
}

}  // namespace

int main(int argc, char** argv) {
  std::string networkPath;
  std::string logPath;
  bool quiet = false;
  bool checkOnly = false;
  bool freePorts = false;
  int controlPort = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h" || argument == "/?") {
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    } else if (argument == "--quiet") {
      quiet = true;
    } else if (argument == "--check") {
      checkOnly = true;
    } else if (argument == "--free-ports") {
      freePorts = true;
    } else if (argument == "--log" || argument == "--control") {
      if (i + 1 >= argc) return Usage((argument + " needs a value").c_str());
      const std::string value = argv[++i];
      if (argument == "--log") {
        logPath = value;
      } else {
        std::int64_t port = 0;
        if (!ParseWholeNumber(value, &port) || port < 0 || port > 65535) return Usage("--control needs a port number 0 to 65535");
        controlPort = static_cast<int>(port);
      }
    } else if (!argument.empty() && argument[0] == '-') {
      return Usage(("unknown option " + argument).c_str());
    } else if (networkPath.empty()) {
      networkPath = argument;
    } else {
      return Usage("only one network file can be given");
    }
  }
  if (networkPath.empty()) return Usage("no network file given");

  std::string text;
  std::string error;
  if (!ReadWholeFile(networkPath, &text, &error)) {
    std::fprintf(stderr, "tavexsim: %s\n", error.c_str());
    return kExitBadInput;
  }
  NetworkSpec network;
  if (!ParseNetwork(text, &network, &error)) {
    std::fprintf(stderr, "tavexsim: %s: %s\n", networkPath.c_str(), error.c_str());
    return kExitBadInput;
  }
  if (controlPort >= 0) network.controlPort = controlPort;
  if (freePorts) {
    // A second simulator on the same network file (a test beside a running
    // demo) takes ports nobody holds; the lines below tell which.
    for (CardSpec& card : network.cards) card.port = 0;
    if (controlPort < 0) network.controlPort = 0;
  }

  SystemClock clock;
  Simulator simulator(network, clock);
  if (checkOnly) {
    std::printf("%s: good\n", networkPath.c_str());
    Describe(simulator);
    return 0;
  }

  std::ofstream logFile;
  if (!logPath.empty()) {
    logFile.open(logPath, std::ios::app);
    if (!logFile) {
      std::fprintf(stderr, "tavexsim: cannot open the log file %s\n", logPath.c_str());
      return kExitBadInput;
    }
  }
  simulator.Log().SetSink([&](const std::string& line) {
    if (!quiet) {
      std::fputs(line.c_str(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    }
    if (logFile.is_open()) logFile << line << '\n' << std::flush;
  });

  if (!net::StartNetworking(&error)) {
    std::fprintf(stderr, "tavexsim: %s\n", error.c_str());
    return kExitCannotServe;
  }
  Server server(simulator);
  if (!server.Open(&error)) {
    std::fprintf(stderr, "tavexsim: %s\n", error.c_str());
    return kExitCannotServe;
  }
  for (const CardState& card : simulator.Cards()) {
    std::printf("card %d listening on 127.0.0.1:%d (%zu station%s)\n", card.card, card.port, card.stations.size(),
                card.stations.size() == 1 ? "" : "s");
  }
  std::printf("control port 127.0.0.1:%d\nready\n", simulator.ControlPort());
  std::fflush(stdout);
  server.Run();
  return 0;
}
