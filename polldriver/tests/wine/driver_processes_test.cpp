// The real driver VRTSPOLL.exe with the real card library, card server and
// station simulator, and client probes reading and writing the image.
#include <gtest/gtest.h>

#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "dit_codes.h"
#include "dit_mapping.h"
#include "dit_writer.h"
#include "driver_session.h"
#include "pg_cluster.h"
#include "probe_process.h"
#include "sql_rows.h"
#include "sample_configuration.h"
#include "shared_access.h"
#include "simulator_session.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using testing::ProbeProcess;
using testing::ProgramDirectory;
using testing::Eventually;
using testing::RingHas;
using testing::SimulatorSession;
using testing::WaitFor;

// Station 5 on card 1 (primary port 0), station 6 on card 2 (backup port 1).
constexpr const char* kNetwork = R"({ "control_port": 0, "cards": [
  { "card": 1, "port": 0, "stations": [ { "station": 5, "type": "ZOLT", "registers": { "0x100": [11, 22, 33, 44] } } ] },
  { "card": 2, "port": 0, "stations": [ { "station": 6, "type": "ZOLT", "registers": { "0x100": [55, 66, 77, 88] } } ] }
] })";

std::vector<std::uint8_t> PlantImage() {
  DitPollRecord record = testing::SamplePollRecord(0x100, 4);
  record.pollTime = 10;  // 0.1 s
  record.accessTime = kAccessNeverExpires;
  DitDeviceSource device = testing::SampleDevice("PUMP", 5, {record});
  device.record.backupStation = 6;
  DitChannelSource channel = testing::SampleChannel(0, {device});
  channel.record.backup = channel.record.primary;
  channel.record.backup.port = 1;
  testing::MakeLinkQuick(channel.record.primary);
  testing::MakeLinkQuick(channel.record.backup);
  DitConfiguration configuration;
  configuration.channels.push_back(channel);
  return WriteDitImage(configuration, 1800000000).bytes;
}

// Runs statements against the test data source (the same one the driver
// writes to); returns the rows of the last one, fields joined by commas.
std::vector<std::string> Sql(const std::vector<std::string>& statements) {
  return testing::SqlRows("VRTTEST", statements, 5, ",");
}

class DriverProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(simulator->Ready());
    UseConfiguration(directory + "\\PLANT.VRT");
  }

  void UseConfiguration(const std::string& path) { session.UseConfiguration(path, PlantImage()); }

  std::unique_ptr<ProbeProcess> StartDriver(const std::string& arguments = "") {
    return session.StartDriver(arguments);
  }

  static std::string Probe() { return ProgramDirectory() + "\\dit_probe_nio.exe"; }

  testing::DriverSession session{
      "vrt-driver-" + std::to_string(::testing::UnitTest::GetInstance()->current_test_info()->line()), kNetwork,
      {1, 2}};
  std::string& directory = session.directory;
  std::string& configFile = session.configFile;
  std::unique_ptr<SimulatorSession>& simulator = session.simulator;
  std::unique_ptr<ProbeProcess>& driver = session.driver;
  DriverControlBlock*& block = session.block;
};

TEST_F(DriverProcesses, PolledValuesLandAndAClientWriteReachesTheStation) {
  driver = StartDriver();
  ProbeProcess client(Probe(), "");
  EXPECT_TRUE(Eventually(client, "rec 0", "rec 0 status 0 11 22 33 44"));
  EXPECT_EQ(client.Ask("write 0 1 999", "write"), "write ok");
  EXPECT_TRUE(WaitFor([&] { return simulator->Command("get 1 5 0x101 1") == std::vector<std::string>{"999"}; }, 10s));
  EXPECT_TRUE(Eventually(client, "rec 0", "rec 0 status 0 11 999 33 44"));
  const std::string stats = client.Ask("stats 0", "stats");
  std::istringstream words(stats.substr(6));
  int sent = 0, received = 0;
  words >> sent >> received;
  EXPECT_GT(sent, 2);
  EXPECT_GT(received, 2);
  EXPECT_TRUE(RingHas(*block, "23 VRTV6.9.11 started"));
}

