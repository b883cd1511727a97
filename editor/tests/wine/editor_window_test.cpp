// VRTDIDW.exe on a virtual display, driven from this process as a person
// would, through its command and control ids: the configuration view, the
// dialogs and their refusals, Save, Reload against the running driver with
// live states and counters, the exit dialog and the single-instance rule,
// and on a node with the host installed, the recent-file list in the
// program's settings file and the status bar from the first tick.
// Pictures of the windows go to build/win64/editor-screens/.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dit_mapping.h"
#include "driver_session.h"
#include "editor_resources.h"
#include "probe_process.h"
#include "window_testing.h"

namespace vrt {
namespace {

using namespace std::chrono_literals;
using testing::ControlText;
using testing::ListViewText;
using testing::ProgramDirectory;
using testing::RemoteText;
using testing::WaitFor;
using testing::WaitForDialog;

constexpr char kScreens[] = "editor-screens";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a program of the build to its end; its standard output.
std::string RunTool(const std::string& arguments) {
  testing::ProbeProcess tool(ProgramDirectory() + "\\vrtcfg.exe", arguments);
  EXPECT_TRUE(tool.Started());
  EXPECT_TRUE(tool.WaitForEnd(60s)) << arguments;
  std::string output;
  for (const std::string& line : tool.Output()) output += line + "\n";
  return output;
}

// The demo network (the simulator session puts it on free ports).
std::string DemoNetwork() { return ReadFile(VRT_DEMO_NETWORK); }

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class EditorWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(GetEnvironmentVariableA("DISPLAY", nullptr, 0), 0u) << "needs a display (xvfb-run)";
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    directory = std::string(temp) + "vrt-editor-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(directory.c_str(), nullptr);
    // The demo plant, converted by the command-line tool.
    plant = UpperCase(directory + "\\PLANT.VRT");
    DeleteFileA(plant.c_str());
    RunTool("import \"" + std::string(VRT_DEMO_PLANT) + "\" \"" + plant + "\" --errors \"" + directory +
            "\\IMPORT.ERR\"");
    ASSERT_NE(GetFileAttributesA(plant.c_str()), INVALID_FILE_ATTRIBUTES);
    testing::SetConfigValue(kConfigFileValue, plant);
    testing::DeleteConfigValue(kDriverExeValue);
    ClearRegistration();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kHostKey);
  }

  void TearDown() override {
    for (PROCESS_INFORMATION& process : editors) {
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 9);
      WaitForSingleObject(process.hProcess, 5000);
      CloseHandle(process.hProcess);
    }
    ClearRegistration();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kHostKey);
    testing::DeleteConfigValue(kDriverExeValue);
  }

  static constexpr char kHostKey[] = "Software\\FixDMACS";

  // A host installation: a driver program under the host's folder makes the
  // host's key the one read; a value is the default of its own subkey.
  static void InstallHost(const std::string& locPath) {
    testing::SetConfigValue(kDriverExeValue, "C:\\FIX32\\BIN\\VRTSPOLL.EXE");
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"LOCPATH", locPath},
                                      {"NODENAME", "NODE1"}, {"PDBPATH", locPath}, {"BASPATH", locPath}}) {
      HKEY key = nullptr;
      ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string(kHostKey) + "\\" + name).c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE, nullptr, &key, nullptr),
                ERROR_SUCCESS);
      RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
      RegCloseKey(key);
    }
  }

  static void ClearRegistration() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kalvento\\Tavex", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "VRT");
      RegCloseKey(key);
    }
  }

  // Starts the editor and waits for its main window.
  HWND StartEditor() {
    const std::string program = ProgramDirectory() + "\\VRTDIDW.exe";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!testing::StartProgram(program, "", startup, process, false, directory).empty()) return nullptr;
    CloseHandle(process.hThread);
    editors.push_back(process);
    frame = testing::WaitForWindowOfClass("VRTDIDW");
    if (frame != nullptr) {
      form = GetDlgItem(frame, IDW_CONFIG_VIEW);
      grid = GetDlgItem(form, IDC_POLL_GRID);
      thread = GetWindowThreadProcessId(frame, nullptr);
    }
    return frame;
  }

  void Command(int id) { PostMessageA(frame, WM_COMMAND, static_cast<WPARAM>(id), 0); }

  // Waits until the editor's thread has handled what was posted to it.
  void Settle() {
    Sleep(100);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(frame, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
  }

  // What `read` gives once it equals `expected`, or its last value after
  // 10 s: the editor handles what was posted to it in its own time.
  template <typename Read, typename Value>
  static Value Shown(Read read, const Value& expected) {
    Value last{};
    WaitFor(
        [&] {
          last = read();
          return last == expected;
        },
        10s);
    return last;
  }
  std::vector<std::string> NamesShown(const std::vector<std::string>& expected) {
    return Shown([&] { return DeviceNames(); }, expected);
  }
  int RowsShown(int expected) {
    return Shown([&] { return Rows(); }, expected);
  }
  int ChosenShown(HWND dialog, int id, int expected) {
    return Shown([&] { return Chosen(dialog, id); }, expected);
  }

  std::vector<std::string> DeviceNames() {
    HWND list = GetDlgItem(form, IDC_DEVICE_LIST);
    std::vector<std::string> names;
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) names.push_back(RemoteText(list, LB_GETTEXT, static_cast<WPARAM>(i)));
    return names;
  }

  std::vector<std::string> Row(int row) {
    std::vector<std::string> texts;
    for (int column = 0; column < 9; ++column) texts.push_back(ListViewText(grid, row, column));
    return texts;
  }

  int Rows() { return static_cast<int>(SendMessageA(grid, LVM_GETITEMCOUNT, 0, 0)); }

  int StateIcon(int row) {
    return static_cast<int>(SendMessageA(grid, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK) >>
                            12);
  }

  std::string Pane(int pane) { return RemoteText(GetDlgItem(frame, IDW_STATUS_BAR), SB_GETTEXTA, pane); }

  HWND Focus() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(thread, &info);
    return info.hwndFocus;
  }

  // Types `text` into a field and leaves it for the next control, as the Tab
  // key would; a refusal shows its box, which the caller answers.
  void Enter(HWND dialog, int id, const std::string& text) {
    HWND field = GetDlgItem(dialog, id);
    PostMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
    ASSERT_TRUE(WaitFor([&] { return Focus() == field; }, 5s)) << "field " << id;
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    PostMessageA(dialog, WM_NEXTDLGCTL, 0, FALSE);
    WaitFor([&] { return Focus() != field; }, 5s);
  }

  void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

  // A message box that starts with `text`: its text, after it was answered.
  std::string Answer(const std::string& text, int button = IDOK, const std::string& picture = "") {
    HWND box = WaitForDialog(nullptr, 0xFFFF, text, 15s);
    if (box == nullptr) return "(no box)";
    const std::string shown = ControlText(box, 0xFFFF);
    if (!picture.empty()) testing::Screenshot(kScreens, box, picture);
    PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    WaitFor([&] { return !IsWindow(box); }, 5s);
    return shown;
  }

  // Chooses an entry of a drop-down list, as a click in the list would.
  void Choose(HWND dialog, int id, int position) {
    HWND list = GetDlgItem(dialog, id);
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  }

  int Chosen(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0)); }

  // A double-click on the grid `rowsDown` rows below its first row (far
  // below the last row opens a new record).
  void DoubleClickGrid(int y) { PostMessageA(grid, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(40, y)); }

  bool Closed(HWND dialog) {
    return WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10s);
  }

  std::string directory;
  std::string plant;
  std::vector<PROCESS_INFORMATION> editors;
  HWND frame = nullptr;
  HWND form = nullptr;
  HWND grid = nullptr;
  DWORD thread = 0;
};

