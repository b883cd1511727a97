// Figures of the real driver through the card server and the simulator:
//   - transactions per second on one channel (a record with poll time 0,
//     against the design limit of one transaction per 10 ms cycle);
//   - the measured poll period of a record with poll time 0.50 s;
//   - events per second from an event recorder's queue to the day's CSV file,
//     to SQLite (data source VRTBENCH when ODBCINI names one) and to a
//     private PostgreSQL cluster the bench starts (build/win64/pg-bench);
//   - the longest wait of a row while PostgreSQL is stopped for 10 s, and
//     the time from its return to the last row, for the writer as shipped
//     and for one that looks again only when woken (VRTSPOLL_wakeups.exe);
// the first two for the driver as shipped and for the driver as it was
// before its main loop kept the tick remainder and asked for a 1 ms timer.
//
//   ODBCINI=... ODBCSYSINI=<build>/win64/pg-bench cmake/wine-run build/win64/bin/driver_bench.exe [--seconds N] [--events]
// (--seconds: per measurement, default 30; --events: only the events)
#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "dit_codes.h"
#include "dit_mapping.h"
#include "dit_writer.h"
#include "driver_session.h"
#include "pg_cluster.h"
#include "probe_process.h"
#include "sample_configuration.h"
#include "shared_access.h"
#include "simulator_session.h"
#include "sql_rows.h"

namespace {

using namespace vrt;
using namespace std::chrono_literals;

constexpr const char* kNetwork = R"({ "control_port": 0, "cards": [
  { "card": 1, "port": 0, "stations": [ { "station": 5, "type": "ZOLT", "registers": { "0": [1, 2, 3, 4] } } ] } ] })";

void WriteConfiguration(const std::string& path, std::uint32_t pollTime) {
  DitPollRecord record = testing::SamplePollRecord(0, 4);
  record.pollTime = pollTime;
  record.accessTime = kAccessNeverExpires;
  DitConfiguration configuration;
  configuration.channels.push_back(testing::SampleChannel(0, {testing::SampleDevice("BENCH", 5, {record})}));
  testing::InstallConfiguration(path, WriteDitImage(configuration, 0).bytes);
}

long Reads(testing::SimulatorSession& simulator) {
  for (const std::string& line : simulator.Command("counters 1")) {
    const std::size_t at = line.find(" reads ");
    if (line.find("station 5") != std::string::npos && at != std::string::npos) return std::atol(line.c_str() + at + 7);
  }
  return -1;
}

// Runs one driver on one configuration and returns the reads per second.
double Measure(const std::string& directory, const std::string& driverExe, std::uint32_t pollTime, int seconds) {
  const std::string config = directory + "\\BENCH.VRT";
  WriteConfiguration(config, pollTime);
  testing::SimulatorSession simulator(directory, kNetwork);
  if (!simulator.Ready()) return -1;
  simulator.ServeCards({1});

  testing::ProbeProcess driver(testing::ProgramDirectory() + "\\" + driverExe, "", directory);
  DriverControlBlock* block = nullptr;
  if (!testing::WaitFor([&] { return (block = testing::OpenExistingControlBlock()) != nullptr; }, 10s) ||
      !testing::WaitFor([&] { return SharedLoad(block->RunState) == kStateRunning; }, 10s)) {
    return -1;
  }
  Sleep(2000);  // settle: the first reads come at once
  const long first = Reads(simulator);
  const auto start = std::chrono::steady_clock::now();
  Sleep(static_cast<DWORD>(seconds) * 1000);
  const long last = Reads(simulator);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  SharedStore(block->RunRequest, kRequestExit);
  testing::WaitFor([&] { return !driver.Running(); }, 10s);
  simulator.Shutdown();
  return (last - first) / elapsed;
}

long QueryCount(const char* dataSource, const std::string& statement) {
  const std::vector<std::string> rows = testing::SqlRows(dataSource, {statement}, 1, "");
  if (rows.size() == 1 && rows[0] == "connect failed") return -1;
  return rows.empty() ? 0 : std::atol(rows[0].c_str());
}

double QuerySeconds(const char* dataSource, const std::string& statement) {
  const std::vector<std::string> rows = testing::SqlRows(dataSource, {statement}, 1, "");
  return rows.size() == 1 ? std::atof(rows[0].c_str()) : -1;
}

long CsvRows(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  long rows = -1;  // the header
  while (std::getline(in, line)) ++rows;
  return rows;
}

