// VRTOPC end to end: an OPC client in this process, the real driver
// VRTSPOLL.exe polling the simulator through the card library and server.
#include <gtest/gtest.h>

#include <windows.h>

#include "opc_plant.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using testing::ComPtr;
using testing::kBadType;
using testing::kInactiveCacheRead;
using testing::kInvalidItemId;
using testing::OpcProcesses;
using testing::ProbeProcess;
using testing::RunOpc;
using testing::ProgramDirectory;
using testing::RingHas;
using testing::WaitFor;

TEST_F(OpcProcesses, ItemsOfEveryKindAreAddedWithTheirTypesOrRefusedWithTheirMessages) {
  ComPtr<IOPCItemMgt> group;
  ASSERT_EQ(testing::AddGroup(*server.Get(), L"plant", group), S_OK);
  // Exactly 64 characters: accepted, as long IDs are.
  const std::wstring longest = L"PUMPS:DIT:258|NONE,0.000000000000000000000000000000000,100,,degC";
  ASSERT_EQ(longest.size(), 64u);
  HRESULT overall = S_OK;
  const auto added = testing::AddItems(*group.Get(),
                                       {L"PUMPS:DIT:256|NONE,0.00,65535,,degC", L"pumps:dit:257:0|NONE,Stopped,Running",
                                        L"PUMPS:DIT:512$8", L"PUMPS:DIT:999", longest, longest + L"X"},
                                       TRUE, VT_EMPTY, &overall);
  EXPECT_EQ(overall, S_FALSE);
  ASSERT_EQ(added.size(), 6u);
  EXPECT_EQ(added[0].error, S_OK);
  EXPECT_EQ(added[0].canonicalType, VT_R4);
  EXPECT_EQ(added[1].error, S_OK);
  EXPECT_EQ(added[1].canonicalType, VT_BOOL);
  EXPECT_EQ(added[2].error, S_OK);
  EXPECT_EQ(added[2].canonicalType, VT_BSTR);
  EXPECT_EQ(added[3].error, kInvalidItemId);
  EXPECT_EQ(added[4].error, S_OK);
  EXPECT_EQ(added[5].error, kInvalidItemId);
  EXPECT_NE(added[0].handle, added[1].handle);

  const auto badType = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256"}, TRUE, VT_ARRAY | VT_I4);
  ASSERT_EQ(badType.size(), 1u);
  EXPECT_EQ(badType[0].error, kBadType);

  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(io), S_OK);
  EXPECT_TRUE(WaitFor([&] { return RingHas(*session.block, "2 NIO-Client added 6 new tags err=0x1"); }, 5s));
  EXPECT_TRUE(RingHas(*session.block, "3 NIO-OPC DLL: Invalid requested datatype (8195)"));
  EXPECT_TRUE(RingHas(*session.block, "2 NIO-OPC SyncIO Client connecting"));

  // The item enumerator lists the four added items in the order they came.
  ComPtr<IEnumOPCItemAttributes> enumerator;
  ASSERT_EQ(group->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.OutUnknown()), S_OK);
  OPCITEMATTRIBUTES* attributes = nullptr;
  ULONG fetched = 0;
  ASSERT_EQ(enumerator->Next(10, &attributes, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 4u);
  EXPECT_EQ(std::wstring(attributes[1].szItemID), L"pumps:dit:257:0|NONE,Stopped,Running");
  EXPECT_EQ(attributes[1].vtCanonicalDataType, VT_BOOL);
  EXPECT_EQ(attributes[3].hServer, added[4].handle);
  EXPECT_EQ(attributes[3].hClient, 5u);
  EXPECT_EQ(attributes[0].dwAccessRights, static_cast<DWORD>(OPC_READABLE | OPC_WRITEABLE));
  for (ULONG k = 0; k < fetched; ++k) {
    CoTaskMemFree(attributes[k].szItemID);
    CoTaskMemFree(attributes[k].szAccessPath);
  }
  CoTaskMemFree(attributes);

  // Removing an item makes its handle stale.
  HRESULT* errors = nullptr;
  OPCHANDLE removed = added[4].handle;
  ASSERT_EQ(group->RemoveItems(1, &removed, &errors), S_OK);
  CoTaskMemFree(errors);
  EXPECT_EQ(testing::ReadItem(*io.Get(), removed, OPC_DS_DEVICE).error, static_cast<HRESULT>(0xC0040001));
}

