// vrtview: a live view of the running driver for people watching the demo or
// commissioning a network. Attaches to the image like any client (the first
// client to run starts the registered driver), then once a second shows every
// poll record with its device, address range, status and first values, the
// channel counters, and the driver's messages as they arrive.
#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../../image/dit_api.h"
#include "../../image/shared_access.h"

namespace {

using namespace vrt;

volatile LONG interrupted = 0;

BOOL WINAPI OnControl(DWORD) {
  InterlockedExchange(&interrupted, 1);
  return TRUE;
}

const char* StatusText(std::uint16_t status) {
  switch (status) {
    case kStatusGood: return "good";
    case kStatusCommFailure: return "comm failure";
    case kStatusNotAccessed: return "not accessed";
    case kStatusStopped: return "stopped";
    default: return "error";
  }
}

void ShowImage() {
  DitHeader* header = nio_map_hdr();
  if (header == nullptr) {
    std::printf("  (no image: is the driver running?)\n");
    return;
  }
  const DitImage& image = ProcessMapping().Image();
  const std::uint32_t version = header->formatVersion;
  for (int c = 0; c < ChannelCount(); ++c) {
    const DitChannel* channel = nio_map_chan(c);
    if (channel == nullptr) continue;
    const DitChannelStatistics& s = channel->statistics;
    std::printf("channel %d  port %d  TX %u  RX %u  retries %u  timeouts %u  errors %u\n", c + 1,
                channel->activePort + 1, s.framesSent, s.framesReceived, s.retries, s.replyTimeouts,
                s.naksAndBadReplies);
    for (int k = channel->firstPollRecord; k < channel->firstPollRecord + channel->pollRecordCount; ++k) {
      const DitPollRecord* record = nio_map_dit(k);
      if (record == nullptr) continue;
      const DitDevice* device = nio_map_dev(record->deviceIndex);
      const std::uint16_t start = StartAddressOf(record->addressWord);
      char range[32];
      std::snprintf(range, sizeof range, "%s:%u - %u", PollKindOf(record->addressWord) == 0 ? "DIT" : "EVENT", start,
                    start + record->length);
      std::uint16_t size = 0;
      const std::uint8_t* values = image.Area(k, kValueArea, &size);
      std::string shown;
      for (int i = 0; values != nullptr && i < size / 2 && i < 6; ++i) {
        std::uint16_t word = 0;
        std::memcpy(&word, values + 2 * i, 2);
        // Signed records show their registers as signed numbers.
        shown += " " + (record->dataType == 1 ? std::to_string(static_cast<std::int16_t>(word)) : std::to_string(word));
      }
      std::printf("  %-11s %-16s %5u %-13s%s\n", device ? DeviceName(*device, version).c_str() : "?", range,
                  record->status, StatusText(record->status), shown.c_str());
    }
  }
}

void ShowMessages() {
  const char* text = nullptr;
  int attribute = 0;
  // Reading with the file-log flag also has the driver keep its log file.
  while (ReadDriverMessage(&text, &attribute, 1)) std::printf("  [%2d] %s\n", attribute, text);
}

// Rows in the event table of a data source, or -1 when it cannot be read.
long DatabaseRows(const std::string& dataSource) {
  long rows = -1;
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (SQLAllocEnv(&environment) < 0) return rows;
  if (SQLAllocConnect(environment, &connection) >= 0 &&
      SQLConnect(connection, reinterpret_cast<SQLCHAR*>(const_cast<char*>(dataSource.c_str())), SQL_NTS, nullptr, 0,
                 nullptr, 0) >= 0) {
    if (SQLAllocStmt(connection, &statement) >= 0 &&
        SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT COUNT(*) FROM EVENTS")),
                      SQL_NTS) >= 0 &&
        SQLFetch(statement) == SQL_SUCCESS) {
      SQLINTEGER count = 0;
      SQLLEN length = 0;
      if (SQLGetData(statement, 1, SQL_C_SLONG, &count, 0, &length) >= 0) rows = count;
    }
    if (statement != SQL_NULL_HSTMT) SQLFreeStmt(statement, SQL_DROP);
    SQLDisconnect(connection);
  }
  if (connection != SQL_NULL_HDBC) SQLFreeConnect(connection);
  SQLFreeEnv(environment);
  return rows;
}

int Usage() {
  std::printf(
      "vrtview - live view of the VRT driver image\n\n"
      "  vrtview [--seconds N] [--stop-driver] [--database DSN]\n"
      "  vrtview --stop\n\n"
      "Attaches to the driver image (starting the driver registered as DriverExe\n"
      "when none runs yet) and shows, once a second, every poll record (device,\n"
      "address range, status, first values), the channel counters and the\n"
      "driver's messages, and with --database the rows of the data source's\n"
      "EVENTS table. Runs until Ctrl-C or for N seconds; --stop-driver then\n"
      "asks the driver to exit. --stop only asks a running driver to exit.\n");
  return 2;
}

bool StopDriver() {
  DriverControlBlock* block = DriverControl();
  if (block == nullptr) return false;
  SharedStore(block->RunRequest, kRequestExit);
  for (int i = 0; i < 100 && SharedLoad(block->RunState) != kStateExited; ++i) Sleep(50);
  return SharedLoad(block->RunState) == kStateExited;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 0;
  bool stopDriver = false;
  bool stopOnly = false;
  std::string dataSource;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--stop-driver") == 0) {
      stopDriver = true;
    } else if (std::strcmp(argv[i], "--database") == 0 && i + 1 < argc) {
      dataSource = argv[++i];
    } else if (std::strcmp(argv[i], "--stop") == 0) {
      stopOnly = true;
    } else {
      return Usage();
    }
  }
  if (stopOnly) {
    // Open the block without starting anything.
    if (OpenDriverControlBlock(0) == nullptr) return 1;
    std::printf(StopDriver() ? "driver exited\n" : "driver did not confirm its exit\n");
    return 0;
  }
  SetConsoleCtrlHandler(OnControl, TRUE);
  const DWORD start = GetTickCount();
  while (!interrupted && (seconds == 0 || GetTickCount() - start < static_cast<DWORD>(seconds) * 1000)) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::printf("---- VRT live view %02d:%02d:%02d ----\n", now.wHour, now.wMinute, now.wSecond);
    ShowImage();
    if (!dataSource.empty()) std::printf("database %s: %ld event rows\n", dataSource.c_str(), DatabaseRows(dataSource));
    ShowMessages();
    std::fflush(stdout);
    for (int i = 0; i < 10 && !interrupted; ++i) Sleep(100);
  }
  if (stopDriver) std::printf(StopDriver() ? "driver exited\n" : "driver did not confirm its exit\n");
  return 0;
}