// An event recorder and the driver logging its events to the day's file
// and, with `settings` naming a data source, to the database.
class RecorderBench {
 public:
  RecorderBench(const std::string& directory, const std::string& driverExe, const std::string& settings)
      : csv(directory + "\\LOGDATA\\VRT_LOG20240502.TXT") {
    const std::string config = directory + "\\BENCH.VRT";
    DitPollRecord events = testing::SamplePollRecord(0, 14, 4, 0, kPollKindEvent);
    events.pollTime = 10;
    DitPollRecord inputs = testing::SamplePollRecord(32, 32, 2);  // codes 1..512
    DitDeviceSource recorder = testing::SampleDevice("EVR1", 7, {events, inputs});
    recorder.record.hardwareType = 3;
    DitConfiguration configuration;
    configuration.channels.push_back(testing::SampleChannel(0, {recorder}));
    testing::InstallConfiguration(config, WriteDitImage(configuration, 0).bytes);
    CreateDirectoryA((directory + "\\LOGDATA").c_str(), nullptr);
    DeleteFileA(csv.c_str());
    std::ofstream(directory + "\\VRT.INI", std::ios::trunc)
        << "[LOGGING]\r\nLogging_enabled=1\r\nLOGDATA_PATH=.\\LOGDATA\r\n" << settings;
    simulator = std::make_unique<testing::SimulatorSession>(directory, R"({ "control_port": 0, "cards": [
      { "card": 1, "port": 0, "stations": [ { "station": 7, "type": "EVR420" } ] } ] })");
    if (!simulator->Ready()) return;
    simulator->ServeCards({1});
    driver = std::make_unique<testing::ProbeProcess>(testing::ProgramDirectory() + "\\" + driverExe, "", directory);
    ready = testing::WaitFor([&] { return (block = testing::OpenExistingControlBlock()) != nullptr; }, 10s) &&
            testing::WaitFor([&] { return SharedLoad(block->RunState) == kStateRunning; }, 10s);
    Sleep(1000);
  }
  ~RecorderBench() {
    if (block != nullptr) SharedStore(block->RunRequest, kRequestExit);
    if (driver) testing::WaitFor([&] { return !driver->Running(); }, 10s);
    if (simulator) simulator->Shutdown();
  }

  // Events first..last with distinct codes and stamps, so none is a
  // duplicate; a recorder holds 256, so a long burst is queued in parts.
  void Queue(int first, int last) {
    for (int code = first; code <= last; ++code) {
      if (code > first && (code - first) % 200 == 0) {
        testing::WaitFor([&] { return CsvRows(csv) >= code - first - 50; }, 60s);
      }
      simulator->Command("event 1 7 " + std::to_string(code) + " 1 2024-05-02 10:00:" + std::to_string(10 + code / 256) +
                         "." + std::to_string(100 + code % 256));
    }
  }

  const std::string csv;
  std::unique_ptr<testing::SimulatorSession> simulator;
  std::unique_ptr<testing::ProbeProcess> driver;
  DriverControlBlock* block = nullptr;
  bool ready = false;
};

const char* const kSqliteTable =
    "CREATE TABLE EVENTS (IO_ADDR TEXT, TIME_STAMP TEXT, MILLI INTEGER, EVENT INTEGER, VALUE INTEGER)";