TEST_F(OpcProcesses, DeviceReadsWritesTextsAndQualitiesFollowTheStation) {
  ComPtr<IOPCItemMgt> group;
  ASSERT_EQ(testing::AddGroup(*server.Get(), L"plant", group), S_OK);
  const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256", L"PUMPS:DIT:257:0", L"PUMPS:DIT:258"});
  ASSERT_EQ(added.size(), 3u);
  const auto texts = testing::AddItems(
      *group.Get(), {L"PUMPS:DIT:256|NONE,0.00,65535,,degC", L"PUMPS:DIT:257:0|NONE,Stopped,Running"}, TRUE, VT_BSTR);
  ASSERT_EQ(texts.size(), 2u);
  const auto inactive = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256"}, FALSE);
  ASSERT_EQ(inactive.size(), 1u);
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(io), S_OK);

  EXPECT_TRUE(ReadsEventually(*io.Get(), added[0].handle, L"1234"));
  testing::ReadResult read = testing::ReadItem(*io.Get(), added[0].handle, OPC_DS_DEVICE);
  EXPECT_EQ(read.type, VT_R4);
  EXPECT_EQ(read.error, S_OK);
  read = testing::ReadItem(*io.Get(), added[1].handle, OPC_DS_CACHE);  // 5: bit 0 set
  EXPECT_EQ(read.type, VT_BOOL);
  EXPECT_EQ(read.number, -1.0);
  EXPECT_EQ(read.quality, 192);
  // Values of records without time stamps carry the time of their read.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG nowTicks = (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  EXPECT_LT(nowTicks - read.timeStamp, 10ULL * 10000000ULL);
  read = testing::ReadItem(*io.Get(), texts[0].handle, OPC_DS_CACHE);
  EXPECT_EQ(read.type, VT_BSTR);
  EXPECT_EQ(read.text, L"1234.00 degC");
  EXPECT_EQ(testing::ReadItem(*io.Get(), texts[1].handle, OPC_DS_CACHE).text, L"Running");

  // Text items read their text, cut to their length.
  const auto names = testing::AddItems(*group.Get(), {L"PUMPS:DIT:512$8", L"PUMPS:DIT:512$4"});
  ASSERT_EQ(names.size(), 2u);
  EXPECT_TRUE(ReadsEventually(*io.Get(), names[0].handle, L"PUMPHOUS"));
  read = testing::ReadItem(*io.Get(), names[1].handle, OPC_DS_CACHE);
  EXPECT_EQ(read.type, VT_BSTR);
  EXPECT_EQ(read.text, L"PUMP");

  // An inactive item read from the cache: its cached value and 0x00048001.
  read = testing::ReadItem(*io.Get(), inactive[0].handle, OPC_DS_CACHE);
  EXPECT_EQ(read.call, S_OK);
  EXPECT_EQ(read.error, kInactiveCacheRead);
  EXPECT_EQ(read.quality, 0x1C);
  read = testing::ReadItem(*io.Get(), inactive[0].handle, OPC_DS_DEVICE);
  EXPECT_EQ(read.error, S_OK);
  EXPECT_EQ(read.number, 1234.0);

  // A write reaches the station and reads back; the active state does not matter.
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 999;
  HRESULT error = E_FAIL;
  ASSERT_EQ(testing::WriteItem(*io.Get(), added[2].handle, value, &error), S_OK);
  EXPECT_EQ(error, S_OK);
  EXPECT_TRUE(WaitFor([&] { return Registers("0x102", 1) == std::vector<std::string>{"999"}; }, 10s));
  EXPECT_TRUE(ReadsEventually(*io.Get(), added[2].handle, L"999"));
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"4321");
  ASSERT_EQ(testing::WriteItem(*io.Get(), inactive[0].handle, value, &error), S_OK);
  VariantClear(&value);
  EXPECT_TRUE(WaitFor([&] { return Registers("0x100", 1) == std::vector<std::string>{"4321"}; }, 10s));
  value.vt = VT_EMPTY;
  EXPECT_EQ(testing::WriteItem(*io.Get(), added[2].handle, value, &error), S_FALSE);
  EXPECT_EQ(error, kBadType);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"plenty");
  EXPECT_EQ(testing::WriteItem(*io.Get(), added[2].handle, value, &error), S_FALSE);
  EXPECT_EQ(error, E_FAIL);
  VariantClear(&value);

  // A station that stops answering reads BAD (communication failure), and
  // GOOD again once it answers.
  ASSERT_TRUE(session.simulator->Command("fault 1 5 noreply 100000").empty());
  EXPECT_TRUE(ReadsEventually(*io.Get(), added[0].handle, L"", 24));
  ASSERT_TRUE(session.simulator->Command("clearfaults").empty());
  EXPECT_TRUE(ReadsEventually(*io.Get(), added[0].handle, L"4321"));

  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
  EXPECT_EQ(status->dwGroupCount, 1u);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
}

