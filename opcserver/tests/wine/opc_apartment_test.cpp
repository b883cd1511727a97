// The OPC server reached through the proxy/stub libraries built from our
// IDL: from a single-threaded apartment of this process, and out of
// process in the system's surrogate (the AppID's DllSurrogate), with the
// real driver, card server and simulator behind it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "opc_client.h"
#include "opc_plant.h"
#include "opc_subscription_sink.h"

namespace vrt::testing {
namespace {

constexpr const char* kDaInterfaces[] = {
    "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}", "{39C13A4E-011E-11D0-9675-0020AFD8ADB3}",
    "{39C13A4F-011E-11D0-9675-0020AFD8ADB3}", "{39C13A50-011E-11D0-9675-0020AFD8ADB3}",
    "{39C13A51-011E-11D0-9675-0020AFD8ADB3}", "{39C13A52-011E-11D0-9675-0020AFD8ADB3}",
    "{39C13A53-011E-11D0-9675-0020AFD8ADB3}", "{39C13A54-011E-11D0-9675-0020AFD8ADB3}",
    "{39C13A55-011E-11D0-9675-0020AFD8ADB3}", "{39C13A70-011E-11D0-9675-0020AFD8ADB3}",
    "{39C13A71-011E-11D0-9675-0020AFD8ADB3}", "{39C13A72-011E-11D0-9675-0020AFD8ADB3}",
    // DA 3.0
    "{5946DA93-8B39-4EC8-AB3D-AA73DF5BC86F}", "{3E22D313-F08B-41A5-86C8-95E95CB49FFC}",
    "{39227004-A18F-4B57-8B0A-5235670F4468}", "{85C0B427-2893-4CBC-BD78-E5FC5146F08F}",
    "{730F5F0F-55B1-4C81-9E18-FF8A0904E1FA}", "{0967B97B-36EF-423E-B6F8-6BFF1E40D39D}",
    "{8E368666-D72E-4F78-87ED-647611C61C9F}"};
constexpr const char* kCommonInterfaces[] = {"{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}",
                                             "{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}"};

// Every interface of the library names the library's class as its proxy,
// and that class's server is the library.
void ExpectRegistered(const std::string& library, const char* const* interfaces, std::size_t count) {
  std::optional<std::string> proxyClass;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string key = std::string("Interface\\") + interfaces[k];
    const std::optional<std::string> clsid = ReadString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32", "");
    ASSERT_TRUE(clsid) << key;
    if (!proxyClass) proxyClass = clsid;
    EXPECT_EQ(clsid, proxyClass) << key;
    EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, key + "\\NumMethods", "")) << key;
  }
  const std::optional<std::string> server =
      ReadString(HKEY_CLASSES_ROOT, "CLSID\\" + *proxyClass + "\\InprocServer32", "");
  ASSERT_TRUE(server);
  EXPECT_EQ(lstrcmpiA(server->c_str(), library.c_str()), 0) << *server;
}

TEST(OpcProxies, BothLibrariesRegisterTheirInterfacesAndTakeThemAway) {
  const std::string proxy = ProgramDirectory() + "\\OPCProxy.dll";
  const std::string common = ProgramDirectory() + "\\opccomn_ps.dll";
  ASSERT_EQ(RunRegsvr32(false, proxy), 0);
  ASSERT_EQ(RunRegsvr32(false, common), 0);
  ExpectRegistered(proxy, kDaInterfaces, std::size(kDaInterfaces));
  ExpectRegistered(common, kCommonInterfaces, std::size(kCommonInterfaces));

  ASSERT_EQ(RunRegsvr32(true, proxy), 0);
  ASSERT_EQ(RunRegsvr32(true, common), 0);
  for (const char* iid : kDaInterfaces) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("Interface\\") + iid));
  for (const char* iid : kCommonInterfaces) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("Interface\\") + iid));
  }
  // Put back for the scenarios after this one.
  EXPECT_EQ(RunRegsvr32(false, proxy), 0);
  EXPECT_EQ(RunRegsvr32(false, common), 0);
}

