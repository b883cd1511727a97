// DA 3.0 item sampling (IOPCItemSamplingMgt) with the real driver, card
// server and simulator: an item read at a rate of its own apart from its
// group's updates, never quicker than its poll record is polled, and the
// changes it samples between two updates delivered oldest first in one
// callback, a full buffer saying what it dropped; in this process and out
// of process through the proxies.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "opc_client.h"
#include "opc_plant.h"

namespace vrt::testing {
namespace {

constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0xC0040001);
constexpr HRESULT kUnsupportedRate = static_cast<HRESULT>(0x0004000D);
constexpr HRESULT kRateNotSet = static_cast<HRESULT>(0xC0040405);
constexpr HRESULT kDataQueueOverflow = static_cast<HRESULT>(0x00040404);
constexpr std::size_t kBufferCapacity = 64;

// Station 5's register 0x102 climbs by itself, 100 a second (0..30000 and
// back over ten minutes): a value that changes at every poll.
constexpr const char* kRampNetwork = R"({ "control_port": 0, "cards": [
  { "card": 1, "port": 0, "stations": [
    { "station": 5, "type": "ZOLT", "registers": { "0x100": [1234, 5, 0, 0] },
      "moving": [ { "register": 258, "kind": "ramp", "low": 0, "high": 30000, "seconds": 600 } ] } ] }
] })";

// 0x100..0x103 polled every 0.1 s, 0x110..0x113 every 0.5 s.
std::vector<std::uint8_t> RampImage() {
  DitPollRecord slow = FastRecord(0x110, 4, kExceptionAnalog);
  slow.pollTime = 50;
  DitChannelSource channel =
      SampleChannel(0, {SampleDevice("PUMPS", 5, {FastRecord(0x100, 4, kExceptionAnalog), slow})});
  MakeLinkQuick(channel.record.primary);
  DitConfiguration configuration;
  configuration.channels.push_back(channel);
  return WriteDitImage(configuration, 1800000000).bytes;
}

// What one OnDataChange gave one client handle, in its order.
struct Entries {
  std::vector<double> values;
  std::vector<HRESULT> errors;
};
std::map<OPCHANDLE, Entries> EntriesOf(const DataCallbackSink::Call& call) {
  std::map<OPCHANDLE, Entries> entries;
  for (std::size_t k = 0; k < call.clientHandles.size(); ++k) {
    entries[call.clientHandles[k]].values.push_back(_wtof(call.values[k].c_str()));
    entries[call.clientHandles[k]].errors.push_back(call.errors[k]);
  }
  return entries;
}

// The ordinary updates (transaction 0, some items) that came after `from`.
std::vector<DataCallbackSink::Call> UpdatesSince(DataCallbackSink& sink, ULONGLONG from) {
  std::vector<DataCallbackSink::Call> updates;
  for (auto& call : sink.Calls()) {
    if (call.kind == DataCallbackSink::Call::kDataChange && call.transactionId == 0 && !call.clientHandles.empty() &&
        call.tick > from) {
      updates.push_back(call);
    }
  }
  return updates;
}

// The five calls' results, the arrays freed.
template <typename T>
std::pair<std::vector<T>, std::vector<HRESULT>> Take(DWORD count, T* values, HRESULT* errors) {
  std::pair<std::vector<T>, std::vector<HRESULT>> taken;
  if (values != nullptr) taken.first.assign(values, values + count);
  if (errors != nullptr) taken.second.assign(errors, errors + count);
  CoTaskMemFree(values);
  CoTaskMemFree(errors);
  return taken;
}

