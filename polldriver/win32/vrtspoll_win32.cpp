// VRTSPOLL: the console program that runs the Tavex network.
#include <windows.h>
#include <conio.h>
#include <mmsystem.h>

#include <memory>
#include <string>
#include <vector>

#include "../../cardif/TavexDll.h"
#include "../../image/dit_api.h"
#include "../driver_program.h"
#include "event_database_win32.h"
#include "event_files_win32.h"

namespace {

using namespace vrt;

class Win32DriverSystem final : public DriverSystem {
 public:
  void SleepMilliseconds(unsigned milliseconds) override { Sleep(milliseconds); }
  // Milliseconds from the performance counter, wrapping like the tick
  // count. The system's tick count may move in steps of about 16 ms (it
  // does under Wine while the machine is quiet): the 10 ms loop would then
  // see no tick in a third of its wakes and poll only some 60 times a second.
  std::uint32_t TickCount() override {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const std::uint64_t count = static_cast<std::uint64_t>(now.QuadPart);
    return static_cast<std::uint32_t>(count / frequency_ * 1000 + count % frequency_ * 1000 / frequency_);
  }
  CivilTime LocalTime() override {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  }
  void KickEventWriter() override {
    if (database_) database_->Wake();
  }
  // Event logging: settings read at every start, files written per event,
  // rows inserted by the database writer.
  void StartEventLogging() override {
    ProfileSettings source(kLoggingSettingsFile);
    const LoggingSettings settings = ReadLoggingSettings(source);
    if (settings.loggingEnabled && settings.odbcEnabled) {
      database_ = std::make_unique<EventDatabase>(settings, queue_, output_);
      database_->Start();
    }
    output_.database = database_.get();
    logger_ = std::make_unique<EventLogger>(settings, output_, database_ ? &queue_ : nullptr);
  }
  void StopEventLogging() override {
    logger_.reset();
    output_.database = nullptr;
    if (database_) database_->Stop();
    database_.reset();
  }
  void EventLine(const DitDevice& device, const SoeEventRecord& event) override {
    if (logger_) logger_->EventLine(device, event);
  }
  std::int16_t Send(std::int16_t card, std::int16_t length, const std::uint8_t* frame) override {
    return TavexSend(card, length, frame);
  }
  std::int16_t Receive(std::int16_t card, std::int16_t* length, std::uint8_t* buffer) override {
    return TavexReceive(card, length, buffer);
  }
  bool NextKey(char* key) override {
    if (!_kbhit()) return false;
    *key = static_cast<char>(_getch());
    return true;
  }
  void RaisePriority() override { SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS); }
  std::int32_t InitTavexInterface() override { return ::InitTavexInterface(); }
  std::int32_t InitTavexCard(std::int16_t card) override { return ::InitTavexCard(card); }
  void CloseTavexCard(std::int16_t card) override { ::CloseTavexCard(card); }
  void ReleaseTavexInterface() override { ::ReleaseTavexInterface(); }

 private:
  static std::uint64_t CounterFrequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? static_cast<std::uint64_t>(frequency.QuadPart) : 1000;
  }

  const std::uint64_t frequency_ = CounterFrequency();
  Win32EventLogOutput output_;
  // Statements wait here across stops and starts until they are written.
  SqlQueue queue_;
  std::unique_ptr<EventDatabase> database_;
  std::unique_ptr<EventLogger> logger_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  // Every poll timer counts in 10 ms ticks: ask for a 1 ms system timer
  // so that the 10 ms sleeps of the main loop are not stretched to 15.6 ms.
#if !defined(VRT_BENCH_DISCARD_TICK_REMAINDER)
  timeBeginPeriod(1);
#endif
  Win32DriverSystem system;
  DriverProgram program(ProcessMapping(), system);
  const int result = program.Run(arguments);
#if !defined(VRT_BENCH_DISCARD_TICK_REMAINDER)
  timeEndPeriod(1);
#endif
  return result;
}