TEST_F(DriverProcesses, AStationThatStopsAnsweringFailsOverToTheBackupPortAndStation) {
  driver = StartDriver();
  ProbeProcess client(Probe(), "");
  ASSERT_TRUE(Eventually(client, "rec 0", "rec 0 status 0 11 22 33 44"));
  ASSERT_TRUE(simulator->Command("fault 1 5 noreply 100000").empty());
  EXPECT_TRUE(Eventually(client, "rec 0", "rec 0 status 0 55 66 77 88", 20s));
  EXPECT_TRUE(RingHas(*block, "39 Channel 1 - Switched Port From 1 To 2"));
  EXPECT_TRUE(RingHas(*block, "39 Channel 1 Device 1 - Switched Station From 5 To 6"));
  EXPECT_TRUE(RingHas(*block, "39 Channel 1 Device 1 Poll Record 1 - Failed Communication"));
  EXPECT_TRUE(RingHas(*block, "39 Channel 1 Device 1 Poll Record 1 - Recovered Communication"));
}

TEST_F(DriverProcesses, StopsGiveStatus4297AndReloadThroughTheGenerations) {
  driver = StartDriver();
  ProbeProcess client(Probe(), "");
  ASSERT_TRUE(Eventually(client, "rec 0", "rec 0 status 0"));
  for (int generation : {1, 2, 3, 1}) {
    ASSERT_EQ(client.Ask("startstop 0", "startstop", 10s), "startstop 1");
    EXPECT_EQ(SharedLoad(block->MapGeneration), generation);
    EXPECT_EQ(std::string(block->mapName), "VRT" + std::to_string(generation));
    EXPECT_TRUE(Eventually(client, "rec 0", "rec 0 status 4297"));
    EXPECT_EQ(client.Ask("hdr", "hdr"), "hdr ok 1 1 1 gen=" + std::to_string(generation));
    ASSERT_EQ(client.Ask("startstop 1", "startstop", 10s), "startstop 1");
    EXPECT_TRUE(Eventually(client, "rec 0", "rec 0 status 0 11 22 33 44"));
  }
  EXPECT_TRUE(RingHas(*block, "39  VRT Stopping.."));
}

TEST_F(DriverProcesses, ASecondDriverEndsWithinHalfASecondWithoutTouchingTheImage) {
  driver = StartDriver();
  const std::uint32_t aliveBefore = SharedLoad(block->AliveCount);
  const auto before = std::chrono::steady_clock::now();
  ProbeProcess second(ProgramDirectory() + "\\VRTSPOLL.exe", "", directory);
  ASSERT_TRUE(WaitFor([&] { return !second.Running(); }, 10s));
  const auto lifetime = std::chrono::steady_clock::now() - before;
  EXPECT_LT(lifetime, 3s);  // half a second of its own, plus starting a process under Wine
  EXPECT_TRUE(driver->Running());
  EXPECT_EQ(SharedLoad(block->MapGeneration), 0);
  EXPECT_GT(SharedLoad(block->AliveCount), aliveBefore);
  EXPECT_EQ(SharedLoad(block->RunState), kStateRunning);
}

