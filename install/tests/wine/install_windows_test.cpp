// setup.exe's wizard and uninstall.exe's questions on a virtual display,
// driven from this process as a person would, with a picture of every page
// in build/win64/install-screens/. Runs in the installer tests' own prefix
// after the unattended scenarios, with no node installed.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "install_resources.h"
#include "install_rules.h"
#include "install_win32.h"
#include "probe_process.h"

namespace vrt::install {
namespace {

using namespace std::chrono_literals;

constexpr char kSetupCaption[] = "Harnix Tavex OPC Setup";

// A top-level dialog of any process: by caption and a control it holds, or
// (id 0xFFFF, a message box's text) by the start of that control's text.
HWND WaitForDialog(const char* caption, int controlId, const std::string& textPrefix = "",
                   std::chrono::milliseconds timeout = 20s) {
  struct Search {
    const char* caption;
    int id;
    const std::string* prefix;
    HWND found;
  } search{caption, controlId, &textPrefix, nullptr};
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          auto* s = reinterpret_cast<Search*>(parameter);
          char name[256] = {}, title[256] = {};
          GetClassNameA(window, name, sizeof name);
          GetWindowTextA(window, title, sizeof title);
          if (std::string(name) != "#32770" || !IsWindowVisible(window)) return TRUE;
          if (s->caption != nullptr && std::string(title) != s->caption) return TRUE;
          HWND control = GetDlgItem(window, s->id);
          if (control == nullptr) return TRUE;
          char text[1024] = {};
          SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
          if (std::string(text).rfind(*s->prefix, 0) != 0) return TRUE;
          s->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(50);
  }
  return nullptr;
}

// WM_GETTEXT crosses processes; GetWindowText would not ask an edit control.
std::string ControlText(HWND dialog, int id) {
  char text[1024] = {};
  SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// PNG of 24-bit rows, with stored (uncompressed) deflate blocks.
std::uint32_t Crc(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string BigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

void WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgbRows) {
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    raw.append(reinterpret_cast<const char*>(rgbRows.data()) + static_cast<std::size_t>(y) * width * 3, width * 3);
  }
  std::string zlib = "\x78\x01";
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const std::size_t length = std::min<std::size_t>(65535, raw.size() - at);
    zlib += static_cast<char>(at + length >= raw.size() ? 1 : 0);
    zlib += static_cast<char>(length & 0xFF);
    zlib += static_cast<char>(length >> 8);
    zlib += static_cast<char>(~length & 0xFF);
    zlib += static_cast<char>((~length >> 8) & 0xFF);
    zlib.append(raw, at, length);
    if (raw.empty()) break;
  }
  zlib += BigEndian((b << 16) | a);
  auto chunk = [](const std::string& type, const std::string& data) {
    return BigEndian(static_cast<std::uint32_t>(data.size())) + type + data + BigEndian(Crc(type + data));
  };
  std::string header = BigEndian(width) + BigEndian(height) + std::string("\x08\x02\x00\x00\x00", 5);
  std::ofstream(path, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) << chunk("IHDR", header)
                                        << chunk("IDAT", zlib) << chunk("IEND", "");
}

// What the screen shows of `window`, copied from inside Wine.
void Screenshot(HWND window, const std::string& name) {
  const std::string folder = testing::ProgramDirectory() + "\\..\\install-screens";
  CreateDirectoryA(folder.c_str(), nullptr);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT area{};
  GetWindowRect(window, &area);
  const int width = area.right - area.left, height = area.bottom - area.top;
  ASSERT_GT(width, 0);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  const int stride = (width * 3 + 3) & ~3;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(bits) + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      std::uint8_t* out = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      out[0] = row[x * 3 + 2];
      out[1] = row[x * 3 + 1];
      out[2] = row[x * 3];
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  WritePng(folder + "\\" + name + ".png", width, height, rgb);
}

