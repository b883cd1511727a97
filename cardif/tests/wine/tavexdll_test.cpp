// TavexDll through the real card server (TavexNet.dll, registered with
// regsvr32 in the prefix) to a TCP peer on loopback.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstring>
#include <atomic>
#include <string>
#include <thread>

#include "TavexDll.h"
#include "loopback_station.h"
#include "tavex_card_server.h"
#include "tavexnet_diagnostics.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackStation;

constexpr const char* kCardServerKey = "Software\\Kalvento\\Tavex\\CardServer";
constexpr std::int16_t kCard = 1;

void SetCardEndpoints(const std::vector<std::pair<std::string, std::string>>& values) {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kCardServerKey);
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCardServerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  for (const auto& [name, value] : values) {
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
  RegCloseKey(key);
}

// Watches for the library's message box, keeps its text and presses OK.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher() : thread_([this] { Watch(); }) {}
  ~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  std::string Text() {
    for (int i = 0; i < 200 && !seen_; ++i) Sleep(10);
    return seen_ ? text_ : "";
  }
  static bool DisplayAvailable() { return GetEnvironmentVariableA("DISPLAY", nullptr, 0) > 0; }

 private:
  void Watch() {
    while (!stop_) {
      if (HWND box = FindWindowA(nullptr, "M5820A")) {
        char text[256] = {};
        // A closing box may still be found once more, without its text.
        if (GetDlgItemTextA(box, 0xFFFF, text, sizeof text) > 0 && !seen_) {
          text_ = text;
          seen_ = true;
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
      }
      Sleep(10);
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<bool> seen_{false};
  std::string text_;
  std::thread thread_;
};

// The card server objects of this process share their cards: a second
// object gives the tests a view of what TavexDll's object did.
ITavexNetDiagnostics* Diagnostics() {
  void* object = nullptr;
  CoCreateInstance(CLSID_TavexCardServer, nullptr, CLSCTX_INPROC_SERVER, IID_ITavexNetDiagnostics, &object);
  return static_cast<ITavexNetDiagnostics*>(object);
}

std::vector<std::int32_t> Elements(const VARIANT& value) {
  std::vector<std::int32_t> elements;
  LONG upper = -1;
  SafeArrayGetUBound(value.parray, 1, &upper);
  void* data = nullptr;
  SafeArrayAccessData(value.parray, &data);
  elements.assign(static_cast<std::int32_t*>(data), static_cast<std::int32_t*>(data) + upper + 1);
  SafeArrayUnaccessData(value.parray);
  return elements;
}

class TavexCard : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    SetCardEndpoints({{"Card1", "127.0.0.1:" + std::to_string(station.Port())}});
    ASSERT_EQ(InitTavexInterface(), 1);  // one configured card
    diagnostics = Diagnostics();
    ASSERT_NE(diagnostics, nullptr);
    ASSERT_EQ(InitTavexCard(kCard), kCard + 1);
    ASSERT_TRUE(station.Accept(5s));
  }
  void TearDown() override {
    if (diagnostics != nullptr) diagnostics->Release();
    ReleaseTavexInterface();
    CoUninitialize();
  }

  // Waits for one frame (result 0); any other result ends the wait.
  std::int16_t ReceiveFrame(std::vector<std::uint8_t>* frame, std::chrono::milliseconds timeout = 5s) {
    std::array<std::uint8_t, 256> buffer{};
    std::int16_t length = -1;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::int16_t result = 1;
    while (std::chrono::steady_clock::now() < deadline) {
      result = TavexReceive(kCard, &length, buffer.data());
      if (result != 1) break;
      Sleep(5);
    }
    if (result == 0) frame->assign(buffer.begin(), buffer.begin() + length);
    return result;
  }

  LoopbackStation station;
  ITavexNetDiagnostics* diagnostics = nullptr;
};