TEST_F(DriverProcesses, ALongMessageIsWholeOnTheConsoleAndInTheLogFileAndCutInTheRing) {
  // A configuration path long enough to make the loading message long, yet
  // within the 128 bytes the registry value is read into.
  const std::string deep = directory + "\\" + std::string(120 - directory.size() - 11, 'd');
  CreateDirectoryA(deep.c_str(), nullptr);
  UseConfiguration(deep + "\\PLANT.VRT");
  ASSERT_EQ(configFile.size(), 120u);
  driver = StartDriver("F");
  const std::string message = "MapToDIT() Opening file " + configFile + " to map VRT0";
  ASSERT_GT(message.size(), 123u);
  EXPECT_EQ(driver->Expect("MapToDIT() Opening file"), message);
  EXPECT_TRUE(RingHas(*block, "23 " + message.substr(0, 123)));

  std::ifstream log(directory + "\\VRT_LOG.TXT");
  std::string line;
  bool whole = false;
  while (std::getline(log, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t bar = line.find('|');
    if (bar != std::string::npos && line.substr(bar + 1) == message) whole = true;
  }
  EXPECT_TRUE(whole);
}

TEST_F(DriverProcesses, WithTheConsolePausedTheRingAndTheLogFileStillFill) {
  driver = StartDriver("F P");
  ProbeProcess client(Probe(), "");
  ASSERT_TRUE(Eventually(client, "rec 0", "rec 0 status 0"));
  // The first banner comes before the command line is read; nothing after it.
  const std::vector<std::string> console = driver->Output();
  ASSERT_FALSE(console.empty());
  EXPECT_EQ(console[0], "Harnix Tavex (VRT) V6.9.11 Started");
  EXPECT_EQ(console.size(), 1u);
  EXPECT_TRUE(RingHas(*block, "39  VRT Starting"));
  std::ifstream log(directory + "\\VRT_LOG.TXT");
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("| VRT Starting"), std::string::npos);
  EXPECT_NE(text.str().find("|VRTV6.9.11 started"), std::string::npos);
}

// An event recorder on card 1 (station 7) with a data record over
// addresses 32..63, logging to .\\LOGDATA and, with a data source, to it.
class RecorderRun : public DriverProcesses {
 protected:
  void StartRecorder(const std::string& dataSource, const std::string& moreSettings = "", const std::string& driverArguments = "") {
    session.UseNetwork(R"({ "control_port": 0, "cards": [
      { "card": 1, "port": 0, "stations": [ { "station": 7, "type": "EVR420" } ] } ] })", {1});
    ASSERT_TRUE(simulator->Ready());
    DitPollRecord events = testing::SamplePollRecord(0, 14, kDataDigital, kExceptionDisabled, kPollKindEvent);
    events.pollTime = 10;
    DitPollRecord inputs = testing::SamplePollRecord(32, 32, kDataUnsigned);  // codes 1..512
    DitDeviceSource recorder = testing::SampleDevice(recorderName.c_str(), 7, {events, inputs});
    recorder.record.hardwareType = kHardwareEVR420;
    DitConfiguration configuration;
    configuration.channels.push_back(testing::SampleChannel(0, {recorder}));
    session.UseConfiguration(configFile, WriteDitImage(configuration, 0).bytes);
    CreateDirectoryA((directory + "\\LOGDATA").c_str(), nullptr);
    DeleteFileA((directory + "\\LOGDATA\\VRT_LOG20240502.TXT").c_str());
    std::ofstream(directory + "\\VRT.INI", std::ios::trunc)
        << "[LOGGING]\r\nLogging_enabled=1\r\nLOGDATA_PATH=.\\LOGDATA\r\nODBC_enabled=1\r\nDSN=" << dataSource << "\r\n"
        << moreSettings;
    if (dataSource == "VRTTEST") {
      Sql({"DROP TABLE IF EXISTS EVENTS",
           "CREATE TABLE EVENTS (IO_ADDR TEXT, TIME_STAMP TEXT, MILLI INTEGER, EVENT INTEGER, VALUE INTEGER)"});
    }
    driver = StartDriver(driverArguments);
  }

  // Queues events of codes first..last (inputs went to 1) on 2 May 2024 or
  // another day.
  void QueueEvents(int first, int last, const std::string& day = "2024-05-02") {
    for (int code = first; code <= last; ++code) {
      const std::vector<std::string> answer = simulator->Command("event 1 7 " + std::to_string(code) + " 1 " + day +
                                                                 " 10:00:00." + std::to_string(100 + code % 800));
      ASSERT_TRUE(answer.empty() || answer[0].rfind("ERR", 0) != 0) << answer[0];
    }
  }

  std::string recorderName = "EVR1";

  std::vector<std::string> CsvRows(const std::string& name = "VRT_LOG20240502.TXT") {
    std::ifstream file(directory + "\\LOGDATA\\" + name);
    std::vector<std::string> rows;
    std::string line;
    while (std::getline(file, line)) rows.push_back(line);
    return rows;
  }
};

