// A concurrent OPC client: threads that call every method of the server's
// DA 1.0/2.0 interfaces in random order on groups and items of their own,
// each result checked against what the call may return here. Used by the
// server's stress test (in process, from a single-threaded apartment and
// through the surrogate) and by the soak.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "opc_da.h"
#include "opc_subscription_sink.h"

namespace vrt::tool {

// Sinks that only count what reaches them; they go with their last reference.
class StressCallback final : public SubscriptionSink {
 public:
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                         FILETIME*, HRESULT*) override {
    ++calls;
    return S_OK;
  }
  std::atomic<std::uint64_t> calls{0};
};

class StressStreamSink final : public ClientSink<IAdviseSink> {
 public:
  void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override { ++streams; }
  void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
  void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
  void STDMETHODCALLTYPE OnSave() override {}
  void STDMETHODCALLTYPE OnClose() override {}
  std::atomic<std::uint64_t> streams{0};
};

struct StressOptions {
  unsigned mtaThreads = 3;
  bool staThread = false;  // one more thread, in a single-threaded apartment (through the proxies)
  std::vector<std::wstring> itemIds;       // what the threads' groups hold
  std::vector<std::wstring> sharedGroups;  // groups another client holds on the same server
  unsigned pauseMilliseconds = 1;          // between two calls of a thread
  bool writes = true;                      // false: the station's registers are another client's to write
  bool throughProxies = false;             // the server is out of process: every call goes through the proxies
  unsigned seed = 1;
};

// One calling thread, as a watchdog sees it.
struct StressThread {
  std::string name;
  std::atomic<std::uint64_t> calls{0};
  std::atomic<const char*> current{"starting"};  // the call it is in, "" between calls
  std::atomic<const char*> last{""};             // the call it made last
  std::atomic<bool> finished{false};
};

class StressClient {
 public:
  explicit StressClient(StressOptions options);
  ~StressClient();
  StressClient(const StressClient&) = delete;
  StressClient& operator=(const StressClient&) = delete;

  // Starts the threads on `server`, an interface of the caller's
  // multithreaded apartment (the single-threaded thread gets a proxy).
  HRESULT Start(IOPCServer* server);
  // Asks every thread to let go of what it made (its groups go with
  // RemoveGroup) and waits for them.
  void Stop();
  // Stop, watched: a thread that makes no call for `stallMilliseconds`
  // while it lets go is a stall. The stall, or an empty text when every
  // thread ended (then joined).
  std::string Finish(std::uint64_t stallMilliseconds);

  std::size_t ThreadCount() const { return threads_.size(); }
  const StressThread& Thread(std::size_t index) const { return *threads_[index]; }
  std::uint64_t TotalCalls() const;
  // Results the server should not have given, one line each (the first 100).
  std::vector<std::string> Violations();
  // Notes a violation (also for checks made outside the threads).
  void Violation(const std::string& text);

 private:
  void RunThread(std::size_t index, bool singleThreaded, IStream* marshalledServer, IOPCServer* server);

  StressOptions options_;
  std::vector<std::unique_ptr<StressThread>> threads_;
  std::vector<std::thread> running_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::string> violations_;
  std::size_t violationCount_ = 0;
};

// Watches the client's threads for `milliseconds`, every 100 ms: a thread
// that makes no call for `stallMilliseconds` ends the watch, and so does
// `check` (called on every round) when it returns a failure. The failure,
// or an empty text when the time ran out.
std::string WatchProgress(StressClient& client, std::uint64_t milliseconds, std::uint64_t stallMilliseconds,
                          const std::function<std::string()>& check);

// Each thread's calls, the call it is in and the one it made last, a line
// each: what a stall report shows.
std::string ThreadsReport(const StressClient& client);

// Ends this process at once with `code`: for a stall, whose threads will
// never come back from their calls.
[[noreturn]] void EndStalledProcess(unsigned code);

}  // namespace vrt::tool
