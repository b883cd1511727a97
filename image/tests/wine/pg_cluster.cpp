#include "pg_cluster.h"

#include <windows.h>

#include <fstream>

namespace vrt::testing {

std::string HostPathForWindows(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool PgCluster::Run(const std::string& command, const std::string& arguments, std::chrono::milliseconds timeout) {
  // Unique across Wine prefixes too, whose process ids repeat each other's.
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  const std::string done = directory_ + "/done-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(counter.QuadPart) + "-" + std::to_string(++runs_);
  const std::string doneWindows = HostPathForWindows(done);
  DeleteFileA(doneWindows.c_str());
  std::string line = "pg-cluster --done " + done + " " + command + " " + directory_ + " " + arguments;
  const std::string program = HostPathForWindows(script_);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream status(doneWindows);
    int code = -1;
    if (status >> code) {
      status.close();
      DeleteFileA(doneWindows.c_str());
      DeleteFileA((doneWindows + ".log").c_str());
      return code == 0;
    }
    Sleep(20);
  }
  return false;
}

}  // namespace vrt::testing