TEST_F(RecorderRun, ABurstLargerThanTheOldQueueLosesNoRow) {
  StartRecorder("VRTTEST");
  QueueEvents(1, 200);
  EXPECT_TRUE(WaitFor([&] { return CsvRows().size() == 201; }, 60s)) << CsvRows().size();  // header and 200 rows
  std::vector<std::string> rows;
  EXPECT_TRUE(WaitFor([&] { return (rows = Sql({"SELECT * FROM EVENTS"})).size() == 200; }, 30s)) << rows.size();
}

TEST_F(RecorderRun, ADuplicateIsWrittenOnceAndAnInvalidEventIsAskedForAgain) {
  StartRecorder("VRTTEST");
  for (const char* command : {"event 1 7 33 1 2024-05-02 10:00:00.500", "event 1 7 33 1 2024-05-02 10:00:00.500",
                              "event 1 7 34 1 raw 2003 5 2 10 0 0 0", "event 1 7 35 1 2024-05-02 10:00:01.000"}) {
    const std::vector<std::string> answer = simulator->Command(command);
    ASSERT_TRUE(answer.empty() || answer[0].rfind("ERR", 0) != 0) << answer[0];
  }
  ASSERT_TRUE(WaitFor([&] { return CsvRows().size() == 3; }, 30s)) << CsvRows().size();
  const std::vector<std::string> rows = CsvRows();
  EXPECT_EQ(rows[1], "EVR1:DIT:34:0,05/02/2024 10:00:00,500,33,1");
  EXPECT_EQ(rows[2], "EVR1:DIT:34:2,05/02/2024 10:00:01,000,35,1");
  EXPECT_TRUE(RingHas(*block, "71 Duplicate event"));
  EXPECT_TRUE(RingHas(*block, "70 Invalid event rcv= 07/0C/0F/11/01/03/05/02/0A/00/00/00/"));
  // The invalid event was asked for again with the repeat request.
  bool repeated = false;
  for (const std::string& line : simulator->Command("log 200")) repeated |= line.find("rx 07 02 0F 13") != std::string::npos;
  EXPECT_TRUE(repeated);
  std::vector<std::string> database;
  EXPECT_TRUE(WaitFor([&] { return (database = Sql({"SELECT * FROM EVENTS"})).size() == 2; }, 10s)) << database.size();
}

TEST_F(RecorderRun, RowsWaitWhileTheDatabaseIsLockedAndArriveAfterwards) {
  StartRecorder("VRTTEST");
  // Another program holds the database's write lock.
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLAllocEnv(&environment);
  SQLAllocConnect(environment, &connection);
  ASSERT_GE(SQLConnect(connection, reinterpret_cast<SQLCHAR*>(const_cast<char*>("VRTTEST")), SQL_NTS, nullptr, 0,
                       nullptr, 0), 0);
  SQLAllocStmt(connection, &statement);
  ASSERT_GE(SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>("BEGIN EXCLUSIVE")), SQL_NTS), 0);
  QueueEvents(1, 5);
  EXPECT_TRUE(WaitFor([&] { return CsvRows().size() == 6; }, 20s)) << CsvRows().size();
  Sleep(1000);
  SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>("COMMIT")), SQL_NTS);
  SQLFreeStmt(statement, SQL_DROP);
  SQLDisconnect(connection);
  SQLFreeConnect(connection);
  SQLFreeEnv(environment);
  QueueEvents(6, 6);  // the next event wakes the writer
  std::vector<std::string> rows;
  EXPECT_TRUE(WaitFor([&] { return (rows = Sql({"SELECT * FROM EVENTS"})).size() == 6; }, 30s)) << rows.size();
}

