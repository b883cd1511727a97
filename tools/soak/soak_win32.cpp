// The fault soak: the real driver, card library, card server and simulator
// run for minutes while the simulator is made to fail at random (silence,
// refusals, wrong replies, delays, dropped connections, its own restart)
// and an event recorder reports events at random; a NIO client writes and
// reads, and an OPC client subscribes. When the faults stop, it checks that
// nothing was lost or corrupted and prints what it found:
//   - the driver alive and every record good again;
//   - every event the simulator sent exactly once in the day's CSV file and
//     in the database (events still queued in a simulator that restarted
//     were never sent, and the one it had last handed out may never have
//     been confirmed: those may appear at most once);
//   - every client write at the station, or its failure shown: a failure
//     message for its record in the driver's log, or the record's quality
//     not good while the write was followed;
//   - the OPC subscription's values equal to the station's registers;
//   - a concurrent OPC client (threads calling every method of the server
//     in random order, writes left out) never stalled for 5 s and got only
//     results its calls may give;
// The driver's memory and descriptors are sampled from outside, by ./soak
// (Wine keeps a process's handles in its server, where no call reaches).
//
//   soak.exe [--minutes M] [--seed S] [--no-restarts] [--sim-log] [--postgres DIR]
//                                        (ODBCINI names the data source VRTSOAK;
//                                        with --postgres, the cluster of
//                                        tools/pgcluster in the host's DIR,
//                                        stopped and killed in turn every 40 s)
// --sim-log keeps every frame the simulator sees and sends, and its faults,
// in SIM_LOG.TXT beside the driver's log (some 2 MB a minute).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dit_codes.h"
#include "dit_mapping.h"
#include "dit_writer.h"
#include "driver_session.h"
#include "opc_client.h"
#include "opc_subscription_sink.h"
#include "stress_client_win32.h"
#include "probe_process.h"
#include "sample_configuration.h"
#include "pg_cluster.h"
#include "sql_rows.h"
#include "shared_access.h"
#include "vrtstsr.h"
#include "vrtstsr_point.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vrt::testing::ComPtr;
using vrt::testing::WaitFor;

// Fixed ports, so that a restarted simulator is found where the card server
// looks for it. Card n serves the driver's port n - 1.
constexpr const char* kNetwork = R"({ "control_port": 5879, "cards": [
  { "card": 1, "port": 5871, "stations": [ { "station": 5, "type": "ZOLT", "registers": { "0x100": [0, 0, 0, 0] } } ] },
  { "card": 2, "port": 5872, "stations": [ { "station": 6, "type": "ZOLT", "registers": { "0x100": [0, 0, 0, 0] } } ] },
  { "card": 3, "port": 5873, "stations": [ { "station": 7, "type": "EVR420" } ] }
] })";
constexpr const char* kDataSource = "VRTSOAK";
// The soak's look at the table: the driver's own data source, or with
// PostgreSQL the one that carries user and password.
std::string checkSource = kDataSource;
constexpr std::uint64_t kStallLimit = 5000;

std::vector<std::uint8_t> PlantImage() {
  // Channel 1: the pump on port 0 (card 1), its backup link on port 1 (card 2)
  // with the backup station 6. Channel 2: the recorder on port 2 (card 3).
  vrt::DitPollRecord pump = vrt::testing::SamplePollRecord(0x100, 4, vrt::kDataUnsigned, vrt::kExceptionAnalog);
  pump.pollTime = 10;
  pump.accessTime = vrt::kAccessNeverExpires;
  vrt::DitDeviceSource pumpDevice = vrt::testing::SampleDevice("PUMP", 5, {pump});
  pumpDevice.record.backupStation = 6;
  vrt::DitChannelSource pumps = vrt::testing::SampleChannel(0, {pumpDevice});
  pumps.record.backup = pumps.record.primary;
  pumps.record.backup.port = 1;
  vrt::testing::MakeLinkQuick(pumps.record.primary);
  vrt::testing::MakeLinkQuick(pumps.record.backup);

  vrt::DitPollRecord events =
      vrt::testing::SamplePollRecord(0, 14, vrt::kDataDigital, vrt::kExceptionDisabled, vrt::kPollKindEvent);
  events.pollTime = 10;
  // Polled whether or not a client reads it: the recorder's events are collected for the log.
  events.accessTime = vrt::kAccessNeverExpires;
  vrt::DitPollRecord inputs = vrt::testing::SamplePollRecord(32, 16, vrt::kDataUnsigned);
  inputs.pollTime = 50;
  inputs.accessTime = vrt::kAccessNeverExpires;
  vrt::DitDeviceSource recorder = vrt::testing::SampleDevice("EVR1", 7, {events, inputs});
  recorder.record.hardwareType = vrt::kHardwareEVR420;
  vrt::DitChannelSource recorders = vrt::testing::SampleChannel(2, {recorder});
  vrt::testing::MakeLinkQuick(recorders.record.primary);

  vrt::DitConfiguration configuration;
  configuration.channels.push_back(pumps);
  configuration.channels.push_back(recorders);
  return vrt::WriteDitImage(configuration, 1800000000).bytes;
}