TEST_F(EditorWindow, TheViewAndItsDialogsWorkAsAPersonUsesThem) {
  ASSERT_NE(StartEditor(), nullptr);
  // No driver is registered: attaching at start and again at the first
  // status tick fails, the library says so each time, and editing goes on
  // without the link.
  EXPECT_EQ(Answer("nio_map_hdr"), "nio_map_hdr() failed");
  EXPECT_EQ(Answer("nio_map_hdr"), "nio_map_hdr() failed");
  // The start-up file: the demo plant, channel 1.
  EXPECT_EQ(NamesShown((std::vector<std::string>{"PUMPS", "EVR1"})), (std::vector<std::string>{"PUMPS", "EVR1"}));
  EXPECT_EQ(RowsShown(2), 2);
  EXPECT_EQ(Row(0), (std::vector<std::string>{"1", "DIT:0", "DIT:7", "8", "Unsigned", "     0.5", "Disabled",
                                              "Disabled", "    0.0"}));
  SetWindowPos(frame, nullptr, 0, 0, 760, 560, SWP_NOZORDER | SWP_NOACTIVATE);
  Settle();
  testing::Screenshot(kScreens, frame, "editor-1-demo-plant");

  // Port Settings of channel 2 (card 3): card 1 is channel 1's.
  Command(ID_CHANNEL_2);
  EXPECT_EQ(NamesShown((std::vector<std::string>{"TURBINE", "VALVES", "TORA"})), (std::vector<std::string>{"TURBINE", "VALVES", "TORA"}));
  Command(ID_CHANNEL_SETUP);
  HWND port = WaitForDialog("Channel 2 Communication Settings", IDC_CARD_NO);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(ChosenShown(port, IDC_CARD_NO, 3), 3);
  EXPECT_EQ(ControlText(port, IDC_RETRIES), "3");
  testing::Screenshot(kScreens, port, "editor-2-port-settings");
  Choose(port, IDC_CARD_NO, 1);
  EXPECT_EQ(Answer("Port already", IDOK), "Port already in use on Channel 1");
  Settle();
  EXPECT_EQ(ChosenShown(port, IDC_CARD_NO, 3), 3);
  Enter(port, IDC_RETRIES, "12");
  EXPECT_EQ(Answer("Invalid Retry"), "Invalid Retry Value (Valid Range 0 - 9)");
  EXPECT_TRUE(WaitFor([&] { return ControlText(port, IDC_RETRIES) == "3"; }, 5s));
  Click(port, IDC_ADVANCED);
  HWND backup = WaitForDialog("Channel 2 Backup Communication Settings", IDC_CARD_NO);
  ASSERT_NE(backup, nullptr);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(backup, IDC_ADVANCED)));
  Choose(backup, IDC_CARD_NO, 4);
  Settle();
  Click(backup, IDOK);
  ASSERT_TRUE(Closed(backup));
  Click(port, IDCANCEL);
  ASSERT_TRUE(Closed(port));

  // A new document: channel 5 creates channels 2 to 5.
  Command(ID_FILE_NEW);
  EXPECT_EQ(NamesShown(std::vector<std::string>{"D10"}), std::vector<std::string>{"D10"});
  Command(ID_CHANNEL_5);
  EXPECT_EQ(NamesShown(std::vector<std::string>{"D50"}), std::vector<std::string>{"D50"});
  for (int channel : {ID_CHANNEL_2, ID_CHANNEL_3, ID_CHANNEL_4}) {
    Command(channel);
    EXPECT_EQ(NamesShown(std::vector<std::string>{"D" + std::to_string(channel - ID_CHANNEL_1 + 1) + "0"}), std::vector<std::string>{"D" + std::to_string(channel - ID_CHANNEL_1 + 1) + "0"});
  }
  Command(ID_CHANNEL_5);
  Settle();
  EXPECT_TRUE(WaitFor(
      [&] { return SendMessageA(GetDlgItem(frame, IDW_CHANNEL_TOOLBAR), TB_ISBUTTONCHECKED, ID_CHANNEL_5, 0) != 0; },
      10s));

  // Deleting the only device leaves a default one.
  PostMessageA(GetDlgItem(form, IDC_DEVICE_DELETE), BM_CLICK, 0, 0);
  EXPECT_EQ(NamesShown(std::vector<std::string>{"D50"}), std::vector<std::string>{"D50"});

  // Add Device: a taken name is refused and the dialog stays open.
  PostMessageA(GetDlgItem(form, IDC_DEVICE_ADD), BM_CLICK, 0, 0);
  HWND add = WaitForDialog("Add Device", IDC_ADD_DEVICE_NAME);
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(ControlText(add, IDC_ADD_DEVICE_NAME), "D51");
  testing::Screenshot(kScreens, add, "editor-3-add-device");
  SendDlgItemMessageA(add, IDC_ADD_DEVICE_NAME, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("D50"));
  Click(add, IDOK);
  EXPECT_EQ(Answer("Device Name"), "Device Name Already Exists");
  EXPECT_TRUE(IsWindowVisible(add));
  SendDlgItemMessageA(add, IDC_ADD_DEVICE_NAME, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("pump1"));
  Click(add, IDOK);
  ASSERT_TRUE(Closed(add));
  EXPECT_EQ(NamesShown((std::vector<std::string>{"D50", "PUMP1"})), (std::vector<std::string>{"D50", "PUMP1"}));

  // A poll record: double-click below the last row.
  DoubleClickGrid(200);
  HWND record = WaitForDialog("Poll Record Edit", IDC_START_ADDRESS);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(ControlText(record, IDC_START_ADDRESS), "--Undefined---");
  Enter(record, IDC_START_ADDRESS, "DIT:0");
  Enter(record, IDC_LENGTH, "4");
  Enter(record, IDC_POLL_TIME, "D");
  EXPECT_TRUE(WaitFor([&] { return ControlText(record, IDC_POLL_TIME) == "Disabled"; }, 5s));
  EXPECT_EQ(ControlText(record, IDC_END_ADDRESS), "DIT:3");
  Enter(record, IDC_DEAD_BAND, "-1");
  EXPECT_EQ(Answer("Deadband"), "Deadband can't be negative");
  testing::Screenshot(kScreens, record, "editor-4-poll-record");
  Click(record, IDOK);
  ASSERT_TRUE(Closed(record));
  Settle();
  ASSERT_EQ(RowsShown(1), 1);
  EXPECT_EQ(Row(0)[1], "DIT:0");
  EXPECT_EQ(Row(0)[5], "Disabled");
  EXPECT_EQ(StateIcon(0), 4);  // never read

  // A second record overlapping the first is refused; Cancel leaves none.
  DoubleClickGrid(200);
  record = WaitForDialog("Poll Record Edit", IDC_START_ADDRESS);
  ASSERT_NE(record, nullptr);
  Enter(record, IDC_START_ADDRESS, "DIT:2");
  EXPECT_EQ(Answer("Address already"), "Address already defined in Poll Record 1");
  EXPECT_TRUE(WaitFor([&] { return Focus() == GetDlgItem(record, IDC_START_ADDRESS); }, 5s));
  EXPECT_EQ(ControlText(record, IDC_START_ADDRESS), "--Undefined---");
  Click(record, IDCANCEL);
  ASSERT_TRUE(Closed(record));
  Settle();
  EXPECT_EQ(RowsShown(1), 1);

  // A card used by channel 3 is refused with its channel's number.
  Command(ID_CHANNEL_3);
  Command(ID_CHANNEL_SETUP);
  port = WaitForDialog("Channel 3 Communication Settings", IDC_CARD_NO);
  ASSERT_NE(port, nullptr);
  Choose(port, IDC_CARD_NO, 2);
  Settle();
  Click(port, IDOK);
  ASSERT_TRUE(Closed(port));
  Command(ID_CHANNEL_5);
  Command(ID_CHANNEL_SETUP);
  port = WaitForDialog("Channel 5 Communication Settings", IDC_CARD_NO);
  ASSERT_NE(port, nullptr);
  Choose(port, IDC_CARD_NO, 2);
  EXPECT_EQ(Answer("Port already"), "Port already in use on Channel 3");
  Settle();
  EXPECT_EQ(ChosenShown(port, IDC_CARD_NO, 0), 0);
  // OK without a card asks; Cancel keeps the dialog open.
  Click(port, IDOK);
  EXPECT_EQ(Answer("A Port Number", IDCANCEL),
            "A Port Number must be defined for proper system operation.\n\rDo you wish to continue?");
  EXPECT_TRUE(IsWindowVisible(port));
  Choose(port, IDC_CARD_NO, 4);
  Settle();
  Click(port, IDOK);
  ASSERT_TRUE(Closed(port));

  // The About box shows the product.
  Command(ID_APP_ABOUT);
  HWND about = WaitForDialog(nullptr, IDC_ABOUT_DESCRIPTION);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(ControlText(about, IDC_ABOUT_DESCRIPTION), "Harnix Tavex (VRT) V 6.9.11");
  testing::Screenshot(kScreens, about, "editor-5-about");
  Click(about, IDOK);
  ASSERT_TRUE(Closed(about));

  // Closing with changes: the exit dialog with both ticks; Cancel stays.
  Command(ID_APP_EXIT);
  HWND exitDialog = WaitForDialog("I/O Driver Configurator", IDC_EXIT_SAVE);
  ASSERT_NE(exitDialog, nullptr);
  EXPECT_EQ(IsDlgButtonChecked(exitDialog, IDC_EXIT_SAVE), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(exitDialog, IDC_EXIT_RELOAD), BST_CHECKED);
  testing::Screenshot(kScreens, exitDialog, "editor-6-exit");
  Click(exitDialog, IDCANCEL);
  ASSERT_TRUE(Closed(exitDialog));
  EXPECT_TRUE(IsWindow(frame));
}