TEST_F(RecorderRun, OdbcDebugShowsTheConnectionAndEveryStatement) {
  StartRecorder("VRTTEST", "ODBC_debug=1\r\n");
  EXPECT_TRUE(RingHas(*block, "39 Connected to ODBC Database"));
  EXPECT_TRUE(RingHas(*block, "39 ODBC debug ok=0 retcode=0 state=00000 pcbErrorMsg=0 t=0 h=0"));
  QueueEvents(1, 1);
  const std::string statement = "39 INSERT INTO EVENTS VALUES ('EVR1:DIT:32:0','05/02/2024 10:00:00',101,1,1);";
  EXPECT_TRUE(WaitFor([&] { return RingHas(*block, statement); }, 20s));
}

TEST_F(RecorderRun, AnEmptyDataSourceNameIsReportedAndTheFilesStillFill) {
  StartRecorder("");
  ASSERT_TRUE(WaitFor([&] {
    for (const std::string& message : testing::RingMessages(*block)) {
      if (message.rfind("39 SQLDriverConnect retcode = -1", 0) == 0) return true;
    }
    return false;
  }, 10s));
  QueueEvents(1, 3);
  EXPECT_TRUE(WaitFor([&] { return CsvRows().size() == 4; }, 20s)) << CsvRows().size();
}

// The plant's shared PostgreSQL server: a private cluster of the build tree
// (data source VRTPG; VRTPGCHECK for the test's own look at the table),
// stopped, killed and refusing rows while events arrive. Every event must
// be in the table exactly once and in order, and in the day's CSV file.
class PostgresRun : public RecorderRun {
 protected:
  // The driver on the recorder, then the server (up again, in case a
  // failed test left it down) with a new table.
  void Start(const std::string& moreSettings = "", const std::string& timeStampType = "TEXT") {
    StartRecorder("VRTPG", "UID=vrt\r\nPWD=vrtevents\r\n" + moreSettings, "F");
    ASSERT_TRUE(cluster.Restart());
    if (!timeStampType.empty()) {
      ASSERT_TRUE(cluster.MakeTable(timeStampType));
    }
  }

  static std::vector<std::string> Rows(const std::string& query) {
    return testing::SqlRows("VRTPGCHECK", {query}, 1, ",");
  }
  static long Count() {
    const std::vector<std::string> rows = Rows("SELECT COUNT(*) FROM EVENTS");
    return rows.size() == 1 ? std::atol(rows[0].c_str()) : -1;
  }
  // The server's clock, in seconds.
  static double ServerNow() {
    const std::vector<std::string> rows = Rows("SELECT EXTRACT(EPOCH FROM clock_timestamp())");
    return rows.size() == 1 ? std::atof(rows[0].c_str()) : 0;
  }
  static std::vector<std::string> Codes(int first, int last) {
    std::vector<std::string> codes;
    for (int code = first; code <= last; ++code) codes.push_back(std::to_string(code));
    return codes;
  }
  // The event codes of a day's CSV rows, in their order.
  std::vector<std::string> CsvCodes(const std::string& name = "VRT_LOG20240502.TXT") {
    std::vector<std::string> codes;
    for (const std::string& row : CsvRows(name)) {
      std::vector<std::string> fields;
      std::stringstream split(row);
      for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
      if (fields.size() >= 4 && fields[3] != "EVENT") codes.push_back(fields[3]);
    }
    return codes;
  }
  // The messages of the driver's log file that start with `start`.
  std::vector<std::string> LoggedMessages(const std::string& start) {
    std::ifstream log(directory + "\\VRT_LOG.TXT");
    std::vector<std::string> messages;
    for (std::string line; std::getline(log, line);) {
      const std::size_t bar = line.find('|');
      if (bar != std::string::npos && line.compare(bar + 1, start.size(), start) == 0) {
        messages.push_back(line.substr(bar + 1));
      }
    }
    return messages;
  }
  int Logged(const std::string& start) { return static_cast<int>(LoggedMessages(start).size()); }

