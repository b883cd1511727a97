// The server's rules that need no COM: settings, texts, names, handles,
// enumerator positions and the poll thread's cycle.
#include <gtest/gtest.h>

#include <limits>

#include <map>
#include <set>
#include <vector>

#include "handle_table.h"
#include "opc_results.h"
#include "opc_settings.h"
#include "poll_thread.h"
#include "server_rules.h"

namespace vrt::opc {
namespace {

struct TableSource : SettingsSource {
  std::optional<std::uint32_t> Dword(const char* subKey, const char* name) override {
    auto found = dwords.find(std::string(subKey) + "\\" + name);
    if (found == dwords.end()) return std::nullopt;
    return found->second;
  }
  std::optional<std::string> String(const char* subKey, const char* name) override {
    auto found = strings.find(std::string(subKey) + "\\" + name);
    if (found == strings.end()) return std::nullopt;
    return found->second;
  }
  std::map<std::string, std::uint32_t> dwords;
  std::map<std::string, std::string> strings;
};

TEST(OpcSettings, ReadableValuesReplaceTheDefaultsAndNoneInAnyCaseIsEmpty) {
  TableSource source;
  OpcSettings defaults = ReadOpcSettings(source);
  EXPECT_EQ(defaults.threadSleepTime, 100u);
  EXPECT_EQ(defaults.threadPriority, 7u);
  EXPECT_EQ(defaults.stringLength, 20);
  EXPECT_EQ(defaults.signalConditioning, "NONE");
  EXPECT_EQ(defaults.hiEgu, "65535.0");
  EXPECT_EQ(defaults.hardwareOptions, "");
  EXPECT_EQ(defaults.generatedGroupName, "Group");

  for (const char* none : {"NONE", "none", "NoNe"}) {
    source.strings["ItemDefaults\\HardwareOptions"] = none;
    EXPECT_EQ(ReadOpcSettings(source).hardwareOptions, "") << none;
  }
  source.strings["ItemDefaults\\HardwareOptions"] = "NONE1";
  source.strings["GroupDefaults\\GeneratedGroupName"] = "Grp";
  source.dwords["ItemDefaults\\StringLength"] = 0x10028;  // only the low 16 bits count
  source.dwords["ServerDefaults\\ThreadSleepTime"] = 0;
  const OpcSettings read = ReadOpcSettings(source);
  EXPECT_EQ(read.hardwareOptions, "NONE1");
  EXPECT_EQ(read.generatedGroupName, "Grp");
  EXPECT_EQ(read.stringLength, 40);
  EXPECT_EQ(read.threadSleepTime, 1u);  // never a busy loop

  // Registration writes back what is held, in table order.
  const auto values = SettingValues(defaults);
  ASSERT_EQ(values.size(), 9u);
  EXPECT_STREQ(values.front().name, "ThreadSleepTime");
  EXPECT_EQ(values[7].text, "NONE");
  EXPECT_STREQ(values.back().subKey, "GroupDefaults");
}

TEST(OpcSettings, ThreadPriorityCodes) {
  const std::map<std::uint32_t, int> expected = {{1, -15}, {2, -2},  {5, -2},  {11, -2}, {3, -1}, {6, -1},
                                                 {12, -1}, {4, 0},   {7, 0},   {13, 0},  {8, 1},  {14, 1},
                                                 {9, 2},   {10, 2},  {15, 2}};
  for (std::uint32_t code = 0; code <= 20; ++code) {
    auto found = expected.find(code);
    if (found == expected.end()) {
      EXPECT_FALSE(ThreadPriorityFor(code)) << code;
    } else {
      EXPECT_EQ(ThreadPriorityFor(code), found->second) << code;
    }
  }
}

TEST(OpcResults, ErrorTextsAndMessages) {
  EXPECT_STREQ(ErrorText(0xC004000A), ErrorText(0xC0040009));  // unknown path and invalid filter
  EXPECT_STREQ(ErrorText(0xC0040008), "Item ID was invalid and not found.");
  EXPECT_STREQ(ErrorText(0x00048001), "Attempt to read inactive item");
  EXPECT_STREQ(ErrorText(0), "Operation Successful");
  // Every code the DA 3.0 interfaces give has a text.
  for (std::uint32_t code : {0xC0040400u, 0xC0040401u, 0xC0040402u, 0xC0040403u, 0x00040404u, 0xC0040405u,
                             0xC0040406u}) {
    EXPECT_NE(ErrorText(code), nullptr) << std::hex << code;
  }
  EXPECT_EQ(ErrorText(0x80004004), nullptr);  // E_ABORT has none
  EXPECT_EQ(ErrorText(0xC0040002), nullptr);

  EXPECT_EQ(ItemsAddedMessage(3, 1), "Client added 3 new tags err=0x1\n");
  EXPECT_EQ(ItemsAddedMessage(10000, 0xC0040008), "Client added 10000 new tags err=0xC0040008\n");
  EXPECT_EQ(BadRequestedTypeMessage(77), "OPC DLL: Invalid requested datatype (77)");
  EXPECT_EQ(CleanUpFailedMessage(0x1FE), "nio_CleanUp() failed. Returned code = 1FE");
  EXPECT_EQ(PollThreadNotStartedReport().rawData, "VRT");
  EXPECT_EQ(BandwidthPriorityReport().rawData, "VIDUZO");
  EXPECT_EQ(NoAllocatorReport().rawData, "");
}

TEST(GroupNames, MadeUpNamesSkipTakenOnes) {
  auto existing = [](std::set<std::wstring> names) {
    return [names](const std::wstring& name) { return names.count(name) != 0; };
  };
  EXPECT_EQ(MadeUpGroupName(L"Group", 2, existing({L"Group1", L"Group3"})), L"Group4");
  EXPECT_EQ(MadeUpGroupName(L"Group", 2, existing({L"Group1", L"Group2"})), L"Group3");
  EXPECT_EQ(MadeUpGroupName(L"Grp", 0, existing({})), L"Grp1");
  // Clones count from n and always use "Group".
  EXPECT_EQ(MadeUpCloneName(2, existing({L"Group2", L"Group3"})), L"Group4");
  std::set<std::wstring> crowded;
  for (int k = 1; k < 1002; ++k) crowded.insert(L"Group" + std::to_wstring(k));
  EXPECT_FALSE(MadeUpCloneName(1, existing(crowded)));
}

TEST(ServerRules, RatesDeadbandsLocalesFileNamesAndScopes) {
  EXPECT_EQ(RevisedUpdateRate(0, 100), 100u);
  EXPECT_EQ(RevisedUpdateRate(250, 100), 250u);
  EXPECT_TRUE(DeadbandAccepted(0.0f));
  EXPECT_TRUE(DeadbandAccepted(100.0f));
  EXPECT_FALSE(DeadbandAccepted(100.5f));
  EXPECT_FALSE(DeadbandAccepted(-0.1f));

  EXPECT_EQ(AcceptedLocale(0), 0x800u);
  EXPECT_EQ(AcceptedLocale(0x800), 0x800u);
  EXPECT_EQ(AcceptedLocale(1033), 1033u);
  EXPECT_FALSE(AcceptedLocale(1031));

  EXPECT_TRUE(ConfigurationFileNameAccepted(L"plant.VRT"));
  EXPECT_TRUE(ConfigurationFileNameAccepted(L"plant"));
  EXPECT_FALSE(ConfigurationFileNameAccepted(L"plant.cfg"));
  EXPECT_FALSE(ConfigurationFileNameAccepted(L"plant.vrt"));
  EXPECT_TRUE(ConfigurationFileNameAccepted(L"C:\\Plant.v2\\plant.VRT"));
  EXPECT_FALSE(ConfigurationFileNameAccepted(L"plant.old.VRT"));

  for (std::uint32_t scope = 0; scope <= 7; ++scope) {
    EXPECT_EQ(ScopeTakesGroups(scope), scope == 1 || scope == 3 || scope == 4 || scope == 6) << scope;
  }
  EXPECT_EQ(AnalogText(12.345, 2, "degC"), "12.35 degC");
  EXPECT_EQ(AnalogText(-3.0, 0, ""), "-3 ");
}

TEST(ServerRules, AMaximumAgeTakesTheHeldValueUpToThatAgeAndTheDeviceBeyond) {
  const std::uint64_t now = 0x2'0000'0000;  // some 99 days of tick count
  // Exactly as old as allowed is still young enough; one millisecond more is not.
  EXPECT_EQ(SourceForMaxAge(1000, now - 1000, now), MaxAgeSource::kHeldValue);
  EXPECT_EQ(SourceForMaxAge(1000, now - 999, now), MaxAgeSource::kHeldValue);
  EXPECT_EQ(SourceForMaxAge(1000, now - 1001, now), MaxAgeSource::kDevice);
  EXPECT_EQ(SourceForMaxAge(1000, now, now), MaxAgeSource::kHeldValue);
  // The largest real age, about 49.7 days, is an age and not the cache.
  EXPECT_EQ(SourceForMaxAge(0xFFFFFFFE, now - 0xFFFFFFFEull, now), MaxAgeSource::kHeldValue);
  EXPECT_EQ(SourceForMaxAge(0xFFFFFFFE, now - 0xFFFFFFFFull, now), MaxAgeSource::kDevice);
  // 0 always reads the device; 0xFFFFFFFF is always a cache read, even of
  // an item that has never been read.
  EXPECT_EQ(SourceForMaxAge(0, now, now), MaxAgeSource::kDevice);
  EXPECT_EQ(SourceForMaxAge(kMaxAgeCache, std::nullopt, now), MaxAgeSource::kCache);
  EXPECT_EQ(SourceForMaxAge(kMaxAgeCache, now - 0xFFFFFFFFFull, now), MaxAgeSource::kCache);
  // No good read yet, or a clock that went back: the device.
  EXPECT_EQ(SourceForMaxAge(60000, std::nullopt, now), MaxAgeSource::kDevice);
  EXPECT_EQ(SourceForMaxAge(60000, now + 10, now), MaxAgeSource::kDevice);
}

TEST(ServerRules, AnItemDeadbandIsForAnalogItemsAndAPercentage) {
  for (float percent : {0.0f, 0.001f, 50.0f, 100.0f}) EXPECT_EQ(ItemDeadbandRefusal(true, percent), 0u) << percent;
  for (float percent : {-0.001f, 100.001f, std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(ItemDeadbandRefusal(true, percent), 0x80070057u) << percent;
  }
  // Not analog: refused whatever the value.
  EXPECT_EQ(ItemDeadbandRefusal(false, 10.0f), kDeadbandNotSupported);
  EXPECT_EQ(ItemDeadbandRefusal(false, -1.0f), kDeadbandNotSupported);
}

TEST(SnapshotEnumerators, NextSkipResetAndClone) {
  EXPECT_FALSE(EnumeratorCursor::NextArgumentsValid(2, false));
  EXPECT_TRUE(EnumeratorCursor::NextArgumentsValid(1, false));
  EXPECT_TRUE(EnumeratorCursor::NextArgumentsValid(0, true));

  EnumeratorCursor cursor(5);
  EXPECT_EQ(cursor.Take(2), 2u);
  EnumeratorCursor clone = cursor;  // contents and position
  EXPECT_EQ(clone.Position(), 2u);
  EXPECT_TRUE(cursor.Skip(2));      // to 4: still inside
  EXPECT_FALSE(cursor.Skip(1));     // to 5: past the last, unchanged
  EXPECT_EQ(cursor.Position(), 4u);
  EXPECT_EQ(cursor.Take(3), 1u);    // fewer than asked: S_FALSE
  EXPECT_EQ(cursor.Take(1), 0u);
  cursor.Reset();
  EXPECT_EQ(cursor.Take(10), 5u);
  EXPECT_EQ(clone.Take(10), 3u);

  EnumeratorCursor empty(0);
  EXPECT_EQ(empty.Take(1), 0u);
  EXPECT_FALSE(empty.Skip(0));
}

TEST(HandleTables, StaleZeroAndMadeUpHandlesFindNothing) {
  HandleIssuer issuer;
  HandleTable<std::string> table;
  const std::uint32_t first = issuer.Next();
  const std::uint32_t second = issuer.Next();
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);
  ASSERT_TRUE(table.Add(first, "a"));
  ASSERT_TRUE(table.Add(second, "b"));
  EXPECT_FALSE(table.Add(0, "zero"));
  EXPECT_FALSE(table.Add(first, "again"));
  EXPECT_EQ(table.Find(0), nullptr);
  EXPECT_EQ(table.Find(0xDEADBEEF), nullptr);
  std::string removed;
  ASSERT_TRUE(table.Remove(first, &removed));
  EXPECT_EQ(removed, "a");
  EXPECT_EQ(table.Find(first), nullptr);  // stale
  EXPECT_FALSE(table.Remove(first));
  // A new entry never gets the stale handle back, and walks go oldest first.
  const std::uint32_t third = issuer.Next();
  EXPECT_NE(third, first);
  table.Add(third, "c");
  std::vector<std::string> order;
  for (auto& [handle, value] : table) order.push_back(value);
  EXPECT_EQ(order, (std::vector<std::string>{"b", "c"}));
}

struct RecordingReporter : EventReporter {
  void Report(const EventReport& report) override { reports.push_back(report); }
  std::vector<EventReport> reports;
};

struct ScriptedPollHost : PollThreadHost {
  bool InitializeCom() override { return comWorks; }
  void UninitializeCom() override { ++uninitialized; }
  bool SetPriority(int priority) override {
    priorities.push_back(priority);
    return priorityWorks;
  }
  void WaitForWake(std::uint32_t milliseconds) override {
    waits.push_back(milliseconds);
    now += 40;
  }
  std::uint32_t TickCount() override { return now; }
  bool HoldServer() override { return cycles < cyclesUntilGone; }
  bool ReleaseServer() override { return ++cycles == releasedLastAt; }
  void TakeOverSinks() override { ++takeOvers; }
  void TickGroups(std::uint32_t elapsed) override { elapsedTimes.push_back(elapsed); }