TEST_F(TavexCard, FramesOfEveryKindTravelToTheStationAndRepliesComeBack) {
  struct Exchange {
    const char* what;
    std::vector<std::uint8_t> request;
    std::vector<std::uint8_t> reply;
  };
  const std::vector<Exchange> exchanges = {
      {"read words", {0x05, 0x03, 0x64, 0x01, 0x2C, 0x02}, {0x05, 0x07, 0x65, 0x01, 0x2C, 0x02, 0x12, 0x34, 0xFF, 0x80}},
      {"event request", {0x09, 0x02, 0x0F, 0x11, 0x00},
       {0x09, 0x0B, 0x0F, 0x11, 0x00, 0x21, 0x0E, 0x05, 0x09, 0x03, 0x07, 0x19, 0x01, 0xF4}},
      {"event repeat", {0x09, 0x02, 0x0F, 0x13, 0x00}, {0x09, 0x02, 0x0F, 0x13, 0x00}},
      {"TORAVINE", {0x0C, 0x04, 0x56, 0x63, 0x01, 0x58, 0x00}, {0x0C, 0x02, 0x57, 0x63, 0x01}},
      {"write words", {0x05, 0x09, 0x66, 0x00, 0x10, 0x03, 0x00, 0x01, 0x00, 0x02, 0xFF, 0xFF}, {0x05, 0x00, 0x67}},
      {"masked write", {0x05, 0x05, 0x66, 0x00, 0x10, 0x01, 0x00, 0x05}, {0x05, 0x00, 0x67}},
      {"time sync", {0x09, 0x07, 0x0F, 0x0A, 0x0E, 0x05, 0x09, 0x03, 0x07, 0x05}, {0x09, 0x01, 0x0F, 0x0A}},
  };
  for (const Exchange& exchange : exchanges) {
    ASSERT_EQ(TavexSend(kCard, static_cast<std::int16_t>(exchange.request.size()), exchange.request.data()), 0)
        << exchange.what;
    EXPECT_EQ(station.Read(exchange.request.size(), 5s), exchange.request) << exchange.what;
    ASSERT_TRUE(station.Write(exchange.reply));
    std::vector<std::uint8_t> reply;
    ASSERT_EQ(ReceiveFrame(&reply), 0) << exchange.what;
    EXPECT_EQ(reply, exchange.reply) << exchange.what;
  }
  LONG sent = 0, received = 0, discarded = 0, connects = 0;
  ASSERT_EQ(diagnostics->GetCounters(kCard, &sent, &received, &discarded, &connects), S_OK);
  EXPECT_EQ(sent, 7);
  EXPECT_EQ(received, 7);
  EXPECT_EQ(connects, 1);
}

TEST_F(TavexCard, ATwoByteFrameTravelsAsASevenElementArray) {
  const std::uint8_t frame[] = {0x12, 0x00};
  ASSERT_EQ(TavexSend(kCard, 2, frame), 0);
  VARIANT array;
  ASSERT_EQ(diagnostics->GetLastSentArray(kCard, &array), S_OK);
  EXPECT_EQ(Elements(array), (std::vector<std::int32_t>{0, 0x12, 0, kCard + 1, 0, 0, 0}));
  VariantClear(&array);
  EXPECT_EQ(station.Read(2, 5s), (std::vector<std::uint8_t>{0x12, 0x00}));
}

TEST_F(TavexCard, ArraysThatDoNotHoldTheirFrameAreRefusedWithoutOverrun) {
  auto inject = [&](const std::vector<std::int32_t>& elements) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(elements.size()));
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, elements.data(), elements.size() * 4);
    SafeArrayUnaccessData(array);
    VARIANT value;
    value.vt = VT_ARRAY | VT_I4;
    value.parray = array;
    EXPECT_EQ(diagnostics->InjectReceiveArray(kCard, value), S_OK);
    SafeArrayDestroy(array);
  };
  std::array<std::uint8_t, 256 + 64> guarded{};
  guarded.fill(0xEE);
  std::int16_t length = 77;

  inject(std::vector<std::int32_t>(7, 0));  // upper bound 6
  EXPECT_EQ(TavexReceive(kCard, &length, guarded.data()), 3);
  EXPECT_EQ(length, 0);

  inject({0, 0, 0, 5, 0, 6, 0, 0x65, 1, 2});  // count 6 announces more than it holds
  length = 77;
  EXPECT_EQ(TavexReceive(kCard, &length, guarded.data()), 4);
  EXPECT_EQ(length, 0);

  std::vector<std::int32_t> tooLong(7 + 400, 0x33);
  tooLong[5] = 2;
  inject(tooLong);
  length = 77;
  EXPECT_EQ(TavexReceive(kCard, &length, guarded.data()), 4);
  EXPECT_EQ(length, 0);
  for (std::size_t i = 0; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0xEE) << "byte " << i;

  // Nothing waiting: the card's status 1, length 0.
  length = 77;
  EXPECT_EQ(TavexReceive(kCard, &length, guarded.data()), 1);
  EXPECT_EQ(length, 0);
}

TEST_F(TavexCard, AFrameLongerThanTheBufferIsDiscardedAndCounted) {
  std::vector<std::uint8_t> stream = {0x05, 0xFE};
  stream.insert(stream.end(), 255, 0x44);
  const std::vector<std::uint8_t> good = {0x05, 0x01, 0x65, 0x07};
  stream.insert(stream.end(), good.begin(), good.end());
  ASSERT_TRUE(station.Write(stream));
  std::vector<std::uint8_t> frame;
  ASSERT_EQ(ReceiveFrame(&frame), 0);
  EXPECT_EQ(frame, good);
  LONG sent = 0, received = 0, discarded = 0, connects = 0;
  diagnostics->GetCounters(kCard, &sent, &received, &discarded, &connects);
  EXPECT_EQ(discarded, 1);
  EXPECT_EQ(received, 1);
}