// What a command prints that does not depend on the moment: values without
// their time stamps, status without the server's start time, its group
// count and bandwidth.
std::vector<std::string> Steady(const std::vector<std::string>& lines) {
  std::vector<std::string> kept;
  for (const std::string& line : lines) {
    // A property's line, as props and browse3 --props print it (indented).
    const std::size_t property = line.find("4 Item TimeStamp");
    const bool timeStamp = property != std::string::npos && property == line.find_first_not_of(' ');
    if (line.rfind("started:", 0) == 0 || line.rfind("bandwidth:", 0) == 0 || line.rfind("groups:", 0) == 0 ||
        timeStamp) {
      continue;
    }
    const std::size_t bracket = line.find("] ");
    kept.push_back(bracket == std::string::npos ? line : line.substr(0, bracket + 1));
  }
  return kept;
}

class OpcApartments : public OpcProcesses {};

TEST_F(OpcApartments, EveryOpcCommandGivesTheSameResultsInAnApartmentAndOutOfProcess) {
  server.Reset();  // the tool is the only client
  ASSERT_TRUE(WaitFor([&] { return Steady(RunOpc("read PUMPS:DIT:256 --device")).size() == 1; }, 20s));
  // items' error text comes from GetErrorString and browse DEVICE's IDs
  // from GetItemID: string [out] parameters of their own.
  const char* commands[] = {"status",
                            "read PUMPS:DIT:256 PUMPS:DIT:257:0 PUMPS:DIT:512$8 --device",
                            "read PUMPS:DIT:256 --type BSTR",
                            "items PUMPS:DIT:256 PUMPS:DIT:512$8 NOPE:DIT:1",
                            "browse",
                            "browse PUMPS",
                            "props PUMPS:DIT:256"};
  for (const char* command : commands) {
    const std::vector<std::string> inProcess = Steady(RunOpc(command));
    ASSERT_FALSE(inProcess.empty()) << command;
    EXPECT_EQ(Steady(RunOpc(std::string(command) + " --sta")), inProcess) << command << " --sta";
    EXPECT_EQ(Steady(RunOpc(std::string(command) + " --local-server")), inProcess) << command << " --local-server";
    EXPECT_EQ(Steady(RunOpc(std::string(command) + " --local-server --sta")), inProcess) << command << " both";
  }
  // Writes reach the station whichever way they go.
  int value = 70;
  for (const char* mode : {"", " --sta", " --local-server"}) {
    ++value;
    EXPECT_EQ(RunOpc("write PUMPS:DIT:259 " + std::to_string(value) + mode),
              std::vector<std::string>{"PUMPS:DIT:259 <- " + std::to_string(value) + ": ok"})
        << mode;
    EXPECT_TRUE(WaitFor([&] { return Registers("0x103", 1) == std::vector<std::string>{std::to_string(value)}; }, 10s))
        << mode;
  }
}