// Runs statements on the soak's data source; the rows of the last one.
std::vector<std::string> Sql(const std::vector<std::string>& statements) {
  return vrt::testing::SqlRows(checkSource.c_str(), statements, 2, "|");
}

// Keeps the OPC subscription's latest value per client handle.
class LatestValues final : public SubscriptionSink {
 public:
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE* handles,
                                         VARIANT* values, WORD* qualities, FILETIME*, HRESULT*) override {
    std::lock_guard<std::mutex> guard(lock_);
    for (DWORD k = 0; k < count; ++k) {
      VARIANT number;
      VariantInit(&number);
      double value = -1.0;
      if (SUCCEEDED(VariantChangeType(&number, &values[k], 0, VT_R8))) value = number.dblVal;
      latest_[handles[k]] = {value, qualities[k]};
    }
    ++calls_;
    return S_OK;
  }
  std::pair<double, WORD> Latest(OPCHANDLE handle) {
    std::lock_guard<std::mutex> guard(lock_);
    return latest_[handle];
  }
  long Calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }

 private:
  ~LatestValues() override = default;
  std::mutex lock_;
  std::map<OPCHANDLE, std::pair<double, WORD>> latest_;
  long calls_ = 0;
};

// One event the soak queued, identified by its code and time of day.
struct QueuedEvent {
  int code;
  int state;
  std::string time;  // "HH:MM:SS.mmm" of 2 May 2024
};

