// The server under several clients at once: a subscriber with two groups of
// 400 items streaming DA 2.0 callbacks and DA 1.0 streams while the
// station's registers change every 20 ms, and beside it threads of this
// process (multithreaded and, through the proxies, single-threaded) and of
// a second process (through the surrogate) calling every method in random
// order. It fails when a thread makes no call for 5 s, when the streams
// stop, when a call gives a result it may not give, or when anything of
// the clients is left in the server after they let go.
//
// VRT_OPC_STRESS_SECONDS sets how long the clients run (30 s by default).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "opc_plant.h"
#include "stress_client_win32.h"

namespace vrt::testing {
namespace {

constexpr int kRegisters = 400;
constexpr int kRecordLength = 50;
constexpr std::uint16_t kFirstRegister = 0x100;

// How long a client thread may be in one call, or a subscription deliver
// nothing, before it counts as hung: 5 s, wider where every process runs
// emulated (one round trip through the surrogate there can take seconds when
// both cores are busy).
std::uint64_t StallLimit() { return 5000ull * static_cast<std::uint64_t>(TimeScale()); }

unsigned StressSeconds() {
  const char* text = std::getenv("VRT_OPC_STRESS_SECONDS");
  const unsigned long seconds = text != nullptr ? std::strtoul(text, nullptr, 10) : 0;
  return seconds > 0 ? static_cast<unsigned>(seconds) : 30;
}

// Station 5 with 400 registers from 0x100, polled as eight records of 50.
std::string Network() {
  std::string values;
  for (int k = 0; k < kRegisters; ++k) values += (k == 0 ? "" : ",") + std::to_string(k);
  return R"({ "control_port": 0, "cards": [ { "card": 1, "port": 0, "stations": [
    { "station": 5, "type": "ZOLT", "registers": { "0x100": [)" +
         values + "] } } ] } ] }";
}

std::vector<std::uint8_t> Image() {
  std::vector<DitPollRecord> records;
  for (int k = 0; k < kRegisters / kRecordLength; ++k) {
    records.push_back(FastRecord(static_cast<std::uint16_t>(kFirstRegister + k * kRecordLength), kRecordLength,
                                 kExceptionAnalog));
  }
  DitChannelSource channel = SampleChannel(0, {SampleDevice("PUMPS", 5, records)});
  MakeLinkQuick(channel.record.primary);
  DitConfiguration configuration;
  configuration.channels.push_back(channel);
  return WriteDitImage(configuration, 1800000000).bytes;
}

std::vector<std::wstring> AnalogIds() {
  std::vector<std::wstring> ids;
  for (int k = 0; k < kRegisters; ++k) ids.push_back(L"PUMPS:DIT:" + std::to_wstring(kFirstRegister + k));
  return ids;
}

std::vector<std::wstring> BitIds() {
  std::vector<std::wstring> ids;
  for (int k = 0; k < kRegisters / 16; ++k) {
    for (int bit = 0; bit < 16; ++bit) {
      ids.push_back(L"PUMPS:DIT:" + std::to_wstring(kFirstRegister + k) + L":" + std::to_wstring(bit));
    }
  }
  return ids;
}

// A subscribed group: its callback and its DA 1.0 streams.
struct Subscription {
  ComPtr<IOPCItemMgt> items;
  OPCHANDLE handle = 0;
  tool::StressCallback* callback = new tool::StressCallback();
  tool::StressStreamSink* streams = new tool::StressStreamSink();
  DWORD cookie = 0;
  std::vector<DWORD> connections;
  ~Subscription() {
    callback->Release();
    streams->Release();
  }
};

class OpcStress : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.simulator->Ready());
    session.UseConfiguration(session.directory + "\\PLANT.VRT", Image());
    session.driver = session.StartDriver();
    ASSERT_EQ(CreateServer(server), S_OK);
  }