  bool comWorks = true;
  bool priorityWorks = true;
  int cyclesUntilGone = 3;
  int releasedLastAt = -1;
  int cycles = 0;
  int uninitialized = 0;
  int takeOvers = 0;
  std::uint32_t now = 1000;
  std::vector<int> priorities;
  std::vector<std::uint32_t> waits;
  std::vector<std::uint32_t> elapsedTimes;
};

TEST(PollThread, CyclesUntilTheServerGoesAndReportsWhatFails) {
  OpcSettings settings;
  settings.threadSleepTime = 25;
  settings.threadPriority = 9;
  ScriptedPollHost host;
  RecordingReporter reporter;
  RunPollThread(host, settings, reporter);
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_EQ(host.priorities, std::vector<int>{2});
  EXPECT_EQ(host.waits, (std::vector<std::uint32_t>{25, 25, 25, 25}));
  // The first cycle counts from 0, the others from the cycle before.
  EXPECT_EQ(host.elapsedTimes, (std::vector<std::uint32_t>{1040, 40, 40}));
  EXPECT_EQ(host.takeOvers, 3);
  EXPECT_EQ(host.uninitialized, 1);

  // A client that let go during a cycle ends the thread right after it.
  ScriptedPollHost released;
  released.releasedLastAt = 1;
  RunPollThread(released, settings, reporter);
  EXPECT_EQ(released.elapsedTimes.size(), 1u);
  EXPECT_EQ(released.uninitialized, 1);

  // An unknown priority code is reported and the thread goes on.
  settings.threadPriority = 42;
  ScriptedPollHost unknown;
  RunPollThread(unknown, settings, reporter);
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].text, "Unable to change OPC server poll thread priority");
  EXPECT_EQ(reporter.reports[0].rawData, "VRT");
  EXPECT_EQ(reporter.reports[0].category, 4);
  EXPECT_TRUE(unknown.priorities.empty());
  EXPECT_EQ(unknown.elapsedTimes.size(), 3u);

  // Without COM the thread ends at once.
  ScriptedPollHost noCom;
  noCom.comWorks = false;
  RunPollThread(noCom, settings, reporter);
  ASSERT_EQ(reporter.reports.size(), 2u);
  EXPECT_EQ(reporter.reports[1].text, "Fatal Error. Unable to initialize COM for OPC server poll thread");
  EXPECT_TRUE(noCom.waits.empty());
  EXPECT_EQ(noCom.uninitialized, 0);
}

}  // namespace
}  // namespace vrt::opc
