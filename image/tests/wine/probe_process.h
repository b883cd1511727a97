// Starting and talking to probe processes in the multi-process tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control_block.h"

namespace vrt::testing {

// The directory of the running test program (where the probes are built).
std::string ProgramDirectory();

// Starts `exe` (a path) with `arguments`, the command line being the quoted
// path and them; `startup`, `inheritHandles` and `directory` as
// CreateProcessA takes them. On success `process` holds the new process's
// handles and the result is empty; otherwise it says which call failed with
// which error. A start that fails is reported on stderr and tried once more
// a second later: Wine has now and then failed a start for a reason of its
// own (error 1359, an address the new process needs already taken), and
// cmake/wine-run's fixed layout is meant to end that, not proven to.
std::string StartProgram(const std::string& exe, const std::string& arguments, STARTUPINFOA& startup,
                         PROCESS_INFORMATION& process, bool inheritHandles = false,
                         const std::string& directory = "");

class ProbeProcess {
 public:
  // Starts `exe` (a path) with arguments, in `directory` when given.
  ProbeProcess(const std::string& exe, const std::string& arguments, const std::string& directory = "");
  ~ProbeProcess();
  ProbeProcess(const ProbeProcess&) = delete;
  ProbeProcess& operator=(const ProbeProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  // Why it did not start: the failing call and its GetLastError.
  const std::string& StartFailure() const { return startFailure_; }
  void Send(const std::string& line);
  // The next output line that starts with `prefix` (earlier lines are kept
  // in Output()); empty after `timeout`.
  std::string Expect(const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Sends a command and waits for its answer.
  std::string Ask(const std::string& command, const std::string& answerPrefix,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));
  void Kill();
  bool Running() const;
  // Waits until the process has ended and every line it wrote is in
  // Output(); false when it still runs after `timeout`.
  bool WaitForEnd(std::chrono::milliseconds timeout);
  std::vector<std::string> Output();

 private:
  void ReadOutput();

  HANDLE process_ = nullptr;
  std::string startFailure_;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  std::thread reader_;
  std::mutex mutex_;
  std::string pending_;
  std::vector<std::string> lines_;
  std::size_t consumed_ = 0;
  std::atomic<bool> outputEnded_{false};
};

// A view of "VRT_TO_IOC" opened the plain way (not through the library, so
// the test never counts as a client that starts a driver). Null when absent.
DriverControlBlock* OpenExistingControlBlock();

// Whether a named mapping exists.
bool MappingExists(const char* name);

// The program directory of the build of the other bitness (the win64
// build's, seen from the win32 build's tests), from VRT_OTHER_BITNESS_BIN;
// empty when it is not set.
std::string OtherBitnessDirectory();

// How much longer than usual the tests may wait for other processes: 1,
// or VRT_TIME_SCALE where every program runs under emulation (the 32-bit
// build in its tree). Only the waiting widens; what is asserted stays.
int TimeScale();

// Waits until `condition` holds, polling every 10 ms; false after `timeout`
// (times the time scale).
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout * TimeScale();
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Sleep(10);
  }
  return true;
}

// A string value under HKLM\`key`, the key created when missing.
void SetMachineValue(const char* key, const char* name, const std::string& value);

// Copies HKLM\`key` with everything below it into the other registry view
// (the 64-bit one for a 32-bit program under WOW64, else the 32-bit one):
// what a program of the other bitness reads.
bool CopyMachineKeyToTheOtherView(const char* key);

// Registry values under HKLM\Software\Kalvento\Tavex\Config.
void SetConfigValue(const char* name, const std::string& value);
void DeleteConfigValue(const char* name);

// Creates the key (when missing) and gives it an access list that refuses
// new values and sub-keys to everyone while still letting it be read and
// deleted, so that a program's write to it fails for real (Wine checks a
// key's access list as Windows does when the key itself is opened; it does
// not check the parent's right to create sub-keys when a key is created by
// a path through it). True when a write is then refused.
bool LockKeyAgainstWrites(HKEY root, const std::string& path);

// Writes `image` to `path` and registers it as ConfigFile.
void InstallConfiguration(const std::string& path, const std::vector<std::uint8_t>& image);

// All messages in the ring, oldest slot first, as "ATTRIBUTE TEXT".
std::vector<std::string> RingMessages(const DriverControlBlock& block);
bool RingHas(const DriverControlBlock& block, const std::string& entry);

}  // namespace vrt::testing