  // A burst of `events` (1 up to 400): a recorder holds 256, so the second
  // part is queued while the first drains.
  void QueueBurst(int events) {
    QueueEvents(1, std::min(events, 200));
    if (events <= 200) return;
    ASSERT_TRUE(WaitFor([&] { return CsvRows().size() > 150; }, 30s)) << CsvRows().size();
    QueueEvents(201, events);
  }

  // Every event of the burst once, in the order the recorder sent them.
  void ExpectBurst(int events) {
    EXPECT_TRUE(WaitFor([&] { return Count() >= events; }, 30s)) << Count();
    EXPECT_EQ(Rows("SELECT EVENT FROM EVENTS ORDER BY COMMITTED"), Codes(1, events));
    EXPECT_EQ(CsvCodes(), Codes(1, events));
  }

  testing::PgCluster cluster{VRT_PG_CLUSTER_SCRIPT, VRT_PG_CLUSTER_DIR};
};

TEST_F(PostgresRun, ABurstOfEventsArrivesOnceAndInOrder) {
  Start();
  QueueBurst(350);
  EXPECT_TRUE(WaitFor([&] { return CsvRows().size() == 351; }, 60s)) << CsvRows().size();
  ExpectBurst(350);
  EXPECT_EQ(Logged("Event database lost"), 0);
}

TEST_F(PostgresRun, AServerStoppedMidBurstGetsEveryRowWithinTwoSecondsOfItsReturn) {
  Start();
  QueueBurst(350);
  ASSERT_TRUE(cluster.Stop("fast"));
  const auto stopped = std::chrono::steady_clock::now();
  // Ten seconds down, and no new event once it is back.
  EXPECT_TRUE(WaitFor([&] { return CsvRows().size() == 351; }, 60s)) << CsvRows().size();
  std::this_thread::sleep_until(stopped + 10s);
  ASSERT_TRUE(cluster.Restart());
  const double back = ServerNow();
  ExpectBurst(350);
  const std::vector<std::string> last = Rows("SELECT EXTRACT(EPOCH FROM MAX(COMMITTED)) FROM EVENTS");
  ASSERT_EQ(last.size(), 1u);
  const double drained = std::atof(last[0].c_str()) - back;
  EXPECT_LT(drained, 2.0);
  std::printf("last queued row committed %.2f s after the server was back\n", drained);
  // One message each way, the first with the server's own words whole
  // (57P01 "terminating connection due to administrator command", or the
  // 08S01 of a connection the shutdown closed first, with its hint).
  const std::vector<std::string> lost = LoggedMessages("Event database lost, rows wait: ");
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_GT(lost[0].size(), 100u) << lost[0];
  EXPECT_EQ(Logged("Event database still away"), 0);
  EXPECT_EQ(Logged("Event database back after 1"), 1);
}

TEST_F(PostgresRun, AServerKilledMidBurstGetsEveryRowOnceAfterItsRestart) {
  Start();
  QueueBurst(300);
  ASSERT_TRUE(cluster.Kill());
  Sleep(3000);
  ASSERT_TRUE(cluster.Restart());
  ExpectBurst(300);
  EXPECT_EQ(Logged("Event database lost"), 1);
  EXPECT_EQ(Logged("Event database back after"), 1);
}

