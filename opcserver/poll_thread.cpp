#include "poll_thread.h"

namespace vrt::opc {

void RunPollThread(PollThreadHost& host, const OpcSettings& settings, EventReporter& reporter) {
  if (!host.InitializeCom()) {
    reporter.Report(PollThreadComFailedReport());
    return;
  }
  const auto priority = ThreadPriorityFor(settings.threadPriority);
  if (!priority || !host.SetPriority(*priority)) reporter.Report(PollThreadPriorityReport());

  std::uint32_t lastTick = 0;  // the first cycle counts from 0
  for (;;) {
    host.WaitForWake(settings.threadSleepTime);
    if (!host.HoldServer()) break;
    host.TakeOverSinks();
    const std::uint32_t now = host.TickCount();
    host.TickGroups(now - lastTick);
    lastTick = now;
    if (host.ReleaseServer()) break;
  }
  host.UninitializeCom();
}

}  // namespace vrt::opc
