// A tavexsim.exe of the test's own, on ports it picks itself, with its
// control port at hand.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "probe_process.h"

namespace vrt::testing {

class SimulatorSession {
 public:
  // Writes `networkJson` beside the test and starts the simulator on it.
  // Every card and the control port take free ports the system picks,
  // whatever the file says, so a simulator already running on the same
  // network (the demo's) is no obstacle. `logFile`, when
  // given, gets every request, reply and fault the simulator logs (appended).
  // A simulator started again after `previous` ended (a restart the card
  // server must survive) takes `previous`'s ports instead.
  SimulatorSession(const std::string& directory, const std::string& networkJson, const std::string& logFile = {},
                   const SimulatorSession* previous = nullptr);
  ~SimulatorSession();

  bool Ready() const { return ready_; }
  // Why the simulator is not ready, for the failing test to say.
  const std::string& Problem() const { return problem_; }
  // The TCP port of card n, 0 when the card is not served.
  int CardPort(int card) const;
  // Points the card server's cards `cards` (and no others) at this simulator.
  void ServeCards(const std::vector<int>& cards) const;
  // Sends one control command; the answer's lines without the final "OK",
  // or a single "ERR ..." line.
  std::vector<std::string> Command(const std::string& line);
  // Ends the simulator ("shutdown") and waits for it.
  void Shutdown();

 private:
  std::unique_ptr<ProbeProcess> process_;
  std::map<int, int> cardPorts_;
  int controlPort_ = 0;
  bool ready_ = false;
  std::string problem_;
  unsigned long long socket_ = ~0ull;
};

}  // namespace vrt::testing