TEST_F(OpcProcesses, ASecondServerReadsAfterTheFirstOneWasReleased) {
  for (int round = 0; round < 2; ++round) {
    if (round == 1) {
      ASSERT_EQ(testing::CreateServer(server), S_OK);
    }
    ComPtr<IOPCItemMgt> group;
    ASSERT_EQ(testing::AddGroup(*server.Get(), L"", group), S_OK);
    const auto added = testing::AddItems(*group.Get(), {L"PUMPS:DIT:256"});
    ASSERT_EQ(added.size(), 1u);
    ComPtr<IOPCSyncIO> io;
    ASSERT_EQ(group.As(io), S_OK);
    EXPECT_TRUE(ReadsEventually(*io.Get(), added[0].handle, L"1234")) << "round " << round;
    io.Reset();
    group.Reset();
    server.Reset();
  }
}

// The line's text up to the time stamp.
std::string WithoutTime(const std::string& line) {
  const std::size_t bracket = line.find("] ");
  return bracket == std::string::npos ? line : line.substr(0, bracket + 1);
}

TEST_F(OpcProcesses, TheOpcToolReadsWritesAndListsItems) {
  server.Reset();  // the tool is the only client
  std::vector<std::string> lines;
  ASSERT_TRUE(WaitFor(
      [&] {
        lines = RunOpc("read PUMPS:DIT:256 PUMPS:DIT:257:0 --device");
        return lines.size() == 2 && WithoutTime(lines[0]) == "PUMPS:DIT:256 = 1234 R4 good [192]";
      },
      20s))
      << (lines.empty() ? "" : lines[0]);
  EXPECT_EQ(WithoutTime(lines[1]), "PUMPS:DIT:257:0 = true BOOL good [192]");
  EXPECT_EQ(RunOpc("read PUMPS:DIT:256|NONE,0.0,100,,bar --type BSTR").size(), 1u);

  EXPECT_EQ(RunOpc("write PUMPS:DIT:259 77"), std::vector<std::string>{"PUMPS:DIT:259 <- 77: ok"});
  EXPECT_TRUE(WaitFor([&] { return Registers("0x103", 1) == std::vector<std::string>{"77"}; }, 10s));

  lines = RunOpc("items PUMPS:DIT:256 PUMPS:DIT:512$8 NOPE:DIT:1");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("PUMPS:DIT:256: handle ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(" type R4 rights 3"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" type BSTR rights 3"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "NOPE:DIT:1: error 0xC0040008 Item ID was invalid and not found.");

  lines = RunOpc("status");
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "state: running");
  EXPECT_EQ(lines[1], "vendor: Harnix Tavex V6.9.10");
  EXPECT_EQ(lines[5], "version: 6.6.9");
}

TEST_F(OpcProcesses, TheOpcToolWatchesBrowsesAndShowsProperties) {
  server.Reset();  // the tool is the only client
  for (const char* mode : {"", " --da1"}) {
    ProbeProcess watch(ProgramDirectory() + "\\opc.exe",
                       std::string("watch PUMPS:DIT:256 PUMPS:DIT:512$8 --rate 100 --seconds 8") + mode);
    auto printed = [&](const std::string& prefix) {
      for (const std::string& line : watch.Output()) {
        if (line.rfind(prefix, 0) == 0) return true;
      }
      return false;
    };
    EXPECT_TRUE(WaitFor([&] { return printed("PUMPS:DIT:512$8 = PUMPHOUS BSTR good [192]"); }, 15s)) << mode;
    const std::string value = std::string(mode).empty() ? "4444" : "5555";
    ASSERT_TRUE(session.simulator->Command("set 1 5 0x100 " + value).empty());
    EXPECT_TRUE(WaitFor([&] { return printed("PUMPS:DIT:256 = " + value + " R4 good [192]"); }, 15s)) << mode;
    EXPECT_TRUE(watch.WaitForEnd(20s));
    if (::testing::Test::HasFailure()) {
      for (const std::string& line : watch.Output()) ADD_FAILURE() << mode << " printed: " << line;
    }
  }

  EXPECT_EQ(RunOpc("browse"), std::vector<std::string>{"PUMPS"});
  EXPECT_EQ(RunOpc("browse PUMPS"),
            (std::vector<std::string>{"PUMPS:DIT:256  (DIT:256 - 260)", "PUMPS:DIT:512  (DIT:512 - 516)"}));
  EXPECT_EQ(RunOpc("browse PUMPS --filter *512*"), std::vector<std::string>{"PUMPS:DIT:512  (DIT:512 - 516)"});
  EXPECT_EQ(RunOpc("browse --flat"), (std::vector<std::string>{"PUMPS:DIT:256 - 260", "PUMPS:DIT:512 - 516"}));

  const auto properties = RunOpc("props PUMPS:DIT:256|LIN,0.0,500.0,,kPa");
  ASSERT_EQ(properties.size(), 11u);
  EXPECT_EQ(properties[5], "6 Server Scan Rate = 250");
  EXPECT_EQ(properties[6], "100 EU Units = kPa");
  EXPECT_EQ(properties[7], "102 High EGU = 500");
  EXPECT_EQ(properties[9], "5000 Signal Conditioning = LIN");
}

}  // namespace
}  // namespace vrt