// Across bitness, as plants run it: a client of one bitness reaches the
// server of the other out of process, in the surrogate of the server's
// bitness, through the proxies registered in both registry views. While a
// client runs, only the other bitness's server is registered, so nothing
// else can serve it. Run from the win32 build's tests with the win64 build
// beside it (its proxies registered by the fixtures).
TEST_F(OpcApartments, ClientsOfEitherBitnessGetTheSameResultsFromTheServerOfTheOther) {
  const std::string other = OtherBitnessDirectory();
  ASSERT_FALSE(other.empty()) << "VRT_OTHER_BITNESS_BIN names no build of the other bitness";
  const std::string ours = ProgramDirectory() + "\\VRTOPC.dll";
  const std::string theirs = other + "\\VRTOPC.dll";
  server.Reset();  // the tools are the only clients
  ASSERT_TRUE(WaitFor([&] { return Steady(RunOpc("read PUMPS:DIT:256 --device")).size() == 1; }, 20s));
  const std::vector<std::string> commands = {"status",
                                             "read PUMPS:DIT:256 PUMPS:DIT:257:0 PUMPS:DIT:512$8 --device",
                                             "read PUMPS:DIT:256 --type BSTR",
                                             "browse PUMPS",
                                             "props PUMPS:DIT:256",
                                             "browse3 PUMPS --max 1",
                                             "browse3 PUMPS --props",
                                             "read PUMPS:DIT:256 PUMPS:DIT:512$8 --max-age 0"};
  std::vector<std::vector<std::string>> inProcess;
  for (const std::string& command : commands) {
    inProcess.push_back(Steady(RunOpc(command)));
    ASSERT_FALSE(inProcess.back().empty()) << command;
  }
  int value = 170;
  auto sameResultsAndAWrite = [&](const std::string& client, const std::string& how) {
    for (std::size_t k = 0; k < commands.size(); ++k) {
      EXPECT_EQ(Steady(RunOpc(commands[k] + " --local-server", client)), inProcess[k]) << commands[k] << how;
      EXPECT_EQ(Steady(RunOpc(commands[k] + " --local-server --sta", client)), inProcess[k]) << commands[k] << how;
    }
    ++value;
    EXPECT_EQ(RunOpc("write PUMPS:DIT:259 " + std::to_string(value) + " --local-server", client),
              std::vector<std::string>{"PUMPS:DIT:259 <- " + std::to_string(value) + ": ok"})
        << how;
    EXPECT_TRUE(WaitFor([&] { return Registers("0x103", 1) == std::vector<std::string>{std::to_string(value)}; }, 10s))
        << how;
  };

  // This build's server alone: the other bitness's client.
  sameResultsAndAWrite(other, " (the other bitness's client)");

  // The other build's server alone: this build's client. In process it
  // finds no server of its own bitness.
  ASSERT_EQ(RunRegsvr32(true, ours), 0);
  ASSERT_EQ(RunRegsvr32(false, theirs), 0);
  const std::vector<std::string> none = RunOpc("status");
  ASSERT_EQ(none.size(), 1u);
  EXPECT_NE(none[0].find("cannot create the OPC server"), std::string::npos) << none[0];
  sameResultsAndAWrite(ProgramDirectory(), " (the other bitness's server)");

  // Put back for the scenarios after this one.
  EXPECT_EQ(RunRegsvr32(true, theirs), 0);
  EXPECT_EQ(RunRegsvr32(false, ours), 0);
}