// The counter of pane 0, "TX=%d RX=%d Polls/Sec=%d"; -1 without one.
constexpr char kRecentKey[] = "Software\\Kalvento\\Tavex\\VRTDIDW\\Recent File List";

std::vector<std::string> RegisteredRecentFiles() {
  std::vector<std::string> recent;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRecentKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return recent;
  for (int n = 1; n <= 4; ++n) {
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, ("File" + std::to_string(n)).c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                         &size) == ERROR_SUCCESS) {
      recent.push_back(value);
    }
  }
  RegCloseKey(key);
  return recent;
}

void RegisterRecentFiles(const std::vector<std::string>& recent) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kRecentKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (std::size_t i = 0; i < recent.size(); ++i) {
    RegSetValueExA(key, ("File" + std::to_string(i + 1)).c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(recent[i].c_str()), static_cast<DWORD>(recent[i].size() + 1));
  }
  RegCloseKey(key);
}

// The section "Recent File List" of a settings file, File1 to File4.
std::vector<std::string> RecentFilesIn(const std::string& settingsFile) {
  std::vector<std::string> recent;
  for (int n = 1; n <= 4; ++n) {
    char value[MAX_PATH] = {};
    GetPrivateProfileStringA("Recent File List", ("File" + std::to_string(n)).c_str(), "", value, sizeof value,
                             settingsFile.c_str());
    recent.push_back(value);
  }
  return recent;
}