// One of two plant nodes logging into the same table at once, each a driver
// in a Wine prefix of its own with its own simulator and configuration:
// polldriver/tests/wine/two-plant-nodes runs it twice side by side, with
// VRT_PLANT_NODE naming the node's recorder, on a table it made.
TEST_F(PostgresRun, OnePlantNodeOfTwoLogsEveryEventOnceBesideTheOther) {
  const char* node = std::getenv("VRT_PLANT_NODE");
  if (node == nullptr) GTEST_SKIP() << "run by two-plant-nodes";
  recorderName = node;
  Start("", "");
  QueueBurst(300);
  EXPECT_TRUE(WaitFor([&] { return CsvRows().size() == 301; }, 60s)) << CsvRows().size();
  const std::string mine = "SELECT EVENT FROM EVENTS WHERE IO_ADDR LIKE '" + recorderName + ":%' ORDER BY COMMITTED";
  EXPECT_TRUE(WaitFor([&] { return Rows(mine).size() >= 300; }, 30s)) << Rows(mine).size();
  EXPECT_EQ(Rows(mine), Codes(1, 300));
  EXPECT_EQ(CsvCodes(), Codes(1, 300));
}

// A TIME_STAMP column of type timestamp reads day-first stamps month first:
// 13/05/2024 is refused, 02/05/2024 taken (as 5 February).
TEST_F(PostgresRun, RowsTheTableRefusesAreSetAsideAndTheOthersGoOn) {
  for (const char* file : {"VRT_LOG20240513.TXT", "VRT_REJ20240513.TXT"}) {
    DeleteFileA((directory + "\\LOGDATA\\" + file).c_str());
  }
  Start("Date_format=1\r\n", "TIMESTAMP");
  QueueEvents(1, 3);
  QueueEvents(4, 5, "2024-05-13");
  QueueEvents(6, 7);
  EXPECT_TRUE(WaitFor([&] { return Count() == 5; }, 30s)) << Count();
  EXPECT_EQ(Rows("SELECT EVENT FROM EVENTS ORDER BY COMMITTED"), (std::vector<std::string>{"1", "2", "3", "6", "7"}));
  EXPECT_EQ(CsvCodes(), (std::vector<std::string>{"1", "2", "3", "6", "7"}));
  EXPECT_EQ(CsvCodes("VRT_LOG20240513.TXT"), (std::vector<std::string>{"4", "5"}));
  // The refused rows whole, with the server's reason.
  const std::vector<std::string> rejected = CsvRows("VRT_REJ20240513.TXT");
  ASSERT_EQ(rejected.size(), 3u);
  EXPECT_EQ(rejected[0], "IO_ADDR,TIME_STAMP,MILLI,EVENT,VALUE,SQLSTATE,ERROR");
  EXPECT_EQ(rejected[1].rfind("EVR1:DIT:32:3,13/05/2024 10:00:00,104,4,1,22008,\"", 0), 0u) << rejected[1];
  EXPECT_NE(rejected[1].find("out of range"), std::string::npos) << rejected[1];
  EXPECT_EQ(rejected[2].rfind("EVR1:DIT:32:4,13/05/2024 10:00:00,105,5,1,22008,\"", 0), 0u) << rejected[2];
  EXPECT_EQ(Logged("Event row refused by the database, kept in .\\LOGDATA\\VRT_REJ20240513.TXT: 22008"), 2);
  EXPECT_EQ(Logged("Event database lost"), 0);
}

