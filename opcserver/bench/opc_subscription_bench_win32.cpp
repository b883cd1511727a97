// Figures of VRTOPC's subscriptions:
//   latency  from a register changed in the simulator to OnDataChange in this
//            client, for a record polled every 0.1 s and a group updating every
//            100 ms, through the real driver, card library and card server
//            (median and 95th percentile), for a client in this process's
//            multithreaded apartment, in a single-threaded apartment
//            (through the proxies, callbacks through its message loop) and
//            with the server out of process in the surrogate, and in
//            process again while the concurrent client (opcstress's
//            threads, writes left out) calls every method of the same
//            server, with the calls per second each of its threads made;
//   CPU      of the poll thread per group tick for 10000 active items over the
//            largest image (a stand-in driver keeps it, values still), with
//            nothing changed and with every item changed (each tick then makes
//            313 calls of at most 32 items).
//
//   opc_subscription_bench.exe [--changes N] [--seconds S]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "dit_codes.h"
#include "dit_mapping.h"
#include "dit_writer.h"
#include "driver_session.h"
#include "opc_client.h"
#include "opc_subscription_sink.h"
#include "probe_process.h"
#include "sample_configuration.h"
#include "stress_client_win32.h"

namespace {

using namespace std::chrono_literals;
using vrt::testing::ComPtr;
using Clock = std::chrono::steady_clock;

// Counts calls and items and remembers when a value last arrived.
class CountingSink final : public SubscriptionSink {
 public:
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*,
                                         VARIANT* values, WORD*, FILETIME*, HRESULT*) override {
    calls += 1;
    items += count;
    VARIANT number;
    VariantInit(&number);
    if (count > 0 && SUCCEEDED(VariantChangeType(&number, &values[0], 0, VT_R8))) {
      std::lock_guard<std::mutex> guard(lock);
      lastValue = number.dblVal;
      arrival = Clock::now();
    }
    return S_OK;
  }

  std::atomic<long> calls{0};
  std::atomic<long> items{0};
  std::mutex lock;
  double lastValue = -1.0;
  Clock::time_point arrival;
};

double Milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

double CpuSeconds(const FILETIME& kernel, const FILETIME& user) {
  auto ticks = [](const FILETIME& time) { return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// CPU seconds of this process's threads other than the calling one.
double OtherThreadsCpu() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const double process = CpuSeconds(kernel, user);
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  return process - CpuSeconds(kernel, user);
}

bool MeasureLatency(vrt::testing::DriverSession& session, const char* label, DWORD context, bool underLoad,
                    int changes, int& value);

int Latency(int changes) {
  constexpr const char* kNetwork = R"({ "control_port": 0, "cards": [
    { "card": 1, "port": 0, "stations": [ { "station": 5, "type": "ZOLT", "registers": { "0x100": [0] } } ] } ] })";
  vrt::testing::DriverSession session("vrt-opc-latency", kNetwork, {1});
  vrt::DitPollRecord record = vrt::testing::SamplePollRecord(0x100, 1, vrt::kDataUnsigned, vrt::kExceptionAnalog);
  record.pollTime = 10;  // 0.1 s
  record.accessTime = vrt::kAccessNeverExpires;
  vrt::DitChannelSource channel = vrt::testing::SampleChannel(0, {vrt::testing::SampleDevice("PUMPS", 5, {record})});
  vrt::testing::MakeLinkQuick(channel.record.primary);
  vrt::DitConfiguration configuration;
  configuration.channels.push_back(channel);
  session.UseConfiguration(session.directory + "\\PLANT.VRT", vrt::WriteDitImage(configuration, 1800000000).bytes);
  session.driver = session.StartDriver();

  int value = 0;  // every change of every client a new register value
  int failed = 0;
  for (const auto& [label, sta, context, load] :
       {std::tuple{"in process", false, DWORD{CLSCTX_INPROC_SERVER}, false},
        std::tuple{"in process under the stress load", false, DWORD{CLSCTX_INPROC_SERVER}, true},
        std::tuple{"from an STA (proxies)", true, DWORD{CLSCTX_INPROC_SERVER}, false},
        std::tuple{"out of process", false, DWORD{CLSCTX_LOCAL_SERVER}, false}}) {
    std::thread client([&, label = label, sta = sta, context = context, load = load] {
      CoInitializeEx(nullptr, sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
      if (!MeasureLatency(session, label, context, load, changes, value)) ++failed;
      CoUninitialize();
    });
    client.join();
  }
  return failed == 0 ? 0 : 1;
}

