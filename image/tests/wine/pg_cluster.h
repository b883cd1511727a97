// The private PostgreSQL cluster of a test (tools/pgcluster/pg-cluster),
// driven from a Windows program: the script is started as a Unix program
// (Wine hands a file that is no Windows program to the host to run) and
// reports its end through a file, since Wine gives no handle to wait on.
#pragma once

#include <chrono>
#include <string>

namespace vrt::testing {

class PgCluster {
 public:
  // `script` and `directory` are host paths.
  PgCluster(std::string script, std::string directory) : script_(std::move(script)), directory_(std::move(directory)) {}

  // Runs "pg-cluster COMMAND DIR ARGUMENTS"; true when it ended with status 0.
  bool Run(const std::string& command, const std::string& arguments = "",
           std::chrono::milliseconds timeout = std::chrono::seconds(60));
  bool Stop(const char* mode = "fast") { return Run("stop", mode); }
  bool Kill() { return Run("kill"); }
  bool Restart() { return Run("restart"); }
  // Drops EVENTS and makes it again with TIME_STAMP of `timeStampType`.
  bool MakeTable(const std::string& timeStampType = "TEXT") { return Run("table", timeStampType); }

 private:
  std::string script_;
  std::string directory_;
  int runs_ = 0;
};

// The Windows form of a host path under Wine's drive Z:.
std::string HostPathForWindows(const std::string& hostPath);

}  // namespace vrt::testing