// An event recorder with a queue of events: they are drained into the image,
// the driver's messages and the days' CSV files.
TEST_F(DriverProcesses, RecorderEventsReachTheImageTheMessagesAndTheDaysFiles) {
  session.UseNetwork(R"({ "control_port": 0, "cards": [
    { "card": 1, "port": 0, "stations": [ { "station": 7, "type": "EVR420", "clock": "2024-05-01 08:00:00",
      "events": [ { "code": 33, "state": 1, "time": "2024-05-01 07:59:58.250" },
                  { "code": 50, "state": 1, "time": "2024-04-30 23:59:59.999" },
                  { "code": 300, "state": 1, "time": "2024-05-01 08:00:01.000" },
                  { "code": 9402, "state": 1 } ] } ] } ] })", {1});
  ASSERT_TRUE(simulator->Ready());
  DitPollRecord events = testing::SamplePollRecord(0, 14, kDataDigital, kExceptionDisabled, kPollKindEvent);
  events.pollTime = 20;
  DitPollRecord inputs = testing::SamplePollRecord(32, 4, kDataSigned);
  inputs.pollTime = 20;
  DitDeviceSource recorder = testing::SampleDevice("EVR1", 7, {events, inputs});
  recorder.record.hardwareType = kHardwareEVR420;
  DitConfiguration configuration;
  configuration.channels.push_back(testing::SampleChannel(0, {recorder}));
  session.UseConfiguration(configFile, WriteDitImage(configuration, 0).bytes);
  CreateDirectoryA((directory + "\\LOGDATA").c_str(), nullptr);
  for (const char* day : {"20240501", "20240430"}) DeleteFileA((directory + "\\LOGDATA\\VRT_LOG" + day + ".TXT").c_str());
  std::ofstream(directory + "\\VRT.INI", std::ios::trunc)
      << "[LOGGING]\r\nLogging_enabled=1\r\nLOGDATA_PATH=.\\LOGDATA\r\nMSec_included=1\r\n"
      << "ODBC_enabled=1\r\nDSN=VRTTEST\r\n";
  ASSERT_TRUE(Sql({"DROP TABLE IF EXISTS EVENTS",
                   "CREATE TABLE EVENTS (IO_ADDR TEXT, TIME_STAMP TEXT, MILLI INTEGER, EVENT INTEGER, VALUE INTEGER)"})
                  .empty());

  driver = StartDriver();
  ProbeProcess client(Probe(), "");
  // Once the queue is empty the recorder's data are read again: bit 0 of
  // address 34 (code 33) and bit 1 of 35 (code 50) are set.
  EXPECT_TRUE(Eventually(client, "rec 1", "rec 1 status 0 0 0 1 2", 20s));
  EXPECT_TRUE(RingHas(*block, "23 Event EVR1:DIT:34:0=1 05/01/2024 07:59:58.250 (250)"));
  EXPECT_TRUE(RingHas(*block, "23 Event EVR1:DIT:35:1=1 04/30/2024 23:59:59.999 (999)"));
  EXPECT_TRUE(RingHas(*block, "39 recieved event for undefined poll record 50:11"));
  EXPECT_TRUE(RingHas(*block, "39 SER(7) EVENT - 9402 Power return"));

  auto read = [&](const char* day) {
    std::ifstream file(directory + "\\LOGDATA\\VRT_LOG" + day + ".TXT", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  };
  EXPECT_EQ(read("20240501"), "IO_ADDR,TIME_STAMP,MILLI,EVENT,VALUE\r\nEVR1:DIT:34:0,05/01/2024 07:59:58.250,250,33,1\r\n");
  EXPECT_EQ(read("20240430"), "IO_ADDR,TIME_STAMP,MILLI,EVENT,VALUE\r\nEVR1:DIT:35:1,04/30/2024 23:59:59.999,999,50,1\r\n");
  EXPECT_TRUE(RingHas(*block, "39 New time tag event log file opened"));
  // The database holds the same rows as the files.
  EXPECT_TRUE(RingHas(*block, "39 SQLDriverConnect retcode = 0 state=00000"));
  std::vector<std::string> rows;
  WaitFor([&] { return (rows = Sql({"SELECT * FROM EVENTS ORDER BY EVENT"})).size() >= 2; }, 10s);
  EXPECT_EQ(rows, (std::vector<std::string>{"EVR1:DIT:34:0,05/01/2024 07:59:58.250,250,33,1",
                                            "EVR1:DIT:35:1,04/30/2024 23:59:59.999,999,50,1"}));
}

}  // namespace
}  // namespace vrt