// The DA 3.0 commands: what they print in process, and the same in an
// apartment and out of process. Property time stamps and value times vary
// and are left out.
TEST_F(OpcApartments, TheDa3CommandsGiveTheSameResultsInAnApartmentAndOutOfProcess) {
  server.Reset();  // the tool is the only client
  ASSERT_TRUE(WaitFor([&] { return Steady(RunOpc("read PUMPS:DIT:256 --device")).size() == 1; }, 20s));
  auto steady = [](const std::string& command) {
    std::vector<std::string> lines = Steady(RunOpc(command));
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.find(" 4 Item TimeStamp") != std::string::npos; }),
                lines.end());
    return lines;
  };
  const std::string notSupported = "error 0xC0040406 ";
  const std::string noDeadband = "error 0xC0040401 ";

  EXPECT_EQ(steady("browse3"), std::vector<std::string>{"PUMPS  branch"});
  EXPECT_EQ(steady("browse3 PUMPS --max 1"),
            (std::vector<std::string>{"page 1: 1 elements", "DIT:256 - 260  item PUMPS:DIT:256", "page 2: 1 elements",
                                      "DIT:512 - 516  item PUMPS:DIT:512"}));
  const std::vector<std::string> withProperties = steady("browse3 PUMPS --props");
  ASSERT_GE(withProperties.size(), 3u);
  EXPECT_EQ(withProperties[0], "DIT:256 - 260  item PUMPS:DIT:256");
  EXPECT_EQ(withProperties[2], "  2 Item Value = 1234");
  EXPECT_NE(std::find(withProperties.begin(), withProperties.end(), "DIT:512 - 516  item PUMPS:DIT:512"),
            withProperties.end());

  const std::vector<std::string> read = steady("read PUMPS:DIT:256 PUMPS:DIT:512$8 NOPE:DIT:1 --max-age 0");
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[0], "PUMPS:DIT:256 = 1234 R4 good [192]");
  EXPECT_EQ(read[1], "PUMPS:DIT:512$8 = PUMPHOUS BSTR good [192]");
  EXPECT_EQ(read[2].rfind("NOPE:DIT:1: error 0xC004", 0), 0u) << read[2];

  const std::vector<std::string> refused = steady("write PUMPS:DIT:258 89 --vqt --quality 192");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].rfind("PUMPS:DIT:258 <- 89: " + notSupported, 0), 0u) << refused[0];
  EXPECT_GT(refused[0].size(), ("PUMPS:DIT:258 <- 89: " + notSupported).size());  // the server's text
  const std::vector<std::string> stamped = steady("write PUMPS:DIT:258 89 --vqt --time 2026-12-08T14:00:00.5");
  ASSERT_EQ(stamped.size(), 1u);
  EXPECT_EQ(stamped[0].rfind("PUMPS:DIT:258 <- 89: " + notSupported, 0), 0u) << stamped[0];

  EXPECT_EQ(steady("deadband PUMPS:DIT:256 12.5"),
            (std::vector<std::string>{"PUMPS:DIT:256 deadband 12.5%: ok", "PUMPS:DIT:256 deadband now 12.5%"}));
  const std::vector<std::string> digital = steady("deadband PUMPS:DIT:257:0 10");
  ASSERT_EQ(digital.size(), 1u);
  EXPECT_EQ(digital[0].rfind("PUMPS:DIT:257:0 deadband 10%: " + noDeadband, 0), 0u) << digital[0];

  const char* commands[] = {"browse3", "browse3 PUMPS --max 1", "browse3 PUMPS --props",
                            "read PUMPS:DIT:256 PUMPS:DIT:512$8 NOPE:DIT:1 --max-age 0",
                            "read PUMPS:DIT:256 PUMPS:DIT:512$8 --max-age 4294967295",
                            "write PUMPS:DIT:258 89 --vqt --quality 192", "deadband PUMPS:DIT:256 12.5",
                            "deadband PUMPS:DIT:257:0 10"};
  for (const char* command : commands) {
    const std::vector<std::string> inProcess = steady(command);
    ASSERT_FALSE(inProcess.empty()) << command;
    EXPECT_EQ(steady(std::string(command) + " --sta"), inProcess) << command << " --sta";
    EXPECT_EQ(steady(std::string(command) + " --local-server"), inProcess) << command << " --local-server";
    EXPECT_EQ(steady(std::string(command) + " --local-server --sta"), inProcess) << command << " both";
  }

  // A value alone is written by ID, and a device read by age sees it.
  int value = 80;
  for (const char* mode : {"", " --sta", " --local-server"}) {
    ++value;
    const std::string text = std::to_string(value);
    EXPECT_EQ(RunOpc("write PUMPS:DIT:259 " + text + " --vqt" + mode),
              std::vector<std::string>{"PUMPS:DIT:259 <- " + text + ": ok"})
        << mode;
    EXPECT_TRUE(WaitFor([&] { return Registers("0x103", 1) == std::vector<std::string>{text}; }, 10s)) << mode;
    EXPECT_EQ(steady(std::string("read PUMPS:DIT:259 --max-age 0") + mode),
              std::vector<std::string>{"PUMPS:DIT:259 = " + text + " R4 good [192]"})
        << mode;
  }

  // Keep-alive: the revised time first, then the value, then callbacks
  // with no items while nothing changes.
  for (const char* mode : {"", " --sta", " --local-server"}) {
    const std::vector<std::string> watched =
        RunOpc(std::string("watch PUMPS:DIT:256 --rate 100 --keep-alive 400 --seconds 4") + mode);
    ASSERT_GE(watched.size(), 3u) << mode;
    EXPECT_EQ(watched[0], "keep-alive: 400 ms (asked 400)") << mode;
    EXPECT_EQ(Steady({watched[1]}), std::vector<std::string>{"PUMPS:DIT:256 = 1234 R4 good [192]"}) << mode;
    const auto alive = std::count_if(watched.begin(), watched.end(),
                                     [](const std::string& line) { return line.rfind("keep-alive 20", 0) == 0; });
    EXPECT_GE(alive, 3) << mode;  // about one in 400 ms over 4 s
  }
}

// A sink that notes the thread each call comes in.
class ThreadSink final : public SubscriptionSink {
 public:
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                         FILETIME*, HRESULT*) override {
    threads.push_back(GetCurrentThreadId());
    return S_OK;
  }
  std::vector<DWORD> threads;  // touched only in the subscribing thread
};

