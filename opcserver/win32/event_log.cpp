// Event-log records under the source "VIDUZO". The source is registered at
// load; a report that finds no handle registers it again and drops the
// record when that fails too. Reporting never changes a result.
#include <windows.h>

#include <mutex>

#include "vrtopc_module.h"

namespace vrt::opc {

namespace {

class WindowsEventLog final : public EventReporter {
 public:
  WindowsEventLog() { source_ = RegisterEventSourceA(nullptr, kEventSource); }
  ~WindowsEventLog() override {
    if (source_ != nullptr) DeregisterEventSource(source_);
  }

  void Report(const EventReport& report) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (source_ == nullptr) source_ = RegisterEventSourceA(nullptr, kEventSource);
    if (source_ == nullptr) return;
    const char* strings[] = {report.text.c_str()};
    ReportEventA(source_, EVENTLOG_INFORMATION_TYPE, report.category, report.eventId, nullptr, 1,
                 static_cast<DWORD>(report.rawData.size()), strings,
                 report.rawData.empty() ? nullptr : const_cast<char*>(report.rawData.data()));
  }

 private:
  std::mutex mutex_;
  HANDLE source_ = nullptr;
};

}  // namespace

EventReporter* CreateWindowsEventLog() { return new WindowsEventLog(); }

}  // namespace vrt::opc