TEST_F(TavexCard, TheCardServerReconnectsWhenTheNetworkComesBack) {
  const std::uint16_t port = station.Port();
  station.Close();
  // Sends fail while nobody listens (status 2 once the loss is noticed).
  const std::uint8_t frame[] = {0x05, 0x03, 0x64, 0x00, 0x00, 0x01};
  std::int16_t result = 0;
  for (int i = 0; i < 100 && result == 0; ++i) {
    std::array<std::uint8_t, 256> buffer{};
    std::int16_t length = 0;
    TavexReceive(kCard, &length, buffer.data());  // notices the closed connection
    result = TavexSend(kCard, sizeof frame, frame);
    Sleep(20);
  }
  EXPECT_EQ(result, 2);

  LoopbackStation restarted(port);
  ASSERT_EQ(restarted.Port(), port);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (TavexSend(kCard, sizeof frame, frame) != 0 && std::chrono::steady_clock::now() < deadline) Sleep(50);
  ASSERT_TRUE(restarted.Accept(5s));
  EXPECT_EQ(restarted.Read(sizeof frame, 5s), std::vector<std::uint8_t>(frame, frame + sizeof frame));
  LONG sent = 0, received = 0, discarded = 0, connects = 0;
  diagnostics->GetCounters(kCard, &sent, &received, &discarded, &connects);
  EXPECT_EQ(connects, 2);
}

TEST_F(TavexCard, CardNumbersOutsideZeroToThreeAreRefused) {
  const std::uint8_t frame[] = {0x05, 0x03, 0x64, 0x00, 0x00, 0x01};
  EXPECT_EQ(InitTavexCard(4), 0);
  EXPECT_EQ(InitTavexCard(-1), 0);
  EXPECT_EQ(TavexSend(4, sizeof frame, frame), 1);
  std::array<std::uint8_t, 256> buffer{};
  std::int16_t length = 9;
  EXPECT_EQ(TavexReceive(-2, &length, buffer.data()), 1);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(InitTavexCard(2), 0);  // not configured: only Card1 is
}

class TavexCardServerMissing : public ::testing::Test {
 protected:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  void TearDown() override {
    ReleaseTavexInterface();
    CoUninitialize();
  }
};

TEST_F(TavexCardServerMissing, WithoutARegisteredServerEveryCallReportsIt) {
  // Unregister for the duration of this test, the way regsvr32 /u would.
  HMODULE server = LoadLibraryA("TavexNet.dll");
  ASSERT_NE(server, nullptr);
  using Registration = HRESULT(STDAPICALLTYPE*)();
  auto unregister = reinterpret_cast<Registration>(reinterpret_cast<void*>(GetProcAddress(server, "DllUnregisterServer")));
  auto reregister = reinterpret_cast<Registration>(reinterpret_cast<void*>(GetProcAddress(server, "DllRegisterServer")));
  ASSERT_EQ(unregister(), S_OK);

  {
    MessageBoxWatcher watcher;
    EXPECT_EQ(InitTavexInterface(), 0);
    if (MessageBoxWatcher::DisplayAvailable()) {
      EXPECT_EQ(watcher.Text(), "Error creating the COM object!");
    }
  }
  EXPECT_EQ(InitTavexCard(1), 0);
  const std::uint8_t frame[] = {0x05, 0x03, 0x64, 0x00, 0x00, 0x01};
  EXPECT_EQ(TavexSend(1, sizeof frame, frame), 1);
  std::array<std::uint8_t, 256> buffer{};
  std::int16_t length = 9;
  EXPECT_EQ(TavexReceive(1, &length, buffer.data()), 1);
  EXPECT_EQ(length, 9);  // untouched without a server

  EXPECT_EQ(reregister(), S_OK);
}

TEST_F(TavexCardServerMissing, NoUsableCardIsReportedAndTheCallsGoOn) {
  SetCardEndpoints({{"Card0", "not an endpoint"}});
  {
    MessageBoxWatcher watcher;
    EXPECT_EQ(InitTavexInterface(), 0);
    if (MessageBoxWatcher::DisplayAvailable()) {
      EXPECT_EQ(watcher.Text(), "No M5820 Cards have been detected on this system. Application will shut down.");
    }
  }
  EXPECT_EQ(InitTavexCard(0), 0);
}

}  // namespace
}  // namespace vrt