  void Subscribe(Subscription& subscription, const wchar_t* name, const std::vector<std::wstring>& ids,
                 std::initializer_list<CLIPFORMAT> formats) {
    ASSERT_EQ(AddGroup(*server.Get(), name, subscription.items, &subscription.handle, TRUE, 100), S_OK);
    HRESULT overall = E_FAIL;
    const auto added = AddItems(*subscription.items.Get(), ids, TRUE, VT_EMPTY, &overall);
    ASSERT_EQ(overall, S_OK) << "the items of " << std::string(name, name + wcslen(name));
    ASSERT_EQ(AdviseDataCallback(*subscription.items.Get(), subscription.callback, &subscription.cookie), S_OK);
    ComPtr<IDataObject> data;
    ASSERT_EQ(subscription.items.As(data), S_OK);
    for (CLIPFORMAT format : formats) {
      FORMATETC request{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
      DWORD connection = 0;
      ASSERT_EQ(data->DAdvise(&request, ADVF_PRIMEFIRST, subscription.streams, &connection), S_OK);
      subscription.connections.push_back(connection);
    }
  }

  void Unsubscribe(Subscription& subscription) {
    EXPECT_EQ(UnadviseDataCallback(*subscription.items.Get(), subscription.cookie), S_OK);
    ComPtr<IDataObject> data;
    ASSERT_EQ(subscription.items.As(data), S_OK);
    for (DWORD connection : subscription.connections) EXPECT_EQ(data->DUnadvise(connection), S_OK);
    data.Reset();
    subscription.items.Reset();
    EXPECT_EQ(server->RemoveGroup(subscription.handle, FALSE), S_OK);
  }

  DWORD GroupCount() {
    OPCSERVERSTATUS* status = nullptr;
    if (server->GetStatus(&status) != S_OK || status == nullptr) return ~0u;
    const DWORD count = status->dwGroupCount;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return count;
  }

  std::string GroupNames() {
    ComPtr<IEnumString> names;
    std::string list;
    if (server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, names.OutUnknown()) != S_OK) return list;
    LPOLESTR name = nullptr;
    ULONG fetched = 0;
    while (names->Next(1, &name, &fetched) == S_OK && fetched == 1) {
      for (const wchar_t* c = name; *c != 0; ++c) list.push_back(static_cast<char>(*c));
      list += " ";
      CoTaskMemFree(name);
    }
    return list;
  }

  DriverSession session{"vrt-opc-stress", Network(), {1}};
  ComApartment apartment;
  ComPtr<IOPCServer> server;
};

// Every 20 ms the next fifty registers take new values, so that all of them
// change several times a second.
class RegisterChanger {
 public:
  explicit RegisterChanger(SimulatorSession& simulator) : thread_([this, &simulator] { Run(simulator); }) {}
  ~RegisterChanger() {
    stop_ = true;
    thread_.join();
  }
  std::uint64_t Changes() const { return changes_; }

