// The cycle of a server's poll thread, over what the thread needs of
// Windows and of its server, so that its rules run in tests without either.
#pragma once

#include <cstdint>

#include "opc_results.h"
#include "opc_settings.h"

namespace vrt::opc {

class PollThreadHost {
 public:
  virtual ~PollThreadHost() = default;
  virtual bool InitializeCom() = 0;
  virtual void UninitializeCom() = 0;
  virtual bool SetPriority(int windowsPriority) = 0;
  // Waits for the wake event, at most `milliseconds`.
  virtual void WaitForWake(std::uint32_t milliseconds) = 0;
  virtual std::uint32_t TickCount() = 0;
  // Holds the server for one cycle; false once the server is going, which
  // ends the thread.
  virtual bool HoldServer() = 0;
  // Lets go of the server after a cycle. True when that was the server's
  // last reference (a client let go during the cycle): the server is gone
  // and the thread ends without touching it again.
  virtual bool ReleaseServer() = 0;
  // The start of a cycle: shutdown and data sinks taken over or released.
  virtual void TakeOverSinks() = 0;
  // Ticks every group with the milliseconds since the previous cycle.
  virtual void TickGroups(std::uint32_t elapsed) = 0;
};

// Runs the thread until its server goes.
void RunPollThread(PollThreadHost& host, const OpcSettings& settings, EventReporter& reporter);

}  // namespace vrt::opc