TEST_F(OpcApartments, OnDataChangeComesIntoTheSingleThreadedClientsOwnThreadThroughItsMessageLoop) {
  server.Reset();
  std::wstring groupName, commonText;
  DWORD clientThread = 0;
  std::vector<DWORD> callbackThreads;
  HRESULT created = E_FAIL, advised = E_FAIL;
  std::thread client([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    clientThread = GetCurrentThreadId();
    {
      ComPtr<IOPCServer> staServer;
      created = CreateServer(staServer);
      if (SUCCEEDED(created)) {
        ComPtr<IOPCItemMgt> group;
        AddGroup(*staServer.Get(), L"sta", group, nullptr, TRUE, 100);
        AddItems(*group.Get(), {L"PUMPS:DIT:256"});
        // String results of their own cross too (the group's name, the
        // common interface's error text).
        ComPtr<IOPCGroupStateMgt> state;
        if (SUCCEEDED(group->QueryInterface(IID_IOPCGroupStateMgt, state.OutVoid()))) {
          DWORD rate = 0, lcid = 0;
          BOOL active = FALSE;
          LPWSTR name = nullptr;
          LONG bias = 0;
          FLOAT deadband = 0;
          OPCHANDLE client = 0, serverHandle = 0;
          if (SUCCEEDED(state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &serverHandle)) &&
              name != nullptr) {
            groupName = name;
            CoTaskMemFree(name);
          }
        }
        ComPtr<IOPCCommon> common;
        if (SUCCEEDED(staServer->QueryInterface(IID_IOPCCommon, common.OutVoid()))) {
          LPWSTR text = nullptr;
          if (SUCCEEDED(common->GetErrorString(static_cast<HRESULT>(0xC0040008), &text)) && text != nullptr) {
            commonText = text;
            CoTaskMemFree(text);
          }
        }
        auto* sink = new ThreadSink;
        DWORD cookie = 0;
        advised = AdviseDataCallback(*group.Get(), sink, &cookie);
        // The callbacks are messages to this thread, dispatched while it pumps
        // (and while its own outgoing calls wait).
        const ULONGLONG end = GetTickCount64() + 3000;
        while (GetTickCount64() < end && sink->threads.size() < 2) {
          MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
          MSG message;
          while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        }
        callbackThreads = sink->threads;
        if (SUCCEEDED(advised)) UnadviseDataCallback(*group.Get(), cookie);
        sink->Release();
      }
    }
    CoUninitialize();
  });
  // A register change while the client pumps, so that more than the first
  // values come.
  Sleep(1500);
  session.simulator->Command("set 1 5 0x100 4321");
  client.join();
  ASSERT_EQ(created, S_OK);
  EXPECT_EQ(groupName, L"sta");
  EXPECT_EQ(commonText, L"Item ID was invalid and not found.");
  ASSERT_EQ(advised, S_OK);
  ASSERT_FALSE(callbackThreads.empty());
  for (DWORD thread : callbackThreads) EXPECT_EQ(thread, clientThread);
}

TEST_F(OpcApartments, AKilledSubscriberLeavesTheSurrogateServingTheOthers) {
  server.Reset();
  auto printed = [](ProbeProcess& process, const std::string& prefix) {
    for (const std::string& line : process.Output()) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  };
  // One after the other: the first starts the surrogate, the second finds it.
  ProbeProcess doomed(ProgramDirectory() + "\\opc.exe", "watch PUMPS:DIT:256 --rate 100 --local-server");
  const bool first = WaitFor([&] { return printed(doomed, "PUMPS:DIT:256 = 1234"); }, 30s);
  ProbeProcess survivor(ProgramDirectory() + "\\opc.exe", "watch PUMPS:DIT:256 --rate 100 --local-server --sta");
  const bool started = first && WaitFor([&] { return printed(survivor, "PUMPS:DIT:256 = 1234"); }, 30s);
  if (!started) {
    for (const std::string& line : doomed.Output()) ADD_FAILURE() << "first client: " << line;
    for (const std::string& line : survivor.Output()) ADD_FAILURE() << "second client: " << line;
  }
  ASSERT_TRUE(started);
  doomed.Kill();
  // The surrogate's poll thread now calls a sink whose process is gone.
  ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 2468").empty());
  EXPECT_TRUE(WaitFor([&] { return printed(survivor, "PUMPS:DIT:256 = 2468"); }, 30s));
  ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 1357").empty());
  EXPECT_TRUE(WaitFor([&] { return printed(survivor, "PUMPS:DIT:256 = 1357"); }, 30s));
  // And a new client is served by it.
  const std::vector<std::string> read = Steady(RunOpc("read PUMPS:DIT:256 --local-server"));
  EXPECT_EQ(read, std::vector<std::string>{"PUMPS:DIT:256 = 1357 R4 good [192]"});
  survivor.Kill();
}