 private:
  void Run(SimulatorSession& simulator) {
    int block = 0;
    int round = 1;
    while (!stop_) {
      std::string command = "set 1 5 " + std::to_string(kFirstRegister + block * kRecordLength);
      for (int k = 0; k < kRecordLength; ++k) command += " " + std::to_string((round * 7 + k) % 1000);
      if (simulator.Command(command).empty()) ++changes_;
      if (++block == kRegisters / kRecordLength) {
        block = 0;
        ++round;
      }
      Sleep(20);
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> changes_{0};
  std::thread thread_;
};

TEST_F(OpcStress, ManyClientsAtOnceNeitherHangNorGetResultsTheyMayNotGet) {
  const unsigned seconds = StressSeconds();
  Subscription analog;
  Subscription digital;
  Subscribe(analog, L"Subscribed analog", AnalogIds(), {DataTimeFormat(), DataFormat()});
  Subscribe(digital, L"Subscribed digital", BitIds(), {DataFormat()});
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(WaitFor([&] { return analog.callback->calls > 0 && digital.streams->streams > 0; }, 20s))
      << "the subscriptions never delivered";

  RegisterChanger changer(*session.simulator);
  tool::StressOptions options;
  options.mtaThreads = 3;
  options.staThread = true;
  for (int k = 0; k < 40; ++k) options.itemIds.push_back(AnalogIds()[static_cast<std::size_t>(k * 10)]);
  for (int k = 0; k < 20; ++k) options.itemIds.push_back(BitIds()[static_cast<std::size_t>(k * 20)]);
  options.sharedGroups = {L"Subscribed analog", L"Subscribed digital"};
  options.seed = static_cast<unsigned>(GetTickCount());
  std::printf("stress: %u s, seed %u\n", seconds, options.seed);
  tool::StressClient client(options);
  ASSERT_EQ(client.Start(server.Get()), S_OK);
  // The second process: a client of its own server in the surrogate.
  ProbeProcess other(ProgramDirectory() + "\\opcstress.exe",
                     "--local-server --sta --threads 2 --seconds " + std::to_string(seconds) +
                         " --items PUMPS:DIT:256..300,PUMPS:DIT:256..263:3 --seed " + std::to_string(options.seed) +
                         " --stall-seconds " + std::to_string(StallLimit() / 1000));
  ASSERT_TRUE(other.Started());

  // The subscriptions must keep delivering: something in every stall limit.
  std::uint64_t seen[4] = {};
  ULONGLONG windowStart = GetTickCount64();
  std::string failure = tool::WatchProgress(client, seconds * 1000ull, StallLimit(), [&]() -> std::string {
    if (GetTickCount64() - windowStart < StallLimit()) return {};
    const std::uint64_t now[4] = {analog.callback->calls, analog.streams->streams, digital.callback->calls,
                                  digital.streams->streams};
    const char* names[4] = {"OnDataChange of the analog group", "the analog group's DA 1.0 streams",
                            "OnDataChange of the digital group", "the digital group's DA 1.0 streams"};
    for (int k = 0; k < 4; ++k) {
      if (now[k] == seen[k]) return std::string(names[k]) + " stopped";
      seen[k] = now[k];
    }
    windowStart = GetTickCount64();
    return {};
  });
  if (failure.empty()) failure = client.Finish(StallLimit());
  if (!failure.empty()) {
    // The stalled threads never come back: say what happened and end here.
    std::fprintf(stderr, "FAILED: %s (after %llu calls, %llu register changes)\n%s", failure.c_str(),
                 static_cast<unsigned long long>(client.TotalCalls()),
                 static_cast<unsigned long long>(changer.Changes()), tool::ThreadsReport(client).c_str());
    // Ten seconds more tell a hang from a crawl.
    const std::uint64_t callbacks = analog.callback->calls + digital.callback->calls;
    Sleep(10000);
    std::fprintf(stderr, "ten seconds later (%llu more OnDataChange):\n%s",
                 static_cast<unsigned long long>(analog.callback->calls + digital.callback->calls - callbacks),
                 tool::ThreadsReport(client).c_str());
    tool::EndStalledProcess(1);
  }
  EXPECT_EQ(client.Violations(), std::vector<std::string>{});
  std::printf("stress: %llu calls in this process, %llu OnDataChange, %llu streams, %llu register changes\n",
              static_cast<unsigned long long>(client.TotalCalls()),
              static_cast<unsigned long long>(analog.callback->calls + digital.callback->calls),
              static_cast<unsigned long long>(analog.streams->streams + digital.streams->streams),
              static_cast<unsigned long long>(changer.Changes()));
  for (std::size_t k = 0; k < client.ThreadCount(); ++k) {
    EXPECT_GT(client.Thread(k).calls, 100u) << client.Thread(k).name;
  }

  // The other process ends on its own, with every result allowed.
  EXPECT_TRUE(other.WaitForEnd(60s)) << "the other process did not end";
  const std::vector<std::string> lines = other.Output();
  std::string output;
  for (const std::string& line : lines) output += line + "\n";
  EXPECT_NE(output.find("opcstress: every result allowed"), std::string::npos) << output;

  // Nothing of the clients is left: only the two subscribed groups, then none.
  EXPECT_EQ(GroupCount(), 2u) << "groups left: " << GroupNames();
  Unsubscribe(analog);
  Unsubscribe(digital);
  EXPECT_EQ(GroupCount(), 0u);
  server.Reset();
  // The server lets go of the sinks (on its poll thread's next cycle at the latest).
  EXPECT_TRUE(WaitFor([&] { return analog.callback->References() == 1 && digital.callback->References() == 1; }, 5s));
  EXPECT_TRUE(WaitFor([&] { return analog.streams->References() == 1 && digital.streams->References() == 1; }, 5s));
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  const auto canUnload =
      reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("VRTOPC.dll"), "DllCanUnloadNow")));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_TRUE(WaitFor([&] { return canUnload() == S_OK; }, 5s)) << "DllCanUnloadNow stays S_FALSE";
}

}  // namespace
}  // namespace vrt::testing