// Waits for `condition`, dispatching this thread's messages meanwhile (a
// single-threaded apartment gets its callbacks as messages).
template <typename Condition>
bool WaitPumping(Condition condition, std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  return true;
}

bool MeasureLatency(vrt::testing::DriverSession& session, const char* label, DWORD context, bool underLoad,
                    int changes, int& value) {
  ComPtr<IOPCServer> server;
  ComPtr<IOPCItemMgt> group;
  if (FAILED(vrt::testing::CreateServer(server, context)) ||
      FAILED(vrt::testing::AddGroup(*server.Get(), L"latency", group, nullptr, TRUE, 100)) ||
      vrt::testing::AddItems(*group.Get(), {L"PUMPS:DIT:256"}).size() != 1) {
    std::printf("latency %s: the server cannot be reached\n", label);
    return false;
  }
  auto* counting = new CountingSink;  // released after the subscription
  CountingSink& sink = *counting;
  DWORD cookie = 0;
  if (FAILED(vrt::testing::AdviseDataCallback(*group.Get(), &sink, &cookie))) {
    counting->Release();
    return false;
  }
  // The load: threads calling every method of this very server, the
  // station's register left to this measurement (no writes).
  std::unique_ptr<vrt::tool::StressClient> load;
  if (underLoad) {
    vrt::tool::StressOptions options;
    options.itemIds = {L"PUMPS:DIT:256", L"PUMPS:DIT:256:0", L"PUMPS:DIT:256:1", L"PUMPS:DIT:256:2"};
    options.sharedGroups = {L"latency"};
    options.writes = false;
    load = std::make_unique<vrt::tool::StressClient>(options);
    if (FAILED(load->Start(server.Get()))) {
      std::printf("latency %s: the load cannot start\n", label);
      return false;
    }
  }
  const auto loadStart = Clock::now();
  std::vector<double> latencies;
  for (int change = 1; change <= changes; ++change) {
    // Changes come at no fixed phase to the poll and the group tick.
    WaitPumping([] { return false; }, std::chrono::milliseconds(50 + change * 37 % 150));
    const int expected = ++value;
    const auto start = Clock::now();
    session.simulator->Command("set 1 5 0x100 " + std::to_string(expected));
    const bool seen = WaitPumping(
        [&] {
          std::lock_guard<std::mutex> guard(sink.lock);
          return sink.lastValue == expected;
        },
        5s);
    if (!seen) {
      std::fprintf(stderr, "%s: change %d did not arrive (%ld calls, last value %.0f)\n", label, change,
                   sink.calls.load(), sink.lastValue);
      vrt::testing::UnadviseDataCallback(*group.Get(), cookie);
      counting->Release();
      return false;
    }
    std::lock_guard<std::mutex> guard(sink.lock);
    latencies.push_back(Milliseconds(sink.arrival - start));
  }
  if (load) {
    const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();
    load->Stop();
    std::printf("stress load on the server while measuring (%.1f s):", loadSeconds);
    for (std::size_t k = 0; k < load->ThreadCount(); ++k) {
      std::printf(" %s %.0f calls/s", load->Thread(k).name.c_str(),
                  static_cast<double>(load->Thread(k).calls.load()) / loadSeconds);
    }
    std::printf(", %zu results outside the allowed\n", load->Violations().size());
    load.reset();
  }
  vrt::testing::UnadviseDataCallback(*group.Get(), cookie);
  counting->Release();
  std::sort(latencies.begin(), latencies.end());
  const double median = latencies[latencies.size() / 2];
  const double p95 = latencies[std::min(latencies.size() - 1, latencies.size() * 95 / 100)];
  std::printf("latency %s, register change to OnDataChange (poll 100 ms, update rate 100 ms, %zu changes):\n", label,
              latencies.size());
  std::printf("  median %.1f ms, 95th percentile %.1f ms, max %.1f ms (goal: at most 220 ms)\n", median, p95,
              latencies.back());
  std::fflush(stdout);
  return 0;
}