std::string FileText(const std::string& path, std::streamoff from = 0) {
  std::ifstream file(path, std::ios::binary);
  file.seekg(from);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::streamoff FileSize(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  return file ? static_cast<std::streamoff>(file.tellg()) : 0;
}

class Soak {
 public:
  Soak(double minutes, unsigned seed, bool restarts, bool simulatorLog, vrt::testing::PgCluster* postgres)
      : minutes_(minutes), restarts_enabled_(restarts), random_(seed), postgres_(postgres) {
    if (simulatorLog) {
      simulatorLog_ = session_.directory + "\\SIM_LOG.TXT";
      DeleteFileA(simulatorLog_.c_str());
      StartSimulator();
    }
  }

  int Run() {
    if (!session_.simulator->Ready()) return Fail("the simulator did not start: " + session_.simulator->Problem());
    session_.UseConfiguration(session_.directory + "\\PLANT.VRT", PlantImage());
    CreateDirectoryA((session_.directory + "\\LOGDATA").c_str(), nullptr);
    DeleteFileA(CsvPath().c_str());
    DeleteFileA((session_.directory + "\\VRT_LOG.TXT").c_str());
    std::ofstream(session_.directory + "\\VRT.INI", std::ios::trunc)
        << "[LOGGING]\r\nLogging_enabled=1\r\nLOGDATA_PATH=.\\LOGDATA\r\nMSec_included=1\r\nODBC_enabled=1\r\nDSN="
        << kDataSource << "\r\n" << (postgres_ ? "UID=vrt\r\nPWD=vrtevents\r\n" : "");
    if (postgres_) {
      if (!postgres_->MakeTable()) return Fail("the PostgreSQL cluster cannot be used");
    } else {
      const auto created = Sql({"DROP TABLE IF EXISTS EVENTS",
                                "CREATE TABLE EVENTS (IO_ADDR TEXT, TIME_STAMP TEXT, MILLI INTEGER, EVENT INTEGER, "
                                "VALUE INTEGER)"});
      if (!created.empty()) return Fail("the data source " + std::string(kDataSource) + " cannot be used");
    }
    session_.driver = session_.StartDriver("F");
    if (session_.block == nullptr) return Fail("the driver did not start");

    if (!StartClients()) return 1;
    const std::uint64_t soakMilliseconds = static_cast<std::uint64_t>(minutes_ * 60000.0);
    std::thread watch([&] {
      const std::string stalled = vrt::tool::WatchProgress(*stress_, soakMilliseconds, kStallLimit, {});
      if (stalled.empty()) return;
      std::printf("soak: FAILED: the concurrent OPC client: %s\n", stalled.c_str());
      vrt::tool::EndStalledProcess(1);
    });
    std::printf("soak: %.1f minutes of faults, events, writes and a subscription\n", minutes_);
    std::fflush(stdout);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double, std::ratio<60>>(minutes_);
    auto nextRestart = start + 45s;
    auto nextServerFault = start + 20s;
    bool serverDown = false;
    Clock::time_point serverBack = start;
    while (Clock::now() < end) {
      // The database server: stopped for 10 s or killed and started 3 s
      // later, in turn, every 40 s.
      if (postgres_ && serverDown && Clock::now() >= serverBack) {
        if (!postgres_->Restart()) return Fail("the PostgreSQL server did not start again");
        serverDown = false;
        nextServerFault = Clock::now() + 40s;
      } else if (postgres_ && !serverDown && Clock::now() >= nextServerFault) {
        const bool kill = (serverStops_ + serverKills_) % 2 == 1;
        if (!(kill ? postgres_->Kill() : postgres_->Stop("fast"))) return Fail("the PostgreSQL server did not stop");
        ++(kill ? serverKills_ : serverStops_);
        serverDown = true;
        serverBack = Clock::now() + (kill ? 3s : 10s);
      }
      const int action = Pick(0, 99);
      if (action < 45) {
        InjectFault();
      } else if (action < 80) {
        QueueEvent();
      } else if (action < 95) {
        WriteAndFollow();
      } else if (restarts_enabled_ && Clock::now() >= nextRestart) {
        RestartSimulator();
        nextRestart = Clock::now() + 45s;
      }
      Sleep(static_cast<DWORD>(Pick(100, 400)));
    }
    watch.join();
    if (postgres_ && serverDown && !postgres_->Restart()) return Fail("the PostgreSQL server did not start again");
    if (postgres_) std::printf("soak: PostgreSQL stopped %d times, killed %d times\n", serverStops_, serverKills_);
    return Settle();
  }

 private:
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  int Fail(const std::string& why) {
    std::printf("soak: FAILED: %s\n", why.c_str());
    std::fflush(stdout);
    return 1;
  }

  std::string CsvPath() const { return session_.directory + "\\LOGDATA\\VRT_LOG20240502.TXT"; }
  std::string LogPath() const { return session_.directory + "\\VRT_LOG.TXT"; }

  bool StartClients() {
    // NIO: the pump's four registers.
    for (int k = 0; k < 4; ++k) {
      NioPoint& point = points_[k];
      point.valueSpec.valueKind = NIO_KIND_ANALOG;
      point.valueSpec.eguSpan = 65535.0f;
      std::uint16_t status = 0;
      const std::string address = "PUMP:DIT:" + std::to_string(0x100 + k);
      nio_paddr(&status, &point.block, &point.valueSpec, address.c_str());
      if (status != 0) {
        Fail("the NIO client cannot address " + address);
        return false;
      }
    }
    // OPC: a subscription on the same registers.
    if (FAILED(vrt::testing::CreateServer(server_))) {
      Fail("the OPC server cannot be created");
      return false;
    }
    if (FAILED(vrt::testing::AddGroup(*server_.Get(), L"soak", group_, nullptr, TRUE, 200))) {
      Fail("AddGroup failed");
      return false;
    }
    if (vrt::testing::AddItems(*group_.Get(), {L"PUMP:DIT:256", L"PUMP:DIT:257", L"PUMP:DIT:258", L"PUMP:DIT:259"})
            .size() != 4) {
      Fail("AddItems failed");
      return false;
    }
    latest_ = new LatestValues;
    if (FAILED(vrt::testing::AdviseDataCallback(*group_.Get(), latest_, &cookie_))) {
      Fail("the subscription cannot be made");
      return false;
    }
    // Beside it, a client calling everything at once (the NIO client writes).
    vrt::tool::StressOptions options;
    options.mtaThreads = 2;
    options.itemIds = {L"PUMP:DIT:256", L"PUMP:DIT:257", L"PUMP:DIT:258", L"PUMP:DIT:259", L"PUMP:DIT:256:3"};
    options.sharedGroups = {L"soak"};
    options.pauseMilliseconds = 5;
    options.writes = false;
    options.seed = static_cast<unsigned>(random_());
    stress_ = std::make_unique<vrt::tool::StressClient>(options);
    if (FAILED(stress_->Start(server_.Get()))) {
      Fail("the concurrent OPC client cannot start");
      return false;
    }
    return true;
  }

  void InjectFault() {
    static const char* kKinds[] = {"noreply", "lostreply", "nak 31", "nak 50", "wrongstation", "wronglength",
                                   "wrongcommand", "wrongaddress", "delay 400", "drop"};
    static const std::pair<int, int> kStations[] = {{1, 5}, {2, 6}, {3, 7}};
    const auto& [card, station] = kStations[Pick(0, 2)];
    const char* kind = kKinds[Pick(0, 9)];
    const int count = std::strcmp(kind, "noreply") == 0 ? Pick(1, 40) : Pick(1, 5);
    session_.simulator->Command("fault " + std::to_string(card) + " " + std::to_string(station) + " " + kind + " " +
                                std::to_string(count));
    ++faults_;
  }

  void QueueEvent() {
    // Inputs 1 to 256 (registers 32 to 47), at times of day that never repeat.
    const int code = Pick(1, 256);
    const int state = Pick(0, 1);
    const int index = static_cast<int>(events_.size());
    char time[32];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d.%03d", 1 + index / 3600 % 22, index / 60 % 60, index % 60,
                  (index * 7) % 1000);
    const auto answer = session_.simulator->Command("event 3 7 " + std::to_string(code) + " " +
                                                    std::to_string(state) + " 2024-05-02 " + time);
    if (answer.empty() || answer[0].rfind("ERR", 0) != 0) events_.push_back({code, state, time});
  }

  // One write at a time, followed until it is at the station or a failure
  // is reported for its record.
  void WriteAndFollow() {
    const int k = Pick(0, 3);
    const int value = 1000 + static_cast<int>(writes_ % 50000);
    const std::streamoff logFrom = FileSize(LogPath());
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    std::uint16_t status = 0;
    nio_sendEx(&status, &points_[k].block, &points_[k].valueSpec, 0, 0, &variant);
    ++writes_;
    if (status != 0) {
      ++writesRefused;
      return;
    }
    char address[16];
    std::snprintf(address, sizeof address, "0x%x", 0x100 + k);
    const std::string expected = std::to_string(value);
    bool shownBad = false;  // the record's quality said it was not being served
    const bool reached = WaitFor(
        [&] {
          shownBad = shownBad || !Good(points_[k]);
          for (int card : {1, 2}) {
            const auto registers =
                session_.simulator->Command("get " + std::to_string(card) + " " + std::to_string(card == 1 ? 5 : 6) +
                                            " " + address);
            if (!registers.empty() && registers[0] == expected) return true;
          }
          return false;
        },
        5s);
    if (reached) {
      ++writesReached;
      return;
    }
    const std::string log = FileText(LogPath(), logFrom);
    if (shownBad || log.find("Channel 1 Device 1 Poll Record 1 - Failed Communication") != std::string::npos ||
        log.find("Write Send Failed") != std::string::npos) {
      ++writesReported;
    } else {
      ++writesLost;
      std::printf("soak: write %s <- %d neither reached the station nor was reported\n", address, value);
      std::fflush(stdout);
    }
  }

  static bool Good(NioPoint& point, double* number = nullptr) {
    VARIANT value;
    VariantInit(&value);
    FILETIME stamp{};
    std::uint16_t status = 0, quality = 0;
    nio_readEx(&status, &point.block, &point.valueSpec, &stamp, &quality, 1, &value);
    if (number != nullptr && value.vt == VT_R4) *number = value.fltVal;
    return status == 0 && quality == NIO_QUALITY_GOOD;
  }

  void RestartSimulator() {
    // Events still queued there are lost with it: never sent. So is the one
    // it last handed out, if its reply never reached the driver: the
    // driver's repeat request would go to a recorder that forgot it.
    for (const std::string& line : session_.simulator->Command("events 3 7")) unsentLines_.push_back(line);
    for (const std::string& line : session_.simulator->Command("delivered 3 7")) handedOutLines_.push_back(line);
    StartSimulator();
    ++restarts_;
  }

  // Again on the same ports: the card server keeps its addresses.
  void StartSimulator() {
    std::unique_ptr<vrt::testing::SimulatorSession> previous = std::move(session_.simulator);
    if (previous) previous->Shutdown();
    session_.simulator =
        std::make_unique<vrt::testing::SimulatorSession>(session_.directory, kNetwork, simulatorLog_, previous.get());
  }

  int Settle() {
    session_.simulator->Command("clearfaults");
    int failures = 0;
    auto check = [&](bool ok, const std::string& what) {
      std::printf("soak: %-62s %s\n", what.c_str(), ok ? "ok" : "FAILED");
      std::fflush(stdout);
      if (!ok) ++failures;
    };
    std::printf("soak: %ld faults, %zu events queued, %ld writes, %d simulator restarts\n", faults_, events_.size(),
                writes_, restarts_);

    // The recorder's queue drains and the records come back.
    const bool drained = WaitFor([&] { return session_.simulator->Command("events 3 7").empty(); }, 120s);
    check(drained, "the recorder's queue drained");
    const bool good = WaitFor(
        [&] {
          for (NioPoint& point : points_) {
            if (!Good(point)) return false;
          }
          return true;
        },
        60s);
    check(good, "every record good again");
    check(vrt::SharedLoad(session_.block->RunState) == vrt::kStateRunning && session_.driver->Running(),
          "the driver running");
    const std::uint32_t alive = vrt::SharedLoad(session_.block->AliveCount);
    Sleep(500);
    check(vrt::SharedLoad(session_.block->AliveCount) != alive, "the driver's cycles moving");

    // Events: every one sent exactly once in the CSV file and the database.
    Sleep(postgres_ ? 12000 : 3000);  // the database writer's queue (after a server's return: its back-off)
    std::multiset<std::string> csv;
    std::istringstream rows(FileText(CsvPath()));
    for (std::string row; std::getline(rows, row);) {
      for (const QueuedEvent& event : events_) {
        if (row.find(event.time.substr(0, 8)) != std::string::npos) {
          csv.insert(event.time.substr(0, 8));
          break;
        }
      }
    }
    std::multiset<std::string> database;
    for (const std::string& row : Sql({"SELECT IO_ADDR, TIME_STAMP FROM EVENTS"})) {
      const std::size_t bar = row.find('|');
      if (bar != std::string::npos) database.insert(row.substr(bar + 1));
    }
    int missingCsv = 0, repeatedCsv = 0, missingDb = 0, repeatedDb = 0;
    for (const QueuedEvent& event : events_) {
      const std::string key = event.time.substr(0, 8);
      auto among = [&](const std::vector<std::string>& lines) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(key) != std::string::npos; });
      };
      // May be missing (never more than once): unsent, or handed out by a
      // recorder that restarted before confirming it.
      const bool unsent = among(unsentLines_) || among(handedOutLines_);
      const std::size_t inCsv = csv.count(key);
      std::size_t inDb = 0;
      for (const std::string& stamp : database) inDb += stamp.find(key) != std::string::npos ? 1 : 0;
      if ((inCsv == 0 || inDb == 0) && !unsent) {
        std::printf("soak: event %d (state %d) of 02.05.2024 %s: %zu in the CSV file, %zu in the database\n",
                    event.code, event.state, event.time.c_str(), inCsv, inDb);
      }
      if (inCsv == 0 && !unsent) ++missingCsv;
      if (inCsv > 1) ++repeatedCsv;
      if (inDb == 0 && !unsent) ++missingDb;
      if (inDb > 1) ++repeatedDb;
    }
    std::printf(
        "soak: events: %zu queued, %zu unsent and %zu handed out unconfirmed at restarts, CSV rows %zu, database rows "
        "%zu\n",
        events_.size(), unsentLines_.size(), handedOutLines_.size(), csv.size(), database.size());
    check(missingCsv == 0 && repeatedCsv == 0,
          "every event sent exactly once in the CSV file (" + std::to_string(missingCsv) + " missing, " +
              std::to_string(repeatedCsv) + " repeated)");
    check(missingDb == 0 && repeatedDb == 0,
          "every event sent exactly once in the database (" + std::to_string(missingDb) + " missing, " +
              std::to_string(repeatedDb) + " repeated)");

    // Writes.
    std::printf("soak: writes: %ld reached the station, %ld reported failed, %ld refused, %ld lost\n", writesReached,
                writesReported, writesRefused, writesLost);
    check(writesLost == 0, "every write at the station or reported failed");

    // The subscription follows the driver's image, good.
    bool subscribed = WaitFor(
        [&] {
          for (int k = 0; k < 4; ++k) {
            double image = 0.0;
            const auto latest = latest_->Latest(static_cast<OPCHANDLE>(k + 1));
            if (!Good(points_[k], &image) || latest.second != 192 || latest.first != image) return false;
          }
          return true;
        },
        20s);
    check(subscribed, "the OPC subscription shows the driver's values, good");

    const std::string stalled = stress_->Finish(kStallLimit);
    if (!stalled.empty()) {
      std::printf("soak: FAILED: the concurrent OPC client: %s\n%s", stalled.c_str(),
                  vrt::tool::ThreadsReport(*stress_).c_str());
      vrt::tool::EndStalledProcess(1);
    }
    const std::vector<std::string> violations = stress_->Violations();
    for (const std::string& line : violations) std::printf("soak: %s\n", line.c_str());
    check(violations.empty(), "the concurrent OPC client's " + std::to_string(stress_->TotalCalls()) +
                                  " calls all gave allowed results");
    stress_.reset();

    // The driver's resources.
    vrt::testing::UnadviseDataCallback(*group_.Get(), cookie_);
    group_.Reset();
    server_.Reset();
    latest_->Release();
    std::printf("soak: %s\n", failures == 0 ? "passed" : "FAILED");
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
  }

  double minutes_;
  bool restarts_enabled_;
  std::mt19937 random_;
  vrt::testing::DriverSession session_{"vrt-soak", kNetwork, {1, 2, 3}};
  std::string simulatorLog_;
  NioPoint points_[4];
  ComPtr<IOPCServer> server_;
  ComPtr<IOPCItemMgt> group_;
  LatestValues* latest_ = nullptr;
  std::unique_ptr<vrt::tool::StressClient> stress_;
  DWORD cookie_ = 0;
  std::vector<QueuedEvent> events_;
  std::vector<std::string> unsentLines_;
  std::vector<std::string> handedOutLines_;
  long faults_ = 0;
  long writes_ = 0;
  long writesReached = 0;
  long writesReported = 0;
  long writesRefused = 0;
  long writesLost = 0;
  int restarts_ = 0;
  vrt::testing::PgCluster* postgres_;
  int serverStops_ = 0;
  int serverKills_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  double minutes = 1.0;
  unsigned seed = static_cast<unsigned>(GetTickCount());
  bool restarts = true, simulatorLog = false;
  std::unique_ptr<vrt::testing::PgCluster> postgres;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-restarts") == 0) restarts = false;
    if (std::strcmp(argv[i], "--sim-log") == 0) simulatorLog = true;
  }
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--minutes") == 0) minutes = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--seed") == 0) seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    if (std::strcmp(argv[i], "--postgres") == 0) {
      postgres = std::make_unique<vrt::testing::PgCluster>(VRT_PG_CLUSTER_SCRIPT, argv[i + 1]);
      checkSource = std::string(kDataSource) + "CHECK";
    }
  }
  std::printf("soak: seed %u\n", seed);
  vrt::testing::ComApartment apartment;
  Soak soak(minutes, seed, restarts, simulatorLog, postgres.get());
  return soak.Run();
}
