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
#include "window_testing.h"

namespace vrt::install {
namespace {

using namespace std::chrono_literals;
using testing::ControlText;
using testing::Screenshot;
using testing::WaitForDialog;

constexpr char kSetupCaption[] = "Harnix Tavex OPC Setup";

HANDLE Launch(const std::string& program) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!testing::StartProgram(program, "", startup, process).empty()) return nullptr;
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
  Screenshot("install-screens", welcome, "setup-1-welcome");
  PostMessageA(welcome, WM_COMMAND, IDOK, 0);

  // The directory page (no host installation: no node-name page).
  HWND sheet = WaitForDialog(kSetupCaption, 0x3024);  // the wizard's Next button
  ASSERT_NE(sheet, nullptr);
  HWND page = CurrentPage(sheet);
  ASSERT_NE(GetDlgItem(page, IDC_DIRECTORY), nullptr);
  EXPECT_EQ(ControlText(page, IDC_DIRECTORY), "C:\\Program Files\\Kalvento\\Tavex\\");
  Screenshot("install-screens", sheet, "setup-2-directory");
  SendMessageA(GetDlgItem(page, IDC_DIRECTORY), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("C:\\WizardNode"));
  PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
  HWND question = WaitForDialog(kSetupCaption, 0xFFFF, "The specified directory");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(ControlText(question, 0xFFFF), FillText(kCreateDirectoryQuestion, "C:\\WizardNode"));
  Screenshot("install-screens", question, "setup-3-create-directory");
  PostMessageA(question, WM_COMMAND, IDYES, 0);

  // The program folder page, then Finish.
  ASSERT_TRUE(testing::WaitFor([&] { return GetDlgItem(CurrentPage(sheet), IDC_FOLDER) != nullptr; }, 10s));
  page = CurrentPage(sheet);
  EXPECT_EQ(ControlText(page, IDC_FOLDER), "Harnix Tavex OPC");
  Screenshot("install-screens", sheet, "setup-4-folder");
  PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_FINISH, 0);
  HWND done = WaitForDialog(kSetupCaption, 0xFFFF, kInstallSuccessful, 60s);
  ASSERT_NE(done, nullptr);
  Screenshot("install-screens", done, "setup-5-successful");
  PostMessageA(done, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(ExitCodeOf(setup), 0u);
  EXPECT_TRUE(FileExists("C:\\WizardNode\\VRTSPOLL.EXE"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigFile"), "C:\\WizardNode\\default.VRT");

  // The uninstaller's question, its progress, the two last references.
  HANDLE uninstall = Launch("C:\\WizardNode\\uninstall.exe");
  ASSERT_NE(uninstall, nullptr);
  HWND sure = WaitForDialog("Uninstall", 0xFFFF, kUninstallQuestion);
  ASSERT_NE(sure, nullptr);
  Screenshot("install-screens", sure, "uninstall-1-question");
  PostMessageA(sure, WM_COMMAND, IDYES, 0);
  for (const auto& [path, answer] : {std::pair{automation, IDYES}, std::pair{common, IDNO}}) {
    HWND unused = WaitForDialog("Uninstall", 0xFFFF, "Setup has determined", 60s);
    ASSERT_NE(unused, nullptr);
    EXPECT_EQ(ControlText(unused, 0xFFFF), FillText(kUnusedFileQuestion, path));
    if (answer == IDYES) Screenshot("install-screens", unused, "uninstall-2-unused-library");
    PostMessageA(unused, WM_COMMAND, answer, 0);
    ASSERT_TRUE(testing::WaitFor([&] { return !IsWindow(unused); }, 10s));
  }
  HWND finished = WaitForDialog("Uninstall", 0xFFFF, kUninstallSuccessful, 60s);
  ASSERT_NE(finished, nullptr);
  Screenshot("install-screens", finished, "uninstall-3-successful");
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
