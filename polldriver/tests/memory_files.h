// Event log output kept in memory: the files by name, and the writer's wake-ups.
#pragma once

#include <map>
#include <string>

#include "event_log.h"

namespace vrt::testing {

class MemoryFiles final : public EventLogOutput {
 public:
  Append AppendToFile(const std::string& path, const std::string& header, const std::string& row) override {
    if (failing) return Append::kFailed;
    const bool created = !files.contains(path);
    if (created) files[path] = header;
    files[path] += row;
    return created ? Append::kCreated : Append::kAppended;
  }
  void WakeWriter() override { ++wakes; }
  std::map<std::string, std::string> files;
  bool failing = false;
  int wakes = 0;
};

}  // namespace vrt::testing
