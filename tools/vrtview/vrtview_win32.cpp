// vrtview: a live view of the running driver for people watching the demo or
// commissioning a network. Attaches to the image like any client (the first
// client to run starts the registered driver), then once a second shows every
// poll record with its device, address range, status and first values, the
// channel counters, the driver's messages as they arrive, and a few items as
// an OPC client subscribed to them through the OPC server sees them.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../../image/dit_api.h"
#include "../../image/shared_access.h"
#include "opc_da.h"
#include "vrtopc_identity.h"
#include "opc_subscription_sink.h"
#include "opc_panel.h"
#include "opc_values_win32.h"

namespace {

using namespace vrt;

volatile LONG interrupted = 0;

BOOL WINAPI OnControl(DWORD) {
  InterlockedExchange(&interrupted, 1);
  return TRUE;
}

// On a console the view is drawn over the previous one, from the top left,
// and what the previous one left below is blanked; written to a file or a
// pipe it is plain lines, one view after the other.
class Screen {
 public:
  Screen() : console_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    DWORD mode = 0;
    onConsole_ = console_ != INVALID_HANDLE_VALUE && GetConsoleMode(console_, &mode);
  }
  void BeginView() {
    if (!onConsole_) return;
    std::fflush(stdout);
    if (!cleared_) {
      Blank({0, 0});
      cleared_ = true;
    }
    SetConsoleCursorPosition(console_, {0, 0});
  }
  bool InPlace() const { return onConsole_; }
  void EndView() {
    std::fflush(stdout);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (onConsole_ && GetConsoleScreenBufferInfo(console_, &info)) Blank(info.dwCursorPosition);
  }

 private:
  void Blank(COORD from) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(console_, &info)) return;
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y - from.Y) -
                        static_cast<DWORD>(from.X);
    DWORD written = 0;
    FillConsoleOutputCharacterA(console_, ' ', cells, from, &written);
  }

  HANDLE console_;
  bool onConsole_ = false;
  bool cleared_ = false;
};

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

// The driver's new messages; a view drawn in place shows the last
// `kept` of them every time, so they do not vanish with the next view.
void ShowMessages(std::size_t kept) {
  static std::deque<std::string> recent;
  const char* text = nullptr;
  int attribute = 0;
  char line[600];
  // Reading with the file-log flag also has the driver keep its log file.
  while (ReadDriverMessage(&text, &attribute, 1)) {
    std::snprintf(line, sizeof line, "  [%2d] %s", attribute, text);
    if (kept == 0) {
      std::printf("%s\n", line);
      continue;
    }
    recent.push_back(line);
    if (recent.size() > kept) recent.pop_front();
  }
  for (const std::string& shown : recent) std::printf("%s\n", shown.c_str());
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

// The view's OPC subscription: the server created by its ProgID, one group
// at 500 ms with the items of --opc-items, and an IOPCDataCallback that
// keeps the latest value of each item in the panel.
constexpr DWORD kOpcUpdateRate = 500;

std::string ClockNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return tool::LocalClockText(now);
}

