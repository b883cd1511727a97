// Figures of the real driver through the card server and the simulator:
//   - transactions per second on one channel (a record with poll time 0,
//     against the design limit of one transaction per 10 ms cycle);
//   - the measured poll period of a record with poll time 0.50 s;
//   - events per second from an event recorder's queue to the day's CSV file
//     and to the database (data source VRTBENCH when ODBCINI names one);
// each for the driver as shipped and for the driver as it was before its
// main loop kept the tick remainder and asked for a 1 ms timer.
//
//   ODBCINI=... cmake/wine-run build/win64/bin/driver_bench.exe [--seconds N] [--events]
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
#include "probe_process.h"
#include "sample_configuration.h"
#include "shared_access.h"
#include "simulator_session.h"

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

long QueryCount(const char* statement) {
  long count = -1;
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLHSTMT handle = SQL_NULL_HSTMT;
  SQLAllocEnv(&environment);
  SQLAllocConnect(environment, &connection);
  if (SQLConnect(connection, reinterpret_cast<SQLCHAR*>(const_cast<char*>("VRTBENCH")), SQL_NTS, nullptr, 0, nullptr,
                 0) >= 0) {
    SQLAllocStmt(connection, &handle);
    if (SQLExecDirect(handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement)), SQL_NTS) >= 0) {
      count = 0;
      if (SQLFetch(handle) == SQL_SUCCESS) {
        SQLINTEGER value = 0;
        SQLLEN length = 0;
        if (SQLGetData(handle, 1, SQL_C_SLONG, &value, 0, &length) >= 0) count = value;
      }
    }
    SQLFreeStmt(handle, SQL_DROP);
    SQLDisconnect(connection);
  }
  SQLFreeConnect(connection);
  SQLFreeEnv(environment);
  return count;
}

long CsvRows(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  long rows = -1;  // the header
  while (std::getline(in, line)) ++rows;
  return rows;
}

// Queues `count` events and times their way to the CSV file and the database.
void MeasureEvents(const std::string& directory, int count) {
  const bool database = QueryCount("DROP TABLE IF EXISTS EVENTS") >= 0 &&
                        QueryCount("CREATE TABLE EVENTS (IO_ADDR TEXT, TIME_STAMP TEXT, MILLI INTEGER, "
                                   "EVENT INTEGER, VALUE INTEGER)") >= 0;
  const std::string config = directory + "\\BENCH.VRT";
  DitPollRecord events = testing::SamplePollRecord(0, 14, 4, 0, kPollKindEvent);
  events.pollTime = 10;
  DitPollRecord inputs = testing::SamplePollRecord(32, 16, 2);
  DitDeviceSource recorder = testing::SampleDevice("EVR1", 7, {events, inputs});
  recorder.record.hardwareType = 3;
  DitConfiguration configuration;
  configuration.channels.push_back(testing::SampleChannel(0, {recorder}));
  testing::InstallConfiguration(config, WriteDitImage(configuration, 0).bytes);
  CreateDirectoryA((directory + "\\LOGDATA").c_str(), nullptr);
  const std::string csv = directory + "\\LOGDATA\\VRT_LOG20240502.TXT";
  DeleteFileA(csv.c_str());
  std::ofstream(directory + "\\VRT.INI", std::ios::trunc)
      << "[LOGGING]\r\nLogging_enabled=1\r\nLOGDATA_PATH=.\\LOGDATA\r\nODBC_enabled=" << (database ? 1 : 0)
      << "\r\nDSN=VRTBENCH\r\n";

  testing::SimulatorSession simulator(directory, R"({ "control_port": 0, "cards": [
    { "card": 1, "port": 0, "stations": [ { "station": 7, "type": "EVR420" } ] } ] })");
  if (!simulator.Ready()) return;
  simulator.ServeCards({1});
  testing::ProbeProcess driver(testing::ProgramDirectory() + "\\VRTSPOLL.exe", "", directory);
  DriverControlBlock* block = nullptr;
  if (!testing::WaitFor([&] { return (block = testing::OpenExistingControlBlock()) != nullptr; }, 10s) ||
      !testing::WaitFor([&] { return SharedLoad(block->RunState) == kStateRunning; }, 10s)) {
    return;
  }
  Sleep(1000);
  // Queued all at once, with distinct codes and stamps, so none is a duplicate.
  for (int i = 0; i < count; ++i) {
    simulator.Command("event 1 7 " + std::to_string(1 + i % 256) + " 1 2024-05-02 10:00:" +
                      std::to_string(10 + i / 256) + "." + std::to_string(100 + i % 256));
  }
  const auto start = std::chrono::steady_clock::now();
  testing::WaitFor([&] { return CsvRows(csv) >= count; }, 120s);
  const double toFile = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double toDatabase = -1;
  if (database) {
    testing::WaitFor([&] { return QueryCount("SELECT COUNT(*) FROM EVENTS") >= count; }, 120s);
    toDatabase = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  std::printf("%-44s %14.1f\n", "events/s to the CSV file", CsvRows(csv) / toFile);
  if (database) {
    std::printf("%-44s %14.1f\n", "events/s to the database", QueryCount("SELECT COUNT(*) FROM EVENTS") / toDatabase);
  } else {
    std::printf("%-44s %14s\n", "events/s to the database", "no VRTBENCH");
  }
  SharedStore(block->RunRequest, kRequestExit);
  testing::WaitFor([&] { return !driver.Running(); }, 10s);
  simulator.Shutdown();
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
    MeasureEvents(directory, 300);
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
  std::printf("\n%d events queued at once in the recorder (limit: one per idle cycle, 100/s)\n", 300);
  MeasureEvents(directory, 300);
  return 0;
}