class OpcSampling : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.simulator->Ready());
    session.UseConfiguration(session.directory + "\\RAMP.VRT", RampImage());
    session.driver = session.StartDriver();
  }

  struct Rates {
    HRESULT call;
    std::vector<DWORD> rates;
    std::vector<HRESULT> errors;
  };
  static Rates SetRates(IOPCItemSamplingMgt& sampling, std::vector<OPCHANDLE> handles, std::vector<DWORD> requested) {
    DWORD* revised = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT call = sampling.SetItemSamplingRate(static_cast<DWORD>(handles.size()), handles.data(),
                                                      requested.data(), &revised, &errors);
    auto [rates, entryErrors] = Take(static_cast<DWORD>(handles.size()), revised, errors);
    return {call, rates, entryErrors};
  }
  static Rates GetRates(IOPCItemSamplingMgt& sampling, std::vector<OPCHANDLE> handles) {
    DWORD* rates = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT call = sampling.GetItemSamplingRate(static_cast<DWORD>(handles.size()), handles.data(), &rates, &errors);
    auto [values, entryErrors] = Take(static_cast<DWORD>(handles.size()), rates, errors);
    return {call, values, entryErrors};
  }
  static HRESULT SetBuffering(IOPCItemSamplingMgt& sampling, OPCHANDLE handle, BOOL enable) {
    HRESULT* errors = nullptr;
    const HRESULT call = sampling.SetItemBufferEnable(1, &handle, &enable, &errors);
    const HRESULT entry = errors != nullptr ? errors[0] : E_POINTER;
    CoTaskMemFree(errors);
    return FAILED(call) ? call : entry;
  }
  static BOOL Buffering(IOPCItemSamplingMgt& sampling, OPCHANDLE handle) {
    BOOL* enabled = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(sampling.GetItemBufferEnable(1, &handle, &enabled, &errors), S_OK);
    auto [values, entryErrors] = Take(1, enabled, errors);
    return values.empty() ? -1 : values[0];
  }
  static HRESULT Clear(IOPCItemSamplingMgt& sampling, OPCHANDLE handle) {
    HRESULT* errors = nullptr;
    const HRESULT call = sampling.ClearItemSamplingRate(1, &handle, &errors);
    const HRESULT entry = errors != nullptr ? errors[0] : E_POINTER;
    CoTaskMemFree(errors);
    return FAILED(call) ? call : entry;
  }
  static void SetUpdateRate(IOPCItemMgt& group, DWORD rate) {
    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(group.QueryInterface(IID_IOPCGroupStateMgt, state.OutVoid()), S_OK);
    DWORD revised = 0;
    ASSERT_EQ(state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  }

  // The group's first update with entries for both handles after `from`
  // (within `limit`), split by handle.
  static std::map<OPCHANDLE, Entries> NextUpdate(DataCallbackSink& sink, ULONGLONG from, std::chrono::milliseconds limit,
                                                 OPCHANDLE sampled, DataCallbackSink::Call* whole = nullptr) {
    std::map<OPCHANDLE, Entries> found;
    WaitFor(
        [&] {
          for (const auto& call : UpdatesSince(sink, from)) {
            auto entries = EntriesOf(call);
            if (entries.count(sampled) != 0) {
              found = entries;
              if (whole != nullptr) *whole = call;
              return true;
            }
          }
          return false;
        },
        limit);
    return found;
  }

  void SampledAndBuffered(IOPCServer& opc);

  DriverSession session{
      "vrt-sampling-" + std::to_string(::testing::UnitTest::GetInstance()->current_test_info()->line()), kRampNetwork,
      {1}};
  ComApartment apartment;
};