TEST_F(OpcApartments, AsynchronousReadsAndWritesCompleteAcrossTheProcessBoundary) {
  server.Reset();
  ComPtr<IOPCServer> remote;
  ASSERT_EQ(CreateServer(remote, CLSCTX_LOCAL_SERVER), S_OK);
  ComPtr<IOPCItemMgt> group;
  ASSERT_EQ(AddGroup(*remote.Get(), L"remote", group, nullptr, TRUE, 100), S_OK);
  const auto added = AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:512$8"});
  ASSERT_EQ(added.size(), 2u);
  DataCallbackSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(AdviseDataCallback(*group.Get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(WaitFor([&] { return sink.Latest(1) == L"1234" && sink.Latest(2) == L"PUMPHOUS"; }, 20s));
  sink.Clear();

  ComPtr<IOPCAsyncIO2> async;
  ASSERT_EQ(group.As(async), S_OK);
  OPCHANDLE handles[2] = {added[0].handle, added[1].handle};
  DWORD cancelId = 0;
  HRESULT* errors = nullptr;
  ASSERT_EQ(async->Read(2, handles, 5, &cancelId, &errors), S_OK);
  EXPECT_NE(cancelId, 0u);
  CoTaskMemFree(errors);
  auto completion = [&](DataCallbackSink::Call::Kind kind, DWORD transaction) {
    std::optional<DataCallbackSink::Call> found;
    WaitFor(
        [&] {
          for (const auto& call : sink.Calls()) {
            if (call.kind == kind && call.transactionId == transaction) found = call;
          }
          return found.has_value();
        },
        10s);
    return found;
  };
  const auto read = completion(DataCallbackSink::Call::kReadComplete, 5);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->values.size(), 2u);
  EXPECT_EQ(read->values[0], L"1234");
  EXPECT_EQ(read->values[1], L"PUMPHOUS");

  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 4321;
  errors = nullptr;
  ASSERT_EQ(async->Write(1, handles, &value, 6, &cancelId, &errors), S_OK);
  CoTaskMemFree(errors);
  const auto written = completion(DataCallbackSink::Call::kWriteComplete, 6);
  ASSERT_TRUE(written);
  ASSERT_EQ(written->errors.size(), 1u);
  EXPECT_EQ(written->errors[0], S_OK);
  EXPECT_TRUE(WaitFor([&] { return Registers("0x100", 1) == std::vector<std::string>{"4321"}; }, 10s));
  EXPECT_EQ(UnadviseDataCallback(*group.Get(), cookie), S_OK);
}

TEST_F(OpcApartments, AShutdownSinkInThisProcessIsHeldByTheSurrogateAndLetGo) {
  server.Reset();
  ComPtr<IOPCServer> remote;
  ASSERT_EQ(CreateServer(remote, CLSCTX_LOCAL_SERVER), S_OK);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(remote->QueryInterface(IID_IConnectionPointContainer, container.OutVoid()), S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Out()), S_OK);
  ShutdownSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  EXPECT_EQ(cookie, 1u);
  // The surrogate holds a proxy of the sink (our stub holds a reference).
  EXPECT_TRUE(WaitFor([&] { return sink.references.load() > 1; }, 5s));
  ShutdownSink second;
  DWORD secondCookie = 0;
  EXPECT_EQ(point->Advise(&second, &secondCookie), CONNECT_E_ADVISELIMIT);
  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_TRUE(WaitFor([&] { return sink.references.load() == 1; }, 10s)) << sink.references.load();
  point.Reset();
  container.Reset();
  remote.Reset();
}

}  // namespace
}  // namespace vrt::testing