HANDLE Launch(const std::string& program) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + program + "\"";
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD ExitCodeOf(HANDLE process) {
  DWORD code = 999;
  if (WaitForSingleObject(process, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

HWND CurrentPage(HWND sheet) { return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

bool DisplayAvailable() { return GetEnvironmentVariableA("DISPLAY", nullptr, 0) > 0; }

TEST(InstallerWindows, TheWizardInstallsANodeAndUninstallAsksItsQuestions) {
  if (!DisplayAvailable()) GTEST_SKIP() << "needs a display (xvfb-run)";
  const std::string media = testing::ProgramDirectory() + "\\..\\dist\\";
  ASSERT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "DriverExe")) << "runs with no node installed";
  // Two shared libraries nobody else counts, with files in place (another
  // product's automation library, our own proxy library from the earlier
  // installations): the last reference's question is answered Yes for the
  // first, No for the second.
  const std::string automation = SystemDirectory() + "\\OPCDAAuto.dll";
  const std::string common = SystemDirectory() + "\\opccomn_ps.dll";
  std::ofstream(automation, std::ios::binary) << "another product's library";
  ASSERT_TRUE(FileExists(common));
  for (const std::string& path : {automation, common}) {
    HKEY shared = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_WRITE, &shared);
    RegDeleteValueA(shared, path.c_str());
    RegCloseKey(shared);
  }

  HANDLE setup = Launch(media + "setup.exe");
  ASSERT_NE(setup, nullptr);
  HWND welcome = WaitForDialog(kSetupCaption, IDC_WELCOME_TEXT);
  ASSERT_NE(welcome, nullptr);
  Screenshot(welcome, "setup-1-welcome");
  PostMessageA(welcome, WM_COMMAND, IDOK, 0);

  // The directory page (no host installation: no node-name page).
  HWND sheet = WaitForDialog(kSetupCaption, 0x3024);  // the wizard's Next button
  ASSERT_NE(sheet, nullptr);
  HWND page = CurrentPage(sheet);
  ASSERT_NE(GetDlgItem(page, IDC_DIRECTORY), nullptr);
  EXPECT_EQ(ControlText(page, IDC_DIRECTORY), "C:\\Program Files\\Kalvento\\Tavex\\");
  Screenshot(sheet, "setup-2-directory");
  SendMessageA(GetDlgItem(page, IDC_DIRECTORY), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("C:\\WizardNode"));
  PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
  HWND question = WaitForDialog(kSetupCaption, 0xFFFF, "The specified directory");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(ControlText(question, 0xFFFF), FillText(kCreateDirectoryQuestion, "C:\\WizardNode"));
  Screenshot(question, "setup-3-create-directory");
  PostMessageA(question, WM_COMMAND, IDYES, 0);

  // The program folder page, then Finish.
  ASSERT_TRUE(testing::WaitFor([&] { return GetDlgItem(CurrentPage(sheet), IDC_FOLDER) != nullptr; }, 10s));
  page = CurrentPage(sheet);
  EXPECT_EQ(ControlText(page, IDC_FOLDER), "Harnix Tavex OPC");
  Screenshot(sheet, "setup-4-folder");
  PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_FINISH, 0);
  HWND done = WaitForDialog(kSetupCaption, 0xFFFF, kInstallSuccessful, 60s);
  ASSERT_NE(done, nullptr);
  Screenshot(done, "setup-5-successful");
  PostMessageA(done, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(ExitCodeOf(setup), 0u);
  EXPECT_TRUE(FileExists("C:\\WizardNode\\VRTSPOLL.EXE"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigFile"), "C:\\WizardNode\\default.VRT");

  // The uninstaller's question, its progress, the two last references.
  HANDLE uninstall = Launch("C:\\WizardNode\\uninstall.exe");
  ASSERT_NE(uninstall, nullptr);
  HWND sure = WaitForDialog("Uninstall", 0xFFFF, kUninstallQuestion);
  ASSERT_NE(sure, nullptr);
  Screenshot(sure, "uninstall-1-question");
  PostMessageA(sure, WM_COMMAND, IDYES, 0);
  for (const auto& [path, answer] : {std::pair{automation, IDYES}, std::pair{common, IDNO}}) {
    HWND unused = WaitForDialog("Uninstall", 0xFFFF, "Setup has determined", 60s);
    ASSERT_NE(unused, nullptr);
    EXPECT_EQ(ControlText(unused, 0xFFFF), FillText(kUnusedFileQuestion, path));
    if (answer == IDYES) Screenshot(unused, "uninstall-2-unused-library");
    PostMessageA(unused, WM_COMMAND, answer, 0);
    ASSERT_TRUE(testing::WaitFor([&] { return !IsWindow(unused); }, 10s));
  }
  HWND finished = WaitForDialog("Uninstall", 0xFFFF, kUninstallSuccessful, 60s);
  ASSERT_NE(finished, nullptr);
  Screenshot(finished, "uninstall-3-successful");
  PostMessageA(finished, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(ExitCodeOf(uninstall), 0u);

  EXPECT_FALSE(FileExists(automation));
  EXPECT_TRUE(FileExists(common));
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kSharedDllsKey, automation), std::nullopt);
  EXPECT_EQ(ReadCount(HKEY_LOCAL_MACHINE, kSharedDllsKey, common), std::nullopt);
  EXPECT_FALSE(FileExists("C:\\WizardNode\\VRTSPOLL.EXE"));
  EXPECT_FALSE(FileExists("C:\\WizardNode\\DEFAULT.VRT"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "DriverExe"), std::nullopt);
}

}  // namespace
}  // namespace vrt::install