void OpcSampling::SampledAndBuffered(IOPCServer& opc) {
  // The ramp twice, once sampled on its own (client handle 1) and once at
  // the group's rate (2); a register of the slowly polled record (3); and
  // a register that changes only when the station is told (4).
  DataCallbackSink sink;  // outlives the group, which may still hold it
  ComPtr<IOPCItemMgt> group;
  ASSERT_EQ(AddGroup(opc, L"sampled", group, nullptr, TRUE, 2000), S_OK);
  const auto added =
      AddItems(*group.Get(), {L"PUMPS:DIT:258", L"PUMPS:DIT:258", L"PUMPS:DIT:272", L"PUMPS:DIT:256"});
  ASSERT_EQ(added.size(), 4u);
  for (const auto& item : added) ASSERT_EQ(item.error, S_OK);
  const OPCHANDLE ramp = added[0].handle;
  const OPCHANDLE neighbour = added[1].handle;
  const OPCHANDLE slow = added[2].handle;
  const OPCHANDLE still = added[3].handle;
  // What the callbacks name them by.
  constexpr OPCHANDLE kRampClient = 1;
  constexpr OPCHANDLE kNeighbourClient = 2;
  constexpr OPCHANDLE kStillClient = 4;
  ComPtr<IOPCItemSamplingMgt> sampling;
  ASSERT_EQ(group.As(sampling), S_OK);

  // Nothing of its own until set; an unknown handle in its own entry.
  Rates before = GetRates(*sampling.Get(), {ramp, 0xBAD});
  EXPECT_EQ(before.call, S_FALSE);
  EXPECT_EQ(before.errors, (std::vector<HRESULT>{kRateNotSet, kInvalidHandle}));
  EXPECT_EQ(before.rates[0], 0u);
  EXPECT_EQ(Clear(*sampling.Get(), ramp), kRateNotSet);
  EXPECT_EQ(Buffering(*sampling.Get(), ramp), FALSE);

  // Never quicker than the poll record (0.1 s, 0.5 s) nor the poll thread
  // (0.1 s); 0 asks for the quickest. A rate that can be kept stays.
  Rates set = SetRates(*sampling.Get(), {ramp, slow, neighbour, 0xBAD}, {20, 100, 0, 100});
  EXPECT_EQ(set.call, S_FALSE);
  EXPECT_EQ(set.rates, (std::vector<DWORD>{100, 500, 100, 0}));
  EXPECT_EQ(set.errors, (std::vector<HRESULT>{kUnsupportedRate, kUnsupportedRate, kUnsupportedRate, kInvalidHandle}));
  set = SetRates(*sampling.Get(), {slow}, {750});
  EXPECT_EQ(set.call, S_OK);
  EXPECT_EQ(set.rates, (std::vector<DWORD>{750}));
  EXPECT_EQ(set.errors, (std::vector<HRESULT>{S_OK}));
  Rates now = GetRates(*sampling.Get(), {ramp, slow});
  EXPECT_EQ(now.call, S_OK);
  EXPECT_EQ(now.rates, (std::vector<DWORD>{100, 750}));
  // The neighbour goes back to the group's rate.
  EXPECT_EQ(Clear(*sampling.Get(), neighbour), S_OK);
  EXPECT_EQ(GetRates(*sampling.Get(), {neighbour}).errors, (std::vector<HRESULT>{kRateNotSet}));

  EXPECT_EQ(SetBuffering(*sampling.Get(), ramp, TRUE), S_OK);
  EXPECT_EQ(Buffering(*sampling.Get(), ramp), TRUE);
  EXPECT_EQ(SetBuffering(*sampling.Get(), 0xBAD, TRUE), kInvalidHandle);

  DWORD cookie = 0;
  ASSERT_EQ(AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);

  // Every 2 s: the ramp's changes of those 2 s, oldest first (about 20),
  // each with its own time stamp; the neighbour once, with the latest.
  ULONGLONG from = GetTickCount64() + 2500;  // past the first update
  Sleep(2500);
  std::map<OPCHANDLE, Entries> update = NextUpdate(sink, from, 5s, kRampClient);
  ASSERT_EQ(update.count(kRampClient), 1u) << "no update with the sampled item";
  const Entries& sampled = update[kRampClient];
  EXPECT_GE(sampled.values.size(), 8u);
  EXPECT_LE(sampled.values.size(), 30u);
  for (std::size_t k = 1; k < sampled.values.size(); ++k) {
    EXPECT_GT(sampled.values[k], sampled.values[k - 1]) << "entry " << k << " of a rising ramp";
  }
  for (HRESULT error : sampled.errors) EXPECT_EQ(error, S_OK);
  ASSERT_EQ(update.count(kNeighbourClient), 1u);
  EXPECT_EQ(update[kNeighbourClient].values.size(), 1u);
  EXPECT_GE(update[kNeighbourClient].values[0], sampled.values.back());

  // A value that changes once between two updates is one change: the
  // samples after it find the same value and add nothing to the buffer.
  EXPECT_EQ(SetRates(*sampling.Get(), {still}, {100}).call, S_OK);
  EXPECT_EQ(SetBuffering(*sampling.Get(), still, TRUE), S_OK);
  NextUpdate(sink, GetTickCount64(), 5s, kRampClient, nullptr);  // the rate's first sample goes out
  from = GetTickCount64();
  SetRegister(session, "0x100", 4321);
  update = NextUpdate(sink, from, 5s, kStillClient);
  ASSERT_EQ(update.count(kStillClient), 1u) << "no update with the changed register";
  EXPECT_EQ(update[kStillClient].values, (std::vector<double>{4321}));
  EXPECT_EQ(SetBuffering(*sampling.Get(), still, FALSE), S_OK);
  EXPECT_EQ(Clear(*sampling.Get(), still), S_OK);

  // Updates 8 s apart: more changes than the buffer holds. The oldest are
  // dropped and the oldest kept says so; the update's master error too.
  // (The first update after the change of rate may still be due at the
  // old one: the second is the one to look at.)
  SetUpdateRate(*group.Get(), 8000);
  DataCallbackSink::Call whole{};
  NextUpdate(sink, GetTickCount64(), 10s, kRampClient, &whole);
  update = NextUpdate(sink, whole.tick, 12s, kRampClient, &whole);
  ASSERT_EQ(update.count(kRampClient), 1u) << "no update with the sampled item";
  EXPECT_EQ(update[kRampClient].values.size(), kBufferCapacity);
  EXPECT_EQ(update[kRampClient].errors.front(), kDataQueueOverflow);
  for (std::size_t k = 1; k < update[kRampClient].errors.size(); ++k) EXPECT_EQ(update[kRampClient].errors[k], S_OK) << k;
  EXPECT_EQ(whole.masterError, S_FALSE);
  for (std::size_t k = 1; k < update[kRampClient].values.size(); ++k) EXPECT_GT(update[kRampClient].values[k], update[kRampClient].values[k - 1]);

  // Buffering off: the latest sample only.
  SetUpdateRate(*group.Get(), 1000);
  EXPECT_EQ(SetBuffering(*sampling.Get(), ramp, FALSE), S_OK);
  NextUpdate(sink, GetTickCount64(), 10s, kRampClient, &whole);
  update = NextUpdate(sink, whole.tick, 5s, kRampClient);
  ASSERT_EQ(update.count(kRampClient), 1u);
  EXPECT_EQ(update[kRampClient].values.size(), 1u);

  // Slower than the group: the sampled item changes at its own rate, its
  // neighbour at every update.
  SetUpdateRate(*group.Get(), 300);
  set = SetRates(*sampling.Get(), {ramp}, {2000});
  EXPECT_EQ(set.rates, (std::vector<DWORD>{2000}));
  from = GetTickCount64() + 300;
  Sleep(4300);
  std::size_t rampUpdates = 0;
  std::size_t neighbourUpdates = 0;
  for (const auto& call : UpdatesSince(sink, from)) {
    auto entries = EntriesOf(call);
    if (entries.count(kRampClient) != 0) ++rampUpdates;
    if (entries.count(kNeighbourClient) != 0) ++neighbourUpdates;
  }
  EXPECT_GE(rampUpdates, 1u);
  EXPECT_LE(rampUpdates, 3u);
  EXPECT_GE(neighbourUpdates, 8u);

  EXPECT_TRUE(EndSubscription(*group.Get(), cookie, sink));
}

TEST_F(OpcSampling, AnItemSampledAtItsOwnRateBuffersItsChangesBetweenUpdatesInTheClientsProcess) {
  ComPtr<IOPCServer> server;
  ASSERT_EQ(CreateServer(server), S_OK);
  SampledAndBuffered(*server.Get());
}

TEST_F(OpcSampling, AnItemSampledAtItsOwnRateBuffersItsChangesBetweenUpdatesThroughTheProxies) {
  ComPtr<IOPCServer> remote;
  ASSERT_EQ(CreateServer(remote, CLSCTX_LOCAL_SERVER), S_OK);
  SampledAndBuffered(*remote.Get());
}

}  // namespace
}  // namespace vrt::testing