int TickCpu(double seconds) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  vrt::testing::InstallConfiguration(std::string(temp) + "vrt-opc-tick-bench.vrt",
                                     vrt::testing::LargestImage(vrt::kStatusGood));
  vrt::testing::DeleteConfigValue(vrt::kDriverExeValue);
  // In the temporary folder: the stand-in driver notes its starts in its working directory.
  vrt::testing::ProbeProcess driver(vrt::testing::ProgramDirectory() + "\\dit_probe_driver.exe", "", temp);
  if (driver.Expect("serving", 30s) != "serving") {
    std::fprintf(stderr, "the stand-in driver did not load the image\n");
    return 1;
  }
  ComPtr<IOPCServer> server;
  if (FAILED(vrt::testing::CreateServer(server))) return 1;
  ComPtr<IOPCItemMgt> group;
  if (FAILED(vrt::testing::AddGroup(*server.Get(), L"ticks", group, nullptr, TRUE, 100))) return 1;
  std::vector<std::wstring> ids;
  for (const std::string& address : vrt::testing::LargestImageAddresses()) ids.emplace_back(address.begin(), address.end());
  const auto added = vrt::testing::AddItems(*group.Get(), ids);
  std::vector<OPCHANDLE> handles;
  for (const auto& item : added) handles.push_back(item.handle);
  auto* counting = new CountingSink;  // released after the subscription
  CountingSink& sink = *counting;
  DWORD cookie = 0;
  if (FAILED(vrt::testing::AdviseDataCallback(*group.Get(), &sink, &cookie))) return 1;
  vrt::testing::WaitFor([&] { return sink.items >= static_cast<long>(handles.size()); }, 30s);
  Sleep(300);

  std::printf("poll thread CPU per group tick, %zu active items, update rate 100 ms, %.1f s each:\n", handles.size(),
              seconds);
  for (bool everyItem : {false, true}) {
    const long callsBefore = sink.calls;
    const long itemsBefore = sink.items;
    const double cpuBefore = OtherThreadsCpu();
    const auto start = Clock::now();
    int ticks = 0;
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
      if (everyItem) {
        // Activating an item marks it as not yet delivered: every item then
        // counts as changed at the group's next tick.
        HRESULT* errors = nullptr;
        group->SetActiveState(static_cast<DWORD>(handles.size()), handles.data(), TRUE, &errors);
        CoTaskMemFree(errors);
      }
      Sleep(100);
      ++ticks;
    }
    const double cpu = OtherThreadsCpu() - cpuBefore;
    std::printf("  %-22s %8.3f ms per tick  (%ld calls, %ld items delivered)\n",
                everyItem ? "every item changed" : "nothing changed", cpu * 1000.0 / ticks, sink.calls - callsBefore,
                sink.items - itemsBefore);
    std::fflush(stdout);
  }
  vrt::testing::UnadviseDataCallback(*group.Get(), cookie);
  counting->Release();
  return 0;
}

// Each figure runs in a process of its own: a client keeps the driver image
// it attached to for as long as it lives, and the two figures need two
// different drivers.
int RunPart(const std::string& part, const std::string& options) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  vrt::testing::ProbeProcess child(self, "--part " + part + " " + options);
  child.WaitForEnd(600s);
  const auto lines = child.Output();
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return lines.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  int changes = 100;
  double seconds = 3.0;
  std::string part;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--changes") == 0) changes = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--part") == 0) part = argv[i + 1];
  }
  if (part.empty()) {
    // Registering loads VRTSTSR.dll, which starts whatever driver
    // "DriverExe" names (./run and an installed node leave one): that
    // driver would then hold the control block the parts need for their own.
    vrt::testing::DeleteConfigValue(vrt::kDriverExeValue);
    if (vrt::testing::RunRegsvr32(false) != 0) {
      std::fprintf(stderr, "regsvr32 VRTOPC.dll failed\n");
      return 1;
    }
    const std::string options = "--changes " + std::to_string(changes) + " --seconds " + std::to_string(seconds);
    // The CPU figure first: the latency figures leave the surrogate process
    // running, and it keeps its driver's control block.
    const int ticks = RunPart("ticks", options);
    return RunPart("latency", options) != 0 ? 1 : ticks;
  }
  vrt::testing::ComApartment apartment;
  return part == "latency" ? Latency(changes) : TickCpu(seconds);
}