// Runs on the server's poll thread: turns each value into text at once
// (the arrays stay the server's) and hands it to the panel.
class PanelCallback final : public SubscriptionSink {
 public:
  explicit PanelCallback(std::shared_ptr<view::OpcPanel> panel) : panel_(std::move(panel)) {}

  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE* phClientItems,
                                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) override {
    if (dwCount == 0) return S_OK;
    if (phClientItems == nullptr || pvValues == nullptr || pwQualities == nullptr || pftTimeStamps == nullptr ||
        pErrors == nullptr) {
      return E_INVALIDARG;
    }
    try {
      const std::string arrived = ClockNow();
      for (DWORD i = 0; i < dwCount; ++i) {
        if (FAILED(pErrors[i])) {
          panel_->UpdateError(phClientItems[i], static_cast<std::uint32_t>(pErrors[i]));
          continue;
        }
        panel_->Update(phClientItems[i], tool::ValueText(pvValues[i]), pwQualities[i],
                       tool::LocalClockText(pftTimeStamps[i]), arrived);
      }
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  ~PanelCallback() override = default;  // through Release only
  std::shared_ptr<view::OpcPanel> panel_;
};

class OpcSubscription {
 public:
  explicit OpcSubscription(std::vector<std::string> itemIds)
      : panel_(std::make_shared<view::OpcPanel>(std::move(itemIds))) {}
  OpcSubscription(const OpcSubscription&) = delete;
  OpcSubscription& operator=(const OpcSubscription&) = delete;
  ~OpcSubscription() { Stop(); }

  // Any failure leaves one line in the panel; the rest of the view goes on.
  void Start() {
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(initialized)) {
      panel_->SetFailure("OPC: COM could not be initialised (" +
                         view::CodeText(static_cast<std::uint32_t>(initialized)) + ")");
      return;
    }
    comInitialized_ = true;
    CLSID clsid{};
    HRESULT result = CLSIDFromProgID(kVrtOpcProgIdWide, &clsid);
    if (SUCCEEDED(result)) {
      result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer,
                                reinterpret_cast<void**>(&server_));
    }
    if (FAILED(result) || server_ == nullptr) {
      panel_->SetFailure("OPC: server not available (" +
                         view::CodeText(static_cast<std::uint32_t>(FAILED(result) ? result : E_POINTER)) + ")");
      return;
    }
    DWORD revisedRate = 0;
    result = server_->AddGroup(L"", TRUE, kOpcUpdateRate, 1, nullptr, nullptr, 0, &group_, &revisedRate,
                               IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(&itemMgt_));
    if (FAILED(result) || itemMgt_ == nullptr) {
      Fail("AddGroup", FAILED(result) ? result : E_POINTER);
      return;
    }
    hasGroup_ = true;
    if (!AddItems()) return;
    IConnectionPointContainer* container = nullptr;
    result = itemMgt_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(result) || container == nullptr) {
      Fail("IConnectionPointContainer", FAILED(result) ? result : E_POINTER);
      return;
    }
    result = container->FindConnectionPoint(IID_IOPCDataCallback, &connectionPoint_);
    container->Release();
    if (FAILED(result) || connectionPoint_ == nullptr) {
      Fail("FindConnectionPoint", FAILED(result) ? result : E_POINTER);
      return;
    }
    auto* sink = new PanelCallback(panel_);
    result = connectionPoint_->Advise(sink, &cookie_);
    sink->Release();  // the connection point holds it while advised
    if (FAILED(result)) {
      Fail("Advise", result);
      return;
    }
    advised_ = true;
  }

  bool ItemIdsEmpty() const { return panel_->ItemIds().empty(); }

  // The section of one refresh.
  void Show() {
    if (ItemIdsEmpty()) return;
    std::optional<std::uint32_t> bandwidth;
    OPCSERVERSTATUS* status = nullptr;
    if (server_ != nullptr && SUCCEEDED(server_->GetStatus(&status)) && status != nullptr) {
      bandwidth = status->dwBandWidth;
      CoTaskMemFree(status->szVendorInfo);
      CoTaskMemFree(status);
    }
    for (const std::string& line : panel_->Lines(bandwidth)) std::printf("%s\n", line.c_str());
  }

  // Unadvise, then the group, then the server, then COM.
  void Stop() {
    if (advised_) connectionPoint_->Unadvise(cookie_);
    advised_ = false;
    if (connectionPoint_ != nullptr) connectionPoint_->Release();
    connectionPoint_ = nullptr;
    if (itemMgt_ != nullptr) itemMgt_->Release();
    itemMgt_ = nullptr;
    if (hasGroup_) server_->RemoveGroup(group_, TRUE);
    hasGroup_ = false;
    if (server_ != nullptr) server_->Release();
    server_ = nullptr;
    if (comInitialized_) CoUninitialize();
    comInitialized_ = false;
  }

 private:
  void Fail(const char* call, HRESULT code) {
    panel_->SetFailure(std::string("OPC: ") + call + " failed (" + view::CodeText(static_cast<std::uint32_t>(code)) +
                       ")");
  }

  // All items in one call, client handle = position + 1; a refused item
  // shows its code in its line.
  bool AddItems() {
    const std::vector<std::string>& ids = panel_->ItemIds();
    std::vector<std::wstring> wideIds;
    for (const std::string& id : ids) wideIds.push_back(tool::Wide(id));
    wchar_t noAccessPath[1] = {L'\0'};
    std::vector<OPCITEMDEF> definitions(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      definitions[i].szAccessPath = noAccessPath;
      definitions[i].szItemID = wideIds[i].data();
      definitions[i].bActive = TRUE;
      definitions[i].hClient = static_cast<OPCHANDLE>(i + 1);
      definitions[i].vtRequestedDataType = VT_EMPTY;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    HRESULT result = itemMgt_->AddItems(static_cast<DWORD>(ids.size()), definitions.data(), &results, &errors);
    if (SUCCEEDED(result) && (results == nullptr || errors == nullptr)) result = E_POINTER;
    if (SUCCEEDED(result)) {
      for (std::size_t i = 0; i < ids.size(); ++i) {
        panel_->SetAddResult(i, static_cast<std::uint32_t>(errors[i]));
        CoTaskMemFree(results[i].pBlob);
      }
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    if (FAILED(result)) Fail("AddItems", result);
    return SUCCEEDED(result);
  }

  std::shared_ptr<view::OpcPanel> panel_;
  bool comInitialized_ = false;
  IOPCServer* server_ = nullptr;
  IOPCItemMgt* itemMgt_ = nullptr;
  OPCHANDLE group_ = 0;
  bool hasGroup_ = false;
  IConnectionPoint* connectionPoint_ = nullptr;
  DWORD cookie_ = 0;
  bool advised_ = false;
};

int Usage() {
  std::printf(
      "vrtview - live view of the VRT driver image\n\n"
      "  vrtview [--seconds N] [--stop-driver] [--database DSN] [--opc-items ID,ID,...]\n"
      "  vrtview --stop\n\n"
      "Attaches to the driver image (starting the driver registered as DriverExe\n"
      "when none runs yet) and shows, once a second, every poll record (device,\n"
      "address range, status, first values), the channel counters and the\n"
      "driver's messages, and with --database the rows of the data source's\n"
      "EVENTS table. Runs until Ctrl-C or for N seconds; --stop-driver then\n"
      "asks the driver to exit. --stop only asks a running driver to exit.\n\n"
      "It also subscribes to OPC items through the OPC server Kalvento.Tavex\n"
      "(update rate 500 ms) and shows each item's latest value, quality, time\n"
      "stamp and arrival, with the server's bandwidth. --opc-items names them\n"
      "(default %s; an empty list leaves OPC out).\n",
      view::kDefaultOpcItems);
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
  std::string opcItems = view::kDefaultOpcItems;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--stop-driver") == 0) {
      stopDriver = true;
    } else if (std::strcmp(argv[i], "--database") == 0 && i + 1 < argc) {
      dataSource = argv[++i];
    } else if (std::strcmp(argv[i], "--opc-items") == 0 && i + 1 < argc) {
      opcItems = argv[++i];
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
  // Attach first, so that the view stays the client that starts the driver;
  // the OPC server then finds the image there.
  nio_map_hdr();
  OpcSubscription opc(view::SplitOpcItemList(opcItems));
  if (!opc.ItemIdsEmpty()) opc.Start();
  const DWORD start = GetTickCount();
  Screen screen;
  while (!interrupted && (seconds == 0 || GetTickCount() - start < static_cast<DWORD>(seconds) * 1000)) {
    screen.BeginView();
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::printf("---- VRT live view %02d:%02d:%02d ----\n", now.wHour, now.wMinute, now.wSecond);
    ShowImage();
    if (!dataSource.empty()) std::printf("database %s: %ld event rows\n", dataSource.c_str(), DatabaseRows(dataSource));
    opc.Show();
    ShowMessages(screen.InPlace() ? 12 : 0);
    screen.EndView();
    std::fflush(stdout);
    for (int i = 0; i < 10 && !interrupted; ++i) Sleep(100);
  }
  // The OPC server goes before the driver is asked to exit.
  opc.Stop();
  if (stopDriver) std::printf(StopDriver() ? "driver exited\n" : "driver did not confirm its exit\n");
  return 0;
}