// Queues `count` events and times their way to the CSV file and the
// database: the SQLite file of VRTBENCH, or the PostgreSQL cluster.
void MeasureEvents(const std::string& directory, int count, testing::PgCluster* postgres) {
  const char* source = postgres ? "VRTPGCHECK" : "VRTBENCH";
  const bool database = postgres ? postgres->MakeTable()
                                 : QueryCount(source, "DROP TABLE IF EXISTS EVENTS") >= 0 &&
                                       QueryCount(source, kSqliteTable) >= 0;
  std::string settings = "ODBC_enabled=" + std::string(database ? "1" : "0") + "\r\n";
  settings += postgres ? "DSN=VRTPG\r\nUID=vrt\r\nPWD=vrtevents\r\n" : "DSN=VRTBENCH\r\n";
  RecorderBench bench(directory, "VRTSPOLL.exe", settings);
  if (!bench.ready) return;
  const auto start = std::chrono::steady_clock::now();
  bench.Queue(1, count);
  testing::WaitFor([&] { return CsvRows(bench.csv) >= count; }, 120s);
  const double toFile = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double toDatabase = -1;
  if (database) {
    testing::WaitFor([&] { return QueryCount(source, "SELECT COUNT(*) FROM EVENTS") >= count; }, 120s);
    toDatabase = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const std::string label = postgres ? "PostgreSQL" : "SQLite";
  std::printf("%-44s %14.1f\n", ("events/s to the CSV file (" + label + " run)").c_str(), CsvRows(bench.csv) / toFile);
  if (database) {
    std::printf("%-44s %14.1f\n", ("events/s to " + label).c_str(),
                QueryCount(source, "SELECT COUNT(*) FROM EVENTS") / toDatabase);
  } else {
    std::printf("%-44s %14s\n", ("events/s to " + label).c_str(), "no data source");
  }
}

// A burst of 200 events with the server stopped for 10 s after the first
// 50: the longest wait of a row (from the stop to the commit of the first
// row queued after it) and the time from the server's return to the last
// commit, by the server's clock.
void MeasureOutage(const std::string& directory, const std::string& driverExe, testing::PgCluster& postgres,
                   double& longestWait, double& drain) {
  longestWait = drain = -1;
  auto failed = [&](const char* what) { std::printf("%s: %s\n", driverExe.c_str(), what); };
  if (!postgres.Restart() || !postgres.MakeTable()) return failed("the cluster cannot be used");
  RecorderBench bench(directory, driverExe, "ODBC_enabled=1\r\nDSN=VRTPG\r\nUID=vrt\r\nPWD=vrtevents\r\n");
  if (!bench.ready) return failed("the driver did not start");
  bench.Queue(1, 200);
  testing::WaitFor([&] { return CsvRows(bench.csv) >= 50; }, 60s);
  const char* source = "VRTPGCHECK";
  const double stopped = QuerySeconds(source, "SELECT EXTRACT(EPOCH FROM clock_timestamp())");
  if (!postgres.Stop("fast")) return failed("the server did not stop");
  Sleep(10000);
  if (!postgres.Restart()) return failed("the server did not start again");
  const double back = QuerySeconds(source, "SELECT EXTRACT(EPOCH FROM clock_timestamp())");
  testing::WaitFor([&] { return QueryCount(source, "SELECT COUNT(*) FROM EVENTS") >= 200; }, 60s);
  char query[160];
  // The first row committed after the server's return was queued at about
  // the stop (rows flow at up to 100/s): it waited longest.
  std::snprintf(query, sizeof query,
                "SELECT EXTRACT(EPOCH FROM MIN(COMMITTED)) FROM EVENTS WHERE EXTRACT(EPOCH FROM COMMITTED) > %.6f",
                back);
  longestWait = QuerySeconds(source, query) - stopped;
  drain = QuerySeconds(source, "SELECT EXTRACT(EPOCH FROM MAX(COMMITTED)) FROM EVENTS") - back;
}

void EventFigures(const std::string& directory, int count) {
  std::printf("%d events queued in the recorder (limit: one per idle cycle, 100/s)\n", count);
  MeasureEvents(directory, count, nullptr);
  testing::PgCluster postgres(VRT_PG_CLUSTER_SCRIPT, VRT_PG_CLUSTER_DIR);
  if (!postgres.Run("start", "VRTPG")) {
    std::printf("%-44s %14s\n", "events/s to PostgreSQL", "no cluster");
    return;
  }
  MeasureEvents(directory, count, &postgres);
  std::printf("\nPostgreSQL stopped for 10 s during a burst    %14s %14s\n", "before", "as shipped");
  double waitBefore = 0, drainBefore = 0, waitAfter = 0, drainAfter = 0;
  MeasureOutage(directory, "VRTSPOLL_wakeups.exe", postgres, waitBefore, drainBefore);
  MeasureOutage(directory, "VRTSPOLL.exe", postgres, waitAfter, drainAfter);
  std::printf("%-44s %14.2f %14.2f\n", "longest wait of a row, s", waitBefore, waitAfter);
  std::printf("%-44s %14.2f %14.2f\n", "server back to last row committed, s", drainBefore, drainAfter);
  postgres.Stop();
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 30;
  bool eventsOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--events") == 0) eventsOnly = true;
  }
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string directory = std::string(temp) + "vrt-driver-bench";
  CreateDirectoryA(directory.c_str(), nullptr);
  HMODULE server = LoadLibraryA("TavexNet.dll");
  using Registration = HRESULT(STDAPICALLTYPE*)();
  auto registerServer =
      reinterpret_cast<Registration>(reinterpret_cast<void*>(GetProcAddress(server, "DllRegisterServer")));
  if (registerServer == nullptr || registerServer() != S_OK) {
    std::printf("cannot register TavexNet.dll\n");
    return 1;
  }

  if (eventsOnly) {
    EventFigures(directory, 300);
    return 0;
  }
  std::printf("driver figures over %d s per measurement (card server and simulator on loopback)\n\n", seconds);
  std::printf("%-44s %14s %14s\n", "", "before the fix", "as shipped");
  const double fastBefore = Measure(directory, "VRTSPOLL_uncarried.exe", 0, seconds);
  const double fastAfter = Measure(directory, "VRTSPOLL.exe", 0, seconds);
  std::printf("%-44s %14.1f %14.1f\n", "transactions/s, poll time 0 (limit 100/s)", fastBefore, fastAfter);
  const double slowBefore = Measure(directory, "VRTSPOLL_uncarried.exe", 50, seconds);
  const double slowAfter = Measure(directory, "VRTSPOLL.exe", 50, seconds);
  std::printf("%-44s %14.3f %14.3f\n", "poll period in s, poll time 0.50 s", slowBefore > 0 ? 1.0 / slowBefore : -1,
              slowAfter > 0 ? 1.0 / slowAfter : -1);
  std::printf("\n");
  EventFigures(directory, 300);
  return 0;
}