std::string WindowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

int Transmitted(const std::string& pane) {
  return pane.rfind("TX=", 0) == 0 ? std::atoi(pane.c_str() + 3) : -1;
}

TEST_F(EditorWindow, SaveAndReloadFollowTheRunningDriverAndASecondEditorEnds) {
  testing::DriverSession session("vrt-editor-driver", DemoNetwork(), {1, 2, 3});
  session.configFile = plant;
  session.driver = session.StartDriver();
  ASSERT_TRUE(session.driver && session.driver->Running());

  ASSERT_NE(StartEditor(), nullptr);
  // Live states and counters of channel 1 while the driver polls.
  EXPECT_TRUE(WaitFor([&] { return Rows() == 2 && StateIcon(0) == 1 && StateIcon(1) == 1; }, 20s))
      << "states " << StateIcon(0) << " " << StateIcon(1);
  int first = -1;
  ASSERT_TRUE(WaitFor([&] { return (first = Transmitted(Pane(0))) >= 0; }, 10s)) << Pane(0);
  EXPECT_TRUE(WaitFor([&] { return Transmitted(Pane(0)) > first; }, 10s)) << Pane(0);
  EXPECT_NE(Pane(2).find('M'), std::string::npos) << Pane(2);  // the clock, "hh:mm AM"

  // A device at the pump house's station with a record of its own.
  PostMessageA(GetDlgItem(form, IDC_DEVICE_ADD), BM_CLICK, 0, 0);
  HWND add = WaitForDialog("Add Device", IDC_ADD_DEVICE_NAME);
  ASSERT_NE(add, nullptr);
  SendDlgItemMessageA(add, IDC_ADD_DEVICE_NAME, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("PUMP2"));
  Click(add, IDOK);
  ASSERT_TRUE(Closed(add));
  EXPECT_EQ(NamesShown((std::vector<std::string>{"PUMPS", "EVR1", "PUMP2"})), (std::vector<std::string>{"PUMPS", "EVR1", "PUMP2"}));
  Enter(form, IDC_PRIMARY_STATION, "5");
  EXPECT_EQ(ControlText(form, IDC_PRIMARY_STATION), "5");
  Choose(form, IDC_HARDWARE, static_cast<int>(SendDlgItemMessageA(form, IDC_HARDWARE, CB_FINDSTRINGEXACT,
                                                                   static_cast<WPARAM>(-1),
                                                                   reinterpret_cast<LPARAM>("ZOLT"))));
  DoubleClickGrid(200);
  HWND record = WaitForDialog("Poll Record Edit", IDC_START_ADDRESS);
  ASSERT_NE(record, nullptr);
  Enter(record, IDC_START_ADDRESS, "DIT:2");
  Enter(record, IDC_LENGTH, "2");
  Enter(record, IDC_POLL_TIME, "0.5");
  Click(record, IDOK);
  ASSERT_TRUE(Closed(record));
  Settle();
  ASSERT_EQ(RowsShown(1), 1);
  EXPECT_EQ(StateIcon(0), 4);

  // Save writes the start-up file (no question: the path is the one
  // registered), as the command-line tool reads it back.
  const std::string before = ReadFile(plant);
  Command(ID_FILE_SAVE);
  EXPECT_TRUE(WaitFor([&] { return ReadFile(plant) != before; }, 20s));
  Settle();
  const std::string dump = RunTool("dump \"" + plant + "\"");
  EXPECT_NE(dump.find("Device 2 \"PUMP2\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("DIT:2, length 2"), std::string::npos) << dump;

  // Reload: the driver stops and starts on the saved file, and the new
  // record turns good.
  Command(ID_FILE_RELOAD);
  EXPECT_EQ(Answer("Reload", IDOK), "Reload Complete");
  EXPECT_TRUE(WaitFor([&] { return Rows() == 1 && StateIcon(0) == 1; }, 20s)) << "state " << StateIcon(0);
  first = Transmitted(Pane(0));
  EXPECT_TRUE(WaitFor([&] { return Transmitted(Pane(0)) > first; }, 10s)) << Pane(0);
  // Widened, as a person would to read every column.
  SetWindowPos(frame, nullptr, 0, 0, 760, 560, SWP_NOZORDER | SWP_NOACTIVATE);
  Settle();
  testing::Screenshot(kScreens, frame, "editor-7-live-states");

  // A second editor brings the first back and ends.
  ShowWindow(frame, SW_MINIMIZE);
  ASSERT_TRUE(WaitFor([&] { return IsIconic(frame) != 0; }, 5s));
  testing::ProbeProcess second(ProgramDirectory() + "\\VRTDIDW.exe", "", directory);
  ASSERT_TRUE(second.Started());
  EXPECT_TRUE(WaitFor([&] { return !second.Running(); }, 20s));
  EXPECT_TRUE(WaitFor([&] { return IsIconic(frame) == 0; }, 5s));
  EXPECT_EQ(testing::WaitForWindowOfClass("VRTDIDW"), frame);

  // Without a host the recent-file list stays in the user's registry key.
  const std::vector<std::string> recent = RegisteredRecentFiles();
  EXPECT_TRUE(!recent.empty() && recent[0] == plant) << (recent.empty() ? "" : recent[0]);

  // Saved and reloaded: Exit closes at once and leaves no registration.
  Command(ID_APP_EXIT);
  EXPECT_TRUE(WaitFor([&] { return WaitForSingleObject(editors[0].hProcess, 0) == WAIT_OBJECT_0; }, 20s));
  HKEY key = nullptr;
  char value[64] = {};
  DWORD size = sizeof value;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kalvento\\Tavex", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    EXPECT_NE(RegQueryValueExA(key, "VRT", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size), ERROR_SUCCESS);
    RegCloseKey(key);
  }
}

TEST_F(EditorWindow, OnAHostNodeTheRecentFilesLiveInItsLocalFolderAndPane1ShowsTheChannelFromTheStart) {
  testing::DriverSession session("vrt-editor-host", DemoNetwork(), {1, 2, 3});
  session.configFile = plant;
  session.driver = session.StartDriver();
  ASSERT_TRUE(session.driver && session.driver->Running());
  const std::string local = directory + "\\LOCAL";
  CreateDirectoryA(local.c_str(), nullptr);
  const std::string settingsFile = local + "\\VRTDIDW.INI";
  DeleteFileA(settingsFile.c_str());
  InstallHost(local);
  // The list an editor kept before, in the registry.
  RegisterRecentFiles({"C:\\OLD\\A.VRT", "C:\\OLD\\B.VRT", "", ""});

  ASSERT_NE(StartEditor(), nullptr);
  // Pane 1 reads as the title's middle part from the first tick on, and
  // still after later ticks.
  const auto middle = [&] {
    const std::string title = WindowText(frame);
    const std::size_t first = title.find(" - ");
    const std::size_t second = title.find(" - ", first + 3);
    return first == std::string::npos || second == std::string::npos ? std::string("(title \"" + title + "\")")
                                                                       : title.substr(first + 3, second - first - 3);
  };
  EXPECT_EQ(Shown([&] { return middle(); }, std::string("Channel 1")), "Channel 1");
  EXPECT_EQ(Shown([&] { return Pane(1); }, std::string("Channel 1")), "Channel 1");
  Sleep(4500);
  EXPECT_EQ(Pane(1), middle());
  EXPECT_EQ(Pane(1), "Channel 1");

  // The start-up file heads the list, followed by the registry's entries
  // taken over into the settings file; the registry is left as it was.
  const std::vector<std::string> expected{plant, "C:\\OLD\\A.VRT", "C:\\OLD\\B.VRT", ""};
  EXPECT_EQ(Shown([&] { return RecentFilesIn(settingsFile); }, expected), expected);
  EXPECT_EQ(RegisteredRecentFiles(), (std::vector<std::string>{"C:\\OLD\\A.VRT", "C:\\OLD\\B.VRT", "", ""}));
  Command(ID_APP_EXIT);
  ASSERT_TRUE(WaitFor([&] { return WaitForSingleObject(editors[0].hProcess, 0) == WAIT_OBJECT_0; }, 20s));

  // The next start reads the settings file (and takes nothing over again):
  // its second entry is what the second recent-file command opens.
  const std::string second = UpperCase(directory + "\\PLANT2.VRT");
  ASSERT_TRUE(CopyFileA(plant.c_str(), second.c_str(), FALSE));
  WritePrivateProfileStringA("Recent File List", nullptr, nullptr, settingsFile.c_str());
  WritePrivateProfileStringA("Recent File List", "File1", plant.c_str(), settingsFile.c_str());
  WritePrivateProfileStringA("Recent File List", "File2", second.c_str(), settingsFile.c_str());
  ASSERT_NE(StartEditor(), nullptr);
  EXPECT_EQ(Shown([&] { return Pane(1); }, std::string("Channel 1")), "Channel 1");
  Command(ID_FILE_MRU_FILE2);
  EXPECT_TRUE(WaitFor([&] { return WindowText(frame).find(second) != std::string::npos; }, 15s))
      << WindowText(frame);
  const std::vector<std::string> reordered{second, plant, "", ""};
  EXPECT_EQ(Shown([&] { return RecentFilesIn(settingsFile); }, reordered), reordered);
  EXPECT_EQ(RegisteredRecentFiles(), (std::vector<std::string>{"C:\\OLD\\A.VRT", "C:\\OLD\\B.VRT", "", ""}));
  Command(ID_APP_EXIT);
  EXPECT_TRUE(WaitFor([&] { return WaitForSingleObject(editors[1].hProcess, 0) == WAIT_OBJECT_0; }, 20s));
}

}  // namespace
}  // namespace vrt
